// The drivers: one per catalogue printer, named as its PPD file. The driver
// callback fills every field of PAPPL's driver record from the catalogue (a
// record left partly filled has crashed PAPPL 1.3.1 while it prepared a job).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/autoadd/autoadd.h"
#include "app/icons/icons.h"
#include "app/security/security.h"
#include "app/serial/serial.h"
#include "app/settings.h"
#include "app/status/poller.h"

namespace app {
namespace {

using catalogue::IppMapping;
using catalogue::Kind;

struct DriverList {
  std::vector<std::string> names, descriptions;
  std::vector<pappl_pr_driver_t> drivers;
};

DriverList &List() {
  static DriverList list = [] {
    DriverList l;
    for (const catalogue::Printer &p : catalogue::Printers()) {
      l.names.push_back(p.driverName);
      l.descriptions.push_back(p.manufacturer + " " + p.model + " (" + p.description + ")");
    }
    for (std::size_t i = 0; i < l.names.size(); ++i)
      l.drivers.push_back({l.names[i].c_str(), l.descriptions[i].c_str(), nullptr, nullptr});
    return l;
  }();
  return list;
}

// Hundredths of millimetres from points.
int Hmm(int points) { return (points * 2540 + 36) / 72; }

std::string Inches(int points) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.4g", points / 72.0);
  return buf;
}

void Copy(char *dst, std::size_t size, const std::string &src) { std::snprintf(dst, size, "%s", src.c_str()); }

// Strings PAPPL keeps pointers to live as long as the program.
const char *Keep(const std::string &s) {
  static std::vector<std::unique_ptr<std::string>> kept;
  static std::mutex lock;
  std::lock_guard<std::mutex> guard(lock);
  for (const auto &k : kept)
    if (*k == s) return k->c_str();
  kept.push_back(std::make_unique<std::string>(s));
  return kept.back()->c_str();
}

void FillMedia(const catalogue::Printer &p, pappl_pr_driver_data_t &d) {
  d.num_media = 0;
  for (const catalogue::MediaSize &s : p.sizes)
    if (d.num_media < PAPPL_MAX_MEDIA) d.media[d.num_media++] = Keep(s.pwgName);
  if (d.num_media + 2 <= PAPPL_MAX_MEDIA) {
    d.media[d.num_media++] =
        Keep("custom_min_" + Inches(catalogue::kMinCustomPoints) + "x" + Inches(catalogue::kMinCustomPoints) + "in");
    d.media[d.num_media++] =
        Keep("custom_max_" + Inches(p.maxWidth) + "x" + Inches(catalogue::kMaxCustomLengthPoints) + "in");
  }
  d.borderless = true;
  d.left_right = 0;
  d.bottom_top = 0;

  const bool roll = p.kind != Kind::Needle;
  d.num_source = 1;
  d.source[0] = roll ? "main-roll" : "main";

  // media-type: the OEM thermal paper types; labels for the label languages.
  d.num_type = 0;
  std::string defaultType = "labels";
  if (const catalogue::Option *paper = p.FindMapped(IppMapping::MediaType)) {
    for (const catalogue::Choice &c : paper->choices)
      if (auto k = MediaTypeKeyword(c); k && d.num_type < PAPPL_MAX_TYPE) d.type[d.num_type++] = Keep(std::string(*k));
    if (auto k = MediaTypeKeyword(*paper->FindChoice(paper->defaultChoice))) defaultType = std::string(*k);
  } else if (p.kind == Kind::Needle || p.receipt) {
    d.type[d.num_type++] = "continuous";
    defaultType = "continuous";
  } else {
    d.type[d.num_type++] = "labels";
    d.type[d.num_type++] = "continuous";
  }

  d.tracking_supported = static_cast<pappl_media_tracking_t>(0);
  if (p.FindMapped(IppMapping::MediaTracking))
    d.tracking_supported = static_cast<pappl_media_tracking_t>(PAPPL_MEDIA_TRACKING_CONTINUOUS |
                                                               PAPPL_MEDIA_TRACKING_GAP | PAPPL_MEDIA_TRACKING_MARK |
                                                               PAPPL_MEDIA_TRACKING_WEB);
  d.left_offset_supported[0] = d.left_offset_supported[1] = 0;
  d.top_offset_supported[0] = d.top_offset_supported[1] = 0;

  const catalogue::MediaSize &def = p.sizes.front();
  pappl_media_col_t media{};
  Copy(media.size_name, sizeof media.size_name, def.pwgName);
  media.size_width = Hmm(def.width);
  media.size_length = Hmm(def.length);
  Copy(media.source, sizeof media.source, d.source[0]);
  Copy(media.type, sizeof media.type, defaultType);
  media.tracking = static_cast<pappl_media_tracking_t>(0);
  d.media_default = media;
  d.media_ready[0] = media;
}

void FillDarknessAndSpeed(const catalogue::Printer &p, pappl_pr_driver_data_t &d) {
  d.darkness_default = 0;
  d.darkness_configured = 0;
  d.darkness_supported = 0;
  if (const catalogue::Option *o = p.FindMapped(IppMapping::Darkness)) {
    d.darkness_supported = static_cast<int>(o->choices.size());
    d.darkness_configured = DarknessPercent(*o, *o->FindChoice(o->defaultChoice));
  }
  d.speed_supported[0] = d.speed_supported[1] = 0;
  d.speed_default = 0;
  if (const catalogue::Option *o = p.FindMapped(IppMapping::Speed)) {
    const bool levels = p.kind != Kind::Label;
    int lo = 0, hi = 0;
    for (const catalogue::Choice &c : o->choices) {
      const int v = SpeedValue(c, levels);
      if (v == 0) continue;
      if (lo == 0 || v < lo) lo = v;
      if (v > hi) hi = v;
    }
    d.speed_supported[0] = lo;
    d.speed_supported[1] = hi;
    d.speed_default = SpeedValue(*o->FindChoice(o->defaultChoice), levels);
  }
}

void FillLabelModes(const catalogue::Printer &p, pappl_pr_driver_data_t &d) {
  d.mode_supported = static_cast<pappl_label_mode_t>(0);
  d.mode_configured = static_cast<pappl_label_mode_t>(0);
  const catalogue::Option *o = p.FindMapped(IppMapping::LabelMode);
  if (o == nullptr) return;
  int modes = 0;
  for (const catalogue::Choice &c : o->choices) {
    const auto k = LabelModeKeyword(c);
    if (!k) continue;
    if (*k == "tear-off") modes |= PAPPL_LABEL_MODE_TEAR_OFF;
    else if (*k == "peel-off") modes |= PAPPL_LABEL_MODE_PEEL_OFF;
    else if (*k == "rewind") modes |= PAPPL_LABEL_MODE_REWIND;
    else if (*k == "applicator") modes |= PAPPL_LABEL_MODE_APPLICATOR;
    else if (*k == "cutter") modes |= PAPPL_LABEL_MODE_CUTTER;
  }
  d.mode_supported = static_cast<pappl_label_mode_t>(modes);
}

// PAPPL 1.3.1 refuses every value of label-tear-offset-configured in
// Set-Printer-Attributes and shows it nowhere on its web pages: the ZPL
// tear-off adjustment is a vendor setting instead (tear-off-offset).
void FillTearOffset(pappl_pr_driver_data_t &d) {
  d.tear_offset_configured = 0;
  d.tear_offset_supported[0] = d.tear_offset_supported[1] = 0;
}

// A vendor option entered as a number: a long run of consecutive numbers
// (an offset, a position), whose choice names only repeat the numbers.
// PAPPL's web page shows an integer list as bare numbers and takes a range
// in a number field.
constexpr std::size_t kMinNumberRun = 12;

bool EnteredAsNumber(const catalogue::Option &o) {
  if (!o.numeric() || o.choices.size() < kMinNumberRun) return false;
  for (std::size_t i = 1; i < o.choices.size(); ++i)
    if (std::stoi(o.choices[i].key) != std::stoi(o.choices[i - 1].key) + 1) return false;
  return true;
}

// NAME-supported and NAME-default of every vendor option: a range of
// integers, or keywords that the web page shows by their names (localized
// in strings.cpp). The keywords of a numeric option are its numbers
// ("90"): a client that sends the integer 90 still gets it, as PAPPL hands
// the job both as the same text.
void AddVendorAttributes(const catalogue::Printer &p, pappl_pr_driver_data_t &d, ipp_t *attrs) {
  d.num_vendor = 0;
  for (const catalogue::Option &o : p.options) {
    if (o.mapping != IppMapping::Vendor || d.num_vendor >= PAPPL_MAX_VENDOR) continue;
    d.vendor[d.num_vendor++] = Keep(o.ippName);
    const std::string supported = o.ippName + "-supported", def = o.ippName + "-default";
    const catalogue::Choice *dc = o.FindChoice(o.defaultChoice);
    if (EnteredAsNumber(o)) {
      ippAddRange(attrs, IPP_TAG_PRINTER, supported.c_str(), std::stoi(o.choices.front().key),
                  std::stoi(o.choices.back().key));
      ippAddInteger(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, def.c_str(), std::stoi(dc->key));
    } else {
      std::vector<std::string> keywords;
      std::vector<const char *> pointers;
      for (const catalogue::Choice &c : o.choices) keywords.push_back(o.IppValue(c));
      for (const std::string &k : keywords) pointers.push_back(k.c_str());
      ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, supported.c_str(), static_cast<int>(pointers.size()),
                    nullptr, pointers.data());
      ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, def.c_str(), nullptr, o.IppValue(*dc).c_str());
    }
  }
}

// Attributes driverless clients look for that PAPPL leaves to the driver:
// one rendering intent (the printers have no colour to manage), one-sided
// sheets only, and no preferred-attributes answer to Create-Job.
void AddClientAttributes(ipp_t *attrs) {
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default", nullptr, "auto");
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-supported", nullptr, "auto");
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "pwg-raster-document-sheet-back", nullptr, "normal");
  ippAddBoolean(attrs, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
}

pappl_supply_t Supply(const char *description, pappl_supply_type_t type, pappl_supply_color_t color) {
  pappl_supply_t s{};
  s.color = color;
  Copy(s.description, sizeof s.description, description);
  s.is_consumed = true;
  s.level = -1;  // none of these printers reports how much is left
  s.type = type;
  return s;
}

// What each kind of printer uses up: a needle printer its ink ribbon, a
// direct thermal printer its heat-sensitive paper or labels, and a label
// printer that also prints by thermal transfer its ribbon.
std::vector<pappl_supply_t> SuppliesOf(const catalogue::Printer &p) {
  std::vector<pappl_supply_t> supplies;
  switch (p.kind) {
    case Kind::Needle:
      supplies.push_back(Supply("Ink ribbon", PAPPL_SUPPLY_TYPE_INK_RIBBON, PAPPL_SUPPLY_COLOR_BLACK));
      break;
    case Kind::Thermal:
      supplies.push_back(Supply("Thermal paper", PAPPL_SUPPLY_TYPE_OTHER, PAPPL_SUPPLY_COLOR_NO_COLOR));
      break;
    case Kind::Label:
      supplies.push_back(Supply(p.receipt ? "Receipt paper" : "Labels", PAPPL_SUPPLY_TYPE_OTHER,
                                PAPPL_SUPPLY_COLOR_NO_COLOR));
      if (p.FindOption("MediaType"))
        supplies.push_back(Supply("Thermal transfer ribbon", PAPPL_SUPPLY_TYPE_RIBBON_WAX, PAPPL_SUPPLY_COLOR_BLACK));
      break;
  }
  return supplies;
}

// A deleted printer is forgotten by the status poller and the job queue.
void PrinterDeleted(pappl_printer_t *printer, pappl_pr_driver_data_t *data) {
  ForgetPrinterQueue(printer);
  status::ForgetPrinter(printer, data);
}

// PAPPL asks for the printer's status before it answers a client (not while
// the device is in use); the status poller sets the supplies' levels.
bool UpdateStatus(pappl_printer_t *printer) {
  if (PrinterOf(printer) == nullptr) return false;
  EnsureSupplies(printer);
  return status::UpdateStatus(printer);
}

// None of the printers has a display, a light or a sound to show itself
// with: the request and its message go to the printer's log, which the web
// interface shows.
void Identify(pappl_printer_t *printer, pappl_identify_actions_t, const char *message) {
  papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Identify-Printer: %s", message ? message : "");
}

// The test page (a frame, diagonals, bars and a gray ramp, written when the
// server starts), printed through the same raster path as any PNG job.
const char *TestPage(pappl_printer_t *, char *buffer, size_t bufsize) {
  std::snprintf(buffer, bufsize, "%s", gPaths.testPage.c_str());
  return buffer;
}

}  // namespace

// The supplies are set on the printer when first asked for, as the driver
// callback has no printer to set them on.
void EnsureSupplies(pappl_printer_t *printer) {
  const catalogue::Printer *p = PrinterOf(printer);
  pappl_supply_t current[PAPPL_MAX_SUPPLY];
  if (p == nullptr || papplPrinterGetSupplies(printer, PAPPL_MAX_SUPPLY, current) != 0) return;
  std::vector<pappl_supply_t> supplies = SuppliesOf(*p);
  papplPrinterSetSupplies(printer, static_cast<int>(supplies.size()), supplies.data());
}

int DriverCount() { return static_cast<int>(List().drivers.size()); }

void AddDocumentFilters(pappl_system_t *system) {
  papplSystemAddMIMEFilter(system, "application/pdf", "image/pwg-raster", PdfFilter, nullptr);
  std::vector<std::string> formats = {kOemDriverFormat};
  for (const catalogue::Printer &p : catalogue::Printers())
    if (!p.nativeFormat.empty() && std::find(formats.begin(), formats.end(), p.nativeFormat) == formats.end())
      formats.push_back(p.nativeFormat);
  for (const std::string &format : formats) {
    for (const char *image : {"image/png", "image/jpeg"})
      papplSystemAddMIMEFilter(system, image, Keep(format), ImageFilter, nullptr);
  }
}
pappl_pr_driver_t *Drivers() { return List().drivers.data(); }

const catalogue::Printer *PrinterOf(pappl_printer_t *printer) {
  const char *name = printer ? papplPrinterGetDriverName(printer) : nullptr;
  // PAPPL keeps a printer added with the "auto" driver under that name.
  if (name && std::strcmp(name, "auto") == 0)
    name = autoadd::ResolveAutoDriver(papplPrinterGetDeviceURI(printer), papplPrinterGetDeviceID(printer));
  return name ? catalogue::FindPrinter(name) : nullptr;
}

bool DriverCallback(pappl_system_t *system, const char *driver_name, const char *device_uri, const char *,
                    pappl_pr_driver_data_t *d, ipp_t **attrs, void *) {
  // PAPPL creates the printer only when this returns true.
  std::string why = dwserial::CheckSerialDeviceUri(device_uri);
  if (why.empty()) why = security::CheckDeviceUri(device_uri);
  if (!why.empty()) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "Refusing %s: %s", device_uri, why.c_str());
    return false;
  }
  const catalogue::Printer *p = driver_name ? catalogue::FindPrinter(driver_name) : nullptr;
  if (p == nullptr || d == nullptr || attrs == nullptr) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "Unknown driver \"%s\".", driver_name ? driver_name : "(null)");
    return false;
  }
  const bool label = p->kind == Kind::Label;

  d->extension = nullptr;
  d->delete_cb = PrinterDeleted;
  d->identify_cb = Identify;
  // Only the label languages have a language of their own to pass through;
  // the OEM printers' format is only there to route images (see app.h), and
  // PrintFile refuses documents in it.
  d->printfile_cb = PrintFile;
  d->rendjob_cb = EndJob;
  d->rendpage_cb = EndPage;
  d->rstartjob_cb = StartJob;
  d->rstartpage_cb = StartPage;
  d->rwriteline_cb = WriteLine;
  d->status_cb = UpdateStatus;
  d->testpage_cb = TestPage;

  d->format = p->nativeFormat.empty() ? kOemDriverFormat : Keep(p->nativeFormat);
  Copy(d->make_and_model, sizeof d->make_and_model, p->manufacturer + " " + p->model);
  d->ppm = label ? 30 : 10;
  d->ppm_color = 0;
  d->kind = static_cast<pappl_kind_t>(p->kind == Kind::Needle ? PAPPL_KIND_DOCUMENT
                                      : p->receipt             ? (PAPPL_KIND_RECEIPT | PAPPL_KIND_ROLL)
                                      : label                  ? PAPPL_KIND_LABEL
                                                               : (PAPPL_KIND_LABEL | PAPPL_KIND_RECEIPT | PAPPL_KIND_ROLL));
  const IconKind icon = p->kind == Kind::Needle ? IconKind::DotMatrix : label ? IconKind::Label : IconKind::Receipt;
  for (int i = 0; i < 3; ++i) {
    const IconData png = PrinterIcon(icon, i);
    d->icons[i].filename[0] = '\0';
    d->icons[i].data = png.data;
    d->icons[i].datalen = png.size;
  }
  d->has_supplies = true;
  d->input_face_up = true;
  d->output_face_up = true;
  d->orient_default = IPP_ORIENT_PORTRAIT;

  // Every printer here prints black only, so none offers "color". The label
  // languages take 1-bit black. The OEM engine takes 8-bit RGB and makes it
  // black and white itself (threshold or ordered dither); clients send it
  // 8-bit gray (PWG sgray_8, URF W8), which the bridge hands on as RGB of
  // equal components: the same gray to the engine, whose weights add up to
  // one. PAPPL 1.3.1 aborts sRGB raster in a job that is not in color mode,
  // so sRGB is not offered either. PDF, PNG and JPEG do not come this way:
  // our converters render them in colour for the engine, as a CUPS queue does.
  d->color_supported = static_cast<pappl_color_mode_t>(PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_MONOCHROME |
                                                       (label ? PAPPL_COLOR_MODE_BI_LEVEL : 0));
  d->color_default = label ? PAPPL_COLOR_MODE_MONOCHROME : PAPPL_COLOR_MODE_AUTO;
  d->raster_types = label ? PAPPL_PWG_RASTER_TYPE_BLACK_1 : PAPPL_PWG_RASTER_TYPE_SGRAY_8;
  d->force_raster_type = d->raster_types;
  d->content_default = PAPPL_CONTENT_AUTO;
  d->quality_default = IPP_QUALITY_NORMAL;
  d->scaling_default = PAPPL_SCALING_AUTO;
  d->duplex = PAPPL_DUPLEX_NONE;
  d->sides_supported = PAPPL_SIDES_ONE_SIDED;
  d->sides_default = PAPPL_SIDES_ONE_SIDED;
  d->finishings = PAPPL_FINISHINGS_NONE;

  // PAPPL prints a job of normal print-quality at the middle resolution of the
  // list (draft at the first, high at the last), whatever the default says:
  // the driver's default resolution goes in the middle, so that a label is
  // not rasterised for a head it does not have unless the job asks for it.
  std::vector<int> resolutions(p->resolutions.begin() + 1, p->resolutions.end());
  resolutions.insert(resolutions.begin() + static_cast<std::ptrdiff_t>(p->resolutions.size() / 2),
                     p->resolutions.front());
  d->num_resolution = 0;
  for (int dpi : resolutions) {
    if (d->num_resolution >= PAPPL_MAX_RESOLUTION) break;
    d->x_resolution[d->num_resolution] = dpi;
    d->y_resolution[d->num_resolution] = dpi;
    ++d->num_resolution;
  }
  d->x_default = d->y_default = p->resolutions.front();

  FillMedia(*p, *d);
  d->num_bin = 0;
  d->bin_default = 0;
  FillLabelModes(*p, *d);
  FillTearOffset(*d);
  FillDarknessAndSpeed(*p, *d);
  d->identify_default = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
  d->identify_supported = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
  d->num_features = 0;

  *attrs = ippNew();
  AddVendorAttributes(*p, *d, *attrs);
  AddClientAttributes(*attrs);
  return true;
}

}  // namespace app
