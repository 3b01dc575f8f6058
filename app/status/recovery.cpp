// A job's bytes on their way to the printer (see recovery.h).
#include "app/status/recovery.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

#include "app/convert/supervised_child.h"
#include "app/status/poller.h"

namespace status {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How often a waiting job tries its printer again.
constexpr auto kRetryInterval = 5s;
// How often it looks for cancel and shutdown meanwhile.
constexpr auto kWatchInterval = 100ms;
constexpr std::chrono::seconds kLongestRecoveryTimeout{7 * 24 * 3600};

std::atomic<long long> gRecoveryTimeout{kDefaultRecoveryTimeout.count()};

void DeviceError(const char *message, void *data) {
  papplLogJob(static_cast<pappl_job_t *>(data), PAPPL_LOGLEVEL_DEBUG, "Device: %s", message);
}

std::string Duration(std::chrono::seconds s) {
  if (s.count() % 60 == 0 && s.count() >= 60)
    return std::to_string(s.count() / 60) + (s.count() == 60 ? " minute" : " minutes");
  return std::to_string(s.count()) + (s.count() == 1 ? " second" : " seconds");
}

}  // namespace

void SetRecoveryTimeout(std::chrono::seconds timeout) { gRecoveryTimeout = timeout.count(); }
std::chrono::seconds RecoveryTimeout() { return std::chrono::seconds(gRecoveryTimeout.load()); }

bool ParseRecoveryTimeout(const char *text, std::chrono::seconds &timeout) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  errno = 0;
  char *end = nullptr;
  const long long value = std::strtoll(text, &end, 10);
  if (errno != 0 || *end != 0 || value > kLongestRecoveryTimeout.count()) return false;
  timeout = std::chrono::seconds(value);
  return true;
}

Delivery::Delivery(pappl_job_t *job, pappl_device_t *device)
    : job_(job), printer_(papplJobGetPrinter(job)), device_(device) {
  answers_ = Answers(printer_);
}

Delivery::~Delivery() {
  if (own_) papplDeviceClose(own_);
  if (offline_) papplPrinterSetReasons(printer_, PAPPL_PREASON_NONE, PAPPL_PREASON_OFFLINE);
}

bool Delivery::Ready() { return Settle(); }

void Delivery::Add(const unsigned char *data, std::size_t size) {
  if (!replay_) (setupDone_ ? unconfirmed_ : setup_).append(reinterpret_cast<const char *>(data), size);
  if (!broken_) Write(data, size);
}

void Delivery::EndOfSetup() { setupDone_ = true; }

bool Delivery::EndOfPage() { return Settle(); }

bool Delivery::Write(const unsigned char *data, std::size_t size) {
  if (broken_) return false;
  if (size == 0) return true;
  if (papplDeviceWrite(device_, data, size) < 0) {
    papplLogJob(job_, PAPPL_LOGLEVEL_ERROR, "Unable to write to the printer: %s", std::strerror(errno));
    broken_ = true;
    return false;
  }
  return true;
}

bool Delivery::Write(const std::string &bytes) {
  return Write(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
}

// Until the printer has every byte added so far and can print: confirmed by
// its answer (or, for a printer that does not answer, by the writes), sent
// again on a new connection when the old one failed, waiting while the
// printer says it cannot print.
bool Delivery::Settle() {
  bool resent = false;
  for (;;) {
    if (!broken_) {
      papplDeviceFlush(device_);
      if (!answers_) return Settled();
      const std::optional<PrinterStatus> answer = AskForJob(printer_, device_);
      if (!answer && resent) {
        // The pages went out whole on a new connection, but the printer
        // does not answer: it is taken to have them rather than be sent
        // them again and again; the rest of the job is confirmed by writes.
        papplLogJob(job_, PAPPL_LOGLEVEL_WARN,
                    "The printer does not answer its status query since it came back: the pages sent again are "
                    "taken as printed.");
        answers_ = false;
        return Settled();
      }
      if (!answer) {
        papplLogJob(job_, PAPPL_LOGLEVEL_WARN, "The printer stopped answering its status query.");
        broken_ = true;
      } else {
        unconfirmed_.clear();  // it answered after them: it has them
        const Readiness readiness = ReadinessOf(answer);
        if (readiness.state != Readiness::NotReady) return Settled();
        if (!Wait("The printer says: " + readiness.why)) return false;
        continue;
      }
    }
    SetOffline(true);
    if (!Wait("Unable to reach the printer.")) return false;
    if (!Reopen()) continue;
    papplLogJob(job_, PAPPL_LOGLEVEL_INFO, "The printer is back: sending the job's setup and %zu bytes of pages again.",
                replay_ ? std::size_t{0} : unconfirmed_.size());
    if (!Write(setup_)) continue;
    if (replay_) {
      if (!replay_()) {
        failure_ = "Unable to read the document again.";
        return false;
      }
    } else if (!Write(unconfirmed_)) {
      continue;
    }
    resent = true;
  }
}

bool Delivery::Settled() {
  unconfirmed_.clear();
  SetOffline(false);
  // The printer is reachable: an "offline" shown while PAPPL could not open
  // its device goes at once.
  if (!reached_) {
    reached_ = true;
    if (papplPrinterGetReasons(printer_) & PAPPL_PREASON_OFFLINE)
      papplPrinterSetReasons(printer_, PAPPL_PREASON_NONE, PAPPL_PREASON_OFFLINE);
  }
  if (waitingSince_ != Clock::time_point{}) {
    waitingSince_ = {};
    papplJobSetMessage(job_, "Printing.");
    papplJobSetReasons(job_, PAPPL_JREASON_NONE, PAPPL_JREASON_PRINTER_STOPPED);
  }
  return true;
}

bool Delivery::Reopen() {
  if (own_) papplDeviceClose(own_), own_ = nullptr;
  const char *uri = papplPrinterGetDeviceURI(printer_);
  if (uri == nullptr) return false;
  own_ = papplDeviceOpen(uri, papplJobGetName(job_), DeviceError, job_);
  if (own_ == nullptr) return false;
  device_ = own_;
  broken_ = false;
  return true;
}

// Waits one retry interval, the job's message saying why; false when the
// job must end (canceled, the server stopping, or out of time).
bool Delivery::Wait(const std::string &reason) {
  const auto now = Clock::now();
  const std::chrono::seconds limit = RecoveryTimeout();
  if (waitingSince_ == Clock::time_point{}) {
    waitingSince_ = now;
    papplJobSetReasons(job_, PAPPL_JREASON_PRINTER_STOPPED, PAPPL_JREASON_NONE);
  }
  if (reason != lastReason_) {
    lastReason_ = reason;
    if (limit.count() > 0) {
      papplLogJob(job_, PAPPL_LOGLEVEL_WARN, "%s The job waits, trying again every %s for up to %s.", reason.c_str(),
                  Duration(kRetryInterval).c_str(), Duration(limit).c_str());
      papplJobSetMessage(job_, "%s Waiting for the printer.", reason.c_str());
    }
  }
  const auto until = now + kRetryInterval;
  for (;;) {
    if (papplJobIsCanceled(job_)) return false;
    if (app::convert::ServerStopping(job_)) {
      failure_ = "The server is shutting down.";
      return false;
    }
    if (Clock::now() - waitingSince_ >= limit) {
      failure_ = limit.count() == 0 ? reason : reason + " Gave up after waiting " + Duration(limit) + ".";
      return false;
    }
    if (waiting_) waiting_();
    if (Clock::now() >= until) return true;
    std::this_thread::sleep_for(kWatchInterval);
  }
}

void Delivery::SetOffline(bool offline) {
  if (offline == offline_) return;
  offline_ = offline;
  if (offline) papplPrinterSetReasons(printer_, PAPPL_PREASON_OFFLINE, PAPPL_PREASON_NONE);
  else papplPrinterSetReasons(printer_, PAPPL_PREASON_NONE, PAPPL_PREASON_OFFLINE);
}

}  // namespace status
