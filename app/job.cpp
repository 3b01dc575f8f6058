// Printing a job: the job's raster pages become a CUPS raster stream on the
// standard input of a dotweave filter child, which gets the driver's PPD, the
// job's settings as filter options, PRINTER and DEVICE_URI, exactly as a CUPS
// queue would run it; what the child writes goes to the printer device. The
// filter keeps process-wide state and is not re-entrant, and PAPPL prints on
// several printers at once: one child per job keeps the jobs apart, and a
// filter that fails or crashes fails its job, never the server.
#include <cups/ppd.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "app/bridge.h"
#include "app/settings.h"
#include "app/child_process.h"
#include "app/status/poller.h"

namespace app {
namespace {

// One running filter child and the thread that copies its output to the device.
struct FilterChild {
  const catalogue::Printer *printer = nullptr;
  pid_t pid = -1;
  int toChild = -1;
  cups_raster_t *raster = nullptr;
  cups_page_header2_t headerTemplate{};  // the fields the PPD's options set
  std::thread pump;
  bool terminated = false;   // SIGTERM sent
  std::string failure;       // why, for the job's message
  BridgePage page;                  // the current page as the filter gets it
  std::vector<unsigned char> line;  // a converted line
  // Written by the pump thread, read after it has been joined.
  std::string lastError;     // the child's last ERROR line
  bool deviceFailed = false;
};

void CloseFd(int &fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

FilterChild *ChildOf(pappl_job_t *job) { return static_cast<FilterChild *>(papplJobGetData(job)); }

void Terminate(FilterChild &child) {
  if (child.pid > 0 && !child.terminated) {
    kill(child.pid, SIGTERM);
    child.terminated = true;
  }
}

std::string TrimmedLine(std::string line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

// One status line of the filter: ERROR lines become the job's message when
// it fails; at debug level every line goes to the log.
void FilterStatusLine(pappl_job_t *job, FilterChild &child, const std::string &raw) {
  const std::string line = TrimmedLine(raw);
  if (line.empty()) return;
  if (line.compare(0, 6, "ERROR:") == 0) {
    std::size_t start = 6;
    while (start < line.size() && line[start] == ' ') ++start;
    child.lastError = line.substr(start);
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Filter: %s", line.c_str());
  } else if (line.compare(0, 8, "WARNING:") == 0) {
    papplLogJob(job, PAPPL_LOGLEVEL_WARN, "Filter: %s", line.c_str());
  } else {
    papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Filter: %s", line.c_str());
  }
}

// Copies the child's standard output to the device and reads its status
// lines, until the child has closed both.
void Pump(pappl_job_t *job, pappl_device_t *device, FilterChild *child, int outFd, int errFd) {
  std::vector<unsigned char> buffer(65536);
  std::string pending;
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  int open = 2;
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (pollfd &p : fds) {
      if (p.fd < 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = read(p.fd, buffer.data(), buffer.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        close(p.fd);
        p.fd = -1;
        --open;
        continue;
      }
      if (p.fd == outFd) {
        if (child->deviceFailed) continue;  // drain, so that the child can finish
        if (papplDeviceWrite(device, buffer.data(), static_cast<size_t>(n)) < 0) {
          child->deviceFailed = true;
          papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to write to the printer: %s", strerror(errno));
        }
      } else {
        pending.append(reinterpret_cast<const char *>(buffer.data()), static_cast<size_t>(n));
        for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos; pending.erase(0, nl + 1))
          FilterStatusLine(job, *child, pending.substr(0, nl));
        if (pending.size() > 4096) FilterStatusLine(job, *child, pending), pending.clear();
      }
    }
  }
  if (!pending.empty()) FilterStatusLine(job, *child, pending);
  if (!child->deviceFailed) papplDeviceFlush(device);
}

std::vector<std::string> ChildEnvironment(pappl_printer_t *printer, const catalogue::Printer &entry) {
  std::vector<std::string> env;
  for (std::string &v : CurrentEnvironment()) {
    if (v.rfind("PPD=", 0) == 0 || v.rfind("PRINTER=", 0) == 0 || v.rfind("DEVICE_URI=", 0) == 0) continue;
    env.push_back(std::move(v));
  }
  env.push_back("PPD=" + gPaths.ppdDir + "/" + entry.fileName());
  env.push_back(std::string("PRINTER=") + papplPrinterGetName(printer));
  const char *uri = papplPrinterGetDeviceURI(printer);
  env.push_back(std::string("DEVICE_URI=") + (uri ? uri : ""));
  return env;
}

// Starts the filter with its standard streams on three pipes.
bool SpawnFilter(pappl_job_t *job, FilterChild &child, const std::string &optionArgument, int &outFd,
                 int &errFd) {
  std::vector<std::string> args = {gPaths.filter, std::to_string(papplJobGetID(job)),
                                   papplJobGetUsername(job) ? papplJobGetUsername(job) : "guest",
                                   papplJobGetName(job) ? papplJobGetName(job) : "", "1", optionArgument};
  ChildProcess process;
  if (!Spawn(std::move(args), ChildEnvironment(papplJobGetPrinter(job), *child.printer), true, process)) return false;
  child.pid = process.pid;
  child.toChild = process.input;
  outFd = process.output;
  errFd = process.errors;
  return true;
}

// The raster header fields that the PPD's marked options set (darkness in
// cupsCompression, MediaType, CutMedia, cupsRowStep, ...), as CUPS computes
// them for a queue with this PPD.
bool HeaderTemplate(const catalogue::Printer &entry, const std::string &optionArgument,
                    cups_page_header2_t &header) {
  const std::string path = gPaths.ppdDir + "/" + entry.fileName();
  ppd_file_t *ppd = ppdOpenFile(path.c_str());
  if (ppd == nullptr) return false;
  ppdMarkDefaults(ppd);
  cups_option_t *options = nullptr;
  const int count = cupsParseOptions(optionArgument.c_str(), 0, &options);
  cupsMarkOptions(ppd, count, options);
  std::memset(&header, 0, sizeof header);
  const bool ok = cupsRasterInterpretPPD(&header, ppd, 0, nullptr, nullptr) == 0;
  cupsFreeOptions(count, options);
  ppdClose(ppd);
  return ok;
}

const char *TrackingKeywordOf(pappl_media_tracking_t tracking) {
  switch (tracking) {
    case PAPPL_MEDIA_TRACKING_CONTINUOUS: return "continuous";
    case PAPPL_MEDIA_TRACKING_GAP: return "gap";
    case PAPPL_MEDIA_TRACKING_MARK: return "mark";
    case PAPPL_MEDIA_TRACKING_WEB: return "web";
  }
  return "";
}

const char *LabelModeKeywordOf(pappl_label_mode_t mode) {
  switch (mode) {
    case PAPPL_LABEL_MODE_APPLICATOR: return "applicator";
    case PAPPL_LABEL_MODE_CUTTER: return "cutter";
    case PAPPL_LABEL_MODE_PEEL_OFF: return "peel-off";
    case PAPPL_LABEL_MODE_REWIND: return "rewind";
    case PAPPL_LABEL_MODE_TEAR_OFF: return "tear-off";
    default: return "";
  }
}

// An attribute's value as the text the settings table compares.
std::string AttributeText(ipp_attribute_t *attr) {
  char buffer[256];
  ippAttributeString(attr, buffer, sizeof buffer);
  return buffer;
}

IppSettings SettingsOf(pappl_job_t *job, const pappl_pr_options_t &options, const catalogue::Printer &entry) {
  pappl_printer_t *printer = papplJobGetPrinter(job);
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  IppSettings s;
  s.darknessConfigured = options.darkness_configured;
  s.printDarkness = options.print_darkness;
  s.printSpeed = options.print_speed;
  s.photo = options.print_content_optimize == PAPPL_CONTENT_PHOTO;
  if (entry.FindMapped(catalogue::IppMapping::MediaType)) s.mediaType = options.media.type;
  s.mediaTracking = TrackingKeywordOf(options.media.tracking);
  s.labelMode = LabelModeKeywordOf(data.mode_configured);
  for (int i = 0; i < options.num_vendor; ++i)
    s.vendor.emplace_back(options.vendor[i].name, options.vendor[i].value);
  // The printer's defaults for what the job does not say.
  ipp_t *attrs = papplPrinterGetDriverAttributes(printer);
  for (const catalogue::Option &o : entry.options) {
    if (o.mapping != catalogue::IppMapping::Vendor) continue;
    bool given = false;
    for (const OptionValue &v : s.vendor) given = given || v.first == o.ippName;
    if (given) continue;
    if (ipp_attribute_t *job_attr = papplJobGetAttribute(job, o.ippName.c_str()))
      s.vendor.emplace_back(o.ippName, AttributeText(job_attr));
    else if (ipp_attribute_t *def = ippFindAttribute(attrs, (o.ippName + "-default").c_str(), IPP_TAG_ZERO))
      s.vendor.emplace_back(o.ippName, AttributeText(def));
  }
  ippDelete(attrs);
  return s;
}

void FailJob(pappl_job_t *job, FilterChild &child, const std::string &why) {
  if (child.failure.empty()) child.failure = why;
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", why.c_str());
}

// Waits for the child and turns how it ended into the job's result.
bool FinishChild(pappl_job_t *job, FilterChild &child) {
  if (child.raster) cupsRasterClose(child.raster), child.raster = nullptr;
  CloseFd(child.toChild);
  if (child.pump.joinable()) child.pump.join();
  int status = 0;
  if (child.pid > 0) {
    while (waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  child.pid = -1;
  if (papplJobIsCanceled(job)) return true;
  // The most telling reason first: a crash, then the filter's own ERROR line,
  // then what the application saw go wrong.
  std::string why;
  if (child.deviceFailed) why = "Unable to send the job to the printer.";
  else if (WIFSIGNALED(status)) why = "The dotweave filter crashed (signal " + std::to_string(WTERMSIG(status)) + ").";
  else if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
    why = child.lastError.empty() ? "The dotweave filter failed with status " + std::to_string(WEXITSTATUS(status)) + "."
                                  : child.lastError;
  else why = child.failure;
  if (why.empty()) return true;
  papplJobSetMessage(job, "%s", why.c_str());
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", why.c_str());
  return false;
}

// PAPPL ends a job whose page or line callback failed without calling the
// end-job callback: the child is reaped and the job's reason set right away.
bool AbortChild(pappl_job_t *job) {
  FilterChild *child = ChildOf(job);
  if (child == nullptr) return false;
  Terminate(*child);
  FinishChild(job, *child);
  papplJobSetData(job, nullptr);
  delete child;
  return false;
}

// PNG images above this size are refused: a 4 x 6 inch label at 600 dpi is
// 2400 x 3600 pixels, a US letter page at 300 dpi 2550 x 3300.
constexpr std::uint64_t kMaxPngPixels = 64ull * 1000 * 1000;

// The pixel count a PNG document's header declares, 0 when it has none.
std::uint64_t PngPixels(const char *filename) {
  unsigned char head[24];
  FILE *f = filename ? std::fopen(filename, "rb") : nullptr;
  if (f == nullptr) return 0;
  const std::size_t n = std::fread(head, 1, sizeof head, f);
  std::fclose(f);
  if (n < sizeof head || std::memcmp(head, "\x89PNG\r\n\x1a\n", 8) != 0 || std::memcmp(head + 12, "IHDR", 4) != 0)
    return 0;
  auto be32 = [&](int at) {
    return (std::uint64_t{head[at]} << 24) | (std::uint64_t{head[at + 1]} << 16) | (std::uint64_t{head[at + 2]} << 8) |
           head[at + 3];
  };
  return be32(16) * be32(20);
}

}  // namespace

bool StartJob(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device) {
  const catalogue::Printer *entry = PrinterOf(papplJobGetPrinter(job));
  if (entry == nullptr) {
    papplJobSetMessage(job, "The printer's driver is unknown.");
    return false;
  }
  status::BeforeJob(job, device);
  if (PngPixels(papplJobGetFilename(job)) > kMaxPngPixels) {
    papplJobSetMessage(job, "The PNG image is too large to print.");
    return false;
  }
  const FilterSettings settings = MapSettings(*entry, SettingsOf(job, *options, *entry));
  if (!settings.error.empty()) {
    papplJobSetMessage(job, "%s.", settings.error.c_str());
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s.", settings.error.c_str());
    return false;
  }
  auto child = std::make_unique<FilterChild>();
  child->printer = entry;
  const std::string argument = FilterOptionArgument(settings.options);
  if (!HeaderTemplate(*entry, argument, child->headerTemplate)) {
    papplJobSetMessage(job, "Unable to read the driver's PPD file %s/%s.", gPaths.ppdDir.c_str(),
                       entry->fileName().c_str());
    return false;
  }
  int outFd = -1, errFd = -1;
  if (!SpawnFilter(job, *child, argument, outFd, errFd)) {
    papplJobSetMessage(job, "Unable to start the dotweave filter %s: %s", gPaths.filter.c_str(), strerror(errno));
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to start the dotweave filter %s: %s", gPaths.filter.c_str(),
                strerror(errno));
    return false;
  }
  papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Filter options: %s", argument.c_str());
  child->pump = std::thread(Pump, job, device, child.get(), outFd, errFd);
  child->raster = cupsRasterOpen(child->toChild, CUPS_RASTER_WRITE);
  FilterChild *raw = child.release();
  papplJobSetData(job, raw);
  if (raw->raster == nullptr) {
    FailJob(job, *raw, "Unable to write the raster stream to the filter.");
    EndJob(job, options, device);
    return false;
  }
  return true;
}

bool StartPage(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *, unsigned) {
  FilterChild *child = ChildOf(job);
  if (child == nullptr) return false;
  child->page = BridgePageOf(*child->printer, child->headerTemplate, options->header);
  if (!child->page.error.empty()) {
    FailJob(job, *child, child->page.error);
    return AbortChild(job);
  }
  cups_page_header2_t &header = child->page.header;
  if (!cupsRasterWriteHeader2(child->raster, &header)) {
    FailJob(job, *child, "The filter stopped reading the job.");
    return AbortChild(job);
  }
  return true;
}

bool WriteLine(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *, unsigned,
               const unsigned char *line) {
  FilterChild *child = ChildOf(job);
  if (child == nullptr) return false;
  if (papplJobIsCanceled(job)) return AbortChild(job);
  const std::span<const unsigned char> out = BridgeLine(child->page, options->header, line, child->line);
  const auto bytes = static_cast<unsigned>(out.size());
  if (cupsRasterWritePixels(child->raster, const_cast<unsigned char *>(out.data()), bytes) != bytes) {
    FailJob(job, *child, "The filter stopped reading the job.");
    return AbortChild(job);
  }
  return true;
}

bool EndPage(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *, unsigned) {
  FilterChild *child = ChildOf(job);
  if (child && papplJobIsCanceled(job)) return AbortChild(job);
  return child != nullptr;
}

bool EndJob(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *device) {
  FilterChild *child = ChildOf(job);
  if (child == nullptr) return false;
  if (papplJobIsCanceled(job)) Terminate(*child);
  const bool ok = FinishChild(job, *child);
  papplJobSetData(job, nullptr);
  delete child;
  status::AfterJob(job, device);
  return ok;
}

bool PrintFile(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *device) {
  const char *filename = papplJobGetFilename(job);
  const int fd = filename ? open(filename, O_RDONLY | O_CLOEXEC) : -1;
  if (fd < 0) {
    papplJobSetMessage(job, "Unable to open the document: %s", strerror(errno));
    return false;
  }
  status::BeforeJob(job, device);
  std::vector<unsigned char> buffer(65536);
  bool ok = true;
  for (;;) {
    if (papplJobIsCanceled(job)) break;
    const ssize_t n = read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      papplJobSetMessage(job, "Unable to read the document: %s", strerror(errno));
      ok = false;
      break;
    }
    if (n == 0) break;
    if (papplDeviceWrite(device, buffer.data(), static_cast<size_t>(n)) < 0) {
      papplJobSetMessage(job, "Unable to send the job to the printer.");
      ok = false;
      break;
    }
  }
  close(fd);
  if (ok) papplDeviceFlush(device);
  status::AfterJob(job, device);
  return ok;
}

}  // namespace app
