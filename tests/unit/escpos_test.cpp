// The ESC/POS receipt family: the bytes of every command and option, stated
// from the command set's formats, receipt trimming, feeds, bands, cut and
// drawer placement; then random pages decoded back to dots.
#include <gtest/gtest.h>

#include <random>

#include "decode/decode.h"
#include "dotweave/escpos.h"
#include "dotweave/filter.h"
#include "support/harness.h"
#include "support/label_pages.h"

using namespace dwtest;

namespace {

class EscPosTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetFilterState(); }
  void TearDown() override { ResetFilterState(); }
};

const std::vector<PpdOption> kOptions = {
    {"escDensity", "Default", {"Default", "70", "100", "130"}},
    {"escSpeed", "Default", {"Default", "1", "9"}},
    {"escCutMode", "Partial", {"None", "Partial", "Full"}},
    {"escCutAt", "Job", {"Job", "Page"}},
    {"escTrim", "On", {"On", "Off"}},
    {"escMinLength", "0", {"0", "10", "30"}},
    {"escDrawerPin", "Off", {"Off", "Pin2", "Pin5"}},
    {"escDrawerWhen", "Before", {"Before", "After"}},
};

// A receipt printer's PPD; `headDots` 0 names no head.
std::string ReceiptPpd(unsigned headDots = 0) {
  std::string ppd = MakePpd(kFamilyEscPos, kOptions);
  if (headDots != 0) ppd.insert(ppd.find('\n') + 1, "*dotweaveHeadDots: \"" + std::to_string(headDots) + "\"\n");
  return ppd;
}

struct Page {
  cups_page_header2_t header;
  std::vector<Bytes> rows;
};

// A whole job: the job start, the pages, the job end.
std::string Job(ppd_file_t *ppd, const std::vector<Page> &pages) {
  std::string out = CaptureStdout([&] { Setup(ppd); });
  int n = 1;
  for (const Page &p : pages) out += PrintPage(kFamilyEscPos, ppd, p.header, p.rows, n++);
  out += CaptureStdout([&] { FinishJob(ppd); });
  return out;
}

std::string Job(const std::string &options, const std::vector<Page> &pages, unsigned headDots = 0) {
  PpdPtr ppd = OpenPpd(ReceiptPpd(headDots), options);
  return Job(ppd.get(), pages);
}

std::vector<Bytes> Rows(std::size_t count, Bytes row) { return std::vector<Bytes>(count, row); }

std::vector<Bytes> Concat(std::initializer_list<std::vector<Bytes>> parts) {
  std::vector<Bytes> out;
  for (const auto &p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Bytes of a raster image command of `rows` rows of the same 2-byte row.
std::string Band(unsigned rows, const std::string &rowHex) {
  std::string out = FromHex("1D 76 30 00 02 00") + std::string(1, static_cast<char>(rows)) + std::string(1, '\0');
  for (unsigned i = 0; i < rows; ++i) out += FromHex(rowHex);
  return out;
}

const std::string kInit = "1B 40 ";
const std::string kUnits203 = "1D 50 CB CB ";  // motion units 1/203 inch
const std::string kPartialCut = "1D 56 42 00";

TEST_F(EscPosTest, JobStartOptionsAndEnd) {
  const Page page{LabelHeader(2, 1), {{0x80, 0x01}}};
  const std::string band = Hex(Band(1, "80 01"));
  struct Case {
    const char *options;
    std::string expected;
  };
  const Case cases[] = {
      // Defaults: initialise, motion units, the image, partial cut after feeding to the cutter.
      {"", kInit + kUnits203 + band + " " + kPartialCut},
      {"escCutMode=Full", kInit + kUnits203 + band + " 1D 56 41 00"},
      {"escCutMode=None", kInit + kUnits203 + band},
      // Darkness in 5 % steps from 100 %: 70 % is -6 (FA), 130 % is +6.
      {"escDensity=70", kInit + "1D 28 4B 02 00 31 FA " + kUnits203 + band + " " + kPartialCut},
      {"escDensity=100", kInit + "1D 28 4B 02 00 31 00 " + kUnits203 + band + " " + kPartialCut},
      {"escDensity=130 escSpeed=9",
       kInit + "1D 28 4B 02 00 31 06 1D 28 4B 02 00 32 09 " + kUnits203 + band + " " + kPartialCut},
      {"escSpeed=1", kInit + "1D 28 4B 02 00 32 01 " + kUnits203 + band + " " + kPartialCut},
      // Drawer kick: pin 2 is m 0, pin 5 is m 1; 50 ms on, 500 ms off.
      {"escDrawerPin=Pin2", kInit + "1B 70 00 19 FA " + kUnits203 + band + " " + kPartialCut},
      {"escDrawerPin=Pin5 escDrawerWhen=After", kInit + kUnits203 + band + " " + kPartialCut + " 1B 70 01 19 FA"},
      {"escDrawerPin=Off escDrawerWhen=After", kInit + kUnits203 + band + " " + kPartialCut},
  };
  for (const Case &c : cases) EXPECT_EQ(Hex(Job(c.options, {page})), c.expected) << c.options;
}

TEST_F(EscPosTest, MotionUnitsFollowTheResolution) {
  const Page page{LabelHeader(2, 1, 180), {{0xFF, 0xFF}}};
  EXPECT_EQ(Hex(Job("escCutMode=None", {page})), kInit + "1D 50 B4 B4 " + Hex(Band(1, "FF FF")));
}

TEST_F(EscPosTest, WhiteRunsTravelAsFeedsOfAtMost255Rows) {
  const Bytes black{0xFF, 0x00}, white{0x00, 0x00};
  struct Case {
    std::size_t whiteRows;
    const char *feeds;
  };
  const Case cases[] = {{1, "1B 4A 01 "}, {255, "1B 4A FF "}, {256, "1B 4A FF 1B 4A 01 "},
                        {300, "1B 4A FF 1B 4A 2D "}, {510, "1B 4A FF 1B 4A FF "}};
  for (const Case &c : cases) {
    const auto rows = Concat({Rows(1, black), Rows(c.whiteRows, white), Rows(1, black)});
    const Page page{LabelHeader(2, static_cast<unsigned>(rows.size())), rows};
    EXPECT_EQ(Hex(Job("escCutMode=None", {page})),
              kInit + kUnits203 + Hex(Band(1, "FF 00")) + " " + c.feeds + Hex(Band(1, "FF 00")))
        << c.whiteRows;
  }
  // White rows at the top are fed too: the receipt keeps its top margin.
  const Page top{LabelHeader(2, 4), Concat({Rows(3, white), Rows(1, black)})};
  EXPECT_EQ(Hex(Job("escCutMode=None", {top})), kInit + kUnits203 + "1B 4A 03 " + Hex(Band(1, "FF 00")));
}

TEST_F(EscPosTest, BandsHold24Rows) {
  const Bytes black{0xAA, 0x55}, white{0, 0};
  // 50 black rows: 24, 24 and 2.
  EXPECT_EQ(Hex(Job("escCutMode=None", {{LabelHeader(2, 50), Rows(50, black)}})),
            kInit + kUnits203 + Hex(Band(24, "AA 55")) + " " + Hex(Band(24, "AA 55")) + " " + Hex(Band(2, "AA 55")));
  // Exactly 24, then a white row: one band, and the white row is trimmed.
  EXPECT_EQ(Hex(Job("escCutMode=None", {{LabelHeader(2, 25), Concat({Rows(24, black), Rows(1, white)})}})),
            kInit + kUnits203 + Hex(Band(24, "AA 55")));
  // A white row ends a band early.
  EXPECT_EQ(Hex(Job("escCutMode=None",
                    {{LabelHeader(2, 8), Concat({Rows(5, black), Rows(1, white), Rows(2, black)})}})),
            kInit + kUnits203 + Hex(Band(5, "AA 55")) + " 1B 4A 01 " + Hex(Band(2, "AA 55")));
}

TEST_F(EscPosTest, ReceiptsEndWhereTheirContentEnds) {
  const Bytes black{0x01, 0x80}, white{0, 0};
  const auto rows = Concat({Rows(2, black), Rows(100, white)});
  const Page page{LabelHeader(2, 102), rows};
  // Trimmed: the cut follows the last black row.
  EXPECT_EQ(Hex(Job("", {page})), kInit + kUnits203 + Hex(Band(2, "01 80")) + " " + kPartialCut);
  // Not trimmed: the page's white end is fed.
  EXPECT_EQ(Hex(Job("escTrim=Off", {page})), kInit + kUnits203 + Hex(Band(2, "01 80")) + " 1B 4A 64 " + kPartialCut);
  // A minimum length of 10 mm at 203 dpi is 80 rows (79.9): 78 more are fed.
  EXPECT_EQ(Hex(Job("escMinLength=10", {page})),
            kInit + kUnits203 + Hex(Band(2, "01 80")) + " 1B 4A 4E " + kPartialCut);
  // 30 mm is 240 rows; the page's own 102 rows count, fed or trimmed.
  EXPECT_EQ(Hex(Job("escMinLength=30 escTrim=Off", {page})),
            kInit + kUnits203 + Hex(Band(2, "01 80")) + " 1B 4A 64 1B 4A 8A " + kPartialCut);
}

TEST_F(EscPosTest, CutAndDrawerPlacement) {
  const Bytes black{0xF0, 0x0F};
  const Page page{LabelHeader(2, 1), {black}};
  const std::string band = Hex(Band(1, "F0 0F"));
  // Cut at the end of the job: once, after the last page.
  EXPECT_EQ(Hex(Job("", {page, page})), kInit + kUnits203 + band + " " + kUnits203 + band + " " + kPartialCut);
  // Cut after every page.
  EXPECT_EQ(Hex(Job("escCutAt=Page", {page, page})),
            kInit + kUnits203 + band + " " + kPartialCut + " " + kUnits203 + band + " " + kPartialCut);
  // The drawer after the job follows the last cut, whichever placement.
  EXPECT_EQ(Hex(Job("escCutAt=Page escDrawerPin=Pin2 escDrawerWhen=After", {page, page})),
            kInit + kUnits203 + band + " " + kPartialCut + " " + kUnits203 + band + " " + kPartialCut +
                " 1B 70 00 19 FA");
}

TEST_F(EscPosTest, EmptyPagesMoveNoPaperAndCutNothing) {
  const Page empty{LabelHeader(2, 40), Rows(40, Bytes{0, 0})};
  const Page zeroHeight{LabelHeader(2, 0), {}};
  EXPECT_EQ(Hex(Job("", {empty})), kInit + "1D 50 CB CB");
  EXPECT_EQ(Hex(Job("escCutAt=Page", {empty, zeroHeight})), kInit + "1D 50 CB CB 1D 50 CB CB");
  // With a minimum length the empty receipt is fed to it and cut.
  EXPECT_EQ(Hex(Job("escMinLength=10", {empty})), kInit + kUnits203 + "1B 4A 50 " + kPartialCut);
  // Between two printed pages, an empty one adds nothing.
  const Page page{LabelHeader(2, 1), {{0x80, 0}}};
  EXPECT_EQ(Hex(Job("escCutAt=Page", {page, empty})),
            kInit + kUnits203 + Hex(Band(1, "80 00")) + " " + kPartialCut + " 1D 50 CB CB");
}

TEST_F(EscPosTest, RowsAreCutToThePageAndTheHead) {
  // 13 dots in 2 bytes: the 3 padding bits are cleared, whatever the raster holds.
  cups_page_header2_t h = MakeHeader(13, 1, 1);
  ASSERT_EQ(h.cupsBytesPerLine, 2u);
  EXPECT_EQ(Hex(Job("escCutMode=None", {{h, {{0xFF, 0xFF}}}})), kInit + kUnits203 + Hex(Band(1, "FF F8")));
  // Only padding bits set: a white row.
  EXPECT_EQ(Hex(Job("escCutMode=None", {{h, {{0x00, 0x07}}}})), kInit + "1D 50 CB CB");
  // A 24-dot page on a 12-dot head: 2 bytes a row, the last 4 dots cleared.
  cups_page_header2_t wide = LabelHeader(3, 1);
  EXPECT_EQ(Hex(Job("escCutMode=None", {{wide, {{0xFF, 0xFF, 0xFF}}}}, 12)), kInit + kUnits203 + Hex(Band(1, "FF F0")));
  // White-is-1 raster is turned black-is-1.
  cups_page_header2_t white = LabelHeader(2, 1);
  white.cupsColorSpace = CUPS_CSPACE_W;
  EXPECT_EQ(Hex(Job("escCutMode=None", {{white, {{0x0F, 0xFF}}}})), kInit + kUnits203 + Hex(Band(1, "F0 00")));
}

// A cancelled receipt: what was read is printed and cut, the drawer is not
// opened after it; a job without pages opens no drawer either.
TEST_F(EscPosTest, CancelledAndEmptyJobs) {
  PpdPtr ppd = OpenPpd(ReceiptPpd(), "escDrawerPin=Pin2 escDrawerWhen=After");
  std::string out = CaptureStdout([&] { ::Setup(ppd.get()); });
  out += PrintPage(kFamilyEscPos, ppd.get(), LabelHeader(2, 30), Rows(30, Bytes{0xFF, 0xFF}), 1, 3);
  out += CaptureStdout([&] { FinishJob(ppd.get()); });
  EXPECT_EQ(Hex(out), kInit + kUnits203 + Hex(Band(3, "FF FF")) + " " + kPartialCut);
  ResetFilterState();
  std::string empty = CaptureStdout([&] {
    ::Setup(ppd.get());
    FinishJob(ppd.get());
  });
  EXPECT_EQ(Hex(empty), "1B 40");
}

TEST_F(EscPosTest, PagesThatAreNotOneBitAreRefused) {
  PpdPtr ppd = OpenPpd(ReceiptPpd());
  const std::string out = Job(ppd.get(), {{MakeHeader(16, 2, 8), Rows(2, Bytes(16, 0))}});
  EXPECT_EQ(Hex(out), "1B 40");  // the job start only: no image, no cut
  EXPECT_TRUE(JobFailed);
}

// Random pages, several per job, cut after each: every piece of paper the
// decoder finds holds the page's dots down to its last black row.
TEST_F(EscPosTest, RandomPagesDecodeToTheirDots) {
  std::mt19937 rng(18);
  for (unsigned width : {384u, 576u, 13u, 100u}) {
    std::vector<Page> pages;
    for (int p = 0; p < 3; ++p) {
      const unsigned height = std::uniform_int_distribution<unsigned>(1, 700)(rng);
      cups_page_header2_t h = MakeHeader(width, height, 1);
      std::vector<Bytes> rows = AssortedRows(rng, height, h.cupsBytesPerLine);
      // Long white runs too, and sometimes a white end.
      for (unsigned y = 0; y < height; ++y)
        if ((y / 97) % 3 == 1 || (p == 1 && y > height / 2)) std::fill(rows[y].begin(), rows[y].end(), 0);
      pages.push_back({h, rows});
    }
    const std::string out = Job("escCutAt=Page", pages);
    const dwdecode::DecodeResult decoded = dwdecode::DecodeEscPos(out);
    EXPECT_TRUE(decoded.problems.empty()) << width << ": " << decoded.problems.front().what;
    // Pages without a black dot give no piece of paper.
    std::size_t piece = 0;
    for (const Page &page : pages) {
      std::vector<std::uint8_t> dots = DotsOf(page.rows, width);
      std::size_t lastBlack = 0;
      for (std::size_t y = 0; y < page.rows.size(); ++y)
        for (unsigned x = 0; x < width; ++x)
          if (dots[y * width + x]) lastBlack = y + 1;
      if (lastBlack == 0) continue;
      ASSERT_LT(piece, decoded.pages.size());
      const dwdecode::DecodedPage &d = decoded.pages[piece++];
      EXPECT_EQ(d.height, lastBlack) << width;
      EXPECT_EQ(d.width, (width + 7) / 8 * 8);
      for (unsigned y = 0; y < d.height; ++y)
        for (unsigned x = 0; x < d.width; ++x)
          ASSERT_EQ(d.Dot(x, y), x < width && dots[std::size_t{y} * width + x] != 0) << width << " " << x << "," << y;
      EXPECT_EQ(d.settings.back(), (dwdecode::Setting{"cut", "partial-after-feed+0"}));
    }
    EXPECT_EQ(piece, decoded.pages.size());
  }
}

TEST(EscPosDecoder, HandWrittenStreams) {
  // Initialise, a drawer kick, 2 rows of 1 byte, a feed of 3, a full cut,
  // then 1 row and the end of the stream (no cut).
  const std::string stream =
      FromHex("1B 40 1B 70 01 19 FA 1D 76 30 00 01 00 02 00 81 42 1B 4A 03 1D 56 30 1D 76 30 00 01 00 01 00 FF");
  const dwdecode::DecodeResult r = dwdecode::DecodeEscPos(stream);
  EXPECT_TRUE(r.problems.empty());
  ASSERT_EQ(r.pages.size(), 2u);
  EXPECT_EQ(r.jobSettings, (std::vector<dwdecode::Setting>{{"initialise", ""}, {"drawer-kick", "pin5"}}));
  EXPECT_EQ(r.pages[0].width, 8u);
  EXPECT_EQ(r.pages[0].height, 5u);
  EXPECT_TRUE(r.pages[0].Dot(0, 0) && r.pages[0].Dot(7, 0) && !r.pages[0].Dot(1, 0));
  EXPECT_TRUE(r.pages[0].Dot(1, 1) && r.pages[0].Dot(6, 1) && !r.pages[0].Dot(0, 1));
  for (unsigned x = 0; x < 8; ++x) EXPECT_FALSE(r.pages[0].Dot(x, 2) || r.pages[0].Dot(x, 4));
  EXPECT_EQ(r.pages[0].settings, (std::vector<dwdecode::Setting>{{"feed", "3"}, {"cut", "full"}}));
  EXPECT_EQ(r.pages[1].height, 1u);
  EXPECT_EQ(r.pages[1].settings.back(), (dwdecode::Setting{"cut", "none"}));
  // Faults are reported: a cut with nothing to cut, an image cut short, an unknown command.
  EXPECT_FALSE(dwdecode::DecodeEscPos(FromHex("1B 40 1D 56 31")).problems.empty());
  EXPECT_FALSE(dwdecode::DecodeEscPos(FromHex("1D 76 30 00 02 00 02 00 FF")).problems.empty());
  EXPECT_FALSE(dwdecode::DecodeEscPos(FromHex("1B 40 1B 21 00")).problems.empty());
  EXPECT_EQ(dwdecode::DetectLanguage(FromHex("1B 40 1D 50 CB CB")), dwdecode::Language::EscPos);
  EXPECT_EQ(dwdecode::DetectLanguage(FromHex("1B 40 1B 4C 04 B0")), dwdecode::Language::Dymo);
}

}  // namespace
