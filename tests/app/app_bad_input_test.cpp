// Bad jobs on a private dotweave-app server: each ends aborted or refused
// with a reason, nothing half-printed is reported as printed, the next job
// prints, and the server's memory does not grow from job to job.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/app_server.h"
#include "decode/decode.h"

using namespace dwtest;

namespace {

void AppendChunk(std::string &png, const char *type, const std::string &data) {
  const std::uint32_t n = static_cast<std::uint32_t>(data.size());
  const char len[4] = {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
                       static_cast<char>(n)};
  png.append(len, 4);
  const std::string body = std::string(type, 4) + data;
  png += body;
  const uLong crc = crc32(0, reinterpret_cast<const Bytef *>(body.data()), static_cast<uInt>(body.size()));
  const char c[4] = {static_cast<char>(crc >> 24), static_cast<char>(crc >> 16), static_cast<char>(crc >> 8),
                     static_cast<char>(crc)};
  png.append(c, 4);
}

// A valid PNG signature and header that declare width x height gray pixels,
// followed by far too little image data.
std::string HugePng(std::uint32_t width, std::uint32_t height) {
  std::string png = "\x89PNG\r\n\x1a\n";
  std::string ihdr;
  for (std::uint32_t v : {width, height})
    for (int shift = 24; shift >= 0; shift -= 8) ihdr += static_cast<char>(v >> shift);
  ihdr += std::string("\x08\x00\x00\x00\x00", 5);  // 8-bit gray, no interlace
  AppendChunk(png, "IHDR", ihdr);
  const std::string row(1 + 64, '\0');
  uLongf size = compressBound(static_cast<uLong>(row.size()));
  std::string z(size, '\0');
  compress(reinterpret_cast<Bytef *>(z.data()), &size, reinterpret_cast<const Bytef *>(row.data()),
           static_cast<uLong>(row.size()));
  z.resize(size);
  AppendChunk(png, "IDAT", z);
  AppendChunk(png, "IEND", "");
  return png;
}

RasterPage SmallRgbPage() {
  RasterPage p{MakeHeader(832, 64, 24, 203), {}};
  p.data.assign(std::size_t{832} * 3 * 64, 0xFF);
  for (std::size_t i = 0; i < 832 * 3 * 8; ++i) p.data[i] = 0;  // 8 black rows
  return p;
}

bool Ended(const JobOutcome &j) { return j.state == IPP_JSTATE_ABORTED || j.state == IPP_JSTATE_CANCELED; }

class AppBadInput : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.running());
    ASSERT_TRUE(server_.AddPrinter("kv412", "kv412-a"));
    ASSERT_TRUE(server_.AddPrinter("zpl", "dotweave-zpl"));
    good_ = PwgRasterFile(dir_, "good.pwg", {GrayPageOf(SmallRgbPage())});
  }

  // The next job after a bad one prints the whole page.
  void ExpectNextJobPrints() {
    const JobOutcome j = server_.Print("kv412", good_, "image/pwg-raster");
    ASSERT_EQ(j.state, IPP_JSTATE_COMPLETED) << j.message;
    const dwdecode::DecodeResult d = dwdecode::DecodeOemThermal(server_.Output("kv412", j));
    ASSERT_EQ(d.pages.size(), 1u);
    EXPECT_EQ(d.pages[0].height, 64u);
  }

  TempDir dir_;
  AppServer server_;
  std::string good_;
};

// A PNG whose header declares 100000 x 100000 pixels and whose data is cut
// short, and a damaged JPEG: the decoder child refuses the first before it
// decodes a pixel and finds the second damaged; both jobs end aborted with
// the reason, at once, and the next job prints.
TEST_F(AppBadInput, HugeOrDamagedImagesAreAbortedWithTheReason) {
  const std::string png = dir_.Write("huge.png", HugePng(100000, 100000));
  const JobOutcome j = server_.Wait("zpl", server_.Submit("zpl", png, "image/png"), 20);
  EXPECT_EQ(j.state, IPP_JSTATE_ABORTED) << j.message;
  EXPECT_NE(j.message.find("larger than 36000000 pixels"), std::string::npos) << j.message;
  EXPECT_EQ(server_.Output("zpl", j), "");
  const std::string cut = dir_.Write("cut.png", HugePng(2000, 2000));
  const JobOutcome c = server_.Wait("kv412", server_.Submit("kv412", cut, "image/png"), 20);
  EXPECT_EQ(c.state, IPP_JSTATE_ABORTED) << c.message;
  EXPECT_NE(c.message.find("The PNG file is damaged"), std::string::npos) << c.message;
  const std::string jpeg = dir_.Write("cut.jpg", std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00", 11));
  const JobOutcome k = server_.Wait("zpl", server_.Submit("zpl", jpeg, "image/jpeg"), 20);
  EXPECT_EQ(k.state, IPP_JSTATE_ABORTED) << k.message;
  EXPECT_NE(k.message.find("The JPEG file is damaged"), std::string::npos) << k.message;
  ExpectNextJobPrints();
}

TEST_F(AppBadInput, PwgRasterWithAnAbsurdHeaderIsAborted) {
  RasterPage absurd{MakeHeader(832, 64, 8, 203), {}};
  absurd.header.cupsWidth = 4000000;
  absurd.header.cupsBytesPerLine = 12000000;
  absurd.header.cupsHeight = 3000000;
  const std::string raw = RawRaster(absurd.header, Bytes(1000, 0));
  // A PWG raster file starts "RaS2" and has the CUPS page header layout.
  const std::string file = dir_.Write("absurd.pwg", raw);
  const JobOutcome j = server_.Print("kv412", file, "image/pwg-raster");
  EXPECT_TRUE(Ended(j) || j.submitStatus >= IPP_STATUS_ERROR_BAD_REQUEST) << j.state << " " << j.message;
  EXPECT_EQ(server_.Output("kv412", j), "");
  ExpectNextJobPrints();
}

TEST_F(AppBadInput, TruncatedDocumentsAreAbortedWithoutAPage) {
  const std::string whole = ReadFile(good_);
  const std::string cut = dir_.Write("cut.pwg", whole.substr(0, whole.size() / 2));
  const JobOutcome j = server_.Print("kv412", cut, "image/pwg-raster");
  EXPECT_EQ(j.state, IPP_JSTATE_ABORTED) << j.message;
  // An OEM page is sent whole or not at all.
  EXPECT_EQ(server_.Output("kv412", j), "");

  const std::string pdf = dir_.Write("cut.pdf", "%PDF-1.4\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R");
  const JobOutcome p = server_.Print("kv412", pdf, "application/pdf");
  EXPECT_EQ(p.state, IPP_JSTATE_ABORTED);
  EXPECT_FALSE(p.message.empty());
  ExpectNextJobPrints();
}

TEST_F(AppBadInput, UnknownVendorValuesAndDefaultsAreRefused) {
  for (const char *options : {"page-rotation=45", "horizontal-adjust=99", "gray-threshold=dark"}) {
    SCOPED_TRACE(options);
    const JobOutcome j = server_.Print("kv412", good_, "image/pwg-raster", options);
    EXPECT_TRUE(Ended(j) || j.submitStatus >= IPP_STATUS_ERROR_BAD_REQUEST) << j.message;
    EXPECT_EQ(server_.Output("kv412", j), "");
  }
  const JobOutcome z = server_.Print("zpl", good_, "image/pwg-raster", "error-reprint=sometimes");
  EXPECT_TRUE(Ended(z) || z.submitStatus >= IPP_STATUS_ERROR_BAD_REQUEST);
  ExpectNextJobPrints();
}

// A device that cannot be opened is refused when the printer is added.
TEST_F(AppBadInput, DeviceThatCannotBeOpenedIsRefused) {
  EXPECT_FALSE(server_.AddPrinter("nowhere", "kv412-a", "file:///nonexistent/dotweave/out"));
  ExpectNextJobPrints();
}

TEST_F(AppBadInput, MemoryDoesNotGrowFromJobToJob) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer keeps freed memory in quarantine, so the server's size says nothing";
#endif
  for (int i = 0; i < 5; ++i) ASSERT_EQ(server_.Print("kv412", good_, "image/pwg-raster").state, IPP_JSTATE_COMPLETED);
  const long before = server_.RssKilobytes();
  for (int i = 0; i < 30; ++i) ASSERT_EQ(server_.Print("kv412", good_, "image/pwg-raster").state, IPP_JSTATE_COMPLETED);
  const long after = server_.RssKilobytes();
  ASSERT_GT(before, 0);
  // PAPPL keeps a record of each completed job; the pages themselves must not stay.
  EXPECT_LT(after - before, 3 * 1024) << before << " kB before, " << after << " kB after";
}

// A filter that dies mid-job fails that job with the reason, and the server
// goes on: the wrapper kills itself with SIGKILL after reading part of the
// server's first job ("job1").
TEST(AppFilterCrash, AKilledFilterFailsOnlyItsJob) {
  TempDir dir;
  // Job 1's filter starts its job as the real one does (it says its setup
  // is written), then dies in the middle of the page.
  const std::string wrapper = dir.Write("crashing-filter", std::string("#!/bin/sh\n") +
                                                               "case \"$3\" in\n"
                                                               "  job1) echo 'DEBUG: Job setup sent.' >&2\n"
                                                               "        head -c 4000 >/dev/null; kill -KILL $$ ;;\n"
                                                               "esac\n"
                                                               "exec " DOTWEAVE_BINARY " \"$@\"\n");
  ASSERT_EQ(chmod(wrapper.c_str(), 0755), 0);
  AppServer server({{"DOTWEAVE_FILTER", wrapper}});
  ASSERT_TRUE(server.running());
  ASSERT_TRUE(server.AddPrinter("kv412", "kv412-a"));
  const std::string pwg = PwgRasterFile(dir, "page.pwg", {GrayPageOf(SmallRgbPage())});

  const JobOutcome crash = server.Print("kv412", pwg, "image/pwg-raster");
  EXPECT_EQ(crash.state, IPP_JSTATE_ABORTED);
  EXPECT_NE(crash.message.find("signal 9"), std::string::npos) << crash.message << server.jobLog();

  const JobOutcome next = server.Print("kv412", pwg, "image/pwg-raster");
  EXPECT_EQ(next.state, IPP_JSTATE_COMPLETED) << next.message;
  EXPECT_EQ(dwdecode::DecodeOemThermal(server.Output("kv412", next)).pages.size(), 1u);
}

}  // namespace

namespace {

// A server whose port another program holds stops at once and says why,
// instead of running with nothing to answer on.
TEST(AppServerStart, APortInUseStopsTheServerWithTheReason) {
  const int holder = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(holder, 1), 0);
  ASSERT_EQ(getsockname(holder, reinterpret_cast<sockaddr *>(&addr), &len), 0);
  TempDir dir;
  FilterRun run;
  run.binary = AppBinary();
  run.env["LSAN_OPTIONS"] = LsanOptions();
  run.args = {"server", "-o", "server-port=" + std::to_string(ntohs(addr.sin_port)), "-o",
              "listen-hostname=127.0.0.1", "-o", "state-directory=" + dir.path()};
  const FilterResult r = RunFilter(run);
  close(holder);
  EXPECT_NE(r.exitStatus, 0);
  EXPECT_NE(r.err.find("cannot listen on 127.0.0.1 port"), std::string::npos) << r.err;
}

}  // namespace

namespace {

// The web page's "Add Printer" lists the devices, network ones through
// avahi: on a machine without the avahi daemon PAPPL's listing used to abort
// the server. The page is served, offers the automatic driver, and the
// server goes on.
TEST(AppWeb, TheAddPrinterPageIsServedWithoutTheAvahiDaemon) {
  AppServer server;
  ASSERT_TRUE(server.running());
  const auto [status, page] = server.HttpGet("/addprinter");
  EXPECT_EQ(status, 200);
  EXPECT_NE(page.find("Auto-Detect Driver"), std::string::npos);
  EXPECT_NE(page.find("value=\"dotweave-zpl\""), std::string::npos);
  EXPECT_EQ(kill(server.pid(), 0), 0) << "the server stopped";
  EXPECT_TRUE(server.AddPrinter("zpl", "dotweave-zpl"));
  // "devices" lists in its own process, with the same listing.
  FilterRun run;
  run.binary = AppBinary();
  run.env["LSAN_OPTIONS"] = LsanOptions();
  run.args = {"devices"};
  const FilterResult devices = RunFilter(run);
  EXPECT_EQ(devices.exitStatus, 0) << devices.err;
  EXPECT_EQ(devices.err.find("Assertion"), std::string::npos) << devices.err;
}

}  // namespace
