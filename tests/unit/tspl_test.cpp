// The TSPL label family: the label's commands and every option, the BITMAP
// bit polarity, the splitting of the image, cancelled labels; random labels
// decoded back to dots.
#include <gtest/gtest.h>

#include <random>

#include "decode/decode.h"
#include "dotweave/filter.h"
#include "dotweave/tspl.h"
#include "support/harness.h"
#include "support/label_pages.h"

using namespace dwtest;

namespace {

class TsplTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetFilterState(); }
  void TearDown() override { ResetFilterState(); }
};

const std::vector<PpdOption> kOptions = {
    {"tsSpeed", "Default", {"Default", "2", "4", "6"}},
    {"tsMediaTracking", "Web", {"Default", "Web", "Mark", "Continuous"}},
    {"tsGapSize", "3", {"2", "3", "5"}},
    {"tsDirection", "0", {"0", "1"}},
    {"tsLabelMode", "Saved", {"Saved", "Tear", "Peel"}},
};

std::string Label(const std::string &options, const cups_page_header2_t &h, const std::vector<Bytes> &rows,
                  unsigned headDots = 0, std::size_t cancelAfter = static_cast<std::size_t>(-1)) {
  std::string text = MakePpd(kFamilyTspl, kOptions);
  if (headDots != 0) text.insert(text.find('\n') + 1, "*dotweaveHeadDots: \"" + std::to_string(headDots) + "\"\n");
  PpdPtr ppd = OpenPpd(text, options);
  return PrintPage(kFamilyTspl, ppd.get(), h, rows, 1, cancelAfter);
}

// A 4 x 6 inch label at 203 dpi, 2 bytes a row (the head is wider than the
// rows here: the commands are what matters).
cups_page_header2_t Header4x6(unsigned bytes = 2, unsigned rows = 1) {
  cups_page_header2_t h = LabelHeader(bytes, rows);
  h.PageSize[0] = 288;
  h.PageSize[1] = 432;
  return h;
}

const std::string kHead = "SIZE 101.6 mm,152.4 mm\r\nGAP 3 mm,0 mm\r\nDIRECTION 0\r\nREFERENCE 0,0\r\n";

TEST_F(TsplTest, LabelCommandsAndOptions) {
  // One row: the dots 0 and 15 black; 0 bits print, so 80 01 goes out as 7F FE.
  const std::vector<Bytes> row{{0x80, 0x01}};
  const std::string image = "CLS\r\nBITMAP 0,0,2,1,0," + FromHex("7F FE") + "\r\n";
  struct Case {
    const char *options;
    unsigned darkness, copies;
    std::string expected;
  };
  const Case cases[] = {
      {"", 0, 1, kHead + image + "PRINT 1,1\r\n"},
      // Darkness 1..100 is DENSITY 0..15; 0 keeps the printer's.
      {"", 50, 1, kHead + "DENSITY 7\r\n" + image + "PRINT 1,1\r\n"},
      {"", 100, 1, kHead + "DENSITY 15\r\n" + image + "PRINT 1,1\r\n"},
      {"", 1, 1, kHead + "DENSITY 0\r\n" + image + "PRINT 1,1\r\n"},
      {"tsSpeed=4", 0, 1, kHead + "SPEED 4\r\n" + image + "PRINT 1,1\r\n"},
      {"tsMediaTracking=Mark tsGapSize=5", 0, 1,
       "SIZE 101.6 mm,152.4 mm\r\nBLINE 5 mm,0 mm\r\nDIRECTION 0\r\nREFERENCE 0,0\r\n" + image + "PRINT 1,1\r\n"},
      {"tsMediaTracking=Continuous", 0, 1,
       "SIZE 101.6 mm,152.4 mm\r\nGAP 0,0\r\nDIRECTION 0\r\nREFERENCE 0,0\r\n" + image + "PRINT 1,1\r\n"},
      {"tsMediaTracking=Default tsDirection=1", 0, 1,
       "SIZE 101.6 mm,152.4 mm\r\nDIRECTION 1\r\nREFERENCE 0,0\r\n" + image + "PRINT 1,1\r\n"},
      {"tsGapSize=2 tsLabelMode=Tear", 0, 1,
       "SIZE 101.6 mm,152.4 mm\r\nGAP 2 mm,0 mm\r\nDIRECTION 0\r\nREFERENCE 0,0\r\nSET PEEL OFF\r\nSET TEAR ON\r\n" +
           image + "PRINT 1,1\r\n"},
      {"tsLabelMode=Peel", 0, 1, kHead + "SET PEEL ON\r\n" + image + "PRINT 1,1\r\n"},
      {"", 0, 3, kHead + image + "PRINT 1,3\r\n"},
  };
  for (const Case &c : cases) {
    cups_page_header2_t h = Header4x6();
    h.cupsCompression = c.darkness;
    h.NumCopies = c.copies;
    EXPECT_EQ(Label(c.options, h, row), c.expected) << c.options << " " << c.darkness;
  }
  // 100 x 150 mm: 283 x 425 points.
  cups_page_header2_t mm = Header4x6();
  mm.PageSize[0] = 283;
  mm.PageSize[1] = 425;
  EXPECT_TRUE(Label("", mm, row).starts_with("SIZE 99.8 mm,149.9 mm\r\n"));
}

// In TSPL a 0 bit prints a black dot and a 1 bit leaves it white (BITMAP
// mode 0, overwrite); the padding bits past the last dot are 1, white.
TEST_F(TsplTest, BitmapPolarityZeroIsBlack) {
  cups_page_header2_t h = MakeHeader(13, 1, 1);
  h.PageSize[0] = 288;
  h.PageSize[1] = 432;
  // Dots 0 and 12 black, and garbage in the padding bits.
  const std::string out = Label("", h, {{0x80, 0x0F}});
  EXPECT_NE(out.find("BITMAP 0,0,2,1,0," + FromHex("7F F7") + "\r\n"), std::string::npos) << Hex(out);
  // Cut to a 12-dot head: the 13th dot is white.
  const std::string cut = Label("", h, {{0x80, 0x0F}}, 12);
  EXPECT_NE(cut.find("BITMAP 0,0,2,1,0," + FromHex("7F FF") + "\r\n"), std::string::npos) << Hex(cut);
}

std::vector<std::string> Bitmaps(const std::string &out) {
  std::vector<std::string> heads;
  for (std::size_t at = out.find("BITMAP "); at != std::string::npos; at = out.find("BITMAP ", at + 1)) {
    std::size_t commas = 0, end = at;
    while (commas < 5) commas += out[end++] == ',';
    heads.push_back(out.substr(at, end - at));
  }
  return heads;
}

TEST_F(TsplTest, ImageIsSplitAtWhiteRunsAndAt32KiB) {
  // 104 bytes a row (a 4-inch head at 203 dpi): 315 rows fit in 32 KiB.
  const cups_page_header2_t h = Header4x6(104, 700);
  EXPECT_EQ(Bitmaps(Label("", h, std::vector<Bytes>(700, Bytes(104, 0x5A)))),
            (std::vector<std::string>{"BITMAP 0,0,104,315,0,", "BITMAP 0,315,104,315,0,", "BITMAP 0,630,104,70,0,"}));
  const Bytes black(2, 0xFF), white(2, 0);
  auto rows = [&](std::initializer_list<std::pair<int, bool>> runs) {
    std::vector<Bytes> out;
    for (auto [n, b] : runs) out.insert(out.end(), static_cast<std::size_t>(n), b ? black : white);
    return out;
  };
  // Up to 7 white rows stay in the image; 8 end it. White rows at the top
  // and the end are not sent.
  EXPECT_EQ(Bitmaps(Label("", Header4x6(2, 40), rows({{3, false}, {1, true}, {7, false}, {1, true}, {5, false}}))),
            (std::vector<std::string>{"BITMAP 0,3,2,9,0,"}));
  EXPECT_EQ(Bitmaps(Label("", Header4x6(2, 40), rows({{1, true}, {8, false}, {2, true}, {20, false}}))),
            (std::vector<std::string>{"BITMAP 0,0,2,1,0,", "BITMAP 0,9,2,2,0,"}));
  // An empty label still prints (one label per page), with no image.
  EXPECT_EQ(Label("", Header4x6(2, 3), rows({{3, false}})), kHead + "CLS\r\nPRINT 1,1\r\n");
  cups_page_header2_t none = Header4x6(0, 0);
  none.cupsWidth = 0;
  EXPECT_EQ(Label("", none, {}), kHead + "CLS\r\nPRINT 1,1\r\n");
}

TEST_F(TsplTest, CancelledLabelIsNotPrinted) {
  const std::string out = Label("", Header4x6(2, 100), std::vector<Bytes>(100, Bytes{0xFF, 0xFF}), 0, 50);
  EXPECT_EQ(out.find("PRINT"), std::string::npos);
  EXPECT_EQ(Bitmaps(out).size(), 0u);  // the 50 rows were still being gathered
}

TEST_F(TsplTest, PagesThatAreNotOneBitAreRefused) {
  EXPECT_EQ(Label("", MakeHeader(16, 2, 24), std::vector<Bytes>(2, Bytes(48, 0))), "");
  EXPECT_TRUE(JobFailed);
}

TEST_F(TsplTest, RandomLabelsDecodeToTheirDots) {
  std::mt19937 rng(1806);
  for (unsigned dpi : {203u, 300u}) {
    for (unsigned width : {832u, 1248u, 21u, 448u}) {
      if (dpi == 203 && width == 1248) continue;
      const unsigned height = std::uniform_int_distribution<unsigned>(1, 900)(rng);
      cups_page_header2_t h = MakeHeader(width, height, 1, dpi);
      std::vector<Bytes> rows = AssortedRows(rng, height, h.cupsBytesPerLine);
      for (unsigned y = 0; y < height; ++y)
        if ((y / 50) % 4 == 1) std::fill(rows[y].begin(), rows[y].end(), 0);
      const std::string out = Label("", h, rows);
      const dwdecode::DecodeResult d = dwdecode::DecodeTspl(out, dpi);
      ASSERT_TRUE(d.problems.empty()) << d.problems.front().what;
      ASSERT_EQ(d.pages.size(), 1u);
      const dwdecode::DecodedPage &page = d.pages[0];
      const std::vector<std::uint8_t> dots = DotsOf(rows, width);
      for (unsigned y = 0; y < std::max(page.height, height); ++y)
        for (unsigned x = 0; x < std::max(page.width, width); ++x)
          ASSERT_EQ(page.Dot(x, y), x < width && y < height && dots[std::size_t{y} * width + x] != 0)
              << dpi << " " << width << ": " << x << "," << y;
    }
  }
}

TEST(TsplDecoder, HandWrittenStreams) {
  // A 1 x 1 in label at 203 dpi (203 rows), two bitmaps: the second ORs in.
  const std::string stream = "SIZE 1,1\r\nGAP 0,0\r\nCLS\r\nBITMAP 0,0,1,2,0," + FromHex("7F FE") +
                             "\r\nBITMAP 8,1,1,1,1," + FromHex("00") + "\nBITMAP 0,1,1,1,2," + FromHex("FC") +
                             "\r\nPRINT 1,2\r\n";
  const dwdecode::DecodeResult r = dwdecode::DecodeTspl(stream, 203);
  EXPECT_TRUE(r.problems.empty()) << r.problems.front().what;
  ASSERT_EQ(r.pages.size(), 1u);
  const dwdecode::DecodedPage &p = r.pages[0];
  EXPECT_EQ(p.width, 16u);
  EXPECT_EQ(p.height, 203u);
  EXPECT_TRUE(p.Dot(0, 0) && !p.Dot(1, 0));
  // Row 1: FE leaves dot 7 black; FC (dots 6 and 7 black) XORed over it
  // makes dot 6 black and dot 7 white again.
  EXPECT_TRUE(p.Dot(6, 1) && !p.Dot(7, 1) && !p.Dot(0, 1));
  for (unsigned x = 8; x < 16; ++x) EXPECT_TRUE(p.Dot(x, 1));
  EXPECT_EQ(p.settings.front(), (dwdecode::Setting{"size", "1,1"}));
  EXPECT_NE(std::find(p.settings.begin(), p.settings.end(), dwdecode::Setting{"continuous", "0,0"}), p.settings.end());
  // Faults: data cut short, a label never printed, PRINT without CLS, a density out of range.
  EXPECT_FALSE(dwdecode::DecodeTspl("SIZE 1,1\r\nCLS\r\nBITMAP 0,0,4,4,0,xx").problems.empty());
  EXPECT_FALSE(dwdecode::DecodeTspl("SIZE 1,1\r\nCLS\r\n").problems.empty());
  EXPECT_FALSE(dwdecode::DecodeTspl("SIZE 1,1\r\nPRINT 1\r\n").problems.empty());
  EXPECT_FALSE(dwdecode::DecodeTspl("DENSITY 16\r\n").problems.empty());
  EXPECT_EQ(dwdecode::DetectLanguage("SIZE 101.6 mm,152.4 mm\r\n"), dwdecode::Language::Tspl);
}

}  // namespace
