// Whole OEM jobs through the filter binary on machines whose USB devices are
// faked by umockdev: an identified printer gets the page, an unidentified
// one gets nothing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "decode/decode.h"
#include "support/harness.h"

using namespace dwtest;

namespace {

const std::string kFixtures = std::string(DOTWEAVE_SOURCE_DIR) + "/tests/fixtures/umockdev/";
constexpr const char *kPrinterUri = "usb://Maker/Model?serial=ABC123&interface=1";

#ifdef DOTWEAVE_USB_SERIAL_ONLY
constexpr bool kTextMatching = false;
#else
constexpr bool kTextMatching = true;
#endif

struct Job {
  // umockdev description; "": umockdev without devices; none: no umockdev.
  std::optional<std::string> deviceFile;
  std::optional<std::string> uri;
  std::optional<std::string> printer = std::string("Office");
  int pages = 1;
  std::string ppd = MakePpd(0x13);
};

// The generated PPD of one model, as installed.
std::string ModelPpd(const std::string &driver) {
  return ReadFile(std::string(DOTWEAVE_BUILD_DIR) + "/ppd/" + driver + ".ppd");
}

FilterResult RunJob(const Job &job) {
  TempDir dir;
  FilterRun run;
  run.env["PPD"] = dir.Write("oem.ppd", job.ppd);
  run.env["DEVICE_URI"] = job.uri;
  run.env["PRINTER"] = job.printer;
  // umockdev preloads its library ahead of the sanitizer runtime.
  const char *asan = std::getenv("ASAN_OPTIONS");
  run.env["ASAN_OPTIONS"] = std::string(asan ? asan : "") + (asan && *asan ? ":" : "") +
                            "verify_asan_link_order=0";
  if (job.deviceFile && job.deviceFile->empty()) run.wrapper = {"umockdev-run", "--"};  // no devices
  else if (job.deviceFile) run.wrapper = {"umockdev-run", "--device", kFixtures + *job.deviceFile, "--"};
  std::vector<RasterPage> pages;
  for (int i = 0; i < job.pages; ++i) pages.push_back(UniformPage(MakeHeader(64, 16), 0xFF));
  run.input = WriteRaster(pages);
  return RunFilter(run);
}

// An identified thermal page begins with the 1000 zero bytes that bring the
// printer out of any half-received command; a needle page with 64.
void ExpectPagePrinted(const FilterResult &r, std::size_t zeroBlock) {
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  ASSERT_GE(r.out.size(), zeroBlock) << r.err;
  EXPECT_EQ(r.out.substr(0, zeroBlock), std::string(zeroBlock, '\0'));
}

void ExpectNothingPrinted(const FilterResult &r) {
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, "");
}

TEST(IdentifyJob, UmockdevFakesTheUsbDevices) {
  TempDir dir;
  FilterRun run;
  run.binary = "/bin/cat";
  run.args = {"/sys/bus/usb/devices/1-2/serial"};
  run.wrapper = {"umockdev-run", "--device", kFixtures + "kv412a.umockdev", "--"};
  const FilterResult r = RunFilter(run);
  ASSERT_EQ(r.exitStatus, 0) << "umockdev-run is needed for these tests: " << r.err;
  EXPECT_EQ(r.out, "ABC123\n");
}

TEST(IdentifyJob, Kv412aOnUsbIsIdentifiedBySerial) {
  const FilterResult r = RunJob({"kv412a.umockdev", kPrinterUri});
  ExpectPagePrinted(r, 1000);
  EXPECT_EQ(r.err.find("IOServiceGetMatchingServices"), std::string::npos) << r.err;
}

TEST(IdentifyJob, EveryPageIsIdentifiedAgain) {
  const FilterResult r = RunJob({"kv412a.umockdev", kPrinterUri, "Office", 2});
  EXPECT_EQ(r.exitStatus, 0);
  ASSERT_GE(r.out.size(), 2000u);
  EXPECT_EQ(r.out.substr(0, 1000), std::string(1000, '\0'));
  EXPECT_EQ(CountOf(r.err, "Finished page"), 2u) << r.err;
}

TEST(IdentifyJob, BridgeVendorIsAcceptedOtherVendorsAreNot) {
  ExpectPagePrinted(RunJob({"bridge-vendor.umockdev", kPrinterUri}), 1000);
  ExpectNothingPrinted(RunJob({"other-vendor.umockdev", kPrinterUri}));
}

TEST(IdentifyJob, NeedlePrinterIsIdentified) {
  ExpectPagePrinted(RunJob({"needle.umockdev", "usb://Maker/MB739%20A?serial=NDL0042"}), 64);
}

TEST(IdentifyJob, OnlyTheFirstDeviceWithTheSerialIsConsidered) {
  ExpectNothingPrinted(RunJob({"same-serial.umockdev", kPrinterUri}));
  ExpectNothingPrinted(RunJob({"no-ids.umockdev", kPrinterUri}));
}

TEST(IdentifyJob, LongSerialsAndEscapes) {
  // A serial is compared as at most 255 bytes, escapes undecoded.
  ExpectPagePrinted(RunJob({"long-serial.umockdev", "usb://M/P?serial=" + std::string(255, 'C')}), 1000);
  ExpectPagePrinted(RunJob({"long-serial.umockdev", "usb://M/P?serial=" + std::string(258, 'C')}), 1000);
  ExpectNothingPrinted(RunJob({"long-serial.umockdev", "usb://M/P?serial=" + std::string(300, 'B')}));
  ExpectPagePrinted(RunJob({"escapes.umockdev", "usb://M/P?serial=AB%20C1"}), 1000);
  ExpectNothingPrinted(RunJob({"escapes.umockdev", "usb://M/P?serial=AB%20C2"}));
}

TEST(IdentifyJob, NoUsbDevicesAtAllIsNotAnError) {
  const FilterResult r = RunJob({"", kPrinterUri});
  ExpectNothingPrinted(r);
  EXPECT_EQ(r.err.find("IOServiceGetMatchingServices"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("\xE6\x97\xA0\xE6\xB3\x95"), std::string::npos) << r.err;
}

TEST(IdentifyJob, SerialUriOnAQueueNamedAfterTheModel) {
  const FilterResult r = RunJob({std::nullopt, "serial:/dev/ttyUSB0?baud=115200", "KV412_A"});
  if (kTextMatching) ExpectPagePrinted(r, 1000);
  else ExpectNothingPrinted(r);  // this build recognises printers by USB serial only
}

TEST(IdentifyJob, SerialUriWithAUsbSerialIsLookedUpOnUsb) {
  ExpectPagePrinted(RunJob({"kv412a.umockdev", "serial:/dev/ttyUSB0?serial=ABC123", "Office"}), 1000);
}

TEST(IdentifyJob, UnsetPrinterIsNotedAndTheJobStillPrints) {
  const FilterResult r = RunJob({"kv412a.umockdev", kPrinterUri, std::nullopt});
  ExpectPagePrinted(r, 1000);
  EXPECT_EQ(CountOf(r.err, "MAC:Debug-Printer_name not set.\n"), 1u) << r.err;
}

TEST(IdentifyJob, UnidentifiedPagesPrintNothing) {
  ExpectNothingPrinted(RunJob({"kv412a.umockdev", "usb://Maker/Model?serial=NOSUCH"}));
  ExpectNothingPrinted(RunJob({"kv412a.umockdev", "socket://10.0.0.5:9100", "KV412_A"}));
  ExpectNothingPrinted(RunJob({"kv412a.umockdev", std::nullopt}));
}

// Enable once the page end reports unidentified pages.
TEST(IdentifyJob, UnidentifiedPageIsReportedOncePerPage) {
  const FilterResult r = RunJob({"kv412a.umockdev", "usb://Maker/Model?serial=NOSUCH", "Office", 2});
  ExpectNothingPrinted(r);
  EXPECT_EQ(CountOf(r.err, "WARNING: "), 2u) << r.err;
  EXPECT_EQ(CountOf(r.err, "WARNING: Unable to identify the printer model; page 1 was not printed.\n"), 1u);
  EXPECT_EQ(CountOf(r.err, "WARNING: Unable to identify the printer model; page 2 was not printed.\n"), 1u);
  // An identified page is not reported.
  EXPECT_EQ(RunJob({"kv412a.umockdev", kPrinterUri}).err.find("WARNING: "), std::string::npos);
}

// A model's PPD names its model, so a printer that nothing else identifies
// prints as that model whatever its queue is called and however it is
// connected; whatever the device URI, queue name or USB lookup identify wins.
TEST(IdentifyJob, ModelNamedByThePpdIsTheFallback) {
  const std::string uri = "serial:/dev/ttyS0?baud=115200";
  const FilterResult kv418 = RunJob({std::nullopt, uri, "labels", 1, ModelPpd("kv418-a")});
  ExpectPagePrinted(kv418, 1000);
  const dwdecode::DecodeResult thermal = dwdecode::DecodeOemThermal(kv418.out);
  ASSERT_EQ(thermal.pages.size(), 1u);
  EXPECT_EQ(thermal.pages[0].width, 384u);  // the KV418 A head, not the 832-dot default

  ExpectPagePrinted(RunJob({std::nullopt, "socket://10.0.0.5:9100", "labels", 1, ModelPpd("lc586-a")}), 64);
  ExpectPagePrinted(RunJob({"", std::nullopt, std::nullopt, 1, ModelPpd("kv412-a")}), 1000);

  // Identified by its USB serial: the PPD's needle model does not override it.
  ExpectPagePrinted(RunJob({"kv412a.umockdev", kPrinterUri, "labels", 1, ModelPpd("lc586-a")}), 1000);
  if (kTextMatching)
    ExpectPagePrinted(RunJob({std::nullopt, "serial:/dev/ttyUSB0", "KV412_A", 1, ModelPpd("lc586-a")}), 1000);
}

TEST(IdentifyJob, PpdNamingNoKnownModelStillReportsThePage) {
  const FilterResult r =
      RunJob({std::nullopt, "serial:/dev/ttyS0", "labels", 1, MakePpd(0x13) + "*dotweaveModel: \"KV999 Z\"\n"});
  ExpectNothingPrinted(r);
  EXPECT_EQ(CountOf(r.err, "WARNING: Unable to identify the printer model; page 1 was not printed.\n"), 1u) << r.err;
}

}  // namespace
