// The port listing on a made-up /dev and /sys: which nodes are ports, which
// built-in ports have a UART, the order, and the descriptions from sysfs.
#include <gtest/gtest.h>

#include "serial.h"
#include "serial_pty.h"

namespace {

using dwserial::ListSerialPorts;
using dwserial::SerialPortInfo;

constexpr const char *kUsbBus = "sys/devices/pci0000:00/0000:00:14.0/usb1";

// An FTDI adapter on ttyUSB0 (tty -> port -> interface -> device), a CDC
// printer on ttyACM0 (tty -> interface -> device), a bound Bluetooth port,
// two 8250 UARTs of which one is missing, and nodes that are no ports.
void MakeMachine(const serialtest::TempTree &tree, const std::string &ptySlave) {
  for (const char *name : {"ttyUSB0", "ttyUSB10", "ttyUSB2", "ttyACM0", "rfcomm0", "ttyS0",
                           "ttyS1", "ttyS2", "tty0", "ttyUSB", "ttyUSBx", "ttySAC0", "console",
                           "null", "rfcomm"}) {
    tree.File(std::string("dev/") + name);
  }
  tree.Link("dev/ttyS3", ptySlave);  // no sysfs entry: asked through the node

  const std::string bus = kUsbBus;
  tree.File(bus + "/1-2/manufacturer", "FTDI\n");
  tree.File(bus + "/1-2/product", "FT232R USB UART\n");
  tree.Dir(bus + "/1-2/1-2:1.0/ttyUSB0");
  tree.Link("sys/class/tty/ttyUSB0/device", "../../../devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB0");

  tree.File(bus + "/1-3/manufacturer", "Maker\n");
  tree.File(bus + "/1-3/product", "Maker KV412 A\n");
  tree.Dir(bus + "/1-3/1-3:1.0");
  tree.Link("sys/class/tty/ttyACM0/device", "../../../devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0");

  // No maker string, and a product string with a control byte in it.
  tree.File(bus + "/1-4/product", "USB-Serial\tController D\n");
  tree.Dir(bus + "/1-4/1-4:1.0/ttyUSB10");
  tree.Link("sys/class/tty/ttyUSB10/device", "../../../devices/pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.0/ttyUSB10");

  tree.File("sys/class/tty/rfcomm0/address", "00:11:22:33:44:55\n");
  tree.File("sys/class/tty/rfcomm0/channel", "1\n");

  tree.File("sys/class/tty/ttyS0/type", "4\n");  // 16550A
  tree.File("sys/class/tty/ttyS1/type", "0\n");  // PORT_UNKNOWN: no UART
}

TEST(SerialPortList, ListsThePortsThatExistInOrderWithTheirNames) {
  serialtest::TempTree tree;
  serialtest::Pty pty;
  MakeMachine(tree, pty.slave());
  const std::string dev = (tree.root() / "dev").string();
  const std::vector<SerialPortInfo> ports = ListSerialPorts(dev, (tree.root() / "sys").string());

  const std::vector<std::pair<std::string, std::string>> expected = {
      {"ttyUSB0", "FTDI FT232R USB UART (ttyUSB0)"},
      {"ttyUSB2", "USB serial adapter (ttyUSB2)"},
      {"ttyUSB10", "USB-Serial Controller D (ttyUSB10)"},
      {"ttyACM0", "Maker KV412 A (ttyACM0)"},
      {"rfcomm0", "Bluetooth serial port 00:11:22:33:44:55 channel 1 (rfcomm0)"},
      {"ttyS0", "Built-in serial port (ttyS0)"},
      {"ttyS3", "Built-in serial port (ttyS3)"},
  };
  ASSERT_EQ(ports.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].first);
    EXPECT_EQ(ports[i].uri, "serial:" + dev + "/" + expected[i].first + "?baud=115200");
    EXPECT_EQ(ports[i].description, expected[i].second);
  }
}

TEST(SerialPortList, WorksWithoutSysfsAndWithoutDev) {
  serialtest::TempTree tree;
  for (const char *name : {"ttyACM1", "rfcomm3", "ttyS0"}) tree.File(std::string("dev/") + name);
  const std::string dev = (tree.root() / "dev").string();
  const std::vector<SerialPortInfo> ports = ListSerialPorts(dev, (tree.root() / "nosys").string());
  // ttyS0 is a plain file here: it does not open as a terminal.
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0].uri, "serial:" + dev + "/ttyACM1?baud=115200");
  EXPECT_EQ(ports[0].description, "USB serial device (ttyACM1)");
  EXPECT_EQ(ports[1].uri, "serial:" + dev + "/rfcomm3?baud=115200");
  EXPECT_EQ(ports[1].description, "Bluetooth serial port (rfcomm3)");

  EXPECT_TRUE(ListSerialPorts((tree.root() / "nodev").string(), "/sys").empty());
}

TEST(SerialPortList, LongSysfsStringsAreCut) {
  serialtest::TempTree tree;
  tree.File("dev/ttyUSB0");
  tree.File("sys/devices/usb1/1-1/product", std::string(300, 'P') + "\n");
  tree.Dir("sys/devices/usb1/1-1/1-1:1.0/ttyUSB0");
  tree.Link("sys/class/tty/ttyUSB0/device", "../../../devices/usb1/1-1/1-1:1.0/ttyUSB0");
  const auto ports = ListSerialPorts((tree.root() / "dev").string(), (tree.root() / "sys").string());
  ASSERT_EQ(ports.size(), 1u);
  EXPECT_EQ(ports[0].description, std::string(80, 'P') + " (ttyUSB0)");
}

}  // namespace
