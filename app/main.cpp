// dotweave-app: papplMainloop with the usual sub-commands (server, add,
// delete, modify, devices, drivers, printers, submit, jobs, cancel, status,
// shutdown) and the web interface. The system callback keeps a server's state
// file, spool, log and the drivers' PPD files in one state directory:
//
//   dotweave-app server -o server-port=8631 -o listen-hostname=localhost
//                       -o state-directory=DIR [-o log-level=debug]
#include <png.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <fstream>
#include <malloc.h>
#include <thread>
#include <string>
#include <string_view>
#include <vector>

#include "app/app.h"
#include "app/autoadd/autoadd_pappl.h"
#include "app/security/security.h"
#include "app/serial/serial.h"
#include "app/status/poller.h"
#include "app/status/recovery.h"

#ifndef DOTWEAVE_FILTER_PATH
#define DOTWEAVE_FILTER_PATH "/usr/lib/cups/filter/dotweave"
#endif
#ifndef DOTWEAVE_IMAGE_DECODER_PATH
#define DOTWEAVE_IMAGE_DECODER_PATH "/usr/libexec/dotweave-app/dotweave-image"
#endif
#ifndef DOTWEAVE_APP_VERSION
#define DOTWEAVE_APP_VERSION "0.1.0"
#endif

namespace app {

Paths gPaths;

namespace {
std::atomic<bool> gStopping{false};
}  // namespace

bool ServerStopping() { return gStopping; }

namespace {

struct ServerConfig {
  std::string stateDir;
  std::string stateFile;
  // "drivers" makes a system only to list its drivers: it must not create a
  // state directory, write files or listen.
  bool listingOnly = false;
};
ServerConfig gConfig;

bool MakeDirectory(const std::string &path) {
  std::string partial;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || (path[i] == '/' && i > 0)) {
      partial = path.substr(0, i);
      if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
  }
  return true;
}

std::string DefaultStateDirectory() {
  if (getuid() == 0) return "/var/lib/dotweave-app";
  if (const char *state = std::getenv("XDG_STATE_HOME"); state && *state) return std::string(state) + "/dotweave-app";
  if (const char *home = std::getenv("HOME"); home && *home) return std::string(home) + "/.local/state/dotweave-app";
  return "/tmp/dotweave-app-" + std::to_string(getuid());
}

bool WritePpds(const std::string &dir) {
  if (!MakeDirectory(dir)) return false;
  for (const catalogue::Printer &p : catalogue::Printers()) {
    std::ofstream f(dir + "/" + p.fileName(), std::ios::binary | std::ios::trunc);
    f << catalogue::PpdText(p);
    if (!f.flush()) return false;
  }
  return true;
}

// The test page: a frame, both diagonals, bars of 1 to 8 dots and a gray ramp,
// 4 x 6 inches at 203 dpi; PAPPL scales it to the printer's media.
bool WriteTestPage(const std::string &path) {
  constexpr int kWidth = 812, kHeight = 1218;
  std::vector<unsigned char> pixels(static_cast<std::size_t>(kWidth) * kHeight, 255);
  auto set = [&](int x, int y, unsigned char v) {
    if (x >= 0 && y >= 0 && x < kWidth && y < kHeight)
      pixels[static_cast<std::size_t>(y) * kWidth + static_cast<std::size_t>(x)] = v;
  };
  for (int t = 0; t < 8; ++t)
    for (int x = 0; x < kWidth; ++x) set(x, t, 0), set(x, kHeight - 1 - t, 0);
  for (int t = 0; t < 8; ++t)
    for (int y = 0; y < kHeight; ++y) set(t, y, 0), set(kWidth - 1 - t, y, 0);
  for (int y = 0; y < kHeight; ++y) {
    const int x = y * (kWidth - 1) / (kHeight - 1);
    for (int w = -2; w <= 2; ++w) set(x + w, y, 0), set(kWidth - 1 - x + w, y, 0);
  }
  for (int bar = 0, x = 60; bar < 8; ++bar, x += 2 * (bar + 1) + 12)
    for (int y = 100; y < 300; ++y)
      for (int w = 0; w <= bar; ++w) set(x + w, y, 0);
  for (int y = kHeight - 300; y < kHeight - 100; ++y)
    for (int x = 60; x < kWidth - 60; ++x) set(x, y, static_cast<unsigned char>(255 * (x - 60) / (kWidth - 121)));

  FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (png == nullptr || info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_set_pHYs(png, info, 7992, 7992, PNG_RESOLUTION_METER);  // 203 dpi
  png_write_info(png, info);
  for (int y = 0; y < kHeight; ++y) png_write_row(png, &pixels[static_cast<std::size_t>(y) * kWidth]);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return std::fclose(f) == 0;
}

// The image decoder: DOTWEAVE_IMAGE_DECODER, else where the install puts it,
// else beside this program (a build tree).
std::string ImageDecoderPath() {
  if (const char *given = std::getenv("DOTWEAVE_IMAGE_DECODER"); given && *given) return given;
  if (access(DOTWEAVE_IMAGE_DECODER_PATH, X_OK) == 0) return DOTWEAVE_IMAGE_DECODER_PATH;
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    std::string dir(self, static_cast<std::size_t>(n));
    dir.erase(dir.rfind('/') + 1);
    if (access((dir + "dotweave-image").c_str(), X_OK) == 0) return dir + "dotweave-image";
  }
  return DOTWEAVE_IMAGE_DECODER_PATH;
}

pappl_loglevel_t LogLevel(const char *name) {
  if (name == nullptr) return PAPPL_LOGLEVEL_INFO;
  if (!std::strcmp(name, "debug")) return PAPPL_LOGLEVEL_DEBUG;
  if (!std::strcmp(name, "warn")) return PAPPL_LOGLEVEL_WARN;
  if (!std::strcmp(name, "error")) return PAPPL_LOGLEVEL_ERROR;
  if (!std::strcmp(name, "fatal")) return PAPPL_LOGLEVEL_FATAL;
  return PAPPL_LOGLEVEL_INFO;
}

}  // namespace

// PAPPL adds its own device schemes (file, usb, socket, ...) at its first
// device call, and only while it has none: that call goes first.
void RegisterSerialScheme() {
  papplDeviceList(PAPPL_DEVTYPE_FILE, [](const char *, const char *, const char *, void *) { return true; }, nullptr,
                  nullptr, nullptr);
  dwRegisterSerialScheme();
}

namespace {

// Documents sent without a format: the printer languages PAPPL does not
// know by their first bytes (a ZPL "^XA" or "~" command, an EPL "N" or "q"
// line, a PCL reset); NULL lets PAPPL look.
const char *DetectLanguage(const unsigned char *header, size_t size, void *) {
  std::string_view head(reinterpret_cast<const char *>(header), size);
  while (!head.empty() && (head.front() == '\r' || head.front() == '\n' || head.front() == ' ')) head.remove_prefix(1);
  if (head.rfind("^XA", 0) == 0 || head.rfind("~DG", 0) == 0 || head.rfind("^XZ", 0) == 0 || head.rfind("~JS", 0) == 0)
    return "application/vnd.zebra-zpl";
  if (head.rfind("N\n", 0) == 0 || head.rfind("N\r\n", 0) == 0 || head.rfind("q", 0) == 0)
    return "application/vnd.eltron-epl";
  if (head.rfind("\x1b" "E", 0) == 0 || head.rfind("\x1b%-12345X", 0) == 0) return "application/vnd.hp-pcl";
  // A receipt begins with the initialise command; a TSPL label with its
  // size or a clear of the image buffer.
  if (head.rfind("\x1b@", 0) == 0) return "application/vnd.escpos";
  if (head.rfind("SIZE ", 0) == 0 || head.rfind("CLS\r", 0) == 0 || head.rfind("CLS\n", 0) == 0)
    return "application/vnd.tsc-tspl";
  return nullptr;
}

// Every printer PAPPL makes (Create-Printer, the web page, auto-add, the
// saved ones at start): its page's actions behind the administrators' gate,
// and its DNS-SD registration.
void PrinterMade(pappl_printer_t *printer, void *data) {
  security::ProtectPrinter(printer, data);
  PrinterCreated(printer, data);
}


// PAPPL 1.3.1 takes its locks in two orders: papplSystemSaveState holds the
// system lock and waits for each printer's, while a client thread that
// streams PWG or Apple raster to a busy printer holds that printer's lock
// and waits for the system's (answering server-error-busy). When both meet,
// the server hangs for good. A save runs only when no job has been worked on
// for two seconds (a printer is busy only while it prints a job). PAPPL does
// not ask again for a save its callback declined until the next change, so
// a declined save is left pending and made by the timer below once the jobs
// are quiet; at shutdown it is made whatever jobs do.
std::atomic<bool> gSavePending{false};

bool SaveState(pappl_system_t *system, void *) {
  if (!papplSystemIsShutdown(system) && !JobsQuietFor(2000)) {
    gSavePending = true;
    return false;
  }
  gSavePending = false;
  return papplSystemSaveState(system, gConfig.stateFile.c_str());
}

// Once a second on the main loop: a stop asked for by a signal becomes
// PAPPL's shutdown (the signal itself is taken by StopOnSignals), and the
// timer keeps the main loop from sleeping through it; a pending save is made
// once the jobs are quiet.
bool CheckStop(pappl_system_t *system, void *) {
  if (gStopping) {
    if (gSavePending.exchange(false)) papplSystemSaveState(system, gConfig.stateFile.c_str());
    papplSystemShutdown(system);
  } else if (gSavePending && JobsQuietFor(2000) && gSavePending.exchange(false)) {
    papplSystemSaveState(system, gConfig.stateFile.c_str());
  }
  // Every job runs on a thread of its own, and the C library keeps what
  // those threads freed in several heaps: it is handed back to the system
  // once the jobs are quiet, so that the server's size follows its load.
  static bool trimmed = false;
  if (!JobsQuietFor(2000)) trimmed = false;
  else if (!trimmed) trimmed = true, malloc_trim(0);
  return true;
}

// A system that only knows the drivers, for "drivers". Its spool is a fresh
// directory, removed when the command ends.
pappl_system_t *ListingSystem() {
  static std::string spool;
  char name[] = "/tmp/dotweave-app-XXXXXX";
  if (mkdtemp(name) == nullptr) return nullptr;
  spool = name;
  std::atexit([] { rmdir(spool.c_str()); });
  pappl_system_t *system = papplSystemCreate(PAPPL_SOPTIONS_NONE, "dotweave", 0, nullptr, spool.c_str(), "-",
                                             PAPPL_LOGLEVEL_ERROR, nullptr, false);
  if (system != nullptr)
    papplSystemSetPrinterDrivers(system, DriverCount(), Drivers(), nullptr, nullptr, DriverCallback, nullptr);
  return system;
}

pappl_system_t *SystemCallback(int num_options, cups_option_t *options, void *) {
  if (gConfig.listingOnly) return ListingSystem();
  const char *stateDir = cupsGetOption("state-directory", num_options, options);
  gConfig.stateDir = stateDir && *stateDir ? stateDir : DefaultStateDirectory();
  gConfig.stateFile = gConfig.stateDir + "/dotweave-app.state";
  const std::string spool = gConfig.stateDir + "/spool";
  const char *logOption = cupsGetOption("log-file", num_options, options);
  const std::string logFile = logOption ? logOption : gConfig.stateDir + "/dotweave-app.log";
  if (!MakeDirectory(gConfig.stateDir) || !MakeDirectory(spool)) {
    std::fprintf(stderr, "dotweave-app: cannot create the state directory %s: %s\n", gConfig.stateDir.c_str(),
                 std::strerror(errno));
    return nullptr;
  }
  gPaths.ppdDir = gConfig.stateDir + "/ppd";
  if (!WritePpds(gPaths.ppdDir)) {
    std::fprintf(stderr, "dotweave-app: cannot write the PPD files to %s: %s\n", gPaths.ppdDir.c_str(),
                 std::strerror(errno));
    return nullptr;
  }
  gPaths.testPage = gConfig.stateDir + "/testpage.png";
  if (!WriteTestPage(gPaths.testPage)) std::fprintf(stderr, "dotweave-app: cannot write %s\n", gPaths.testPage.c_str());
  const char *filter = std::getenv("DOTWEAVE_FILTER");
  gPaths.filter = filter && *filter ? filter : DOTWEAVE_FILTER_PATH;
  if (const char *gs = std::getenv("DOTWEAVE_GHOSTSCRIPT"); gs && *gs) gPaths.ghostscript = gs;
  gPaths.imageDecoder = ImageDecoderPath();
  if (access(gPaths.filter.c_str(), X_OK) != 0)
    std::fprintf(stderr, "dotweave-app: warning: the dotweave filter %s cannot be run: %s\n", gPaths.filter.c_str(),
                 std::strerror(errno));

  const char *portText = cupsGetOption("server-port", num_options, options);
  const int port = portText ? std::atoi(portText) : 0;
  const char *hostname = cupsGetOption("listen-hostname", num_options, options);
  const pappl_loglevel_t level = LogLevel(cupsGetOption("log-level", num_options, options));
  security::Configure(security::ReadSettings(num_options, options));
  if (const char *text = cupsGetOption("recovery-timeout", num_options, options)) {
    std::chrono::seconds timeout{};
    if (!status::ParseRecoveryTimeout(text, timeout)) {
      std::fprintf(stderr,
                   "dotweave-app: recovery-timeout must be a whole number of seconds from 0 to 604800, not "
                   "\"%s\"\n",
                   text);
      return nullptr;
    }
    status::SetRecoveryTimeout(timeout);
  }

  pappl_system_t *system = papplSystemCreate(
      static_cast<pappl_soptions_t>(PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE |
                                    PAPPL_SOPTIONS_WEB_LOG | PAPPL_SOPTIONS_WEB_SECURITY),
      "dotweave", port, "_print,_universal", spool.c_str(), logFile.c_str(), level, security::AuthServiceOrNull(),
      false);
  if (system == nullptr) return nullptr;
  RegisterSerialScheme();
  // A port that another program holds must stop the server with the reason,
  // not leave it running with nothing to answer on.
  if (!papplSystemAddListeners(system, hostname)) {
    std::fprintf(stderr, "dotweave-app: cannot listen on %s port %d: %s\n", hostname ? hostname : "all addresses",
                 port, std::strerror(errno));
    papplSystemDelete(system);
    return nullptr;
  }
  if (hostname) papplSystemSetHostName(system, hostname);
  papplSystemSetPrinterDrivers(system, DriverCount(), Drivers(), app::AutoAddDriver, PrinterMade, DriverCallback,
                               nullptr);
  AddDocumentFilters(system);
  if (!JobQueueInPlace())
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "PAPPL does not call the application's job queue: two jobs may print on "
                                           "one printer at once, and raster jobs to a busy printer are refused.");
  // The log file is rotated at 1 MiB (PAPPL keeps one old file beside it).
  papplSystemSetMaxLogSize(system, 1024 * 1024);
  papplSystemSetMIMECallback(system, DetectLanguage, nullptr);
  papplSystemSetFooterHTML(system, "dotweave " DOTWEAVE_APP_VERSION
                                   ": label, receipt and dot-matrix printers");
  pappl_version_t version{};
  std::snprintf(version.name, sizeof version.name, "dotweave-app");
  std::snprintf(version.sversion, sizeof version.sversion, DOTWEAVE_APP_VERSION);
  version.version[0] = 0;
  version.version[1] = 1;
  papplSystemSetVersions(system, 1, &version);
  papplSystemLoadState(system, gConfig.stateFile.c_str());
  security::Protect(system);
  papplSystemSetSaveCallback(system, SaveState, nullptr);
  status::StartPolling(system);
  AddStrings(system);
  papplSystemAddTimerCallback(system, 0, 1, CheckStop, nullptr);
  return system;
}

}  // namespace

void ListOnlyDrivers(bool only) { gConfig.listingOnly = only; }

// PAPPL 1.3.1 answers SIGTERM by finishing every job, queued ones included,
// before it stops. The server takes SIGTERM and SIGINT itself instead: they
// are blocked in every thread (PAPPL's threads inherit the mask) and one
// thread waits for them; the stop flag ends running jobs at once and the
// main loop's timer shuts PAPPL down; a second signal ends the process.
// Jobs end at once on the stop flag; PAPPL's own shutdown takes a moment.
constexpr time_t kStopGraceSeconds = 8;

void StopOnSignals() {
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  std::thread([stop] {
    int signal = 0;
    while (sigwait(&stop, &signal) != 0) {
    }
    gStopping = true;
    // A second signal stops it there and then, and so does the end of the
    // grace time: a shutdown that hangs (inside PAPPL, say) must not keep
    // the server running.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(kStopGraceSeconds);
    int second = -1;
    while (second < 0 && std::chrono::steady_clock::now() < until) {
      const timespec slice{0, 200 * 1000 * 1000};
      second = sigtimedwait(&stop, nullptr, &slice);
    }
    if (second < 0)
      std::fprintf(stderr, "dotweave-app: the server did not stop within %ld seconds of the signal; ending it.\n",
                   static_cast<long>(kStopGraceSeconds));
    std::_Exit(128 + (second > 0 ? second : signal));
  }).detach();
}

// Many client and job threads each get a malloc arena of their own, and
// freed memory stays in them: two arenas keep the server's size flat.
void LimitMallocArenas() { mallopt(M_ARENA_MAX, 2); }
}  // namespace app

// "add" and "modify" with a serial: device URI that cannot work are refused
// here, with the reason: PAPPL's answer to the request would only say that
// the driver cannot be used with the printer.
int CheckDeviceArguments(int argc, char *argv[]) {
  if (argc < 2 || (std::strcmp(argv[1], "add") != 0 && std::strcmp(argv[1], "modify") != 0)) return 0;
  for (int i = 2; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "-v") != 0) continue;
    const std::string why = dwserial::CheckSerialDeviceUri(argv[i + 1]);
    if (!why.empty()) {
      std::fprintf(stderr, "%s: %s: %s\n", argv[0], argv[i + 1], why.c_str());
      return 1;
    }
  }
  return 0;
}

int main(int argc, char *argv[]) {
  signal(SIGPIPE, SIG_IGN);  // a filter child that dies must not take the server with it
  app::ListOnlyDrivers(argc > 1 && std::strcmp(argv[1], "drivers") == 0);
  // "devices" lists ports in the client process. PAPPL adds its own schemes
  // (file, usb, socket, ...) only while it has none, so they go first.
  if (argc > 1 && std::strcmp(argv[1], "devices") == 0) app::RegisterSerialScheme();
  if (const int status = CheckDeviceArguments(argc, argv)) return status;
  if (const int status = app::ListDriversForDevice(argc, argv); status >= 0) return status;
  if (argc > 1 && std::strcmp(argv[1], "server") == 0) {
    app::LimitMallocArenas();
    app::StopOnSignals();
  }
  const int status = papplMainloop(argc, argv, DOTWEAVE_APP_VERSION, nullptr, app::DriverCount(), app::Drivers(),
                                   app::AutoAddDriver, app::DriverCallback, nullptr, nullptr, app::SystemCallback,
                                   nullptr, nullptr);
  if (status != 0) app::security::ExplainRefusedDevice(argc, argv);
  return status;
}
