// Whole jobs through the filter binary: arguments, input, PPD, status lines,
// page loop, cancellation and exit status. Uses a family code outside the
// table (5) where only the frame matters, so no printer bytes are involved.
#include <gtest/gtest.h>

#include <sstream>

#include "support/harness.h"

using namespace dwtest;

namespace {

constexpr int kUnknownFamily = 5;

// Standard error lines that are not the page header dump.
std::vector<std::string> StatusLines(const std::string &err) {
  std::vector<std::string> lines;
  std::istringstream in(err);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("DEBUG: ", 0) != 0) lines.push_back(line);
  return lines;
}

class SpineJob : public ::testing::Test {
 protected:
  FilterRun Job(int family, const std::string &input) {
    FilterRun run;
    run.env["PPD"] = dir_.Write("job.ppd", MakePpd(family));
    run.input = input;
    return run;
  }
  TempDir dir_;
};

TEST_F(SpineJob, WrongArgumentCountIsAUsageError) {
  for (std::vector<std::string> args : {std::vector<std::string>{"1", "u", "t", "1"},
                                        std::vector<std::string>{"1", "u", "t", "1", "", "f", "x"}}) {
    FilterRun run = Job(0, "");
    run.args = args;
    FilterResult r = RunFilter(run);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "ERROR: dotweave job-id user title copies options [file]\n");
  }
}

TEST_F(SpineJob, RasterFileThatCannotBeOpened) {
  FilterRun run = Job(0, "");
  run.args.push_back(dir_.path() + "/missing.ras");
  FilterResult r = RunFilter(run);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("ERROR:"), std::string::npos);
  EXPECT_NE(r.err.find("Unable to open raster file: No such file or directory"), std::string::npos) << r.err;
}

TEST_F(SpineJob, RasterReadFromTheNamedFile) {
  const std::string stream = WriteRaster({UniformPage(MakeHeader(16, 3, 1), 0)});
  FilterRun run = Job(kUnknownFamily, "");
  run.args.push_back(dir_.Write("job.ras", stream));
  FilterResult r = RunFilter(run);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_NE(r.err.find("PAGE: 1 1\n"), std::string::npos);
}

TEST_F(SpineJob, PpdThatCannotBeOpened) {
  FilterRun run = Job(0, "");
  run.env["PPD"] = dir_.path() + "/missing.ppd";
  FilterResult r = RunFilter(run);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "ERROR: The PPD file could not be opened.\nDEBUG: Unable to open PPD file on line 0.\n");

  run.env["PPD"] = dir_.Write("broken.ppd", "this is not a PPD file\n");
  r = RunFilter(run);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.err.rfind("ERROR: The PPD file could not be opened.\nDEBUG: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(" on line "), std::string::npos);

  run.env["PPD"] = std::nullopt;
  r = RunFilter(run);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.err.rfind("ERROR: The PPD file could not be opened.\n", 0), 0u) << r.err;
}

TEST_F(SpineJob, EmptyStreamStillWritesTheJobStartBytes) {
  FilterResult r = RunFilter(Job(0x00, ""));
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out, std::string(100, '\x1b') + "\x1b@");
  EXPECT_EQ(r.err, "DEBUG: Job setup sent.\nERROR: No pages were found.\n");

  r = RunFilter(Job(0x20, ""));
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(Hex(r.out), "1B 45");

  r = RunFilter(Job(kUnknownFamily, "not a raster stream at all"));
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "DEBUG: Job setup sent.\nERROR: No pages were found.\n");
}

// A printer application that sends pages again after a lost connection
// cuts the output where the filter says its setup and each page end: the
// setup line comes before the first page is read, each page's line after
// its last bytes (its end commands) and before the next page starts.
TEST_F(SpineJob, SetupAndEachPageEndAreAnnouncedInOrder) {
  const cups_page_header2_t h = MakeHeader(16, 4, 1);
  FilterResult r = RunFilter(Job(0x20, WriteRaster({UniformPage(h, 0xFF), UniformPage(h, 0x00)})));
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  std::vector<std::string> marks;
  std::istringstream in(r.err);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("PAGE:", 0) == 0 || line.rfind("INFO: Finished", 0) == 0 || line.find(" sent.") != std::string::npos)
      marks.push_back(line);
  const std::vector<std::string> expected = {"DEBUG: Job setup sent.", "PAGE: 1 1", "INFO: Finished page 1.",
                                             "DEBUG: Page 1 sent.",    "PAGE: 2 1", "INFO: Finished page 2.",
                                             "DEBUG: Page 2 sent."};
  EXPECT_EQ(marks, expected);
}

TEST_F(SpineJob, UnknownFamilyReadsAndReportsPagesButWritesNothing) {
  const std::string stream = WriteRaster({UniformPage(MakeHeader(16, 17, 1), 0xAA),
                                          UniformPage(MakeHeader(16, 100, 1), 0x55)});
  FilterResult r = RunFilter(Job(kUnknownFamily, stream));
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.out, "");
  const std::vector<std::string> expected = {
      "PAGE: 1 1",
      "INFO: Starting page 1.",
      "INFO: Printing page 1, 0% complete.",
      "ATTR: job-media-progress=0",
      "INFO: Printing page 1, 94% complete.",
      "ATTR: job-media-progress=94",
      "INFO: Finished page 1.",
      "PAGE: 2 1",
      "INFO: Starting page 2.",
      "INFO: Printing page 2, 0% complete.",
      "ATTR: job-media-progress=0",
      "INFO: Printing page 2, 16% complete.",
      "ATTR: job-media-progress=16",
      "INFO: Printing page 2, 32% complete.",
      "ATTR: job-media-progress=32",
      "INFO: Printing page 2, 48% complete.",
      "ATTR: job-media-progress=48",
      "INFO: Printing page 2, 64% complete.",
      "ATTR: job-media-progress=64",
      "INFO: Printing page 2, 80% complete.",
      "ATTR: job-media-progress=80",
      "INFO: Printing page 2, 96% complete.",
      "ATTR: job-media-progress=96",
      "INFO: Finished page 2.",
  };
  EXPECT_EQ(StatusLines(r.err), expected);
}

TEST_F(SpineJob, PageHeaderDump) {
  cups_page_header2_t h = MakeHeader(203, 2, 1, 203, 406);
  h.Duplex = CUPS_TRUE;
  h.ImagingBoundingBox[0] = 1;
  h.ImagingBoundingBox[1] = 2;
  h.ImagingBoundingBox[2] = 3;
  h.ImagingBoundingBox[3] = 4;
  h.Margins[0] = 5;
  h.Margins[1] = 6;
  h.ManualFeed = CUPS_TRUE;
  h.MediaPosition = 7;
  h.NumCopies = 8;
  h.Orientation = CUPS_ORIENT_90;
  h.PageSize[0] = 288;
  h.PageSize[1] = 432;
  h.cupsMediaType = 9;
  h.cupsCompression = 50;
  FilterResult r = RunFilter(Job(kUnknownFamily, WriteRaster({UniformPage(h, 0)})));
  const std::string dump =
      "DEBUG: StartPage...\n"
      "DEBUG: Duplex = 1\n"
      "DEBUG: HWResolution = [ 203 406 ]\n"
      "DEBUG: ImagingBoundingBox = [ 1 2 3 4 ]\n"
      "DEBUG: Margins = [ 5 6 ]\n"
      "DEBUG: ManualFeed = 1\n"
      "DEBUG: MediaPosition = 7\n"
      "DEBUG: NumCopies = 8\n"
      "DEBUG: Orientation = 1\n"
      "DEBUG: PageSize = [ 288 432 ]\n"
      "DEBUG: cupsWidth = 203\n"
      "DEBUG: cupsHeight = 2\n"
      "DEBUG: cupsMediaType = 9\n"
      "DEBUG: cupsBitsPerColor = 1\n"
      "DEBUG: cupsBitsPerPixel = 1\n"
      "DEBUG: cupsBytesPerLine = 26\n"
      "DEBUG: cupsColorOrder = 0\n"
      "DEBUG: cupsColorSpace = 3\n"
      "DEBUG: cupsCompression = 50\n";
  EXPECT_NE(r.err.find("INFO: Starting page 1.\n" + dump + "INFO: Printing page 1, 0% complete.\n"),
            std::string::npos)
      << r.err;
}

TEST_F(SpineJob, StreamEndingMidPageFinishesThePage) {
  RasterPage page = UniformPage(MakeHeader(16, 40, 1), 0xFF);
  page.data.resize(20 * 2);  // 20 of 40 lines arrive
  FilterResult r = RunFilter(Job(kUnknownFamily, WriteRaster({page})));
  EXPECT_EQ(r.exitStatus, 0);
  const std::vector<std::string> expected = {
      "PAGE: 1 1",
      "INFO: Starting page 1.",
      "INFO: Printing page 1, 0% complete.",
      "ATTR: job-media-progress=0",
      "INFO: Printing page 1, 40% complete.",
      "ATTR: job-media-progress=40",
      "INFO: Finished page 1.",
  };
  EXPECT_EQ(StatusLines(r.err), expected);

  // The compressed writer holds back repeated lines, so fewer may arrive;
  // the page is still finished and the job succeeds.
  r = RunFilter(Job(kUnknownFamily, WriteRaster({page}, true)));
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_NE(r.err.find("INFO: Finished page 1.\n"), std::string::npos);
}

TEST_F(SpineJob, CompressedAndUncompressedStreamsReadAlike) {
  std::vector<RasterPage> pages;
  for (unsigned p = 0; p < 3; ++p) {
    RasterPage page = UniformPage(MakeHeader(24, 33, 1), 0);
    for (std::size_t i = 0; i < page.data.size(); ++i) page.data[i] = static_cast<unsigned char>(i * 7 + p);
    pages.push_back(page);
  }
  FilterResult plain = RunFilter(Job(kUnknownFamily, WriteRaster(pages, false)));
  FilterResult packed = RunFilter(Job(kUnknownFamily, WriteRaster(pages, true)));
  EXPECT_EQ(plain.exitStatus, 0);
  EXPECT_EQ(packed.exitStatus, 0);
  EXPECT_EQ(CountOf(plain.err, "INFO: Finished page "), 3u);
  EXPECT_EQ(plain.err, packed.err);
}

TEST_F(SpineJob, SigtermDuringAPageEndsThatPageAndTheJob) {
  // 64 lines of 2 bytes per page; hold the input back after line 20 of the
  // first page, cancel once the filter reports line 16, then send the rest.
  const cups_page_header2_t h = MakeHeader(16, 64, 1);
  const std::string stream = WriteRaster({UniformPage(h, 0x0F), UniformPage(h, 0xF0)});
  FilterRun run = Job(kUnknownFamily, stream);
  run.cancel = CancelPlan{4 + sizeof(cups_page_header2_t) + 20 * 2, "Printing page 1, 25% complete."};
  FilterResult r = RunFilter(run);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  const std::vector<std::string> expected = {
      "PAGE: 1 1",
      "INFO: Starting page 1.",
      "INFO: Printing page 1, 0% complete.",
      "ATTR: job-media-progress=0",
      "INFO: Printing page 1, 25% complete.",
      "ATTR: job-media-progress=25",
      "INFO: Finished page 1.",
  };
  EXPECT_EQ(StatusLines(r.err), expected);
}

TEST_F(SpineJob, HostileLineLengthIsRefusedWithoutAllocating) {
  // A header that claims 2^31 bytes per line; libcups may refuse it while
  // reading, otherwise the filter does. Either way: no crash, no page printed.
  cups_page_header2_t h = MakeHeader(16, 4, 1);
  h.cupsWidth = 0x7FFFFFF0u;
  h.cupsBytesPerLine = 0x7FFFFFF0u;
  FilterResult r = RunFilter(Job(0x00, RawRaster(h, Bytes(64, 0))));
  EXPECT_EQ(r.exitStatus, 1) << r.err;
  EXPECT_EQ(r.out, std::string(100, '\x1b') + "\x1b@");
  EXPECT_NE(r.err.find("ERROR: "), std::string::npos);
  EXPECT_EQ(r.err.find("INFO: Finished page"), std::string::npos) << r.err;
}

}  // namespace

namespace {

// Dymo lines (family 0x00) that are not blank leave as 0x16 and the line's
// own bytes, so every line read can be found again in the output.
std::string DymoLinesOf(const RasterPage &page) {
  std::string lines;
  const std::size_t n = page.header.cupsBytesPerLine;
  for (std::size_t y = 0; y < page.header.cupsHeight; ++y) {
    lines += '\x16';
    lines.append(reinterpret_cast<const char *>(page.data.data() + y * n), n);
  }
  return lines;
}

}  // namespace

// The stream is read in blocks of 64 KiB: a job of several blocks, whose
// lines and page headers straddle the block ends, is read line for line the
// same from standard input (a pipe) and from the named file.
TEST_F(SpineJob, JobOfManyReadBlocksArrivesLineForLine) {
  std::vector<RasterPage> pages;
  for (unsigned p = 0; p < 3; ++p) {
    RasterPage page = UniformPage(MakeHeader(8 * 203, 409, 1, 300), 0);
    for (std::size_t i = 0; i < page.data.size(); ++i)
      page.data[i] = static_cast<unsigned char>(1 + (i * 131 + p * 17) % 251);  // no blank line
    pages.push_back(page);
  }
  const std::string stream = WriteRaster(pages);
  ASSERT_GT(stream.size(), std::size_t{3} << 16);
  FilterResult piped = RunFilter(Job(0, stream));
  FilterRun fromFile = Job(0, "");
  fromFile.args.push_back(dir_.Write("job.ras", stream));
  FilterResult named = RunFilter(fromFile);
  ASSERT_EQ(piped.exitStatus, 0) << piped.err;
  ASSERT_EQ(named.exitStatus, 0) << named.err;
  std::size_t at = 0;
  for (const RasterPage &page : pages) {
    at = piped.out.find(DymoLinesOf(page), at);
    ASSERT_NE(at, std::string::npos) << "a page's lines did not arrive whole and in order";
  }
  EXPECT_EQ(CountOf(piped.err, "INFO: Finished page "), 3u);
  EXPECT_EQ(named.out, piped.out);
}
