// Opening and configuring a serial port, and moving bytes through it.
//
// The port is opened non-blocking and every wait is a poll() with a
// deadline, so that a printer that stops taking data, or a USB adapter or
// Bluetooth link that goes away, ends the job with a message instead of
// leaving a print thread blocked in write() for ever. A tty that has lost
// its device is hung up by the kernel: poll() reports POLLHUP and write()
// fails with EIO (ENXIO or ENODEV for some drivers).
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <strings.h>
#include <thread>

#include "serial.h"

namespace dwserial {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How often the modem lines and the output queue are looked at while
// waiting on them; the kernel has no poll() event for either.
constexpr milliseconds kLinePollInterval{10};

std::string ErrnoText(int error) { return std::strerror(error); }

// Errors with which a tty says that its device is no longer there.
bool IsDeviceGone(int error) {
  return error == EIO || error == ENXIO || error == ENODEV || error == EPIPE;
}

std::string GoneMessage(const std::string &path, int error) {
  return "the serial device " + path + " went away (" + ErrnoText(error) + ")";
}

std::string FormatDuration(milliseconds duration) {
  if (duration.count() % 1000 == 0) return std::to_string(duration.count() / 1000) + " s";
  return std::to_string(duration.count()) + " ms";
}

// The poll() timeout that ends at `deadline`.
int MillisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

std::string OpenFailure(const std::string &path, int error) {
  switch (error) {
    case ENOENT: return "no such device: " + path;
    case EACCES:
    case EPERM: return "no permission to open " + path + " (is the user in the dialout group?)";
    case EBUSY: return path + " is in use by another program";
    case EISDIR:
    case ENOTTY: return path + " is not a terminal";
    case ENXIO:
    case ENODEV:
    case EIO: return path + " has no device behind it (" + ErrnoText(error) + ")";
    default: return "cannot open " + path + ": " + ErrnoText(error);
  }
}

termios RawTermios(const termios &original, const SerialSettings &settings, speed_t speed) {
  termios t = original;
  cfmakeraw(&t);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  // CLOCAL: the printer needs no carrier to be opened, and a carrier drop
  // is not a hang-up.
  t.c_cflag |= CLOCAL | CREAD | (settings.dataBits == 7 ? CS7 : CS8);
  if (settings.parity != Parity::None) t.c_cflag |= PARENB;
  if (settings.parity == Parity::Odd) t.c_cflag |= PARODD;
  if (settings.stopBits == 2) t.c_cflag |= CSTOPB;
  if (settings.flow == FlowControl::RtsCts) t.c_cflag |= CRTSCTS;
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  if (settings.flow == FlowControl::XonXoff) {
    t.c_iflag |= IXON | IXOFF;
    t.c_cc[VSTART] = 0x11;
    t.c_cc[VSTOP] = 0x13;
  }
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  return t;
}

// tcsetattr() succeeds when the driver took any part of the request, so the
// settings are read back: a USB adapter may not do a speed or 2 stop bits.
std::string CheckApplied(int fd, const termios &wanted, const SerialSettings &settings) {
  termios actual{};
  if (tcgetattr(fd, &actual) != 0) return "cannot read back the settings: " + ErrnoText(errno);
  if (cfgetospeed(&actual) != cfgetospeed(&wanted)) {
    return settings.path + " does not support " + std::to_string(settings.baud) + " baud";
  }
  const tcflag_t cflags = CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS;
  const tcflag_t iflags = IXON | IXOFF;
  if ((actual.c_cflag & cflags) != (wanted.c_cflag & cflags) ||
      (actual.c_iflag & iflags) != (wanted.c_iflag & iflags)) {
    return settings.path + " does not support " + DescribeSettings(settings);
  }
  return {};
}

// Where the kernel has a hang-up to report, poll() says so at once.
bool HungUp(short revents) { return (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0; }

// Opens `path` as a terminal: the descriptor, or -1 with the reason and the
// error number (ENOTTY for what is not a terminal). Only a character device
// can be a terminal; anything else is refused before it is opened (opening
// a FIFO or a file has effects of its own).
int OpenTerminal(const std::string &path, std::string &error, int &failure) {
  struct stat info {};
  failure = stat(path.c_str(), &info) != 0 ? errno : S_ISCHR(info.st_mode) ? 0 : ENOTTY;
  int fd = -1;
  if (failure == 0) {
    fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) failure = errno;
  }
  if (fd >= 0 && !isatty(fd)) {
    ::close(fd);
    fd = -1;
    failure = ENOTTY;
  }
  if (fd < 0) error = OpenFailure(path, failure);
  return fd;
}

}  // namespace

std::string CheckSerialDeviceUri(const char *uri) {
  if (!uri) return "no device URI";
  if (strncasecmp(uri, "serial:", 7) != 0) return {};
  const SerialUriResult parsed = ParseSerialUri(uri);
  if (!parsed.settings) return parsed.error;
  std::string error;
  int failure = 0;
  const int fd = OpenTerminal(parsed.settings->path, error, failure);
  // A port that a running job holds exclusively is there all the same.
  if (fd < 0) return failure == EBUSY ? std::string{} : error;
  ::close(fd);
  return {};
}

std::unique_ptr<SerialPort> SerialPort::Open(const SerialSettings &settings, std::string &error,
                                             PortTimeouts timeouts) {
  const std::string &path = settings.path;
  const std::optional<speed_t> speed = TermiosSpeed(settings.baud);
  if (!speed) {
    error = "unknown baud rate " + std::to_string(settings.baud);
    return nullptr;
  }
  int failure = 0;
  const int fd = OpenTerminal(path, error, failure);
  if (fd < 0) return nullptr;
  auto fail = [&](std::string message) {
    ::close(fd);
    error = std::move(message);
    return nullptr;
  };
  // flock keeps out every other opener that locks, root included; TIOCEXCL
  // keeps out other users' programs that do not.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return fail(path + " is in use by another program");
    return fail("cannot lock " + path + ": " + ErrnoText(errno));
  }
  ioctl(fd, TIOCEXCL);

  termios original{};
  if (tcgetattr(fd, &original) != 0) return fail("cannot read the settings of " + path + ": " +
                                                 ErrnoText(errno));
  const termios wanted = RawTermios(original, settings, *speed);
  if (tcsetattr(fd, TCSANOW, &wanted) != 0) {
    return fail("cannot set " + path + " to " + DescribeSettings(settings) + ": " +
                ErrnoText(errno));
  }
  if (std::string refused = CheckApplied(fd, wanted, settings); !refused.empty()) {
    tcsetattr(fd, TCSANOW, &original);
    return fail(std::move(refused));
  }
  if (settings.flow == FlowControl::DtrDsr) {
    int lines = TIOCM_DTR;
    ioctl(fd, TIOCMBIS, &lines);  // a port without modem lines has nothing to raise
  }
  // Whatever the printer sent before this job is not an answer to it.
  tcflush(fd, TCIFLUSH);
  return std::unique_ptr<SerialPort>(new SerialPort(fd, settings, timeouts, original));
}

SerialPort::SerialPort(int fd, SerialSettings settings, PortTimeouts timeouts,
                       const termios &original)
    : fd_(fd), settings_(std::move(settings)), timeouts_(timeouts), original_(original) {}

SerialPort::~SerialPort() {
  std::string ignored;
  // Bytes that could not leave the line in time are dropped, or close()
  // would sit out the driver's own closing wait on them.
  if (drainGaveUp_ || !Drain(ignored)) tcflush(fd_, TCOFLUSH);
  tcsetattr(fd_, TCSANOW, &original_);
  ioctl(fd_, TIOCNXCL);
  ::close(fd_);
}

std::string SerialPort::StallMessage() const {
  return "the printer on " + settings_.path + " took no data for " +
         FormatDuration(timeouts_.writeStall) +
         " (offline, out of paper, or holding the line with flow control)";
}

bool SerialPort::WaitWritable(Clock::time_point deadline, std::string &error) {
  ++counts_.waits;
  for (;;) {
    pollfd p{fd_, POLLOUT, 0};
    const int ready = poll(&p, 1, MillisecondsUntil(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) {
      error = "waiting for " + settings_.path + " failed: " + ErrnoText(errno);
      return false;
    }
    if (ready == 0) {
      error = StallMessage();
      return false;
    }
    if (HungUp(p.revents)) {
      error = GoneMessage(settings_.path, EIO);
      return false;
    }
    return true;
  }
}

// DTR/DSR has no termios flag on Linux: the printer lowers DSR while it is
// busy, so writing waits for DSR. A port without modem lines (a pty, some
// Bluetooth links) reports none and is never held.
bool SerialPort::WaitForDsr(Clock::time_point deadline, std::string &error) {
  bool waited = false;
  for (;;) {
    int lines = 0;
    if (ioctl(fd_, TIOCMGET, &lines) != 0 || (lines & TIOCM_DSR) != 0) return true;
    if (!waited) ++counts_.waits;
    waited = true;
    if (Clock::now() >= deadline) {
      error = StallMessage();
      return false;
    }
    if (!Present()) {
      error = GoneMessage(settings_.path, EIO);
      return false;
    }
    std::this_thread::sleep_for(kLinePollInterval);
  }
}

bool SerialPort::WriteAll(const void *data, std::size_t size, std::string &error) {
  const auto *bytes = static_cast<const unsigned char *>(data);
  std::size_t done = 0;
  auto deadline = Clock::now() + timeouts_.writeStall;
  while (done < size) {
    if (settings_.flow == FlowControl::DtrDsr && !WaitForDsr(deadline, error)) return false;
    ++counts_.writeCalls;
    const ssize_t written = ::write(fd_, bytes + done, size - done);
    if (written > 0) {
      const auto count = static_cast<std::size_t>(written);
      if (count < size - done) ++counts_.partialWrites;
      done += count;
      deadline = Clock::now() + timeouts_.writeStall;  // the printer is taking data
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!WaitWritable(deadline, error)) return false;
      continue;
    }
    const int failure = errno;
    error = IsDeviceGone(failure) ? GoneMessage(settings_.path, failure)
                                  : "writing to " + settings_.path + " failed: " +
                                        ErrnoText(failure);
    return false;
  }
  return true;
}

ssize_t SerialPort::Read(void *buffer, std::size_t size, milliseconds timeout,
                         std::string &error) {
  if (size == 0) return 0;  // read() of nothing would look like a hang-up
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    pollfd p{fd_, POLLIN, 0};
    const int ready = poll(&p, 1, MillisecondsUntil(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) {
      error = "waiting for " + settings_.path + " failed: " + ErrnoText(errno);
      return -1;
    }
    if (ready == 0) return 0;
    // Bytes that arrived before a hang-up are still delivered.
    if ((p.revents & POLLIN) == 0 && HungUp(p.revents)) {
      error = GoneMessage(settings_.path, EIO);
      return -1;
    }
    const ssize_t got = ::read(fd_, buffer, size);
    if (got > 0) return got;
    if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    // A readable tty that reads as end of file has been hung up.
    const int failure = got == 0 ? EIO : errno;
    error = IsDeviceGone(failure) ? GoneMessage(settings_.path, failure)
                                  : "reading from " + settings_.path + " failed: " +
                                        ErrnoText(failure);
    return -1;
  }
}

bool SerialPort::Drain(std::string &error) {
  const auto deadline = Clock::now() + timeouts_.drain;
  for (;;) {
    int queued = 0;
    if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) return true;
    if (!Present()) {
      drainGaveUp_ = true;
      error = GoneMessage(settings_.path, EIO);
      return false;
    }
    if (Clock::now() >= deadline) {
      drainGaveUp_ = true;
      error = std::to_string(queued) + " bytes did not leave " + settings_.path + " within " +
              FormatDuration(timeouts_.drain);
      return false;
    }
    std::this_thread::sleep_for(kLinePollInterval);
  }
}

bool SerialPort::Present() const {
  pollfd p{fd_, POLLOUT, 0};
  return poll(&p, 1, 0) >= 0 && !HungUp(p.revents);
}

}  // namespace dwserial
