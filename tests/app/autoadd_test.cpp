// Plug-and-play driver matching: USB ids, IEEE 1284 device IDs and usb:
// device URIs as tables of data, then the auto-add callback against USB
// devices that umockdev fakes (the probe program runs under umockdev-run).
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "app/autoadd/autoadd.h"
#include "support/harness.h"

namespace {

using autoadd::UsbIds;

#ifdef DOTWEAVE_USB_SERIAL_ONLY
constexpr bool kModelNames = false;
#else
constexpr bool kModelNames = true;
#endif

std::string Name(const char *driver) { return driver ? driver : "(none)"; }

// Every model of the maker's table by its product id, under its own vendor id.
TEST(AutoAddUsbIds, EveryModelGetsItsOwnDriver) {
  const std::vector<std::pair<std::uint16_t, std::string>> models = {
      {0x9401, "kv412-a"},  {0x9402, "kv416-a"},  {0x9403, "rqn253-a"}, {0x5541, "kv412max"},
      {0x9411, "kv412-ak"}, {0x9412, "kv416-ak"}, {0x9422, "kv416-ck"}, {0x9421, "kv412-ck"},
      {0x9301, "kv414-a"},  {0x9302, "rqn739-a"}, {0x9311, "kv414-ak"}, {0x9312, "kv158-ak"},
      {0x9313, "kv961-ak"}, {0x9201, "kv418-a"},  {0x9202, "kv419-a"},  {0x9211, "kv418-ak"},
      {0x9212, "kv419-ak"}, {0xDF01, "mb739-a"},  {0xDF02, "lc586-a"},  {0xDF03, "wx3333-a"},
      {0x900D, "wx2222"},   {0xDF04, "mb504-a"},  {0xDF05, "mb504e-a"}, {0xDF06, "fe827-a"},
      {0xDF07, "fh827-a"},  {0xDF11, "lc586-ak"}, {0xDF12, "lc586-akm"}};
  for (const auto &[product, driver] : models)
    EXPECT_EQ(Name(autoadd::DriverForUsbIds({0x4C4A, product})), driver) << std::hex << product;
}

TEST(AutoAddUsbIds, VendorDecidesBeforeProduct) {
  struct Case {
    UsbIds ids;
    std::string driver;
  };
  const std::vector<Case> cases = {
      {{0x1A86, 0x9401}, "kv412-a"},   // the USB bridge chip some models carry
      {{0x1A86, 0xDF12}, "lc586-akm"},
      {{0x0483, 0x9401}, "(none)"},    // another maker's device with a table product id
      {{0x0000, 0x9401}, "(none)"},
      {{0x4C4A, 0x0000}, "(none)"},    // the maker's device that is not in the table
      {{0x4C4A, 0xFFFF}, "(none)"},
      {{0x4C4A, 0x9400}, "(none)"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(Name(autoadd::DriverForUsbIds(c.ids)), c.driver) << std::hex << c.ids.vendor << ":" << c.ids.product;
}

TEST(AutoAddDeviceId, LabelLanguagesFromTheCommandSet) {
  struct Case {
    std::string id;
    std::string driver;
  };
  const std::vector<Case> cases = {
      {"MFG:Zebra Technologies;CMD:ZPL;MDL:ZTC GK420d;CLS:PRINTER;", "dotweave-zpl"},
      {"MANUFACTURER:Zebra;COMMAND SET:EPL2,ZPL;MODEL:GK420t;", "dotweave-zpl"},  // ZPL over EPL
      {"MFG:Zebra;CMD:ZPLII;MDL:ZT410;", "dotweave-zpl"},
      {"MFG:Zebra;CMD:EPL2;MDL:LP 2844;", "dotweave-epl-page"},
      {"MFG:Eltron;CMD:EPL;MDL:TLP2742;", "dotweave-epl-page"},
      {"MFG:Eltron;CMD:EPL1;MDL:Orion;", "dotweave-epl-line"},
      {"MFG:Eltron;CMD:EPL1,EPL2;", "dotweave-epl-page"},
      {"MFG:Honeywell;CMD:PCL;MDL:PC42t;", "dotweave-pcl"},
      {"MFG:Acme;CMD:PCL5,PJL;", "dotweave-pcl"},
      // Office printers that print documents without a label driver.
      {"MFG:HP;CMD:PCL,PJL,POSTSCRIPT;MDL:LaserJet 4250;", "(none)"},
      {"MFG:HP;CMD:PCL3GUI,PCL3,PJL,URF;MDL:OfficeJet;", "(none)"},
      {"MFG:Brother;CMD:PJL,PCL,PCLXL,PDF,BRSCRIPT3;", "(none)"},
      {"MFG:HP;CMD:PCLXL,PJL;MDL:LaserJet P1102;", "(none)"},
      {"MFG:HP;CMD:PCL6;", "(none)"},
      // Receipt and TSPL label printers; TSPL wins where both are listed,
      // and Epson's ESC/P page printers are not ESC/POS.
      {"MFG:EPSON;CMD:ESC/POS;MDL:TM-T20;", "dotweave-escpos-80"},
      {"MFG:POS;CMD:ESCPOS;MDL:POS-80;", "dotweave-escpos-80"},
      {"MFG:TSC;CMD:TSPL2;MDL:TE200;", "dotweave-tspl-4in"},
      {"MFG:Acme;CMD:TSPL,ESC/POS;", "dotweave-tspl-4in"},
      {"MFG:EPSON;CMD:ESCPL2,BDC,D4;MDL:ET-2750;", "(none)"},
      {"MFG:EPSON;CMD:ESC/P2;", "(none)"},
      // Case and spaces do not matter; keys and tokens are exact otherwise.
      {"mfg:zebra;cmd: zpl , epl2 ;", "dotweave-zpl"},
      {"CMD :EPL2", "dotweave-epl-page"},
      {"CMD:XZPL;", "(none)"},
      {"CMD:EPL2X;", "(none)"},
  };
  for (const Case &c : cases) EXPECT_EQ(Name(autoadd::DriverForDeviceId(c.id)), c.driver) << c.id;
}

TEST(AutoAddDeviceId, DymoLabelWritersByMakerAndModel) {
  EXPECT_EQ(Name(autoadd::DriverForDeviceId("MFG:DYMO;CMD: ;MDL:LabelWriter 450;CLS:PRINTER;")), "dotweave-dymo");
  EXPECT_EQ(Name(autoadd::DriverForDeviceId("MFG:Dymo;MDL:LabelWriter 4XL;")), "dotweave-dymo");
  EXPECT_EQ(Name(autoadd::DriverForDeviceId("MFG:DYMO;MDL:LabelWriter Twin Turbo;")), "dotweave-dymo");
  // The 5xx series speaks another protocol; label makers are not printers of ours.
  EXPECT_EQ(Name(autoadd::DriverForDeviceId("MFG:DYMO;MDL:LabelWriter 550 Turbo;")), "(none)");
  EXPECT_EQ(Name(autoadd::DriverForDeviceId("MFG:DYMO;MDL:LabelManager PnP;")), "(none)");
  EXPECT_EQ(Name(autoadd::DriverForDeviceId("MFG:Acme;MDL:LabelWriter 450;")), "(none)");
}

TEST(AutoAddDeviceId, TheMakersModelNamedExactly) {
  if (!kModelNames) GTEST_SKIP() << "this build knows the maker's printers by their USB ids only";
  EXPECT_EQ(Name(autoadd::DriverForDeviceId("MFG:OEM;MDL:KV412 A;")), "kv412-a");
  EXPECT_EQ(Name(autoadd::DriverForDeviceId("MDL:kv412-a;")), "kv412-a");
  // Not the filter's first-substring rule: a longer name keeps its own driver.
  EXPECT_EQ(Name(autoadd::DriverForDeviceId("MFG:OEM;MDL:KV418 AK;CMD:ZPL;")), "kv418-ak");
  EXPECT_EQ(Name(autoadd::DriverForDeviceId("MODEL:LC586 AKM;")), "lc586-akm");
  EXPECT_EQ(Name(autoadd::DriverForDeviceId("MDL:KV412 A Plus;")), "(none)");
  EXPECT_EQ(Name(autoadd::DriverForDeviceId("MDL:WX3333;")), "(none)");
}

TEST(AutoAddDeviceId, GarbledIdsMatchNothingOrTheirFirstKey) {
  struct Case {
    std::string id;
    std::string driver;
  };
  const std::vector<Case> cases = {
      {"", "(none)"},
      {";;;;", "(none)"},
      {"CMD", "(none)"},
      {"CMD:", "(none)"},
      {":ZPL;", "(none)"},
      {"CMDZPL;", "(none)"},
      {"MDL:CMD:ZPL;", "(none)"},       // a key inside another key's value
      {"CMD:,,,;", "(none)"},
      {"CMD:\xff\xfe;MDL:\x01\x02;", "(none)"},
      {"CMD:PCL;CMD:ZPL;", "dotweave-pcl"},  // a repeated key: the first counts
      {"cmd:zpl", "dotweave-zpl"},          // no closing semicolon
      {std::string("CMD:ZPL\0;", 9), "dotweave-zpl"},
      {std::string(100000, ';') + "CMD:ZPL;", "dotweave-zpl"},
      {std::string(100000, 'x'), "(none)"},
  };
  for (const Case &c : cases) EXPECT_EQ(Name(autoadd::DriverForDeviceId(c.id)), c.driver) << c.id.substr(0, 40);
}

TEST(AutoAddDeviceId, FieldsAsParsed) {
  const autoadd::DeviceIdFields f = autoadd::ParseDeviceId(" MFG : Zebra ;CMD:zpl, EPL2,,;MDL:GK420d;MFG:Other;");
  EXPECT_EQ(f.manufacturer, "Zebra");
  EXPECT_EQ(f.model, "GK420d");
  EXPECT_EQ(f.commandSet, (std::vector<std::string>{"ZPL", "EPL2"}));
}

TEST(AutoAddMatch, UsbIdsBeforeTheDeviceId) {
  EXPECT_EQ(Name(autoadd::MatchDriver("MFG:OEM;CMD:ZPL;", UsbIds{0x4C4A, 0xDF01})), "mb739-a");
  EXPECT_EQ(Name(autoadd::MatchDriver("MFG:Zebra;CMD:ZPL;", UsbIds{0x0A5F, 0x0080})), "dotweave-zpl");
  EXPECT_EQ(Name(autoadd::MatchDriver("MFG:Zebra;CMD:ZPL;", std::nullopt)), "dotweave-zpl");
  EXPECT_EQ(Name(autoadd::MatchDriver("", std::nullopt)), "(none)");
  EXPECT_EQ(Name(autoadd::MatchDriver("", UsbIds{0x0483, 0x9401})), "(none)");
}

TEST(AutoAddUri, SerialsToLookUp) {
  using V = std::vector<std::string>;
  struct Case {
    std::string uri;
    V serials;
  };
  const std::vector<Case> cases = {
      {"usb://OEM/KV412%20A?serial=ABC123", V{"ABC123"}},
      {"usb://OEM/KV412%20A?serial=ABC123&interface=1", V{"ABC123"}},
      {"usb://Zebra/GK420d?serial=AB%20C1", V{"AB%20C1", "AB C1"}},
      {"usb://X/Y?serial=50%", V{"50%"}},             // not an escape
      {"usb://X/Y?serial=%00AB", V{"%00AB"}},         // an escaped NUL is no serial
      {"usb://X/Y", V{}},
      {"usb://X/Y?serial=", V{}},
      {"usb://X/Y?serial=&interface=1", V{}},
      {"socket://192.0.2.1?serial=ABC123", V{}},      // not a USB device
      {"serial:/dev/ttyUSB0?serial=ABC123", V{}},
      {"", V{}},
      {"usb://X/Y?serial=" + std::string(300, 'B'), V{std::string(255, 'B')}},
  };
  for (const Case &c : cases) EXPECT_EQ(autoadd::UsbSerialsOfUri(c.uri), c.serials) << c.uri.substr(0, 60);
}

// PAPPL saves printers added with "auto" under that name, with a device ID
// it makes from the driver's make and model.
TEST(AutoAddResolve, SavedAutoPrintersFindTheirDriversAgain) {
  struct Case {
    std::string id;
    std::string driver;
  };
  const std::vector<Case> cases = {
      {"MFG:Generic;MDL:ZPL;CMD:PWGRaster,URF,PDF,JPEG,PNG;", "dotweave-zpl"},
      {"MFG:Generic;MDL:EPL page mode;CMD:PWGRaster,URF,PDF,JPEG,PNG;", "dotweave-epl-page"},
      {"MFG:Generic;MDL:Dymo protocol;CMD:PWGRaster,PNG;", "dotweave-dymo"},
      {"MFG:OEM;MDL:KV418 AK;CMD:PWGRaster,URF,PDF,JPEG,PNG;", "kv418-ak"},
      {"MFG:OEM;MDL:WX2222;", "wx2222"},
      {"MFG:Zebra;CMD:ZPL;", "dotweave-zpl"},  // the device's own ID, as the web page saves it
      {"MFG:Generic;MDL:Nothing;", "(none)"},
      {"", "(none)"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(Name(autoadd::ResolveAutoDriver("file:///tmp/out", c.id.c_str())), c.driver) << c.id;
  EXPECT_EQ(Name(autoadd::ResolveAutoDriver(nullptr, nullptr)), "(none)");
}

// ---- The callback against the USB devices umockdev fakes -------------------

const std::string kFixtures = std::string(DOTWEAVE_SOURCE_DIR) + "/tests/fixtures/umockdev/";

struct Probe {
  std::string devices;  // umockdev description in tests/fixtures/umockdev
  std::string uri;
  std::string deviceId;
  std::string driver;
};

std::string RunProbe(const Probe &p) {
  dwtest::FilterRun run;
  run.binary = DOTWEAVE_AUTOADD_PROBE;
  run.args = {p.uri, p.deviceId};
  run.wrapper = {"umockdev-run", "--device", kFixtures + p.devices, "--"};
  // umockdev preloads its library ahead of the sanitizer runtime.
  const char *asan = std::getenv("ASAN_OPTIONS");
  run.env["ASAN_OPTIONS"] = std::string(asan ? asan : "") + (asan && *asan ? ":" : "") + "verify_asan_link_order=0";
  const dwtest::FilterResult r = dwtest::RunFilter(run);
  EXPECT_EQ(r.exitStatus, 0) << "umockdev-run is needed for these tests: " << r.err;
  return r.out;
}

TEST(AutoAddUmockdev, UsbIdsFromTheDeviceWithTheUrisSerial) {
  const std::vector<Probe> probes = {
      {"kv412a.umockdev", "usb://OEM/KV412%20A?serial=ABC123", "", "kv412-a"},
      // A label printer's device ID does not outrank the maker's ids.
      {"kv412a.umockdev", "usb://OEM/KV412%20A?serial=ABC123&interface=1", "MFG:OEM;CMD:ZPL;", "kv412-a"},
      {"bridge-vendor.umockdev", "usb://OEM/KV412%20A?serial=ABC123", "", "kv412-a"},
      {"needle.umockdev", "usb://OEM/MB739%20A?serial=NDL0042", "", "mb739-a"},
      // Another maker's device with a table product id: its device ID decides.
      {"other-vendor.umockdev", "usb://Acme/Gadget?serial=ABC123", "", "(none)"},
      {"other-vendor.umockdev", "usb://Zebra/GK420d?serial=ABC123", "MFG:Zebra;CMD:ZPL;", "dotweave-zpl"},
      // The first device with the serial counts, as in the filter.
      {"same-serial.umockdev", "usb://OEM/KV412%20A?serial=ABC123", "", "(none)"},
      {"no-ids.umockdev", "usb://OEM/KV412%20A?serial=ABC123", "", "(none)"},
      // A serial written as it is, or escaped in the URI.
      {"escapes.umockdev", "usb://OEM/KV412%20A?serial=AB%20C1", "", "kv412-a"},
      {"escapes.umockdev", "usb://OEM/KV416%20A?serial=AB%20C2", "", "kv416-a"},
      {"kv412a.umockdev", "usb://OEM/KV412%20A?serial=NOSUCH", "", "(none)"},
      {"kv412a.umockdev", "usb://OEM/KV412%20A", "", "(none)"},
  };
  for (const Probe &p : probes) EXPECT_EQ(RunProbe(p), p.driver + "\n") << p.devices << " " << p.uri;
}

}  // namespace
