// Whole OEM jobs through the filter binary: black-and-white 24-bit pages sent
// to identified thermal and needle printers, read back with the printer
// language decoders and compared dot for dot with the pages sent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>

#include "decode/decode.h"
#include "support/harness.h"

using namespace dwtest;

namespace {

const std::string kFixtures = std::string(DOTWEAVE_SOURCE_DIR) + "/tests/fixtures/umockdev/";

// A page of black (0x00) and white (0xFF) pixels, kept as one flag per pixel.
struct Page {
  unsigned width;
  unsigned height;
  std::vector<bool> black;
  bool Black(unsigned x, unsigned y) const { return black[std::size_t{y} * width + x]; }
};

Page RandomPage(std::mt19937 &rng, unsigned width, unsigned height) {
  Page page{width, height, std::vector<bool>(std::size_t{width} * height, false)};
  for (unsigned y = 0; y < height; ++y) {
    if (rng() % 3 == 0) continue;  // blank rows too
    for (unsigned x = 0; x < width;) {
      const unsigned run = 1 + rng() % 300;
      const bool black = rng() % 2 == 0;
      for (unsigned i = 0; i < run && x < width; ++i, ++x) page.black[std::size_t{y} * width + x] = black;
    }
  }
  return page;
}

RasterPage ToRaster(const Page &page) {
  RasterPage raster{MakeHeader(page.width, page.height), {}};
  for (bool b : page.black)
    for (int c = 0; c < 3; ++c) raster.data.push_back(b ? 0x00 : 0xFF);
  return raster;
}

struct Job {
  std::vector<Page> pages;
  std::vector<PpdOption> options;
  std::string uri;
  std::optional<std::string> deviceFile;  // umockdev description
};

FilterResult RunJob(const Job &job) {
  TempDir dir;
  FilterRun run;
  run.env["PPD"] = dir.Write("oem.ppd", MakePpd(0x13, job.options));
  run.env["DEVICE_URI"] = job.uri;
  run.env["PRINTER"] = "Office";
  if (job.deviceFile) {
    // umockdev preloads its library ahead of the sanitizer runtime.
    const char *asan = std::getenv("ASAN_OPTIONS");
    run.env["ASAN_OPTIONS"] = std::string(asan ? asan : "") + (asan && *asan ? ":" : "") + "verify_asan_link_order=0";
    run.wrapper = {"umockdev-run", "--device", kFixtures + *job.deviceFile, "--"};
  }
  std::vector<RasterPage> pages;
  for (const Page &page : job.pages) pages.push_back(ToRaster(page));
  run.input = WriteRaster(pages);
  return RunFilter(run);
}

std::string Setting(const dwdecode::DecodedPage &page, const std::string &name) {
  for (const auto &[key, value] : page.settings)
    if (key == name) return value;
  return "(missing)";
}

// The image column a thermal head prints at `dot`, or -1 for a white dot.
long ThermalColumn(unsigned dot, unsigned width, unsigned head, int adjust, bool rightAlign) {
  const long d = dot;
  long column;
  if (width < head) {
    const long offset = rightAlign ? head - width : (head - width) / 2;
    column = d - 8L * std::abs(adjust) - offset;
  } else {
    column = adjust <= 0 ? d + std::abs(adjust) : d - 8L * adjust;
  }
  return column >= 0 && column < static_cast<long>(width) ? column : -1;
}

void ExpectThermalPages(const FilterResult &r, const std::vector<Page> &pages, unsigned head, int h, int v,
                        bool rightAlign) {
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const auto decoded = dwdecode::DecodeOemThermal(r.out);
  ASSERT_TRUE(decoded.problems.empty()) << decoded.problems[0].what << " at " << decoded.problems[0].offset;
  ASSERT_EQ(decoded.pages.size(), pages.size()) << r.err;
  for (std::size_t p = 0; p < pages.size(); ++p) {
    const Page &in = pages[p];
    const auto &out = decoded.pages[p];
    SCOPED_TRACE(::testing::Message() << "page " << p);
    EXPECT_EQ(Setting(out, "zero-block"), "1000");
    EXPECT_EQ(Setting(out, "page-rows"), std::to_string(in.height));
    const unsigned blank = v > 0 ? 8u * static_cast<unsigned>(v) : 0;
    const unsigned first = v < 0 ? 8u * static_cast<unsigned>(-v) : 0;
    ASSERT_EQ(out.height, blank + (in.height > first ? in.height - first : 0));
    ASSERT_EQ(out.width, head);
    for (unsigned line = blank; line < out.height; ++line)
      for (unsigned dot = 0; dot < head; ++dot) {
        const long column = ThermalColumn(dot, in.width, head, h, rightAlign);
        const bool black = column >= 0 && in.Black(static_cast<unsigned>(column), line - blank + first);
        ASSERT_EQ(out.Dot(dot, line), black) << "line " << line << " dot " << dot;
      }
  }
}

// Needle pages: image row y is printed at y - skipped + fed-before, column x
// at x + shift; the page is as long as the paper fed.
void ExpectNeedlePages(const FilterResult &r, const std::vector<Page> &pages, int h, int v, unsigned fixedRows) {
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const auto decoded = dwdecode::DecodeOemNeedle(r.out);
  ASSERT_TRUE(decoded.problems.empty()) << decoded.problems[0].what << " at " << decoded.problems[0].offset;
  ASSERT_EQ(decoded.pages.size(), pages.size()) << r.err;
  for (std::size_t p = 0; p < pages.size(); ++p) {
    const Page &in = pages[p];
    const auto &out = decoded.pages[p];
    SCOPED_TRACE(::testing::Message() << "page " << p);
    EXPECT_EQ(Setting(out, "zero-block"), "64");
    EXPECT_EQ(out.settings.back().first, "cut-position");
    const unsigned offset = v > 0 ? 6u * static_cast<unsigned>(v) : 0;
    const unsigned first = v < 0 ? 6u * static_cast<unsigned>(-v) : 0;
    const unsigned rows = in.height > first ? in.height - first : 0;
    if (fixedRows != 0) {
      EXPECT_EQ(out.height, fixedRows);
    } else {
      EXPECT_GE(out.height, offset + rows);
      EXPECT_LE(out.height, offset + rows + 15);
    }
    const unsigned skip = h < 0 ? 6u * static_cast<unsigned>(-h) : 0;
    const unsigned shift = h > 0 ? 6u * static_cast<unsigned>(h) : 0;
    std::vector<std::uint8_t> expected(std::size_t{out.height} * 1440, 0);
    for (unsigned row = offset; row < out.height && row - offset < rows; ++row)
      for (unsigned x = skip; x < in.width && x + shift < 1440; ++x)
        if (in.Black(x, row - offset + first)) expected[std::size_t{row} * 1440 + x + shift] = 1;
    if (out.dots != expected) {
      const auto at = static_cast<std::size_t>(
          std::mismatch(out.dots.begin(), out.dots.end(), expected.begin()).first - out.dots.begin());
      ADD_FAILURE() << "first wrong dot: row " << at / 1440 << " dot " << at % 1440;
    }
  }
}

#ifdef DOTWEAVE_USB_SERIAL_ONLY
#define SKIP_WITHOUT_TEXT_MATCHING() GTEST_SKIP() << "this build recognises printers by USB serial only"
#else
#define SKIP_WITHOUT_TEXT_MATCHING() static_cast<void>(0)
#endif

TEST(OemJobStream, ThermalPagesOnAWideHead) {
  SKIP_WITHOUT_TEXT_MATCHING();
  std::mt19937 rng(412);
  Job job;
  job.pages = {RandomPage(rng, 600, 40), RandomPage(rng, 900, 25), RandomPage(rng, 832, 30)};
  job.options = {{"Speed", "2", {"0", "1", "2", "3"}},
                 {"Density", "90", {"75", "90"}},
                 {"PaperType", "1", {"0", "1", "2"}},
                 {"HorizentalADJ", "-3", {"-3", "0", "3"}},
                 {"VerticalADJ", "1", {"-1", "0", "1"}}};
  job.uri = "serial:/dev/cu.KV412-A";
  const FilterResult r = RunJob(job);
  ExpectThermalPages(r, job.pages, 832, -3, 1, false);
  const auto decoded = dwdecode::DecodeOemThermal(r.out);
  ASSERT_FALSE(decoded.pages.empty());
  EXPECT_EQ(Setting(decoded.pages[0], "speed"), "1200");
  EXPECT_EQ(Setting(decoded.pages[0], "density"), "90");
  EXPECT_EQ(Setting(decoded.pages[0], "paper-type"), "1");
}

TEST(OemJobStream, ThermalPagesRightAlignedAndSkippedAtTheTop) {
  SKIP_WITHOUT_TEXT_MATCHING();
  std::mt19937 rng(158);
  Job job;
  job.pages = {RandomPage(rng, 300, 50), RandomPage(rng, 575, 20)};
  job.options = {{"HorizentalADJ", "2", {"0", "2"}}, {"VerticalADJ", "-2", {"-2", "0"}}};
  job.uri = "serial:/dev/cu.KV158-AK";  // 576 dots, right aligned
  ExpectThermalPages(RunJob(job), job.pages, 576, 2, -2, true);
}

TEST(OemJobStream, NeedlePagesWithAdjustments) {
  SKIP_WITHOUT_TEXT_MATCHING();
  std::mt19937 rng(739);
  Job job;
  job.pages = {RandomPage(rng, 1400, 90), RandomPage(rng, 500, 130)};
  job.options = {{"Density", "2", {"1", "2", "3"}},
                 {"HorizentalADJ", "2", {"-2", "0", "2"}},
                 {"VerticalADJ", "1", {"-1", "0", "1"}},
                 {"PrintStartPosition", "-5", {"-5", "0", "5"}},
                 {"CutPaperPosition", "7", {"-7", "0", "7"}}};
  job.uri = "serial:/dev/cu.MB739-A";
  const FilterResult r = RunJob(job);
  ExpectNeedlePages(r, job.pages, 2, 1, 0);
  const auto decoded = dwdecode::DecodeOemNeedle(r.out);
  ASSERT_FALSE(decoded.pages.empty());
  EXPECT_EQ(Setting(decoded.pages[0], "density"), "2");
  EXPECT_EQ(Setting(decoded.pages[0], "page-length"), "90");
  EXPECT_EQ(Setting(decoded.pages[0], "start-position"), "-5");
  EXPECT_EQ(Setting(decoded.pages[0], "cut-position"), "7");
}

TEST(OemJobStream, NeedlePagesOfFixedLength) {
  SKIP_WITHOUT_TEXT_MATCHING();
  std::mt19937 rng(720);
  Job job;
  job.pages = {RandomPage(rng, 700, 100), RandomPage(rng, 1440, 900)};  // short and overlong
  job.options = {{"Density", "3", {"1", "2", "3"}},
                 {"HorizentalADJ", "-1", {"-1", "0"}},
                 {"FixPageHeight", "3", {"0", "1", "2", "3", "4", "5"}}};
  job.uri = "serial:/dev/cu.MB739-A";
  ExpectNeedlePages(RunJob(job), job.pages, -1, 0, 720);
}

TEST(OemJobStream, UsbThermalPrinterUnderUmockdev) {
  std::mt19937 rng(123);
  Job job;
  job.pages = {RandomPage(rng, 832, 20), RandomPage(rng, 400, 30), RandomPage(rng, 1000, 10)};
  job.uri = "usb://Maker/Model?serial=ABC123&interface=1";
  job.deviceFile = "kv412a.umockdev";
  ExpectThermalPages(RunJob(job), job.pages, 832, 0, 0, false);
}

TEST(OemJobStream, UsbNeedlePrinterUnderUmockdev) {
  std::mt19937 rng(42);
  Job job;
  job.pages = {RandomPage(rng, 1440, 60), RandomPage(rng, 200, 40)};
  job.options = {{"Density", "2", {"1", "2", "3"}}};
  job.uri = "usb://Maker/MB739%20A?serial=NDL0042";
  job.deviceFile = "needle.umockdev";
  ExpectNeedlePages(RunJob(job), job.pages, 0, 0, 0);
}

}  // namespace
