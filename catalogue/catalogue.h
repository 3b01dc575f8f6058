#pragma once
// The printer catalogue: every printer dotweave drives, with what its PPD file
// and its printer-application driver say about it (media sizes, resolutions,
// raster format, options with their choices, defaults and display texts).
// The PPD generator and dotweave-app both read it, so a model or a size added
// here appears in both. The OEM models come from the filter's model table.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace catalogue {

enum class Kind { Label, Thermal, Needle };

struct MediaSize {
  std::string ppdName;  // PPD keyword: w<width>h<length> in points, or "Letter", "A4"
  std::string text;     // what the user sees
  int width;            // points
  int length;           // points
  std::string pwgName;  // self-describing PWG media name, e.g. "oe_4x6-label_4x6in"
};

struct Choice {
  std::string key;   // the choice keyword the filter reads (a number for the OEM options)
  std::string text;  // what the user sees
  std::string code;  // PostScript setting raster header fields, empty for filter-only options
};

// How an option reaches the printer application's IPP interface.
enum class IppMapping {
  Vendor,          // a vendor attribute of its own (ippName)
  Darkness,        // print-darkness / printer-darkness-configured
  Speed,           // print-speed
  ContentOptimize, // print-content-optimize (photo means ordered dither)
  MediaType,       // media-type
  MediaTracking,   // media-tracking of media-col
  LabelMode,       // label-mode-configured
};

struct Option {
  Option(std::string keyword_, std::string text_, std::string defaultChoice_,
         std::vector<Choice> choices_)
      : keyword(std::move(keyword_)), text(std::move(text_)),
        defaultChoice(std::move(defaultChoice_)), choices(std::move(choices_)) {}

  std::string keyword;        // PPD keyword the filter reads
  std::string text;
  std::string defaultChoice;
  std::vector<Choice> choices;
  IppMapping mapping = IppMapping::Vendor;
  std::string ippName;        // vendor attribute name (mapping Vendor only)
  // IPP values of the choices, one per choice: integers when every choice key
  // is a number, otherwise keywords (lower case, hyphens).
  bool numeric() const;
  std::string IppValue(const Choice &c) const;
  const Choice *FindChoice(std::string_view key) const;
  const Choice *FindChoiceByIppValue(std::string_view value) const;
};

struct Printer {
  std::string driverName;  // PPD file stem and driver name: "kv412-a", "dotweave-zpl"
  std::string pcFileName;  // 8.3 name
  std::string manufacturer;
  std::string model;        // *ModelName after the maker; the OEM lookup matches it
  std::string description;  // rest of the nick name
  Kind kind;
  int modelNumber;               // cupsModelNumber, the filter's family code
  int headWidth;                 // dots across the head
  std::vector<int> resolutions;  // dpi, the first is the default
  std::string colorText;         // ColorModel choice
  std::string colorKey;
  std::string colorCode;
  std::vector<MediaSize> sizes;  // the first is the default
  int maxWidth;                  // custom sizes up to this width (points)
  std::vector<Option> options;
  std::string rasterExtras;      // extra page device keys set with the resolution
  std::string nativeFormat;      // MIME type of the printer's own language, empty for OEM
  bool namesModel;               // the PPD names the OEM model (*dotweaveModel)
  bool receipt = false;          // a receipt printer (roll paper, cut), not a label printer
  bool namesHead = false;        // the PPD gives headWidth (*dotweaveHeadDots): the filter
                                 // sends no dot beyond the head

  std::string fileName() const { return driverName + ".ppd"; }
  const Option *FindOption(std::string_view keyword) const;
  const Option *FindMapped(IppMapping mapping) const;
};

// Custom page sizes: widths from kMinCustomPoints to Printer::maxWidth, lengths
// from kMinCustomPoints to kMaxCustomLengthPoints.
inline constexpr int kMinCustomPoints = 36;
inline constexpr int kMaxCustomLengthPoints = 3600;

const std::vector<Printer> &Printers();
const Printer *FindPrinter(std::string_view driverName);

// The PPD file of one printer.
std::string PpdText(const Printer &printer);

// ---- Plug and play (plug_and_play.cpp) ----------------------------------------

struct UsbIds {
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
};

// The maker's printer with these USB vendor and product ids, or null.
const Printer *FindPrinterByUsbIds(std::uint16_t vendor, std::uint16_t product);
// The maker's printer whose model name this is exactly (case, spaces and
// punctuation aside), or null; always null in the USB-ids-only build.
const Printer *FindPrinterByModelName(std::string_view model);
// The serial number of a usb:// URI as the filter reads it, "" for none.
std::string UsbSerialOfUri(std::string_view uri);
// The ids of the attached USB device with this serial number, or none.
std::optional<UsbIds> UsbIdsOfSerial(const std::string &serial);

// The package version the PPDs and the application report.
inline constexpr const char *kVersion = "0.1.0";

}  // namespace catalogue
