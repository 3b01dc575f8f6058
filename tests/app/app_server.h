#pragma once
// A private dotweave-app server for tests: its own state directory and a
// free loopback port, printers on file: devices inside the directory, jobs
// sent over IPP with libcups. The server is stopped and the directory
// removed when the object goes, whether the test passed or not.
#include <cups/cups.h>
#include <sys/types.h>

#include <atomic>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/harness.h"

namespace dwtest {

struct JobOutcome {
  int id = 0;
  std::string name;                           // job-name, which names its output file
  ipp_status_t submitStatus = IPP_STATUS_OK;  // of the Print-Job request
  std::string submitMessage;
  ipp_jstate_t state = IPP_JSTATE_PENDING;
  std::string message;   // job-state-message
  std::string reasons;   // job-state-reasons
};

class AppServer {
 public:
  // `env` is added to the server's environment (DOTWEAVE_FILTER, say), but
  // for "option:NAME" entries, which are server options (-o NAME=VALUE);
  // `stateDir` is a state directory to start on (a new one if empty).
  explicit AppServer(std::map<std::string, std::string> env = {}, std::string stateDir = "");
  ~AppServer();
  AppServer(const AppServer &) = delete;
  AppServer &operator=(const AppServer &) = delete;

  bool running() const { return pid_ > 0; }
  int port() const { return port_; }
  pid_t pid() const { return pid_; }
  const std::string &stateDir() const { return stateDir_; }
  std::string systemUri() const;
  std::string printerUri(const std::string &name) const;
  std::string log() const;  // the server's log file
  std::string jobLog() const;  // its lines about jobs, for failure messages

  // Runs a dotweave-app sub-command against this server ("-u" added), under
  // the server's own program name, whose local socket is this server's.
  FilterResult Command(const std::string &subcommand, std::vector<std::string> args, const std::string &uri = "");

  // A printer attribute from Get-Printer-Attributes as text ("" when the
  // printer does not give it): "printer-state-reasons" -> "media-empty,paused".
  std::string PrinterAttribute(const std::string &printer, const std::string &name);

  // Set-Printer-Attributes of one integer attribute (a NAME-default, say).
  bool SetPrinterInteger(const std::string &printer, const std::string &name, int value);

  // Adds a printer whose device writes one file per job into outDir(name).
  bool AddPrinter(const std::string &name, const std::string &driver, std::string deviceUri = "");
  std::string outDir(const std::string &name) const { return stateDir_ + "/out-" + name; }

  // Print-Job of `file` with job attributes as CUPS options ("print-darkness=80 ...").
  JobOutcome Submit(const std::string &printer, const std::string &file, const std::string &format,
                    const std::string &options = "");
  // Submit, then wait until the job has ended (30 s at most).
  JobOutcome Print(const std::string &printer, const std::string &file, const std::string &format,
                   const std::string &options = "");
  JobOutcome Wait(const std::string &printer, JobOutcome job, int seconds = 30);
  // Cancel-Job; true when the server accepted it.
  bool Cancel(const std::string &printer, int jobId);
  // Get-Printer-Attributes answered within `seconds`.
  bool Answers(const std::string &printer, int seconds = 5) const;
  // What the job sent to the printer's device.
  std::string Output(const std::string &printer, const JobOutcome &job) const;

  // An HTTP GET of one of the web interface's pages: status and body.
  std::pair<int, std::string> HttpGet(const std::string &path) const;

  // Stops the server with SIGTERM; its exit status (128 + signal if killed).
  int Stop();
  long RssKilobytes() const;
  // The server's threads, open descriptors and living child processes.
  int ThreadCount() const;
  int DescriptorCount() const;
  std::vector<pid_t> Children() const;

 private:
  void Start(std::map<std::string, std::string> env);
  void RemoveLocalSocket() const;
  std::string binary_;  // dotweave-app under this server's own name
  std::optional<TempDir> ownDir_;
  std::string stateDir_;
  int port_ = 0;
  pid_t pid_ = -1;
  std::atomic<int> jobCounter_{0};
};

// Built binaries and generated files.
std::string AppBinary();
// LSAN_OPTIONS for dotweave-app processes: what PAPPL and libcups keep to the end is not reported.
std::string LsanOptions();
std::string PpdPath(const std::string &driver);

// Writes an 8-bit gray or 24-bit RGB PNG (no scaling: pHYs gives `dpi`).
std::string PngFile(const TempDir &dir, const std::string &name, unsigned width, unsigned height,
                    const Bytes &pixels, unsigned channels, unsigned dpi);

// The 8-bit gray page (sgray_8, what a client sends a black-only printer)
// of an RGB page whose pixels are gray (equal components).
RasterPage GrayPageOf(const RasterPage &rgb);

// A PWG raster file of the pages (libcups's PWG writer).
std::string PwgRasterFile(const TempDir &dir, const std::string &name, const std::vector<RasterPage> &pages);

}  // namespace dwtest
