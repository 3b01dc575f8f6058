// The "serial" scheme through PAPPL's own device API, as a print job uses
// it, and the check made when a printer is added.
#include <gtest/gtest.h>

#include <thread>

#include "serial.h"
#include "serial_pty.h"

namespace {

using serialtest::Bytes;
using serialtest::PatternBytes;
using serialtest::Pty;
using std::chrono::milliseconds;

void CollectError(const char *message, void *data) {
  static_cast<std::vector<std::string> *>(data)->push_back(message);
}

// The device as a job opens it: the scheme registered, no system needed.
pappl_device_t *OpenDevice(const std::string &uri, std::vector<std::string> &errors) {
  dwRegisterSerialScheme();
  return papplDeviceOpen(uri.c_str(), "job", CollectError, &errors);
}

TEST(SerialScheme, AJobWritesThroughPapplToThePort) {
  Pty pty;
  std::vector<std::string> errors;
  pappl_device_t *device = OpenDevice("serial:" + pty.slave() + "?baud=115200", errors);
  ASSERT_NE(device, nullptr) << (errors.empty() ? "" : errors[0]);
  EXPECT_EQ(papplDeviceGetStatus(device), PAPPL_PREASON_NONE);

  const Bytes sent = PatternBytes(300000);
  Bytes received;
  std::thread printer([&] { received = pty.Receive(sent.size()); });
  EXPECT_EQ(papplDeviceWrite(device, sent.data(), sent.size()),
            static_cast<ssize_t>(sent.size()));
  papplDeviceClose(device);  // writes what PAPPL still buffers
  printer.join();
  EXPECT_TRUE(errors.empty()) << errors[0];
  ASSERT_EQ(received.size(), sent.size());
  EXPECT_TRUE(received == sent);
}

TEST(SerialScheme, ThePrintersAnswerIsReadThroughPappl) {
  Pty pty;
  std::vector<std::string> errors;
  pappl_device_t *device = OpenDevice("serial:" + pty.slave(), errors);
  ASSERT_NE(device, nullptr);
  pty.Send({'R', 'D', 'Y', '\r'});
  char buffer[16] = {};
  Bytes got;
  while (got.size() < 4) {
    const ssize_t n = papplDeviceRead(device, buffer, sizeof buffer);
    ASSERT_GT(n, 0);
    got.insert(got.end(), buffer, buffer + n);
  }
  EXPECT_TRUE(got == Bytes({'R', 'D', 'Y', '\r'}));
  papplDeviceClose(device);
}

TEST(SerialScheme, BadUrisAndMissingPortsAreRefusedAtOpen) {
  const struct {
    std::string uri;
    std::string error;
  } cases[] = {
      {"serial:/dev/ttyUSB0?baud=12345", "Bad serial device URI: unknown baud rate 12345"},
      {"serial:?baud=9600", "Bad serial device URI: no device path"},
      {"serial:/dev/null", "/dev/null is not a terminal"},
      {"serial:/nonexistent/ttyUSB9", "no such device: /nonexistent/ttyUSB9"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.uri);
    std::vector<std::string> errors;
    EXPECT_EQ(OpenDevice(c.uri, errors), nullptr);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], c.error);
  }
}

// An unplugged adapter fails the job's write with the reason; the printer
// takes jobs again once the device is back (the next open).
TEST(SerialScheme, ThePortGoingAwayFailsTheWriteWithTheReason) {
  Pty pty;
  std::vector<std::string> errors;
  pappl_device_t *device = OpenDevice("serial:" + pty.slave(), errors);
  ASSERT_NE(device, nullptr);
  std::thread printer([&] {
    pty.Receive(50000);
    pty.CloseMaster();
  });
  const Bytes chunk = PatternBytes(65536);
  ssize_t result = 0;
  for (int i = 0; i < 256 && result >= 0; ++i) {
    result = papplDeviceWrite(device, chunk.data(), chunk.size());
  }
  printer.join();
  EXPECT_LT(result, 0);
  EXPECT_EQ(papplDeviceGetStatus(device), PAPPL_PREASON_OFFLINE);
  papplDeviceClose(device);
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(errors[0], "the serial device " + pty.slave() + " went away (Input/output error)");

  Pty back;
  errors.clear();
  device = OpenDevice("serial:" + back.slave(), errors);
  ASSERT_NE(device, nullptr);
  papplDeviceClose(device);
}

TEST(SerialScheme, AddingAPrinterChecksItsSerialUri) {
  Pty pty;
  serialtest::TempTree tree;
  const std::string file = tree.File("ttyUSB0");
  const struct {
    std::string uri;
    std::string error;
  } cases[] = {
      {"serial:" + pty.slave() + "?baud=115200+flow=hard", ""},
      {"usb://Maker/KV412%20A?serial=ABC123", ""},  // not ours to check
      {"serial:/dev/ttyUSB0?baud=12345", "unknown baud rate 12345"},
      {"serial:?baud=9600", "no device path"},
      {"serial:/dev/null", "/dev/null is not a terminal"},
      {"serial:" + file, file + " is not a terminal"},
      {"serial:/nonexistent/rfcomm0", "no such device: /nonexistent/rfcomm0"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.uri);
    EXPECT_EQ(dwserial::CheckSerialDeviceUri(c.uri.c_str()), c.error);
  }
  EXPECT_EQ(dwserial::CheckSerialDeviceUri(nullptr), "no device URI");
}

bool Collect(const char *info, const char *uri, const char *id, void *data) {
  auto *seen = static_cast<std::vector<std::string> *>(data);
  seen->push_back(std::string(info) + "|" + uri + "|" + id);
  return false;
}

bool StopAtFirst(const char *info, const char *uri, const char *id, void *data) {
  Collect(info, uri, id, data);
  return true;
}

TEST(SerialScheme, PortsAreReportedToPapplsListCallback) {
  serialtest::TempTree tree;
  tree.File("dev/ttyUSB0");
  tree.File("dev/rfcomm0");
  const std::string dev = (tree.root() / "dev").string();
  const std::string sys = (tree.root() / "sys").string();
  std::vector<std::string> seen;
  EXPECT_FALSE(dwserial::ReportSerialPorts(Collect, &seen, dev, sys));
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "USB serial adapter (ttyUSB0)|serial:" + dev + "/ttyUSB0?baud=115200|",
                      "Bluetooth serial port (rfcomm0)|serial:" + dev + "/rfcomm0?baud=115200|",
                  }));
  seen.clear();
  EXPECT_TRUE(dwserial::ReportSerialPorts(StopAtFirst, &seen, dev, sys));
  EXPECT_EQ(seen.size(), 1u);
}

}  // namespace
