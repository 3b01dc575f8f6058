// Rotation of the gray page, and its binarisation by threshold or by the
// 8 x 8 ordered dither.
#include <gtest/gtest.h>

#include "support/image_page.h"

namespace {

using namespace imagetest;

using RotationTest = ImageTest;

// Pixels P1 P2 P3 / P4 P5 P6 labelled 1 to 6.
const Bytes kTwoByThree = {1, 2, 3, 4, 5, 6};

TEST_F(RotationTest, TwoByThreeExample) {
  struct Case {
    std::int32_t degrees;
    std::uint64_t rows, cols;
    Bytes result;
  };
  const Case cases[] = {
      {180, 2, 3, {6, 5, 4, 3, 2, 1}},
      {90, 3, 2, {3, 6, 2, 5, 1, 4}},   // the top-right corner becomes the top-left
      {270, 3, 2, {4, 1, 5, 2, 6, 3}},  // the bottom-left corner becomes the top-left
      {0, 2, 3, kTwoByThree},
      {45, 2, 3, kTwoByThree},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.degrees);
    SetGray(2, 3, kTwoByThree);
    PrintPa.Rotation = c.degrees;
    OEMRotationPhotograph();
    EXPECT_EQ(Image(), c.result);
    EXPECT_EQ(MyPageInfo.Height, c.rows);
    EXPECT_EQ(MyPageInfo.Width, c.cols);
    EXPECT_EQ(MyPageInfo.BytesPerLine, c.cols);
  }
}

TEST_F(RotationTest, QuarterTurnOfAPageWithoutRows) {
  for (auto turn : {Rotation_90, Rotation_270}) {
    SetGray(0, 5, {});
    turn();
    EXPECT_EQ(MyPageInfo.Width, 0u);
    EXPECT_EQ(MyPageInfo.BytesPerLine, 0u);
    EXPECT_EQ(MyPageInfo.Height, 5u);
    EXPECT_EQ(MyPageInfo.ImageSize, 0u);
  }
}

TEST_F(RotationTest, QuarterTurnHeightIsTheFormerRowLength) {
  SetGray(2, 3, kTwoByThree);
  MyPageInfo.Width = 1;  // differs from the row length only on odd pages
  Rotation_90();
  EXPECT_EQ(MyPageInfo.Height, 3u);
  EXPECT_EQ(MyPageInfo.Width, 2u);
}

// Random images of sizes around the 64-pixel tiles the turns walk in.
TEST_F(RotationTest, RandomImagesTurnAsDocumentedAndTurnBack) {
  std::mt19937 rng(5);
  const std::pair<std::uint64_t, std::uint64_t> sizes[] = {{1, 1},   {1, 9},   {9, 1},    {63, 65},
                                                           {64, 64}, {65, 130}, {130, 67}, {3, 200}};
  for (auto [h, b] : sizes) {
    SCOPED_TRACE(testing::Message() << h << " x " << b);
    const Bytes in = RandomBytes(rng, h * b);

    // 90 degrees: output row r, column c holds input row c, column B-1-r.
    SetGray(h, b, in);
    Rotation_90();
    Bytes out = Image();
    ASSERT_EQ(out.size(), in.size());
    for (std::uint64_t r = 0; r < b; ++r)
      for (std::uint64_t c = 0; c < h; ++c) ASSERT_EQ(out[r * h + c], in[c * b + (b - 1 - r)]);
    Rotation_270();
    EXPECT_EQ(Image(), in);
    EXPECT_EQ(MyPageInfo.Height, h);
    EXPECT_EQ(MyPageInfo.BytesPerLine, b);

    // 270 degrees: output row r, column c holds input row H-1-c, column r.
    SetGray(h, b, in);
    Rotation_270();
    out = Image();
    for (std::uint64_t r = 0; r < b; ++r)
      for (std::uint64_t c = 0; c < h; ++c) ASSERT_EQ(out[r * h + c], in[(h - 1 - c) * b + r]);

    SetGray(h, b, in);
    Rotation_180();
    Bytes reversed(in.rbegin(), in.rend());
    EXPECT_EQ(Image(), reversed);
    Rotation_180();
    EXPECT_EQ(Image(), in);
  }
}

TEST_F(RotationTest, ImageShorterThanItsRowsIsTurnedAsIfCompletedWithWhite) {
  SetGray(2, 3, {1, 2, 3, 4});
  Rotation_90();
  EXPECT_EQ(Image(), (Bytes{3, 255, 2, 255, 1, 4}));
}

using BinariseTest = ImageTest;

TEST_F(BinariseTest, ThresholdIsTwoFiftyFiveLessGrayLevel) {
  struct Case {
    std::int32_t imagePrint, grayLevel;
    unsigned lastBlack;  // values up to here become 0x00, the rest 0xFF
  };
  const Case cases[] = {{0, 50, 205}, {0, 0, 255}, {0, 255, 0}, {2, 50, 205}, {-1, 100, 155}};
  Bytes ramp(256);
  for (unsigned v = 0; v < 256; ++v) ramp[v] = static_cast<unsigned char>(v);
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "ImagePrint " << c.imagePrint << " GrayLevel " << c.grayLevel);
    SetGray(16, 16, ramp);
    PrintPa.ImagePrint = c.imagePrint;
    PrintPa.GrayLevel = c.grayLevel;
    API_DitherColor();
    const Bytes out = Image();
    for (unsigned v = 0; v < 256; ++v) EXPECT_EQ(out[v], v <= c.lastBlack ? 0x00 : 0xFF) << v;
  }
}

// Whites of a uniform 8 x 8 tile of `value`, as a set of (column, row).
std::vector<std::pair<int, int>> DitherWhites(unsigned char value) {
  SetGray(8, 8, Bytes(64, value));
  PrintPa.ImagePrint = 1;
  API_DitherColor();
  std::vector<std::pair<int, int>> whites;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      if (MyPageInfo.ImageData[y * 8 + x] == 0xFF) whites.emplace_back(x, y);
  return whites;
}

TEST_F(BinariseTest, DitherDensitiesOfUniformAreas) {
  struct Case {
    unsigned char value;
    std::size_t whites;
  };
  const Case cases[] = {{0, 0}, {7, 0}, {8, 1}, {11, 1}, {12, 2}, {15, 2}, {64, 17}, {128, 33}, {252, 64}, {255, 64}};
  for (const Case &c : cases) EXPECT_EQ(DitherWhites(c.value).size(), c.whites) << int(c.value);
}

TEST_F(BinariseTest, DitherLightestEntriesSitAtTheirColumnAndRow) {
  // The smallest entry (2) is column phase 0, row phase 4; the next (3) is
  // column phase 4, row phase 0. Swapping the two indices would move them.
  EXPECT_EQ(DitherWhites(8), (std::vector<std::pair<int, int>>{{0, 4}}));
  EXPECT_EQ(DitherWhites(12), (std::vector<std::pair<int, int>>{{4, 0}, {0, 4}}));
}

TEST_F(BinariseTest, DitherTableAsStored) {
  // The two entries that differ from the textbook Bayer matrix.
  EXPECT_EQ(BayerDispersion[0][0], 4);
  EXPECT_EQ(BayerDispersion[4][4], 4);
  EXPECT_EQ(BayerDispersion[0][4], 2);
  EXPECT_EQ(BayerDispersion[7][0], 63);
  int sum = 0;
  for (const auto &group : BayerDispersion)
    for (std::int8_t v : group) sum += v;
  EXPECT_EQ(sum, 2016 + 4 + 3);  // 0..63, with 0 -> 4 and 1 -> 4
}

TEST_F(BinariseTest, DitherCoversPartialTilesAtTheEdges) {
  SetGray(10, 13, Bytes(130, 128));
  PrintPa.ImagePrint = 1;
  API_DitherColor();
  const Bytes out = Image();
  // Row 9 is row phase 1, column 12 is column phase 4: entry 35 > 32 -> dot.
  EXPECT_EQ(out[9 * 13 + 12], 0x00);
  // Row 8, column 8 are phase 0, 0: entry 4 <= 32 -> no dot.
  EXPECT_EQ(out[8 * 13 + 8], 0xFF);
  for (unsigned char v : out) EXPECT_TRUE(v == 0x00 || v == 0xFF);
}

TEST_F(BinariseTest, RandomImagesBecomeOnlyDotsAndGaps) {
  std::mt19937 rng(7);
  for (std::int32_t mode : {0, 1}) {
    for (int round = 0; round < 20; ++round) {
      const std::uint64_t h = rng() % 40, b = rng() % 40;
      SetGray(h, b, RandomBytes(rng, h * b));
      PrintPa.ImagePrint = mode;
      PrintPa.GrayLevel = static_cast<std::int32_t>(rng() % 256);
      API_DitherColor();
      for (unsigned char v : Image()) ASSERT_TRUE(v == 0x00 || v == 0xFF) << int(v);
    }
  }
}

}  // namespace
