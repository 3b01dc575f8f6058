// Thermal settings commands, the framed page block and its length field, and
// the whole thermal page sequence read back through the thermal decoder.
#include <gtest/gtest.h>

#include <functional>

#include "decode/decode.h"
#include "oem/oem.h"
#include "support/harness.h"
#include "support/oem_page.h"

using namespace dwtest;

namespace {

class ThermalCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFilterState();
    PrintPa.Identified = 1;
    PrintPa.IsNeedle = 0;
    PrintPa.HeadWidth = 384;
  }
  void TearDown() override {
    ReleasePage();
    ResetFilterState();
  }
};

TEST_F(ThermalCommandsTest, SettingsCommandBytes) {
  struct Case {
    const char *name;
    std::function<void()> set;
    void (*send)();
    const char *bytes;
  };
  const Case cases[] = {
      {"speed 1200", [] { PrintPa.Speed = 1200; }, OEMSendSpeedCommand, "40 53 4D 53 04 B0 0D 0A"},
      {"speed 825", [] { PrintPa.Speed = 825; }, OEMSendSpeedCommand, "40 53 4D 53 03 39 0D 0A"},
      {"speed 4500", [] { PrintPa.Speed = 4500; }, OEMSendSpeedCommand, "40 53 4D 53 11 94 0D 0A"},
      {"density 75", [] { PrintPa.Density = 75; }, OEMSendDensityCommand, "40 53 7E 7E 4B 0D 0A"},
      {"density 100", [] { PrintPa.Density = 100; }, OEMSendDensityCommand, "40 53 7E 7E 64 0D 0A"},
      {"gray level", [] {}, OEMSendGrayLevelCommand, "40 53 47 53 02 0D 0A"},
      {"gray values", [] {}, OEMSendGrayLevelValueCommand,
       "40 53 54 50 5A 0A 14 14 14 14 14 14 5A 64 50 50 50 50 50 50 0D 0A"},
      {"paper type 1", [] { PrintPa.PaperType = 1; }, OEMSendPaperTypeCommand, "40 53 50 50 01 0D 0A"},
      {"paper type 2", [] { PrintPa.PaperType = 2; }, OEMSendPaperTypeCommand, "40 53 50 50 02 0D 0A"},
  };
  for (const Case &c : cases) {
    c.set();
    EXPECT_EQ(Hex(Appended(c.send)), c.bytes) << c.name;
  }
}

TEST_F(ThermalCommandsTest, WritersAreGatedOnIdentificationAndPrinterKind) {
  void (*const thermalOnly[])() = {OEMSendGrayLevelCommand, OEMSendGrayLevelValueCommand, OEMSendPaperTypeCommand,
                                   OEMPrintDataPagerHeader_ThermalPrinter, OEMPrintDataPagerTail_ThermalPrinter,
                                   [] { OEMPrintDataLine_ThermalPrinter(reinterpret_cast<const unsigned char *>("\x01"), 1); }};
  for (std::uint8_t needle : {0, 1}) {
    PrintPa.Identified = 0;
    PrintPa.IsNeedle = needle;
    for (auto send : thermalOnly) EXPECT_EQ(Appended(send), "");
    EXPECT_EQ(Appended(OEMSendSpeedCommand), "");
    EXPECT_EQ(Appended(OEMSendDensityCommand), "");
  }
  // On a needle printer the thermal-only writers stay silent and change no field.
  PrintPa.Identified = 1;
  PrintPa.IsNeedle = 1;
  MyPageInfo.LengthFieldPos = 77;
  for (auto send : thermalOnly) EXPECT_EQ(Appended(send), "");
  EXPECT_EQ(MyPageInfo.PayloadLength, 0u);
  EXPECT_EQ(MyPageInfo.LengthFieldPos, 77u);
  EXPECT_EQ(MyPageInfo.CommandData, nullptr);
}

TEST_F(ThermalCommandsTest, HeaderCarriesRowCountLsbFirst) {
  MyPageInfo.PageRows = 300;
  EXPECT_EQ(Hex(Appended(OEMPrintDataPagerHeader_ThermalPrinter)), "40 3C 00 00 00 00 2C 01");
  EXPECT_EQ(MyPageInfo.LengthFieldPos, 2u);
  EXPECT_EQ(MyPageInfo.PayloadLength, 8u);
  // Only the low 16 bits of the row count travel.
  MyPageInfo.PageRows = 0x12345;
  EXPECT_EQ(Hex(Appended(OEMPrintDataPagerHeader_ThermalPrinter)), "40 3C 00 00 00 00 45 23");
  EXPECT_EQ(MyPageInfo.LengthFieldPos, 10u);
}

TEST_F(ThermalCommandsTest, LengthFieldCountsTheWholeBlockMsbFirst) {
  OEMWritePrintData("\0\0\0", 3);  // something before the block
  OEMPrintDataPagerHeader_ThermalPrinter();
  const unsigned char data[4] = {0x01, 0x80, 0xFB, 0x00};
  OEMPrintDataLine_ThermalPrinter(data, 4);
  OEMPrintDataLine_ThermalPrinter(data, 4);
  OEMPrintDataPagerTail_ThermalPrinter();
  EXPECT_EQ(Hex(Commands()),
            "00 00 00 40 3C 00 00 00 1C 00 00 23 3C 01 80 FB 00 23 3E 23 3C 01 80 FB 00 23 3E 40 3E 0D 0A");
  EXPECT_EQ(MyPageInfo.PayloadLength, 28u);
}

TEST_F(ThermalCommandsTest, EmptyBlockIsTwelveBytes) {
  OEMPrintDataPagerHeader_ThermalPrinter();
  OEMPrintDataPagerTail_ThermalPrinter();
  EXPECT_EQ(Hex(Commands()), "40 3C 00 00 00 0C 00 00 40 3E 0D 0A");
}

TEST_F(ThermalCommandsTest, LengthFieldTakesAllFourBytes) {
  OEMPrintDataPagerHeader_ThermalPrinter();
  MyPageInfo.PayloadLength = 0x01020304 - 4;  // as if the lines had counted that much
  OEMPrintDataPagerTail_ThermalPrinter();
  EXPECT_EQ(Hex(Commands().substr(2, 4)), "01 02 03 04");
}

TEST_F(ThermalCommandsTest, StaleLengthPositionIsNeverPatchedOutsideTheBuffer) {
  // A tail without this page's header: the position left by an earlier page
  // lies beyond this page's buffer and must not be written.
  MyPageInfo.LengthFieldPos = 1053;
  OEMWritePrintData(std::string(20, 'x').data(), 20);
  OEMPrintDataPagerTail_ThermalPrinter();
  EXPECT_EQ(Commands(), std::string(20, 'x') + "\x40\x3E\x0D\x0A");
}

TEST_F(ThermalCommandsTest, LineRecordsAreFramedAndCutAtThousandBytes) {
  EXPECT_EQ(Hex(Appended([] { OEMPrintDataLine_ThermalPrinter(nullptr, 0); })), "23 3C 23 3E");
  EXPECT_EQ(MyPageInfo.PayloadLength, 4u);
  std::string longLine(1200, '\x01');
  longLine[999] = '\x00';
  const std::string record = Appended([&] {
    OEMPrintDataLine_ThermalPrinter(reinterpret_cast<const unsigned char *>(longLine.data()), 1200);
  });
  EXPECT_EQ(record, "\x23\x3C" + longLine.substr(0, 1000) + "\x23\x3E");
  EXPECT_EQ(MyPageInfo.PayloadLength, 4u + 1004u);
}

TEST_F(ThermalCommandsTest, IdentifiedPageSequence) {
  PrintPa.HeadWidth = 384;
  PrintPa.Speed = 1200;
  PrintPa.Density = 75;
  PrintPa.PaperType = 1;
  BwImage image(384, 3);
  image.Set(0, 1);
  LoadImage(image);
  OrganizePrintInstructionOnePage();
  const std::string out = Commands();

  ASSERT_GT(out.size(), 1051u + 8);
  EXPECT_EQ(out.substr(0, 1000), std::string(1000, '\0'));
  EXPECT_EQ(Hex(out.substr(1000, 51)),
            "40 53 4D 53 04 B0 0D 0A 40 53 7E 7E 4B 0D 0A 40 53 47 53 02 0D 0A "
            "40 53 54 50 5A 0A 14 14 14 14 14 14 5A 64 50 50 50 50 50 50 0D 0A 40 53 50 50 01 0D 0A");
  EXPECT_EQ(MyPageInfo.LengthFieldPos, 1053u);
  // Three lines: white, one black dot at the left, white.
  EXPECT_EQ(Hex(out.substr(1051)),
            "40 3C 00 00 00 25 03 00 23 3C 80 FB 80 83 23 3E 23 3C 01 80 FB 80 82 23 3E "
            "23 3C 80 FB 80 83 23 3E 40 3E 0D 0A");

  const dwdecode::DecodeResult decoded = dwdecode::DecodeOemThermal(out);
  EXPECT_TRUE(decoded.problems.empty());
  ASSERT_EQ(decoded.pages.size(), 1u);
  const dwdecode::DecodedPage &page = decoded.pages[0];
  EXPECT_EQ(page.settings, (std::vector<dwdecode::Setting>{{"zero-block", "1000"},
                                                           {"speed", "1200"},
                                                           {"density", "75"},
                                                           {"gray-level", "2"},
                                                           {"gray-values", "90,10,20,20,20,20,20,20,90,100,80,80,80,80,80,80"},
                                                           {"paper-type", "1"},
                                                           {"page-rows", "3"},
                                                           {"block-length", "37"}}));
  EXPECT_EQ(page.width, 384u);
  EXPECT_EQ(page.height, 3u);
  EXPECT_TRUE(page.Dot(0, 1));
  EXPECT_EQ(std::count(page.dots.begin(), page.dots.end(), 1), 1);
}

TEST_F(ThermalCommandsTest, HeadWithoutEncoderGivesSettingsAndAnEmptyBlock) {
  PrintPa.HeadWidth = 500;
  MyPageInfo.PageRows = 0;
  OrganizePrintInstructionOnePage();
  const std::string out = Commands();
  ASSERT_EQ(out.size(), 1000u + 51u + 12u);
  EXPECT_EQ(Hex(out.substr(1051)), "40 3C 00 00 00 0C 00 00 40 3E 0D 0A");
}

TEST_F(ThermalCommandsTest, UnidentifiedPageHasOnlyTheZeroBlock) {
  PrintPa.Identified = 0;
  LoadImage(BwImage(384, 4));
  OrganizePrintInstructionOnePage();
  EXPECT_EQ(Commands(), std::string(1000, '\0'));
}

}  // namespace
