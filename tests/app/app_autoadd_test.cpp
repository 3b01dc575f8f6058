// Printers added with the "auto" driver through a private server, as the web
// page's "Auto-Detect Driver" and "add -m auto" add them: the maker's USB
// printer gets its model's driver from the ids of the device with its serial
// and keeps it after a restart (PAPPL saves such printers under the name
// "auto"), saved "auto" printers print with their drivers, an unknown device
// is refused and the server goes on. The USB case needs umockdev's fake
// devices: ctest runs it under umockdev-run (app.autoadd.umockdev);
// elsewhere it is skipped.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "app/app_server.h"

using namespace dwtest;

namespace {

struct Created {
  ipp_status_t status = IPP_STATUS_ERROR_INTERNAL;
  std::string message;
};

http_t *ConnectTo(const AppServer &s) {
  return httpConnect2("localhost", s.port(), nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED, 1, 5000, nullptr);
}

// Create-Printer with the "auto" driver (or `driver`); `deviceId` as a device
// listing gives it, none when empty. Straight to the server's port: run as
// root, PAPPL's sub-commands go to the one local socket of all servers.
Created CreateAuto(const AppServer &s, const std::string &name, const std::string &uri, const std::string &deviceId,
                   const std::string &driver = "auto") {
  Created out;
  http_t *http = ConnectTo(s);
  if (http == nullptr) return out;
  ipp_t *request = ippNewRequest(IPP_OP_CREATE_PRINTER);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "system-uri", nullptr, s.systemUri().c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "tester");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "printer-service-type", nullptr, "print");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "smi55357-driver", nullptr, driver.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "smi55357-device-uri", nullptr, uri.c_str());
  if (!deviceId.empty())
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_TEXT, "smi55357-device-id", nullptr, deviceId.c_str());
  ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_NAME, "printer-name", nullptr, name.c_str());
  ippDelete(cupsDoRequest(http, request, "/ipp/system"));
  out.status = cupsLastError();
  out.message = cupsLastErrorString();
  httpClose(http);
  return out;
}

std::string MakeAndModel(const AppServer &s, const std::string &printer) {
  http_t *http = ConnectTo(s);
  if (http == nullptr) return "";
  ipp_t *request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, s.printerUri(printer).c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
               "printer-make-and-model");
  ipp_t *response = cupsDoRequest(http, request, ("/ipp/print/" + printer).c_str());
  const char *text = ippGetString(ippFindAttribute(response, "printer-make-and-model", IPP_TAG_TEXT), 0, nullptr);
  std::string out = text ? text : "";
  ippDelete(response);
  httpClose(http);
  return out;
}

// One page of 1-bit raster with a black square, 64 x 16 dots at 203 dpi.
std::string SmallPage(const TempDir &dir) {
  RasterPage page{MakeHeader(64, 16, 1, 203), {}};
  page.header.cupsBytesPerLine = 8;
  page.data.assign(8 * 16, 0);
  for (std::size_t y = 4; y < 12; ++y) page.data[y * 8 + 2] = 0xFF;
  return PwgRasterFile(dir, "page.pwg", {page});
}

// A ZPL label from the filter: the page goes down as the stored graphic
// R:CUPS.GRF (its byte count and row bytes first), then the label format
// that prints it. The page is the driver's default 4 x 6 inch label at
// 203 dpi: 812 dots (102 bytes) by 1218 rows, 124236 bytes.
void ExpectZplLabel(AppServer &s, const std::string &printer, const std::string &pwg) {
  const JobOutcome job = s.Print(printer, pwg, "image/pwg-raster");
  ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << job.message << s.jobLog();
  const std::string out = s.Output(printer, job);
  EXPECT_EQ(out.rfind("~DGR:CUPS.GRF,124236,102,\n", 0), 0u) << out.substr(0, 80);
  EXPECT_NE(out.find("^XA"), std::string::npos);
}

// What PAPPL 1.3.1 saves for printers added with "auto": the driver name
// "auto" and a device ID made from the driver's make and model.
std::string SavedAutoPrinter(int id, const std::string &name, const std::string &deviceId, const std::string &uri) {
  return "<Printer did=\"" + deviceId + "\" driver=\"auto\" id=\"" + std::to_string(id) + "\" name=\"" + name +
         "\" uri=\"" + uri + "\">\nDNSSDName " + name + "\n</Printer>\n";
}

TEST(AppAutoAdd, SavedAutoPrintersKeepTheirDriversAndPrint) {
  TempDir dir;
  const std::string out = dir.path() + "/out-zebra";  // AppServer::outDir("zebra")
  ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
  dir.Write("dotweave-app.state",
            "DefaultPrinterID 1\nNextPrinterID 4\n" +
                SavedAutoPrinter(1, "zebra", "MFG:Generic;MDL:ZPL;CMD:PWGRaster,URF,PDF,JPEG,PNG;", "file://" + out) +
                SavedAutoPrinter(2, "kv418", "MFG:OEM;MDL:KV418 AK;CMD:PWGRaster,URF,PDF,JPEG,PNG;", "file://" + out) +
                SavedAutoPrinter(3, "lost", "MFG:Acme;MDL:Nothing;", "file://" + out));
  AppServer s({}, dir.path());
  ASSERT_TRUE(s.running());
  EXPECT_EQ(MakeAndModel(s, "zebra"), "Generic ZPL") << s.log();
  EXPECT_EQ(MakeAndModel(s, "kv418"), "OEM KV418 AK");
  // A printer whose driver cannot be found again is dropped, not half made.
  EXPECT_EQ(MakeAndModel(s, "lost"), "");
  ExpectZplLabel(s, "zebra", SmallPage(dir));
}

TEST(AppAutoAdd, UnknownDeviceIsRefusedAndTheServerServesOn) {
  AppServer s;
  ASSERT_TRUE(s.running());
  const Created c = CreateAuto(s, "nobody", "usb://Acme/Gadget?serial=NO-SUCH-DEVICE", "");
  EXPECT_GE(c.status, IPP_STATUS_ERROR_BAD_REQUEST);
  EXPECT_NE(c.message.find("Driver 'auto' cannot be used"), std::string::npos) << c.message;
  EXPECT_EQ(MakeAndModel(s, "nobody"), "");
  const Created zpl = CreateAuto(s, "zpl", "file://" + s.stateDir(), "", "dotweave-zpl");
  EXPECT_LT(zpl.status, IPP_STATUS_REDIRECTION_OTHER_SITE) << zpl.message;
  EXPECT_EQ(MakeAndModel(s, "zpl"), "Generic ZPL") << s.log();
}

TEST(AppAutoAdd, MakersUsbPrinterByTheIdsOfTheDeviceWithItsSerial) {
  if (std::getenv("UMOCKDEV_DIR") == nullptr) GTEST_SKIP() << "runs under umockdev-run (ctest app.autoadd.umockdev)";
  AppServer s;
  ASSERT_TRUE(s.running());
  // PAPPL's own USB URI of the device, without a device ID (the device
  // cannot be opened under umockdev): the ids in sysfs decide.
  const Created kv = CreateAuto(s, "kv412", "usb://OEM/KV412%20A?serial=ABC123", "");
  ASSERT_LT(kv.status, IPP_STATUS_REDIRECTION_OTHER_SITE) << kv.message << s.log();
  EXPECT_EQ(MakeAndModel(s, "kv412"), "OEM KV412 A");
  // The flash drive's serial: no printer of ours, and no device ID to go by.
  EXPECT_GE(CreateAuto(s, "drive", "usb://SanDisk/Cruzer?serial=ABC1234", "").status, IPP_STATUS_ERROR_BAD_REQUEST);
  // A restart keeps the printer and its driver.
  const std::string state = s.stateDir();
  EXPECT_EQ(s.Stop(), 0) << s.log();
  AppServer again({}, state);
  ASSERT_TRUE(again.running());
  EXPECT_EQ(MakeAndModel(again, "kv412"), "OEM KV412 A") << again.log();
}

}  // namespace
