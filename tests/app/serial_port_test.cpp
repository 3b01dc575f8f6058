// The serial port on a pseudo-terminal: the termios set-up read back from
// the slave side, every byte through unchanged in both directions, writes
// through a full buffer, flow control, and the errors of a port that is not
// a terminal, busy, stalled or gone.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <thread>

#include "serial.h"
#include "serial_pty.h"

namespace {

using dwserial::FlowControl;
using dwserial::Parity;
using dwserial::PortTimeouts;
using dwserial::SerialPort;
using dwserial::SerialSettings;
using serialtest::Bytes;
using serialtest::PatternBytes;
using serialtest::Pty;
using std::chrono::milliseconds;

std::unique_ptr<SerialPort> OpenOrFail(const SerialSettings &settings, PortTimeouts timeouts = {}) {
  std::string error;
  std::unique_ptr<SerialPort> port = SerialPort::Open(settings, error, timeouts);
  EXPECT_TRUE(port) << error;
  return port;
}

termios SettingsOf(int fd) {
  termios t{};
  EXPECT_EQ(tcgetattr(fd, &t), 0);
  return t;
}

TEST(SerialPortSetup, RawModeSpeedStopBitsAndHardwareFlow) {
  Pty pty;
  auto port = OpenOrFail({.path = pty.slave(), .baud = 115200, .stopBits = 2,
                          .flow = FlowControl::RtsCts});
  ASSERT_TRUE(port);
  const termios t = SettingsOf(port->fd());
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B115200));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | PARODD), 0u);
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);
  EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
  // No carrier needed, receiver on.
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  // Raw: no line editing, echo, signals, or CR/LF translation either way.
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP), 0u);
}

TEST(SerialPortSetup, SoftwareFlowAndTheDefaults) {
  Pty pty;
  {
    auto port = OpenOrFail({.path = pty.slave(), .flow = FlowControl::XonXoff});
    ASSERT_TRUE(port);
    const termios t = SettingsOf(port->fd());
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
  }
  auto port = OpenOrFail({.path = pty.slave()});
  ASSERT_TRUE(port);
  const termios t = SettingsOf(port->fd());
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
  EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
}

// A pty, like some USB adapters, only does 8 bits without parity; the
// settings are read back, so the port is refused instead of printing garbage.
TEST(SerialPortSetup, SettingsTheDriverDropsAreRefused) {
  Pty pty;
  std::string error;
  EXPECT_FALSE(SerialPort::Open({.path = pty.slave(), .dataBits = 7, .parity = Parity::Even},
                                error));
  EXPECT_EQ(error, pty.slave() +
                       " does not support 9600 baud, 7 data bits, even parity, 1 stop bit, "
                       "no flow control");
}

TEST(SerialPortSetup, ClosingGivesThePortItsOldSettingsBack) {
  Pty pty;
  const int other = ::open(pty.slave().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(other, 0);
  ASSERT_NE(SettingsOf(other).c_lflag & ICANON, 0u);  // a fresh pty is in line mode
  {
    auto port = OpenOrFail({.path = pty.slave(), .baud = 115200});
    ASSERT_TRUE(port);
    EXPECT_EQ(SettingsOf(other).c_lflag & ICANON, 0u);
  }
  const termios after = SettingsOf(other);
  EXPECT_NE(after.c_lflag & ICANON, 0u);
  EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B38400));
  ::close(other);
}

TEST(SerialPortOpen, WhatIsNotATerminalIsRefused) {
  serialtest::TempTree tree;
  const std::string file = tree.File("label.prn", "^XA^XZ");
  const std::string dir = tree.Dir("dev");
  const struct {
    std::string path;
    std::string error;
  } cases[] = {
      {"/dev/null", "/dev/null is not a terminal"},
      {file, file + " is not a terminal"},
      {dir, dir + " is not a terminal"},
      {dir + "/ttyUSB9", "no such device: " + dir + "/ttyUSB9"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.path);
    std::string error;
    EXPECT_FALSE(SerialPort::Open({.path = c.path}, error));
    EXPECT_EQ(error, c.error);
  }
  struct stat info {};  // refusing did not touch the file
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_size, 6);
}

TEST(SerialPortOpen, APortIsHeldByOneUserAtATime) {
  Pty pty;
  std::string error;
  auto first = OpenOrFail({.path = pty.slave()});
  ASSERT_TRUE(first);
  EXPECT_FALSE(SerialPort::Open({.path = pty.slave()}, error));
  EXPECT_EQ(error, pty.slave() + " is in use by another program");
  first.reset();
  EXPECT_TRUE(OpenOrFail({.path = pty.slave()}));
}

// Far more than the pty holds, so the writer meets a full buffer many times
// over; every byte value must arrive unchanged and in order.
TEST(SerialPortWrite, ALargeBufferArrivesExactly) {
  Pty pty;
  auto port = OpenOrFail({.path = pty.slave(), .baud = 115200});
  ASSERT_TRUE(port);
  const Bytes sent = PatternBytes(1 << 20);
  Bytes received;
  std::thread printer([&] { received = pty.Receive(sent.size()); });
  std::string error;
  const bool written = port->WriteAll(sent.data(), sent.size(), error);
  printer.join();
  EXPECT_TRUE(written) << error;
  ASSERT_EQ(received.size(), sent.size());
  EXPECT_TRUE(received == sent);
  EXPECT_GT(port->counts().partialWrites, 0u);
  EXPECT_GT(port->counts().waits, 0u);
}

TEST(SerialPortRead, ThePrintersAnswerComesBackUnchanged) {
  Pty pty;
  pty.Send({'o', 'l', 'd'});  // before the job: not an answer to it
  std::this_thread::sleep_for(milliseconds(100));
  auto port = OpenOrFail({.path = pty.slave()});
  ASSERT_TRUE(port);
  std::string error;
  unsigned char buffer[64];
  EXPECT_EQ(port->Read(buffer, sizeof buffer, milliseconds(50), error), 0);  // nothing yet

  // CR, LF, NUL, 0xFF and, without flow control, XOFF and XON are data.
  const Bytes answer = {0x10, 0x04, 0x01, '\r', '\n', 0x00, 0xff, 0x13, 0x11, 'O', 'K'};
  pty.Send(answer);
  EXPECT_EQ(port->Read(buffer, 0, milliseconds(1000), error), 0);  // asks for nothing: not a hang-up
  EXPECT_EQ(error, "");
  Bytes got;
  while (got.size() < answer.size()) {
    const ssize_t n = port->Read(buffer, sizeof buffer, milliseconds(2000), error);
    ASSERT_GT(n, 0) << error;
    got.insert(got.end(), buffer, buffer + n);
  }
  EXPECT_TRUE(got == answer);
}

TEST(SerialPortWrite, XoffHoldsTheOutputUntilXon) {
  Pty pty;
  auto port = OpenOrFail({.path = pty.slave(), .flow = FlowControl::XonXoff},
                         {.writeStall = milliseconds(10000)});
  ASSERT_TRUE(port);
  pty.Send({0x13});
  std::this_thread::sleep_for(milliseconds(100));
  const Bytes label = PatternBytes(64);
  std::string error;
  bool written = false;
  std::thread job([&] { written = port->WriteAll(label.data(), label.size(), error); });
  EXPECT_TRUE(pty.Receive(label.size(), milliseconds(300)).empty());
  pty.Send({0x11});
  const Bytes received = pty.Receive(label.size());
  job.join();
  EXPECT_TRUE(written) << error;
  EXPECT_TRUE(received == label);
}

// A printer that takes nothing, whether its buffer is full or it holds the
// line with XOFF, fails the write after the stall time instead of hanging.
TEST(SerialPortWrite, APrinterThatTakesNothingFailsTheWrite) {
  const std::string reason = " took no data for 300 ms (offline, out of paper, or holding the "
                             "line with flow control)";
  {
    Pty pty;
    auto port = OpenOrFail({.path = pty.slave()}, {.writeStall = milliseconds(300)});
    ASSERT_TRUE(port);
    const Bytes sent = PatternBytes(1 << 20);
    std::string error;
    EXPECT_FALSE(port->WriteAll(sent.data(), sent.size(), error));
    EXPECT_EQ(error, "the printer on " + pty.slave() + reason);
  }
  {
    Pty pty;
    auto port = OpenOrFail({.path = pty.slave(), .flow = FlowControl::XonXoff},
                           {.writeStall = milliseconds(300)});
    ASSERT_TRUE(port);
    pty.Send({0x13});
    std::this_thread::sleep_for(milliseconds(100));
    std::string error;
    EXPECT_FALSE(port->WriteAll("ABC", 3, error));
    EXPECT_EQ(error, "the printer on " + pty.slave() + reason);
  }
}

// The other side going away (an unplugged adapter, a dropped Bluetooth
// link) while a job writes: a clear error, not a hang.
TEST(SerialPortWrite, TheDeviceGoingAwayMidWriteIsAnError) {
  Pty pty;
  auto port = OpenOrFail({.path = pty.slave()}, {.writeStall = milliseconds(5000)});
  ASSERT_TRUE(port);
  EXPECT_TRUE(port->Present());
  const Bytes sent = PatternBytes(4 << 20);
  std::size_t receivedBeforeClose = 0;
  std::thread printer([&] {
    receivedBeforeClose = pty.Receive(100000).size();
    pty.CloseMaster();
  });
  std::string error;
  const bool written = port->WriteAll(sent.data(), sent.size(), error);
  printer.join();
  EXPECT_EQ(receivedBeforeClose, 100000u);
  EXPECT_FALSE(written);
  EXPECT_EQ(error, "the serial device " + pty.slave() + " went away (Input/output error)");

  EXPECT_FALSE(port->Present());
  unsigned char buffer[16];
  error.clear();
  EXPECT_EQ(port->Read(buffer, sizeof buffer, milliseconds(1000), error), -1);
  EXPECT_EQ(error, "the serial device " + pty.slave() + " went away (Input/output error)");
}

}  // namespace
