// Fuzz target over the serial: device URI parser. The whole input is the
// URI. (The check at add time also opens the device the URI names, which a
// fuzzer must not do.)
#include <string>
#include <string_view>

#include "entries.h"
#include "serial.h"

int FuzzSerialUri(const std::uint8_t *data, std::size_t size) {
  const std::string uri(reinterpret_cast<const char *>(data), size);
  const dwserial::SerialUriResult result = dwserial::ParseSerialUri(uri);
  // Exactly one of the settings and the reason.
  if (result.settings.has_value() == !result.error.empty()) __builtin_trap();
  if (result.settings) {
    const dwserial::SerialSettings &s = *result.settings;
    if (s.path.empty() || !dwserial::TermiosSpeed(s.baud)) __builtin_trap();
    if ((s.dataBits != 7 && s.dataBits != 8) || (s.stopBits != 1 && s.stopBits != 2)) __builtin_trap();
    // The URI made from the settings parses back to the same path and speed.
    const dwserial::SerialUriResult again = dwserial::ParseSerialUri(dwserial::MakeSerialUri(s.path, s.baud));
    if (!again.settings || again.settings->path != s.path || again.settings->baud != s.baud) __builtin_trap();
  }
  return 0;
}
