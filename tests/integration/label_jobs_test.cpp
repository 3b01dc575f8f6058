// Whole jobs through the filter binary for every label family: a PPD with
// the family's options, job options, several pages with a short final page,
// and a cancel during a ZPL page. The output is decoded back to dots.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "decode/decode.h"
#include "support/harness.h"
#include "support/label_pages.h"

using namespace dwtest;

namespace {

struct Job {
  std::vector<RasterPage> pages;  // as sent; the last one may be short
  std::vector<std::vector<Bytes>> rows;
};

// Three pages of random rows (with a run of blank rows) of `bytesPerLine`
// bytes; the third is cut after `lastRows` rows.
Job ThreePages(unsigned bytesPerLine, unsigned height, unsigned lastRows, unsigned dpi, std::uint32_t seed,
               void (*adjust)(cups_page_header2_t &)) {
  std::mt19937 rng(seed);
  Job job;
  for (unsigned p = 0; p < 3; ++p) {
    cups_page_header2_t h = LabelHeader(bytesPerLine, height, dpi);
    adjust(h);
    std::vector<Bytes> rows = AssortedRows(rng, height, bytesPerLine);
    for (unsigned y = 5; y < 12 && y < height; ++y) rows[y].assign(bytesPerLine, 0);
    if (p == 2) rows.resize(lastRows);
    RasterPage page{h, {}};
    for (const Bytes &row : rows) page.data.insert(page.data.end(), row.begin(), row.end());
    job.pages.push_back(page);
    job.rows.push_back(rows);
  }
  return job;
}

FilterRun RunOf(int family, const std::vector<PpdOption> &options, const std::string &jobOptions,
                const std::string &stream, const TempDir &dir) {
  FilterRun run;
  run.env["PPD"] = dir.Write("label.ppd", MakePpd(family, options));
  run.args[4] = jobOptions;
  run.input = stream;
  return run;
}

bool Has(const std::vector<dwdecode::Setting> &settings, const std::string &name, const std::string &value) {
  for (const auto &s : settings)
    if (s.first == name && s.second == value) return true;
  return false;
}

// The page shows `rows` (padded with blank rows to `height` when given),
// allowing for blank rows at the end that were never sent.
void ExpectPage(const dwdecode::DecodedPage &page, std::vector<Bytes> rows, unsigned width, unsigned height = 0) {
  if (height != 0) {
    ASSERT_EQ(page.height, height);
    rows.resize(height, Bytes(rows.empty() ? 0 : rows[0].size(), 0));
  }
  ASSERT_LE(page.height, rows.size());
  for (std::size_t y = page.height; y < rows.size(); ++y)
    EXPECT_EQ(rows[y], Bytes(rows[y].size(), 0)) << "row " << y << " was not printed";
  rows.resize(page.height);
  EXPECT_EQ(page.width, width);
  EXPECT_TRUE(page.dots == DotsOf(rows, width));
}

const PpdOption kRate{"zePrintRate", "Default", {"Default", "1", "2", "3", "4"}};

void Plain(cups_page_header2_t &) {}

TEST(LabelJobs, Dymo) {
  TempDir dir;
  const Job job = ThreePages(84, 60, 20, 300, 1, [](cups_page_header2_t &h) {
    h.PageSize[1] = 288;
    h.cupsCompression = 2;
  });
  const FilterResult r = RunFilter(RunOf(0x00, {}, "", WriteRaster(job.pages), dir));
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  ASSERT_EQ(r.out.substr(0, 102), std::string(100, '\x1b') + "\x1b@");
  // Each label starts with its length (1200 dots), width, density and position.
  EXPECT_EQ(CountOf(r.out, FromHex("1B 4C 04 B0 1B 44 54 1B 65 1B 71 31")), 3u);
  const dwdecode::DecodeResult d = dwdecode::DecodeDymo(r.out);
  EXPECT_TRUE(d.problems.empty()) << d.problems[0].what;
  ASSERT_EQ(d.pages.size(), 3u);
  for (std::size_t p = 0; p < 3; ++p) {
    EXPECT_TRUE(Has(d.pages[p].settings, "label-length", "1200"));
    EXPECT_TRUE(Has(d.pages[p].settings, "density", "2"));
    ExpectPage(d.pages[p], job.rows[p], 84 * 8);
  }
}

TEST(LabelJobs, EplLineMode) {
  TempDir dir;
  const Job job = ThreePages(104, 40, 7, 203, 2, [](cups_page_header2_t &h) { h.cupsCompression = 60; });
  const FilterResult r = RunFilter(RunOf(0x10, {kRate}, "zePrintRate=4", WriteRaster(job.pages), dir));
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, 12), "\033S6\033D4\033M01\033B");
  EXPECT_EQ(r.out.substr(r.out.size() - 3), "\033E\f");
  const dwdecode::DecodeResult d = dwdecode::DecodeEplLine(r.out);
  EXPECT_TRUE(d.problems.empty()) << d.problems[0].what;
  ASSERT_EQ(d.pages.size(), 3u);
  for (std::size_t p = 0; p < 3; ++p) {
    EXPECT_TRUE(Has(d.pages[p].settings, "print-rate", "6"));
    ExpectPage(d.pages[p], job.rows[p], 104 * 8, p < 2 ? 40 : 7);  // blank lines are sent too
  }
}

TEST(LabelJobs, EplPageMode) {
  TempDir dir;
  const Job job = ThreePages(100, 50, 9, 203, 3, [](cups_page_header2_t &h) {
    h.cupsWidth = 795;  // label width rounds up to 800
    h.CutMedia = CUPS_CUT_PAGE;
    std::strcpy(h.MediaType, "Direct");
  });
  const FilterResult r = RunFilter(RunOf(0x11, {kRate}, "zePrintRate=2", WriteRaster(job.pages), dir));
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, 17), "\nN\nOD\nS2\nq800\nGW0");
  EXPECT_EQ(CountOf(r.out, "P1\nC\n"), 3u);
  const dwdecode::DecodeResult d = dwdecode::DecodeEplPage(r.out);
  EXPECT_TRUE(d.problems.empty()) << d.problems[0].what;
  ASSERT_EQ(d.pages.size(), 3u);
  for (std::size_t p = 0; p < 3; ++p) {
    EXPECT_TRUE(Has(d.pages[p].settings, "width", "800"));
    EXPECT_TRUE(Has(d.pages[p].settings, "cut", ""));
    ExpectPage(d.pages[p], job.rows[p], 800);
  }
}

const std::vector<PpdOption> kZplOptions = {
    kRate,
    {"zeMediaTracking", "Web", {"Continuous", "Web", "Mark"}},
    {"zePrintMode", "Saved", {"Saved", "Tear", "Peel"}},
    {"zeErrorReprint", "Saved", {"Saved", "Always", "Never"}},
};

TEST(LabelJobs, ZplWithAShortFinalPage) {
  TempDir dir;
  const Job job = ThreePages(104, 64, 21, 203, 4, [](cups_page_header2_t &h) {
    h.cupsWidth = 832;
    h.cupsCompression = 50;
    h.NumCopies = 2;
  });
  const FilterResult r =
      RunFilter(RunOf(0x12, kZplOptions, "zePrintRate=4 zePrintMode=Tear zeErrorReprint=Always", WriteRaster(job.pages), dir));
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, 30), "~SD15\n~DGR:CUPS.GRF,6656,104,\n");
  EXPECT_EQ(CountOf(r.out, "^XA\n^POI\n^PW832\n^PR4,4,4\n^LH0,0\n^MNY\n^MMT,Y\n^JZY\n^PQ2, 0, 0, N\n"), 3u);
  // The short page's download is completed: 43 zero rows before its label.
  EXPECT_NE(r.out.find(std::string(43, ',') + "^XA"), std::string::npos);
  const dwdecode::DecodeResult d = dwdecode::DecodeZpl(r.out);
  EXPECT_TRUE(d.problems.empty()) << d.problems[0].what << " at " << d.problems[0].offset;
  ASSERT_EQ(d.pages.size(), 3u);
  for (std::size_t p = 0; p < 3; ++p) {
    EXPECT_TRUE(Has(d.pages[p].settings, "darkness", "15"));
    EXPECT_TRUE(Has(d.pages[p].settings, "print-rate", "4,4,4"));
    EXPECT_TRUE(Has(d.pages[p].settings, "delete-graphic", "R:CUPS.GRF"));
    ExpectPage(d.pages[p], job.rows[p], 832, 64);
  }
}

TEST(LabelJobs, ZplCancelDuringAPageAbortsItsDownload) {
  TempDir dir;
  const cups_page_header2_t h = LabelHeader(2, 64);
  std::vector<RasterPage> pages = {UniformPage(h, 0x0F), UniformPage(h, 0xF0)};
  const std::string stream = WriteRaster(pages);
  FilterRun run = RunOf(0x12, kZplOptions, "", stream, dir);
  // Hold the input back after line 20 of the second page; cancel once the
  // filter reports line 16 of it.
  run.cancel = CancelPlan{2 * (4 + sizeof(cups_page_header2_t)) + 64 * 2 + 20 * 2, "Printing page 2, 25% complete."};
  const FilterResult r = RunFilter(run);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  ASSERT_GE(r.out.size(), 4u);
  EXPECT_EQ(r.out.substr(r.out.size() - 4), "~DN\n");
  EXPECT_EQ(CountOf(r.out, "^XA"), 2u) << "only the first page's label and its graphic delete";
  const std::size_t secondData = r.out.find(",2,\n", r.out.rfind("~DGR:CUPS.GRF")) + 4;
  EXPECT_EQ(r.out.find(',', secondData), std::string::npos) << "a cancelled download is not completed";
  const dwdecode::DecodeResult d = dwdecode::DecodeZpl(r.out);
  EXPECT_TRUE(d.problems.empty()) << d.problems[0].what;
  ASSERT_EQ(d.pages.size(), 1u);
  ExpectPage(d.pages[0], std::vector<Bytes>(64, Bytes{0x0F, 0x0F}), 16, 64);
}

TEST(LabelJobs, PclWithAShortFinalPage) {
  TempDir dir;
  const Job job = ThreePages(75, 90, 33, 300, 5, [](cups_page_header2_t &h) {
    h.cupsWidth = 600;
    h.PageSize[1] = 842;
    h.cupsCompression = 100;
    h.cupsRowCount = 4;
    h.NumCopies = 1;
  });
  const FilterResult r = RunFilter(RunOf(0x20, {{"inPrintMode", "Standard", {"Standard", "Tear", "Peel"}}},
                                         "inPrintMode=Tear", WriteRaster(job.pages), dir));
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, 2), "\033E");
  EXPECT_EQ(CountOf(r.out, "\033&d15A\033!p1M\033!n4T"), 1u) << "first page only";
  EXPECT_EQ(CountOf(r.out, "\033&l26A\033&l70P\033&l0E\033&l1X\033&l0L"), 3u);
  EXPECT_EQ(CountOf(r.out, "\033*rB\f"), 3u);
  const dwdecode::DecodeResult d = dwdecode::DecodePcl(r.out);
  EXPECT_TRUE(d.problems.empty()) << d.problems[0].what << " at " << d.problems[0].offset;
  ASSERT_EQ(d.pages.size(), 3u);
  for (std::size_t p = 0; p < 3; ++p) ExpectPage(d.pages[p], job.rows[p], 600, 90);
  EXPECT_TRUE(Has(d.pages[0].settings, "density", "15"));
  EXPECT_FALSE(Has(d.pages[1].settings, "density", "15"));
}

}  // namespace
