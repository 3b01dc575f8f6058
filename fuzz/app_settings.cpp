// Fuzz target over the printer application's settings table: IPP job and
// printer settings, as any client may send them, mapped onto the filter's
// PPD options.
//
// Input layout: byte 0 picks the printer (modulo the catalogue's count),
// bytes 1-4 and 5-8 are printer-darkness-configured and print-darkness,
// bytes 9-12 print-speed (little endian, any value), byte 13 bit 0 photo; the
// rest is text lines: media-type, media-tracking, label-mode, then vendor
// attributes as "name=value" lines.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "app/settings.h"
#include "entries.h"

namespace {

int Int32At(const std::uint8_t *p) {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return static_cast<int>(v);
}

std::string_view NextLine(std::string_view &rest) {
  const std::size_t end = rest.find('\n');
  const std::string_view line = rest.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
  return line;
}

bool IsChoiceOf(const catalogue::Printer &printer, const app::OptionValue &value) {
  for (const catalogue::Option &option : printer.options) {
    if (option.keyword != value.first) continue;
    for (const catalogue::Choice &choice : option.choices)
      if (choice.key == value.second) return true;
  }
  return false;
}

}  // namespace

int FuzzAppSettings(const std::uint8_t *data, std::size_t size) {
  if (size < 14) return 0;
  const auto &printers = catalogue::Printers();
  const catalogue::Printer &printer = printers[data[0] % printers.size()];
  app::IppSettings ipp;
  ipp.darknessConfigured = Int32At(data + 1);
  ipp.printDarkness = Int32At(data + 5);
  ipp.printSpeed = Int32At(data + 9);
  ipp.photo = data[13] & 1;
  std::string_view rest(reinterpret_cast<const char *>(data + 14), size - 14);
  ipp.mediaType = NextLine(rest);
  ipp.mediaTracking = NextLine(rest);
  ipp.labelMode = NextLine(rest);
  while (!rest.empty()) {
    const std::string_view line = NextLine(rest);
    const std::size_t eq = line.find('=');
    ipp.vendor.emplace_back(std::string(line.substr(0, eq)),
                            eq == std::string_view::npos ? std::string{} : std::string(line.substr(eq + 1)));
  }
  const app::FilterSettings settings = app::MapSettings(printer, ipp);
  // Settings that print give the filter only choices its PPD offers, once each.
  if (settings.error.empty()) {
    for (std::size_t i = 0; i < settings.options.size(); ++i) {
      if (!IsChoiceOf(printer, settings.options[i])) __builtin_trap();
      for (std::size_t j = 0; j < i; ++j)
        if (settings.options[j].first == settings.options[i].first) __builtin_trap();
    }
  }
  (void)app::FilterOptionArgument(settings.options);
  for (const catalogue::Option &option : printer.options) {
    if (option.mapping == catalogue::IppMapping::Darkness) {
      const catalogue::Choice *choice = app::DarknessChoice(option, ipp.printDarkness);
      if (choice != nullptr) (void)app::DarknessPercent(option, *choice);
    }
    if (option.mapping == catalogue::IppMapping::Speed) {
      for (const bool levels : {false, true}) {
        const catalogue::Choice *choice = app::SpeedChoice(option, levels, ipp.printSpeed);
        if (choice != nullptr) (void)app::SpeedValue(*choice, levels);
      }
    }
  }
  return 0;
}
