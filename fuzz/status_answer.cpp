// Fuzz target over the status answers a printer sends back: whatever the
// bytes, the parser ends with a defined result, and a complete answer gives
// reasons that are all printer-state-reasons keywords.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/status/status.h"
#include "entries.h"

int FuzzStatusAnswer(const std::uint8_t *data, std::size_t size) {
  if (size < 1) return 0;
  const status::Family family = data[0] & 1 ? status::Family::Dymo : status::Family::Zpl;
  const std::string_view answer(reinterpret_cast<const char *>(data + 1), size - 1);
  const status::Parsed parsed = status::ParseAnswer(family, answer);
  if (parsed.result != status::Parse::Complete) return 0;
  for (const std::string &k : status::ReasonsOf(parsed.status).keywords)
    if (k != "media-empty" && k != "cover-open" && k != "marker-supply-empty" && k != "paused" && k != "other")
      __builtin_trap();
  if (parsed.status.labelLengthDots && *parsed.status.labelLengthDots <= 0) __builtin_trap();
  (void)status::ReadinessOf(parsed.status);
  (void)status::LabelLengthText(parsed.status.labelLengthDots.value_or(0), 203);
  return 0;
}
