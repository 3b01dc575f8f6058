// Plug-and-play: driver matching for printers PAPPL finds (see autoadd.h).
#include "app/autoadd/autoadd.h"

#include <cstring>

#include "catalogue/catalogue.h"

namespace autoadd {
namespace {

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char &c : out) c = UpperAscii(c);
  return out;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::vector<std::string> SplitCommandSet(std::string_view value) {
  std::vector<std::string> out;
  while (!value.empty()) {
    const std::size_t comma = value.find(',');
    const std::string_view token = Trim(value.substr(0, comma));
    if (!token.empty()) out.push_back(Upper(token));
    if (comma == std::string_view::npos) break;
    value.remove_prefix(comma + 1);
  }
  return out;
}

bool HasPrefix(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

const char *DriverNamed(std::string_view name) {
  const catalogue::Printer *p = catalogue::FindPrinter(name);
  return p ? p->driverName.c_str() : nullptr;
}

const char *DriverOf(const catalogue::Printer *p) { return p ? p->driverName.c_str() : nullptr; }

bool IsDymoLabelWriter(const DeviceIdFields &f) {
  if (Upper(f.manufacturer) != "DYMO") return false;
  const std::string model = Upper(f.model);
  if (!HasPrefix(model, "LABELWRITER")) return false;
  const std::string_view number = Trim(std::string_view(model).substr(std::strlen("LABELWRITER")));
  return !HasPrefix(number, "5");
}

bool IsPclToken(const std::string &token) {
  if (!HasPrefix(token, "PCL") || token == "PCL6" || HasPrefix(token, "PCLXL")) return false;
  return true;
}

// Languages of printers that print documents without a driver of ours.
bool IsOfficeLanguage(const std::string &token) {
  return token == "POSTSCRIPT" || token == "PS" || HasPrefix(token, "BRSCRIPT") || token == "PDF" ||
         token == "PWG" || token == "PWGRASTER" || token == "URF" || token == "APPLERASTER";
}

// "TSPL", "TSPL2", "TSPL-EZ".
bool IsTsplToken(const std::string &token) { return HasPrefix(token, "TSPL"); }

// "ESC/POS", "ESCPOS", "ESC/POS-T" (the TM series), "ESC/POS(T)": the receipt
// language, not the ESC/P of Epson's inkjet and dot-matrix page printers.
bool IsEscPosToken(const std::string &token) { return HasPrefix(token, "ESC/POS") || HasPrefix(token, "ESCPOS"); }

template <typename Pred>
bool Any(const std::vector<std::string> &tokens, Pred pred) {
  for (const std::string &t : tokens)
    if (pred(t)) return true;
  return false;
}

const char *DriverForCommandSet(const std::vector<std::string> &cmd) {
  if (Any(cmd, [](const std::string &t) { return HasPrefix(t, "ZPL"); })) return DriverNamed("dotweave-zpl");
  if (Any(cmd, [](const std::string &t) { return t == "EPL" || t == "EPL2"; })) return DriverNamed("dotweave-epl-page");
  if (Any(cmd, [](const std::string &t) { return t == "EPL1"; })) return DriverNamed("dotweave-epl-line");
  if (Any(cmd, IsPclToken) && !Any(cmd, IsOfficeLanguage)) return DriverNamed("dotweave-pcl");
  if (Any(cmd, IsTsplToken)) return DriverNamed("dotweave-tspl-4in");
  if (Any(cmd, IsEscPosToken)) return DriverNamed("dotweave-escpos-80");
  return nullptr;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "%20" and the like decoded; a "%" without two hex digits stays as it is.
std::string PercentDecoded(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && HexDigit(s[i + 1]) >= 0 && HexDigit(s[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(s[i + 1]) * 16 + HexDigit(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

}  // namespace

DeviceIdFields ParseDeviceId(std::string_view deviceId) {
  DeviceIdFields f;
  bool haveMfg = false, haveMdl = false, haveCmd = false;
  while (!deviceId.empty()) {
    const std::size_t end = deviceId.find(';');
    const std::string_view pair = deviceId.substr(0, end);
    deviceId.remove_prefix(end == std::string_view::npos ? deviceId.size() : end + 1);
    const std::size_t colon = pair.find(':');
    if (colon == std::string_view::npos) continue;  // not a key:value pair
    const std::string key = Upper(Trim(pair.substr(0, colon)));
    const std::string_view value = Trim(pair.substr(colon + 1));
    if ((key == "MFG" || key == "MANUFACTURER") && !haveMfg) {
      f.manufacturer = value, haveMfg = true;
    } else if ((key == "MDL" || key == "MODEL") && !haveMdl) {
      f.model = value, haveMdl = true;
    } else if ((key == "CMD" || key == "COMMAND SET") && !haveCmd) {
      f.commandSet = SplitCommandSet(value), haveCmd = true;
    }
  }
  return f;
}

const char *DriverForUsbIds(UsbIds ids) { return DriverOf(catalogue::FindPrinterByUsbIds(ids.vendor, ids.product)); }

const char *DriverForDeviceId(std::string_view deviceId) {
  const DeviceIdFields f = ParseDeviceId(deviceId);
  if (const char *oem = DriverOf(catalogue::FindPrinterByModelName(f.model))) return oem;
  if (IsDymoLabelWriter(f)) return DriverNamed("dotweave-dymo");
  return DriverForCommandSet(f.commandSet);
}

const char *MatchDriver(std::string_view deviceId, std::optional<UsbIds> ids) {
  if (ids)
    if (const char *oem = DriverForUsbIds(*ids)) return oem;
  return DriverForDeviceId(deviceId);
}

std::vector<std::string> UsbSerialsOfUri(std::string_view uri) {
  if (!HasPrefix(uri, "usb://")) return {};
  // The filter's own reading of the serial, so both find the same device.
  const std::string serial = catalogue::UsbSerialOfUri(uri);
  if (serial.empty()) return {};
  std::vector<std::string> out{serial};
  // PAPPL may write a serial with spaces or other reserved bytes escaped.
  if (std::string decoded = PercentDecoded(serial); decoded != out.front() && !decoded.empty() &&
                                                    decoded.find('\0') == std::string::npos)
    out.push_back(std::move(decoded));
  return out;
}

std::optional<UsbIds> UsbIdsOfUri(const char *uri) {
  if (uri == nullptr) return std::nullopt;
  for (const std::string &serial : UsbSerialsOfUri(uri))
    if (const auto ids = catalogue::UsbIdsOfSerial(serial)) return UsbIds{ids->vendor, ids->product};
  return std::nullopt;
}

const char *ResolveAutoDriver(const char *device_uri, const char *device_id) {
  const std::string_view id = device_id ? device_id : "";
  if (const char *matched = MatchDriver(id, UsbIdsOfUri(device_uri))) return matched;
  const DeviceIdFields f = ParseDeviceId(id);
  for (const catalogue::Printer &p : catalogue::Printers())
    if (p.manufacturer == f.manufacturer && p.model == f.model) return p.driverName.c_str();
  return nullptr;
}

const char *AutoAddCallback(const char *, const char *device_uri, const char *device_id, void *) {
  return ResolveAutoDriver(device_uri, device_id);
}

}  // namespace autoadd
