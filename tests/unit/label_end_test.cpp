// Page end commands of the five label families, the completion of a ZPL
// download cut short, and the failure of the compression buffers.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "decode/decode.h"
#include "dotweave/filter.h"
#include "dotweave/label.h"
#include "support/harness.h"
#include "support/label_pages.h"

using namespace dwtest;

namespace {

class LabelEndTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetFilterState(); }
  void TearDown() override { ResetFilterState(); }
};

TEST_F(LabelEndTest, SimpleFamilies) {
  struct Case {
    void (*end)(ppd_file_t *, const cups_page_header2_t *);
    int cut;
    const char *expected;
  };
  const Case cases[] = {
      {DymoEndPage, 1, "1B 45"},
      {EplLineEndPage, 1, "1B 45 0C"},
      {EplPageEndPage, 0, "50 31 0A"},           // P1
      {EplPageEndPage, 1, "50 31 0A 43 0A"},     // P1, C
      {PclEndPage, 1, "1B 2A 72 42 0C"},         // end raster, form feed
  };
  for (const Case &c : cases) {
    cups_page_header2_t h = LabelHeader(2, 2);
    h.CutMedia = static_cast<cups_cut_t>(c.cut);
    EXPECT_EQ(Hex(CaptureStdout([&] { c.end(nullptr, &h); })), c.expected);
  }
}

TEST_F(LabelEndTest, CancelEndsTheOtherFamiliesNormally) {
  Canceled = 1;
  cups_page_header2_t h = LabelHeader(2, 2);
  EXPECT_EQ(Hex(CaptureStdout([&] { PclEndPage(nullptr, &h); })), "1B 2A 72 42 0C");
  EXPECT_EQ(CaptureStdout([&] { EplPageEndPage(nullptr, &h); }), "P1\n");
}

const std::vector<PpdOption> kZplOptions = {
    {"zePrintRate", "Default", {"Default", "1", "2", "4"}},
    {"zeMediaTracking", "Printer", {"Printer", "Continuous", "Web", "Mark"}},
    {"zePrintMode", "Saved", {"Saved", "Tear", "Peel", "Rewind", "Applicator", "Cutter"}},
    {"zeErrorReprint", "Saved", {"Saved", "Always", "Never"}},
};

struct ZplEndCase {
  const char *options;
  void (*adjust)(cups_page_header2_t &);
  const char *expected;
};

void NoChange(cups_page_header2_t &) {}

TEST_F(LabelEndTest, ZplLabelFormat) {
  const std::string recallAndDelete = "^FO0,0^XGR:CUPS.GRF,1,1^FS\n^XZ\n^XA\n^IDR:CUPS.GRF^FS\n^XZ\n";
  const ZplEndCase cases[] = {
      {"", NoChange, "^XA\n^POI\n^PW16\n^LH0,0\n"},
      {"zePrintRate=4", NoChange, "^XA\n^POI\n^PW16\n^PR4,4,4\n^LH0,0\n"},
      {"zePrintRate=Default", NoChange, "^XA\n^POI\n^PW16\n^LH0,0\n"},
      {"zeMediaTracking=Continuous", NoChange, "^XA\n^POI\n^PW16\n^LH0,0\n^LL7\n^MNN\n"},
      {"zeMediaTracking=Web", NoChange, "^XA\n^POI\n^PW16\n^LH0,0\n^MNY\n"},
      {"zeMediaTracking=Mark", NoChange, "^XA\n^POI\n^PW16\n^LH0,0\n^MNM\n"},
      {"", [](cups_page_header2_t &h) { h.cupsRowStep = 0; }, "^XA\n^POI\n^PW16\n^LH0,0\n^LT0\n"},
      {"", [](cups_page_header2_t &h) { h.cupsRowStep = static_cast<unsigned>(-20); },
       "^XA\n^POI\n^PW16\n^LH0,0\n^LT-20\n"},
      {"", [](cups_page_header2_t &h) { std::strcpy(h.MediaType, "Thermal"); }, "^XA\n^POI\n^PW16\n^LH0,0\n^MTT\n"},
      {"", [](cups_page_header2_t &h) { std::strcpy(h.MediaType, "Direct"); }, "^XA\n^POI\n^PW16\n^LH0,0\n^MTD\n"},
      {"", [](cups_page_header2_t &h) { std::strcpy(h.MediaType, "thermal"); }, "^XA\n^POI\n^PW16\n^LH0,0\n"},
      {"zePrintMode=Tear", NoChange, "^XA\n^POI\n^PW16\n^LH0,0\n^MMT,Y\n"},
      {"zePrintMode=Peel", NoChange, "^XA\n^POI\n^PW16\n^LH0,0\n^MMP,Y\n"},
      {"zePrintMode=Rewind", NoChange, "^XA\n^POI\n^PW16\n^LH0,0\n^MMR,Y\n"},
      {"zePrintMode=Applicator", NoChange, "^XA\n^POI\n^PW16\n^LH0,0\n^MMA,Y\n"},
      {"zePrintMode=Cutter", NoChange, "^XA\n^POI\n^PW16\n^LH0,0\n^MMC,Y\n"},
      {"", [](cups_page_header2_t &h) { h.AdvanceDistance = 5; }, "^XA\n^POI\n^PW16\n^LH0,0\n~TA005\n"},
      {"", [](cups_page_header2_t &h) { h.AdvanceDistance = static_cast<unsigned>(-5); },
       "^XA\n^POI\n^PW16\n^LH0,0\n~TA-005\n"},
      {"", [](cups_page_header2_t &h) { h.AdvanceDistance = 1234; }, "^XA\n^POI\n^PW16\n^LH0,0\n~TA1234\n"},
      {"zeErrorReprint=Always", NoChange, "^XA\n^POI\n^PW16\n^LH0,0\n^JZY\n"},
      {"zeErrorReprint=Never", NoChange, "^XA\n^POI\n^PW16\n^LH0,0\n^JZN\n"},
      {"", [](cups_page_header2_t &h) { h.NumCopies = 0; }, "^XA\n^POI\n^PW16\n^LH0,0\n"},
      {"", [](cups_page_header2_t &h) { h.NumCopies = 3; }, "^XA\n^POI\n^PW16\n^LH0,0\n^PQ3, 0, 0, N\n"},
  };
  for (const ZplEndCase &c : cases) {
    PpdPtr ppd = OpenPpd(MakePpd(0x12, kZplOptions), c.options);
    cups_page_header2_t h = LabelHeader(2, 7);
    c.adjust(h);
    EXPECT_EQ(CaptureStdout([&] { ZplEndPage(ppd.get(), &h); }), c.expected + recallAndDelete) << c.options;
  }
}

TEST_F(LabelEndTest, ZplLabelFormatWithEverythingSet) {
  PpdPtr ppd = OpenPpd(MakePpd(0x12, kZplOptions),
                       "zePrintRate=2 zeMediaTracking=Continuous zePrintMode=Peel zeErrorReprint=Never");
  cups_page_header2_t h = LabelHeader(104, 1218);
  h.cupsWidth = 832;
  h.cupsRowStep = 12;
  std::strcpy(h.MediaType, "Direct");
  h.AdvanceDistance = static_cast<unsigned>(-12);
  h.NumCopies = 2;
  h.CutMedia = CUPS_CUT_PAGE;
  EXPECT_EQ(CaptureStdout([&] { ZplEndPage(ppd.get(), &h); }),
            "^XA\n^POI\n^PW832\n^PR2,2,2\n^LH0,0\n^LL1218\n^MNN\n^LT12\n^MTD\n^MMP,Y\n~TA-012\n^JZN\n"
            "^PQ2, 0, 0, N\n^FO0,0^XGR:CUPS.GRF,1,1^FS\n^XZ\n^XA\n^IDR:CUPS.GRF^FS\n^XZ\n^CN1\n");
}

TEST_F(LabelEndTest, ZplCancelAbortsTheDownload) {
  Canceled = 1;
  PpdPtr ppd = OpenPpd(MakePpd(0x12, kZplOptions), "zePrintRate=2");
  cups_page_header2_t h = LabelHeader(2, 7);
  h.CutMedia = CUPS_CUT_PAGE;
  EXPECT_EQ(CaptureStdout([&] { ZplEndPage(ppd.get(), &h); }), "~DN\n");
}

const char kPlainFormat[] = "^XA\n^POI\n^PW16\n^LH0,0\n^FO0,0^XGR:CUPS.GRF,1,1^FS\n^XZ\n^XA\n^IDR:CUPS.GRF^FS\n^XZ\n";

TEST_F(LabelEndTest, ZplPageCutShortCompletesTheDownloadWithZeroRows) {
  const cups_page_header2_t h = LabelHeader(2, 5);
  const std::vector<Bytes> rows = {{0xF0, 0x01}, {0xF0, 0x01}};
  const std::string out = PrintPage(0x12, nullptr, h, rows);
  EXPECT_EQ(out, std::string("~DGR:CUPS.GRF,10,2,\n") + "FH01" + ":" + ",,," + kPlainFormat);

  // The printer reads a whole graphic and then the label format.
  const dwdecode::DecodeResult decoded = dwdecode::DecodeZpl(out);
  EXPECT_TRUE(decoded.problems.empty());
  ASSERT_EQ(decoded.pages.size(), 1u);
  std::vector<Bytes> expected = rows;
  expected.resize(5, Bytes(2, 0));
  EXPECT_EQ(decoded.pages[0].dots, DotsOf(expected, 16));
}

TEST_F(LabelEndTest, ZplRowCountStartsAgainOnEveryPage) {
  const cups_page_header2_t h = LabelHeader(1, 3);
  EXPECT_EQ(PrintPage(0x12, nullptr, h, {{0x80}}), std::string("~DGR:CUPS.GRF,3,1,\n80,,") +
                                                        "^XA\n^POI\n^PW8\n^LH0,0\n^FO0,0^XGR:CUPS.GRF,1,1^FS\n^XZ\n"
                                                        "^XA\n^IDR:CUPS.GRF^FS\n^XZ\n");
  // A full page after the short one gets no completion rows.
  const std::string full = PrintPage(0x12, nullptr, h, {{0x80}, {0x01}, {0x01}}, 2);
  EXPECT_EQ(full.substr(0, full.find('^')), "~DGR:CUPS.GRF,3,1,\n8001:");
  // And a later short page is completed from its own count.
  const std::string shortAgain = PrintPage(0x12, nullptr, h, {{0x01}, {0x01}}, 3);
  EXPECT_EQ(shortAgain.substr(0, shortAgain.find('^')), "~DGR:CUPS.GRF,3,1,\n01:,");
}

TEST_F(LabelEndTest, ZplPageCancelledMidwayKeepsTheAbortAndSendsNoCompletion) {
  const cups_page_header2_t h = LabelHeader(2, 5);
  const std::string out = PrintPage(0x12, nullptr, h, {{0xF0, 0x01}, {0x00, 0x0F}, {1, 1}}, 1, 2);
  EXPECT_EQ(out, "~DGR:CUPS.GRF,10,2,\nFH01I0F~DN\n");
  const dwdecode::DecodeResult decoded = dwdecode::DecodeZpl(out);
  EXPECT_TRUE(decoded.pages.empty());
  EXPECT_TRUE(decoded.problems.empty());
}

TEST_F(LabelEndTest, EmptyPagesAndEmptyLines) {
  // A page with no rows, and a page whose rows have no bytes: the download
  // announces what is sent and the page still ends properly.
  EXPECT_EQ(PrintPage(0x12, nullptr, LabelHeader(2, 0), {}), std::string("~DGR:CUPS.GRF,0,2,\n") + kPlainFormat);
  cups_page_header2_t empty = LabelHeader(0, 3);
  empty.cupsWidth = 16;
  EXPECT_EQ(PrintPage(0x12, nullptr, empty, {{}}), std::string("~DGR:CUPS.GRF,0,0,\n") + kPlainFormat);
  const std::string pcl = PrintPage(0x20, nullptr, empty, {{}, {}}, 2);
  EXPECT_EQ(pcl.substr(pcl.size() - 5), "\033*rB\f");
  EXPECT_EQ(pcl.find("\033*b", pcl.find("\033*b3M") + 1), std::string::npos) << "no rows are sent";
}

// Runs `fn` in a child process whose address space is too small for the
// compression buffers of a line of `bytesPerLine` bytes. Returns the child's
// verdict: 0 when nothing was written, the job failed and no buffer is left.
int StartWithFailingAllocation(void (*start)(ppd_file_t *, const cups_page_header2_t *)) {
  const pid_t pid = fork();
  if (pid == 0) {
    const rlimit limit{256u << 20, 256u << 20};
    setrlimit(RLIMIT_AS, &limit);
    cups_page_header2_t h = LabelHeader(1, 1);
    h.cupsBytesPerLine = 1u << 30;
    const std::string out = CaptureStdout([&] { start(nullptr, &h); });
    _exit(out.empty() && JobFailed && CompBuffer == nullptr && LastBuffer == nullptr ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(LabelEndTest, CompressionBufferFailureWritesNothingAndFailsTheJob) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#endif
#endif
  EXPECT_EQ(StartWithFailingAllocation(ZplStartPage), 0);
  EXPECT_EQ(StartWithFailingAllocation(PclStartPage), 0);
}

}  // namespace
