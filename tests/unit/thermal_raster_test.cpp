// Thermal line placement, run-length code and vertical adjustment: the
// documented examples byte for byte, and random pages read back to dots.
#include <gtest/gtest.h>

#include <random>

#include "decode/decode.h"
#include "decode/oem.h"
#include "oem/oem.h"
#include "support/harness.h"
#include "support/oem_page.h"

using namespace dwtest;

namespace {

class ThermalRasterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFilterState();
    PrintPa.Identified = 1;
  }
  void TearDown() override {
    ReleasePage();
    ResetFilterState();
  }

  // The line records the encoder writes for `image`, as "data" strings.
  std::vector<std::string> Lines(const BwImage &image, std::uint32_t head) {
    ReleasePage();
    LoadImage(image);
    OEMDataThransfer_ThermalPrinter(head);
    std::vector<std::string> lines;
    const std::string out = Commands();
    for (std::size_t i = 0; i < out.size();) {
      EXPECT_EQ(out.substr(i, 2), "\x23\x3C");
      const std::size_t end = out.find("\x23\x3E", i + 2);
      if (end == std::string::npos) break;
      lines.push_back(out.substr(i + 2, end - i - 2));
      i = end + 2;
    }
    return lines;
  }

  // The dots of each coded line.
  std::vector<std::vector<std::uint8_t>> Dots(const BwImage &image, std::uint32_t head) {
    std::vector<std::vector<std::uint8_t>> rows;
    for (const std::string &line : Lines(image, head)) {
      std::vector<dwdecode::Problem> problems;
      rows.push_back(dwdecode::oem::DecodeThermalRuns(line, 0, problems));
      EXPECT_TRUE(problems.empty());
    }
    return rows;
  }

  static int FirstBlack(const std::vector<std::uint8_t> &dots) {
    for (std::size_t i = 0; i < dots.size(); ++i)
      if (dots[i]) return static_cast<int>(i);
    return -1;
  }
};

TEST_F(ThermalRasterTest, RunCodeExamples) {
  struct Case {
    const char *name;
    unsigned head;
    std::vector<std::pair<unsigned, bool>> runs;  // dots, black
    const char *code;
  };
  const Case cases[] = {
      {"all white", 384, {{384, false}}, "80 FB 80 83"},
      {"one black dot first", 384, {{1, true}, {383, false}}, "01 80 FB 80 82"},
      {"300 black then 84 white", 384, {{300, true}, {84, false}}, "81 FB 81 2F 80 53"},
      {"252 black exactly", 384, {{252, true}, {132, false}}, "81 FB 80 83"},
      {"253 black", 384, {{253, true}, {131, false}}, "81 FB 01 80 82"},
      {"two dots", 384, {{2, true}, {382, false}}, "81 01 80 FB 80 81"},
      {"all black 832", 832, {{832, true}}, "81 FB 81 FB 81 FB 81 4B"},
  };
  for (const Case &c : cases) {
    BwImage image(c.head, 1);
    unsigned x = 0;
    for (auto [count, black] : c.runs)
      for (unsigned i = 0; i < count; ++i) image.Set(x++, 0, black);
    const auto lines = Lines(image, c.head);
    ASSERT_EQ(lines.size(), 1u) << c.name;
    EXPECT_EQ(Hex(lines[0]), c.code) << c.name;
  }
}

TEST_F(ThermalRasterTest, AlternatingDotsGiveTheLongestLine) {
  BwImage image(832, 1);
  for (unsigned x = 0; x < 832; x += 2) image.Set(x, 0);
  const auto lines = Lines(image, 832);
  ASSERT_EQ(lines.size(), 1u);
  ASSERT_EQ(lines[0].size(), 832u);
  for (std::size_t i = 0; i < 832; ++i) EXPECT_EQ(lines[0][i], i % 2 == 0 ? '\x01' : '\x00') << i;
}

TEST_F(ThermalRasterTest, AnyNonWhiteByteIsBlack) {
  BwImage image(384, 1);
  image.px[0] = 0x00;
  image.px[1] = 0x7F;  // black too, but a run of its own
  const auto lines = Lines(image, 384);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(Hex(lines[0]), "01 01 80 FB 80 81");
}

TEST_F(ThermalRasterTest, VerticalAdjustmentBlankLinesPerHead) {
  const std::pair<std::uint32_t, const char *> heads[] = {
      {384, "80 FF 80 7F"},          {448, "80 FF 80 BF"},          {576, "80 FF 80 FF 80 3F"},
      {620, "80 FF 80 FF 80 6B"},    {640, "80 FF 80 FF 80 7F"},    {832, "80 FF 80 FF 80 FF 80 3F"},
  };
  PrintPa.VerticalAdj = 2;
  for (auto [head, code] : heads) {
    BwImage image(head, 1);
    image.Set(0, 0);
    const auto lines = Lines(image, head);
    ASSERT_EQ(lines.size(), 17u) << head;
    for (int i = 0; i < 16; ++i) EXPECT_EQ(Hex(lines[static_cast<std::size_t>(i)]), code) << head;
    // The fixed code stands for exactly the head's width of white dots.
    std::vector<dwdecode::Problem> problems;
    const auto dots = dwdecode::oem::DecodeThermalRuns(lines[0], 0, problems);
    EXPECT_EQ(dots, std::vector<std::uint8_t>(head, 0)) << head;
    EXPECT_EQ(FirstBlack(dwdecode::oem::DecodeThermalRuns(lines[16], 0, problems)), 0);
  }
}

TEST_F(ThermalRasterTest, NegativeVerticalAdjustmentSkipsTopRows) {
  BwImage image(384, 20);
  for (unsigned y = 0; y < 20; ++y) image.Set(y, y);
  PrintPa.VerticalAdj = -2;
  const auto rows = Dots(image, 384);
  ASSERT_EQ(rows.size(), 4u);
  for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(FirstBlack(rows[i]), static_cast<int>(16 + i));
  PrintPa.VerticalAdj = -3;  // start row 24 lies beyond the image
  EXPECT_TRUE(Lines(image, 384).empty());
}

TEST_F(ThermalRasterTest, PlacementOfNarrowImages) {
  struct Case {
    unsigned width;
    std::uint8_t rightAlign;
    std::int32_t adjust;
    int firstDot;
  };
  const Case cases[] = {
      {300, 0, 0, 42}, {300, 1, 0, 84}, {301, 0, 0, 41}, {300, 0, -2, 58}, {300, 0, 2, 58}, {300, 1, 1, 92},
  };
  for (const Case &c : cases) {
    BwImage image(c.width, 1);
    image.Set(0, 0);
    PrintPa.RightAlign = c.rightAlign;
    PrintPa.HorizontalAdj = c.adjust;
    const auto rows = Dots(image, 384);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].size(), 384u);
    EXPECT_EQ(FirstBlack(rows[0]), c.firstDot) << c.width << " " << int{c.rightAlign} << " " << c.adjust;
  }
}

TEST_F(ThermalRasterTest, WideImagesAreCutAndShifted) {
  // Every column of a 1000-column image black, with its column number coded
  // in which rows are black, so the printed column can be told apart.
  BwImage image(1000, 10);
  for (unsigned x = 0; x < 1000; ++x)
    for (unsigned bit = 0; bit < 10; ++bit) image.Set(x, bit, (x >> bit) & 1);
  auto printedColumn = [](const std::vector<std::vector<std::uint8_t>> &rows, unsigned dot) {
    int column = 0;
    for (unsigned bit = 0; bit < 10; ++bit) column |= rows[bit][dot] << bit;
    return column;
  };
  PrintPa.HorizontalAdj = 0;
  auto rows = Dots(image, 832);
  EXPECT_EQ(printedColumn(rows, 0), 0);
  EXPECT_EQ(printedColumn(rows, 831), 831);
  PrintPa.HorizontalAdj = -5;
  rows = Dots(image, 832);
  EXPECT_EQ(printedColumn(rows, 0), 5);
  EXPECT_EQ(printedColumn(rows, 831), 836);
  PrintPa.HorizontalAdj = 5;
  rows = Dots(image, 832);
  for (unsigned dot = 0; dot < 40; ++dot) EXPECT_EQ(printedColumn(rows, dot), 0) << "white margin";
  EXPECT_EQ(printedColumn(rows, 41), 1);
  EXPECT_EQ(printedColumn(rows, 831), 791);

  BwImage narrow(835, 1);
  for (unsigned x = 0; x < 835; ++x) narrow.Set(x, 0);
  PrintPa.HorizontalAdj = -5;
  rows = Dots(narrow, 832);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(std::count(rows[0].begin(), rows[0].begin() + 830, 1), 830);
  EXPECT_EQ(rows[0][830] + rows[0][831], 0);
}

// The dot an image shows at `dot` of the printed line, worked out per dot
// from the placement rules: -1 when the dot is left white.
long ExpectedColumn(unsigned dot, unsigned width, unsigned head, int adjust, bool rightAlign) {
  const long d = dot;
  if (width < head) {
    const long offset = rightAlign ? head - width : (head - width) / 2;
    const long column = d - 8L * std::abs(adjust) - offset;
    return column >= 0 && column < static_cast<long>(width) ? column : -1;
  }
  const long column = adjust <= 0 ? d + std::abs(adjust) : d - 8L * adjust;
  return column >= 0 && column < static_cast<long>(width) ? column : -1;
}

TEST_F(ThermalRasterTest, RandomPagesRoundTripThroughTheDecoder) {
  std::mt19937 rng(6);
  const std::uint32_t heads[] = {384, 448, 576, 620, 640, 832};
  for (int round = 0; round < 120; ++round) {
    const std::uint32_t head = heads[rng() % 6];
    const unsigned width = std::uniform_int_distribution<unsigned>(1, 1100)(rng);
    const unsigned height = std::uniform_int_distribution<unsigned>(0, 40)(rng);
    const BwImage image = RandomImage(rng, width, height);
    ReleasePage();
    ResetFilterState();
    PrintPa.Identified = 1;
    PrintPa.HeadWidth = static_cast<std::int32_t>(head);
    PrintPa.RightAlign = static_cast<std::uint8_t>(rng() % 2);
    PrintPa.HorizontalAdj = std::uniform_int_distribution<int>(-20, 20)(rng);
    PrintPa.VerticalAdj = std::uniform_int_distribution<int>(-4, 4)(rng);
    PrintPa.Speed = 2000;
    PrintPa.Density = 60;
    LoadImage(image);
    OrganizePrintInstructionOnePage();
    SCOPED_TRACE(::testing::Message() << "round " << round << " head " << head << " " << width << "x" << height
                                      << " h " << PrintPa.HorizontalAdj << " v " << PrintPa.VerticalAdj
                                      << " right " << int{PrintPa.RightAlign});

    const auto decoded = dwdecode::DecodeOemThermal(Commands());
    ASSERT_TRUE(decoded.problems.empty()) << decoded.problems[0].what << " at " << decoded.problems[0].offset;
    ASSERT_EQ(decoded.pages.size(), 1u);
    const auto &page = decoded.pages[0];
    const int v = PrintPa.VerticalAdj;
    const unsigned blankLines = v > 0 ? 8u * static_cast<unsigned>(v) : 0;
    const unsigned firstRow = v < 0 ? 8u * static_cast<unsigned>(-v) : 0;
    const unsigned printed = firstRow < height ? height - firstRow : 0;
    ASSERT_EQ(page.height, blankLines + printed);
    if (page.height == 0) continue;
    ASSERT_EQ(page.width, head);
    EXPECT_EQ(page.settings[6], (dwdecode::Setting{"page-rows", std::to_string(height)}));
    for (unsigned line = 0; line < page.height; ++line) {
      for (unsigned dot = 0; dot < head; ++dot) {
        bool black = false;
        if (line >= blankLines) {
          const long column = ExpectedColumn(dot, width, head, PrintPa.HorizontalAdj, PrintPa.RightAlign);
          black = column >= 0 && image.Black(static_cast<unsigned>(column), line - blankLines + firstRow);
        }
        ASSERT_EQ(page.Dot(dot, line), black) << "line " << line << " dot " << dot;
      }
    }
  }
}

TEST_F(ThermalRasterTest, ShortImageDataIsNeverReadPastItsEnd) {
  // A page cut short: fewer bytes collected than Height rows of Width.
  BwImage image(384, 3);
  image.Set(5, 2);
  LoadImage(image);
  MyPageInfo.Height = 1000;
  MyPageInfo.ImageSize = 384 * 3 - 1;  // the last row is incomplete
  OEMDataThransfer_ThermalPrinter(384);
  EXPECT_EQ(dwtest::CountOf(Commands(), "\x23\x3C"), 2u);
}

TEST(ThermalDecoderTest, ReportsDamageWithOffsetsAndNeverCrashes) {
  struct Case {
    const char *name;
    std::string stream;
    std::size_t offset;
  };
  const Case cases[] = {
      {"wrong length field", FromHex("40 3C 00 00 00 0D 00 00 40 3E 0D 0A"), 2},
      {"unclosed block", FromHex("40 3C 00 00 00 0C 00 00 23 3C 01"), 8},
      {"bad run code", FromHex("40 3C 00 00 00 10 01 00 23 3C 05 23 3E 40 3E 0D 0A"), 10},
      {"truncated header", FromHex("40 3C 00 00"), 0},
      {"unknown setting", FromHex("40 53 58 58 01 0D 0A"), 0},
      {"stray byte", FromHex("41"), 0},
  };
  for (const Case &c : cases) {
    const auto result = dwdecode::DecodeOemThermal(c.stream);
    ASSERT_FALSE(result.problems.empty()) << c.name;
    EXPECT_EQ(result.problems[0].offset, c.offset) << c.name;
  }
  // Random bytes and random cuts of a valid page: any result, no crash.
  std::mt19937 rng(7);
  for (int i = 0; i < 300; ++i) {
    std::string junk(rng() % 300, '\0');
    for (char &ch : junk) ch = static_cast<char>("\x40\x3C\x23\x3E\x00\x01\x80\x81\x53\x0D\x0A"[rng() % 11]);
    static_cast<void>(dwdecode::DecodeOemThermal(junk));
  }
}

}  // namespace
