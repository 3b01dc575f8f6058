// Printing a job: the job's raster pages become a CUPS raster stream on the
// standard input of a dotweave filter child, which gets the driver's PPD, the
// job's settings as filter options, PRINTER and DEVICE_URI, exactly as a CUPS
// queue would run it; what the child writes goes to the printer through the
// job's delivery (status/recovery.h), which keeps each page until the
// printer has it and waits for a printer that is away. A page goes to the
// filter only once the filter has said the page before is all written, so
// that the printer's bytes can be cut into whole pages. The filter keeps process-wide state and is not re-entrant, and PAPPL prints on
// several printers at once: one child per job keeps the jobs apart, and a
// filter that fails or crashes fails its job, never the server.
//
// Everything of a job happens in the thread PAPPL prints it from: the raster
// is written to the child, the child's output copied to the device and its
// messages logged in one loop (convert::SupervisedChild) that also watches
// for cancel and shutdown. No thread of ours calls into PAPPL.
#include <cups/ppd.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/bridge.h"
#include "app/child_process.h"
#include "app/convert/supervised_child.h"
#include "app/settings.h"
#include "app/status/recovery.h"

namespace app {
namespace {

using namespace std::chrono_literals;

// A filter that neither reads nor writes for this long has hung.
constexpr auto kFilterStallLimit = 120s;

// What PAPPL keeps for a job between its raster callbacks: the filter
// child, the page being passed on, and how the job has gone so far.
struct JobState {
  explicit JobState(pappl_job_t *job) : active(job) {}
  JobActivity active;
  const catalogue::Printer *printer = nullptr;
  std::unique_ptr<status::Delivery> delivery;
  convert::LogBudget budget;
  std::unique_ptr<convert::SupervisedChild> filter;
  cups_raster_t *raster = nullptr;
  cups_page_header2_t headerTemplate{};  // the fields the PPD's options set
  std::string failure;                   // why, for the job's message
  BridgePage page;                       // the current page as the filter gets it
  std::vector<unsigned char> line;       // a converted line
  std::recursive_mutex inUse;            // held by the callback working on it
  unsigned linesWritten = 0;             // of the current page
  unsigned pagesStarted = 0;
  // The filter's word that its setup, and each page, are all written: what
  // lets a page be sent again whole after the printer was lost.
  bool setupSent = false;
  unsigned pagesSent = 0;
};

// A job's state is taken from the job under this lock, so that only one
// thread ends it, and each callback holds the state's `inUse` while it
// works on it, so that it is not deleted under the callback.
std::mutex gStateLock;

JobState *StateOf(pappl_job_t *job) {
  std::lock_guard<std::mutex> lock(gStateLock);
  return static_cast<JobState *>(papplJobGetData(job));
}

// libcups's raster writer hands its bytes here, and they go to the filter.
ssize_t RasterToFilter(void *context, unsigned char *buffer, size_t length) {
  auto *state = static_cast<JobState *>(context);
  return state->filter->Write(buffer, length) ? static_cast<ssize_t>(length) : -1;
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

// Starts the filter with its standard input on a pipe and its output going
// to the device.
bool SpawnFilter(pappl_job_t *job, JobState &state, const std::string &optionArgument) {
  std::vector<std::string> args = {gPaths.filter, std::to_string(papplJobGetID(job)),
                                   papplJobGetUsername(job) ? papplJobGetUsername(job) : "guest",
                                   papplJobGetName(job) ? papplJobGetName(job) : "", "1", optionArgument};
  state.filter = std::make_unique<convert::SupervisedChild>(job, "Filter", state.budget);
  state.filter->SetStallLimit(kFilterStallLimit);
  state.filter->sink = [&state](const unsigned char *data, std::size_t size) {
    state.delivery->Add(data, size);
    return true;
  };
  state.filter->onLine = [&state](const std::string &line) {
    unsigned page = 0;
    char end = 0;
    if (line == "DEBUG: Job setup sent.") state.setupSent = true;
    else if (std::sscanf(line.c_str(), "DEBUG: Page %u sent%c", &page, &end) == 2 && end == '.')
      state.pagesSent = std::max(state.pagesSent, page);
  };
  return state.filter->Start(std::move(args), ChildEnvironment(papplJobGetPrinter(job), *state.printer), -2);
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

void FailJob(pappl_job_t *job, JobState &state, const std::string &why) {
  if (state.failure.empty()) state.failure = why;
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", why.c_str());
}

// Ends the filter (its output all sent, or it killed when the job was
// canceled or the server stops) and turns how it ended into the job's result.
bool FinishChild(pappl_job_t *job, JobState &state) {
  if (state.raster) cupsRasterClose(state.raster), state.raster = nullptr;
  int status = 0;
  std::string stopped;
  bool killed = false;
  if (state.filter) {
    // A filter that has ended already is not signalled.
    // A filter that stopped reading may be ending on its own (a crash).
    if (papplJobIsCanceled(job)) state.filter->Kill("The job was canceled.");
    else if (!state.failure.empty()) state.filter->CloseInput(), state.filter->Kill("The job was stopped.", 500ms);
    else state.filter->Drain();
    if (state.filter->stopped() && !state.filter->canceled() && state.failure.empty())
      stopped = state.filter->stopReason();
    killed = state.filter->stopped();
    status = state.filter->Finish();
  }
  // A job the filter finished whole gets its last page to the printer,
  // waiting for the printer if need be; of any other only what is out goes.
  const bool whole = state.filter && state.failure.empty() && stopped.empty() && WIFEXITED(status) &&
                     WEXITSTATUS(status) == 0;
  bool delivered = true;
  if (state.delivery && whole && !papplJobIsCanceled(job)) delivered = state.delivery->EndOfPage();
  else if (state.delivery && !state.delivery->failed()) papplDeviceFlush(state.delivery->device());
  if (papplJobIsCanceled(job)) return true;
  // The most telling reason first: a crash, then the filter's own ERROR line,
  // then what the application saw go wrong.
  std::string why;
  if (!delivered)
    why = state.delivery->failure().empty() ? "Unable to send the job to the printer." : state.delivery->failure();
  else if (!stopped.empty()) why = stopped;
  else if (WIFSIGNALED(status) && !killed)
    why = "The dotweave filter crashed (signal " + std::to_string(WTERMSIG(status)) + ").";
  else if (!state.failure.empty()) why = state.failure;
  else if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
    why = state.filter->lastError().empty()
              ? "The dotweave filter failed with status " + std::to_string(WEXITSTATUS(status)) + "."
              : state.filter->lastError();
  if (why.empty()) return true;
  papplJobSetMessage(job, "%s", why.c_str());
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", why.c_str());
  return false;
}

// Before a page goes to the filter, what the filter made of the page before
// (or its setup, before the first) goes to the printer: the filter's word
// that it is all written is awaited, so that a page the printer lost can be
// sent again whole; the next page waits while the printer is away.
bool SendFinishedPart(pappl_job_t *job, JobState &state) {
  const unsigned before = state.pagesStarted;
  const bool marked = state.filter->ServiceUntil(
      [&state, before] { return before == 0 ? state.setupSent : state.pagesSent >= before; });
  if (!marked) {
    FailJob(job, state, "The dotweave filter ended before the page was finished.");
    return false;
  }
  if (before == 0) {
    state.delivery->EndOfSetup();
    return true;
  }
  const bool sent = state.delivery->EndOfPage();
  state.filter->Touch();
  if (!sent && !papplJobIsCanceled(job)) FailJob(job, state, state.delivery->failure());
  return sent;
}

// Frees the job's state, its filter ended first.
bool EndState(pappl_job_t *job) {
  JobState *state = nullptr;
  {
    std::lock_guard<std::mutex> lock(gStateLock);
    state = static_cast<JobState *>(papplJobGetData(job));
    if (state == nullptr) return false;
    papplJobSetData(job, nullptr);
  }
  bool ok;
  {
    std::lock_guard<std::recursive_mutex> busy(state->inUse);
    ok = FinishChild(job, *state);
  }
  delete state;
  return ok;
}

// PAPPL ends a job whose page or line callback failed without calling the
// end-job callback: the child is reaped and the job's reason set right away.
bool AbortChild(pappl_job_t *job) {
  EndState(job);
  return false;
}

std::atomic<int> gActiveJobs{0};
std::atomic<long long> gLastActivity{0};

long long NowMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

// Which job our callbacks work on for each printer, and how many claims of
// that job are alive (a PDF job claims in its filter and in StartJob).
std::mutex gClaimLock;
std::map<pappl_printer_t *, std::pair<pappl_job_t *, int>> gClaims;
std::condition_variable gClaimReleased;

JobActivity::JobActivity(pappl_job_t *job) : job_(job) {
  ++gActiveJobs;
  gLastActivity = NowMilliseconds();
  std::unique_lock<std::mutex> lock(gClaimLock);
  auto &claim = gClaims[papplJobGetPrinter(job)];
  if (claim.second == 0 || claim.first == job) {
    claim = {job, claim.second + 1};
    owns_ = true;
    return;
  }
  // The device PAPPL handed this job is the other job's: it is not touched,
  // and this job ends only after the other has, so that PAPPL does not close
  // the device under it.
  const int other = papplJobGetID(claim.first);
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "PAPPL started this job while job %d was printing on the same printer.",
              other);
  // Bounded: a job PAPPL dropped without its end-job callback would hold
  // the claim for good.
  gClaimReleased.wait_for(lock, std::chrono::seconds(30), [&] {
    const auto it = gClaims.find(papplJobGetPrinter(job));
    return it == gClaims.end() || it->second.second == 0;
  });
  papplJobSetMessage(job, "Job %d was printing on this printer when this one was started: it was not printed.", other);
}

JobActivity::~JobActivity() {
  if (owns_) {
    std::lock_guard<std::mutex> lock(gClaimLock);
    auto it = gClaims.find(papplJobGetPrinter(job_));
    if (it != gClaims.end() && --it->second.second == 0) gClaims.erase(it), gClaimReleased.notify_all();
  }
  gLastActivity = NowMilliseconds();
  --gActiveJobs;
}

bool JobInHand(pappl_printer_t *printer) {
  std::lock_guard<std::mutex> lock(gClaimLock);
  const auto it = gClaims.find(printer);
  return it != gClaims.end() && it->second.second > 0;
}

bool JobsQuietFor(long long quietMilliseconds) {
  return gActiveJobs == 0 && NowMilliseconds() - gLastActivity >= quietMilliseconds;
}

bool StartJob(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device) {
  const catalogue::Printer *entry = PrinterOf(papplJobGetPrinter(job));
  if (entry == nullptr) {
    papplJobSetMessage(job, "The printer's driver is unknown.");
    return false;
  }
  const FilterSettings settings = MapSettings(*entry, SettingsOf(job, *options, *entry));
  if (!settings.error.empty()) {
    papplJobSetMessage(job, "%s.", settings.error.c_str());
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s.", settings.error.c_str());
    return false;
  }
  auto state = std::make_unique<JobState>(job);
  if (!state->active.owns()) return false;
  state->printer = entry;
  state->delivery = std::make_unique<status::Delivery>(job, device);
  if (!state->delivery->Ready()) {
    if (!papplJobIsCanceled(job)) papplJobSetMessage(job, "%s", state->delivery->failure().c_str());
    return false;
  }
  const std::string argument = FilterOptionArgument(settings.options);
  if (!HeaderTemplate(*entry, argument, state->headerTemplate)) {
    papplJobSetMessage(job, "Unable to read the driver's PPD file %s/%s.", gPaths.ppdDir.c_str(),
                       entry->fileName().c_str());
    return false;
  }
  if (!SpawnFilter(job, *state, argument)) {
    papplJobSetMessage(job, "Unable to start the dotweave filter %s: %s", gPaths.filter.c_str(), strerror(errno));
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to start the dotweave filter %s: %s", gPaths.filter.c_str(),
                strerror(errno));
    return false;
  }
  papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Filter options: %s", argument.c_str());
  state->raster = cupsRasterOpenIO(RasterToFilter, state.get(), CUPS_RASTER_WRITE);
  JobState *raw = state.release();
  papplJobSetData(job, raw);
  if (raw->raster == nullptr) {
    FailJob(job, *raw, "Unable to write the raster stream to the filter.");
    EndState(job);
    return false;
  }
  return true;
}

bool StartPage(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *, unsigned) {
  JobState *state = StateOf(job);
  if (state == nullptr) return false;
  std::unique_lock<std::recursive_mutex> busy(state->inUse);
  if (papplJobIsCanceled(job)) return busy.unlock(), AbortChild(job);
  if (convert::ServerStopping(job)) {
    FailJob(job, *state, "The server is shutting down.");
    return busy.unlock(), AbortChild(job);
  }
  state->page = BridgePageOf(*state->printer, state->headerTemplate, options->header);
  if (!state->page.error.empty()) {
    FailJob(job, *state, state->page.error);
    return busy.unlock(), AbortChild(job);
  }
  if (!SendFinishedPart(job, *state)) return busy.unlock(), AbortChild(job);
  cups_page_header2_t &header = state->page.header;
  state->linesWritten = 0;
  ++state->pagesStarted;
  if (!cupsRasterWriteHeader2(state->raster, &header)) {
    FailJob(job, *state, "The filter stopped reading the job.");
    return busy.unlock(), AbortChild(job);
  }
  return true;
}

bool WriteLine(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *, unsigned,
               const unsigned char *line) {
  JobState *state = StateOf(job);
  if (state == nullptr) return false;
  std::unique_lock<std::recursive_mutex> busy(state->inUse);
  const std::span<const unsigned char> out = BridgeLine(state->page, options->header, line, state->line);
  const auto bytes = static_cast<unsigned>(out.size());
  if (cupsRasterWritePixels(state->raster, const_cast<unsigned char *>(out.data()), bytes) != bytes) {
    if (!papplJobIsCanceled(job)) FailJob(job, *state, "The filter stopped reading the job.");
    return busy.unlock(), AbortChild(job);
  }
  ++state->linesWritten;
  return true;
}

bool EndPage(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *, unsigned page) {
  JobState *state = StateOf(job);
  if (state == nullptr) return false;
  std::unique_lock<std::recursive_mutex> busy(state->inUse);
  if (papplJobIsCanceled(job)) return busy.unlock(), AbortChild(job);
  // PAPPL ends a page of streamed raster that is cut short as if it were
  // whole: such a page fails the job instead of printing as a whole page.
  if (state->linesWritten < state->page.header.cupsHeight) {
    FailJob(job, *state,
            "Page " + std::to_string(page) + " ended after " + std::to_string(state->linesWritten) + " of its " +
                std::to_string(state->page.header.cupsHeight) + " lines: the document is cut short.");
    return busy.unlock(), AbortChild(job);
  }
  return true;
}

bool EndJob(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *) {
  return EndState(job);
}

bool PrintFile(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *device) {
  const JobActivity active(job);
  if (!active.owns()) return false;
  if (papplJobIsCanceled(job)) return true;  // canceled before it started: PAPPL has removed the document
  const catalogue::Printer *entry = PrinterOf(papplJobGetPrinter(job));
  if (entry == nullptr || entry->nativeFormat.empty()) {
    papplJobSetMessage(job, "This printer takes no documents in its own command language.");
    return false;
  }
  const char *filename = papplJobGetFilename(job);
  const int fd = filename ? open(filename, O_RDONLY | O_CLOEXEC) : -1;
  if (fd < 0 && convert::CanceledAfterAll(job)) return true;  // PAPPL removes a canceled job's document
  if (fd < 0 && filename == nullptr) {
    papplJobSetMessage(job, "%s", convert::kDocumentGone);
    return false;
  }
  if (fd < 0) {
    papplJobSetMessage(job, "Unable to open the document: %s", strerror(errno));
    return false;
  }
  // The document's pages are not known: it is sent again whole when the
  // printer was lost before it had all of it.
  status::Delivery delivery(job, device);
  delivery.EndOfSetup();
  std::vector<unsigned char> buffer(65536);
  std::string readError;
  const auto send = [&]() -> bool {
    if (lseek(fd, 0, SEEK_SET) < 0) {
      readError = strerror(errno);
      return false;
    }
    while (!papplJobIsCanceled(job) && !delivery.failed()) {
      const ssize_t n = read(fd, buffer.data(), buffer.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        readError = strerror(errno);
        return false;
      }
      if (n == 0) break;
      delivery.Add(buffer.data(), static_cast<std::size_t>(n));
    }
    return true;
  };
  delivery.SetReplay(send);
  bool ok = delivery.Ready();
  if (ok && !send()) ok = false;
  else if (ok && !papplJobIsCanceled(job)) ok = delivery.EndOfPage();
  close(fd);
  if (ok || papplJobIsCanceled(job)) return true;
  if (!readError.empty()) papplJobSetMessage(job, "Unable to read the document: %s", readError.c_str());
  else
    papplJobSetMessage(job, "%s",
                       delivery.failure().empty() ? "Unable to send the job to the printer." : delivery.failure().c_str());
  return false;
}

}  // namespace app
