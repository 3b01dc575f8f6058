#pragma once
// A job's bytes on their way to the printer, and what happens when the way
// is cut (see README.md). The job hands over its bytes as the filter writes
// them and says where its setup and each page end; a page counts as printed
// once the printer has it: for a printer that answers its status query,
// when it answers after the page, else when the page's last write succeeds.
// When a write fails, the printer stops answering or says it cannot print
// (media empty, cover open), the job waits instead of failing: the printer
// shows why, the device is opened again every few seconds, and once the
// printer is back the job's setup and every page it did not have are sent
// again, each whole. Past the recovery time, or on cancel or shutdown, the
// job ends with the reason.
#include <pappl/pappl.h>

#include <chrono>
#include <functional>
#include <string>

namespace status {

// How long a job waits for its printer to come back: 10 minutes unless the
// server is told otherwise (-o recovery-timeout=SECONDS).
inline constexpr std::chrono::seconds kDefaultRecoveryTimeout{600};
void SetRecoveryTimeout(std::chrono::seconds timeout);
std::chrono::seconds RecoveryTimeout();
// The option's value as seconds; false when it is not a whole number from
// 0 to a week.
bool ParseRecoveryTimeout(const char *text, std::chrono::seconds &timeout);

class Delivery {
 public:
  // `device` is the one PAPPL opened for the job; one opened again after a
  // failure belongs to the delivery and is closed with it.
  Delivery(pappl_job_t *job, pappl_device_t *device);
  ~Delivery();
  Delivery(const Delivery &) = delete;
  Delivery &operator=(const Delivery &) = delete;

  // Before anything is sent: waits while the printer says it cannot print.
  bool Ready();
  // Bytes of the job in order: sent at once, kept until the printer has them.
  void Add(const unsigned char *data, std::size_t size);
  // What was added so far is the job's setup, sent again before any page
  // that is sent again.
  void EndOfSetup();
  // What was added since the last page is a whole page (or, at the job's
  // end, its closing bytes): flushed, confirmed, and sent again as often as
  // needed. False when the job must end: failure() says why, or the job was
  // canceled or the server is stopping.
  bool EndOfPage();
  // For a document in the printer's own language, whose pages are not
  // known: its bytes are not kept, and after a reconnection `replay` sends
  // the whole document again through Add (false: it could not be read).
  void SetReplay(std::function<bool()> replay) { replay_ = std::move(replay); }
  // Called while the job waits, so that whoever watches it knows it is alive.
  void SetWaitingHook(std::function<void()> hook) { waiting_ = std::move(hook); }

  pappl_device_t *device() const { return device_; }
  bool failed() const { return broken_; }
  const std::string &failure() const { return failure_; }

 private:
  bool Write(const unsigned char *data, std::size_t size);
  bool Write(const std::string &bytes);
  bool Settle();
  bool Settled();
  bool Reopen();
  bool Wait(const std::string &reason);
  void SetOffline(bool offline);

  pappl_job_t *job_;
  pappl_printer_t *printer_;
  pappl_device_t *device_;
  pappl_device_t *own_ = nullptr;
  std::string setup_;        // the job's setup bytes
  std::string unconfirmed_;  // bytes of pages the printer may not have
  bool setupDone_ = false;
  bool broken_ = false;      // the device failed; nothing more is written to it
  bool answers_ = false;     // pages are confirmed by the status query
  bool offline_ = false;     // the printer shows "offline" for this job
  bool reached_ = false;     // the printer was reached once
  std::chrono::steady_clock::time_point waitingSince_{};
  std::string failure_;
  std::string lastReason_;
  std::function<bool()> replay_;
  std::function<void()> waiting_;
};

}  // namespace status
