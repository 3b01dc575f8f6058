// The OEM page end runs its image steps in one fixed order: gray conversion,
// rotation, binarisation, five-to-four reduction, line thinning, then the
// command stream. The expected dots below are worked out step by step in
// this file, in that order, and compared with the printed stream decoded
// back to dots; a different order of steps prints different dots.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "decode/decode.h"
#include "oem/oem.h"
#include "support/harness.h"

using namespace dwtest;

namespace {

constexpr int kBayer[8][8] = {
    {4, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
    {12, 44, 4, 36, 14, 46, 6, 38}, {60, 28, 52, 20, 62, 30, 54, 22},
    {3, 35, 11, 43, 4, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21},
};

class OemPageEnd : public ::testing::Test {
 protected:
  void SetUp() override { ResetFilterState(); }
  void TearDown() override { ResetFilterState(); }

  // Starts an OEM page for an already identified model with the given
  // settings and collects the RGB rows.
  void CollectPage(const cups_page_header2_t &h, const std::vector<Bytes> &rows) {
    PpdPtr ppd = OpenPpd(MakePpd(0x13));
    OEMStartPage(ppd.get(), &h);
    PrintPa = settings_;
    for (const Bytes &row : rows) OEMWriteOriginalPageData(row.data(), row.size());
  }

  OEMPrinterParams settings_{};
};

TEST_F(OemPageEnd, ThermalPageIsGrayedThenTurnedThenDithered) {
  // A 48 x 32 RGB page whose three components differ, so that the gray
  // weights matter, turned a quarter turn and dithered on a 384-dot head.
  constexpr unsigned W = 48, H = 32;
  auto component = [](unsigned x, unsigned y, unsigned c) {
    return static_cast<unsigned char>((x * 5 + y * 3 + c * 40) % 256);
  };
  std::vector<Bytes> rows;
  for (unsigned y = 0; y < H; ++y) {
    Bytes row;
    for (unsigned x = 0; x < W; ++x)
      for (unsigned c = 0; c < 3; ++c) row.push_back(component(x, y, c));
    rows.push_back(row);
  }
  settings_ = OEMPrinterParams{};
  settings_.Identified = 1;
  settings_.HeadWidth = 384;
  settings_.Speed = 3100;
  settings_.Density = 75;
  settings_.Rotation = 90;
  settings_.ImagePrint = 1;
  settings_.GrayLevel = 50;
  CollectPage(MakeHeader(W, H), rows);
  const std::string out = CaptureStdout([] { OEMEndPage(); });

  const dwdecode::DecodeResult decoded = dwdecode::DecodeOemThermal(out);
  ASSERT_TRUE(decoded.problems.empty()) << decoded.problems.front().what;
  ASSERT_EQ(decoded.pages.size(), 1u);
  const dwdecode::DecodedPage &page = decoded.pages[0];
  ASSERT_EQ(page.width, 384u);
  ASSERT_EQ(page.height, W);  // a quarter turn: one printed line per former column

  // After the quarter turn the image is H dots wide, centred on the head.
  const unsigned offset = (384 - H) / 2;
  for (unsigned r = 0; r < W; ++r) {
    for (unsigned c = 0; c < 384; ++c) {
      bool black = false;
      if (c >= offset && c < offset + H) {
        const unsigned col = c - offset;
        const unsigned x = W - 1 - r, y = col;  // pixel (y, x) went to row W-1-x, column y
        const unsigned gray =
            (11u * component(x, y, 0) + 59u * component(x, y, 1) + 30u * component(x, y, 2)) / 100;
        black = static_cast<int>(gray >> 2) < kBayer[col % 8][r % 8];
      }
      ASSERT_EQ(page.Dot(c, r), black) << "row " << r << " dot " << c;
    }
  }
}

TEST_F(OemPageEnd, NeedlePageIsReducedBeforeItsDenseLinesAreThinned) {
  // Ten black rows at 180 x 180 dpi become eight rows; thinning then works on
  // the reduced rows: even rows keep their even columns, odd rows their odd
  // columns. Thinning first and reducing after would merge the middle rows
  // of each group and give another pattern.
  constexpr unsigned W = 200, H = 10;
  std::vector<Bytes> rows(H, Bytes(W * 3, 0x00));
  settings_ = OEMPrinterParams{};
  settings_.Identified = 1;
  settings_.IsNeedle = 1;
  settings_.HeadWidth = 1440;
  settings_.Density = 1;
  settings_.Unidirectional = 1;
  settings_.GrayLevel = 50;
  CollectPage(MakeHeader(W, H, 24, 180), rows);
  const std::string out = CaptureStdout([] { OEMEndPage(); });

  const dwdecode::DecodeResult decoded = dwdecode::DecodeOemNeedle(out);
  ASSERT_TRUE(decoded.problems.empty()) << decoded.problems.front().what;
  ASSERT_EQ(decoded.pages.size(), 1u);
  const dwdecode::DecodedPage &page = decoded.pages[0];
  ASSERT_EQ(page.height, 16u) << "one band fed 16 rows";
  for (unsigned y = 0; y < 16; ++y)
    for (unsigned x = 0; x < 1440; ++x) {
      const bool black = y < 8 && x < W && (x % 2) == (y % 2);
      ASSERT_EQ(page.Dot(x, y), black) << "row " << y << " dot " << x;
    }
}

TEST_F(OemPageEnd, UnidentifiedPageRunsTheStepsButPrintsNothing) {
  std::vector<Bytes> rows(5, Bytes(30, 0x00));
  settings_ = OEMPrinterParams{};
  settings_.HeadWidth = 384;
  CollectPage(MakeHeader(10, 5), rows);
  EXPECT_EQ(CaptureStdout([] { OEMEndPage(); }), "");
  // The gray conversion ran: one byte per pixel.
  EXPECT_EQ(MyPageInfo.BytesPerLine, 10u);
}

}  // namespace
