// Lossless round trips: pages printed by each label family are decoded back
// to dots by decoders written from the command formats and compared with
// the raster that went in. The decoders are checked first against streams
// written by hand.
#include <gtest/gtest.h>

#include <random>

#include "decode/decode.h"
#include "decode/labels.h"
#include "dotweave/filter.h"
#include "support/harness.h"
#include "support/label_pages.h"

using namespace dwtest;

namespace {

class LabelRoundTripTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetFilterState(); }
  void TearDown() override { ResetFilterState(); }
};

std::vector<std::uint8_t> BytesOf(const std::string &s) { return {s.begin(), s.end()}; }

TEST(LabelDecoders, ZplGraphicDataFromHandWrittenText) {
  struct Case {
    const char *text;
    std::size_t perRow, total;
    const char *bytes;
  };
  const Case cases[] = {
      {"HF,", 3, 3, "FF 00 00"},
      {"1234,:", 3, 6, "12 34 00 12 34 00"},
      {"zkF", 250, 250, nullptr},  // 500 characters F
      {"IA!", 3, 3, "AA AF FF"},
      {"80,\n,\r\n", 2, 4, "80 00 00 00"},
      {"0JF0K01", 3, 6, "0F FF F0 00 00 01"},
  };
  for (const Case &c : cases) {
    const dwdecode::ZplGraphicData data = dwdecode::DecodeZplGraphic(c.text, c.perRow, c.total);
    EXPECT_TRUE(data.complete) << c.text;
    EXPECT_FALSE(data.problem) << c.text;
    EXPECT_EQ(data.bytes, c.bytes ? BytesOf(FromHex(c.bytes)) : std::vector<std::uint8_t>(250, 0xFF)) << c.text;
  }
  // Faults are found, not papered over.
  EXPECT_TRUE(dwdecode::DecodeZplGraphic(":", 1, 1).problem);         // nothing to repeat
  EXPECT_TRUE(dwdecode::DecodeZplGraphic("IFF", 1, 1).problem);       // run past the row
  EXPECT_TRUE(dwdecode::DecodeZplGraphic("F^XA", 1, 1).problem);      // half a row
  EXPECT_FALSE(dwdecode::DecodeZplGraphic("FF~DN", 1, 2).complete);   // stopped by an abort
}

TEST(LabelDecoders, PclDeltaRowsFromHandWrittenData) {
  struct Case {
    const char *data;
    std::size_t at;
  };
  // One byte 0x55 replaced at `at` in a row of 600 bytes of 0xAA.
  const Case cases[] = {
      {"00 55", 0}, {"1E 55", 30}, {"1F 00 55", 31}, {"1F FF 0E 55", 300}, {"1F FF FF 3A 55", 599},
  };
  for (const Case &c : cases) {
    std::vector<std::uint8_t> seed(600, 0xAA);
    EXPECT_FALSE(dwdecode::ApplyDeltaRow(BytesOf(FromHex(c.data)), seed)) << c.data;
    std::vector<std::uint8_t> expected(600, 0xAA);
    expected[c.at] = 0x55;
    EXPECT_EQ(seed, expected) << c.data;
  }
  std::vector<std::uint8_t> seed(10, 0);
  EXPECT_FALSE(dwdecode::ApplyDeltaRow(BytesOf(FromHex("E0 01 02 03 04 05 06 07 08 20 09 0A")), seed));
  EXPECT_EQ(seed, BytesOf(FromHex("01 02 03 04 05 06 07 08 09 0A")));
  EXPECT_TRUE(dwdecode::ApplyDeltaRow(BytesOf(FromHex("1F FF")), seed));     // extension cut short
  EXPECT_TRUE(dwdecode::ApplyDeltaRow(BytesOf(FromHex("E0 01 02")), seed));  // bytes cut short
  EXPECT_TRUE(dwdecode::ApplyDeltaRow(BytesOf(FromHex("09 01 20 01 02")), seed));  // past the row
}

// Rows that stress the encoders: runs around the repeat character limits,
// odd zero tails, and changes at offsets around the extension byte limits.
std::vector<Bytes> AdversarialRows(std::size_t n) {
  std::vector<Bytes> rows;
  rows.push_back(Bytes(n, 0));
  rows.push_back(Bytes(n, 0xFF));
  rows.push_back(Bytes(n, 0xFF));
  Bytes alternating(n);
  for (std::size_t i = 0; i < n; ++i) alternating[i] = i % 2 ? 0x55 : 0xAA;
  rows.push_back(alternating);
  for (std::size_t run : {1u, 9u, 10u, 199u, 200u, 201u, 210u, 399u, 400u, 401u, 1000u}) {
    Bytes row(n, 0x11);
    for (std::size_t i = 0; i < run && i < n; ++i) row[i] = 0x00;
    rows.push_back(row);
    Bytes tail(n, 0x00);
    tail[0] = 0x01;
    if (run < n) tail[n - 1 - run] = 0xF0;  // zeros after a lone nibble
    rows.push_back(tail);
  }
  for (std::size_t offset : {0u, 30u, 31u, 32u, 285u, 286u, 287u, 300u, 540u, 541u, 542u, 1000u, 3999u}) {
    Bytes row = rows.back();
    if (offset < n) row[offset] ^= 0x81;
    rows.push_back(row);
    if (offset + 9 < n) {
      for (std::size_t i = offset; i < offset + 9; ++i) row[i] ^= 0x3C;  // a change of nine bytes
      rows.push_back(row);
    }
  }
  return rows;
}

constexpr std::size_t kRowLengths[] = {1, 2, 3, 7, 8, 9, 16, 31, 100, 104, 250, 401, 1000, 4000};

std::vector<Bytes> RowsFor(std::size_t n, std::mt19937 &rng) {
  std::vector<Bytes> rows = AdversarialRows(n);
  const std::size_t random = n >= 1000 ? 120 : 400;
  std::vector<Bytes> more = AssortedRows(rng, random, n);
  rows.insert(rows.end(), more.begin(), more.end());
  return rows;
}

TEST_F(LabelRoundTripTest, ZplRowsDecodeToTheRaster) {
  std::mt19937 rng(12345);
  std::size_t total = 0;
  for (std::size_t n : kRowLengths) {
    const std::vector<Bytes> rows = RowsFor(n, rng);
    const cups_page_header2_t h = LabelHeader(static_cast<unsigned>(n), static_cast<unsigned>(rows.size()));
    const dwdecode::DecodeResult decoded = dwdecode::DecodeZpl(PrintPage(0x12, nullptr, h, rows));
    ASSERT_TRUE(decoded.problems.empty()) << n << ": " << decoded.problems[0].what << " at "
                                          << decoded.problems[0].offset;
    ASSERT_EQ(decoded.pages.size(), 1u) << n;
    EXPECT_EQ(decoded.pages[0].width, 8 * n);
    EXPECT_EQ(decoded.pages[0].height, rows.size());
    EXPECT_TRUE(decoded.pages[0].dots == DotsOf(rows, static_cast<unsigned>(8 * n))) << n;
    total += rows.size();
  }
  EXPECT_GE(total, 5000u);
}

TEST_F(LabelRoundTripTest, PclRowsDecodeToTheRaster) {
  std::mt19937 rng(54321);
  std::size_t total = 0;
  for (std::size_t n : kRowLengths) {
    std::vector<Bytes> rows = RowsFor(n, rng);
    rows.resize(rows.size() + 3, Bytes(n, 0));  // blank rows at the end are never sent
    cups_page_header2_t h = LabelHeader(static_cast<unsigned>(n), static_cast<unsigned>(rows.size()), 300);
    h.PageSize[1] = 792;
    const dwdecode::DecodeResult decoded = dwdecode::DecodePcl(PrintPage(0x20, nullptr, h, rows, 2));
    ASSERT_TRUE(decoded.problems.empty()) << n << ": " << decoded.problems[0].what << " at "
                                          << decoded.problems[0].offset;
    ASSERT_EQ(decoded.pages.size(), 1u) << n;
    EXPECT_EQ(decoded.pages[0].width, 8 * n);
    EXPECT_EQ(decoded.pages[0].height, rows.size());
    EXPECT_TRUE(decoded.pages[0].dots == DotsOf(rows, static_cast<unsigned>(8 * n))) << n;
    total += rows.size();
  }
  EXPECT_GE(total, 5000u);
}

// The decoded page shows the raster's rows; blank rows at the end of the
// raster may be missing (they are never sent).
void ExpectSameDots(const dwdecode::DecodedPage &page, std::vector<Bytes> rows, unsigned width) {
  ASSERT_LE(page.height, rows.size());
  for (std::size_t y = page.height; y < rows.size(); ++y)
    EXPECT_EQ(rows[y], Bytes(rows[y].size(), 0)) << "row " << y << " was not printed";
  rows.resize(page.height);
  EXPECT_EQ(page.width, width);
  EXPECT_TRUE(page.dots == DotsOf(rows, width));
}

TEST_F(LabelRoundTripTest, DymoAndEplPagesDecodeToTheRaster) {
  std::mt19937 rng(777);
  for (int family : {0x00, 0x10, 0x11}) {
    for (std::size_t n : {1u, 8u, 84u, 255u}) {
      std::vector<Bytes> rows = AssortedRows(rng, 300, n);
      rows.insert(rows.begin() + 10, 300, Bytes(n, 0));  // more than 255 blank rows in a row
      cups_page_header2_t h = LabelHeader(static_cast<unsigned>(n), static_cast<unsigned>(rows.size()));
      const std::string out = PrintPage(family, nullptr, h, rows);
      const dwdecode::DecodeResult decoded = family == 0x00   ? dwdecode::DecodeDymo(out)
                                             : family == 0x10 ? dwdecode::DecodeEplLine(out)
                                                              : dwdecode::DecodeEplPage(out);
      ASSERT_TRUE(decoded.problems.empty()) << family << "/" << n << ": " << decoded.problems[0].what;
      ASSERT_EQ(decoded.pages.size(), 1u);
      ExpectSameDots(decoded.pages[0], rows, static_cast<unsigned>(8 * n));
    }
  }
}

}  // namespace

namespace {

// Damaged streams (cut anywhere, bytes changed) are reported by the
// decoders, never read out of bounds.
TEST_F(LabelRoundTripTest, DecodersSurviveDamagedStreams) {
  std::mt19937 rng(99);
  using DecodeFn = dwdecode::DecodeResult (*)(std::string_view);
  const std::pair<int, DecodeFn> families[] = {{0x00, dwdecode::DecodeDymo}, {0x10, dwdecode::DecodeEplLine},
                                               {0x11, dwdecode::DecodeEplPage}, {0x12, dwdecode::DecodeZpl},
                                               {0x20, dwdecode::DecodePcl}};
  for (const auto &[family, decode] : families) {
    const std::vector<Bytes> rows = AssortedRows(rng, 40, 9);
    cups_page_header2_t h = LabelHeader(9, 40);
    h.PageSize[1] = 792;
    const std::string out = PrintPage(family, nullptr, h, rows, 2);
    ASSERT_TRUE(decode(out).problems.empty()) << family;
    for (int trial = 0; trial < 300; ++trial) {
      std::string damaged = out.substr(0, std::uniform_int_distribution<std::size_t>(0, out.size())(rng));
      if (trial % 2 == 1 && !damaged.empty())
        damaged[std::uniform_int_distribution<std::size_t>(0, damaged.size() - 1)(rng)] =
            static_cast<char>(rng() & 0xFF);
      const dwdecode::DecodeResult d = decode(damaged);
      for (const dwdecode::DecodedPage &page : d.pages)
        EXPECT_EQ(page.dots.size(), std::size_t{page.width} * page.height) << family;
    }
  }
}

}  // namespace
