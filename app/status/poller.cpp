// Asking printers for their state and showing the answers (see poller.h).
//
// A registry keeps one entry per printer. A timer on PAPPL's main loop adds
// the printers it finds; a thread of our own asks each idle printer in turn,
// through papplPrinterOpenDevice, which gives no device while a job has it.
// An entry in use is marked busy; the delete callback waits until it is not,
// so that no query outlives its printer.
#include "app/status/poller.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <set>
#include <vector>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>

#include "app/app.h"
#include "app/status/recovery.h"

namespace status {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::seconds;

constexpr seconds kIdleInterval{30};
// A printer stopped for what it said is asked more often, so that it goes
// on soon after the labels are back.
constexpr seconds kStoppedInterval{5};
// A printer that did not answer is left alone this long.
constexpr seconds kMuteInterval{600};
// How often the main loop looks for printers added since.
constexpr int kRegisterSeconds = 5;
// An answer is a few hundred bytes at most; its parts come together.
constexpr auto kAnswerBudget = std::chrono::milliseconds(2500);

// The reasons this module sets; others (offline, ...) belong to PAPPL and
// the device.
constexpr unsigned kOurReasons = PAPPL_PREASON_MEDIA_EMPTY | PAPPL_PREASON_COVER_OPEN |
                                 PAPPL_PREASON_MARKER_SUPPLY_EMPTY | PAPPL_PREASON_OTHER;

enum class Answering { Untried, Answers, Mute };

struct Entry {
  Family family = Family::None;
  int dpi = 0;
  bool twoWay = false;
  Answering answering = Answering::Untried;
  std::optional<PrinterStatus> last;
  Clock::time_point nextPoll{};
  bool busy = false;
  bool weStopped = false;   // the printer was stopped for a reason of ours
  std::string lastReport;   // what the log last said, to say each change once
};

struct Registry {
  std::mutex lock;
  std::condition_variable changed;
  std::map<pappl_printer_t *, Entry> entries;
};

// Made once and never destroyed: the poll thread may still wait on it while
// the process ends.
Registry &Reg() {
  static Registry *registry = new Registry;
  return *registry;
}

bool IsTwoWay(const char *uri) {
  if (uri == nullptr) return false;
  for (const char *scheme : {"usb:", "serial:", "socket:"})
    if (std::strncmp(uri, scheme, std::strlen(scheme)) == 0) return true;
  return false;
}

Entry NewEntry(pappl_printer_t *printer) {
  Entry e;
  if (const catalogue::Printer *p = app::PrinterOf(printer)) {
    e.family = FamilyOf(*p);
    e.dpi = p->resolutions.empty() ? 0 : p->resolutions.front();
  }
  e.twoWay = IsTwoWay(papplPrinterGetDeviceURI(printer));
  e.nextPoll = Clock::now();
  return e;
}

// Adds a printer to the registry, or refreshes what its driver and device
// URI say (a printer can be modified). PAPPL is asked before the lock is
// taken: the registry's lock is never held across a call into PAPPL.
void Register(pappl_printer_t *printer) {
  const Entry fresh = NewEntry(printer);
  std::lock_guard<std::mutex> guard(Reg().lock);
  auto [it, added] = Reg().entries.emplace(printer, fresh);
  // A query in progress keeps what it started with; the next round refreshes it.
  if (!added && !it->second.busy) {
    it->second.family = fresh.family;
    it->second.dpi = fresh.dpi;
    it->second.twoWay = fresh.twoWay;
  }
}

// Writes the query and reads the answer; none when the printer does not
// answer in time or answers something else.
std::optional<PrinterStatus> Ask(pappl_device_t *device, Family family) {
  const std::string_view query = QueryOf(family);
  if (query.empty() || papplDeviceWrite(device, query.data(), query.size()) < 0) return std::nullopt;
  papplDeviceFlush(device);
  std::string answer;
  char buffer[512];
  const auto deadline = Clock::now() + kAnswerBudget;
  while (Clock::now() < deadline) {
    const ssize_t n = papplDeviceRead(device, buffer, sizeof buffer);
    if (n <= 0) break;
    answer.append(buffer, static_cast<std::size_t>(n));
    const Parsed parsed = ParseAnswer(family, answer);
    if (parsed.result == Parse::Complete) return parsed.status;
    if (parsed.result == Parse::Malformed) break;
  }
  return std::nullopt;
}

pappl_preason_t BitsOf(const Reasons &reasons) {
  unsigned bits = 0;
  for (const std::string &k : reasons.keywords) {
    if (k == "media-empty") bits |= PAPPL_PREASON_MEDIA_EMPTY;
    else if (k == "cover-open") bits |= PAPPL_PREASON_COVER_OPEN;
    else if (k == "marker-supply-empty") bits |= PAPPL_PREASON_MARKER_SUPPLY_EMPTY;
    else if (k == "other") bits |= PAPPL_PREASON_OTHER;
  }
  return static_cast<pappl_preason_t>(bits);
}

// The supplies with the levels the answer gives: empty (0) when the printer
// says so, "some left" (-3) when it says it is fine, unknown (-1) without an
// answer. The labels' description carries the length the printer measured.
void ShowSupplies(pappl_printer_t *printer, const std::optional<PrinterStatus> &s, int dpi) {
  app::EnsureSupplies(printer);
  pappl_supply_t supplies[PAPPL_MAX_SUPPLY];
  const int n = papplPrinterGetSupplies(printer, PAPPL_MAX_SUPPLY, supplies);
  bool changed = false;
  for (int i = 0; i < n; ++i) {
    pappl_supply_t &supply = supplies[i];
    const bool ribbon = supply.type == PAPPL_SUPPLY_TYPE_RIBBON_WAX;
    int level = -1;
    if (s && ribbon) level = s->ribbonOut ? 0 : (s->thermalTransfer.value_or(false) ? -3 : -1);
    else if (s) level = s->mediaEmpty ? 0 : -3;
    std::string description = supply.description;
    if (!ribbon) {
      description = description.substr(0, description.find(','));
      if (s && s->labelLengthDots && !s->mediaEmpty)
        description += ", " + LabelLengthText(*s->labelLengthDots, dpi) + " long";
    }
    if (level != supply.level || description != supply.description) {
      supply.level = level;
      std::snprintf(supply.description, sizeof supply.description, "%s", description.c_str());
      changed = true;
    }
  }
  if (changed) papplPrinterSetSupplies(printer, n, supplies);
}

// One line for the log, the same for the same state.
std::string Report(const std::optional<PrinterStatus> &s, int dpi) {
  if (!s) return "";
  const Reasons reasons = ReasonsOf(*s);
  std::string text = "Printer status:";
  if (reasons.keywords.empty()) text += " ready";
  for (const std::string &k : reasons.keywords) text += " " + k;
  if (!reasons.message.empty()) text += " (" + reasons.message + ")";
  if (s->labelLengthDots) text += ", label length " + LabelLengthText(*s->labelLengthDots, dpi);
  if (!s->printMode.empty()) text += ", print mode " + s->printMode;
  return text + ".";
}

// Shows what the printer said (or that it said nothing) on the PAPPL
// printer: its state reasons, stopped while one holds, its supplies.
void Show(pappl_printer_t *printer, Entry &e) {
  const std::optional<PrinterStatus> &s = e.last;
  const Reasons reasons = s ? ReasonsOf(*s) : Reasons{};
  const pappl_preason_t bits = BitsOf(reasons);
  papplPrinterSetReasons(printer, bits, static_cast<pappl_preason_t>(kOurReasons & ~static_cast<unsigned>(bits)));
  const bool hold = !reasons.keywords.empty();
  if (hold && !e.weStopped && papplPrinterGetState(printer) != IPP_PSTATE_STOPPED) {
    papplPrinterPause(printer);
    e.weStopped = true;
  } else if (!hold && e.weStopped) {
    papplPrinterResume(printer);
    e.weStopped = false;
  }
  ShowSupplies(printer, s, e.dpi);
  const std::string report = Report(s, e.dpi);
  if (!report.empty() && report != e.lastReport)
    papplLogPrinter(printer, hold ? PAPPL_LOGLEVEL_WARN : PAPPL_LOGLEVEL_INFO, "%s", report.c_str());
  if (!reasons.message.empty() && report != e.lastReport)
    papplSystemAddEvent(papplPrinterGetSystem(printer), printer, nullptr, PAPPL_EVENT_PRINTER_STATE_CHANGED, "%s",
                        reasons.message.c_str());
  e.lastReport = report;
}

// Records an answer (or none) in the entry, which the caller holds busy.
// What other threads read (the answer, when to ask next) changes under the
// lock; the rest belongs to the holder.
void Record(pappl_printer_t *printer, Entry &e, std::optional<PrinterStatus> answer) {
  const auto now = Clock::now();
  const bool wasMute = e.answering == Answering::Mute;
  {
    std::lock_guard<std::mutex> guard(Reg().lock);
    if (answer) {
      e.answering = Answering::Answers;
      e.nextPoll = now + (ReasonsOf(*answer).keywords.empty() ? kIdleInterval : kStoppedInterval);
    } else {
      e.answering = Answering::Mute;
      e.nextPoll = now + kMuteInterval;
    }
    e.last = std::move(answer);
  }
  if (!e.last) {
    if (!wasMute)
      papplLogPrinter(printer, PAPPL_LOGLEVEL_WARN,
                      "The printer does not answer its status query: status unknown, not asked again for %d "
                      "minutes.",
                      static_cast<int>(kMuteInterval.count() / 60));
    e.lastReport.clear();
  }
  Show(printer, e);
}

// Takes the entry of a registered printer for a query: false when there is
// nothing to ask or another query has it.
bool Claim(pappl_printer_t *printer, bool jobTime, Entry *&entry) {
  std::lock_guard<std::mutex> guard(Reg().lock);
  auto it = Reg().entries.find(printer);
  if (it == Reg().entries.end()) return false;
  Entry &e = it->second;
  if (e.busy || e.family == Family::None || !e.twoWay) return false;
  if (jobTime ? e.answering != Answering::Answers : Clock::now() < e.nextPoll) return false;
  e.busy = true;
  entry = &e;
  return true;
}

void Release(Entry &e) {
  std::lock_guard<std::mutex> guard(Reg().lock);
  e.busy = false;
  Reg().changed.notify_all();
}

}  // namespace

bool Answers(pappl_printer_t *printer) {
  Register(printer);
  std::lock_guard<std::mutex> guard(Reg().lock);
  auto it = Reg().entries.find(printer);
  return it != Reg().entries.end() && it->second.twoWay && it->second.family != Family::None &&
         it->second.answering == Answering::Answers;
}

std::optional<PrinterStatus> AskForJob(pappl_printer_t *printer, pappl_device_t *device) {
  Entry *e = nullptr;
  if (printer == nullptr || device == nullptr || !Claim(printer, true, e)) return std::nullopt;
  std::optional<PrinterStatus> answer = Ask(device, e->family);
  if (answer) Record(printer, *e, answer);
  Release(*e);
  return answer;
}

namespace {

// One idle query: none while a job has the device.
void PollOne(pappl_printer_t *printer) {
  Entry *e = nullptr;
  if (!Claim(printer, false, e)) return;
  if (pappl_device_t *device = papplPrinterOpenDevice(printer)) {
    std::optional<PrinterStatus> answer = Ask(device, e->family);
    app::CloseDeviceThenStartJobs(printer);
    Record(printer, *e, std::move(answer));
  } else {
    std::lock_guard<std::mutex> guard(Reg().lock);
    e->nextPoll = Clock::now() + seconds(kRegisterSeconds);
  }
  Release(*e);
}

[[noreturn]] void PollLoop() {
  for (;;) {
    std::vector<pappl_printer_t *> due;
    {
      std::unique_lock<std::mutex> guard(Reg().lock);
      Reg().changed.wait_for(guard, seconds(1));
      const auto now = Clock::now();
      for (auto &[printer, e] : Reg().entries)
        if (!e.busy && e.family != Family::None && e.twoWay && now >= e.nextPoll) due.push_back(printer);
    }
    // A printer deleted since is no longer in the registry, and Claim
    // refuses it.
    for (pappl_printer_t *printer : due) PollOne(printer);
  }
}

// A job whose device PAPPL cannot open never reaches our callbacks: PAPPL
// stops the printer and tries again every 5 seconds, for ever. Such a job
// is shown waiting, the printer offline, and past the recovery time the
// job is ended (canceled, as aborted by the system, with the reason).
struct Stuck {
  pappl_printer_t *printer;
  std::vector<pappl_job_t *> jobs;
};

void FindProcessing(pappl_job_t *job, void *data) {
  if (papplJobGetState(job) == IPP_JSTATE_PROCESSING) static_cast<Stuck *>(data)->jobs.push_back(job);
}

std::set<pappl_printer_t *> gShownOffline;  // on the main loop only

// Marks a registered printer's entry busy, so that the printer is not
// deleted under the caller (the delete callback waits); false when it is
// gone or busy.
bool Hold(pappl_printer_t *printer, Entry *&entry) {
  std::lock_guard<std::mutex> guard(Reg().lock);
  auto it = Reg().entries.find(printer);
  if (it == Reg().entries.end() || it->second.busy) return false;
  it->second.busy = true;
  entry = &it->second;
  return true;
}

void WatchUnreachable(const std::vector<pappl_printer_t *> &printers) {
  const auto limit = RecoveryTimeout();
  for (pappl_printer_t *printer : printers) {
    Entry *entry = nullptr;
    if (!Hold(printer, entry)) continue;
    Stuck stuck{printer, {}};
    if (papplPrinterGetState(printer) == IPP_PSTATE_STOPPED && !app::JobInHand(printer))
      papplPrinterIterateActiveJobs(printer, FindProcessing, &stuck, 1, 0);
    const bool unreachable = !stuck.jobs.empty() && !app::JobInHand(printer);
    if (unreachable && gShownOffline.insert(printer).second)
      papplPrinterSetReasons(printer, PAPPL_PREASON_OFFLINE, PAPPL_PREASON_NONE);
    else if (!unreachable && gShownOffline.erase(printer))
      papplPrinterSetReasons(printer, PAPPL_PREASON_NONE, PAPPL_PREASON_OFFLINE);
    for (pappl_job_t *job : stuck.jobs) {
      const time_t since = papplJobGetTimeProcessed(job);
      if (since > 0 && time(nullptr) - since >= limit.count()) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to reach the printer for %lld seconds: the job is ended.",
                    static_cast<long long>(limit.count()));
        papplJobSetReasons(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, PAPPL_JREASON_NONE);
        papplJobSetMessage(job, "Unable to reach the printer. Gave up after waiting %lld seconds.",
                           static_cast<long long>(limit.count()));
        papplJobCancel(job);
      } else {
        papplJobSetMessage(job, "Unable to reach the printer. Waiting for the printer.");
      }
    }
    Release(*entry);
  }
}

void RegisterPrinter(pappl_printer_t *printer, void *data) {
  Register(printer);
  static_cast<std::vector<pappl_printer_t *> *>(data)->push_back(printer);
}

bool RegisterPrinters(pappl_system_t *system, void *) {
  // Gathered first, watched after: nothing that changes PAPPL's objects runs
  // inside its iteration.
  std::vector<pappl_printer_t *> printers;
  papplSystemIteratePrinters(system, RegisterPrinter, &printers);
  Reg().changed.notify_all();
  WatchUnreachable(printers);
  return true;
}

}  // namespace

void StartPolling(pappl_system_t *system) {
  static std::once_flag started;
  std::call_once(started, [system] {
    papplSystemAddTimerCallback(system, 0, kRegisterSeconds, RegisterPrinters, nullptr);
    std::thread(PollLoop).detach();
  });
}


bool UpdateStatus(pappl_printer_t *printer) {
  std::optional<PrinterStatus> last;
  int dpi = 0;
  {
    std::lock_guard<std::mutex> guard(Reg().lock);
    auto it = Reg().entries.find(printer);
    if (it == Reg().entries.end()) return true;
    last = it->second.last;
    dpi = it->second.dpi;
  }
  ShowSupplies(printer, last, dpi);
  return true;
}

void ForgetPrinter(pappl_printer_t *printer, pappl_pr_driver_data_t *) {
  std::unique_lock<std::mutex> guard(Reg().lock);
  auto it = Reg().entries.find(printer);
  if (it == Reg().entries.end()) return;
  Reg().changed.wait(guard, [&] { return !it->second.busy; });
  Reg().entries.erase(it);
}

Readiness PrinterReadiness(pappl_printer_t *printer) {
  std::lock_guard<std::mutex> guard(Reg().lock);
  auto it = Reg().entries.find(printer);
  return ReadinessOf(it == Reg().entries.end() ? std::nullopt : it->second.last);
}

}  // namespace status
