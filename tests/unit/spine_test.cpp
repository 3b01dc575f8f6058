// The front end's job start bytes, the OEM page start, and the command buffer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "dotweave/filter.h"
#include "oem/oem.h"
#include "support/harness.h"

using namespace dwtest;

namespace {

class SpineTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetFilterState(); }
  void TearDown() override { ResetFilterState(); }
};

TEST_F(SpineTest, SetupWritesJobStartBytesPerFamily) {
  ModelNumber = 0x00;
  EXPECT_EQ(CaptureStdout([] { ::Setup(nullptr); }), std::string(100, '\x1b') + "\x1b\x40");
  ModelNumber = 0x20;
  EXPECT_EQ(Hex(CaptureStdout([] { ::Setup(nullptr); })), "1B 45");
  for (int family : {0x10, 0x11, 0x12, 0x13, 5}) {
    ModelNumber = family;
    EXPECT_EQ(CaptureStdout([] { ::Setup(nullptr); }), "") << family;
  }
}

TEST_F(SpineTest, SetupTakesTheFamilyFromThePpd) {
  PpdPtr ppd = OpenPpd(MakePpd(0x20));
  ModelNumber = 0;
  EXPECT_EQ(Hex(CaptureStdout([&] { ::Setup(ppd.get()); })), "1B 45");
  EXPECT_EQ(ModelNumber, 0x20);
}

TEST_F(SpineTest, OemPageStartResetsPageStateAndCopiesGeometry) {
  // Leftovers of an earlier page: pointers that must be forgotten, not freed.
  unsigned char stale[4];
  MyPageInfo.ImageData = stale;
  MyPageInfo.CommandData = stale;
  MyPageInfo.ReducedData = stale;
  MyPageInfo.ImageSize = 11;
  MyPageInfo.CommandSize = 12;
  MyPageInfo.ReducedSize = 13;
  MyPageInfo.PayloadLength = 99;
  MyPageInfo.LengthFieldPos = 1234;
  PrintPa.Identified = 1;
  PrintPa.IsNeedle = 1;
  PrintPa.HeadWidth = 1440;
  PrintPa.Speed = 1;
  PrintPa.Density = 3;

  cups_page_header2_t h = MakeHeader(640, 300, 24, 180);
  PpdPtr ppd = OpenPpd(MakePpd(0x13));
  OEMStartPage(ppd.get(), &h);

  EXPECT_EQ(MyPageInfo.ImageData, nullptr);
  EXPECT_EQ(MyPageInfo.CommandData, nullptr);
  EXPECT_EQ(MyPageInfo.ReducedData, nullptr);
  EXPECT_EQ(MyPageInfo.ImageSize, 0u);
  EXPECT_EQ(MyPageInfo.CommandSize, 0u);
  EXPECT_EQ(MyPageInfo.ReducedSize, 0u);
  EXPECT_EQ(MyPageInfo.PayloadLength, 0u);
  EXPECT_EQ(MyPageInfo.LengthFieldPos, 1234u) << "kept until the next thermal page header";
  EXPECT_EQ(PrintPa.Identified, 0);
  // Not identified: the earlier model and settings stay.
  EXPECT_EQ(PrintPa.IsNeedle, 1);
  EXPECT_EQ(PrintPa.HeadWidth, 1440);
  EXPECT_EQ(PrintPa.Speed, 1);
  EXPECT_EQ(PrintPa.Density, 3);

  EXPECT_EQ(MyPageInfo.Resolution[0], 180u);
  EXPECT_EQ(MyPageInfo.Resolution[1], 180u);
  EXPECT_EQ(MyPageInfo.BytesPerLine, 1920u);
  EXPECT_EQ(MyPageInfo.Width, 640u);
  EXPECT_EQ(MyPageInfo.Height, 300u);
  EXPECT_EQ(MyPageInfo.PageRows, 300u);
}

TEST_F(SpineTest, OemPageStartWithZeroHeight) {
  cups_page_header2_t h = MakeHeader(8, 0);
  PpdPtr ppd = OpenPpd(MakePpd(0x13));
  OEMStartPage(ppd.get(), &h);
  EXPECT_EQ(MyPageInfo.Height, 0u);
  EXPECT_EQ(MyPageInfo.PageRows, 0u);
}

TEST_F(SpineTest, CommandBufferAppendsExactly) {
  OEMWritePrintData("\x01\x02\x03", 3);
  ASSERT_NE(MyPageInfo.CommandData, nullptr);
  EXPECT_EQ(MyPageInfo.CommandSize, 3u);
  OEMWritePrintData("\x04\x05", 2);
  EXPECT_EQ(MyPageInfo.CommandSize, 5u);
  EXPECT_EQ(Hex(std::string(reinterpret_cast<char *>(MyPageInfo.CommandData), 5)), "01 02 03 04 05");
  // The append is never gated on identification.
  EXPECT_EQ(PrintPa.Identified, 0);
  OEMRelease();
}

TEST_F(SpineTest, UnidentifiedOemPageWritesNothingAndReleasesItsBuffers) {
  for (std::uint8_t needle : {0, 1}) {
    ResetFilterState();
    PrintPa.IsNeedle = needle;
    PrintPa.HeadWidth = needle ? 1440 : 832;
    cups_page_header2_t h = MakeHeader(4, 2);
    PpdPtr ppd = OpenPpd(MakePpd(0x13));
    OEMStartPage(ppd.get(), &h);
    const unsigned char line[12] = {};
    OEMWriteOriginalPageData(line, sizeof line);
    OEMWriteOriginalPageData(line, sizeof line);
    EXPECT_EQ(MyPageInfo.ImageSize, 24u);
    EXPECT_EQ(CaptureStdout([] { OEMEndPage(); }), "");
    // The unguarded zero block was still assembled (and then freed).
    EXPECT_GE(MyPageInfo.CommandSize, needle ? 64u : 1000u);
  }
}

}  // namespace
