// The needle-only steps: five-to-four row reduction at 180 x 180 dpi and
// the thinning of dense horizontal lines at Density 1.
#include <gtest/gtest.h>

#include <string>

#include "support/image_page.h"

namespace {

using namespace imagetest;

constexpr unsigned char B = 0x00;  // dot
constexpr unsigned char W = 0xFF;  // no dot

void NeedleAt(std::uint32_t xdpi, std::uint32_t ydpi) {
  PrintPa.Identified = 1;
  PrintPa.IsNeedle = 1;
  PrintPa.HeadWidth = 1440;
  MyPageInfo.Resolution[0] = xdpi;
  MyPageInfo.Resolution[1] = ydpi;
}

using ReductionTest = ImageTest;

// The reduction table: input dots of rows 0 to 4, output dots of rows 0 to 3.
const std::pair<const char *, const char *> kTable[32] = {
    {"00000", "0000"}, {"00001", "0001"}, {"00010", "0010"}, {"00011", "0011"}, {"00100", "0100"},
    {"00101", "0101"}, {"00110", "0110"}, {"00111", "0111"}, {"01000", "0100"}, {"01001", "0101"},
    {"01010", "0110"}, {"01011", "0101"}, {"01100", "0100"}, {"01101", "0101"}, {"01110", "0110"},
    {"01111", "0111"}, {"10000", "1000"}, {"10001", "1001"}, {"10010", "1010"}, {"10011", "1011"},
    {"10100", "1010"}, {"10101", "1101"}, {"10110", "1010"}, {"10111", "1011"}, {"11000", "1100"},
    {"11001", "1101"}, {"11010", "1010"}, {"11011", "1001"}, {"11100", "1100"}, {"11101", "1101"},
    {"11110", "1110"}, {"11111", "1111"},
};

TEST_F(ReductionTest, AllThirtyTwoPatterns) {
  // Column i of a 5-row image carries pattern i.
  Bytes in(5 * 32);
  for (int i = 0; i < 32; ++i)
    for (int r = 0; r < 5; ++r) in[r * 32 + i] = kTable[i].first[r] == '1' ? B : W;
  NeedleAt(180, 180);
  SetGray(5, 32, in);
  OEMCompressionData_NeedlePrinter();
  ASSERT_EQ(MyPageInfo.Height, 4u);
  ASSERT_EQ(MyPageInfo.ImageSize, 4u * 32);
  for (int i = 0; i < 32; ++i) {
    std::string got;
    for (int r = 0; r < 4; ++r) got += MyPageInfo.ImageData[r * 32 + i] == B ? '1' : '0';
    EXPECT_EQ(got, kTable[i].second) << "input " << kTable[i].first;
    std::string kept;
    for (int r = 0; r < 4; ++r) kept += MyPageInfo.ReducedData[r * 32 + i] ? '1' : '0';
    EXPECT_EQ(kept, kTable[i].second) << "ReducedData keeps the 0/1 dots";
  }
  EXPECT_EQ(MyPageInfo.ReducedBytesPerLine, 32u);
  EXPECT_EQ(MyPageInfo.ReducedSize, MyPageInfo.ImageSize);
  EXPECT_EQ(MyPageInfo.BytesPerLine, 32u);
  EXPECT_EQ(MyPageInfo.Width, 32u);
}

TEST_F(ReductionTest, HeightsDropTheRowsBeyondTheLastWholeGroup) {
  struct Case {
    std::uint64_t height, reduced;
  };
  for (const Case c : {Case{10, 8}, Case{12, 8}, Case{4, 0}, Case{5, 4}, Case{0, 0}}) {
    SCOPED_TRACE(c.height);
    ReleaseAndReset();
    NeedleAt(180, 180);
    // Rows 10 and 11 black: they are the dropped ones.
    Bytes in(c.height * 3, W);
    for (std::uint64_t i = 10 * 3; i < in.size(); ++i) in[i] = B;
    SetGray(c.height, 3, in);
    OEMCompressionData_NeedlePrinter();
    EXPECT_EQ(MyPageInfo.Height, c.reduced);
    EXPECT_EQ(MyPageInfo.ImageSize, c.reduced * 3);
    EXPECT_EQ(Image(), Bytes(c.reduced * 3, W));
  }
}

TEST_F(ReductionTest, OnlyNeedlePagesAt180By180AreReduced) {
  struct Case {
    std::uint8_t needle;
    std::uint32_t x, y;
  };
  for (const Case c : {Case{1, 180, 360}, Case{1, 360, 180}, Case{0, 180, 180}, Case{1, 203, 203}}) {
    ReleaseAndReset();
    NeedleAt(c.x, c.y);
    PrintPa.IsNeedle = c.needle;
    const Bytes in(10 * 2, B);
    SetGray(10, 2, in);
    OEMCompressionData_NeedlePrinter();
    EXPECT_EQ(Image(), in);
    EXPECT_EQ(MyPageInfo.Height, 10u);
    EXPECT_EQ(MyPageInfo.ReducedData, nullptr);
  }
}

TEST_F(ReductionTest, AnyByteOtherThanZeroCountsAsNoDot) {
  NeedleAt(180, 180);
  SetGray(5, 1, {0x00, 0x01, 0x7F, 0x00, 0xFE});  // 1 0 0 1 0 -> 1 0 1 0
  OEMCompressionData_NeedlePrinter();
  EXPECT_EQ(Image(), (Bytes{B, W, B, W}));
}

TEST_F(ReductionTest, RandomPagesNeverGainDots) {
  std::mt19937 rng(11);
  for (int round = 0; round < 40; ++round) {
    ReleaseAndReset();
    NeedleAt(180, 180);
    const std::uint64_t h = rng() % 24, b = 1 + rng() % 20;
    const Bytes in = RandomBytes(rng, h * b, {B, W});
    SetGray(h, b, in);
    OEMCompressionData_NeedlePrinter();
    const Bytes out = Image();
    ASSERT_EQ(out.size(), (h / 5) * 4 * b);
    for (std::uint64_t g = 0; g < h / 5; ++g) {
      for (std::uint64_t x = 0; x < b; ++x) {
        int dotsIn = 0, dotsOut = 0;
        for (std::uint64_t r = 0; r < 5; ++r) dotsIn += in[(5 * g + r) * b + x] == B;
        for (std::uint64_t r = 0; r < 4; ++r) {
          ASSERT_TRUE(out[(4 * g + r) * b + x] == B || out[(4 * g + r) * b + x] == W);
          dotsOut += out[(4 * g + r) * b + x] == B;
        }
        EXPECT_LE(dotsOut, dotsIn);
        // The outer rows pass through.
        EXPECT_EQ(out[(4 * g) * b + x], in[(5 * g) * b + x]);
        EXPECT_EQ(out[(4 * g + 3) * b + x], in[(5 * g + 4) * b + x]);
      }
    }
  }
}

using ThinningTest = ImageTest;

constexpr unsigned char kLight = 0x80;  // light but not white: whitening shows

struct ThinCase {
  const char *name;
  std::uint64_t width;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> darkRuns;  // [from, to)
  bool dense;
  unsigned char dark = 0x00;
};

// One row of `width` light pixels with the given dark runs.
Bytes Row(const ThinCase &c) {
  Bytes row(c.width, kLight);
  for (auto [from, to] : c.darkRuns)
    for (std::uint64_t x = from; x < to; ++x) row[x] = c.dark;
  return row;
}

// `row` as thinned at row index `y`: the columns of the other parity white.
Bytes Thinned(Bytes row, std::uint64_t y) {
  for (std::uint64_t x = (y % 2 == 0) ? 1 : 0; x < row.size(); x += 2) row[x] = W;
  return row;
}

TEST_F(ThinningTest, DenseRowsLoseEveryOtherPixel) {
  const ThinCase cases[] = {
      {"84 dark from column 0", 300, {{0, 84}}, false},
      {"85 dark from column 0", 300, {{0, 85}}, true},
      {"84 dark from column 100", 300, {{100, 184}}, false},
      {"85 dark from column 100", 300, {{100, 185}}, true},
      {"only the last pixel", 300, {{299, 300}}, true},
      {"last but two and last but one", 300, {{297, 299}}, true},
      {"only the last but one", 300, {{298, 299}}, false},
      {"all light", 300, {}, false},
      {"85 of value 79", 300, {{0, 85}}, true, 79},
      {"85 of value 80", 300, {{0, 85}}, false, 80},
      {"a row shorter than a window", 10, {{0, 7}}, true},
      {"six of ten", 10, {{0, 6}}, false},
  };
  for (const ThinCase &c : cases) {
    SCOPED_TRACE(c.name);
    for (std::uint64_t y : {0u, 1u}) {
      // The case's row at index y, between two light rows that stay as is.
      const Bytes row = Row(c), light(c.width, kLight);
      Bytes page;
      for (std::uint64_t r = 0; r < 3; ++r) {
        const Bytes &src = r == y ? row : light;
        page.insert(page.end(), src.begin(), src.end());
      }
      ReleaseAndReset();
      NeedleAt(203, 203);
      PrintPa.Density = 1;
      SetGray(3, c.width, page);
      FindLineHorizental_1440();
      const Bytes out = Image();
      const Bytes got(out.begin() + static_cast<long>(y * c.width), out.begin() + static_cast<long>((y + 1) * c.width));
      EXPECT_EQ(got, c.dense ? Thinned(row, y) : row) << "row " << y;
      const std::uint64_t other = y == 0 ? 2 : 0;
      EXPECT_EQ(Bytes(out.begin() + static_cast<long>(other * c.width),
                      out.begin() + static_cast<long>((other + 1) * c.width)),
                light);
    }
  }
}

TEST_F(ThinningTest, ScatteredDotsBelowSixtyPercentStay) {
  Bytes row(300, W);
  for (std::uint64_t x = 0; x < 300; x += 2) row[x] = B;  // half dark, none at the end
  NeedleAt(203, 203);
  PrintPa.Density = 1;
  SetGray(1, 300, row);
  FindLineHorizental_1440();
  EXPECT_EQ(Image(), row);
}

TEST_F(ThinningTest, OnlyNeedlePrintersAtDensityOne) {
  for (auto [needle, density] : {std::pair{0, 1}, std::pair{1, 2}, std::pair{1, 3}}) {
    ReleaseAndReset();
    NeedleAt(203, 203);
    PrintPa.IsNeedle = static_cast<std::uint8_t>(needle);
    PrintPa.Density = density;
    SetGray(2, 200, Bytes(400, B));
    FindLineHorizental_1440();
    EXPECT_EQ(Image(), Bytes(400, B));
  }
}

// The rule stated directly: some dark pixel starts a window of up to 140
// pixels in which more than 60 % are dark.
bool DenseByDefinition(const Bytes &row) {
  for (std::size_t p = 0; p < row.size(); ++p) {
    if (row[p] >= 80) continue;
    const std::size_t e = std::min(row.size(), p + 140);
    std::size_t d = 0;
    for (std::size_t i = p; i < e; ++i) d += row[i] < 80;
    if (10 * d > 6 * (e - p)) return true;
  }
  return false;
}

TEST_F(ThinningTest, RandomRowsAgreeWithTheWindowRule) {
  std::mt19937 rng(3);
  int dense = 0;
  for (int round = 0; round < 400; ++round) {
    const std::size_t w = 1 + rng() % 400;
    const unsigned percent = 45 + rng() % 20;  // around the 60 % line
    Bytes row(w);
    for (auto &v : row) v = (rng() % 100) < percent ? B : W;
    const bool expected = DenseByDefinition(row);
    dense += expected;
    ReleaseAndReset();
    NeedleAt(180, 180);
    PrintPa.Density = 1;
    SetGray(1, w, row);
    FindLineHorizental_1440();
    ASSERT_EQ(Image(), expected ? Thinned(row, 0) : row) << "width " << w << " round " << round;
  }
  EXPECT_GT(dense, 20);
  EXPECT_LT(dense, 380);
}

}  // namespace
