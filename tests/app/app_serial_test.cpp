// A serial printer through the whole application: a pseudo-terminal stands
// in for the port, a KV412 A is added on "serial:" + its path, a job is
// printed, and what arrives on the other side is exactly what the filter
// writes for the page in a CUPS queue on the same port. Device URIs that
// cannot work are refused when the printer is added, saying why.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/app_server.h"
#include "decode/decode.h"
#include "serial_pty.h"

using namespace dwtest;

namespace {

TEST(AppSerial, AThermalPrinterOnAPseudoTerminalGetsTheFiltersBytes) {
  serialtest::Pty pty;
  const std::string uri = "serial:" + pty.slave() + "?baud=115200+bits=8+parity=none+flow=none";
  TempDir dir;
  AppServer server;
  ASSERT_TRUE(server.running());
  ASSERT_TRUE(server.AddPrinter("counter", "kv412-a", uri)) << server.jobLog();

  const unsigned w = 832, h = 240;
  RasterPage page{MakeHeader(w, h, 24, 203), {}};
  page.data.assign(std::size_t{w} * 3 * h, 0xFF);
  for (unsigned y = 40; y < 200; ++y)
    for (unsigned x = 100 + y; x < 500 + y / 2; ++x)
      for (unsigned c = 0; c < 3; ++c) page.data[(std::size_t{y} * w + x) * 3 + c] = 0x00;
  const std::string pwg = PwgRasterFile(dir, "label.pwg", {GrayPageOf(page)});

  FilterRun run;
  run.env["PPD"] = PpdPath("kv412-a");
  run.env["PRINTER"] = "counter";
  run.env["DEVICE_URI"] = uri;
  run.args = {"1", "tester", "job", "1", ""};
  run.input = WriteRaster({page});
  const FilterResult cups = RunFilter(run);
  ASSERT_EQ(cups.exitStatus, 0) << cups.err;

  // Held open so that the other side does not see the line hang up between
  // the server's opening and closing of the port.
  const int keepOpen = open(pty.slave().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(keepOpen, 0);
  serialtest::Bytes received;
  std::thread printer([&] { received = pty.Receive(cups.out.size(), std::chrono::milliseconds(20000)); });
  const JobOutcome job = server.Print("counter", pwg, "image/pwg-raster");
  printer.join();
  close(keepOpen);
  ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << job.message << server.jobLog();
  const std::string out(received.begin(), received.end());
  EXPECT_EQ(out.size(), cups.out.size());
  EXPECT_TRUE(out == cups.out);
  const dwdecode::DecodeResult d = dwdecode::DecodeOemThermal(out);
  ASSERT_EQ(d.pages.size(), 1u);
  EXPECT_EQ(d.pages[0].width, 832u);
  EXPECT_EQ(d.pages[0].height, h);
  // Dot for dot: black where the page is black.
  for (unsigned y = 0; y < h; y += 7)
    for (unsigned x = 0; x < w; x += 5)
      ASSERT_EQ(d.pages[0].Dot(x, y), page.data[(std::size_t{y} * w + x) * 3] == 0x00) << x << "," << y;
}

TEST(AppSerial, UnusableSerialUrisAreRefusedWhenThePrinterIsAdded) {
  TempDir dir;
  const std::string file = dir.path() + "/ttyUSB0";
  { std::ofstream(file) << ""; }
  AppServer server;
  ASSERT_TRUE(server.running());
  const struct {
    std::string uri, reason;
  } cases[] = {
      {"serial:/dev/ttyUSB0?baud=12345", "unknown baud rate 12345"},
      {"serial:?baud=9600", "no device path"},
      {"serial:/dev/null", "/dev/null is not a terminal"},
      {"serial:" + file, file + " is not a terminal"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.uri);
    const FilterResult r = server.Command("add", {"-d", "bad", "-v", c.uri, "-m", "kv412-a"});
    EXPECT_NE(r.exitStatus, 0);
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
  }
  // The server goes on serving, and has no printer of these.
  EXPECT_EQ(server.Command("printers", {}).out.find("bad"), std::string::npos);
}

}  // namespace
