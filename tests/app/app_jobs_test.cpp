// Whole jobs through a private dotweave-app server: what reaches the
// printer's device is decoded and compared with the submitted page, and for
// raster input with what the dotweave filter writes for the same page and
// settings in a CUPS queue.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/app_server.h"
#include "decode/decode.h"

using namespace dwtest;

namespace {

// A 4 x 6 inch label at `dpi`: a frame, bars and a block, 1 = black.
std::vector<std::uint8_t> LabelDots(unsigned w, unsigned h) {
  std::vector<std::uint8_t> dots(std::size_t{w} * h, 0);
  for (unsigned y = 0; y < h; ++y)
    for (unsigned x = 0; x < w; ++x) {
      const bool frame = x < 6 || y < 6 || x >= w - 6 || y >= h - 6;
      const bool bars = y > h / 4 && y < h / 2 && (x / 5) % 3 == 0;
      const bool block = y > 2 * h / 3 && y < 3 * h / 4 && x > w / 3 && x < 2 * w / 3;
      dots[std::size_t{y} * w + x] = frame || bars || block;
    }
  return dots;
}

RasterPage OneBitPage(unsigned w, unsigned h, unsigned dpi, const std::vector<std::uint8_t> &dots) {
  RasterPage p{MakeHeader(w, h, 1, dpi), {}};
  p.header.cupsBytesPerLine = (w + 7) / 8;
  p.data.assign(std::size_t{p.header.cupsBytesPerLine} * h, 0);
  for (unsigned y = 0; y < h; ++y)
    for (unsigned x = 0; x < w; ++x)
      if (dots[std::size_t{y} * w + x]) p.data[std::size_t{y} * p.header.cupsBytesPerLine + x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
  return p;
}

RasterPage RgbPage(unsigned w, unsigned h, unsigned dpi, const std::vector<std::uint8_t> &dots) {
  RasterPage p{MakeHeader(w, h, 24, dpi), {}};
  p.header.cupsBytesPerLine = w * 3;
  p.data.assign(std::size_t{w} * 3 * h, 0xFF);
  for (std::size_t i = 0; i < dots.size(); ++i)
    if (dots[i]) p.data[3 * i] = p.data[3 * i + 1] = p.data[3 * i + 2] = 0;
  return p;
}

Bytes GrayPixels(const std::vector<std::uint8_t> &dots) {
  Bytes g(dots.size());
  for (std::size_t i = 0; i < dots.size(); ++i) g[i] = dots[i] ? 0 : 255;
  return g;
}

// The filter run as a CUPS queue with the driver's PPD runs it.
FilterResult FilterAsCupsWould(const std::string &driver, const RasterPage &page, const std::string &options,
                               const std::string &printer, const std::string &uri) {
  FilterRun run;
  run.env["PPD"] = PpdPath(driver);
  run.env["PRINTER"] = printer;
  run.env["DEVICE_URI"] = uri;
  run.args = {"1", "tester", "job", "1", options};
  run.input = WriteRaster({page});
  return RunFilter(run);
}

// The decoded page holds the image at `xOffset` (a thermal head centres an
// image narrower than itself).
void ExpectDots(const dwdecode::DecodedPage &page, unsigned w, unsigned h, const std::vector<std::uint8_t> &dots,
                unsigned xOffset = 0) {
  ASSERT_GE(page.width, w + xOffset);
  ASSERT_GE(page.height, h);
  std::size_t differ = 0;
  for (unsigned y = 0; y < h; ++y)
    for (unsigned x = 0; x < w; ++x) differ += page.Dot(x + xOffset, y) != (dots[std::size_t{y} * w + x] != 0);
  EXPECT_EQ(differ, 0u);
}

class AppJobs : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new AppServer();
    ASSERT_TRUE(server_->running()) << "dotweave-app did not start";
    for (const auto &[name, driver] : std::vector<std::pair<std::string, std::string>>{
             {"zpl", "dotweave-zpl"}, {"dymo", "dotweave-dymo"}, {"eplline", "dotweave-epl-line"},
             {"eplpage", "dotweave-epl-page"}, {"pcl", "dotweave-pcl"}, {"kv412", "kv412-a"},
             {"needle", "lc586-a"}, {"labels", "kv418-a"}})
      ASSERT_TRUE(server_->AddPrinter(name, driver)) << name;
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  static AppServer &server() { return *server_; }
  TempDir dir_;

 private:
  static AppServer *server_;
};
AppServer *AppJobs::server_ = nullptr;

std::string LogTail(const AppServer &s) { return s.jobLog(); }

std::string LastOutput(AppServer &s, const std::string &printer, const JobOutcome &job) {
  return s.Output(printer, job);
}

TEST_F(AppJobs, PwgRasterGivesExactlyTheFilterBytesOfACupsQueue) {
  const unsigned w = 812, h = 1218;
  const std::vector<std::uint8_t> dots = LabelDots(w, h);
  RasterPage page = OneBitPage(w, h, 203, dots);
  page.header.PageSize[0] = 288;
  page.header.PageSize[1] = 432;
  const std::string pwg = PwgRasterFile(dir_, "label.pwg", {page});
  const JobOutcome job = server().Print("zpl", pwg, "image/pwg-raster");
  ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << job.message << server().log();
  const std::string out = server().Output("zpl", job);

  // The ZPL PPD's defaults put these into the raster header of a CUPS queue:
  // darkness 0 ("printer setting") in cupsCompression, row step 200 and
  // advance 1000 ("not set") with the 203 dpi resolution.
  RasterPage expected = page;
  expected.header.cupsCompression = 0;
  expected.header.cupsRowStep = 200;
  expected.header.AdvanceDistance = 1000;
  const FilterResult cups = FilterAsCupsWould("dotweave-zpl", expected, "", "zpl", "file:///dev/null");
  ASSERT_EQ(cups.exitStatus, 0) << cups.err;
  EXPECT_EQ(out, cups.out);
  const dwdecode::DecodeResult d = dwdecode::DecodeZpl(out);
  ASSERT_EQ(d.pages.size(), 1u);
  ExpectDots(d.pages[0], w, h, dots);
}

// PAPPL answers a raster job to a busy printer with server-error-busy and
// drops it; here it waits its turn and prints exactly as it does alone.
TEST_F(AppJobs, PwgRasterToABusyPrinterWaitsItsTurn) {
  const unsigned w = 812, h = 1218;
  const std::vector<std::uint8_t> dots = LabelDots(w, h);
  const std::string pwg = PwgRasterFile(dir_, "turn.pwg", {OneBitPage(w, h, 203, dots)});
  const std::string png = PngFile(dir_, "busy.png", w, h, GrayPixels(dots), 1, 203);
  const JobOutcome alone = server().Print("eplpage", pwg, "image/pwg-raster");
  ASSERT_EQ(alone.state, IPP_JSTATE_COMPLETED) << alone.message << LogTail(server());
  const std::string reference = server().Output("eplpage", alone);
  ASSERT_FALSE(reference.empty());

  for (int round = 0; round < 2; ++round) {
    const JobOutcome busy = server().Submit("eplpage", png, "image/png", "copies=12");
    ASSERT_GT(busy.id, 0) << busy.submitMessage;
    const JobOutcome raster = server().Submit("eplpage", pwg, "image/pwg-raster");
    ASSERT_LT(raster.submitStatus, IPP_STATUS_ERROR_BAD_REQUEST) << raster.submitMessage;
    const JobOutcome busyDone = server().Wait("eplpage", busy, 60);
    const JobOutcome rasterDone = server().Wait("eplpage", raster, 60);
    EXPECT_EQ(busyDone.state, IPP_JSTATE_COMPLETED) << busyDone.message;
    ASSERT_EQ(rasterDone.state, IPP_JSTATE_COMPLETED) << rasterDone.message << LogTail(server());
    EXPECT_EQ(server().Output("eplpage", rasterDone), reference);
    EXPECT_FALSE(server().Output("eplpage", busyDone).empty());
  }
}

// PAPPL 1.3.1 added one more printer-strings-languages-supported to the
// printer with every request for all attributes, so that the third answer
// held it twice and IPP clients refused it. No answer holds any attribute
// twice, however often it is asked.
TEST_F(AppJobs, NoPrinterAttributeTwiceHoweverOftenAsked) {
  for (int ask = 0; ask < 4; ++ask) {
    http_t *http = httpConnect2("localhost", server().port(), nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED, 1,
                                5000, nullptr);
    ASSERT_NE(http, nullptr);
    ipp_t *request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, server().printerUri("zpl").c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "all");
    ipp_t *response = cupsDoRequest(http, request, "/ipp/print/zpl");
    httpClose(http);
    ASSERT_NE(response, nullptr);
    std::map<std::string, int> seen;
    for (ipp_attribute_t *a = ippFirstAttribute(response); a; a = ippNextAttribute(response))
      if (ippGetGroupTag(a) == IPP_TAG_PRINTER && ippGetName(a)) ++seen[ippGetName(a)];
    ippDelete(response);
    for (const auto &[name, count] : seen) EXPECT_EQ(count, 1) << name << " in answer " << ask + 1;
    if (ask > 0) {
      EXPECT_EQ(seen.count("printer-strings-languages-supported"), 1u) << "answer " << ask + 1;
    }
  }
}

TEST_F(AppJobs, PwgRasterToAThermalModelWithJobSettings) {
  const unsigned w = 832, h = 400;
  const std::vector<std::uint8_t> dots = LabelDots(w, h);
  RasterPage page = RgbPage(w, h, 203, dots);
  const std::string pwg = PwgRasterFile(dir_, "thermal.pwg", {GrayPageOf(page)});
  // print-darkness +50 on the default 75% (the middle of 50..100) is 100%;
  // 3 inches per second is the third speed level.
  const JobOutcome job = server().Print("kv412", pwg, "image/pwg-raster",
                                        "print-darkness=50 print-speed=7620 page-rotation=180 gray-threshold=80");
  ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << job.message << LogTail(server());
  const std::string out = LastOutput(server(), "kv412", job);
  const FilterResult cups = FilterAsCupsWould(
      "kv412-a", page, "Density=100 Speed=2 Rotation=180 GrayADJ=80", "kv412", "file:///dev/null");
  ASSERT_EQ(cups.exitStatus, 0) << cups.err;
  EXPECT_EQ(out, cups.out);
  const dwdecode::DecodeResult d = dwdecode::DecodeOemThermal(out);
  ASSERT_EQ(d.pages.size(), 1u);
  bool density = false;
  for (const auto &[k, v] : d.pages[0].settings) density = density || (k == "density" && v == "100");
  EXPECT_TRUE(density);
}

TEST_F(AppJobs, PngReachesEveryFamilyDotForDot) {
  struct Case {
    std::string printer;
    unsigned dpi, w, h;
    dwdecode::Language language;
    unsigned xOffset = 0;
  };
  for (const Case &c : std::vector<Case>{{"zpl", 203, 812, 1218, dwdecode::Language::Zpl},
                                         {"eplline", 203, 812, 1218, dwdecode::Language::EplLine},
                                         {"eplpage", 203, 812, 1218, dwdecode::Language::EplPage},
                                         {"pcl", 203, 812, 1218, dwdecode::Language::Pcl},
                                         {"dymo", 300, 337, 1050, dwdecode::Language::Dymo},
                                         {"kv412", 203, 812, 1218, dwdecode::Language::OemThermal, (832 - 812) / 2}}) {
    SCOPED_TRACE(c.printer);
    const std::vector<std::uint8_t> dots = LabelDots(c.w, c.h);
    const std::string png = PngFile(dir_, c.printer + ".png", c.w, c.h, GrayPixels(dots), 1, c.dpi);
    const JobOutcome job = server().Print(c.printer, png, "image/png");
    ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << job.message << LogTail(server());
    const dwdecode::DecodeResult d = dwdecode::Decode(c.language, LastOutput(server(), c.printer, job));
    EXPECT_TRUE(d.problems.empty());
    ASSERT_EQ(d.pages.size(), 1u);
    ExpectDots(d.pages[0], c.w, c.h, dots, c.xOffset);
  }
}

// A ZPL printer's tear-off offset (tear-off-offset, in dots), from the job
// or the printer's default, reaches it as one line of the label format
// after the label home: "~TA" with at least three digits, a negative value
// four characters wide with its sign. Without one the printer keeps its own:
// no ~TA.
TEST_F(AppJobs, TearOffsetReachesAZplPrinter) {
  ASSERT_TRUE(server().AddPrinter("zpltear", "dotweave-zpl"));
  struct Case {
    int printerDefault;
    std::string jobOption, line;  // line "" for none
  };
  for (const Case &c : {Case{0, "", ""}, Case{0, "tear-off-offset=20", "~TA020\n"},
                        Case{0, "tear-off-offset=-7", "~TA-007\n"}, Case{-120, "", "~TA-120\n"},
                        Case{-120, "tear-off-offset=0", ""}, Case{0, "tear-off-offset=121", "refused"}}) {
    SCOPED_TRACE(std::to_string(c.printerDefault) + " " + c.jobOption);
    ASSERT_TRUE(server().SetPrinterInteger("zpltear", "tear-off-offset-default", c.printerDefault));
    const std::string pwg = PwgRasterFile(dir_, "tear.pwg", {OneBitPage(64, 16, 203, LabelDots(64, 16))});
    const JobOutcome job = server().Print("zpltear", pwg, "image/pwg-raster", c.jobOption);
    const std::string out = LastOutput(server(), "zpltear", job);
    if (c.line == "refused") {
      EXPECT_NE(job.state, IPP_JSTATE_COMPLETED);
      EXPECT_NE(job.message.find("tear-off-offset"), std::string::npos) << job.message;
      EXPECT_EQ(out, "");
      continue;
    }
    ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << job.message << LogTail(server());
    const std::size_t home = out.find("^LH0,0\n"), graphic = out.find("^FO0,0^XGR:CUPS.GRF,1,1^FS\n");
    ASSERT_NE(home, std::string::npos) << out;
    ASSERT_NE(graphic, std::string::npos) << out;
    if (c.line.empty()) {
      EXPECT_EQ(out.find("~TA"), std::string::npos) << out;
      continue;
    }
    const std::size_t at = out.find("\n" + c.line);
    ASSERT_NE(at, std::string::npos) << out;
    EXPECT_GT(at, home);
    EXPECT_LT(at, graphic);
    EXPECT_EQ(out.find("~TA", at + c.line.size()), std::string::npos) << "one line only";
  }
}

TEST_F(AppJobs, RawZplPassesThroughUnchanged) {
  const std::string zpl = "^XA^FO50,50^A0N,40,40^FDdotweave^FS^XZ\n";
  const std::string file = dir_.Write("label.zpl", zpl);
  const JobOutcome job = server().Print("zpl", file, "application/vnd.zebra-zpl");
  ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << job.message << LogTail(server());
  EXPECT_EQ(LastOutput(server(), "zpl", job), zpl);
}

// Apple raster in the one type a black-only OEM printer advertises (URF W8,
// 8-bit gray), what an iPhone sends it: the label's dots come out as sent.
// URF: "UNIRAST", a page count, a 32-byte page header (bits per pixel, color
// space 0 for sGray, duplex, quality, 8 reserved bytes, width, height,
// resolution, 8 reserved bytes), then per line a repeat count and pixel
// runs (n < 128: the next pixel n + 1 times).
TEST_F(AppJobs, AppleRasterInGrayPrintsOnAThermalModel) {
  const unsigned w = 832, h = 300;
  const std::vector<std::uint8_t> dots = LabelDots(w, h);
  std::string urf("UNIRAST\0\0\0\0\1", 12);
  auto be32 = [&urf](unsigned v) {
    for (int shift = 24; shift >= 0; shift -= 8) urf += static_cast<char>((v >> shift) & 0xFF);
  };
  urf += std::string("\x08\x00\x01\x04", 4) + std::string(8, '\0');
  be32(w);
  be32(h);
  be32(203);
  urf += std::string(8, '\0');
  for (unsigned y = 0; y < h; ++y) {
    urf += '\0';
    for (unsigned x = 0; x < w;) {
      const bool black = dots[std::size_t{y} * w + x] != 0;
      unsigned run = 1;
      while (run < 128 && x + run < w && (dots[std::size_t{y} * w + x + run] != 0) == black) ++run;
      urf += static_cast<char>(run - 1);
      urf += static_cast<char>(black ? 0x00 : 0xFF);
      x += run;
    }
  }
  const JobOutcome job = server().Print("kv412", dir_.Write("label.urf", urf), "image/urf");
  ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << job.message << LogTail(server());
  const dwdecode::DecodeResult d = dwdecode::DecodeOemThermal(LastOutput(server(), "kv412", job));
  ASSERT_EQ(d.pages.size(), 1u);
  ExpectDots(d.pages[0], w, h, dots);
}

TEST_F(AppJobs, APrinterNamedAnythingPrintsAsItsDriversModel) {
  // "labels" says nothing about the KV418 A (384-dot head) it drives.
  const unsigned w = 384, h = 200;
  const std::vector<std::uint8_t> dots = LabelDots(w, h);
  const std::string pwg = PwgRasterFile(dir_, "small.pwg", {GrayPageOf(RgbPage(w, h, 203, dots))});
  const JobOutcome job = server().Print("labels", pwg, "image/pwg-raster");
  ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << job.message << LogTail(server());
  const dwdecode::DecodeResult d = dwdecode::DecodeOemThermal(LastOutput(server(), "labels", job));
  ASSERT_EQ(d.pages.size(), 1u);
  EXPECT_EQ(d.pages[0].width, 384u);
  ExpectDots(d.pages[0], w, h, dots);
}

TEST_F(AppJobs, UnsupportedVendorValuesAreRefused) {
  const std::string pwg = PwgRasterFile(dir_, "v.pwg", {GrayPageOf(RgbPage(64, 16, 203, LabelDots(64, 16)))});
  const JobOutcome job = server().Print("kv412", pwg, "image/pwg-raster", "page-rotation=45");
  EXPECT_NE(job.state, IPP_JSTATE_COMPLETED);
  EXPECT_NE(job.message.find("page-rotation"), std::string::npos) << job.message << LogTail(server());
  EXPECT_EQ(LastOutput(server(), "kv412", job), "");
  // The next job prints.
  EXPECT_EQ(server().Print("kv412", pwg, "image/pwg-raster").state, IPP_JSTATE_COMPLETED);
}

}  // namespace
