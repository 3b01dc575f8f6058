// Page start commands of the five label families.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "dotweave/filter.h"
#include "dotweave/label.h"
#include "support/harness.h"
#include "support/label_pages.h"

using namespace dwtest;

namespace {

class LabelStartTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetFilterState(); }
  void TearDown() override {
    std::free(CompBuffer);
    std::free(LastBuffer);
    ResetFilterState();
  }
};

const PpdOption kRate{"zePrintRate", "Default", {"Default", "1", "2", "3", "4", "6"}};
const PpdOption kInPrintMode{"inPrintMode", "Standard", {"Standard", "Tear", "Peel"}};

TEST_F(LabelStartTest, DymoLabelLengthWidthDensityAndMediaPosition) {
  struct Case {
    unsigned length, ydpi, bytesPerLine, compression, mediaPosition;
    const char *expected;
  };
  const Case cases[] = {
      // 4 inch at 300 dpi: 1200 dots = 04 B0; 84 bytes a line; density 0 is "c"; position 0 is "1".
      {288, 300, 84, 0, 0, "1B 4C 04 B0 1B 44 54 1B 63 1B 71 31"},
      // 2 inch at 203 dpi: 144 * 203 / 72 = 406 = 01 96; 300 bytes a line go out as 300 mod 256.
      {144, 203, 300, 2, 4, "1B 4C 01 96 1B 44 2C 1B 65 1B 71 35"},
      // The product 16777216 * 300 wraps to 738197504: L = 10252743 (low byte C7), high byte
      // 738197504 / 18432 = 40049 (mod 256: 71). Density 200 gives 0x63 + 200 mod 256 = 2B.
      {16777216, 300, 1, 200, 9, "1B 4C 71 C7 1B 44 01 1B 2B 1B 71 31 30"},
  };
  for (const Case &c : cases) {
    cups_page_header2_t h = LabelHeader(1, 1);
    h.PageSize[1] = c.length;
    h.HWResolution[1] = c.ydpi;
    h.cupsBytesPerLine = c.bytesPerLine;
    h.cupsCompression = c.compression;
    h.MediaPosition = c.mediaPosition;
    EXPECT_EQ(Hex(CaptureStdout([&] { DymoStartPage(nullptr, &h); })), c.expected) << c.length;
  }
}

TEST_F(LabelStartTest, EplLineRateAndDarkness) {
  struct Case {
    const char *options;
    unsigned compression;
    const char *expected;
  };
  const Case cases[] = {
      {"zePrintRate=3", 0, "\033S4\033M01\033B"},
      {"zePrintRate=Default", 0, "\033M01\033B"},
      {"zePrintRate=1", 0, "\033S0\033M01\033B"},
      {"zePrintRate=6", 50, "\033S10\033D3\033M01\033B"},  // line mode doubles 3 and more too
      {"", 100, "\033D7\033M01\033B"},
      {"", 1, "\033D0\033M01\033B"},
      {"", 101, "\033M01\033B"},
  };
  for (const Case &c : cases) {
    PpdPtr ppd = OpenPpd(MakePpd(0x10, {kRate}), c.options);
    cups_page_header2_t h = LabelHeader(8, 1);
    h.cupsCompression = c.compression;
    EXPECT_EQ(CaptureStdout([&] { EplLineStartPage(ppd.get(), &h); }), c.expected) << c.options;
  }
}

TEST_F(LabelStartTest, EplPageSetUpLines) {
  struct Case {
    const char *options;
    const char *mediaType;
    unsigned compression, width;
    const char *expected;
  };
  const Case cases[] = {
      {"zePrintRate=2", "", 0, 203, "\nN\nS2\nq208\n"},
      {"zePrintRate=4", "Direct", 0, 208, "\nN\nOD\nS4\nq208\n"},
      {"zePrintRate=3", "Thermal", 50, 8, "\nN\nS3\nD7\nq8\n"},
      {"zePrintRate=1", "Directly", 100, 1, "\nN\nS0\nD15\nq8\n"},
      {"", "", 0, 0, "\nN\nq0\n"},
  };
  for (const Case &c : cases) {
    PpdPtr ppd = OpenPpd(MakePpd(0x11, {kRate}), c.options);
    cups_page_header2_t h = LabelHeader(1, 1);
    std::strcpy(h.MediaType, c.mediaType);
    h.cupsCompression = c.compression;
    h.cupsWidth = c.width;
    EXPECT_EQ(CaptureStdout([&] { EplPageStartPage(ppd.get(), &h); }), c.expected) << c.options;
  }
}

TEST_F(LabelStartTest, EplPageMediaTypeWithoutTerminatorIsReadSafely) {
  cups_page_header2_t h = LabelHeader(1, 1);
  std::memset(h.MediaType, 'D', sizeof h.MediaType);  // no NUL anywhere
  EXPECT_EQ(CaptureStdout([&] { EplPageStartPage(nullptr, &h); }), "\nN\nq8\n");
}

TEST_F(LabelStartTest, ZplDarknessAndDownloadHeader) {
  struct Case {
    unsigned compression, bytesPerLine, height;
    const char *expected;
  };
  const Case cases[] = {
      {0, 3, 2, "~DGR:CUPS.GRF,6,3,\n"},
      {50, 104, 1218, "~SD15\n~DGR:CUPS.GRF,126672,104,\n"},
      {100, 1, 1, "~SD30\n~DGR:CUPS.GRF,1,1,\n"},
      {1, 1, 1, "~SD00\n~DGR:CUPS.GRF,1,1,\n"},
      {101, 1, 0, "~DGR:CUPS.GRF,0,1,\n"},
      // The graphic total does not wrap at 32 bits.
      {0, 1u << 20, 1u << 12, "~DGR:CUPS.GRF,4294967296,1048576,\n"},
  };
  for (const Case &c : cases) {
    cups_page_header2_t h = LabelHeader(1, c.height);
    h.cupsBytesPerLine = c.bytesPerLine;
    h.cupsCompression = c.compression;
    EXPECT_EQ(CaptureStdout([&] { ZplStartPage(nullptr, &h); }), c.expected) << c.compression;
    EXPECT_NE(CompBuffer, nullptr);
    EXPECT_NE(LastBuffer, nullptr);
    EXPECT_EQ(LastSet, 0);
    std::free(CompBuffer);
    std::free(LastBuffer);
    CompBuffer = LastBuffer = nullptr;
    LastSet = 1;
  }
}

// The fixed PCL commands around the page size.
std::string PclPage(const std::string &size, unsigned lines, const std::string &copies, const std::string &firstPage,
                    const std::string &raster) {
  return "\033&l6D\033&k12H\033&l0O" + size + "\033&l" + std::to_string(lines) + "P\033&l0E" + copies + "\033&l0L" +
         firstPage + raster + "\033&a0H\033&a0V\033*r1A\033*b3M";
}

TEST_F(LabelStartTest, PclPageSizes) {
  struct Case {
    unsigned length;
    const char *size;
    unsigned lines;
  };
  const Case cases[] = {
      {540, "\033&l80A", 45}, {624, "\033&l90A", 52}, {649, "\033&l91A", 54}, {684, "\033&l81A", 57},
      {756, "\033&l1A", 63},  {792, "\033&l2A", 66},  {842, "\033&l26A", 70}, {1008, "\033&l3A", 84},
      {216, "\033!f900Z", 18}, {217, "\033!f904Z", 18}, {0, "\033!f0Z", 0},
  };
  for (const Case &c : cases) {
    cups_page_header2_t h = LabelHeader(2, 5, 300);
    h.PageSize[1] = c.length;
    h.NumCopies = 0;
    Page = 2;
    EXPECT_EQ(CaptureStdout([&] { PclStartPage(nullptr, &h); }),
              PclPage(c.size, c.lines, "", "", "\033*t300R\033*r16S\033*r5T"))
        << c.length;
    std::free(CompBuffer);
    std::free(LastBuffer);
    CompBuffer = LastBuffer = nullptr;
  }
}

TEST_F(LabelStartTest, PclFirstPageSettingsOnlyOnPageOne) {
  struct Case {
    const char *options;
    unsigned rowFeed, compression, rowCount, rowStep;
    const char *settings;
  };
  const Case cases[] = {
      {"inPrintMode=Standard", 5, 50, 0, 0, "\033!p5S\033&d0A\033!p0M"},
      {"inPrintMode=Tear", 0, 0, 7, 0, "\033&d-15A\033!p1M\033!n7T"},
      {"inPrintMode=Tear", 0, 100, 0, 9, "\033&d15A\033!p1M"},
      {"inPrintMode=Peel", 0, static_cast<unsigned>(-1), 7, 9, "\033!p2M\033!n9C"},
      {"inPrintMode=Peel", 0, static_cast<unsigned>(-1), 0, 0, "\033!p2M"},
      // Below -1 there is no density the job can have meant: nothing is sent.
      {"inPrintMode=Standard", 0, static_cast<unsigned>(-2), 0, 0, "\033!p0M"},
      {"inPrintMode=Standard", 0, 0x80000000u, 0, 0, "\033!p0M"},
  };
  for (const Case &c : cases) {
    PpdPtr ppd = OpenPpd(MakePpd(0x20, {kInPrintMode}), c.options);
    cups_page_header2_t h = LabelHeader(2, 5, 300);
    h.PageSize[1] = 792;
    h.NumCopies = 3;
    h.cupsRowFeed = c.rowFeed;
    h.cupsCompression = c.compression;
    h.cupsRowCount = c.rowCount;
    h.cupsRowStep = c.rowStep;
    for (int page : {1, 2}) {
      Page = page;
      EXPECT_EQ(CaptureStdout([&] { PclStartPage(ppd.get(), &h); }),
                PclPage("\033&l2A", 66, "\033&l3X", page == 1 ? c.settings : "", "\033*t300R\033*r16S\033*r5T"))
          << c.options << " page " << page;
      std::free(CompBuffer);
      std::free(LastBuffer);
      CompBuffer = LastBuffer = nullptr;
    }
  }
}

TEST_F(LabelStartTest, PclWithoutMarkedPrintModeWritesNoMode) {
  PpdPtr ppd = OpenPpd(MakePpd(0x20));
  cups_page_header2_t h = LabelHeader(2, 5, 300);
  h.PageSize[1] = 792;
  h.NumCopies = 1;
  h.cupsCompression = static_cast<unsigned>(-1);
  Page = 1;
  EXPECT_EQ(CaptureStdout([&] { PclStartPage(ppd.get(), &h); }),
            PclPage("\033&l2A", 66, "\033&l1X", "", "\033*t300R\033*r16S\033*r5T"));
}

}  // namespace
