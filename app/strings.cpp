// The web interface in the printer's words: PAPPL's localization strings for
// every vendor setting of the catalogue (its label and the name of each
// choice), so that the printer's pages say "Gray threshold: Darker" and not
// "gray-threshold: 20".
#include <map>
#include <string>

#include "app/app.h"

namespace app {
namespace {

// Labels in the words users know these settings by; other vendor settings
// take the catalogue's own text.
const std::map<std::string, std::string> &Labels() {
  static const std::map<std::string, std::string> labels = {
      {"gray-threshold", "Gray threshold"},
      {"page-rotation", "Rotation"},
      {"error-reprint", "Error reprint"},
      {"thermal-media-type", "Thermal media type"},
      {"cut-media", "Cut media"},
      {"horizontal-adjust", "Horizontal offset"},
      {"vertical-adjust", "Vertical offset"},
      {"unidirectional-print", "Print direction"},
      {"print-start-position", "Print start position"},
      {"cut-paper-position", "Tear-off position"},
      {"fixed-page-height", "Fixed page length"},
  };
  return labels;
}

// A .strings line: "key" = "value"; with quotes and backslashes escaped.
std::string Quoted(const std::string &s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace

std::string VendorStrings() {
  std::map<std::string, std::string> strings;
  for (const catalogue::Printer &p : catalogue::Printers())
    for (const catalogue::Option &o : p.options) {
      if (o.mapping != catalogue::IppMapping::Vendor) continue;
      const auto label = Labels().find(o.ippName);
      strings.emplace(o.ippName, label != Labels().end() ? label->second : o.text);
      for (const catalogue::Choice &c : o.choices) strings.emplace(o.ippName + "." + o.IppValue(c), c.text);
    }
  std::string data;
  for (const auto &[key, value] : strings) data += Quoted(key) + " = " + Quoted(value) + ";\n";
  return data;
}

void AddStrings(pappl_system_t *system) {
  static const std::string data = VendorStrings();
  papplSystemAddStringsData(system, "/en.strings", "en", data.c_str());
}

}  // namespace app
