// PDF documents: Ghostscript renders the pages at the printer's resolution and
// media size into CUPS raster (its "cups" device, as a CUPS queue would), and
// the pages go through the same bridge to the filter as PAPPL's raster pages.
#include <cups/raster.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "app/child_process.h"

namespace app {
namespace {

std::string Number(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", v);
  return buf;
}

std::vector<std::string> GhostscriptArguments(const catalogue::Printer &entry, const pappl_pr_options_t &o,
                                              const char *file) {
  const bool label = entry.kind == catalogue::Kind::Label;
  const double width = o.media.size_width * 72.0 / 2540.0, length = o.media.size_length * 72.0 / 2540.0;
  return {gPaths.ghostscript,
          "-q",
          "-dNOPAUSE",
          "-dBATCH",
          "-dSAFER",
          "-dNOINTERPOLATE",
          "-sDEVICE=cups",
          label ? "-dcupsColorSpace=3" : "-dcupsColorSpace=1",
          label ? "-dcupsBitsPerColor=1" : "-dcupsBitsPerColor=8",
          "-dcupsColorOrder=0",
          "-r" + std::to_string(o.printer_resolution[0]) + "x" + std::to_string(o.printer_resolution[1]),
          "-dDEVICEWIDTHPOINTS=" + Number(width),
          "-dDEVICEHEIGHTPOINTS=" + Number(length),
          "-dFIXEDMEDIA",
          "-dPDFFitPage",
          "-sOutputFile=%stdout",
          "-f",
          file};
}

// Ghostscript's messages, for the log and for the job's message on failure.
void ReadMessages(int fd, std::string *text) {
  char buf[4096];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) != 0;) {
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (text->size() < 16384) text->append(buf, static_cast<size_t>(n));
  }
  close(fd);
}

int Wait(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// Every page Ghostscript renders, through the bridge. False when a page
// could not be passed on.
bool PrintPages(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device, cups_raster_t *ras,
                unsigned &pages) {
  cups_page_header2_t header;
  std::vector<unsigned char> line;
  while (cupsRasterReadHeader2(ras, &header)) {
    if (papplJobIsCanceled(job)) return true;
    ++pages;
    options->header = header;
    if (!StartPage(job, options, device, pages)) return false;
    line.resize(header.cupsBytesPerLine);
    for (unsigned y = 0; y < header.cupsHeight; ++y) {
      if (cupsRasterReadPixels(ras, line.data(), header.cupsBytesPerLine) != header.cupsBytesPerLine) {
        papplJobSetMessage(job, "Ghostscript stopped in the middle of page %u.", pages);
        return false;
      }
      if (!WriteLine(job, options, device, y, line.data())) return false;
    }
    if (!EndPage(job, options, device, pages)) return false;
    papplJobSetImpressionsCompleted(job, 1);
  }
  return true;
}

}  // namespace

bool PdfFilter(pappl_job_t *job, pappl_device_t *device, void *) {
  const catalogue::Printer *entry = PrinterOf(papplJobGetPrinter(job));
  const char *file = papplJobGetFilename(job);
  if (entry == nullptr || file == nullptr) return false;
  pappl_pr_options_t *options = papplJobCreatePrintOptions(job, 0, false);
  ChildProcess gs;
  if (!Spawn(GhostscriptArguments(*entry, *options, file), CurrentEnvironment(), false, gs)) {
    papplJobSetMessage(job, "Unable to start Ghostscript (%s): %s", gPaths.ghostscript.c_str(), strerror(errno));
    papplJobDeletePrintOptions(options);
    return false;
  }
  std::string messages;
  std::thread reader(ReadMessages, gs.errors, &messages);
  bool ok = StartJob(job, options, device);
  unsigned pages = 0;
  if (ok) {
    cups_raster_t *ras = cupsRasterOpen(gs.output, CUPS_RASTER_READ);
    ok = PrintPages(job, options, device, ras, pages);
    cupsRasterClose(ras);
    if (!ok || papplJobIsCanceled(job)) kill(gs.pid, SIGTERM);
  } else {
    kill(gs.pid, SIGTERM);
  }
  close(gs.output);
  const int status = Wait(gs.pid);
  reader.join();
  const bool gsFailed = !papplJobIsCanceled(job) && ok &&
                        (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || pages == 0);
  if (!messages.empty()) papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Ghostscript: %s", messages.c_str());
  if (ok || papplJobGetData(job)) ok = EndJob(job, options, device) && ok;
  if (gsFailed) {
    while (!messages.empty() && (messages.back() == '\n' || messages.back() == '\r')) messages.pop_back();
    const std::size_t lastLine = messages.rfind('\n');
    const std::string detail = lastLine == std::string::npos ? messages : messages.substr(lastLine + 1);
    papplJobSetMessage(job, "Ghostscript could not render the PDF document%s%s", detail.empty() ? "." : ": ",
                       detail.c_str());
    ok = false;
  }
  papplJobDeletePrintOptions(options);
  return ok;
}

}  // namespace app
