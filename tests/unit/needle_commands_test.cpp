// Needle settings, feed and band commands, the fixed page length feeds and
// the end-of-page completion.
#include <gtest/gtest.h>

#include <functional>

#include "oem/oem.h"
#include "support/harness.h"
#include "support/oem_page.h"

using namespace dwtest;

namespace {

class NeedleCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFilterState();
    PrintPa.Identified = 1;
    PrintPa.IsNeedle = 1;
    PrintPa.HeadWidth = 1440;
  }
  void TearDown() override {
    ReleasePage();
    ResetFilterState();
  }
};

TEST_F(NeedleCommandsTest, CommandBytes) {
  struct Case {
    const char *name;
    std::function<void()> send;
    const char *bytes;
  };
  const Case cases[] = {
      {"density 2", [] { PrintPa.Density = 2; OEMSendDensityCommand(); }, "1B 0A 01 02 00 00 00"},
      {"speed 1", [] { PrintPa.Speed = 1; OEMSendSpeedCommand(); }, "1B 7A 01"},
      {"speed 0", [] { PrintPa.Speed = 0; OEMSendSpeedCommand(); }, "1B 7A 00"},
      {"unidirectional 1", [] { PrintPa.Unidirectional = 1; OEMSendUnidirectionalCommand(); }, "1B 55 01"},
      {"start -5", [] { PrintPa.StartPosition = -5; OEMSendPrintStartPositionCommand(); }, "1B A1 05"},
      {"start 5", [] { PrintPa.StartPosition = 5; OEMSendPrintStartPositionCommand(); }, "1B A0 05"},
      {"start 0", [] { PrintPa.StartPosition = 0; OEMSendPrintStartPositionCommand(); }, "1B A0 00"},
      {"start -120", [] { PrintPa.StartPosition = -120; OEMSendPrintStartPositionCommand(); }, "1B A1 78"},
      {"cut -7", [] { PrintPa.CutPosition = -7; OEMSendPrintCutPositionCommand(); }, "1B 9E 07"},
      {"cut 7", [] { PrintPa.CutPosition = 7; OEMSendPrintCutPositionCommand(); }, "1B 9C 07"},
      {"cut 0", [] { PrintPa.CutPosition = 0; OEMSendPrintCutPositionCommand(); }, "1B 9C 00"},
      {"end page", [] { OEMSendEndPageCommand(); }, "1D 56 53"},
      {"image header", [] { OEMSendImageHeaderCommand(2880); }, "1B 2A 01 40 0B"},
      {"image header low 16 bits", [] { OEMSendImageHeaderCommand(0x12345); }, "1B 2A 01 45 23"},
      {"feed 18", [] { OEMSendPaperFeedCommand(18); }, "1B 4A 12 0D"},
      {"feed low 8 bits", [] { OEMSendPaperFeedCommand(0x1FF); }, "1B 4A FF 0D"},
      {"page length 700 rows", [] { PrintPa.FixPageHeight = 0; MyPageInfo.Height = 700; OEMSendPageLengthCommand(); },
       "1B 89 02 BC"},
  };
  for (const Case &c : cases) EXPECT_EQ(Hex(Appended(c.send)), c.bytes) << c.name;
}

TEST_F(NeedleCommandsTest, FixedPageLengths) {
  const char *bytes[] = {"", "02 10", "02 40", "02 D0", "03 18", "06 30"};
  MyPageInfo.Height = 9999;
  for (int fix = 1; fix <= 5; ++fix) {
    PrintPa.FixPageHeight = fix;
    EXPECT_EQ(Hex(Appended(OEMSendPageLengthCommand)), std::string("1B 89 ") + bytes[fix]) << fix;
  }
}

TEST_F(NeedleCommandsTest, WritersAreGatedOnIdentificationAndPrinterKind) {
  void (*const needleOnly[])() = {OEMSendUnidirectionalCommand, OEMSendPageLengthCommand,
                                  OEMSendPrintStartPositionCommand, OEMSendEndPageCommand,
                                  OEMSendPrintCutPositionCommand, [] { OEMSendPaperFeedCommand(16); },
                                  [] { OEMSendImageHeaderCommand(2880); }};
  PrintPa.Identified = 0;
  for (auto send : needleOnly) EXPECT_EQ(Appended(send), "");
  EXPECT_EQ(Appended(OEMSendSpeedCommand), "");
  EXPECT_EQ(Appended(OEMSendDensityCommand), "");
  PrintPa.Identified = 1;
  PrintPa.IsNeedle = 0;
  for (auto send : needleOnly) EXPECT_EQ(Appended(send), "");
  // Speed and density take their thermal form.
  PrintPa.Speed = 1;
  PrintPa.Density = 2;
  EXPECT_EQ(Hex(Appended(OEMSendSpeedCommand)), "40 53 4D 53 00 01 0D 0A");
  EXPECT_EQ(Hex(Appended(OEMSendDensityCommand)), "40 53 7E 7E 02 0D 0A");
}

TEST_F(NeedleCommandsTest, FeedRuleWithoutFixedLength) {
  std::uint64_t total = 0;
  EXPECT_EQ(Hex(Appended([&] { EXPECT_EQ(OEMNeedlePrinter_FixedPageAlgorithm(200, &total), 1); })), "1B 4A C8 0D");
  EXPECT_EQ(total, 200u);
  EXPECT_EQ(Appended([&] { EXPECT_EQ(OEMCompensateEndPage(&total), 0); }), "");
}

TEST_F(NeedleCommandsTest, FeedRuleStopsExactlyAtTheFixedLength) {
  PrintPa.FixPageHeight = 1;  // 528 rows
  std::uint64_t total = 500;
  EXPECT_EQ(Hex(Appended([&] { EXPECT_EQ(OEMNeedlePrinter_FixedPageAlgorithm(27, &total), 1); })), "1B 4A 1B 0D");
  EXPECT_EQ(total, 527u);
  EXPECT_EQ(Hex(Appended([&] { EXPECT_EQ(OEMNeedlePrinter_FixedPageAlgorithm(64, &total), 0); })),
            "1B 4A 01 0D 1B 4A 00 0D");
  EXPECT_EQ(total, 528u);
  total = 512;  // reaching the length exactly also fills the page
  EXPECT_EQ(Hex(Appended([&] { EXPECT_EQ(OEMNeedlePrinter_FixedPageAlgorithm(16, &total), 0); })),
            "1B 4A 10 0D 1B 4A 00 0D");
}

TEST_F(NeedleCommandsTest, CompletionFeedsInStepsOf128) {
  struct Case {
    int fix;
    std::uint64_t total;
    const char *feeds;
  };
  const Case cases[] = {
      {4, 492, "1B 4A 80 0D 1B 4A 80 0D 1B 4A 2C 0D"},  // 300 left
      {2, 320, "1B 4A 80 0D 1B 4A 80 0D"},              // 256 left
      {3, 592, "1B 4A 80 0D"},                          // 128 left
      {3, 719, "1B 4A 01 0D"},
      {5, 0, "1B 4A 80 0D 1B 4A 80 0D 1B 4A 80 0D 1B 4A 80 0D 1B 4A 80 0D 1B 4A 80 0D 1B 4A 80 0D "
             "1B 4A 80 0D 1B 4A 80 0D 1B 4A 80 0D 1B 4A 80 0D 1B 4A 80 0D 1B 4A 30 0D"},
  };
  for (const Case &c : cases) {
    PrintPa.FixPageHeight = c.fix;
    std::uint64_t total = c.total;
    EXPECT_EQ(Hex(Appended([&] { EXPECT_EQ(OEMCompensateEndPage(&total), 1); })), c.feeds) << c.fix;
    constexpr std::uint64_t kLengths[] = {0, 528, 576, 720, 792, 1584};
    EXPECT_EQ(total, kLengths[c.fix]);
    EXPECT_EQ(Appended([&] { EXPECT_EQ(OEMCompensateEndPage(&total), 0); }), "") << "already full";
  }
}

}  // namespace
