#pragma once
// The IPP job and printer settings of the printer application mapped onto the
// PPD options the dotweave filter reads. Standard attributes go where one
// fits (print-darkness, print-speed, print-content-optimize, media-type,
// media-tracking, label-mode-configured); every other option of a printer is
// a vendor attribute of its own. Pure functions over the catalogue, so that
// the table can be tested and fuzzed without a server.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "catalogue/catalogue.h"

namespace app {

using OptionValue = std::pair<std::string, std::string>;  // {name, value}

// What PAPPL knows of a job's settings, in IPP terms.
struct IppSettings {
  int darknessConfigured = -1;  // printer-darkness-configured 0..100; -1: the driver's default
  int printDarkness = 0;        // print-darkness -100..100, relative to the configured one
  int printSpeed = 0;           // print-speed in hundredths of mm per second; 0: default
  bool photo = false;           // print-content-optimize is photo
  std::string mediaType;        // media-type keyword, "" for none
  std::string mediaTracking;    // "continuous", "gap", "web", "mark" or ""
  std::string labelMode;        // label-mode-configured keyword or ""
  std::vector<OptionValue> vendor;  // vendor attributes: job values, then printer defaults
};

struct FilterSettings {
  std::vector<OptionValue> options;  // PPD keyword = choice, in catalogue order
  std::string error;                 // why the settings cannot be printed, "" when fine
};

FilterSettings MapSettings(const catalogue::Printer &printer, const IppSettings &ipp);

// "Darkness=50 zePrintRate=4": the filter's option argument.
std::string FilterOptionArgument(const std::vector<OptionValue> &options);

// The darkness levels an option offers, as IPP percentages: choice i of n is
// 100 * i / (n - 1). A percentage picks the nearest level.
int DarknessPercent(const catalogue::Option &darkness, const catalogue::Choice &choice);
const catalogue::Choice *DarknessChoice(const catalogue::Option &darkness, int percent);

// print-speed of a speed choice in hundredths of mm per second: the label
// languages' rates are inches per second (2540 each); the OEM levels 0, 1, ...
// count as 1, 2, ... inches per second. 0 for the printer's own setting.
int SpeedValue(const catalogue::Choice &choice, bool levels);
const catalogue::Choice *SpeedChoice(const catalogue::Option &speed, bool levels, int printSpeed);

// media-type keywords of the OEM paper types.
std::optional<std::string_view> MediaTypeKeyword(const catalogue::Choice &paperType);

// label-mode keywords of the print mode choices ("Tear" -> "tear-off").
std::optional<std::string_view> LabelModeKeyword(const catalogue::Choice &mode);

// media-tracking keyword of a tracking choice ("Web" -> "web").
std::optional<std::string_view> TrackingKeyword(const catalogue::Choice &tracking);

}  // namespace app
