#pragma once
// The USB device registry as the printer lookup needs it, and no more: list
// the attached USB devices of a device class, and read each device's serial
// number string, vendor id and product id. The lookup builds a query, starts
// an enumeration, takes the devices one by one in a stable order, and reads
// the three values of each. Nothing is held open between calls; the values
// are read from the system again at every enumeration.
//
// The Linux implementation reads the kernel's device list in sysfs
// (<root>/bus/usb/devices/*, files "serial", "idVendor", "idProduct").
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace usb {

// A prepared listing of the USB devices of one class.
struct DeviceQuery {
  std::string devicesDir;  // directory whose entries are the attached devices
};

// One attached device, as long as its enumeration lives.
struct Device {
  std::string path;  // the device's directory
};

// The devices of one enumeration, visited in sorted order of their names.
struct DeviceIterator {
  std::vector<Device> devices;
  std::size_t next = 0;
};

// Builds the query for the devices of `deviceClass` ("IOUSBDevice" or
// "IOUSBHostDevice": both name the whole USB devices, not their interfaces).
// Returns none when the listing cannot be prepared: an unknown class, or no
// device list on this system at all (sysfs not mounted).
std::optional<DeviceQuery> MakeDeviceQuery(const char *deviceClass);

// Lists the devices of the query into `it`. Returns 0, or the system's error
// number when the list cannot be read. A system without a USB bus has no
// device list; that is an empty registry, not an error.
int StartEnumeration(const DeviceQuery &query, DeviceIterator &it);

// The next device, or null when all were visited.
const Device *NextDevice(DeviceIterator &it);

// The device's serial number string (the trailing newline of the sysfs line
// removed), or none when the device has no serial or it is not text.
std::optional<std::string> SerialNumber(const Device &device);

// The device's vendor and product ids, or none when absent or not a 16-bit
// hexadecimal number.
std::optional<std::uint16_t> VendorId(const Device &device);
std::optional<std::uint16_t> ProductId(const Device &device);

// Where sysfs is mounted: "/sys" unless tests or a debugging tool point the
// registry at a prepared directory tree.
void SetSysfsRoot(const std::string &root);
const std::string &SysfsRoot();

}  // namespace usb
