// The "serial" device scheme of PAPPL: each open device holds one
// SerialPort. PAPPL calls these from its print threads; every call works on
// its own device's port only, so they need no locking.
#include <mutex>

#include "serial.h"

namespace dwserial {
namespace {

SerialPort *PortOf(pappl_device_t *device) {
  return static_cast<SerialPort *>(papplDeviceGetData(device));
}

bool ListDevices(pappl_device_cb_t cb, void *data, pappl_deverror_cb_t, void *) {
  return ReportSerialPorts(cb, data, "/dev", "/sys");
}

bool OpenDevice(pappl_device_t *device, const char *uri, const char *) {
  const SerialUriResult parsed = ParseSerialUri(uri ? uri : "");
  if (!parsed.settings) {
    papplDeviceError(device, "Bad serial device URI: %s", parsed.error.c_str());
    return false;
  }
  std::string error;
  std::unique_ptr<SerialPort> port = SerialPort::Open(*parsed.settings, error);
  if (!port) {
    papplDeviceError(device, "%s", error.c_str());
    return false;
  }
  papplDeviceSetData(device, port.release());
  return true;
}

void CloseDevice(pappl_device_t *device) {
  std::unique_ptr<SerialPort> port(PortOf(device));
  papplDeviceSetData(device, nullptr);
  if (!port) return;
  std::string error;
  if (!port->Drain(error)) papplDeviceError(device, "%s", error.c_str());
}

ssize_t ReadDevice(pappl_device_t *device, void *buffer, size_t bytes) {
  SerialPort *port = PortOf(device);
  if (!port) return -1;
  std::string error;
  const ssize_t got = port->Read(buffer, bytes, kDeviceReadTimeout, error);
  if (got < 0) papplDeviceError(device, "%s", error.c_str());
  return got;
}

ssize_t WriteDevice(pappl_device_t *device, const void *buffer, size_t bytes) {
  SerialPort *port = PortOf(device);
  if (!port) return -1;
  std::string error;
  if (!port->WriteAll(buffer, bytes, error)) {
    papplDeviceError(device, "%s", error.c_str());
    // The port is let go at once, its lock with it, so that the job can
    // open it again when the printer is back.
    delete port;
    papplDeviceSetData(device, nullptr);
    return -1;
  }
  return static_cast<ssize_t>(bytes);
}

// A serial line tells nothing of paper or covers; only whether the device
// is still there.
pappl_preason_t DeviceStatus(pappl_device_t *device) {
  const SerialPort *port = PortOf(device);
  return port && port->Present() ? PAPPL_PREASON_NONE : PAPPL_PREASON_OFFLINE;
}

}  // namespace

bool ReportSerialPorts(pappl_device_cb_t cb, void *data, const std::string &devRoot,
                       const std::string &sysRoot) {
  for (const SerialPortInfo &port : ListSerialPorts(devRoot, sysRoot)) {
    // A serial printer has no IEEE 1284 device ID to offer.
    if (cb(port.description.c_str(), port.uri.c_str(), "", data)) return true;
  }
  return false;
}

}  // namespace dwserial

void dwRegisterSerialScheme(void) {
  static std::once_flag registered;
  std::call_once(registered, [] {
    papplDeviceAddScheme("serial", PAPPL_DEVTYPE_CUSTOM_LOCAL, dwserial::ListDevices,
                         dwserial::OpenDevice, dwserial::CloseDevice, dwserial::ReadDevice,
                         dwserial::WriteDevice, dwserial::DeviceStatus, nullptr);
  });
}
