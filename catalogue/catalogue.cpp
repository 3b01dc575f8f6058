// The tables of the catalogue: page sizes, resolutions and options of every
// printer family, and one printer per OEM model of the filter's model table.
#include "catalogue/catalogue.h"

#include <cstdio>
#include <sstream>

#include "oem/oem.h"

namespace catalogue {
namespace {

// "4", "2.25", "3.667": a dimension as it appears in a PWG media name.
std::string PwgNumber(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.4g", v);
  return buf;
}

std::string Dimensions(double w, double l) { return PwgNumber(w) + "x" + PwgNumber(l); }

// The name part of a PWG media name takes letters, digits and hyphens only:
// "2.25x1.25" names the size as "2-25x1-25" there, while the dimensions part
// keeps the decimal point ("oe_2-25x1-25-label_2.25x1.25in").
std::string NamePart(std::string dims) {
  for (char &c : dims)
    if (c == '.') c = '-';
  return dims;
}

MediaSize Inches(double w, double l, std::string text) {
  int wp = static_cast<int>(w * 72.0 + 0.5), lp = static_cast<int>(l * 72.0 + 0.5);
  const std::string dims = Dimensions(w, l);
  return {"w" + std::to_string(wp) + "h" + std::to_string(lp), std::move(text), wp, lp,
          "oe_" + NamePart(dims) + "-label_" + dims + "in"};
}

MediaSize Millimetres(double w, double l) {
  int wp = static_cast<int>(w * 72.0 / 25.4 + 0.5), lp = static_cast<int>(l * 72.0 / 25.4 + 0.5);
  std::ostringstream text;
  text << w << " x " << l << " mm";
  const std::string dims = Dimensions(w, l);
  return {"w" + std::to_string(wp) + "h" + std::to_string(lp), text.str(), wp, lp,
          "om_" + NamePart(dims) + "-label_" + dims + "mm"};
}

const MediaSize kLetter{"Letter", "US Letter", 612, 792, "na_letter_8.5x11in"};
const MediaSize kA4{"A4", "A4", 595, 842, "iso_a4_210x297mm"};

// "-20" ... "20", with the middle one named.
std::vector<Choice> Range(int from, int to, const std::string &zeroText) {
  std::vector<Choice> out;
  for (int v = from; v <= to; ++v) {
    std::string key = std::to_string(v);
    out.push_back({key, v == 0 ? zeroText : (v > 0 ? "+" + key : key), ""});
  }
  return out;
}

// The ZPL tear-off adjustment (~TA) in dots, which the filter takes from the
// raster header's AdvanceDistance: -120 to 120, the printer's range; 0 sets
// the "not set" value 1000, which leaves the printer's own.
std::vector<Choice> TearOffsets() {
  std::vector<Choice> out = Range(-120, 120, "Printer setting");
  for (Choice &c : out)
    c.code = "<</AdvanceDistance " + (c.key == "0" ? std::string("1000") : c.key) + ">>setpagedevice";
  return out;
}

Option Vendor(Option o, std::string ippName) {
  o.mapping = IppMapping::Vendor;
  o.ippName = std::move(ippName);
  return o;
}

Option Mapped(Option o, IppMapping mapping) {
  o.mapping = mapping;
  return o;
}

// ---- OEM printers ------------------------------------------------------------

// Roll and label sizes that fit each thermal head (203 dpi: 384 dots = 48 mm,
// 576 = 72 mm, 640 = 80 mm, 832 = 104 mm).
std::vector<MediaSize> ThermalSizes(int headWidth) {
  switch (headWidth) {
    case 832:
      return {Inches(4, 6, "4 x 6 in"), Inches(4, 4, "4 x 4 in"), Inches(4, 3, "4 x 3 in"),
              Inches(4, 2, "4 x 2 in"), Millimetres(100, 150), Millimetres(100, 100)};
    case 640:
      return {Millimetres(80, 100), Millimetres(80, 60), Millimetres(80, 40),
              Inches(3, 2, "3 x 2 in")};
    case 576:
      return {Millimetres(72, 100), Millimetres(72, 50), Millimetres(60, 40),
              Inches(2, 1, "2 x 1 in")};
    default:
      return {Millimetres(48, 100), Millimetres(48, 50), Millimetres(40, 30),
              Millimetres(40, 20)};
  }
}

// Continuous forms of the needle printers: the 8 inch print line (1440 dots
// at 180 dpi) and the usual form lengths, which match the fixed page lengths.
std::vector<MediaSize> NeedleSizes() {
  return {Inches(8, 11, "8 x 11 in (9.5 x 11 in form)"),
          Inches(8, 5.5, "8 x 5.5 in (half form)"),
          Inches(8, 11.0 / 3.0, "8 x 3.67 in (third form)"),
          Inches(8, 5, "8 x 5 in"),
          Inches(8, 4, "8 x 4 in"),
          kA4,
          kLetter};
}

std::vector<Option> CommonOemOptions() {
  return {
      Mapped({"ImagePrint", "Image mode", "0",
              {{"0", "Text and line art (threshold)", ""}, {"1", "Photo (ordered dither)", ""}}},
             IppMapping::ContentOptimize),
      Vendor({"GrayADJ", "Black threshold", "50",
              {{"20", "Darker", ""},
               {"35", "Slightly darker", ""},
               {"50", "Normal", ""},
               {"80", "Slightly lighter", ""},
               {"128", "Lighter", ""}}},
             "gray-threshold"),
  };
}

Option RotationOption() {
  return Vendor({"Rotation", "Rotate page", "0",
                 {{"0", "None", ""},
                  {"90", "90 degrees", ""},
                  {"180", "180 degrees", ""},
                  {"270", "270 degrees", ""}}},
                "page-rotation");
}

std::vector<Option> ThermalOptions() {
  std::vector<Option> o = CommonOemOptions();
  Option density{"Density", "Darkness", "75", {}};
  for (int v = 50; v <= 100; v += 5)
    density.choices.push_back({std::to_string(v), std::to_string(v) + "%", ""});
  o.push_back(Mapped(density, IppMapping::Darkness));
  o.push_back(Mapped({"Speed", "Print speed", "1",
                      {{"0", "Slow", ""}, {"1", "Normal", ""}, {"2", "Fast", ""}, {"3", "Fastest", ""}}},
                     IppMapping::Speed));
  o.push_back(RotationOption());
  o.push_back(Mapped({"PaperType", "Paper type", "0",
                      {{"0", "Continuous roll", ""},
                       {"1", "Labels with gaps", ""},
                       {"2", "Paper with black marks", ""}}},
                     IppMapping::MediaType));
  o.push_back(Vendor({"HorizentalADJ", "Horizontal offset (1 mm steps)", "0", Range(-20, 20, "None")},
                     "horizontal-adjust"));
  o.push_back(Vendor({"VerticalADJ", "Vertical offset (1 mm steps)", "0", Range(-20, 20, "None")},
                     "vertical-adjust"));
  return o;
}

std::vector<Option> NeedleOptions() {
  std::vector<Option> o = CommonOemOptions();
  o.push_back(Mapped({"Density", "Darkness", "1",
                      {{"1", "Light", ""}, {"2", "Medium", ""}, {"3", "Dark", ""}}},
                     IppMapping::Darkness));
  o.push_back(Mapped({"Speed", "Print speed", "0", {{"0", "Normal", ""}, {"1", "Fast", ""}}},
                     IppMapping::Speed));
  o.push_back(RotationOption());
  o.push_back(Vendor({"HorizentalADJ", "Horizontal offset (6 dots per step)", "0", Range(-20, 20, "None")},
                     "horizontal-adjust"));
  o.push_back(Vendor({"VerticalADJ", "Vertical offset (6 rows per step)", "0", Range(-20, 20, "None")},
                     "vertical-adjust"));
  o.push_back(Vendor({"UnidirectionalPrint", "Print direction", "1",
                      {{"0", "Both directions (faster)", ""}, {"1", "One direction (sharper)", ""}}},
                     "unidirectional-print"));
  o.push_back(Vendor({"PrintStartPosition", "Print start position", "0", Range(-120, 120, "Printer setting")},
                     "print-start-position"));
  o.push_back(Vendor({"CutPaperPosition", "Tear-off position", "0", Range(-120, 120, "Printer setting")},
                     "cut-paper-position"));
  o.push_back(Vendor({"FixPageHeight", "Fixed page length", "0",
                      {{"0", "Off (as long as the page)", ""},
                       {"1", "3.67 in (third form)", ""},
                       {"2", "4 in", ""},
                       {"3", "5 in", ""},
                       {"4", "5.5 in (half form)", ""},
                       {"5", "11 in (full form)", ""}}},
                     "fixed-page-height"));
  return o;
}

// ---- Label-language families ---------------------------------------------------

std::vector<Choice> Darkness(const std::vector<int> &levels, const std::string &zeroText) {
  std::vector<Choice> out;
  for (int v : levels) {
    std::string key = std::to_string(v);
    out.push_back({key, v == 0 && !zeroText.empty() ? zeroText : key + "%",
                   "<</cupsCompression " + key + ">>setpagedevice"});
  }
  return out;
}

const std::vector<int> kPercentSteps = {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100};

Option LabelDarkness(const std::string &def, const std::string &zeroText) {
  return Mapped({"Darkness", "Darkness", def, Darkness(kPercentSteps, zeroText)}, IppMapping::Darkness);
}

Option PrintRate(const std::vector<int> &rates) {
  Option o{"zePrintRate", "Print speed", "Default", {{"Default", "Printer setting", ""}}};
  for (int r : rates)
    o.choices.push_back({std::to_string(r), std::to_string(r) + (r == 1 ? " inch" : " inches") +
                                                " per second", ""});
  return Mapped(o, IppMapping::Speed);
}

Option MediaTypeOption() {
  return Vendor({"MediaType", "Media type", "Saved",
                 {{"Saved", "Printer setting", "<</MediaType()>>setpagedevice"},
                  {"Thermal", "Thermal transfer", "<</MediaType(Thermal)>>setpagedevice"},
                  {"Direct", "Direct thermal", "<</MediaType(Direct)>>setpagedevice"}}},
                "thermal-media-type");
}

Option CutMedia() {
  return Vendor({"CutMedia", "Cut labels", "0",
                 {{"0", "Never", "<</CutMedia 0>>setpagedevice"},
                  {"4", "After each label", "<</CutMedia 4>>setpagedevice"}}},
                "cut-media");
}

std::vector<MediaSize> LabelSizes() {
  return {Inches(4, 6, "4 x 6 in"),   Inches(4, 4, "4 x 4 in"),  Inches(4, 3, "4 x 3 in"),
          Inches(4, 2, "4 x 2 in"),   Inches(4, 1, "4 x 1 in"),  Inches(3, 2, "3 x 2 in"),
          Inches(3, 1, "3 x 1 in"),   Inches(2, 1, "2 x 1 in"),
          Inches(2.25, 1.25, "2.25 x 1.25 in")};
}

std::string Upper(std::string s) {
  for (char &c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// Model name to a file-name stem: "KV412 A" -> "kv412-a".
std::string Stem(std::string_view model) {
  std::string out;
  for (char c : model) {
    if (c >= 'A' && c <= 'Z') out += static_cast<char>(c - 'A' + 'a');
    else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) out += c;
    else if (!out.empty() && out.back() != '-') out += '-';
  }
  return out;
}

std::string PcFileName(std::string_view model) {
  std::string out;
  for (char c : model)
    if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z')) out += c;
  return Upper(out.substr(0, 8)) + ".PPD";
}

std::vector<Printer> OemPrinters() {
  std::vector<Printer> out;
  for (const OEMModel &m : PIDDatabase) {
    const bool needle = m.HeadWidth == 1440;
    Printer pr;
    pr.driverName = Stem(m.ModelName);
    pr.pcFileName = PcFileName(m.ModelName);
    pr.manufacturer = "OEM";
    pr.model = m.ModelName;
    pr.kind = needle ? Kind::Needle : Kind::Thermal;
    pr.modelNumber = 0x13;
    pr.headWidth = m.HeadWidth;
    pr.colorKey = "RGB";
    pr.colorText = "Color (the filter makes it black and white)";
    pr.colorCode = "<</cupsColorOrder 0/cupsColorSpace 1/cupsBitsPerColor 8>>setpagedevice";
    pr.namesModel = true;
    if (needle) {
      pr.description = "dot-matrix printer";
      pr.resolutions = {180};
      pr.sizes = NeedleSizes();
      pr.maxWidth = 612;
      pr.options = NeedleOptions();
    } else {
      pr.description = "thermal printer, " + std::to_string(m.HeadWidth) + " dots";
      pr.resolutions = {203};
      pr.sizes = ThermalSizes(m.HeadWidth);
      pr.maxWidth = m.HeadWidth * 72 / 203;
      pr.options = ThermalOptions();
    }
    out.push_back(std::move(pr));
  }
  return out;
}

Printer LabelPrinter(std::string stem, std::string model, int modelNumber,
                     std::vector<int> resolutions, std::string nativeFormat,
                     std::vector<Option> options) {
  Printer pr;
  pr.driverName = "dotweave-" + stem;
  pr.pcFileName = PcFileName("DW" + stem);
  pr.manufacturer = "Generic";
  pr.model = std::move(model);
  pr.description = "label printer";
  pr.kind = Kind::Label;
  pr.modelNumber = modelNumber;
  pr.resolutions = std::move(resolutions);
  pr.colorKey = "Gray";
  pr.colorText = "Black and white";
  pr.colorCode = "<</cupsColorOrder 0/cupsColorSpace 3/cupsBitsPerColor 1>>setpagedevice";
  pr.sizes = LabelSizes();
  pr.maxWidth = 4 * 72 + 36;  // 4.5 inch, the widest common label head
  pr.options = std::move(options);
  pr.nativeFormat = std::move(nativeFormat);
  pr.namesModel = false;
  return pr;
}

Option LabelMode(std::string keyword, std::string def, std::vector<Choice> choices) {
  return Mapped({std::move(keyword), "Print mode", std::move(def), std::move(choices)},
                IppMapping::LabelMode);
}

std::vector<Printer> LabelPrinters() {
  std::vector<Printer> out;

  // Dymo protocol: the density letter is 'c' + cupsCompression.
  Printer dymo = LabelPrinter("dymo", "Dymo protocol", 0x00, {300}, "application/vnd.dymo-lw",
                              {Mapped({"Darkness", "Darkness", "2",
                                       {{"0", "Light", "<</cupsCompression 0>>setpagedevice"},
                                        {"1", "Medium", "<</cupsCompression 1>>setpagedevice"},
                                        {"2", "Normal", "<</cupsCompression 2>>setpagedevice"},
                                        {"4", "Dark", "<</cupsCompression 4>>setpagedevice"}}},
                                      IppMapping::Darkness)});
  dymo.sizes = {Inches(1.125, 3.5, "Address, 1.125 x 3.5 in"),
                Inches(2.3125, 4, "Shipping, 2.31 x 4 in"),
                Inches(2.25, 1.25, "Multi-purpose, 2.25 x 1.25 in"),
                Inches(2, 1, "2 x 1 in"), Inches(4, 6, "4 x 6 in")};
  out.push_back(dymo);

  out.push_back(LabelPrinter("epl-line", "EPL line mode", 0x10, {203}, "application/vnd.eltron-epl",
                             {LabelDarkness("0", "Printer setting"), PrintRate({1, 2, 3, 4, 5, 6})}));

  out.push_back(LabelPrinter("epl-page", "EPL page mode", 0x11, {203}, "application/vnd.eltron-epl",
                             {LabelDarkness("0", "Printer setting"), PrintRate({1, 2, 3, 4, 5, 6}),
                              MediaTypeOption(), CutMedia()}));

  // The label top and tear-off settings stay the printer's own unless the
  // raster header changes them (200 and 1000 mean "not set"); the tear-off
  // offset sets AdvanceDistance in its own option, the label top nothing yet.
  Printer zpl = LabelPrinter(
      "zpl", "ZPL", 0x12, {203, 300}, "application/vnd.zebra-zpl",
      {LabelDarkness("0", "Printer setting"),
       PrintRate({1, 2, 3, 4, 5, 6, 8, 10, 12}),
       Mapped({"zeMediaTracking", "Media tracking", "Default",
               {{"Default", "Printer setting", ""},
                {"Continuous", "Continuous", ""},
                {"Web", "Labels with gaps", ""},
                {"Mark", "Labels with black marks", ""}}},
              IppMapping::MediaTracking),
       LabelMode("zePrintMode", "Saved",
                 {{"Saved", "Printer setting", ""},
                  {"Tear", "Tear-off", ""},
                  {"Peel", "Peel-off", ""},
                  {"Rewind", "Rewind", ""},
                  {"Applicator", "Applicator", ""},
                  {"Cutter", "Cutter", ""}}),
       Vendor({"zeTearOffset", "Tear-off offset (dots)", "0", TearOffsets()}, "tear-off-offset"),
       Vendor({"zeErrorReprint", "Reprint after error", "Saved",
               {{"Saved", "Printer setting", ""}, {"Always", "Always", ""}, {"Never", "Never", ""}}},
              "error-reprint"),
       MediaTypeOption(), CutMedia()});
  zpl.rasterExtras = "/cupsRowStep 200";
  out.push_back(zpl);

  Printer pcl = LabelPrinter("pcl", "PCL raster", 0x20, {203, 300}, "application/vnd.hp-pcl",
                             {LabelDarkness("50", ""),
                              LabelMode("inPrintMode", "Standard",
                                        {{"Standard", "Standard", ""},
                                         {"Tear", "Tear-off", ""},
                                         {"Peel", "Peel-off", ""}})});
  pcl.sizes.push_back(kLetter);
  pcl.sizes.push_back(kA4);
  pcl.maxWidth = 612;
  out.push_back(pcl);
  return out;
}

// ---- Receipt (ESC/POS) and TSPL label printers ---------------------------------

// A receipt page: the printable width of the roll by a length; the filter
// ends each receipt where its content ends, so the length is only the most a
// page can hold.
MediaSize Receipt(int paperMm, double widthMm, int lengthMm) {
  const int wp = static_cast<int>(widthMm * 72.0 / 25.4 + 0.5), lp = static_cast<int>(lengthMm * 72.0 / 25.4 + 0.5);
  const std::string dims = Dimensions(widthMm, lengthMm);
  std::ostringstream text;
  text << paperMm << " mm roll, " << widthMm << " x " << lengthMm << " mm";
  return {"w" + std::to_string(wp) + "h" + std::to_string(lp), text.str(), wp, lp,
          "om_" + NamePart(dims) + "-receipt_" + dims + "mm"};
}

std::vector<MediaSize> ReceiptSizes(int paperMm, double widthMm) {
  return {Receipt(paperMm, widthMm, 297), Receipt(paperMm, widthMm, 100), Receipt(paperMm, widthMm, 200),
          Receipt(paperMm, widthMm, 500), Receipt(paperMm, widthMm, 1000)};
}

std::vector<Option> EscPosOptions() {
  Option density{"escDensity", "Darkness", "Default", {{"Default", "Printer setting", ""}}};
  for (int p = 70; p <= 130; p += 10) density.choices.push_back({std::to_string(p), std::to_string(p) + "%", ""});
  Option speed{"escSpeed", "Print speed", "Default", {{"Default", "Printer setting", ""}}};
  for (int v = 1; v <= 9; ++v)
    speed.choices.push_back({std::to_string(v), std::to_string(v) + (v == 1 ? " (slowest)" : v == 9 ? " (fastest)" : ""), ""});
  Option minimum{"escMinLength", "Minimum receipt length", "0", {{"0", "None", ""}}};
  for (int mm : {10, 20, 30, 50, 80, 100}) minimum.choices.push_back({std::to_string(mm), std::to_string(mm) + " mm", ""});
  return {Mapped(density, IppMapping::Darkness),
          Mapped(speed, IppMapping::Speed),
          Vendor({"escCutMode", "Cut", "Partial",
                  {{"None", "No cut", ""}, {"Partial", "Partial cut", ""}, {"Full", "Full cut", ""}}},
                 "cut-mode"),
          Vendor({"escCutAt", "Cut after", "Job",
                  {{"Job", "The last page of the job", ""}, {"Page", "Every page", ""}}},
                 "cut-after"),
          Vendor({"escTrim", "End the receipt where its content ends", "On",
                  {{"On", "Yes", ""}, {"Off", "No (feed the whole page)", ""}}},
                 "trim-receipt"),
          Vendor(minimum, "receipt-minimum-length"),
          Vendor({"escDrawerPin", "Open the cash drawer", "Off",
                  {{"Off", "No", ""}, {"Pin2", "Drawer 1 (pin 2)", ""}, {"Pin5", "Drawer 2 (pin 5)", ""}}},
                 "cash-drawer"),
          Vendor({"escDrawerWhen", "When to open the cash drawer", "Before",
                  {{"Before", "Before printing", ""}, {"After", "After printing", ""}}},
                 "cash-drawer-when")};
}

Printer EscPosPrinter(std::string stem, std::string model, std::string pcFileName, int dpi, int headDots,
                      int paperMm, double widthMm) {
  Printer pr;
  pr.driverName = "dotweave-" + stem;
  pr.pcFileName = std::move(pcFileName);
  pr.manufacturer = "Generic";
  pr.model = std::move(model);
  pr.description = "receipt printer, " + std::to_string(headDots) + " dots at " + std::to_string(dpi) + " dpi";
  pr.kind = Kind::Label;
  pr.receipt = true;
  pr.modelNumber = 0x30;
  pr.headWidth = headDots;
  pr.namesHead = true;
  pr.resolutions = {dpi};
  pr.colorKey = "Gray";
  pr.colorText = "Black and white";
  pr.colorCode = "<</cupsColorOrder 0/cupsColorSpace 3/cupsBitsPerColor 1>>setpagedevice";
  pr.sizes = ReceiptSizes(paperMm, widthMm);
  pr.maxWidth = paperMm * 72 * 10 / 254;  // the paper; the filter cuts the rows to the head
  pr.options = EscPosOptions();
  pr.nativeFormat = "application/vnd.escpos";
  pr.namesModel = false;
  return pr;
}

std::vector<Option> TsplOptions() {
  Option speed{"tsSpeed", "Print speed", "Default", {{"Default", "Printer setting", ""}}};
  for (int r : {2, 3, 4, 5, 6})
    speed.choices.push_back({std::to_string(r), std::to_string(r) + " inches per second", ""});
  return {LabelDarkness("0", "Printer setting"),
          Mapped(speed, IppMapping::Speed),
          Mapped({"tsMediaTracking", "Media tracking", "Web",
                  {{"Default", "Printer setting", ""},
                   {"Web", "Labels with gaps", ""},
                   {"Mark", "Labels with black marks", ""},
                   {"Continuous", "Continuous", ""}}},
                 IppMapping::MediaTracking),
          Vendor({"tsGapSize", "Gap or black mark size", "3",
                  {{"2", "2 mm", ""}, {"3", "3 mm", ""}, {"4", "4 mm", ""}, {"5", "5 mm", ""}}},
                 "gap-size"),
          Vendor({"tsDirection", "Print direction", "0",
                  {{"0", "Normal", ""}, {"1", "Turned by 180 degrees", ""}}},
                 "print-direction"),
          LabelMode("tsLabelMode", "Saved",
                    {{"Saved", "Printer setting", ""}, {"Tear", "Tear-off", ""}, {"Peel", "Peel-off", ""}})};
}

Printer TsplPrinter(std::string stem, std::string model, std::string pcFileName, int dpi, int headDots,
                    bool fourInch) {
  Printer pr = LabelPrinter(stem, std::move(model), 0x14, {dpi}, "application/vnd.tsc-tspl", TsplOptions());
  pr.pcFileName = std::move(pcFileName);
  pr.description = "label printer, " + std::to_string(headDots) + " dots at " + std::to_string(dpi) + " dpi";
  pr.headWidth = headDots;
  pr.namesHead = true;
  if (fourInch) {
    pr.sizes = {Inches(4, 6, "4 x 6 in"),   Inches(4, 4, "4 x 4 in"),    Inches(4, 3, "4 x 3 in"),
                Inches(4, 2, "4 x 2 in"),   Inches(4, 1, "4 x 1 in"),    Millimetres(100, 150),
                Millimetres(100, 100),      Millimetres(100, 50),        Inches(3, 2, "3 x 2 in"),
                Inches(3, 1, "3 x 1 in"),   Inches(2.25, 1.25, "2.25 x 1.25 in"), Inches(2, 1, "2 x 1 in")};
    pr.maxWidth = 306;  // 4.25 inch
  } else {
    pr.sizes = {Inches(2.25, 1.25, "2.25 x 1.25 in"), Inches(2, 1, "2 x 1 in"), Inches(2, 2, "2 x 2 in"),
                Millimetres(50, 30), Millimetres(50, 25), Millimetres(40, 30), Inches(1.5, 1, "1.5 x 1 in")};
    pr.maxWidth = 162;  // 2.25 inch
  }
  return pr;
}

// ESC/POS at 203 dpi: 384 dots (48 mm of 58 mm paper), 576 dots (72 mm of
// 80 mm), and the 80 mm printers that print 512 dots (64 mm); at 180 dpi:
// 360 dots (50.8 mm of 58 mm) and 512 dots (72.2 mm of 80 mm). TSPL: 2-inch
// and 4-inch heads at 203 and 300 dpi.
std::vector<Printer> ReceiptAndTsplPrinters() {
  return {
      EscPosPrinter("escpos-58", "ESC/POS 58 mm", "DWPOS58.PPD", 203, 384, 58, 48),
      EscPosPrinter("escpos-80", "ESC/POS 80 mm", "DWPOS80.PPD", 203, 576, 80, 72),
      EscPosPrinter("escpos-80-512", "ESC/POS 80 mm 512 dots", "DWPOS80N.PPD", 203, 512, 80, 64),
      EscPosPrinter("escpos-58-180dpi", "ESC/POS 58 mm 180 dpi", "DWPOS58L.PPD", 180, 360, 58, 50),
      EscPosPrinter("escpos-80-180dpi", "ESC/POS 80 mm 180 dpi", "DWPOS80L.PPD", 180, 512, 80, 72),
      TsplPrinter("tspl-4in", "TSPL 4 inch 203 dpi", "DWTSPL4.PPD", 203, 832, true),
      TsplPrinter("tspl-4in-300dpi", "TSPL 4 inch 300 dpi", "DWTSPL4H.PPD", 300, 1248, true),
      TsplPrinter("tspl-2in", "TSPL 2 inch 203 dpi", "DWTSPL2.PPD", 203, 448, false),
      TsplPrinter("tspl-2in-300dpi", "TSPL 2 inch 300 dpi", "DWTSPL2H.PPD", 300, 672, false),
  };
}

std::vector<Printer> AllPrinters() {
  std::vector<Printer> printers = OemPrinters();
  for (Printer &p : LabelPrinters()) {
    // A label head is as wide as the widest page at the finest resolution.
    p.headWidth = p.maxWidth * p.resolutions.back() / 72;
    printers.push_back(std::move(p));
  }
  for (Printer &p : ReceiptAndTsplPrinters()) printers.push_back(std::move(p));
  return printers;
}

bool IsNumber(std::string_view s) {
  if (s.empty()) return false;
  std::size_t i = s[0] == '-' ? 1 : 0;
  if (i == s.size()) return false;
  for (; i < s.size(); ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

std::string Keyword(std::string_view key) {
  std::string out;
  for (char c : key) {
    if (c >= 'A' && c <= 'Z') {
      if (!out.empty()) out += '-';
      out += static_cast<char>(c - 'A' + 'a');
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

bool Option::numeric() const {
  for (const Choice &c : choices)
    if (!IsNumber(c.key)) return false;
  return !choices.empty();
}

// Numbers stay numbers; keywords become IPP keywords ("Saved" -> "saved").
std::string Option::IppValue(const Choice &c) const { return numeric() ? c.key : Keyword(c.key); }

const Choice *Option::FindChoice(std::string_view key) const {
  for (const Choice &c : choices)
    if (c.key == key) return &c;
  return nullptr;
}

const Choice *Option::FindChoiceByIppValue(std::string_view value) const {
  for (const Choice &c : choices)
    if (IppValue(c) == value) return &c;
  return nullptr;
}

const Option *Printer::FindOption(std::string_view keyword) const {
  for (const Option &o : options)
    if (o.keyword == keyword) return &o;
  return nullptr;
}

const Option *Printer::FindMapped(IppMapping mapping) const {
  for (const Option &o : options)
    if (o.mapping == mapping) return &o;
  return nullptr;
}

const std::vector<Printer> &Printers() {
  static const std::vector<Printer> printers = AllPrinters();
  return printers;
}

const Printer *FindPrinter(std::string_view driverName) {
  for (const Printer &p : Printers())
    if (p.driverName == driverName) return &p;
  return nullptr;
}

}  // namespace catalogue
