// The USB device registry on Linux: the kernel's device list in sysfs.
//
// <root>/bus/usb/devices holds one entry per USB device ("1-2", "usb1") and
// one per interface of each device ("1-2:1.0"); interfaces are not devices
// and are skipped. A device's attributes are one-line text files ending in a
// newline; "idVendor" and "idProduct" hold four hex digits, "serial" exists
// only when the device reports a serial number.
//
// Directories are read with opendir/readdir and files with fopen: test
// environments that fake sysfs (umockdev) intercept those calls, while
// glob() and scandir() bypass them. readdir gives no defined order, so the
// names are sorted to make "the first device with that serial" stable.
#include "oem/usb/usb_registry.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace usb {
namespace {

// sysfs attributes are at most one page long; anything longer is not a
// sysfs attribute and is read no further.
constexpr std::size_t kMaxAttributeBytes = 4096;

std::string &RootStorage() {
  static std::string root = "/sys";
  return root;
}

bool IsDirectory(const std::string &path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Device entries are named "<bus>-<port path>" or "usb<bus>"; interface
// entries add ":<config>.<interface>".
bool IsDeviceName(const char *name) {
  return name[0] != '.' && std::strchr(name, ':') == nullptr;
}

struct FileCloser {
  void operator()(std::FILE *f) const { std::fclose(f); }
};

// The attribute's text without the newline that ends the sysfs line, or
// none when the file is absent or unreadable.
std::optional<std::string> ReadAttribute(const Device &device, const char *name) {
  const std::string path = device.path + "/" + name;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return std::nullopt;
  std::string text(kMaxAttributeBytes, '\0');
  const std::size_t got = std::fread(text.data(), 1, text.size(), file.get());
  if (std::ferror(file.get())) return std::nullopt;
  text.resize(got);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

std::optional<std::uint16_t> ReadHexId(const Device &device, const char *name) {
  const std::optional<std::string> text = ReadAttribute(device, name);
  if (!text || text->empty() || text->size() > 4) return std::nullopt;
  unsigned value = 0;
  for (const char c : *text) {
    unsigned digit;
    if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
    else return std::nullopt;
    value = value * 16 + digit;
  }
  return static_cast<std::uint16_t>(value);
}

}  // namespace

void SetSysfsRoot(const std::string &root) { RootStorage() = root; }
const std::string &SysfsRoot() { return RootStorage(); }

std::optional<DeviceQuery> MakeDeviceQuery(const char *deviceClass) {
  // Both class names mean the USB devices themselves; Linux lists them
  // together whatever host controller stack drives them.
  if (deviceClass == nullptr ||
      (std::strcmp(deviceClass, "IOUSBDevice") != 0 && std::strcmp(deviceClass, "IOUSBHostDevice") != 0))
    return std::nullopt;
  // Without sysfs there is no device list to read at all.
  if (!IsDirectory(SysfsRoot() + "/bus")) return std::nullopt;
  return DeviceQuery{SysfsRoot() + "/bus/usb/devices"};
}

int StartEnumeration(const DeviceQuery &query, DeviceIterator &it) {
  it = DeviceIterator{};
  DIR *dir = opendir(query.devicesDir.c_str());
  if (dir == nullptr) {
    // No USB bus on this system (or, under umockdev, no devices): nothing
    // is attached.
    if (errno == ENOENT) return 0;
    return errno;
  }
  std::vector<std::string> names;
  for (;;) {
    errno = 0;
    const dirent *entry = readdir(dir);
    if (entry == nullptr) break;
    if (IsDeviceName(entry->d_name)) names.emplace_back(entry->d_name);
  }
  const int readError = errno;
  closedir(dir);
  if (readError != 0) return readError;

  std::sort(names.begin(), names.end());
  for (const std::string &name : names) {
    std::string path = query.devicesDir + "/" + name;
    // Entries are links to the device directories; one that vanished while
    // listing (a device unplugged) is skipped.
    if (IsDirectory(path)) it.devices.push_back(Device{std::move(path)});
  }
  return 0;
}

const Device *NextDevice(DeviceIterator &it) {
  if (it.next >= it.devices.size()) return nullptr;
  return &it.devices[it.next++];
}

std::optional<std::string> SerialNumber(const Device &device) {
  std::optional<std::string> serial = ReadAttribute(device, "serial");
  // A NUL inside the value means it is not a text string.
  if (serial && serial->find('\0') != std::string::npos) return std::nullopt;
  return serial;
}

std::optional<std::uint16_t> VendorId(const Device &device) { return ReadHexId(device, "idVendor"); }
std::optional<std::uint16_t> ProductId(const Device &device) { return ReadHexId(device, "idProduct"); }

}  // namespace usb
