// IPP settings to the filter's PPD options; see settings.h.
#include "app/settings.h"

#include <algorithm>
#include <cstdlib>

namespace app {
namespace {

using catalogue::Choice;
using catalogue::IppMapping;
using catalogue::Option;

constexpr int kHundredthsMmPerInch = 2540;

struct KeywordPair {
  std::string_view choice;
  std::string_view keyword;
};

constexpr KeywordPair kPaperTypes[] = {{"0", "continuous"}, {"1", "labels"}, {"2", "black-mark"}};
constexpr KeywordPair kLabelModes[] = {{"Tear", "tear-off"},     {"Peel", "peel-off"},
                                       {"Rewind", "rewind"},     {"Applicator", "applicator"},
                                       {"Cutter", "cutter"}};
constexpr KeywordPair kTracking[] = {{"Continuous", "continuous"}, {"Web", "web"}, {"Mark", "mark"}};

template <std::size_t N>
std::optional<std::string_view> KeywordOf(const KeywordPair (&table)[N], std::string_view choice) {
  for (const KeywordPair &p : table)
    if (p.choice == choice) return p.keyword;
  return std::nullopt;
}

template <std::size_t N>
const Choice *ChoiceOfKeyword(const KeywordPair (&table)[N], const Option &o, std::string_view keyword) {
  for (const KeywordPair &p : table)
    if (p.keyword == keyword) return o.FindChoice(p.choice);
  return nullptr;
}

std::size_t IndexOf(const Option &o, const Choice &c) {
  return static_cast<std::size_t>(&c - o.choices.data());
}

const std::string *VendorValue(const IppSettings &ipp, std::string_view name) {
  for (const OptionValue &v : ipp.vendor)
    if (v.first == name) return &v.second;
  return nullptr;
}

// The choice an option gets from the IPP settings: nullptr keeps the PPD's
// default; an error text when the value is not one the option offers.
const Choice *MapOne(const catalogue::Printer &printer, const Option &o, const IppSettings &ipp,
                     std::string &error) {
  const bool levels = printer.kind != catalogue::Kind::Label;
  switch (o.mapping) {
    case IppMapping::Darkness: {
      const Choice *def = o.FindChoice(o.defaultChoice);
      const int configured = ipp.darknessConfigured >= 0 ? ipp.darknessConfigured : DarknessPercent(o, *def);
      // Wide enough for any two values a client sends.
      const long long sum = static_cast<long long>(configured) + ipp.printDarkness;
      return DarknessChoice(o, static_cast<int>(std::clamp(sum, 0LL, 100LL)));
    }
    case IppMapping::Speed:
      return ipp.printSpeed > 0 ? SpeedChoice(o, levels, ipp.printSpeed) : nullptr;
    case IppMapping::ContentOptimize:
      return o.FindChoice(ipp.photo ? "1" : "0");
    case IppMapping::MediaType:
      if (ipp.mediaType.empty()) return nullptr;
      if (const Choice *c = ChoiceOfKeyword(kPaperTypes, o, ipp.mediaType)) return c;
      error = "media-type \"" + ipp.mediaType + "\" is not supported by this printer";
      return nullptr;
    case IppMapping::MediaTracking:
      if (ipp.mediaTracking.empty()) return nullptr;
      if (ipp.mediaTracking == "gap") return o.FindChoice("Web");  // gaps between labels
      if (const Choice *c = ChoiceOfKeyword(kTracking, o, ipp.mediaTracking)) return c;
      error = "media-tracking \"" + ipp.mediaTracking + "\" is not supported by this printer";
      return nullptr;
    case IppMapping::LabelMode:
      if (ipp.labelMode.empty()) return nullptr;
      if (const Choice *c = ChoiceOfKeyword(kLabelModes, o, ipp.labelMode)) return c;
      error = "label-mode \"" + ipp.labelMode + "\" is not supported by this printer";
      return nullptr;
    case IppMapping::Vendor: {
      const std::string *value = VendorValue(ipp, o.ippName);
      if (value == nullptr) return nullptr;
      if (const Choice *c = o.FindChoiceByIppValue(*value)) return c;
      error = o.ippName + " \"" + *value + "\" is not supported by this printer";
      return nullptr;
    }
  }
  return nullptr;
}

}  // namespace

int DarknessPercent(const Option &darkness, const Choice &choice) {
  const std::size_t n = darkness.choices.size();
  if (n < 2) return 0;
  return static_cast<int>((IndexOf(darkness, choice) * 200 + (n - 1)) / (2 * (n - 1)));
}

const Choice *DarknessChoice(const Option &darkness, int percent) {
  const Choice *best = nullptr;
  long long bestDistance = 0;
  for (const Choice &c : darkness.choices) {
    const long long d = std::llabs(static_cast<long long>(DarknessPercent(darkness, c)) - percent);
    if (best == nullptr || d < bestDistance) best = &c, bestDistance = d;
  }
  return best;
}

int SpeedValue(const Choice &choice, bool levels) {
  const int n = std::atoi(choice.key.c_str());
  if (levels) return (n + 1) * kHundredthsMmPerInch;
  return choice.key == "Default" ? 0 : n * kHundredthsMmPerInch;
}

const Choice *SpeedChoice(const Option &speed, bool levels, int printSpeed) {
  const Choice *best = nullptr;
  long long bestDistance = 0;
  for (const Choice &c : speed.choices) {
    const int v = SpeedValue(c, levels);
    if (v == 0) continue;
    const long long d = std::llabs(static_cast<long long>(v) - printSpeed);
    if (best == nullptr || d < bestDistance) best = &c, bestDistance = d;
  }
  return best;
}

std::optional<std::string_view> MediaTypeKeyword(const Choice &paperType) {
  return KeywordOf(kPaperTypes, paperType.key);
}

std::optional<std::string_view> LabelModeKeyword(const Choice &mode) { return KeywordOf(kLabelModes, mode.key); }

std::optional<std::string_view> TrackingKeyword(const Choice &tracking) {
  return KeywordOf(kTracking, tracking.key);
}

FilterSettings MapSettings(const catalogue::Printer &printer, const IppSettings &ipp) {
  FilterSettings out;
  for (const Option &o : printer.options) {
    std::string error;
    const Choice *c = MapOne(printer, o, ipp, error);
    if (!error.empty()) {
      out.options.clear();
      out.error = error;
      return out;
    }
    out.options.emplace_back(o.keyword, c ? c->key : o.defaultChoice);
  }
  return out;
}

std::string FilterOptionArgument(const std::vector<OptionValue> &options) {
  std::string out;
  for (const OptionValue &o : options) {
    if (!out.empty()) out += ' ';
    out += o.first + "=" + o.second;
  }
  return out;
}

}  // namespace app
