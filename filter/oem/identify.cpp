// OEM printer identification: the model table, the recognition of a model
// name inside the device URI or the queue name, and the recognition of a USB
// printer by the serial number in its URI and the ids the USB registry holds
// for the device with that serial.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dotweave/cups_private.h"
#include "dotweave/filter.h"
#include "oem/oem.h"
#include "oem/usb/usb_registry.h"

// Row order matters: text matching takes the first row whose name occurs in
// the text, and several names contain an earlier row's name ("KV418 AK"
// contains "KV418 A").
const OEMModel PIDDatabase[kModelCount] = {
    {0x9401, "KV412 A", 832, 0},  {0x9402, "KV416 A", 832, 0},   {0x9403, "RQN253 A", 832, 0},
    {0x5541, "KV412Max", 832, 0}, {0x9411, "KV412 AK", 832, 0},  {0x9412, "KV416 AK", 832, 0},
    {0x9422, "KV416 CK", 832, 0}, {0x9421, "KV412 CK", 832, 0},  {0x9301, "KV414 A", 640, 0},
    {0x9302, "RQN739 A", 640, 0}, {0x9311, "KV414 AK", 640, 0},  {0x9312, "KV158 AK", 576, 1},
    {0x9313, "KV961 AK", 576, 0}, {0x9201, "KV418 A", 384, 0},   {0x9202, "KV419 A", 384, 0},
    {0x9211, "KV418 AK", 384, 1}, {0x9212, "KV419 AK", 384, 1},  {0xDF01, "MB739 A", 1440, 0},
    {0xDF02, "LC586 A", 1440, 0}, {0xDF03, "WX3333 A", 1440, 0}, {0x900D, "WX2222", 1440, 0},
    {0xDF04, "MB504 A", 1440, 0}, {0xDF05, "MB504E A", 1440, 0}, {0xDF06, "FE827 A", 1440, 0},
    {0xDF07, "FH827 A", 1440, 0}, {0xDF11, "LC586 AK", 1440, 0}, {0xDF12, "LC586 AKM", 1440, 0},
};

namespace {

// The maker's USB vendor ids: its own, and the one of the USB bridge chip
// fitted to some of its models.
constexpr std::uint16_t kVendorOwn = 0x4C4A;
constexpr std::uint16_t kVendorBridge = 0x1A86;

// Serial numbers are compared as at most 255 bytes of UTF-8.
constexpr std::size_t kSerialBufferSize = 256;

#ifdef DOTWEAVE_USB_SERIAL_ONLY
constexpr const char *kUsbDeviceClass = "IOUSBHostDevice";
#else
constexpr const char *kUsbDeviceClass = "IOUSBDevice";

// Serial-port and Bluetooth connections carry no USB serial to look up; the
// model is recognised from its name in the URI or the queue name instead.
constexpr const char *kSerialPrefixes[] = {"btserial:", "btfilequeue:", "serial:", "/dev/cu.", "/dev/tty."};

bool HasSerialPrefix(const char *uri) {
  for (const char *prefix : kSerialPrefixes)
    if (std::strncmp(uri, prefix, std::strlen(prefix)) == 0) return true;
  return false;
}

// Alphanumeric in the C locale only: bytes of 0x80 and above never count,
// whatever the environment's locale says.
bool IsAsciiAlnum(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
#endif

// A usb:// lookup first walks every USB device once and reads its ids
// without using them; the walk has no result and writes nothing, not even
// when the device list cannot be read (the serial search reports that).
void printDeviceInfo(const usb::Device &device) {
  static_cast<void>(usb::VendorId(device));
  static_cast<void>(usb::ProductId(device));
}

void getUSBDevicePID() {
  const std::optional<usb::DeviceQuery> query = usb::MakeDeviceQuery(kUsbDeviceClass);
  if (!query) return;
  usb::DeviceIterator it;
  if (usb::StartEnumeration(*query, it) != 0) return;
  while (const usb::Device *device = usb::NextDevice(it)) printDeviceInfo(*device);
}

}  // namespace

const OEMModel *find_oem_model_by_usb_ids(std::uint16_t vendor, std::uint16_t product) {
  if (vendor != kVendorOwn && vendor != kVendorBridge) return nullptr;
  for (const OEMModel &row : PIDDatabase)
    if (row.ProductId == product) return &row;
  return nullptr;
}

void ApplyModelRow(const OEMModel &row) {
  PrintPa.Identified = 1;
  PrintPa.HeadWidth = row.HeadWidth;
  PrintPa.RightAlign = row.RightAlign;
  PrintPa.IsNeedle = row.HeadWidth == 1440 ? 1 : 0;
}

#ifndef DOTWEAVE_USB_SERIAL_ONLY
void normalize_model_text(const char *text, char *out, std::size_t size) {
  if (out == nullptr || size == 0) return;
  std::size_t written = 0;
  if (text != nullptr) {
    for (const char *p = text; *p != '\0' && written + 1 < size; ++p) {
      const auto c = static_cast<unsigned char>(*p);
      if (!IsAsciiAlnum(c)) continue;
      out[written++] = static_cast<char>(c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c);
    }
  }
  out[written] = '\0';
}

int set_oem_printer_from_text(const char *text) {
  if (text == nullptr) return 0;
  char normalizedText[512];
  normalize_model_text(text, normalizedText, sizeof normalizedText);
  if (normalizedText[0] == '\0') return 0;
  for (const OEMModel &row : PIDDatabase) {
    char normalizedName[128];
    normalize_model_text(row.ModelName, normalizedName, sizeof normalizedName);
    if (normalizedName[0] != '\0' && std::strstr(normalizedText, normalizedName) != nullptr) {
      ApplyModelRow(row);
      return 1;
    }
  }
  return 0;
}
#endif

int extract_serial_number(const char *uri, char *out, std::size_t size) {
  // A zero-sized buffer cannot even hold the terminating NUL.
  if (uri == nullptr || out == nullptr || size == 0) return 0;
  const char *found = std::strstr(uri, "serial=");
  if (found == nullptr) return 0;
  const char *serial = found + std::strlen("serial=");
  // The serial is used as written in the URI: no percent-decoding, no
  // trimming, no case folding.
  const std::size_t length = strnlen(serial, size - 1);
  std::memcpy(out, serial, length);
  out[length] = '\0';
  if (char *amp = std::strchr(out, '&'); amp != nullptr) *amp = '\0';
  return 1;
}

int get_usb_pid_by_serial(const char *serial, std::uint16_t *vendor, std::uint16_t *product) {
  if (serial == nullptr || vendor == nullptr || product == nullptr) return 0;
  const std::optional<usb::DeviceQuery> query = usb::MakeDeviceQuery(kUsbDeviceClass);
  if (!query) {
    std::fputs("无法创建匹配字典。\n", stderr);
    return 0;
  }
  usb::DeviceIterator it;
  if (const int status = usb::StartEnumeration(*query, it); status != 0) {
    std::fprintf(stderr, "IOServiceGetMatchingServices返回错误: %d\n", status);
    return 0;
  }
  while (const usb::Device *device = usb::NextDevice(it)) {
    const std::optional<std::string> deviceSerial = usb::SerialNumber(*device);
    if (!deviceSerial || deviceSerial->size() >= kSerialBufferSize || *deviceSerial != serial) continue;
    // Only the first device with this serial counts, even when it lacks an id.
    const std::optional<std::uint16_t> vendorId = usb::VendorId(*device);
    const std::optional<std::uint16_t> productId = usb::ProductId(*device);
    if (!vendorId || !productId) return 0;
    *vendor = *vendorId;
    *product = *productId;
    return 1;
  }
  return 0;
}

void GetPrinterName() {
  const char *printer = std::getenv("PRINTER");
  if (printer == nullptr) std::fputs("MAC:Debug-Printer_name not set.\n", stderr);
  const char *uri = std::getenv("DEVICE_URI");
  if (uri == nullptr) return;

#ifndef DOTWEAVE_USB_SERIAL_ONLY
  if (HasSerialPrefix(uri)) {
    if (set_oem_printer_from_text(uri)) return;
    if (set_oem_printer_from_text(printer)) return;
  }
#endif

  if (std::strncmp(uri, "usb://", 6) == 0) getUSBDevicePID();

  char serial[kSerialBufferSize];
  if (!extract_serial_number(uri, serial, sizeof serial)) return;
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
  get_usb_pid_by_serial(serial, &vendor, &product);
  if (const OEMModel *row = find_oem_model_by_usb_ids(vendor, product)) ApplyModelRow(*row);
}

void set_oem_printer_from_ppd(ppd_file_t *ppd) {
  if (ppd == nullptr) return;
  const ppd_attr_t *attr = ppdFindAttr(ppd, "dotweaveModel", nullptr);
  if (attr == nullptr || attr->value == nullptr) return;
  for (const OEMModel &row : PIDDatabase) {
    if (std::strcmp(row.ModelName, attr->value) == 0) {
      ApplyModelRow(row);
      return;
    }
  }
}

void ReportUnidentifiedPage() {
  _cupsLangPrintFilter(stderr, "WARNING", "Unable to identify the printer model; page %d was not printed.", Page);
}
