// The USB device registry over a prepared sysfs tree, the serial taken from
// the device URI, the search of the registry by serial, and the whole lookup
// from DEVICE_URI and PRINTER.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "dotweave/filter.h"
#include "oem/oem.h"
#include "oem/usb/usb_registry.h"
#include "support/harness.h"

using namespace dwtest;
namespace fs = std::filesystem;

namespace {

// A sysfs tree laid out as the kernel does: device directories under
// devices/, and links to them in bus/usb/devices. The registry reads it
// instead of /sys while the object lives.
class FakeSysfs {
 public:
  FakeSysfs() {
    fs::create_directories(Root() / "bus/usb/devices");
    usb::SetSysfsRoot(Root().string());
  }
  ~FakeSysfs() { usb::SetSysfsRoot("/sys"); }
  FakeSysfs(const FakeSysfs &) = delete;
  FakeSysfs &operator=(const FakeSysfs &) = delete;

  fs::path Root() const { return fs::path(dir_.path()) / "sys"; }

  // Adds the entry `name` with attribute files holding exactly the given
  // bytes (sysfs values end in a newline).
  void Add(const std::string &name, const std::map<std::string, std::string> &attributes) {
    const fs::path device = Root() / "devices/pci0000:00/0000:00:14.0/usb1" / name;
    fs::create_directories(device);
    for (const auto &[file, value] : attributes) std::ofstream(device / file, std::ios::binary) << value;
    fs::create_symlink(device, Root() / "bus/usb/devices" / name);
  }

  // A USB device with serial and ids (hex text, as the kernel writes them).
  void AddDevice(const std::string &name, const std::string &serial, const std::string &vendor,
                 const std::string &product) {
    Add(name, {{"serial", serial + "\n"}, {"idVendor", vendor + "\n"}, {"idProduct", product + "\n"},
               {"busnum", "1\n"}});
  }

 private:
  TempDir dir_;
};

// Sets or unsets an environment variable for one test.
class ScopedEnv {
 public:
  ScopedEnv(const char *name, std::optional<std::string> value) : name_(name) {
    if (const char *old = std::getenv(name)) old_ = old;
    if (value) setenv(name, value->c_str(), 1);
    else unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_) setenv(name_.c_str(), old_->c_str(), 1);
    else unsetenv(name_.c_str());
  }
  ScopedEnv(const ScopedEnv &) = delete;
  ScopedEnv &operator=(const ScopedEnv &) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

std::vector<std::string> DeviceNames() {
  std::vector<std::string> names;
  const std::optional<usb::DeviceQuery> query = usb::MakeDeviceQuery("IOUSBDevice");
  if (!query) return {"<no query>"};
  usb::DeviceIterator it;
  if (usb::StartEnumeration(*query, it) != 0) return {"<enumeration failed>"};
  while (const usb::Device *d = usb::NextDevice(it)) names.push_back(fs::path(d->path).filename().string());
  return names;
}

// ---- The registry ------------------------------------------------------------

TEST(UsbRegistry, ListsDevicesInNameOrderWithoutInterfaces) {
  FakeSysfs sys;
  sys.AddDevice("1-3", "S3", "0781", "5567");
  sys.Add("1-2:1.0", {{"bInterfaceClass", "07\n"}});
  sys.AddDevice("usb1", "0000:00:14.0", "1d6b", "0002");
  sys.AddDevice("1-2", "S2", "4c4a", "9401");
  sys.AddDevice("1-10", "S10", "4c4a", "9402");
  sys.Add("1-1.4", {{"idVendor", "046d\n"}, {"idProduct", "c31c\n"}});
  std::ofstream(sys.Root() / "bus/usb/devices/.hidden") << "x";
  EXPECT_EQ(DeviceNames(), (std::vector<std::string>{"1-1.4", "1-10", "1-2", "1-3", "usb1"}));
}

TEST(UsbRegistry, ReadsSerialAndIdsFromTheSysfsLines) {
  FakeSysfs sys;
  sys.Add("1-1", {{"serial", "ABC123\n"}, {"idVendor", "4c4a\n"}, {"idProduct", "DF01\n"}});
  sys.Add("1-2", {{"serial", "  spaced \n"}, {"idVendor", "1a86"}, {"idProduct", "12345\n"}});
  sys.Add("1-3", {{"serial", std::string("AB\0CD\n", 6)}, {"idVendor", "4c4g\n"}, {"idProduct", "\n"}});
  sys.Add("1-4", {{"serial", "\n"}, {"idVendor", "0x4c\n"}});
  sys.Add("1-5", {});

  usb::DeviceIterator it;
  ASSERT_EQ(usb::StartEnumeration(*usb::MakeDeviceQuery("IOUSBDevice"), it), 0);
  ASSERT_EQ(it.devices.size(), 5u);
  const auto &d = it.devices;
  EXPECT_EQ(usb::SerialNumber(d[0]), "ABC123");
  EXPECT_EQ(usb::VendorId(d[0]), 0x4C4A);
  EXPECT_EQ(usb::ProductId(d[0]), 0xDF01);
  EXPECT_EQ(usb::SerialNumber(d[1]), "  spaced ");        // only the line's newline goes
  EXPECT_EQ(usb::VendorId(d[1]), 0x1A86);                // a missing newline is fine
  EXPECT_EQ(usb::ProductId(d[1]), std::nullopt);         // more than 16 bits
  EXPECT_EQ(usb::SerialNumber(d[2]), std::nullopt);      // a NUL inside: not text
  EXPECT_EQ(usb::VendorId(d[2]), std::nullopt);
  EXPECT_EQ(usb::ProductId(d[2]), std::nullopt);
  EXPECT_EQ(usb::SerialNumber(d[3]), "");                // empty, but present
  EXPECT_EQ(usb::VendorId(d[3]), std::nullopt);          // "0x" is not how sysfs writes ids
  EXPECT_EQ(usb::SerialNumber(d[4]), std::nullopt);
  EXPECT_EQ(usb::VendorId(d[4]), std::nullopt);
  EXPECT_EQ(usb::ProductId(d[4]), std::nullopt);
}

TEST(UsbRegistry, QueryAndListingFailures) {
  FakeSysfs sys;
  EXPECT_FALSE(usb::MakeDeviceQuery(nullptr));
  EXPECT_FALSE(usb::MakeDeviceQuery("IOUSBInterface"));
  EXPECT_TRUE(usb::MakeDeviceQuery("IOUSBDevice"));
  EXPECT_TRUE(usb::MakeDeviceQuery("IOUSBHostDevice"));

  // No USB bus (umockdev without devices looks like this): an empty list.
  fs::remove_all(sys.Root() / "bus/usb");
  EXPECT_EQ(DeviceNames(), std::vector<std::string>{});

  // A device list that is not a directory cannot be read.
  fs::create_directories(sys.Root() / "bus/usb");
  std::ofstream(sys.Root() / "bus/usb/devices") << "not a directory";
  usb::DeviceIterator it;
  EXPECT_EQ(usb::StartEnumeration(*usb::MakeDeviceQuery("IOUSBDevice"), it), ENOTDIR);

  // Without sysfs at all there is nothing to query.
  fs::remove_all(sys.Root() / "bus");
  EXPECT_FALSE(usb::MakeDeviceQuery("IOUSBDevice"));
}

// ---- Serial number from the URI -------------------------------------------------

TEST(ExtractSerialNumber, TakesTheTextAfterSerialUpToAmpersandOrLimit) {
  const std::string s300(300, 'S');
  struct Case {
    std::string uri;
    std::size_t size;
    int result;
    std::string serial;
  } cases[] = {
      {"usb://Maker/Model?serial=ABC123&interface=1", 256, 1, "ABC123"},
      {"usb://Maker/Model?serial=ABC123", 256, 1, "ABC123"},
      {"usb://Maker/Model?interface=1&serial=XY%20Z", 256, 1, "XY%20Z"},  // escapes kept
      {"usb://Maker/Model?serial=abc 1/2", 256, 1, "abc 1/2"},           // no trimming or folding
      {"usb://Maker/Model?serial=&interface=1", 256, 1, ""},
      {"serial:/dev/ttyUSB0?serial=Q1&serial=Q2", 256, 1, "Q1"},           // first occurrence
      {"socket://host/serial=P9", 256, 1, "P9"},                          // anywhere, any scheme
      {"usb://Maker/Model?serial=" + s300, 256, 1, std::string(255, 'S')},
      {"usb://Maker/Model?serial=" + std::string(255, 'S') + "&x=1", 256, 1, std::string(255, 'S')},
      {"usb://Maker/Model?serial=ABCDEFG&x", 5, 1, "ABCD"},
      {"usb://Maker/Model?serial=AB&CDEFG", 5, 1, "AB"},
      {"usb://Maker/Model?serial=ABC", 1, 1, ""},
      {"usb://Maker/Model?Serial=ABC", 256, 0, "unchanged"},
      {"usb://Maker/Model?serial-ABC", 256, 0, "unchanged"},
      {"usb://Maker/Model?serial=ABC", 0, 0, "unchanged"},               // no room even for the NUL
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.uri + " size " + std::to_string(c.size));
    std::string out = "unchanged";
    out.resize(std::max<std::size_t>(c.size, out.size() + 1), '\0');
    EXPECT_EQ(extract_serial_number(c.uri.c_str(), out.data(), c.size), c.result);
    EXPECT_EQ(std::string(out.c_str()), c.serial);
  }
}

TEST(ExtractSerialNumber, NullArgumentsFindNothing) {
  char out[8] = "keep";
  EXPECT_EQ(extract_serial_number(nullptr, out, sizeof out), 0);
  EXPECT_STREQ(out, "keep");
  EXPECT_EQ(extract_serial_number("usb://x?serial=1", nullptr, 8), 0);
}

// ---- Registry search by serial ---------------------------------------------------

struct Search {
  int result;
  std::uint16_t vendor;
  std::uint16_t product;
  std::string err;
};

Search SearchFor(const std::string &serial) {
  Search s{0, 0x1111, 0x2222, ""};
  ::testing::internal::CaptureStderr();
  s.result = get_usb_pid_by_serial(serial.c_str(), &s.vendor, &s.product);
  s.err = ::testing::internal::GetCapturedStderr();
  return s;
}

TEST(UsbSerialSearch, FindsTheDeviceWithThatSerial) {
  FakeSysfs sys;
  sys.AddDevice("usb1", "0000:00:14.0", "1d6b", "0002");
  sys.Add("1-1", {{"idVendor", "046d\n"}, {"idProduct", "c31c\n"}});  // keyboard, no serial
  sys.AddDevice("1-2", "ABC123", "4c4a", "9401");
  sys.AddDevice("1-3", "ABC1234", "0781", "5567");

  Search s = SearchFor("ABC123");
  EXPECT_EQ(s.result, 1);
  EXPECT_EQ(s.vendor, 0x4C4A);
  EXPECT_EQ(s.product, 0x9401);
  EXPECT_EQ(s.err, "");

  for (const char *miss : {"ABC12", "abc123", "ABC123 ", "", "0000:00:14.1"}) {
    s = SearchFor(miss);
    EXPECT_EQ(s.result, 0) << miss;
    EXPECT_EQ(s.vendor, 0x1111) << miss;  // outputs untouched
    EXPECT_EQ(s.product, 0x2222) << miss;
  }
}

TEST(UsbSerialSearch, OnlyTheFirstDeviceWithTheSerialCounts) {
  FakeSysfs sys;
  sys.AddDevice("1-2", "DUP", "4c4a", "9401");
  sys.AddDevice("1-10", "DUP", "0483", "5740");  // sorts before 1-2
  Search s = SearchFor("DUP");
  EXPECT_EQ(s.result, 1);
  EXPECT_EQ(s.vendor, 0x0483);
  EXPECT_EQ(s.product, 0x5740);

  // A first match without ids ends the search: the second is never read.
  sys.Add("1-1", {{"serial", "DUP\n"}, {"idVendor", "4c4a\n"}});
  s = SearchFor("DUP");
  EXPECT_EQ(s.result, 0);
  EXPECT_EQ(s.vendor, 0x1111);
  EXPECT_EQ(s.product, 0x2222);
}

TEST(UsbSerialSearch, SerialsLongerThan255BytesNeverMatch) {
  FakeSysfs sys;
  sys.AddDevice("1-3", std::string(300, 'B'), "4c4a", "9401");
  sys.AddDevice("1-4", std::string(255, 'C'), "4c4a", "9201");
  sys.AddDevice("1-5", std::string(256, 'D'), "4c4a", "9202");
  EXPECT_EQ(SearchFor(std::string(255, 'C')).product, 0x9201);
  EXPECT_EQ(SearchFor(std::string(300, 'B')).result, 0);
  EXPECT_EQ(SearchFor(std::string(255, 'B')).result, 0);
  EXPECT_EQ(SearchFor(std::string(256, 'D')).result, 0);
  EXPECT_EQ(SearchFor(std::string(255, 'D')).result, 0);
}

TEST(UsbSerialSearch, NullArgumentsSearchNothing) {
  std::uint16_t v = 7, p = 8;
  EXPECT_EQ(get_usb_pid_by_serial(nullptr, &v, &p), 0);
  EXPECT_EQ(get_usb_pid_by_serial("A", nullptr, &p), 0);
  EXPECT_EQ(get_usb_pid_by_serial("A", &v, nullptr), 0);
  EXPECT_EQ(v, 7);
  EXPECT_EQ(p, 8);
}

TEST(UsbSerialSearch, ListingFailuresAreReported) {
  FakeSysfs sys;
  // No USB bus: an empty registry, silently.
  fs::remove_all(sys.Root() / "bus/usb");
  Search s = SearchFor("ABC123");
  EXPECT_EQ(s.result, 0);
  EXPECT_EQ(s.err, "");

  // The device list cannot be read: the error number is reported.
  fs::create_directories(sys.Root() / "bus/usb");
  std::ofstream(sys.Root() / "bus/usb/devices") << "x";
  s = SearchFor("ABC123");
  EXPECT_EQ(s.result, 0);
  EXPECT_EQ(s.vendor, 0x1111);
  EXPECT_EQ(s.err, "IOServiceGetMatchingServices\xE8\xBF\x94\xE5\x9B\x9E\xE9\x94\x99\xE8\xAF\xAF: 20\n");

  // No sysfs: the listing cannot even be prepared.
  fs::remove_all(sys.Root() / "bus");
  s = SearchFor("ABC123");
  EXPECT_EQ(s.result, 0);
  EXPECT_EQ(s.err, "\xE6\x97\xA0\xE6\xB3\x95\xE5\x88\x9B\xE5\xBB\xBA\xE5\x8C\xB9\xE9\x85\x8D"
                   "\xE5\xAD\x97\xE5\x85\xB8\xE3\x80\x82\n");
  EXPECT_EQ(s.err.size(), 28u);
}

// ---- The whole lookup --------------------------------------------------------

class LookupTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetFilterState(); }
  void TearDown() override { ResetFilterState(); }

  // Runs the lookup with the given environment and returns its stderr.
  std::string Lookup(std::optional<std::string> uri, std::optional<std::string> printer) {
    ScopedEnv u("DEVICE_URI", std::move(uri));
    ScopedEnv p("PRINTER", std::move(printer));
    ::testing::internal::CaptureStderr();
    GetPrinterName();
    return ::testing::internal::GetCapturedStderr();
  }

  FakeSysfs sys_;
};

#ifdef DOTWEAVE_USB_SERIAL_ONLY
constexpr bool kTextMatching = false;
#else
constexpr bool kTextMatching = true;
#endif

TEST_F(LookupTest, UsbUriIsIdentifiedBySerialVendorAndProduct) {
  sys_.AddDevice("usb1", "0000:00:14.0", "1d6b", "0002");
  sys_.AddDevice("1-2", "ABC123", "4c4a", "9401");
  sys_.AddDevice("1-3", "BRIDGE1", "1a86", "df01");
  sys_.AddDevice("1-4", "OTHER1", "0483", "9401");
  sys_.AddDevice("1-5", "UNKNOWN1", "4c4a", "beef");
  struct Case {
    const char *uri;
    int identified;
    std::int32_t headWidth;
  } cases[] = {
      {"usb://Maker/Model?serial=ABC123&interface=1", 1, 832},
      {"usb://Maker/Model?serial=BRIDGE1", 1, 1440},
      {"usb://Maker/Model?serial=OTHER1", 0, 0},     // another maker's vendor id
      {"usb://Maker/Model?serial=UNKNOWN1", 0, 0},   // product id not a known model
      {"usb://Maker/Model?serial=NOSUCH", 0, 0},
      {"usb://Maker/KV412%20A", 0, 0},               // USB: no serial, no name matching
      {"usb://Maker/Model?serial=abc123", 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.uri);
    ResetFilterState();
    EXPECT_EQ(Lookup(c.uri, "Office"), "");
    EXPECT_EQ(PrintPa.Identified, c.identified);
    EXPECT_EQ(PrintPa.HeadWidth, c.headWidth);
  }
}

TEST_F(LookupTest, EveryRowIsReachableByProductId) {
  const std::uint32_t productIds[27] = {0x9401, 0x9402, 0x9403, 0x5541, 0x9411, 0x9412, 0x9422,
                                        0x9421, 0x9301, 0x9302, 0x9311, 0x9312, 0x9313, 0x9201,
                                        0x9202, 0x9211, 0x9212, 0xDF01, 0xDF02, 0xDF03, 0x900D,
                                        0xDF04, 0xDF05, 0xDF06, 0xDF07, 0xDF11, 0xDF12};
  const std::int32_t heads[27] = {832, 832, 832, 832, 832, 832, 832, 832, 640, 640, 640, 576, 576, 384,
                                  384, 384, 384, 1440, 1440, 1440, 1440, 1440, 1440, 1440, 1440, 1440, 1440};
  const std::uint8_t right[27] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0,
                                  0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  for (std::size_t i = 0; i < 27; ++i) {
    char name[16], serial[16], product[8];
    std::snprintf(name, sizeof name, "2-%zu", i + 1);
    std::snprintf(serial, sizeof serial, "SN%02zu", i);
    std::snprintf(product, sizeof product, "%04x", productIds[i]);
    sys_.AddDevice(name, serial, i % 2 ? "1a86" : "4c4a", product);
  }
  for (std::size_t i = 0; i < 27; ++i) {
    SCOPED_TRACE(i);
    ResetFilterState();
    char uri[64];
    std::snprintf(uri, sizeof uri, "usb://Maker/Printer?serial=SN%02zu", i);
    Lookup(uri, "Q");
    EXPECT_EQ(PrintPa.Identified, 1);
    EXPECT_EQ(PrintPa.HeadWidth, heads[i]);
    EXPECT_EQ(PrintPa.RightAlign, right[i]);
    EXPECT_EQ(PrintPa.IsNeedle, heads[i] == 1440 ? 1 : 0);
  }
}

TEST_F(LookupTest, SerialConnectionsUseTheUriThenTheQueueName) {
  sys_.AddDevice("1-2", "ABC123", "4c4a", "9401");
  struct Case {
    const char *uri;
    std::optional<std::string> printer;
    int identifiedWithText;  // full lookup
    int identifiedSerialOnly;
    std::int32_t headWidth;  // when identified
  } cases[] = {
      {"serial:/dev/cu.kv412-a", "Office", 1, 0, 832},
      {"serial:/dev/ttyUSB0?baud=115200", "KV412_A", 1, 0, 832},
      {"serial:/dev/ttyUSB0?baud=115200", "Warehouse KV418 AK", 1, 0, 384},
      {"btserial://00:11:22:33:44:55", "MB739-A", 1, 0, 1440},
      {"btfilequeue:/tmp/q", "LC586_AKM", 1, 0, 1440},
      {"/dev/tty.WX2222-SerialPort", "Office", 1, 0, 1440},
      {"/dev/cu.usbserial", "KV414 A", 1, 0, 640},
      {"serial:/dev/ttyUSB0?serial=ABC123", "Office", 1, 1, 832},  // falls through to USB
      {"serial:/dev/ttyUSB0", "Office", 0, 0, 0},
      {"serial:/dev/ttyUSB0", std::nullopt, 0, 0, 0},
      {"SERIAL:/dev/ttyUSB0", "KV412_A", 0, 0, 0},  // prefixes are case-sensitive
      {"socket://10.0.0.5:9100", "KV412_A", 0, 0, 0},
      {"file:///tmp/out", "KV412_A", 0, 0, 0},
      {"ipp://host/printers/KV412_A?serial=NOSUCH", "KV412_A", 0, 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.uri) + " on " + c.printer.value_or("<unset>"));
    ResetFilterState();
    const std::string err = Lookup(c.uri, c.printer);
    const int expected = kTextMatching ? c.identifiedWithText : c.identifiedSerialOnly;
    EXPECT_EQ(PrintPa.Identified, expected);
    EXPECT_EQ(PrintPa.HeadWidth, expected ? c.headWidth : 0);
    EXPECT_EQ(err, c.printer ? "" : "MAC:Debug-Printer_name not set.\n");
  }
}

TEST_F(LookupTest, UnsetPrinterIsNotedAndTheUsbLookupGoesOn) {
  sys_.AddDevice("1-2", "ABC123", "4c4a", "9401");
  EXPECT_EQ(Lookup("usb://Maker/Model?serial=ABC123", std::nullopt), "MAC:Debug-Printer_name not set.\n");
  EXPECT_EQ(PrintPa.Identified, 1);
  EXPECT_EQ(PrintPa.HeadWidth, 832);
}

TEST_F(LookupTest, UnsetUriIdentifiesNothing) {
  sys_.AddDevice("1-2", "ABC123", "4c4a", "9401");
  EXPECT_EQ(Lookup(std::nullopt, "KV412_A"), "");
  EXPECT_EQ(PrintPa.Identified, 0);
}

TEST_F(LookupTest, SerialOf300BytesIsSearchedAsItsFirst255) {
  sys_.AddDevice("1-3", std::string(300, 'B'), "4c4a", "9401");
  sys_.AddDevice("1-4", std::string(255, 'B'), "4c4a", "9201");
  Lookup("usb://Maker/Model?serial=" + std::string(300, 'B'), "Q");
  EXPECT_EQ(PrintPa.Identified, 1);
  EXPECT_EQ(PrintPa.HeadWidth, 384);
}

TEST_F(LookupTest, PercentEscapesAreComparedUndecoded) {
  sys_.AddDevice("1-2", "AB%20C1", "4c4a", "9401");
  sys_.AddDevice("1-3", "AB C2", "4c4a", "9402");
  Lookup("usb://Maker/Model?serial=AB%20C1", "Q");
  EXPECT_EQ(PrintPa.Identified, 1);
  ResetFilterState();
  Lookup("usb://Maker/Model?serial=AB%20C2", "Q");
  EXPECT_EQ(PrintPa.Identified, 0);
}

TEST_F(LookupTest, FailedListingIsReportedAndIdentifiesNothing) {
  fs::remove_all(sys_.Root() / "bus/usb/devices");
  std::ofstream(sys_.Root() / "bus/usb/devices") << "x";
  // The walk that precedes the search of a usb:// URI reports nothing.
  EXPECT_EQ(Lookup("usb://Maker/Model?serial=ABC123", "Q"),
            "IOServiceGetMatchingServices\xE8\xBF\x94\xE5\x9B\x9E\xE9\x94\x99\xE8\xAF\xAF: 20\n");
  EXPECT_EQ(PrintPa.Identified, 0);
  // Without "serial=" the registry is not searched at all.
  EXPECT_EQ(Lookup("usb://Maker/Model", "Q"), "");
}

TEST_F(LookupTest, AFailedLookupKeepsTheLastModelFields) {
  sys_.AddDevice("1-2", "NEEDLE", "4c4a", "df01");
  Lookup("usb://Maker/Model?serial=NEEDLE", "Q");
  ASSERT_EQ(PrintPa.Identified, 1);
  PrintPa.Identified = 0;  // the next page start
  Lookup("usb://Maker/Model?serial=GONE", "Q");
  EXPECT_EQ(PrintPa.Identified, 0);
  EXPECT_EQ(PrintPa.IsNeedle, 1);
  EXPECT_EQ(PrintPa.HeadWidth, 1440);
}

TEST(UnidentifiedPageReport, WritesOneWarningLineWithThePageNumber) {
  ResetFilterState();
  Page = 3;
  ::testing::internal::CaptureStderr();
  ReportUnidentifiedPage();
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "WARNING: Unable to identify the printer model; page 3 was not printed.\n");
  ResetFilterState();
}

}  // namespace
