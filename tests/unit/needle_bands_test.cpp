// Needle bands, blank-row feeds, adjustments and fixed page lengths: the
// documented examples byte for byte, and random pages replayed to dots.
#include <gtest/gtest.h>

#include <random>

#include "decode/decode.h"
#include "decode/oem.h"
#include "oem/oem.h"
#include "support/harness.h"
#include "support/oem_page.h"

using namespace dwtest;
using dwdecode::Setting;

namespace {

constexpr unsigned kDots = 1440;

class NeedleBandsTest : public ::testing::Test {
 protected:
  void SetUp() override { Identify(); }
  void TearDown() override {
    ReleasePage();
    ResetFilterState();
  }
  static void Identify() {
    ReleasePage();
    ResetFilterState();
    PrintPa.Identified = 1;
    PrintPa.IsNeedle = 1;
    PrintPa.HeadWidth = 1440;
    PrintPa.Density = 2;
  }

  // The whole page stream for `image` with the current settings.
  static std::string PageFor(const BwImage &image) {
    ReleasePage();
    LoadImage(image);
    OrganizePrintInstructionOnePage();
    return Commands();
  }

  static dwdecode::DecodedPage DecodeOne(const std::string &stream) {
    const auto decoded = dwdecode::DecodeOemNeedle(stream);
    EXPECT_TRUE(decoded.problems.empty()) << decoded.problems[0].what << " at " << decoded.problems[0].offset;
    EXPECT_EQ(decoded.pages.size(), 1u);
    return decoded.pages.empty() ? dwdecode::DecodedPage{} : decoded.pages[0];
  }

  // The feeds and band positions of a page, in stream order.
  static std::vector<std::string> Motion(const dwdecode::DecodedPage &page) {
    std::vector<std::string> motion;
    for (const Setting &s : page.settings)
      if (s.first == "feed" || s.first == "band") motion.push_back(s.first + " " + s.second);
    return motion;
  }
};

TEST_F(NeedleBandsTest, PageStreamFrame) {
  PrintPa.Unidirectional = 1;
  PrintPa.Speed = 1;
  PrintPa.StartPosition = -5;
  PrintPa.CutPosition = 7;
  BwImage image(10, 3);
  image.Set(0, 0);
  const std::string out = PageFor(image);
  // Zero block, density, unidirectional, speed, page length, start position,
  // one band of one dot (row 0 lives in the second half, bit 0x80), its feed,
  // the end page and the cut position.
  std::string expected = std::string(64, '\0') +
                         FromHex("1B 0A 01 02 00 00 00 1B 55 01 1B 7A 01 1B 89 00 03 1B A1 05 1B 2A 01 40 0B");
  std::string band(2880, '\0');
  band[1440] = '\x80';
  expected += band + FromHex("1B 4A 10 0D 1D 56 53 1B 9C 07");
  EXPECT_EQ(out, expected);

  const auto page = DecodeOne(out);
  EXPECT_EQ(page.settings, (std::vector<Setting>{{"zero-block", "64"},
                                                  {"density", "2"},
                                                  {"unidirectional", "1"},
                                                  {"speed", "1"},
                                                  {"page-length", "3"},
                                                  {"start-position", "-5"},
                                                  {"band", "0"},
                                                  {"feed", "16"},
                                                  {"end-page", ""},
                                                  {"cut-position", "7"}}));
  EXPECT_EQ(page.height, 16u);
  EXPECT_TRUE(page.Dot(0, 0));
  EXPECT_EQ(std::count(page.dots.begin(), page.dots.end(), 1), 1);
}

TEST_F(NeedleBandsTest, BandRowBitTable) {
  // One dot per row r at column r: row r's bit is 0x80 >> (r / 2), odd rows in
  // the first half and even rows in the second.
  BwImage image(16, 16);
  for (unsigned r = 0; r < 16; ++r) image.Set(r, r);
  const std::string out = PageFor(image);
  const std::size_t bandAt = out.find(FromHex("1B 2A 01 40 0B"));
  ASSERT_NE(bandAt, std::string::npos);
  const std::string band = out.substr(bandAt + 5, 2880);
  const unsigned char bits[16] = {0x80, 0x80, 0x40, 0x40, 0x20, 0x20, 0x10, 0x10,
                                  0x08, 0x08, 0x04, 0x04, 0x02, 0x02, 0x01, 0x01};
  std::string expected(2880, '\0');
  for (unsigned r = 0; r < 16; ++r) expected[(r % 2 ? 0 : 1440) + r] = static_cast<char>(bits[r]);
  EXPECT_EQ(Hex(band), Hex(expected));
}

TEST_F(NeedleBandsTest, ThousandBlackRowsOnTheShortestFixedPage) {
  PrintPa.FixPageHeight = 1;
  BwImage image(100, 1000);
  for (unsigned y = 0; y < 1000; ++y) image.Set(50, y);
  const std::string out = PageFor(image);
  EXPECT_EQ(CountOf(out, FromHex("1B 2A 01 40 0B")), 33u);
  // 32 full band feeds, the 33rd cut to the 16 rows left, the zero feed, and
  // no completion before the end page and cut position.
  EXPECT_EQ(CountOf(out, FromHex("1B 4A 10 0D")), 33u);
  const std::string tail = FromHex("1B 4A 10 0D 1B 4A 00 0D 1D 56 53 1B 9C 00");
  EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
  const auto page = DecodeOne(out);
  EXPECT_EQ(page.height, 528u);
  for (unsigned y = 0; y < 528; ++y) ASSERT_TRUE(page.Dot(50, y)) << y;
}

TEST_F(NeedleBandsTest, WhitePageIsFedToItsFixedLength) {
  PrintPa.FixPageHeight = 2;
  const auto page = DecodeOne(PageFor(BwImage(100, 100)));
  EXPECT_EQ(Motion(page), (std::vector<std::string>{"feed 64", "feed 36", "feed 128", "feed 128", "feed 128",
                                                    "feed 92"}));
  EXPECT_EQ(page.height, 576u);
}

TEST_F(NeedleBandsTest, UnfixedPageKeepsItsHeightAndFeedsTrailingBlankRows) {
  BwImage image(20, 700);
  image.Set(3, 100);
  const std::string out = PageFor(image);
  EXPECT_NE(out.find(FromHex("1B 89 02 BC")), std::string::npos);
  const auto page = DecodeOne(out);
  // 100 blank rows (64 + 36), a band, then 584 rows: 9 feeds of 64 and 8.
  std::vector<std::string> expected = {"feed 64", "feed 36", "band 100", "feed 16"};
  for (int i = 0; i < 9; ++i) expected.push_back("feed 64");
  expected.push_back("feed 8");
  EXPECT_EQ(Motion(page), expected);
  EXPECT_EQ(page.height, 700u);
  EXPECT_TRUE(page.Dot(3, 100));
}

TEST_F(NeedleBandsTest, VerticalAdjustment) {
  BwImage image(8, 30);
  for (unsigned y = 0; y < 30; ++y) image.Set(0, y);
  PrintPa.VerticalAdj = 3;
  std::string out = PageFor(image);
  EXPECT_EQ(Hex(out.substr(64 + 20, 4)), "1B 4A 12 0D") << "first command after the start position";
  auto page = DecodeOne(out);
  EXPECT_FALSE(page.Dot(0, 17));
  EXPECT_TRUE(page.Dot(0, 18));
  EXPECT_TRUE(page.Dot(0, 47));

  PrintPa.VerticalAdj = -2;  // rows 0 to 11 are neither printed nor fed
  page = DecodeOne(PageFor(image));
  EXPECT_EQ(Motion(page), (std::vector<std::string>{"band 0", "feed 16", "band 16", "feed 16"}));
  EXPECT_TRUE(page.Dot(0, 0));
  EXPECT_TRUE(page.Dot(0, 17));
  EXPECT_FALSE(page.Dot(0, 18)) << "image row 30 does not exist";
}

TEST_F(NeedleBandsTest, HorizontalAdjustment) {
  BwImage image(30, 2);
  for (unsigned x = 0; x < 6; ++x) image.Set(x, 0);  // only in the skipped columns
  image.Set(6, 1);
  PrintPa.HorizontalAdj = -1;
  auto page = DecodeOne(PageFor(image));
  EXPECT_EQ(Motion(page), (std::vector<std::string>{"feed 1", "band 1", "feed 16"}))
      << "row 0 counts as blank";
  EXPECT_TRUE(page.Dot(6, 1)) << "kept at its own position";
  EXPECT_EQ(std::count(page.dots.begin(), page.dots.end(), 1), 1);

  PrintPa.HorizontalAdj = 2;
  page = DecodeOne(PageFor(image));
  for (unsigned x = 0; x < 6; ++x) EXPECT_TRUE(page.Dot(x + 12, 0));
  EXPECT_TRUE(page.Dot(18, 1));
  EXPECT_EQ(std::count(page.dots.begin(), page.dots.end(), 1), 7);
}

TEST_F(NeedleBandsTest, DotsShiftedPastTheHeadAreDroppedNotWrittenIntoTheOtherHalf) {
  // Shift 120: columns 1320 and beyond have no place on the head. Black
  // dots only in even rows (the band's second half), so the first half must
  // stay empty and nothing may land past the band.
  BwImage image(1440, 16);
  for (unsigned y = 0; y < 16; y += 2)
    for (unsigned x = 1300; x < 1440; ++x) image.Set(x, y);
  PrintPa.HorizontalAdj = 20;
  const std::string out = PageFor(image);
  const std::size_t bandAt = out.find(FromHex("1B 2A 01 40 0B"));
  ASSERT_NE(bandAt, std::string::npos);
  const std::string band = out.substr(bandAt + 5, 2880);
  std::string expected(2880, '\0');
  for (unsigned x = 1300; x < 1320; ++x) expected[1440 + x + 120] = '\xFF';
  EXPECT_EQ(Hex(band), Hex(expected));
  EXPECT_EQ(out.size(), 64u + 20u + 5u + 2880u + 4u + 6u) << "nothing written past the band";
}

TEST_F(NeedleBandsTest, DotsBeyondTheHeadStillStartBands) {
  BwImage image(1500, 3);
  image.Set(1450, 0);
  image.Set(1499, 2);
  const std::string out = PageFor(image);
  const std::string band = FromHex("1B 2A 01 40 0B") + std::string(2880, '\0') + FromHex("1B 4A 10 0D");
  EXPECT_EQ(CountOf(out, band), 1u);
  const auto page = DecodeOne(out);
  EXPECT_EQ(std::count(page.dots.begin(), page.dots.end(), 1), 0);
}

TEST_F(NeedleBandsTest, BandNearTheBottomUsesOnlyTheRowsLeft) {
  BwImage image(4, 21);
  image.Set(1, 16);
  for (unsigned y = 16; y < 21; ++y) image.Set(2, y);
  const auto page = DecodeOne(PageFor(image));
  EXPECT_EQ(Motion(page), (std::vector<std::string>{"feed 16", "band 16", "feed 16"}));
  EXPECT_EQ(page.height, 32u);
  for (unsigned y = 16; y < 21; ++y) EXPECT_TRUE(page.Dot(2, y));
  EXPECT_EQ(std::count(page.dots.begin(), page.dots.end(), 1), 6);
}

TEST_F(NeedleBandsTest, ShortImageDataIsNeverReadPastItsEnd) {
  BwImage image(100, 4);
  image.Set(0, 3);
  LoadImage(image);
  MyPageInfo.Height = 5000;
  MyPageInfo.ImageSize = 100 * 3 + 50;  // the fourth row is incomplete
  OEMDataThransfer_Needle();
  EXPECT_EQ(CountOf(Commands(), FromHex("1B 2A 01 40 0B")), 0u);
}

TEST_F(NeedleBandsTest, RandomPagesReplayToTheImage) {
  std::mt19937 rng(64);
  for (int round = 0; round < 60; ++round) {
    const unsigned width = std::uniform_int_distribution<unsigned>(1, 1500)(rng);
    const unsigned height = std::uniform_int_distribution<unsigned>(0, 700)(rng);
    const BwImage image = RandomImage(rng, width, height);
    Identify();
    const int h = PrintPa.HorizontalAdj = std::uniform_int_distribution<int>(-20, 20)(rng);
    const int v = PrintPa.VerticalAdj = std::uniform_int_distribution<int>(-20, 20)(rng);
    const int fix = PrintPa.FixPageHeight = std::uniform_int_distribution<int>(0, 5)(rng);
    SCOPED_TRACE(::testing::Message() << "round " << round << " " << width << "x" << height << " h " << h
                                      << " v " << v << " fix " << fix);
    const auto page = DecodeOne(PageFor(image));
    ASSERT_EQ(page.width, kDots);

    const unsigned offset = v > 0 ? 6u * static_cast<unsigned>(v) : 0;  // rows fed before the image
    const unsigned firstRow = v < 0 ? 6u * static_cast<unsigned>(-v) : 0;
    const unsigned imageRows = height > firstRow ? height - firstRow : 0;
    constexpr unsigned kLengths[] = {0, 528, 576, 720, 792, 1584};
    if (fix > 0) {
      ASSERT_EQ(page.height, kLengths[fix]);
    } else {
      // The last band may advance up to 15 rows past the image.
      ASSERT_GE(page.height, offset + imageRows);
      ASSERT_LE(page.height, offset + imageRows + 15);
    }
    const unsigned firstColumn = h < 0 ? 6u * static_cast<unsigned>(-h) : 0;
    const unsigned shift = h > 0 ? 6u * static_cast<unsigned>(h) : 0;
    std::vector<std::uint8_t> expected(std::size_t{page.height} * kDots, 0);
    for (unsigned row = offset; row < page.height && row - offset < imageRows; ++row)
      for (unsigned x = firstColumn; x < width && x + shift < kDots; ++x)
        if (image.Black(x, row - offset + firstRow)) expected[std::size_t{row} * kDots + x + shift] = 1;
    if (page.dots != expected) {
      const auto mismatch = std::mismatch(page.dots.begin(), page.dots.end(), expected.begin()).first;
      const auto at = static_cast<std::size_t>(mismatch - page.dots.begin());
      FAIL() << "first wrong dot: row " << at / kDots << " dot " << at % kDots;
    }
  }
}

TEST(NeedleDecoderTest, ReportsDamageWithOffsetsAndNeverCrashes) {
  struct Case {
    const char *name;
    std::string stream;
    std::size_t offset;
  };
  const Case cases[] = {
      {"band cut short", FromHex("00 00 1B 2A 01 40 0B 00 00"), 2},
      {"odd image size", FromHex("1B 2A 01 02 00 FF FF"), 0},
      {"feed without 0D", FromHex("1B 4A 10 0E"), 3},
      {"unknown escape", FromHex("1B 99 00"), 0},
      {"truncated command", FromHex("1B 89 02"), 0},
      {"stray byte", FromHex("1B 7A 00 42"), 3},
  };
  for (const Case &c : cases) {
    const auto result = dwdecode::DecodeOemNeedle(c.stream);
    ASSERT_FALSE(result.problems.empty()) << c.name;
    EXPECT_EQ(result.problems[0].offset, c.offset) << c.name;
  }
  std::mt19937 rng(9);
  for (int i = 0; i < 300; ++i) {
    std::string junk(rng() % 400, '\0');
    for (char &ch : junk) ch = static_cast<char>("\x1B\x1D\x2A\x4A\x56\x53\x00\x01\x0B\xFF\x0D"[rng() % 11]);
    static_cast<void>(dwdecode::DecodeOemNeedle(junk));
  }
  // A page of feeds far beyond any real page is cut, not allocated.
  std::string tall;
  for (int i = 0; i < 200; ++i) tall += FromHex("1B 4A FF 0D");
  tall += FromHex("1B 2A 01 40 0B") + std::string(2880, '\xFF');
  const auto result = dwdecode::DecodeOemNeedle(tall);
  ASSERT_EQ(result.pages.size(), 1u);
  EXPECT_EQ(result.pages[0].height, dwdecode::oem::kMaxPageRows);
  EXPECT_FALSE(result.problems.empty());
}

}  // namespace
