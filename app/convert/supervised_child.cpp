// A child that works for a job, watched from the job's thread; see supervised_child.h.
#include "app/convert/supervised_child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "app/app.h"
#include "app/child_process.h"

namespace app::convert {
namespace {

using namespace std::chrono_literals;

constexpr auto kPollInterval = 100ms;   // how often cancel and shutdown are looked at
constexpr auto kKillGrace = 2s;         // SIGTERM, then SIGKILL
constexpr auto kExitGrace = 10s;        // from closed output to the child's exit
constexpr std::size_t kLongestLine = 4096;

void CloseFd(int &fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

std::string Trimmed(std::string line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\n')) line.pop_back();
  return line;
}

}  // namespace

bool ServerStopping(pappl_job_t *job) {
  return app::ServerStopping() || papplSystemIsShutdown(papplPrinterGetSystem(papplJobGetPrinter(job)));
}

bool CanceledAfterAll(pappl_job_t *job) {
  for (int i = 0; i < 20; ++i) {
    if (papplJobIsCanceled(job)) return true;
    usleep(50000);
  }
  // PAPPL 1.3.1 lets a job it has started processing overwrite the state a
  // Cancel-Job set a moment before; the document is gone all the same. A job
  // whose document PAPPL has let go of was canceled: it ends so.
  if (!papplJobIsCanceled(job) && papplJobGetFilename(job) == nullptr) {
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "The job's document was removed by Cancel-Job: the job is canceled.");
    papplJobCancel(job);
  }
  return papplJobIsCanceled(job);
}

std::chrono::milliseconds ConversionTime(long long bytes) {
  return std::chrono::seconds(20 + std::max(0LL, bytes) / 65536);
}

SupervisedChild::SupervisedChild(pappl_job_t *job, std::string what, LogBudget &budget)
    : job_(job), what_(std::move(what)), budget_(budget) {}

SupervisedChild::~SupervisedChild() {
  if (pid_ > 0) {
    Kill(what_ + " was stopped.");
    Finish();
  }
  CloseFd(input_);
  CloseFd(output_);
  CloseFd(errors_);
}

bool SupervisedChild::Start(std::vector<std::string> args, std::vector<std::string> env, int inputFd) {
  ChildProcess process;
  if (!Spawn(std::move(args), std::move(env), inputFd == -2, process, inputFd)) return false;
  pid_ = process.pid;
  input_ = process.input;
  output_ = process.output;
  errors_ = process.errors;
  for (int fd : {input_, output_, errors_})
    if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  lastProgress_ = Clock::now();
  return true;
}

void SupervisedChild::Kill(const std::string &why, std::chrono::milliseconds grace) {
  if (pid_ <= 0 || killed_) return;
  const auto until = Clock::now() + grace;
  for (;;) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {  // it has ended on its own
      status_ = status;
      pid_ = -1;
      return;
    }
    if (Clock::now() >= until) break;
    usleep(10000);
  }
  if (stopReason_.empty()) stopReason_ = why;
  kill(pid_, SIGTERM);
  killed_ = true;
  killedAt_ = Clock::now();
}

// False once the child has been stopped; escalates to SIGKILL when it does
// not end on SIGTERM.
bool SupervisedChild::Watch() {
  if (pid_ <= 0) return !stopped();
  const auto now = Clock::now();
  if (killed_) {
    if (now - killedAt_ > kKillGrace) kill(pid_, SIGKILL);
    return false;
  }
  if (papplJobIsCanceled(job_)) {
    canceled_ = true;
    Kill("The job was canceled.");
  } else if (ServerStopping(job_)) {
    Kill("The server is shutting down.");
  } else if (now > deadline_) {
    Kill(what_ + " took longer than the document's time limit.");
  } else if (stallLimit_.count() > 0 && now - lastProgress_ > stallLimit_) {
    Kill(what_ + " stopped making progress.");
  }
  return !killed_;
}

void SupervisedChild::CloseInput() { CloseFd(input_); }

SupervisedChild::Step SupervisedChild::Service(const unsigned char *&writeData, std::size_t &writeLeft,
                                               unsigned char *readBuffer, std::size_t readSize,
                                               ssize_t &readCount) {
  if (!Watch()) return Step::Stopped;
  pollfd fds[3];
  nfds_t count = 0;
  int inputAt = -1, outputAt = -1, errorsAt = -1;
  if (input_ >= 0 && writeLeft > 0) inputAt = static_cast<int>(count), fds[count++] = {input_, POLLOUT, 0};
  if (output_ >= 0 && (readBuffer || sink)) outputAt = static_cast<int>(count), fds[count++] = {output_, POLLIN, 0};
  if (errors_ >= 0) errorsAt = static_cast<int>(count), fds[count++] = {errors_, POLLIN, 0};
  if (count == 0) return Step::Ended;
  const int ready = poll(fds, count, static_cast<int>(kPollInterval.count()));
  if (ready <= 0) return Step::Idle;
  bool progress = false;
  if (inputAt >= 0 && fds[inputAt].revents) {
    const ssize_t n = write(input_, writeData, std::min<std::size_t>(writeLeft, 65536));
    if (n > 0) {
      writeData += n;
      writeLeft -= static_cast<std::size_t>(n);
      progress = true;
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      CloseInput();  // the child stopped reading
      progress = true;
    }
  }
  if (outputAt >= 0 && fds[outputAt].revents) {
    unsigned char local[65536];
    unsigned char *into = readBuffer ? readBuffer : local;
    const ssize_t n = read(output_, into, readBuffer ? readSize : sizeof local);
    if (n > 0) {
      progress = true;
      if (readBuffer) readCount = n;
      else sink(local, static_cast<std::size_t>(n));
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      CloseFd(output_);
      progress = true;
    }
  }
  if (errorsAt >= 0 && fds[errorsAt].revents) {
    char text[4096];
    const ssize_t n = read(errors_, text, sizeof text);
    if (n > 0) {
      pending_.append(text, static_cast<std::size_t>(n));
      for (std::size_t nl; (nl = pending_.find('\n')) != std::string::npos; pending_.erase(0, nl + 1))
        Message(pending_.substr(0, nl));
      if (pending_.size() > kLongestLine) Message(pending_), pending_.clear();
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      CloseFd(errors_);
    }
  }
  if (progress) lastProgress_ = Clock::now();
  return progress ? Step::Progress : Step::Idle;
}

bool SupervisedChild::Write(const void *data, std::size_t size) {
  const auto *p = static_cast<const unsigned char *>(data);
  ssize_t unused = 0;
  while (size > 0) {
    if (input_ < 0) return false;
    if (Service(p, size, nullptr, 0, unused) == Step::Stopped) return false;
  }
  return true;
}

ssize_t SupervisedChild::Read(void *buffer, std::size_t size) {
  const unsigned char *none = nullptr;
  std::size_t noWrite = 0;
  for (;;) {
    if (output_ < 0) return stopped() ? -1 : 0;
    ssize_t count = 0;
    const Step step = Service(none, noWrite, static_cast<unsigned char *>(buffer), size, count);
    if (step == Step::Stopped) return -1;
    if (count > 0) return count;
  }
}

bool SupervisedChild::ReadExactly(void *buffer, std::size_t size) {
  auto *p = static_cast<unsigned char *>(buffer);
  while (size > 0) {
    const ssize_t n = Read(p, size);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool SupervisedChild::ServiceUntil(const std::function<bool()> &reached) {
  const unsigned char *none = nullptr;
  std::size_t noWrite = 0;
  ssize_t unused = 0;
  while (!reached()) {
    if (output_ < 0 && errors_ < 0) return false;
    const Step step = Service(none, noWrite, nullptr, 0, unused);
    if (step == Step::Stopped || step == Step::Ended) return false;
  }
  // The message came after the output it marks was written: all of that is
  // in the pipe now, and nothing after it (the child waits for input).
  while (output_ >= 0 && sink) {
    unsigned char local[65536];
    const ssize_t n = read(output_, local, sizeof local);
    if (n > 0) {
      sink(local, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || errno != EAGAIN) CloseFd(output_);
    break;
  }
  lastProgress_ = Clock::now();
  return true;
}

bool SupervisedChild::Drain() {
  CloseInput();
  const unsigned char *none = nullptr;
  std::size_t noWrite = 0;
  ssize_t unused = 0;
  while (output_ >= 0 || errors_ >= 0) {
    const Step step = Service(none, noWrite, nullptr, 0, unused);
    if (step == Step::Stopped) return false;
    if (step == Step::Ended) break;
  }
  return !stopped();
}

int SupervisedChild::Finish() {
  CloseInput();
  CloseFd(output_);
  if (pid_ <= 0) return status_;
  const auto closed = Clock::now();
  const unsigned char *none = nullptr;
  std::size_t noWrite = 0;
  ssize_t unused = 0;
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_ || (done < 0 && errno != EINTR)) {
      status_ = done == pid_ ? status : -1;
      break;
    }
    if (!killed_ && Clock::now() - closed > kExitGrace) Kill(what_ + " did not end.");
    if (errors_ >= 0) Service(none, noWrite, nullptr, 0, unused);
    else Watch(), usleep(20000);
  }
  pid_ = -1;
  // What it wrote last, now that it has ended.
  while (errors_ >= 0) {
    char text[4096];
    const ssize_t n = read(errors_, text, sizeof text);
    if (n <= 0) break;
    pending_.append(text, static_cast<std::size_t>(n));
  }
  CloseFd(errors_);
  std::size_t start = 0;
  for (std::size_t nl; (nl = pending_.find('\n', start)) != std::string::npos; start = nl + 1)
    Message(pending_.substr(start, nl - start));
  if (start < pending_.size()) Message(pending_.substr(start));
  pending_.clear();
  FlushRepeats();
  return status_;
}

void SupervisedChild::Message(std::string raw) {
  const std::string line = Trimmed(std::move(raw));
  if (line.empty()) return;
  if (onLine) onLine(line);
  lastLine_ = line;
  if (line.compare(0, 6, "ERROR:") == 0) {
    std::size_t start = 6;
    while (start < line.size() && line[start] == ' ') ++start;
    errorLine_ = line.substr(start);
  }
  if (line == budget_.lastLine) {
    ++budget_.repeats;
    return;
  }
  FlushRepeats();
  budget_.lastLine = line;
  if (budget_.exhausted) return;
  if (line.size() + 64 > budget_.left) {
    budget_.exhausted = true;
    papplLogJob(job_, PAPPL_LOGLEVEL_WARN, "%s: further messages of this job are not logged.", what_.c_str());
    return;
  }
  budget_.left -= line.size() + 64;
  const pappl_loglevel_t level = line.compare(0, 6, "ERROR:") == 0     ? PAPPL_LOGLEVEL_ERROR
                                 : line.compare(0, 8, "WARNING:") == 0 ? PAPPL_LOGLEVEL_WARN
                                                                       : PAPPL_LOGLEVEL_DEBUG;
  papplLogJob(job_, level, "%s: %s", what_.c_str(), line.c_str());
}

void SupervisedChild::FlushRepeats() {
  if (budget_.repeats == 0) return;
  if (!budget_.exhausted)
    papplLogJob(job_, PAPPL_LOGLEVEL_DEBUG, "%s: the line before was repeated %u more times.", what_.c_str(),
                budget_.repeats);
  budget_.repeats = 0;
}

}  // namespace app::convert
