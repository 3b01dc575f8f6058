// Raster line output of the five label families and the ZPL and PCL
// encoders, byte for byte from the command formats.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include "dotweave/filter.h"
#include "dotweave/label.h"
#include "support/harness.h"
#include "support/label_pages.h"

using namespace dwtest;

namespace {

class LabelLineTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetFilterState(); }
  void TearDown() override {
    std::free(Buffer);
    std::free(CompBuffer);
    std::free(LastBuffer);
    ResetFilterState();
  }

  // Starts a page of `bytesPerLine` bytes a line; the page start is not kept.
  void Start(int family, unsigned bytesPerLine) {
    header_ = LabelHeader(bytesPerLine, 100000);
    ModelNumber = family;
    Page = 1;
    CaptureStdout([&] { ::StartPage(nullptr, &header_); });
    ASSERT_FALSE(JobFailed);
    y_ = 0;
  }

  void Line(const Bytes &row) {
    if (!row.empty()) std::memcpy(Buffer, row.data(), row.size());
    ::OutputLine(nullptr, &header_, y_++);
  }

  std::string Send(const std::vector<Bytes> &rows) {
    return CaptureStdout([&] {
      for (const Bytes &row : rows) Line(row);
    });
  }

  // For each row, whether standard output was flushed while it was sent.
  std::vector<bool> Flushes(const std::vector<Bytes> &rows) {
    std::vector<bool> flushed;
    CaptureStdout([&] {
      for (const Bytes &row : rows) {
        struct stat before {}, after {};
        fstat(1, &before);
        Line(row);
        fstat(1, &after);
        flushed.push_back(after.st_size != before.st_size);
      }
    });
    return flushed;
  }

  cups_page_header2_t header_{};
  unsigned y_ = 0;
};

Bytes Zeros(std::size_t n) { return Bytes(n, 0); }

TEST_F(LabelLineTest, DymoBlankLinesBecomeFeedsBeforeTheNextPrintedLine) {
  struct Case {
    std::size_t blanks;
    const char *feeds;
  };
  const Case cases[] = {
      {0, ""},
      {1, "1B 66 01 01 "},
      {255, "1B 66 01 FF "},
      {256, "1B 66 01 FF 1B 66 01 01 "},
      {300, "1B 66 01 FF 1B 66 01 2D "},
      {510, "1B 66 01 FF 1B 66 01 FF "},
  };
  for (const Case &c : cases) {
    Start(0x00, 3);
    std::vector<Bytes> rows(c.blanks, Zeros(3));
    rows.push_back({0x80, 0x00, 0x01});
    EXPECT_EQ(Hex(Send(rows)), std::string(c.feeds) + "16 80 00 01") << c.blanks;
    EXPECT_EQ(Feed, 0u);
    TearDown();
  }
}

TEST_F(LabelLineTest, DymoTrailingBlankLinesAreNotWritten) {
  Start(0x00, 2);
  EXPECT_EQ(Send({{0x01, 0x02}, Zeros(2), Zeros(2)}), "\x16\x01\x02");
  EXPECT_EQ(Feed, 2u);
}

TEST_F(LabelLineTest, EplLineWritesEveryLineWithItsByteCount) {
  Start(0x10, 8);
  const Bytes line = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(Hex(Send({line, Zeros(8)})),
            "1B 67 30 30 38 01 02 03 04 05 06 07 08 1B 67 30 30 38 00 00 00 00 00 00 00 00");
  TearDown();
  Start(0x10, 1234);
  EXPECT_EQ(Send({Zeros(1234)}), "\033g1234" + std::string(1234, '\0'));
}

TEST_F(LabelLineTest, EplPageWritesInvertedGraphicLinesAtTheirRow) {
  Start(0x11, 2);
  EXPECT_EQ(Send({Zeros(2), Zeros(2), Zeros(2), Zeros(2), Zeros(2)}), "");
  EXPECT_EQ(Hex(Send({{0x80, 0x00}})), Hex(std::string("GW0,5,2,1\n\x7F\xFF\n")));
}

TEST_F(LabelLineTest, ZplRowsAsCompressedHex) {
  struct Case {
    Bytes row;
    const char *expected;
  };
  // Each row follows the one before it in the same page.
  const Case cases[] = {
      {{0xFF, 0x00, 0x00}, "HF,"},   // two F, then the rest of the row is zeros
      {{0x12, 0x34, 0x00}, "1234,"},
      {{0x12, 0x34, 0x00}, ":"},     // the row before again
      {{0x00, 0x00, 0x00}, ","},     // all zeros
      {{0x80, 0x00, 0x00}, "80,"},   // odd tail of zeros: one "0" keeps the comma on a byte
      {{0x00, 0x01, 0x00}, "I01,"},
      {{0x10, 0x10, 0x10}, "101010"},  // a lone last "0"
      {{0x0F, 0xFF, 0xF0}, "0JF0"},
      {{0x00, 0x00, 0x01}, "K01"},
      {{0x00, 0x00, 0x10}, "J010"},
  };
  Start(0x12, 3);
  for (const Case &c : cases) EXPECT_EQ(Send({c.row}), c.expected) << Hex(c.row);
}

TEST_F(LabelLineTest, ZplFirstRowOfAPageIsNeverARepeat) {
  Start(0x12, 2);
  EXPECT_EQ(Send({Zeros(2), Zeros(2)}), ",:");
  TearDown();
  Start(0x12, 2);  // a new page forgets the row before
  EXPECT_EQ(Send({Zeros(2)}), ",");
}

TEST_F(LabelLineTest, ZplLongRunsUseTheLargeRepeatCharacters) {
  Start(0x12, 250);
  EXPECT_EQ(Send({Bytes(250, 0xFF)}), "zkF");  // 500 = 400 + 5 * 20
  TearDown();
  Start(0x12, 250);
  Bytes row(250, 0x00);
  row[0] = 0xAB;
  EXPECT_EQ(Send({row}), "AB,");
}

TEST_F(LabelLineTest, ZplCompressRepeatCharacters) {
  struct Case {
    char ch;
    std::uint32_t count;
    const char *expected;
  };
  const Case cases[] = {
      {'A', 1, "A"},     {'A', 2, "HA"},     {'A', 19, "YA"},    {'A', 20, "gA"},   {'A', 25, "gKA"},
      {'A', 39, "gYA"},  {'A', 399, "yYA"},  {'A', 400, "zA"},   {'A', 421, "zgGA"}, {'0', 800, "zz0"},
      {'F', 1219, "zzzYF"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(CaptureStdout([&] { ZPLCompress(c.ch, c.count); }), c.expected) << c.count;
}

TEST_F(LabelLineTest, PclFirstRowGoesOutWholeInChunksOfEight) {
  Start(0x20, 10);
  const Bytes row = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  EXPECT_EQ(Hex(Send({row})), "1B 2A 62 31 32 57 E0 01 02 03 04 05 06 07 08 20 09 0A");
  EXPECT_EQ(Send({row}), "\033*b0W");  // unchanged: no data
}

TEST_F(LabelLineTest, PclDeltaRowsWithOffsets) {
  struct Case {
    std::size_t position;
    const char *expected;  // after "ESC * b # W"
  };
  const Case cases[] = {
      {0, "00 55"},         {30, "1E 55"},         {31, "1F 00 55"},
      {40, "1F 09 55"},     {285, "1F FE 55"},     {286, "1F FF 00 55"},
      {300, "1F FF 0E 55"}, {541, "1F FF FF 00 55"}, {599, "1F FF FF 3A 55"},
  };
  for (const Case &c : cases) {
    Start(0x20, 600);
    Send({Bytes(600, 0xAA)});
    Bytes row(600, 0xAA);
    row[c.position] = 0x55;
    const std::string data = FromHex(c.expected);
    EXPECT_EQ(Hex(Send({row})), Hex("\033*b" + std::to_string(data.size()) + "W" + data)) << c.position;
    TearDown();
  }
}

TEST_F(LabelLineTest, PclChangedRunsEndAtEightBytesOrAtAnUnchangedByte) {
  Start(0x20, 20);
  Send({Zeros(20)});  // blank: only counted
  Send({Bytes(20, 1)});
  Bytes row(20, 1);
  for (std::size_t i = 2; i < 12; ++i) row[i] = 2;  // ten changed bytes at 2
  row[14] = 3;                                       // one more at 14
  // offset 2 and eight bytes; offset 0 and two bytes; offset 2 and one byte
  EXPECT_EQ(Hex(Send({row})), Hex("\033*b14W" + FromHex("E2 02 02 02 02 02 02 02 02 20 02 02 02 03")));
}

TEST_F(LabelLineTest, PclBlankRowsBecomeASkipAndTheNextRowHasNoSeed) {
  Start(0x20, 3);
  const Bytes row = {0x0F, 0x00, 0xF0};
  Send({row});
  EXPECT_EQ(Send({Zeros(3), Zeros(3), Zeros(3)}), "");
  EXPECT_EQ(Hex(Send({row})), Hex("\033*b3Y\033*b4W" + FromHex("40 0F 00 F0")));
  EXPECT_EQ(Feed, 0u);
}

TEST_F(LabelLineTest, StandardOutputIsFlushedAfterEveryLineSent) {
  const Bytes printed = {0x01, 0x02}, blank = Zeros(2);
  struct Case {
    int family;
    std::vector<Bytes> rows;
    std::vector<bool> flushed;
  };
  const Case cases[] = {
      {0x00, {printed, blank, printed}, {true, false, true}},
      {0x10, {printed, blank}, {true, true}},
      {0x11, {printed, blank, printed}, {true, false, true}},
      {0x12, {printed, printed, blank, blank}, {true, false, true, false}},  // a repeat is not flushed
      {0x20, {printed, blank, printed}, {false, false, false}},
  };
  for (const Case &c : cases) {
    Start(c.family, 2);
    EXPECT_EQ(Flushes(c.rows), c.flushed) << c.family;
    TearDown();
  }
}

TEST_F(LabelLineTest, EmptyLinesAreSafeInEveryFamily) {
  // libcups refuses a stream with no bytes per line, but the families must
  // still cope when called with such a header.
  struct Case {
    int family;
    const char *lines;
  };
  const Case cases[] = {
      {0x00, ""}, {0x10, "\033g000\033g000"}, {0x11, ""}, {0x12, ""}, {0x20, ""},
  };
  for (const Case &c : cases) {
    Start(c.family, 0);
    EXPECT_EQ(Send({{}, {}}), c.lines) << c.family;
    TearDown();
  }
}

}  // namespace
