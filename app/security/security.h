#pragma once
// What keeps the server safe on a network, as the rest of the application
// sees it: read the server options, hand PAPPL its PAM service, protect the
// system once it is made, and judge device URIs.
#include <pappl/pappl.h>

#include <string>

namespace app::security {

struct Settings {
  std::string authService;          // PAM service for remote administrators; empty: none can log in
  std::string adminGroup = "lpadmin";
  std::string fileDeviceDirectory;  // where file: devices may write; empty: nowhere
};

// -o auth-service=SERVICE, -o admin-group=GROUP, -o file-device-directory=DIR.
Settings ReadSettings(int num_options, cups_option_t *options);
void Configure(Settings settings);
const Settings &Current();

// The PAM service for papplSystemCreate, or NULL.
const char *AuthServiceOrNull();

// Once the system is made and its state loaded, before it runs: the admin
// group, the authentication callback, and the gate on every printer's page.
void Protect(pappl_system_t *system);
// PAPPL's printer-created callback: the gate on the new printer's page.
void ProtectPrinter(pappl_printer_t *printer, void *data);

bool IsFileUri(const char *uri);
// Empty when a printer may have `uri` as its device, else why it may not.
std::string CheckDeviceUri(const char *uri);

}  // namespace app::security

namespace app::security {
// After "add" or "modify" with a file: device failed: where the reason is.
// The server's IPP answer cannot carry it (PAPPL 1.3 answers that the
// driver cannot be used with the printer); its log does.
void ExplainRefusedDevice(int argc, char *argv[]);
}  // namespace app::security
