// Writes the PPD files of every printer dotweave drives: one per model of the
// OEM model table and one per label-language family. The OEM models come from
// the filter's own model table, so a model added there gets its PPD without
// further work; everything else a PPD says (page sizes, resolutions, options
// and their choices) is in the tables of this file.
//
//   dotweave-ppdgen OUTPUT_DIR
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "oem/oem.h"

namespace {

constexpr const char *kVersion = "0.1.0";

struct Size {
  std::string name;  // PPD keyword: w<width>h<length> in points
  std::string text;
  int width;
  int length;
};

Size Inches(double w, double l, std::string text) {
  int wp = static_cast<int>(w * 72.0 + 0.5), lp = static_cast<int>(l * 72.0 + 0.5);
  return {"w" + std::to_string(wp) + "h" + std::to_string(lp), std::move(text), wp, lp};
}

Size Millimetres(double w, double l) {
  int wp = static_cast<int>(w * 72.0 / 25.4 + 0.5), lp = static_cast<int>(l * 72.0 / 25.4 + 0.5);
  std::ostringstream text;
  text << w << " x " << l << " mm";
  return {"w" + std::to_string(wp) + "h" + std::to_string(lp), text.str(), wp, lp};
}

struct Choice {
  std::string key;   // the choice keyword the filter reads (a number for the OEM options)
  std::string text;  // what the user sees
  std::string code;  // PostScript for the raster header, empty for filter-only options
};

struct Option {
  std::string keyword;
  std::string text;
  std::string defaultChoice;
  std::vector<Choice> choices;
};

// "-20" ... "20", with the middle one named.
std::vector<Choice> Range(int from, int to, const std::string &zeroText) {
  std::vector<Choice> out;
  for (int v = from; v <= to; ++v) {
    std::string key = std::to_string(v);
    out.push_back({key, v == 0 ? zeroText : (v > 0 ? "+" + key : key), ""});
  }
  return out;
}

// ---- OEM printers ------------------------------------------------------------

// Roll and label sizes that fit each thermal head (203 dpi: 384 dots = 48 mm,
// 576 = 72 mm, 640 = 80 mm, 832 = 104 mm).
std::vector<Size> ThermalSizes(int headWidth) {
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
std::vector<Size> NeedleSizes() {
  return {Inches(8, 11, "8 x 11 in (9.5 x 11 in form)"),
          Inches(8, 5.5, "8 x 5.5 in (half form)"),
          Inches(8, 11.0 / 3.0, "8 x 3.67 in (third form)"),
          Inches(8, 5, "8 x 5 in"),
          Inches(8, 4, "8 x 4 in"),
          {"A4", "A4", 595, 842},
          {"Letter", "US Letter", 612, 792}};
}

std::vector<Option> CommonOemOptions() {
  return {
      {"ImagePrint", "Image mode", "0",
       {{"0", "Text and line art (threshold)", ""}, {"1", "Photo (ordered dither)", ""}}},
      {"GrayADJ", "Black threshold", "50",
       {{"20", "Darker", ""},
        {"35", "Slightly darker", ""},
        {"50", "Normal", ""},
        {"80", "Slightly lighter", ""},
        {"128", "Lighter", ""}}},
  };
}

std::vector<Option> ThermalOptions() {
  std::vector<Option> o = CommonOemOptions();
  Option density{"Density", "Darkness", "75", {}};
  for (int v = 50; v <= 100; v += 5)
    density.choices.push_back({std::to_string(v), std::to_string(v) + "%", ""});
  o.push_back(density);
  o.push_back({"Speed", "Print speed", "1",
               {{"0", "Slow", ""}, {"1", "Normal", ""}, {"2", "Fast", ""}, {"3", "Fastest", ""}}});
  o.push_back({"Rotation", "Rotate page", "0",
               {{"0", "None", ""},
                {"90", "90 degrees", ""},
                {"180", "180 degrees", ""},
                {"270", "270 degrees", ""}}});
  o.push_back({"PaperType", "Paper type", "0",
               {{"0", "Continuous roll", ""},
                {"1", "Labels with gaps", ""},
                {"2", "Paper with black marks", ""}}});
  o.push_back({"HorizentalADJ", "Horizontal offset (1 mm steps)", "0", Range(-20, 20, "None")});
  o.push_back({"VerticalADJ", "Vertical offset (1 mm steps)", "0", Range(-20, 20, "None")});
  return o;
}

std::vector<Option> NeedleOptions() {
  std::vector<Option> o = CommonOemOptions();
  o.push_back({"Density", "Darkness", "1",
               {{"1", "Light", ""}, {"2", "Medium", ""}, {"3", "Dark", ""}}});
  o.push_back({"Speed", "Print speed", "0", {{"0", "Normal", ""}, {"1", "Fast", ""}}});
  o.push_back({"Rotation", "Rotate page", "0",
               {{"0", "None", ""},
                {"90", "90 degrees", ""},
                {"180", "180 degrees", ""},
                {"270", "270 degrees", ""}}});
  o.push_back({"HorizentalADJ", "Horizontal offset (6 dots per step)", "0", Range(-20, 20, "None")});
  o.push_back({"VerticalADJ", "Vertical offset (6 rows per step)", "0", Range(-20, 20, "None")});
  o.push_back({"UnidirectionalPrint", "Print direction", "1",
               {{"0", "Both directions (faster)", ""}, {"1", "One direction (sharper)", ""}}});
  o.push_back({"PrintStartPosition", "Print start position", "0", Range(-120, 120, "Printer setting")});
  o.push_back({"CutPaperPosition", "Tear-off position", "0", Range(-120, 120, "Printer setting")});
  o.push_back({"FixPageHeight", "Fixed page length", "0",
               {{"0", "Off (as long as the page)", ""},
                {"1", "3.67 in (third form)", ""},
                {"2", "4 in", ""},
                {"3", "5 in", ""},
                {"4", "5.5 in (half form)", ""},
                {"5", "11 in (full form)", ""}}});
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

Option PrintRate(const std::vector<int> &rates) {
  Option o{"zePrintRate", "Print speed", "Default", {{"Default", "Printer setting", ""}}};
  for (int r : rates)
    o.choices.push_back({std::to_string(r), std::to_string(r) + (r == 1 ? " inch" : " inches") +
                                                " per second", ""});
  return o;
}

Option MediaType() {
  return {"MediaType", "Media type", "Saved",
          {{"Saved", "Printer setting", "<</MediaType()>>setpagedevice"},
           {"Thermal", "Thermal transfer", "<</MediaType(Thermal)>>setpagedevice"},
           {"Direct", "Direct thermal", "<</MediaType(Direct)>>setpagedevice"}}};
}

Option CutMedia() {
  return {"CutMedia", "Cut labels", "0",
          {{"0", "Never", "<</CutMedia 0>>setpagedevice"},
           {"4", "After each label", "<</CutMedia 4>>setpagedevice"}}};
}

std::vector<Size> LabelSizes() {
  return {Inches(4, 6, "4 x 6 in"),   Inches(4, 4, "4 x 4 in"),  Inches(4, 3, "4 x 3 in"),
          Inches(4, 2, "4 x 2 in"),   Inches(4, 1, "4 x 1 in"),  Inches(3, 2, "3 x 2 in"),
          Inches(3, 1, "3 x 1 in"),   Inches(2, 1, "2 x 1 in"),
          Inches(2.25, 1.25, "2.25 x 1.25 in")};
}

// ---- One printer -----------------------------------------------------------------

struct Printer {
  std::string fileName;     // e.g. kv412-a.ppd
  std::string pcFileName;   // 8.3 name
  std::string manufacturer;
  std::string model;        // *ModelName, also what the OEM lookup matches
  std::string description;  // rest of the nick name
  int modelNumber;
  std::vector<int> resolutions;  // dpi, the first is the default
  std::string colorText;         // ColorModel choice
  std::string colorKey;
  std::string colorCode;
  std::vector<Size> sizes;       // the first is the default
  int maxWidth;                  // custom sizes up to this width (points)
  std::vector<Option> options;
  std::string rasterExtras;      // extra page device keys set with the resolution
};

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

void WriteUi(std::ostream &p, const Option &o) {
  p << "*OpenUI *" << o.keyword << "/" << o.text << ": PickOne\n"
    << "*OrderDependency: 10 AnySetup *" << o.keyword << "\n"
    << "*Default" << o.keyword << ": " << o.defaultChoice << "\n";
  for (const Choice &c : o.choices)
    p << "*" << o.keyword << " " << c.key << "/" << c.text << ": \"" << c.code << "\"\n";
  p << "*CloseUI: *" << o.keyword << "\n\n";
}

std::string PageSizeCode(const Size &s) {
  return "<</PageSize[" + std::to_string(s.width) + " " + std::to_string(s.length) +
         "]/ImagingBBox null>>setpagedevice";
}

std::string Ppd(const Printer &pr) {
  std::ostringstream p;
  const std::string nick = pr.manufacturer + " " + pr.model + " " + pr.description + ", dotweave " +
                           kVersion;
  p << "*PPD-Adobe: \"4.3\"\n"
    << "*% " << pr.model << " " << pr.description << ", for the dotweave CUPS filter.\n"
    << "*% Generated by dotweave-ppdgen; edit tools/ppdgen/ppdgen.cpp instead.\n"
    << "*FormatVersion: \"4.3\"\n"
    << "*FileVersion: \"" << kVersion << "\"\n"
    << "*LanguageVersion: English\n"
    << "*LanguageEncoding: ISOLatin1\n"
    << "*PCFileName: \"" << pr.pcFileName << "\"\n"
    << "*Manufacturer: \"" << pr.manufacturer << "\"\n"
    << "*Product: \"(" << pr.model << ")\"\n"
    << "*ModelName: \"" << pr.manufacturer << " " << pr.model << "\"\n"
    << "*ShortNickName: \"" << (pr.manufacturer + " " + pr.model).substr(0, 31) << "\"\n"
    << "*NickName: \"" << nick << "\"\n"
    << "*PSVersion: \"(3010.000) 0\"\n"
    << "*LanguageLevel: \"3\"\n"
    << "*ColorDevice: False\n"
    << "*DefaultColorSpace: Gray\n"
    << "*FileSystem: False\n"
    << "*Throughput: \"1\"\n"
    << "*LandscapeOrientation: Plus90\n"
    << "*TTRasterizer: Type42\n"
    << "*cupsVersion: 2.4\n"
    << "*cupsModelNumber: " << pr.modelNumber << "\n"
    << "*cupsManualCopies: True\n"
    << "*cupsFilter: \"application/vnd.cups-raster 0 dotweave\"\n"
    << "*cupsLanguages: \"en\"\n\n";

  // Page sizes: the head prints edge to edge, so the imageable area is the page.
  p << "*HWMargins: 0 0 0 0\n"
    << "*VariablePaperSize: True\n"
    << "*MaxMediaWidth: \"" << pr.maxWidth << "\"\n"
    << "*MaxMediaHeight: \"3600\"\n"
    << "*ParamCustomPageSize Width: 1 points 36 " << pr.maxWidth << "\n"
    << "*ParamCustomPageSize Height: 2 points 36 3600\n"
    << "*ParamCustomPageSize WidthOffset: 3 points 0 0\n"
    << "*ParamCustomPageSize HeightOffset: 4 points 0 0\n"
    << "*ParamCustomPageSize Orientation: 5 int 0 0\n"
    << "*CustomPageSize True: \"pop pop pop <</PageSize[5 -2 roll]/ImagingBBox null>>setpagedevice\"\n\n";
  const Size &def = pr.sizes.front();
  for (const char *kw : {"PageSize", "PageRegion"}) {
    p << "*OpenUI *" << kw << "/Media Size: PickOne\n"
      << "*OrderDependency: 10 AnySetup *" << kw << "\n"
      << "*Default" << kw << ": " << def.name << "\n";
    for (const Size &s : pr.sizes)
      p << "*" << kw << " " << s.name << "/" << s.text << ": \"" << PageSizeCode(s) << "\"\n";
    p << "*CloseUI: *" << kw << "\n\n";
  }
  p << "*DefaultImageableArea: " << def.name << "\n";
  for (const Size &s : pr.sizes)
    p << "*ImageableArea " << s.name << "/" << s.text << ": \"0 0 " << s.width << " " << s.length
      << "\"\n";
  p << "*DefaultPaperDimension: " << def.name << "\n";
  for (const Size &s : pr.sizes)
    p << "*PaperDimension " << s.name << "/" << s.text << ": \"" << s.width << " " << s.length
      << "\"\n";
  p << "\n";

  // Raster format and resolution.
  Option color{"ColorModel", "Output mode", pr.colorKey, {{pr.colorKey, pr.colorText, pr.colorCode}}};
  WriteUi(p, color);
  Option res{"Resolution", "Resolution", std::to_string(pr.resolutions.front()) + "dpi", {}};
  for (int dpi : pr.resolutions) {
    std::string d = std::to_string(dpi);
    res.choices.push_back({d + "dpi", d + " dpi",
                           "<</HWResolution[" + d + " " + d + "]" + pr.rasterExtras +
                               ">>setpagedevice"});
  }
  WriteUi(p, res);

  for (const Option &o : pr.options) WriteUi(p, o);

  p << "*% End of " << pr.fileName << "\n";
  return p.str();
}

std::vector<Printer> OemPrinters() {
  std::vector<Printer> out;
  for (const OEMModel &m : PIDDatabase) {
    const bool needle = m.HeadWidth == 1440;
    Printer pr;
    pr.fileName = Stem(m.ModelName) + ".ppd";
    pr.pcFileName = PcFileName(m.ModelName);
    pr.manufacturer = "OEM";
    pr.model = m.ModelName;
    pr.modelNumber = 0x13;
    pr.colorKey = "RGB";
    pr.colorText = "Color (the filter makes it black and white)";
    pr.colorCode = "<</cupsColorOrder 0/cupsColorSpace 1/cupsBitsPerColor 8>>setpagedevice";
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
                     std::vector<int> resolutions, std::vector<Option> options) {
  Printer pr;
  pr.fileName = "dotweave-" + stem + ".ppd";
  pr.pcFileName = PcFileName("DW" + stem);
  pr.manufacturer = "Generic";
  pr.model = std::move(model);
  pr.description = "label printer";
  pr.modelNumber = modelNumber;
  pr.resolutions = std::move(resolutions);
  pr.colorKey = "Gray";
  pr.colorText = "Black and white";
  pr.colorCode = "<</cupsColorOrder 0/cupsColorSpace 3/cupsBitsPerColor 1>>setpagedevice";
  pr.sizes = LabelSizes();
  pr.maxWidth = 4 * 72 + 36;  // 4.5 inch, the widest common label head
  pr.options = std::move(options);
  return pr;
}

std::vector<Printer> LabelPrinters() {
  std::vector<Printer> out;

  // Dymo protocol: the density letter is 'c' + cupsCompression.
  Printer dymo = LabelPrinter("dymo", "Dymo protocol", 0x00, {300},
                              {{"Darkness", "Darkness", "2",
                                {{"0", "Light", "<</cupsCompression 0>>setpagedevice"},
                                 {"1", "Medium", "<</cupsCompression 1>>setpagedevice"},
                                 {"2", "Normal", "<</cupsCompression 2>>setpagedevice"},
                                 {"4", "Dark", "<</cupsCompression 4>>setpagedevice"}}}});
  dymo.sizes = {Inches(1.125, 3.5, "Address, 1.125 x 3.5 in"),
                Inches(2.3125, 4, "Shipping, 2.31 x 4 in"),
                Inches(2.25, 1.25, "Multi-purpose, 2.25 x 1.25 in"),
                Inches(2, 1, "2 x 1 in"), Inches(4, 6, "4 x 6 in")};
  out.push_back(dymo);

  out.push_back(LabelPrinter("epl-line", "EPL line mode", 0x10, {203},
                             {{"Darkness", "Darkness", "0", Darkness(kPercentSteps, "Printer setting")},
                              PrintRate({1, 2, 3, 4, 5, 6})}));

  out.push_back(LabelPrinter("epl-page", "EPL page mode", 0x11, {203},
                             {{"Darkness", "Darkness", "0", Darkness(kPercentSteps, "Printer setting")},
                              PrintRate({1, 2, 3, 4, 5, 6}), MediaType(), CutMedia()}));

  // The label top and tear-off settings stay the printer's own unless the
  // raster header changes them (200 and 1000 mean "not set").
  Printer zpl = LabelPrinter(
      "zpl", "ZPL", 0x12, {203, 300},
      {{"Darkness", "Darkness", "0", Darkness(kPercentSteps, "Printer setting")},
       PrintRate({1, 2, 3, 4, 5, 6, 8, 10, 12}),
       {"zeMediaTracking", "Media tracking", "Default",
        {{"Default", "Printer setting", ""},
         {"Continuous", "Continuous", ""},
         {"Web", "Labels with gaps", ""},
         {"Mark", "Labels with black marks", ""}}},
       {"zePrintMode", "Print mode", "Saved",
        {{"Saved", "Printer setting", ""},
         {"Tear", "Tear-off", ""},
         {"Peel", "Peel-off", ""},
         {"Rewind", "Rewind", ""},
         {"Applicator", "Applicator", ""},
         {"Cutter", "Cutter", ""}}},
       {"zeErrorReprint", "Reprint after error", "Saved",
        {{"Saved", "Printer setting", ""}, {"Always", "Always", ""}, {"Never", "Never", ""}}},
       MediaType(), CutMedia()});
  zpl.rasterExtras = "/cupsRowStep 200/AdvanceDistance 1000";
  out.push_back(zpl);

  Printer pcl = LabelPrinter("pcl", "PCL raster", 0x20, {203, 300},
                             {{"Darkness", "Darkness", "50", Darkness(kPercentSteps, "")},
                              {"inPrintMode", "Print mode", "Standard",
                               {{"Standard", "Standard", ""},
                                {"Tear", "Tear-off", ""},
                                {"Peel", "Peel-off", ""}}}});
  pcl.sizes.push_back({"Letter", "US Letter", 612, 792});
  pcl.sizes.push_back({"A4", "A4", 595, 842});
  pcl.maxWidth = 612;
  out.push_back(pcl);
  return out;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::cerr << "usage: dotweave-ppdgen OUTPUT_DIR\n";
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  std::vector<Printer> printers = OemPrinters();
  for (Printer &p : LabelPrinters()) printers.push_back(std::move(p));
  for (const Printer &p : printers) {
    std::ofstream f(dir / p.fileName, std::ios::binary | std::ios::trunc);
    f << Ppd(p);
    if (!f.flush()) {
      std::cerr << "dotweave-ppdgen: cannot write " << (dir / p.fileName).string() << "\n";
      return 1;
    }
  }
  return 0;
}
