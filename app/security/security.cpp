// Remote administration and device URIs, wired into PAPPL 1.3.
//
// PAPPL asks a remote client for authentication (over TLS, HTTPS on the same
// port) before its administrative web pages and IPP operations, once the
// system has a PAM service or an authentication callback; without either,
// its web forms act for anyone. Its own group check admits only users whose
// primary group is the admin group (it takes getgrouplist's count of groups
// for a failure), so the callback here checks the password with PAM and the
// group among all of the user's groups. The callback is set even without a
// PAM service: remote administration is then refused, never open. With a
// PAM service or a callback PAPPL also asks remote clients to log in before
// it takes a job; the callback lets jobs through.
#include "app/security/security.h"

#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "app/security/device_policy.h"
#include "app/security/pam_auth.h"

// PAPPL's handler of a printer's home page, which it registers for
// "/NAME/"; its POST actions (pause, identify, print test page, hold new
// jobs) run without asking who the client is. The gate below puts the
// authorization in front of them and hands everything else to it.
extern "C" void _papplPrinterWebHome(pappl_client_t *client, pappl_printer_t *printer);

namespace app::security {
namespace {

Settings gSettings;

bool IsLocal(pappl_client_t *client) {
  const http_addr_t *address = httpGetAddress(papplClientGetHTTP(client));
  return address != nullptr && httpAddrLocalhost(address);
}

// "Basic BASE64(user:password)" into user and password.
bool BasicCredentials(const char *authorization, std::string &user, std::string &password) {
  if (authorization == nullptr || strncasecmp(authorization, "Basic ", 6) != 0) return false;
  const char *encoded = authorization + 6;
  while (*encoded == ' ') ++encoded;
  char decoded[1024];
  int length = static_cast<int>(sizeof decoded);
  if (std::strlen(encoded) > 4 * (sizeof decoded / 3) || httpDecode64_2(decoded, &length, encoded) == nullptr)
    return false;
  const std::string_view text(decoded, static_cast<std::size_t>(length));
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0 || text.find('\0') != std::string_view::npos) return false;
  user.assign(text.substr(0, colon));
  password.assign(text.substr(colon + 1));
  return true;
}

// PAPPL calls this for every check it makes of a remote client once it is
// set, credentials or not: with the admin group before administration, and
// with the printer's print group (none here) before a job is taken.
http_status_t Authenticate(pappl_client_t *client, const char *group, gid_t groupId, void *) {
  if (IsLocal(client)) return HTTP_STATUS_CONTINUE;
  // Printing is open to everyone, as on any network printer.
  if (group == nullptr || *group == 0) return HTTP_STATUS_CONTINUE;
  // Passwords travel only encrypted.
  if (!papplClientIsEncrypted(client)) return HTTP_STATUS_UPGRADE_REQUIRED;
  std::string user, password;
  if (!BasicCredentials(httpGetField(papplClientGetHTTP(client), HTTP_FIELD_AUTHORIZATION), user, password))
    return HTTP_STATUS_UNAUTHORIZED;
  pappl_system_t *system = papplClientGetSystem(client);
  char peer[256];
  const char *host = httpGetHostname(papplClientGetHTTP(client), peer, sizeof peer);
  std::string why;
  if (gSettings.authService.empty()) {
    papplLog(system, PAPPL_LOGLEVEL_WARN,
             "Remote administration by \"%s\" from %s refused: the server has no PAM service (-o auth-service).",
             user.c_str(), host ? host : "?");
    return HTTP_STATUS_FORBIDDEN;
  }
  if (!CheckPassword(gSettings.authService, user, password, host ? host : "", why)) {
    papplLog(system, PAPPL_LOGLEVEL_WARN, "Authentication of \"%s\" from %s failed: %s", user.c_str(),
             host ? host : "?", why.c_str());
    return HTTP_STATUS_UNAUTHORIZED;
  }
  if (group == nullptr || !UserInGroup(user, groupId)) {
    papplLog(system, PAPPL_LOGLEVEL_WARN, "\"%s\" from %s is not in the admin group \"%s\".", user.c_str(),
             host ? host : "?", group ? group : "");
    return HTTP_STATUS_FORBIDDEN;
  }
  papplLog(system, PAPPL_LOGLEVEL_INFO, "\"%s\" from %s authenticated as an administrator.", user.c_str(),
           host ? host : "?");
  return HTTP_STATUS_CONTINUE;
}

// A printer's home page: its actions only for administrators.
bool PrinterPage(pappl_client_t *client, void *data) {
  if (papplClientGetMethod(client) == HTTP_STATE_POST && !papplClientHTMLAuthorize(client)) return true;
  _papplPrinterWebHome(client, static_cast<pappl_printer_t *>(data));
  return true;
}

}  // namespace

Settings ReadSettings(int num_options, cups_option_t *options) {
  Settings settings;
  if (const char *v = cupsGetOption("auth-service", num_options, options)) settings.authService = v;
  if (const char *v = cupsGetOption("admin-group", num_options, options); v && *v) settings.adminGroup = v;
  if (const char *v = cupsGetOption("file-device-directory", num_options, options)) settings.fileDeviceDirectory = v;
  return settings;
}

void Configure(Settings settings) { gSettings = std::move(settings); }
const Settings &Current() { return gSettings; }

const char *AuthServiceOrNull() { return gSettings.authService.empty() ? nullptr : gSettings.authService.c_str(); }

void ProtectPrinter(pappl_printer_t *printer, void *) {
  char path[256];
  if (papplPrinterGetPath(printer, nullptr, path, sizeof path - 1) == nullptr) return;
  if (path[0] == 0 || path[std::strlen(path) - 1] != '/') std::strcat(path, "/");
  pappl_system_t *system = papplPrinterGetSystem(printer);
  papplSystemRemoveResource(system, path);
  papplSystemAddResourceCallback(system, path, "text/html", PrinterPage, printer);
}

void Protect(pappl_system_t *system) {
  papplSystemSetAdminGroup(system, gSettings.adminGroup.c_str());
  papplSystemSetAuthCallback(system, "Basic", Authenticate, nullptr);
  // The gate goes on outside the iteration, which holds the system's lock
  // that adding a resource takes.
  std::vector<pappl_printer_t *> printers;
  papplSystemIteratePrinters(
      system,
      [](pappl_printer_t *printer, void *list) {
        static_cast<std::vector<pappl_printer_t *> *>(list)->push_back(printer);
      },
      &printers);
  for (pappl_printer_t *printer : printers) ProtectPrinter(printer, nullptr);
  if (!gSettings.fileDeviceDirectory.empty())
    papplLog(system, PAPPL_LOGLEVEL_INFO, "file: devices may write inside %s.", gSettings.fileDeviceDirectory.c_str());
}

bool IsFileUri(const char *uri) { return uri != nullptr && IsFileDeviceUri(uri); }

std::string CheckDeviceUri(const char *uri) {
  return uri ? CheckFileDeviceUri(uri, gSettings.fileDeviceDirectory) : std::string();
}

}  // namespace app::security

namespace app::security {

void ExplainRefusedDevice(int argc, char *argv[]) {
  if (argc < 2 || (std::strcmp(argv[1], "add") != 0 && std::strcmp(argv[1], "modify") != 0)) return;
  for (int i = 2; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "-v") == 0 && IsFileUri(argv[i + 1]))
      std::fprintf(stderr,
                   "%s: note: the server takes a file: device only for a path inside its file device directory "
                   "(-o file-device-directory=DIR), after \"..\" and symbolic links are resolved; if that is why "
                   "it refused %s, its log says so.\n",
                   argv[0], argv[i + 1]);
}

}  // namespace app::security
