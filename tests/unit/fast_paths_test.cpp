// The fast paths of the image pipeline and the encoders against plain
// implementations written here from their definitions: the gray conversion in
// place (sixteen pixels at a time, pages cut short, room kept for a turn),
// tiled quarter turns of sizes that are not multiples of a tile, the
// binarisation sixteen bytes at a time, the five-to-four reduction as logic,
// the thinning's block test, the thermal run code found eight dots at a time,
// and the PCL and EPL page-mode lines. Sizes are chosen around the block
// widths (8, 16, 64, 140) so that every remainder path runs.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "dotweave/filter.h"
#include "dotweave/label.h"
#include "oem/oem.h"
#include "support/harness.h"
#include "support/image_page.h"
#include "support/label_pages.h"
#include "support/oem_page.h"

namespace {

using imagetest::Bytes;
using imagetest::Image;
using imagetest::ImageTest;
using imagetest::RandomBytes;
using imagetest::SetGray;

constexpr unsigned char B = 0x00;  // a dot
constexpr unsigned char W = 0xFF;  // no dot

// Widths around the vector and tile blocks.
const std::vector<std::uint64_t> kWidths = {1, 2, 3, 7, 8, 9, 15, 16, 17, 31, 32, 33, 47, 48, 49,
                                            63, 64, 65, 100, 127, 128, 129, 139, 140, 141, 833};

// ---- Gray conversion ------------------------------------------------------

void StartRgbPage(std::uint64_t width, std::uint64_t height) {
  MyPageInfo.Width = width;
  MyPageInfo.Height = height;
  MyPageInfo.PageRows = height;
  MyPageInfo.BitsPerPixel = 24;
  MyPageInfo.ColorSpace = CUPS_CSPACE_SRGB;
  MyPageInfo.BytesPerLine = 3 * width;
}

// The gray conversion: gray = (11 b0 + 59 b1 + 30 b2) / 100, white where nothing arrived.
Bytes GrayByDefinition(const Bytes &rgb, std::uint64_t width, std::uint64_t height) {
  Bytes gray(width * height, 255);
  for (std::uint64_t i = 0; i < width * height && 3 * i + 2 < rgb.size(); ++i)
    gray[i] = static_cast<unsigned char>((11u * rgb[3 * i] + 59u * rgb[3 * i + 1] + 30u * rgb[3 * i + 2]) / 100u);
  return gray;
}

using FastGrayTest = ImageTest;

TEST_F(FastGrayTest, RgbPagesConvertInPlaceAsDefined) {
  std::mt19937 rng(12);
  for (const std::uint64_t width : kWidths) {
    for (const std::uint64_t height : {1u, 2u, 5u, 19u}) {
      for (const int rotation : {0, 90}) {
        SCOPED_TRACE(testing::Message() << width << " x " << height << ", rotation " << rotation);
        imagetest::ReleaseAndReset();
        StartRgbPage(width, height);
        PrintPa.Rotation = rotation;
        const Bytes rgb = RandomBytes(rng, 3 * width * height);
        for (std::uint64_t y = 0; y < height; ++y)
          OEMWriteOriginalPageData(rgb.data() + 3 * width * y, 3 * width);
        OEMRGBToGray();
        ASSERT_EQ(MyPageInfo.PageFailed, 0);
        EXPECT_EQ(MyPageInfo.BytesPerLine, width);
        EXPECT_GE(MyPageInfo.ImageCapacity, MyPageInfo.ImageSize);
        ASSERT_EQ(Image(), GrayByDefinition(rgb, width, height));
      }
    }
  }
}

TEST_F(FastGrayTest, RgbPagesCutShortConvertInPlaceAsDefined) {
  std::mt19937 rng(13);
  for (const std::uint64_t width : kWidths) {
    const std::uint64_t height = 6;
    // Two whole rows and part of a third arrive.
    const Bytes rgb = RandomBytes(rng, 3 * width * 2 + 3 * (width / 2) + (width % 3));
    SCOPED_TRACE(testing::Message() << width << " x " << height);
    imagetest::ReleaseAndReset();
    StartRgbPage(width, height);
    OEMWriteOriginalPageData(rgb.data(), 3 * width);
    OEMWriteOriginalPageData(rgb.data() + 3 * width, 3 * width);
    if (rgb.size() > 6 * width) OEMWriteOriginalPageData(rgb.data() + 6 * width, rgb.size() - 6 * width);
    OEMRGBToGray();
    ASSERT_EQ(MyPageInfo.ImageSize, width * height);
    Bytes expected = GrayByDefinition(rgb, width, height);
    ASSERT_EQ(Image(), expected);
  }
}

TEST_F(FastGrayTest, LargeRgbPageConvertsAsDefined) {
  // Megabytes, so that the buffer takes the huge-page path and is shrunk to
  // whole huge pages.
  std::mt19937 rng(14);
  const std::uint64_t width = 832, height = 1500;
  const Bytes rgb = RandomBytes(rng, 3 * width * height);
  StartRgbPage(width, height);
  for (std::uint64_t y = 0; y < height; ++y) OEMWriteOriginalPageData(rgb.data() + 3 * width * y, 3 * width);
  OEMRGBToGray();
  EXPECT_GE(MyPageInfo.ImageCapacity, width * height);
  EXPECT_LT(MyPageInfo.ImageCapacity, 3 * width * height) << "the collected pages are given back";
  ASSERT_EQ(Image(), GrayByDefinition(rgb, width, height));
}

TEST_F(FastGrayTest, EightBitPagesConvertInPlaceAsDefined) {
  std::mt19937 rng(15);
  for (const std::uint32_t space : {CUPS_CSPACE_SW, CUPS_CSPACE_K}) {
    for (const std::uint64_t width : kWidths) {
      SCOPED_TRACE(testing::Message() << "space " << space << ", width " << width);
      imagetest::ReleaseAndReset();
      const std::uint64_t height = 4;
      MyPageInfo.Width = width;
      MyPageInfo.Height = height;
      MyPageInfo.BitsPerPixel = 8;
      MyPageInfo.ColorSpace = space;
      MyPageInfo.BytesPerLine = width;
      const Bytes raster = RandomBytes(rng, width * 3);  // the last row never arrives
      for (std::uint64_t y = 0; y < 3; ++y) OEMWriteOriginalPageData(raster.data() + width * y, width);
      OEMRGBToGray();
      Bytes expected(width * height, 255);
      for (std::size_t i = 0; i < raster.size(); ++i)
        expected[i] = space == CUPS_CSPACE_K ? static_cast<unsigned char>(255 - raster[i]) : raster[i];
      ASSERT_EQ(Image(), expected);
    }
  }
}

// ---- Quarter turns ----------------------------------------------------------

// The rotation table: 90 sends (y, x) to (B - 1 - x, y), 270 to (x, H - 1 - y).
Bytes TurnedByDefinition(const Bytes &in, std::uint64_t h, std::uint64_t b, int rotation) {
  Bytes out(in.size());
  for (std::uint64_t y = 0; y < h; ++y)
    for (std::uint64_t x = 0; x < b; ++x) {
      const std::uint64_t to = rotation == 90 ? (b - 1 - x) * h + y : x * h + (h - 1 - y);
      out[to] = in[y * b + x];
    }
  return out;
}

using FastTurnTest = ImageTest;

TEST_F(FastTurnTest, QuarterTurnsOfOddSizesAsDefined) {
  std::mt19937 rng(21);
  const std::pair<std::uint64_t, std::uint64_t> sizes[] = {{1, 1},   {1, 130},  {130, 1}, {63, 65}, {64, 64},
                                                           {65, 129}, {130, 3}, {200, 17}, {17, 200}, {129, 193}};
  for (const auto [h, b] : sizes) {
    for (const int rotation : {90, 270}) {
      for (const bool roomBehind : {false, true}) {
        SCOPED_TRACE(testing::Message() << h << " x " << b << ", " << rotation << (roomBehind ? ", room behind" : ""));
        imagetest::ReleaseAndReset();
        const Bytes pixels = RandomBytes(rng, h * b);
        SetGray(h, b, pixels);
        if (roomBehind) {
          // A block twice the image, as the gray conversion leaves it before a turn.
          MyPageInfo.ImageData = static_cast<unsigned char *>(std::realloc(MyPageInfo.ImageData, 2 * h * b));
          MyPageInfo.ImageCapacity = 2 * h * b;
        }
        PrintPa.Rotation = rotation;
        OEMRotationPhotograph();
        ASSERT_EQ(MyPageInfo.PageFailed, 0);
        EXPECT_EQ(MyPageInfo.Width, h);
        EXPECT_EQ(MyPageInfo.BytesPerLine, h);
        EXPECT_EQ(MyPageInfo.Height, b);
        ASSERT_EQ(MyPageInfo.ImageSize, h * b);
        ASSERT_EQ(Image(), TurnedByDefinition(pixels, h, b, rotation));
      }
    }
  }
}

TEST_F(FastTurnTest, CollectedPageTurnsAsDefinedInTheRoomTheGrayConversionLeaves) {
  std::mt19937 rng(22);
  for (const int rotation : {90, 270}) {
    for (const auto [width, height] : {std::pair<std::uint64_t, std::uint64_t>{65, 37}, {832, 1500}}) {
      SCOPED_TRACE(testing::Message() << width << " x " << height << ", " << rotation);
      imagetest::ReleaseAndReset();
      StartRgbPage(width, height);
      PrintPa.Rotation = rotation;
      const Bytes rgb = RandomBytes(rng, 3 * width * height);
      for (std::uint64_t y = 0; y < height; ++y) OEMWriteOriginalPageData(rgb.data() + 3 * width * y, 3 * width);
      OEMRGBToGray();
      OEMRotationPhotograph();
      ASSERT_EQ(Image(), TurnedByDefinition(GrayByDefinition(rgb, width, height), height, width, rotation));
    }
  }
}

// ---- Binarisation -----------------------------------------------------------

using FastBinariseTest = ImageTest;

TEST_F(FastBinariseTest, ThresholdAsDefinedForEveryGrayLevel) {
  std::mt19937 rng(31);
  for (const std::int32_t level : {-7, -1, 0, 1, 50, 128, 205, 254, 255, 256, 1000}) {
    for (const std::uint64_t size : {1u, 15u, 16u, 17u, 33u, 1000u}) {
      SCOPED_TRACE(testing::Message() << "GrayLevel " << level << ", " << size << " bytes");
      imagetest::ReleaseAndReset();
      const Bytes pixels = RandomBytes(rng, size);
      SetGray(1, size, pixels);
      PrintPa.ImagePrint = 0;
      PrintPa.GrayLevel = level;
      API_DitherColor();
      Bytes expected(size);
      for (std::size_t i = 0; i < size; ++i)
        expected[i] = static_cast<std::int64_t>(pixels[i]) > 255 - std::int64_t{level} ? W : B;
      ASSERT_EQ(Image(), expected);
    }
  }
}

TEST_F(FastBinariseTest, DitherAsDefinedOnOddSizes) {
  std::mt19937 rng(32);
  for (const std::uint64_t cols : kWidths) {
    const std::uint64_t rows = 1 + rng() % 20;
    SCOPED_TRACE(testing::Message() << rows << " x " << cols);
    imagetest::ReleaseAndReset();
    const Bytes pixels = RandomBytes(rng, rows * cols);
    SetGray(rows, cols, pixels);
    PrintPa.ImagePrint = 1;
    API_DitherColor();
    Bytes expected(rows * cols);
    for (std::uint64_t y = 0; y < rows; ++y)
      for (std::uint64_t x = 0; x < cols; ++x)
        expected[y * cols + x] = (pixels[y * cols + x] >> 2) >= BayerDispersion[x % 8][y % 8] ? W : B;
    ASSERT_EQ(Image(), expected);
  }
}

// ---- Five-to-four reduction -------------------------------------------------

// The five-to-four reduction table, row for row: input rows r0..r4 to output rows o0..o3.
const char *const kReductionTable[32] = {
    "0000", "0001", "0010", "0011", "0100", "0101", "0110", "0111", "0100", "0101", "0110",
    "0101", "0100", "0101", "0110", "0111", "1000", "1001", "1010", "1011", "1010", "1101",
    "1010", "1011", "1100", "1101", "1010", "1001", "1100", "1101", "1110", "1111"};

using FastReductionTest = ImageTest;

TEST_F(FastReductionTest, RandomPagesReduceAsTheTableSays) {
  std::mt19937 rng(41);
  for (const std::uint64_t width : kWidths) {
    for (const std::uint64_t height : {5u, 10u, 13u, 23u}) {
      SCOPED_TRACE(testing::Message() << width << " x " << height);
      imagetest::ReleaseAndReset();
      PrintPa.IsNeedle = 1;
      MyPageInfo.Resolution[0] = MyPageInfo.Resolution[1] = 180;
      // Mostly dots and gaps, with a few other bytes, which count as gaps.
      const Bytes pixels = RandomBytes(rng, width * height, {B, B, W, W, W, 0x01, 0x80});
      SetGray(height, width, pixels);
      OEMCompressionData_NeedlePrinter();
      const std::uint64_t groups = height / 5;
      ASSERT_EQ(MyPageInfo.Height, groups * 4);
      ASSERT_EQ(MyPageInfo.ReducedSize, groups * 4 * width);
      for (std::uint64_t g = 0; g < groups; ++g)
        for (std::uint64_t x = 0; x < width; ++x) {
          unsigned pattern = 0;
          for (std::uint64_t r = 0; r < 5; ++r) pattern = pattern * 2 + (pixels[(5 * g + r) * width + x] == B ? 1 : 0);
          for (std::uint64_t r = 0; r < 4; ++r) {
            const bool dot = kReductionTable[pattern][r] == '1';
            const std::uint64_t at = (4 * g + r) * width + x;
            ASSERT_EQ(MyPageInfo.ReducedData[at], dot ? 1 : 0) << "group " << g << " column " << x << " row " << r;
            ASSERT_EQ(MyPageInfo.ImageData[at], dot ? B : W) << "group " << g << " column " << x << " row " << r;
          }
        }
    }
  }
}

// ---- Line thinning ----------------------------------------------------------

// Line thinning: some dark pixel starts a window of up to 140 pixels that is more
// than 60 % dark (dark: below 80).
bool DenseByDefinition(const Bytes &row) {
  for (std::size_t p = 0; p < row.size(); ++p) {
    if (row[p] >= 80) continue;
    const std::size_t e = std::min(p + 140, row.size());
    std::size_t d = 0;
    for (std::size_t i = p; i < e; ++i) d += row[i] < 80;
    if (10 * d > 6 * (e - p)) return true;
  }
  return false;
}

using FastThinningTest = ImageTest;

TEST_F(FastThinningTest, RowsOfEveryWidthAndDensityAgreeWithTheWindowRule) {
  std::mt19937 rng(51);
  int dense = 0, rounds = 0;
  for (const std::uint64_t width : {1u, 2u, 15u, 16u, 17u, 139u, 140u, 141u, 155u, 156u, 157u, 159u, 160u, 161u,
                                    175u, 176u, 177u, 300u, 1440u, 1443u}) {
    for (int round = 0; round < 40; ++round, ++rounds) {
      // Scattered pixels of a density near the rule, or one dark stretch in
      // a light row, of values across the dark and light ranges.
      Bytes row(width);
      if (round % 2 == 0) {
        const unsigned percent = 40 + rng() % 30;
        for (auto &v : row) v = static_cast<unsigned char>((rng() % 100) < percent ? rng() % 80 : 80 + rng() % 176);
      } else {
        std::fill(row.begin(), row.end(), W);
        const std::uint64_t from = rng() % width, length = 1 + rng() % 200;
        for (std::uint64_t x = from; x < std::min(width, from + length); ++x)
          if (rng() % 10 < 7) row[x] = B;
      }
      const bool expected = DenseByDefinition(row);
      dense += expected;
      imagetest::ReleaseAndReset();
      PrintPa.IsNeedle = 1;
      PrintPa.Density = 1;
      SetGray(1, width, row);
      FindLineHorizental_1440();
      Bytes thinned = row;
      if (expected)
        for (std::uint64_t x = 1; x < width; x += 2) thinned[x] = W;
      ASSERT_EQ(Image(), thinned) << "width " << width << " round " << round;
    }
  }
  EXPECT_GT(dense, rounds / 10);
  EXPECT_LT(dense, rounds - rounds / 10);
}

TEST_F(FastThinningTest, DenseWindowFromTheLastPixelOfABlockIsFound) {
  // A dark pixel at the end of a 16-pixel block whose window is dense only
  // through the dark pixels at its far end, 139 pixels on.
  for (std::uint64_t start = 15; start < 80; start += 16) {
    for (const std::uint64_t width : {start + 140, start + 141, std::uint64_t{400}}) {
      Bytes row(width, W);
      row[start] = B;
      for (std::uint64_t x = start + 56; x < start + 140; ++x) row[x] = B;  // 84 more: 85 of 140
      ASSERT_TRUE(DenseByDefinition(row));
      imagetest::ReleaseAndReset();
      PrintPa.IsNeedle = 1;
      PrintPa.Density = 1;
      SetGray(1, width, row);
      FindLineHorizental_1440();
      ASSERT_EQ(Image()[start + 56], W) << "start " << start << " width " << width << ": row not thinned";
    }
  }
}

// ---- Thermal run code --------------------------------------------------------

// The thermal run coding, dot by dot.
std::string RunCodeByDefinition(const unsigned char *line, std::size_t n) {
  std::string out;
  unsigned char value = line[0];
  unsigned r = 0;
  const auto close = [&] {
    const unsigned char colour = value == 0xFF ? 0x00 : 0x01;
    if (r == 0) {
      out += static_cast<char>(colour);
    } else {
      out += static_cast<char>(0x80 | colour);
      out += static_cast<char>(r);
    }
  };
  for (std::size_t x = 1; x < n; ++x) {
    if (line[x] == value && r <= 250) {
      ++r;
    } else {
      close();
      value = line[x];
      r = 0;
    }
  }
  close();
  return out;
}

TEST(FastThermalTest, LinesCodeAsDefinedByteForByte) {
  std::mt19937 rng(61);
  for (const unsigned width : {832u, 900u, 500u, 831u}) {
    for (int round = 0; round < 20; ++round) {
      dwtest::ResetFilterState();
      PrintPa.Identified = 1;
      PrintPa.HeadWidth = 832;
      const unsigned height = 12;
      // Runs of every length around the 8-dot words and the 252-dot runs,
      // in the two dot values and a few others.
      dwtest::BwImage image(width, height);
      for (unsigned y = 0; y < height; ++y) {
        unsigned x = 0;
        while (x < width) {
          const unsigned choice = rng() % 4;
          const unsigned length = choice == 0 ? 1 + rng() % 9 : choice == 1 ? 250 + rng() % 10 : 1 + rng() % 600;
          const unsigned char values[] = {0x00, 0xFF, 0xFF, 0x00, 0x01, 0x7F};
          const unsigned char value = values[rng() % 6];
          for (unsigned i = 0; i < length && x < width; ++i, ++x) image.px[std::size_t{y} * width + x] = value;
        }
      }
      dwtest::LoadImage(image);
      OEMDataThransfer_ThermalPrinter(832);
      std::string expected;
      for (unsigned y = 0; y < height; ++y) {
        // The printed line: the image's first 832 columns, or the image
        // centred on the head (the thermal line placement).
        std::vector<unsigned char> line(832, 0xFF);
        const unsigned char *row = image.px.data() + std::size_t{y} * width;
        if (width >= 832) std::memcpy(line.data(), row, 832);
        else std::memcpy(line.data() + (832 - width) / 2, row, width);
        expected += "\x23\x3C" + RunCodeByDefinition(line.data(), 832) + "\x23\x3E";
      }
      ASSERT_EQ(dwtest::Commands(), expected) << "width " << width << " round " << round;
      dwtest::ReleasePage();
    }
  }
  dwtest::ResetFilterState();
}

// ---- PCL and EPL page-mode lines ---------------------------------------------

// PCL compression mode 3 against `seed` (null for no seed), command by command.
std::string PclRowByDefinition(const Bytes &row, const Bytes *seed) {
  std::string built;
  std::size_t pos = 0;
  while (pos < row.size()) {
    std::size_t offset = 0, count = 0;
    if (seed != nullptr) {
      while (pos < row.size() && row[pos] == (*seed)[pos]) ++pos, ++offset;
      if (pos == row.size()) break;
      while (count < 8 && pos + count < row.size() && row[pos + count] != (*seed)[pos + count]) ++count;
    } else {
      count = std::min<std::size_t>(8, row.size() - pos);
    }
    if (offset < 31) {
      built += static_cast<char>((count - 1) * 32 + offset);
    } else {
      built += static_cast<char>((count - 1) * 32 + 31);
      std::size_t rest = offset - 31;
      for (; rest >= 255; rest -= 255) built += static_cast<char>(255);
      built += static_cast<char>(rest);
    }
    built.append(reinterpret_cast<const char *>(row.data() + pos), count);
    pos += count;
  }
  return "\033*b" + std::to_string(built.size()) + "W" + built;
}

class FastLabelLineTest : public ::testing::Test {
 protected:
  void SetUp() override { dwtest::ResetFilterState(); }
  void TearDown() override {
    std::free(Buffer);
    std::free(CompBuffer);
    std::free(LastBuffer);
    dwtest::ResetFilterState();
  }
  std::string Lines(int family, unsigned bytesPerLine, const std::vector<Bytes> &rows) {
    header_ = dwtest::LabelHeader(bytesPerLine, 100000);
    ModelNumber = family;
    ::Page = 1;
    dwtest::CaptureStdout([&] { ::StartPage(nullptr, &header_); });
    return dwtest::CaptureStdout([&] {
      unsigned y = 0;
      for (const Bytes &row : rows) {
        std::memcpy(Buffer, row.data(), row.size());
        ::OutputLine(nullptr, &header_, y++);
      }
    });
  }
  cups_page_header2_t header_{};
};

TEST_F(FastLabelLineTest, PclRowsAsDefinedByteForByte) {
  std::mt19937 rng(71);
  for (const unsigned n : {1u, 7u, 8u, 9u, 17u, 40u, 319u, 700u}) {
    // Rows that change a little, a lot, not at all, or in long stretches.
    std::vector<Bytes> rows;
    Bytes row = RandomBytes(rng, n);
    row[0] |= 1;  // not blank
    for (int i = 0; i < 30; ++i) {
      rows.push_back(row);
      const unsigned changes = rng() % 4 == 0 ? n : rng() % 6;
      for (unsigned c = 0; c < changes; ++c) row[rng() % n] = static_cast<unsigned char>(rng() | 1);
      if (rng() % 5 == 0) std::fill(row.begin() + rng() % n, row.end(), 0x5A);
    }
    std::string expected;
    for (std::size_t i = 0; i < rows.size(); ++i)
      expected += PclRowByDefinition(rows[i], i == 0 ? nullptr : &rows[i - 1]);
    ASSERT_EQ(Lines(kFamilyPcl, n, rows), expected) << n << " bytes a row";
    TearDown();
  }
}

TEST_F(FastLabelLineTest, EplPageLinesAsDefinedByteForByte) {
  std::mt19937 rng(72);
  for (const unsigned n : {1u, 2u, 1023u, 1024u, 1025u, 3000u}) {
    std::vector<Bytes> rows = {RandomBytes(rng, n), Bytes(n, 0), RandomBytes(rng, n)};
    rows[0][0] |= 1;
    rows[2][n - 1] |= 1;
    std::string expected;
    for (unsigned y : {0u, 2u}) {
      expected += "GW0," + std::to_string(y) + "," + std::to_string(n) + ",1\n";
      for (unsigned char byte : rows[y]) expected += static_cast<char>(~byte);
      expected += '\n';
    }
    ASSERT_EQ(Lines(kFamilyEplPage, n, rows), expected) << n << " bytes a row";
    TearDown();
  }
}

}  // namespace
