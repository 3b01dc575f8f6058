// "serial:" device URIs: serial:/dev/ttyUSB0?baud=115200+bits=8+parity=none+flow=none.
//
// The path runs from after "serial:" to the first "?"; "serial:///dev/X"
// (an empty authority) means the same as "serial:/dev/X". The options after
// the "?" are separated by "+" or "&"; empty ones are skipped and a later
// one overrides an earlier one of the same name. Everything here works on
// the text alone, so the parser can be fed any bytes.
#include "serial.h"

#include <array>
#include <cctype>
#include <cstdio>

namespace dwserial {
namespace {

struct BaudRate {
  unsigned baud;
  speed_t speed;
};

// The rates Linux's termios can name; others would need the kernel's
// arbitrary-rate interface, which USB adapters implement unevenly.
constexpr std::array<BaudRate, 30> kBaudRates{{
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
}};

constexpr std::string_view kScheme = "serial:";
// Longest text quoted back in an error message.
constexpr std::size_t kMaxQuoted = 64;

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

// Text from the URI as it may appear in a message: control and non-ASCII
// bytes as \xHH, cut after kMaxQuoted bytes.
std::string Printable(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size() && i < kMaxQuoted; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x20 && byte < 0x7f) {
      out += static_cast<char>(byte);
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    }
  }
  if (text.size() > kMaxQuoted) out += "...";
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = LowerAscii(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Decodes %HH escapes; none on a malformed escape or an escaped NUL.
std::optional<std::string> PercentDecode(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = HexValue(text[i + 1]);
    const int low = HexValue(text[i + 2]);
    if (high < 0 || low < 0 || (high == 0 && low == 0)) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

// A decimal number of at most 9 digits (no sign, no spaces), or none.
std::optional<unsigned> SmallNumber(std::string_view text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value;
}

// Applies one name=value option; returns the error text, empty when fine.
std::string ApplyOption(std::string_view name, std::string_view value, SerialSettings &settings) {
  if (value.empty()) return "option " + Printable(name) + " has no value";
  if (EqualsIgnoringCase(name, "baud")) {
    const auto baud = SmallNumber(value);
    if (!baud || !TermiosSpeed(*baud)) return "unknown baud rate " + Printable(value);
    settings.baud = *baud;
  } else if (EqualsIgnoringCase(name, "bits")) {
    if (value != "7" && value != "8") return "unknown data bits " + Printable(value) + " (7 or 8)";
    settings.dataBits = value == "7" ? 7u : 8u;
  } else if (EqualsIgnoringCase(name, "stop")) {
    if (value != "1" && value != "2") return "unknown stop bits " + Printable(value) + " (1 or 2)";
    settings.stopBits = value == "1" ? 1u : 2u;
  } else if (EqualsIgnoringCase(name, "parity")) {
    if (EqualsIgnoringCase(value, "none")) {
      settings.parity = Parity::None;
    } else if (EqualsIgnoringCase(value, "even")) {
      settings.parity = Parity::Even;
    } else if (EqualsIgnoringCase(value, "odd")) {
      settings.parity = Parity::Odd;
    } else {
      return "unknown parity " + Printable(value) + " (none, even or odd)";
    }
  } else if (EqualsIgnoringCase(name, "flow")) {
    if (EqualsIgnoringCase(value, "none")) {
      settings.flow = FlowControl::None;
    } else if (EqualsIgnoringCase(value, "soft") || EqualsIgnoringCase(value, "xonxoff")) {
      settings.flow = FlowControl::XonXoff;
    } else if (EqualsIgnoringCase(value, "hard") || EqualsIgnoringCase(value, "hardware") ||
               EqualsIgnoringCase(value, "rtscts")) {
      settings.flow = FlowControl::RtsCts;
    } else if (EqualsIgnoringCase(value, "dtrdsr")) {
      settings.flow = FlowControl::DtrDsr;
    } else {
      return "unknown flow control " + Printable(value) + " (none, soft, hard or dtrdsr)";
    }
  } else {
    return "unknown serial option " + Printable(name);
  }
  return {};
}

std::string ApplyOptions(std::string_view query, SerialSettings &settings) {
  while (!query.empty()) {
    const std::size_t end = query.find_first_of("+&");
    const std::string_view option = query.substr(0, end);
    query = end == std::string_view::npos ? std::string_view{} : query.substr(end + 1);
    if (option.empty()) continue;
    const std::size_t equals = option.find('=');
    if (equals == std::string_view::npos) return "option " + Printable(option) + " has no value";
    std::string error = ApplyOption(option.substr(0, equals), option.substr(equals + 1), settings);
    if (!error.empty()) return error;
  }
  return {};
}

SerialUriResult Refuse(std::string error) { return {std::nullopt, std::move(error)}; }

}  // namespace

std::optional<speed_t> TermiosSpeed(unsigned baud) {
  for (const BaudRate &rate : kBaudRates) {
    if (rate.baud == baud) return rate.speed;
  }
  return std::nullopt;
}

SerialUriResult ParseSerialUri(std::string_view uri) {
  if (uri.size() < kScheme.size() || !EqualsIgnoringCase(uri.substr(0, kScheme.size()), kScheme)) {
    return Refuse("not a serial URI: " + Printable(uri));
  }
  const std::string_view rest = uri.substr(kScheme.size());
  const std::size_t question = rest.find('?');
  std::string_view pathPart = rest.substr(0, question);
  const std::string_view query =
      question == std::string_view::npos ? std::string_view{} : rest.substr(question + 1);

  if (pathPart.starts_with("//")) {
    if (!pathPart.starts_with("///")) {
      return Refuse("serial URI names a host: " + Printable(uri) + " (write serial:/dev/NAME)");
    }
    pathPart.remove_prefix(2);
  }
  if (pathPart.empty()) return Refuse("no device path");
  if (pathPart.find('\0') != std::string_view::npos) {
    return Refuse("device path contains a NUL byte");
  }
  std::optional<std::string> path = PercentDecode(pathPart);
  if (!path) return Refuse("bad percent escape in device path " + Printable(pathPart));
  if ((*path)[0] != '/') return Refuse("device path " + Printable(*path) + " is not absolute");

  SerialSettings settings;
  settings.path = std::move(*path);
  std::string error = ApplyOptions(query, settings);
  if (!error.empty()) return Refuse(std::move(error));
  return {std::move(settings), {}};
}

std::string MakeSerialUri(std::string_view path, unsigned baud) {
  std::string uri(kScheme);
  // A path that starts with "//" would read as a host; an empty authority
  // in front keeps it a path.
  if (path.starts_with("//")) uri += "//";
  for (char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
      uri += c;
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
      uri += escaped;
    }
  }
  return uri + "?baud=" + std::to_string(baud);
}

std::string DescribeSettings(const SerialSettings &settings) {
  std::string text = std::to_string(settings.baud) + " baud, " +
                     std::to_string(settings.dataBits) + " data bits, ";
  switch (settings.parity) {
    case Parity::None: text += "no parity, "; break;
    case Parity::Even: text += "even parity, "; break;
    case Parity::Odd: text += "odd parity, "; break;
  }
  text += settings.stopBits == 1 ? "1 stop bit, " : "2 stop bits, ";
  switch (settings.flow) {
    case FlowControl::None: text += "no flow control"; break;
    case FlowControl::XonXoff: text += "XON/XOFF flow control"; break;
    case FlowControl::RtsCts: text += "RTS/CTS flow control"; break;
    case FlowControl::DtrDsr: text += "DTR/DSR flow control"; break;
  }
  return text;
}

}  // namespace dwserial
