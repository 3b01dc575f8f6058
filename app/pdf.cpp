// PDF documents: Ghostscript renders the pages at the printer's resolution and
// media size into CUPS raster (its "cups" device, as a CUPS queue would), and
// the pages go through the same bridge to the filter as PAPPL's raster pages.
#include <cups/raster.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <chrono>
#include <vector>

#include "app/app.h"
#include "app/child_process.h"
#include "app/convert/supervised_child.h"

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

// libcups's raster reader takes Ghostscript's output from here.
ssize_t ReadFromGhostscript(void *context, unsigned char *buffer, size_t length) {
  return static_cast<convert::SupervisedChild *>(context)->Read(buffer, length);
}

// One rendering of the document: Ghostscript's pages through the bridge,
// Ghostscript stopped when the job is canceled, the server stops or the
// document's time is up. False when a page could not be passed on or
// Ghostscript failed; then `gsFailed` is set and `why` holds its last words.
bool RenderOnce(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device,
                const catalogue::Printer &entry, const char *file, std::chrono::milliseconds limit,
                convert::LogBudget &budget, unsigned &pages, bool &gsFailed, std::string &why) {
  convert::SupervisedChild gs(job, "Ghostscript", budget);
  gs.SetDeadline(limit);
  if (!gs.Start(GhostscriptArguments(entry, *options, file), CurrentEnvironment(), -1)) {
    papplJobSetMessage(job, "Unable to start Ghostscript (%s): %s", gPaths.ghostscript.c_str(), strerror(errno));
    return false;
  }
  const unsigned before = pages;
  cups_raster_t *ras = cupsRasterOpenIO(ReadFromGhostscript, &gs, CUPS_RASTER_READ);
  const bool ok = PrintPages(job, options, device, ras, pages);
  cupsRasterClose(ras);
  if (!ok || papplJobIsCanceled(job)) gs.Kill("The job was stopped.");
  const bool stopped = gs.stopped() && !gs.canceled() && ok;
  const int status = gs.Finish();
  gsFailed = !papplJobIsCanceled(job) && ok &&
             (stopped || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || pages == before);
  if (gsFailed && convert::CanceledAfterAll(job)) gsFailed = false;  // its document removed by Cancel-Job
  if (gsFailed) {
    why = stopped ? gs.stopReason() : gs.lastError();
    return false;
  }
  return ok;
}

}  // namespace

// Every copy the job asks for is rendered anew: the pages are not kept.
bool PdfFilter(pappl_job_t *job, pappl_device_t *device, void *) {
  const JobActivity active(job);
  if (!active.owns()) return false;
  if (papplJobIsCanceled(job)) return true;  // canceled before it started: PAPPL has removed the document
  const catalogue::Printer *entry = PrinterOf(papplJobGetPrinter(job));
  const char *file = papplJobGetFilename(job);
  if (file == nullptr && convert::CanceledAfterAll(job)) return true;  // PAPPL removes a canceled job's document
  if (entry == nullptr || file == nullptr) return false;
  pappl_pr_options_t *options = papplJobCreatePrintOptions(job, 0, false);
  bool ok = StartJob(job, options, device);
  unsigned pages = 0;
  std::string why;
  bool gsFailed = false;
  struct stat st {};
  stat(file, &st);
  convert::LogBudget budget;
  for (int copy = 0; ok && copy < std::max(options->copies, 1) && !papplJobIsCanceled(job) &&
                     !convert::ServerStopping(job);
       ++copy) {
    ok = RenderOnce(job, options, device, *entry, file, convert::ConversionTime(st.st_size), budget, pages,
                    gsFailed, why);
  }
  if (ok || papplJobGetData(job)) ok = EndJob(job, options, device) && ok;
  if (gsFailed) {
    papplJobSetMessage(job, "Ghostscript could not render the PDF document%s%s", why.empty() ? "." : ": ",
                       why.c_str());
    ok = false;
  }
  papplJobDeletePrintOptions(options);
  return ok || papplJobIsCanceled(job);  // PAPPL would call a canceled job that failed aborted
}

}  // namespace app
