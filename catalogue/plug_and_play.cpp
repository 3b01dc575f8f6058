// Plug-and-play questions the printer application asks the catalogue: which
// printer has these USB ids or this model name, and the USB ids of the
// attached device with a usb:// URI's serial number. The answers come from
// the filter's model table and USB registry, so that the application and
// the filter identify a printer alike, and the application needs nothing of
// the filter's engine itself.
#include <cstring>

#include "catalogue/catalogue.h"
#include "oem/oem.h"

namespace catalogue {
namespace {

const Printer *PrinterOfModel(const OEMModel &row) {
  for (const Printer &p : Printers())
    if (p.namesModel && p.model == row.ModelName) return &p;
  return nullptr;
}

}  // namespace

const Printer *FindPrinterByUsbIds(std::uint16_t vendor, std::uint16_t product) {
  const OEMModel *row = find_oem_model_by_usb_ids(vendor, product);
  return row ? PrinterOfModel(*row) : nullptr;
}

#ifndef DOTWEAVE_USB_SERIAL_ONLY
// Exact, not the filter's first-substring rule: "KV418 AK" must get its own
// printer, not the one of "KV418 A".
const Printer *FindPrinterByModelName(std::string_view model) {
  char wanted[128];
  const std::string text(model.substr(0, model.find('\0')));
  normalize_model_text(text.c_str(), wanted, sizeof wanted);
  if (wanted[0] == '\0') return nullptr;
  for (const OEMModel &row : PIDDatabase) {
    char name[128];
    normalize_model_text(row.ModelName, name, sizeof name);
    if (std::strcmp(wanted, name) == 0) return PrinterOfModel(row);
  }
  return nullptr;
}
#else
// This build has no model-name matching in the filter either: the maker's
// printers are known by their USB ids alone.
const Printer *FindPrinterByModelName(std::string_view) { return nullptr; }
#endif

std::string UsbSerialOfUri(std::string_view uri) {
  const std::string text(uri.substr(0, uri.find('\0')));
  char serial[256];
  if (!extract_serial_number(text.c_str(), serial, sizeof serial)) return "";
  return serial;
}

std::optional<UsbIds> UsbIdsOfSerial(const std::string &serial) {
  UsbIds ids;
  if (serial.empty() || !get_usb_pid_by_serial(serial.c_str(), &ids.vendor, &ids.product)) return std::nullopt;
  return ids;
}

}  // namespace catalogue
