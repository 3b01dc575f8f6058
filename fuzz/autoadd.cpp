// Fuzz target over the plug-and-play matching: the first four bytes are a
// USB vendor and product id (most significant byte first), the rest is both
// a device ID and a device URI. Every driver named must be one of the
// catalogue's.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/autoadd/autoadd.h"
#include "catalogue/catalogue.h"
#include "entries.h"

namespace {

void CheckDriver(const char *driver) {
  if (driver != nullptr && catalogue::FindPrinter(driver) == nullptr) __builtin_trap();
}

}  // namespace

int FuzzAutoAdd(const std::uint8_t *data, std::size_t size) {
  if (size < 4) return 0;
  const autoadd::UsbIds ids{static_cast<std::uint16_t>(data[0] << 8 | data[1]),
                            static_cast<std::uint16_t>(data[2] << 8 | data[3])};
  const std::string_view text(reinterpret_cast<const char *>(data + 4), size - 4);
  (void)autoadd::ParseDeviceId(text);
  CheckDriver(autoadd::DriverForUsbIds(ids));
  CheckDriver(autoadd::DriverForDeviceId(text));
  CheckDriver(autoadd::MatchDriver(text, ids));
  for (const std::string &serial : autoadd::UsbSerialsOfUri(text))
    if (serial.empty() || serial.size() > 255) __builtin_trap();
  return 0;
}
