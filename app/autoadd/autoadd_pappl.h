#pragma once
// Plug-and-play on PAPPL's side: the auto-add callback the server and the
// "autoadd" sub-command use, and "dotweave-app drivers -v DEVICE-URI
// [-o device-id=ID]", the driver list with the driver matched for that
// device first. The matching itself is in autoadd.h.
namespace app {

// pappl_pr_autoadd_cb_t. PAPPL 1.3.1 gives no device ID with "add -m auto"
// (Create-Printer), only with the web page's form and "autoadd": a usb:
// device without one gets it from PAPPL's own device listing.
const char *AutoAddDriver(const char *device_info, const char *device_uri, const char *device_id, void *data);

// Handles "drivers" with a device; returns the exit status, or -1 when the
// command line is not one for it (PAPPL's own "drivers" runs then).
int ListDriversForDevice(int argc, char *argv[]);

}  // namespace app
