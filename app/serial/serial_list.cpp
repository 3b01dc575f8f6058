// The serial ports that exist, for `dotweave-app devices` and the web page's
// "Add printer".
//
// USB adapters (ttyUSB*), USB CDC devices (ttyACM*) and bound Bluetooth
// ports (rfcomm*) exist only while there is something behind them, so each
// node is a port. The kernel makes ttyS* nodes for UARTs that may not be
// there: sysfs's "type" attribute of the port says (0 is PORT_UNKNOWN), and
// where sysfs does not, the port is asked itself (TIOCGSERIAL, else whether
// it opens as a terminal).
//
// sysfs is read with opendir/readdir and fopen, which test environments
// that fake sysfs (umockdev) intercept.
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <tuple>

#include "serial.h"

namespace dwserial {
namespace {

// The rate listed with each port: the highest a usual printer takes, and
// what CUPS's listing means by a baud value, the device's maximum.
constexpr unsigned kListedBaud = 115200;
// sysfs attributes are at most a page; descriptions are cut much shorter.
constexpr std::size_t kMaxAttributeBytes = 4096;
constexpr std::size_t kMaxDescriptionPart = 80;
// How far up from a tty's device to look for the USB device's strings:
// ttyUSB0 -> interface -> device, ttyACM0 -> interface... -> device.
constexpr int kUsbAncestorLevels = 3;

enum class Kind { UsbSerial, UsbModem, Bluetooth, BuiltIn };

struct NamePattern {
  std::string_view prefix;
  Kind kind;
};

// In listing order.
constexpr std::array<NamePattern, 4> kPatterns{{
    {"ttyUSB", Kind::UsbSerial},
    {"ttyACM", Kind::UsbModem},
    {"rfcomm", Kind::Bluetooth},
    {"ttyS", Kind::BuiltIn},
}};

struct Candidate {
  Kind kind;
  unsigned long number;
  std::string name;
};

// The kind of port a /dev name is: a known prefix followed by a number.
std::optional<Candidate> Classify(const std::string &name) {
  for (const NamePattern &pattern : kPatterns) {
    if (!name.starts_with(pattern.prefix)) continue;
    const std::string digits = name.substr(pattern.prefix.size());
    if (digits.empty() || digits.size() > 6 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return std::nullopt;
    }
    return Candidate{pattern.kind, std::stoul(digits), name};
  }
  return std::nullopt;
}

// A one-line sysfs attribute with its trailing newline and spaces removed,
// control bytes made spaces; none when absent or empty.
std::optional<std::string> ReadAttribute(const std::string &path) {
  FILE *file = std::fopen(path.c_str(), "r");
  if (!file) return std::nullopt;
  std::string text(kMaxAttributeBytes, '\0');
  const std::size_t got = std::fread(text.data(), 1, text.size(), file);
  std::fclose(file);
  text.resize(got);
  for (char &c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  if (text.empty()) return std::nullopt;
  return text;
}

std::string Shortened(std::string text) {
  if (text.size() > kMaxDescriptionPart) text.resize(kMaxDescriptionPart);
  return text;
}

// "Maker Product" of the USB device behind a tty, or none.
std::optional<std::string> UsbDeviceName(const std::string &ttyDir) {
  std::string dir = ttyDir + "/device";
  for (int level = 0; level < kUsbAncestorLevels; ++level, dir += "/..") {
    const std::optional<std::string> product = ReadAttribute(dir + "/product");
    if (!product) continue;
    const std::optional<std::string> maker = ReadAttribute(dir + "/manufacturer");
    if (maker && !product->starts_with(*maker)) {
      return Shortened(*maker) + " " + Shortened(*product);
    }
    return Shortened(*product);
  }
  return std::nullopt;
}

std::string Describe(const Candidate &port, const std::string &sysRoot) {
  const std::string ttyDir = sysRoot + "/class/tty/" + port.name;
  const std::string suffix = " (" + port.name + ")";
  switch (port.kind) {
    case Kind::UsbSerial:
    case Kind::UsbModem: {
      if (std::optional<std::string> name = UsbDeviceName(ttyDir)) return *name + suffix;
      return (port.kind == Kind::UsbSerial ? "USB serial adapter" : "USB serial device") + suffix;
    }
    case Kind::Bluetooth: {
      const std::optional<std::string> address = ReadAttribute(ttyDir + "/address");
      const std::optional<std::string> channel = ReadAttribute(ttyDir + "/channel");
      std::string text = "Bluetooth serial port";
      if (address) text += " " + Shortened(*address);
      if (address && channel) text += " channel " + Shortened(*channel);
      return text + suffix;
    }
    case Kind::BuiltIn: return "Built-in serial port" + suffix;
  }
  return port.name;
}

// Whether a ttyS port has a UART behind it.
bool BuiltInPortAnswers(const std::string &devPath, const std::string &sysRoot,
                        const std::string &name) {
  if (const std::optional<std::string> type = ReadAttribute(sysRoot + "/class/tty/" + name + "/type")) {
    return *type != "0";
  }
  const int fd = ::open(devPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == EBUSY;  // held open exclusively: it is there
  bool answers = false;
  serial_struct serial{};
  if (ioctl(fd, TIOCGSERIAL, &serial) == 0) {
    answers = serial.type != PORT_UNKNOWN;
  } else {
    termios settings{};
    answers = tcgetattr(fd, &settings) == 0;
  }
  ::close(fd);
  return answers;
}

std::vector<Candidate> Candidates(const std::string &devRoot) {
  std::vector<Candidate> found;
  DIR *dir = opendir(devRoot.c_str());
  if (!dir) return found;
  while (const dirent *entry = readdir(dir)) {
    if (std::optional<Candidate> port = Classify(entry->d_name)) found.push_back(std::move(*port));
  }
  closedir(dir);
  std::sort(found.begin(), found.end(), [](const Candidate &a, const Candidate &b) {
    return std::tie(a.kind, a.number) < std::tie(b.kind, b.number);
  });
  return found;
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts(const std::string &devRoot,
                                            const std::string &sysRoot) {
  std::vector<SerialPortInfo> ports;
  for (const Candidate &port : Candidates(devRoot)) {
    const std::string devPath = devRoot + "/" + port.name;
    if (port.kind == Kind::BuiltIn && !BuiltInPortAnswers(devPath, sysRoot, port.name)) continue;
    ports.push_back({MakeSerialUri(devPath, kListedBaud), Describe(port, sysRoot)});
  }
  return ports;
}

}  // namespace dwserial
