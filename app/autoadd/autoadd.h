#pragma once
// Plug-and-play: the driver a printer found on its own gets. The maker's
// printers are known by their USB vendor and product ids, which the catalogue
// looks up in the filter's model table; label printers by the command set,
// maker and model of their IEEE 1284 device ID. Everything but UsbIdsOfUri and the callback is
// pure, for the unit tests and the fuzzer.
//
// PAPPL's usb: device URIs ("usb://MAKE/MODEL?serial=SERIAL") carry no USB
// ids: UsbIdsOfUri finds the attached device with the URI's serial number in
// the USB registry the filter reads (sysfs), and takes its ids.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace autoadd {

// The keys of a device ID ("MFG:Zebra;CMD:ZPL,EPL2;MDL:GK420d;") that pick a
// driver. Keys are matched without regard to case, long or short form; the
// first of a repeated key counts; values are trimmed of spaces.
struct DeviceIdFields {
  std::string manufacturer;             // MFG or MANUFACTURER
  std::string model;                    // MDL or MODEL
  std::vector<std::string> commandSet;  // CMD or COMMAND SET, split at commas, upper case
};
DeviceIdFields ParseDeviceId(std::string_view deviceId);

struct UsbIds {
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
};

// The model driver of the maker's printer with these ids, or null. Driver
// names returned here and below live as long as the program.
const char *DriverForUsbIds(UsbIds ids);

// The driver a device ID asks for, or null:
//   MDL naming one of the maker's models exactly (case, spaces and
//     punctuation aside)             -> that model's driver
//   MFG DYMO, MDL LabelWriter (not the 5xx series, which speak another
//     protocol)                      -> dotweave-dymo
//   CMD with ZPL (ZPL, ZPL2, ZPLII)  -> dotweave-zpl (also when EPL is listed)
//   CMD with EPL2 or EPL             -> dotweave-epl-page
//   CMD with EPL1                    -> dotweave-epl-line
//   CMD with PCL (PCL, PCL3, PCL5...; not PCLXL/PCL6) -> dotweave-pcl, unless
//     CMD also lists PostScript, PDF, PWG raster or Apple raster: an office
//     printer, better served without a label driver.
//   CMD with TSPL (TSPL, TSPL2, ...) -> dotweave-tspl-4in (the common
//     4-inch 203 dpi label printer)
//   CMD with ESC/POS (ESC/POS, ESCPOS, ESC/POS-T, ...) -> dotweave-escpos-80
//     (the 80 mm 576-dot receipt printer; a 58 mm one is chosen by hand)
const char *DriverForDeviceId(std::string_view deviceId);

// The USB ids first, when known, then the device ID.
const char *MatchDriver(std::string_view deviceId, std::optional<UsbIds> ids);

// The serial numbers to look for in the USB registry for a usb:// URI: the
// text after "serial=" up to "&", as written, and percent-decoded when that
// differs. Empty for other schemes and URIs without a serial.
std::vector<std::string> UsbSerialsOfUri(std::string_view uri);

// The ids of the attached USB device with the serial of a usb:// URI, or none.
std::optional<UsbIds> UsbIdsOfUri(const char *uri);

// The driver of a printer that PAPPL keeps under the driver name "auto".
// PAPPL 1.3.1 saves that name, not the one the callback gave, for printers
// added with the "auto" driver (web page, "add -m auto"), so the name must be
// found again from the printer's device URI and device ID: the match as
// above, else the make and model of the device ID PAPPL wrote for the
// printer from its driver ("MFG:Generic;MDL:ZPL;...": "Generic ZPL").
const char *ResolveAutoDriver(const char *device_uri, const char *device_id);

// PAPPL's auto-add callback (pappl_pr_autoadd_cb_t): used for the "auto"
// driver of "add -m auto" and the web page, and by the "autoadd" sub-command.
const char *AutoAddCallback(const char *device_info, const char *device_uri, const char *device_id, void *data);

}  // namespace autoadd
