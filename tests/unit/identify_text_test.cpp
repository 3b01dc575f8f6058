// The model table, and recognising a model by its name inside a text (the
// device URI of a serial or Bluetooth connection, or the queue name).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "oem/oem.h"
#include "support/harness.h"

using namespace dwtest;

namespace {

// The maker's models as published: name, USB product id, head dots, and
// whether narrow images go against the right end of the head.
struct ModelRow {
  const char *name;
  std::uint32_t productId;
  std::int32_t headWidth;
  std::uint8_t rightAlign;
};

constexpr ModelRow kModels[27] = {
    {"KV412 A", 0x9401, 832, 0},   {"KV416 A", 0x9402, 832, 0},   {"RQN253 A", 0x9403, 832, 0},
    {"KV412Max", 0x5541, 832, 0},  {"KV412 AK", 0x9411, 832, 0},  {"KV416 AK", 0x9412, 832, 0},
    {"KV416 CK", 0x9422, 832, 0},  {"KV412 CK", 0x9421, 832, 0},  {"KV414 A", 0x9301, 640, 0},
    {"RQN739 A", 0x9302, 640, 0},  {"KV414 AK", 0x9311, 640, 0},  {"KV158 AK", 0x9312, 576, 1},
    {"KV961 AK", 0x9313, 576, 0},  {"KV418 A", 0x9201, 384, 0},   {"KV419 A", 0x9202, 384, 0},
    {"KV418 AK", 0x9211, 384, 1},  {"KV419 AK", 0x9212, 384, 1},  {"MB739 A", 0xDF01, 1440, 0},
    {"LC586 A", 0xDF02, 1440, 0},  {"WX3333 A", 0xDF03, 1440, 0}, {"WX2222", 0x900D, 1440, 0},
    {"MB504 A", 0xDF04, 1440, 0},  {"MB504E A", 0xDF05, 1440, 0}, {"FE827 A", 0xDF06, 1440, 0},
    {"FH827 A", 0xDF07, 1440, 0},  {"LC586 AK", 0xDF11, 1440, 0}, {"LC586 AKM", 0xDF12, 1440, 0},
};

TEST(ModelTable, HoldsThePublishedModelsInOrder) {
  for (std::size_t i = 0; i < kModelCount; ++i) {
    SCOPED_TRACE(i);
    EXPECT_STREQ(PIDDatabase[i].ModelName, kModels[i].name);
    EXPECT_EQ(PIDDatabase[i].ProductId, kModels[i].productId);
    EXPECT_EQ(PIDDatabase[i].HeadWidth, kModels[i].headWidth);
    EXPECT_EQ(PIDDatabase[i].RightAlign, kModels[i].rightAlign);
  }
}

TEST(ModelTable, ApplyingARowSetsOnlyTheModelFields) {
  ResetFilterState();
  PrintPa.Density = 77;
  PrintPa.Speed = 5;
  ApplyModelRow(PIDDatabase[17]);  // MB739 A, a needle printer
  EXPECT_EQ(PrintPa.Identified, 1);
  EXPECT_EQ(PrintPa.IsNeedle, 1);
  EXPECT_EQ(PrintPa.HeadWidth, 1440);
  EXPECT_EQ(PrintPa.RightAlign, 0);
  EXPECT_EQ(PrintPa.Density, 77);
  EXPECT_EQ(PrintPa.Speed, 5);
  ApplyModelRow(PIDDatabase[11]);  // KV158 AK, thermal, right-aligned
  EXPECT_EQ(PrintPa.IsNeedle, 0);
  EXPECT_EQ(PrintPa.HeadWidth, 576);
  EXPECT_EQ(PrintPa.RightAlign, 1);
  ResetFilterState();
}

#ifndef DOTWEAVE_USB_SERIAL_ONLY

std::string Normalized(const char *text, std::size_t size) {
  std::string out(size + 4, '#');  // guard bytes after the buffer must stay untouched
  normalize_model_text(text, out.data(), size);
  EXPECT_EQ(out.substr(size), "####") << "wrote past the buffer";
  return std::string(out.c_str());
}

TEST(NormalizeModelText, KeepsAsciiLettersAndDigitsInUpperCase) {
  struct Case {
    const char *text;
    std::size_t size;
    const char *expected;
  } cases[] = {
      {"kv412-a", 64, "KV412A"},
      {"KV412 A", 64, "KV412A"},
      {"serial:/dev/cu.kv412-a", 64, "SERIALDEVCUKV412A"},
      {"  ,.;:!?-_/\\\t\n", 64, ""},
      {"", 64, ""},
      {"K\xC3\xA9V\xE2\x80\x93" "4", 64, "KV4"},  // UTF-8 letters and dashes are dropped, not folded
      {"\x80\xFF" "a1", 64, "A1"},
      {"abcdef", 4, "ABC"},   // at most size - 1 characters
      {"a b c d", 3, "AB"},
      {"abc", 2, "A"},
      {"abc", 1, ""},         // too small for any character
  };
  for (const Case &c : cases) EXPECT_EQ(Normalized(c.text, c.size), c.expected) << c.text;
}

TEST(NormalizeModelText, ZeroSizeWritesNothingAndNullTextIsEmpty) {
  char out[4] = {'x', 'x', 'x', '\0'};
  normalize_model_text("abc", out, 0);
  EXPECT_STREQ(out, "xxx");
  normalize_model_text(nullptr, out, sizeof out);
  EXPECT_STREQ(out, "");
}

class TextMatchTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetFilterState(); }
  void TearDown() override { ResetFilterState(); }
};

// Which row each model's own name selects: a name that contains an earlier
// row's name selects that earlier row, since the first match wins.
TEST_F(TextMatchTest, EveryNameSelectsItsRowOrTheEarlierRowItContains) {
  struct Expectation {
    std::size_t row;
    std::size_t selected;
  } expectations[] = {
      {0, 0},   {1, 1},   {2, 2},   {3, 3},   {4, 0},   {5, 1},   {6, 6},   {7, 7},   {8, 8},
      {9, 9},   {10, 8},  {11, 11}, {12, 12}, {13, 13}, {14, 14}, {15, 13}, {16, 14}, {17, 17},
      {18, 18}, {19, 19}, {20, 20}, {21, 21}, {22, 22}, {23, 23}, {24, 24}, {25, 18}, {26, 18},
  };
  for (const Expectation &e : expectations) {
    SCOPED_TRACE(kModels[e.row].name);
    ResetFilterState();
    const std::string queue = std::string("Office_") + kModels[e.row].name + "_2";
    ASSERT_EQ(set_oem_printer_from_text(queue.c_str()), 1);
    const ModelRow &want = kModels[e.selected];
    EXPECT_EQ(PrintPa.Identified, 1);
    EXPECT_EQ(PrintPa.HeadWidth, want.headWidth);
    EXPECT_EQ(PrintPa.RightAlign, want.rightAlign);
    EXPECT_EQ(PrintPa.IsNeedle, want.headWidth == 1440 ? 1 : 0);
  }
}

TEST_F(TextMatchTest, FirstMatchingRowWinsAndSpellingIsFree) {
  struct Case {
    const char *text;
    int matched;
    std::int32_t headWidth;
    std::uint8_t rightAlign;
    std::uint8_t isNeedle;
  } cases[] = {
      {"serial:/dev/cu.kv412-a", 1, 832, 0, 0},
      {"btserial://KV418AK", 1, 384, 0, 0},      // row 13, not the right-aligned row 15
      {"KV419 AK", 1, 384, 0, 0},                // row 14, not row 16
      {"kv158_ak", 1, 576, 1, 0},                // only right-aligned row reachable by text
      {"/dev/tty.WX2222-SerialPort", 1, 1440, 0, 1},
      {"lc586-akm", 1, 1440, 0, 1},
      {"WX3333", 0, 0, 0, 0},                    // "WX3333 A" needs the A
      {"KV41 2A", 1, 832, 0, 0},                 // spaces do not separate
      {"K\xC3\x96" "412 A", 0, 0, 0, 0},         // non-ASCII letter in place of V
      {"KV412\xC2\xA0" "A", 1, 832, 0, 0},       // a no-break space is dropped like a space
      {" - / . ", 0, 0, 0, 0},
      {"", 0, 0, 0, 0},
      {"ipp://printer.local/ipp/print", 0, 0, 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    ResetFilterState();
    EXPECT_EQ(set_oem_printer_from_text(c.text), c.matched);
    EXPECT_EQ(PrintPa.Identified, c.matched);
    EXPECT_EQ(PrintPa.HeadWidth, c.headWidth);
    EXPECT_EQ(PrintPa.RightAlign, c.rightAlign);
    EXPECT_EQ(PrintPa.IsNeedle, c.isNeedle);
  }
}

TEST_F(TextMatchTest, NoMatchLeavesThePreviousModelFieldsAlone) {
  PrintPa.IsNeedle = 1;
  PrintPa.HeadWidth = 1440;
  PrintPa.RightAlign = 1;
  EXPECT_EQ(set_oem_printer_from_text(nullptr), 0);
  EXPECT_EQ(set_oem_printer_from_text("..."), 0);
  EXPECT_EQ(set_oem_printer_from_text("WX3333"), 0);
  EXPECT_EQ(PrintPa.Identified, 0);
  EXPECT_EQ(PrintPa.IsNeedle, 1);
  EXPECT_EQ(PrintPa.HeadWidth, 1440);
  EXPECT_EQ(PrintPa.RightAlign, 1);
}

TEST_F(TextMatchTest, OnlyTheFirst511KeptCharactersAreSearched) {
  // "KV412A" ends exactly at kept character 511: found.
  std::string text = std::string(505, 'X') + "KV412 A";
  EXPECT_EQ(set_oem_printer_from_text(text.c_str()), 1);
  // One more kept character in front pushes its last letter out.
  ResetFilterState();
  text = std::string(506, 'X') + "KV412 A";
  EXPECT_EQ(set_oem_printer_from_text(text.c_str()), 0);
  // Dropped characters do not count towards the limit.
  ResetFilterState();
  text = std::string(5000, '-') + std::string(505, 'x') + "kv412 a";
  EXPECT_EQ(set_oem_printer_from_text(text.c_str()), 1);
}

#endif  // DOTWEAVE_USB_SERIAL_ONLY

}  // namespace
