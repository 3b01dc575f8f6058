// PDF documents: Ghostscript renders the pages at the printer's resolution and
// media size into CUPS raster (its "cups" device, as a CUPS queue would), and
// the pages go through the same bridge to the filter as PAPPL's raster pages.
#include <cups/raster.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

// A page turned by half a turn: the last line first and every line read
// from its end, pixel by pixel (1-bit black or 8-bit colour components).
void TurnHalf(std::vector<unsigned char> &page, const cups_page_header2_t &h) {
  const std::size_t bpl = h.cupsBytesPerLine, height = h.cupsHeight, width = h.cupsWidth;
  std::vector<unsigned char> turned(page.size(), 0);
  if (h.cupsBitsPerPixel == 1) {
    for (std::size_t y = 0; y < height; ++y) {
      const unsigned char *from = &page[(height - 1 - y) * bpl];
      unsigned char *to = &turned[y * bpl];
      for (std::size_t x = 0; x < width; ++x) {
        const std::size_t src = width - 1 - x;
        if (from[src / 8] & (0x80 >> (src % 8))) to[x / 8] = static_cast<unsigned char>(to[x / 8] | (0x80 >> (x % 8)));
      }
    }
  } else {
    const std::size_t pixel = h.cupsBitsPerPixel / 8;
    for (std::size_t y = 0; y < height; ++y) {
      const unsigned char *from = &page[(height - 1 - y) * bpl];
      unsigned char *to = &turned[y * bpl];
      for (std::size_t x = 0; x < width; ++x)
        std::memcpy(to + x * pixel, from + (width - 1 - x) * pixel, pixel);
    }
  }
  page.swap(turned);
}

// Every page Ghostscript renders, through the bridge. A job that asks for
// reverse-portrait gets its pages turned by half a turn (Ghostscript fits the
// page to the label upright). False when a page could not be passed on.
bool PrintPages(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device, cups_raster_t *ras,
                unsigned &pages) {
  const bool turn = options->orientation_requested == IPP_ORIENT_REVERSE_PORTRAIT;
  cups_page_header2_t header;
  std::vector<unsigned char> page;
  while (cupsRasterReadHeader2(ras, &header)) {
    if (papplJobIsCanceled(job)) return true;
    ++pages;
    options->header = header;
    const std::size_t bpl = header.cupsBytesPerLine;
    if (header.cupsBitsPerPixel != 1 && header.cupsBitsPerPixel % 8 != 0) {
      papplJobSetMessage(job, "Ghostscript made a page of %u bits per pixel.", header.cupsBitsPerPixel);
      return false;
    }
    page.assign(bpl * header.cupsHeight, 0);
    for (unsigned y = 0; y < header.cupsHeight; ++y) {
      if (cupsRasterReadPixels(ras, &page[y * bpl], header.cupsBytesPerLine) != header.cupsBytesPerLine) {
        papplJobSetMessage(job, "Ghostscript stopped in the middle of page %u.", pages);
        return false;
      }
    }
    if (turn) TurnHalf(page, header);
    if (!StartPage(job, options, device, pages)) return false;
    for (unsigned y = 0; y < header.cupsHeight; ++y)
      if (!WriteLine(job, options, device, y, &page[y * bpl])) return false;
    if (!EndPage(job, options, device, pages)) return false;
    papplJobSetImpressionsCompleted(job, 1);
  }
  return true;
}

// One rendering of the document: Ghostscript's pages through the bridge.
// False when a page could not be passed on or Ghostscript failed; then
// `gsFailed` is set and `why` holds Ghostscript's last words.
bool RenderOnce(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device,
                const catalogue::Printer &entry, const char *file, unsigned &pages, bool &gsFailed,
                std::string &why) {
  ChildProcess gs;
  if (!Spawn(GhostscriptArguments(entry, *options, file), CurrentEnvironment(), false, gs)) {
    papplJobSetMessage(job, "Unable to start Ghostscript (%s): %s", gPaths.ghostscript.c_str(), strerror(errno));
    return false;
  }
  std::string messages;
  std::thread reader(ReadMessages, gs.errors, &messages);
  const unsigned before = pages;
  cups_raster_t *ras = cupsRasterOpen(gs.output, CUPS_RASTER_READ);
  const bool ok = PrintPages(job, options, device, ras, pages);
  cupsRasterClose(ras);
  if (!ok || papplJobIsCanceled(job)) kill(gs.pid, SIGTERM);
  close(gs.output);
  const int status = Wait(gs.pid);
  reader.join();
  if (!messages.empty()) papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Ghostscript: %s", messages.c_str());
  gsFailed = !papplJobIsCanceled(job) && ok &&
             (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || pages == before);
  if (gsFailed) {
    while (!messages.empty() && (messages.back() == '\n' || messages.back() == '\r')) messages.pop_back();
    const std::size_t lastLine = messages.rfind('\n');
    why = lastLine == std::string::npos ? messages : messages.substr(lastLine + 1);
    return false;
  }
  return ok;
}

}  // namespace

// Every copy the job asks for is rendered anew: the pages are not kept.
bool PdfFilter(pappl_job_t *job, pappl_device_t *device, void *) {
  const catalogue::Printer *entry = PrinterOf(papplJobGetPrinter(job));
  const char *file = papplJobGetFilename(job);
  if (entry == nullptr || file == nullptr) return false;
  pappl_pr_options_t *options = papplJobCreatePrintOptions(job, 0, false);
  bool ok = StartJob(job, options, device);
  unsigned pages = 0;
  std::string why;
  bool gsFailed = false;
  for (int copy = 0; ok && copy < std::max(options->copies, 1) && !papplJobIsCanceled(job); ++copy) {
    ok = RenderOnce(job, options, device, *entry, file, pages, gsFailed, why);
  }
  if (ok || papplJobGetData(job)) ok = EndJob(job, options, device) && ok;
  if (gsFailed) {
    papplJobSetMessage(job, "Ghostscript could not render the PDF document%s%s", why.empty() ? "." : ": ",
                       why.c_str());
    ok = false;
  }
  papplJobDeletePrintOptions(options);
  return ok;
}

}  // namespace app
