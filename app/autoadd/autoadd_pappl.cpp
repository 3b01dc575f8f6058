// Plug-and-play on PAPPL's side (see autoadd_pappl.h). PAPPL's own
// "drivers" sub-command lists the drivers in their fixed order and knows no
// device; given one, ListDriversForDevice lists the driver the auto-add
// matching picks first, then the others, in PAPPL's line format (name
// "description" "device ID"). The device ID comes from "-o device-id=..." or
// from PAPPL's listing of the local devices.
#include "app/autoadd/autoadd_pappl.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "app/app.h"
#include "app/autoadd/autoadd.h"

namespace app {
namespace {

struct DeviceQuery {
  std::string uri;
  std::string deviceId;
};

bool TakeDeviceId(const char *, const char *uri, const char *device_id, void *data) {
  auto *query = static_cast<DeviceQuery *>(data);
  if (uri == nullptr || query->uri != uri) return false;
  query->deviceId = device_id ? device_id : "";
  return true;  // stop listing
}

void PrintDriver(const pappl_pr_driver_t &d) {
  std::printf("%s \"%s\" \"%s\"\n", d.name, d.description ? d.description : "", d.device_id ? d.device_id : "");
}

// The device ID PAPPL's listing gives for the device at `uri`, or "".
std::string ListedDeviceId(const char *uri, pappl_devtype_t types) {
  DeviceQuery query;
  query.uri = uri ? uri : "";
  if (!query.uri.empty()) papplDeviceList(types, TakeDeviceId, &query, nullptr, nullptr);
  return query.deviceId;
}

}  // namespace

const char *AutoAddDriver(const char *device_info, const char *device_uri, const char *device_id, void *data) {
  if ((device_id == nullptr || *device_id == '\0') && device_uri && std::strncmp(device_uri, "usb://", 6) == 0) {
    const std::string listed = ListedDeviceId(device_uri, PAPPL_DEVTYPE_USB);
    return autoadd::AutoAddCallback(device_info, device_uri, listed.c_str(), data);
  }
  return autoadd::AutoAddCallback(device_info, device_uri, device_id, data);
}

int ListDriversForDevice(int argc, char *argv[]) {
  if (argc < 2 || std::strcmp(argv[1], "drivers") != 0) return -1;
  const char *uri = nullptr;
  const char *deviceId = nullptr;
  for (int i = 2; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "-v") == 0) uri = argv[++i];
    else if (std::strcmp(argv[i], "-o") == 0 && std::strncmp(argv[i + 1], "device-id=", 10) == 0)
      deviceId = argv[++i] + 10;
  }
  if (uri == nullptr && deviceId == nullptr) return -1;

  std::string listed;
  if (deviceId == nullptr) {
    RegisterSerialScheme();
    listed = ListedDeviceId(uri, PAPPL_DEVTYPE_LOCAL);
    deviceId = listed.c_str();
  }
  const char *matched = autoadd::MatchDriver(deviceId, uri ? autoadd::UsbIdsOfUri(uri) : std::nullopt);
  if (matched == nullptr)
    std::fprintf(stderr, "%s: no driver matches %s; pick one with \"add -m DRIVER\".\n", argv[0],
                 uri ? uri : deviceId);

  const pappl_pr_driver_t *drivers = Drivers();
  for (int i = 0; i < DriverCount(); ++i)
    if (matched && std::strcmp(drivers[i].name, matched) == 0) PrintDriver(drivers[i]);
  for (int i = 0; i < DriverCount(); ++i)
    if (!matched || std::strcmp(drivers[i].name, matched) != 0) PrintDriver(drivers[i]);
  return 0;
}

}  // namespace app
