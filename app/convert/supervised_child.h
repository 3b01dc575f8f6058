#pragma once
// The server's side of a child that works for a job (the dotweave filter,
// Ghostscript, the image decoder). Everything runs in the job's own thread:
// the child's input is written, its output read and its messages logged in
// one poll loop that also watches for the job being cancelled, the server
// shutting down, a wall-clock deadline and a child that stalls. When any of
// those stops it, the child is killed (SIGTERM, SIGKILL 2 s later) and
// reaped; the destructor does the same, so no child or descriptor outlives
// its job.
#include <pappl/pappl.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace app::convert {

// A job's share of the log: lines a child repeats are summarised, and past
// the budget nothing more is logged for the job.
struct LogBudget {
  std::size_t left = 256 * 1024;
  std::string lastLine;
  unsigned repeats = 0;
  bool exhausted = false;
};

class SupervisedChild {
 public:
  using Clock = std::chrono::steady_clock;
  // `what` names the child in messages ("Ghostscript"); its lines are
  // logged against `job` within `budget`.
  SupervisedChild(pappl_job_t *job, std::string what, LogBudget &budget);
  ~SupervisedChild();
  SupervisedChild(const SupervisedChild &) = delete;
  SupervisedChild &operator=(const SupervisedChild &) = delete;

  // Starts the child; its standard input is a pipe (`inputFd` -2), the
  // given descriptor, or /dev/null (-1).
  bool Start(std::vector<std::string> args, std::vector<std::string> env, int inputFd);
  void SetDeadline(std::chrono::milliseconds fromNow) { deadline_ = Clock::now() + fromNow; }
  // Killed when it neither reads nor writes for this long.
  void SetStallLimit(std::chrono::milliseconds limit) { stallLimit_ = limit; }
  // Where output goes while Write and Drain run (the printer, say); without
  // one, Read takes it.
  std::function<bool(const unsigned char *, std::size_t)> sink;
  // Sees each of the child's message lines before it is logged.
  std::function<void(const std::string &)> onLine;

  // Passes output to the sink and reads messages until `reached` says yes
  // (a message has come, say), then passes on every byte of output already
  // written: what the child wrote before that message. False when the child
  // ended or was stopped first.
  bool ServiceUntil(const std::function<bool()> &reached);
  // The time the job waited on its own (for the printer, say) does not count
  // as the child stalling.
  void Touch() { lastProgress_ = Clock::now(); }

  // Writes to the child's input, its output passed to the sink meanwhile.
  bool Write(const void *data, std::size_t size);
  // Up to `size` bytes of output: the count, 0 at its end, -1 when stopped.
  ssize_t Read(void *buffer, std::size_t size);
  bool ReadExactly(void *buffer, std::size_t size);
  // Closes the child's input: it sees the end of its document.
  void CloseInput();
  // Closes the input and passes the rest of the output to the sink.
  bool Drain();
  // Closes everything, waits for the child (killing it when stopped or past
  // the deadline) and returns its wait status, -1 when it was never started.
  int Finish();
  // Stops the child unless it ends on its own within `grace`; a child that
  // has ended is not signalled.
  void Kill(const std::string &why, std::chrono::milliseconds grace = std::chrono::milliseconds(0));

  bool stopped() const { return !stopReason_.empty(); }
  bool canceled() const { return canceled_; }
  // Why it was stopped ("" when it was not): cancel, shutdown, deadline.
  const std::string &stopReason() const { return stopReason_; }
  // Its last ERROR line, without the prefix; else its last line.
  const std::string &lastError() const { return errorLine_.empty() ? lastLine_ : errorLine_; }
  pid_t pid() const { return pid_; }

 private:
  enum class Step { Progress, Idle, Stopped, Ended };
  Step Service(const unsigned char *&writeData, std::size_t &writeLeft, unsigned char *readBuffer,
               std::size_t readSize, ssize_t &readCount);
  bool Watch();
  void Message(std::string line);
  void FlushRepeats();

  pappl_job_t *job_;
  std::string what_;
  LogBudget &budget_;
  pid_t pid_ = -1;
  int input_ = -1, output_ = -1, errors_ = -1;
  std::string pending_;  // a message line not yet ended
  std::string errorLine_, lastLine_;
  std::string stopReason_;
  bool canceled_ = false;
  Clock::time_point deadline_ = Clock::time_point::max();
  std::chrono::milliseconds stallLimit_{0};
  Clock::time_point lastProgress_ = Clock::now();
  Clock::time_point killedAt_{};
  bool killed_ = false;
  int status_ = -1;
};

// True once the server has been told to stop (SIGTERM, Shutdown-System):
// jobs end at once instead of holding the shutdown up.
bool ServerStopping(pappl_job_t *job);

// A document that cannot be opened: Cancel-Job removes the job's document a
// moment before the job reads as canceled. True when the job turns out
// canceled within a second.
bool CanceledAfterAll(pappl_job_t *job);
// The job's message when its document is gone and it does not read as
// canceled all the same.
inline constexpr const char *kDocumentGone =
    "The job's document is gone: Cancel-Job removed it as PAPPL started the job.";

// How long a conversion of `bytes` of document may take: 20 s and one more
// for every 64 kB.
std::chrono::milliseconds ConversionTime(long long bytes);

}  // namespace app::convert
