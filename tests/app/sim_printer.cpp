// The simulated printer of the application's tests; see sim_printer.h.
#include "app/sim_printer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace dwtest {
namespace {

int Listen(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || listen(fd, 4) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int PortOf(int fd) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
  return ntohs(addr.sin_port);
}

void WriteAll(int fd, const std::string &s) {
  std::size_t done = 0;
  while (done < s.size()) {
    const ssize_t n = write(fd, s.data() + done, s.size() - done);
    if (n > 0) done += static_cast<std::size_t>(n);
    else if (n < 0 && errno != EAGAIN && errno != EINTR) return;
    else {
      pollfd p{fd, POLLOUT, 0};
      poll(&p, 1, 100);
    }
  }
}

}  // namespace

SimPrinter::SimPrinter(Language language, Line line) : language_(language), line_(line) {
  if (line == Line::Tcp) {
    listener_ = Listen(0);
    if (listener_ < 0) throw std::runtime_error("simulated printer: cannot listen");
    port_ = PortOf(listener_);
  } else {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name) != 0)
      throw std::runtime_error("simulated printer: no pseudo-terminal");
    slave_ = name;
  }
  thread_ = std::thread([this] { Run(); });
}

SimPrinter::~SimPrinter() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) close(listener_);
  if (master_ >= 0) close(master_);
}

std::string SimPrinter::uri() const {
  if (line_ == Line::Tcp) return "socket://127.0.0.1:" + std::to_string(port_);
  return "serial:" + slave_ + "?baud=115200";
}

void SimPrinter::SetFlags(const Flags &flags) {
  std::lock_guard<std::mutex> guard(lock_);
  flags_ = flags;
}

void SimPrinter::SetFlagsAfter(std::size_t bytes, const Flags &flags) {
  std::lock_guard<std::mutex> guard(lock_);
  flagsAt_ = bytes;
  laterFlags_ = flags;
}

void SimPrinter::Drop() { dropped_ = true; }

void SimPrinter::Back() {
  std::lock_guard<std::mutex> guard(lock_);
  if (line_ == Line::Tcp && listener_ < 0) listener_ = Listen(port_);
  dropped_ = false;
}

std::string SimPrinter::Received() const {
  std::lock_guard<std::mutex> guard(lock_);
  return received_ + pending_;
}

std::string SimPrinter::Events() const {
  std::lock_guard<std::mutex> guard(lock_);
  return events_;
}

void SimPrinter::ClearReceived() {
  std::lock_guard<std::mutex> guard(lock_);
  received_.clear();
  pending_.clear();
}

// ~HS: three strings, each <STX>...<ETX><CR><LF>. First: communication
// settings, paper out, pause, label length (4 digits, dots), formats in
// the buffer, buffer full, diagnostic mode, partial format, unused, corrupt
// RAM, under temperature, over temperature. Second: function settings,
// unused, head up, ribbon out, thermal transfer, print mode (2 tear-off),
// print width mode, label waiting, labels remaining (8 digits), format
// while printing, graphics stored. Third: password, static RAM.
// Dymo: one byte, bit 5 paper out.
std::string SimPrinter::Answer() const {
  std::lock_guard<std::mutex> guard(lock_);
  const Flags &f = flags_;
  if (language_ == Language::Dymo) return std::string(1, static_cast<char>(f.paperOut ? 0x20 : 0x00));
  char first[64], second[64];
  std::snprintf(first, sizeof first, "030,%d,%d,%04d,000,0,0,0,000,0,%d,%d", f.paperOut, f.pause,
                f.labelLengthDots, f.underTemperature, f.overTemperature);
  std::snprintf(second, sizeof second, "001,0,%d,%d,1,2,6,0,00000000,1,000", f.headUp, f.ribbonOut);
  return "\x02" + std::string(first) + "\x03\r\n\x02" + second + "\x03\r\n\x02" "1234,0\x03\r\n";
}

// Takes received bytes: a status query is answered (unless mute) and, for
// ZPL, left out of the recording.
void SimPrinter::Take(int fd, const char *bytes, std::size_t n) {
  const std::string query = language_ == Language::Zpl ? "~HS" : "\x1b" "A";
  int answers = 0;
  {
    std::lock_guard<std::mutex> guard(lock_);
    std::string data = pending_ + std::string(bytes, n);
    pending_.clear();
    std::string kept;
    for (std::size_t i = 0; i < data.size();) {
      if (data.compare(i, query.size(), query) == 0) {
        ++answers;
        events_ += 'Q';
        if (language_ == Language::Dymo) kept += query;
        i += query.size();
      } else if (data.size() - i < query.size() && query.compare(0, data.size() - i, data, i) == 0) {
        pending_ = data.substr(i);  // may be the start of a query
        break;
      } else {
        if (events_.empty() || events_.back() != 'D') events_ += 'D';
        kept += data[i++];
      }
    }
    const std::size_t limit = dropAfter_;
    if (limit > 0 && received_.size() + kept.size() >= limit) {
      kept.resize(limit - std::min(limit, received_.size()));
      dropAfter_ = 0;
      dropped_ = true;
      answers = 0;
    }
    received_ += kept;
    if (flagsAt_ > 0 && received_.size() >= flagsAt_) flags_ = laterFlags_, flagsAt_ = 0;
  }
  for (int i = 0; i < answers; ++i) {
    ++queries_;
    if (!mute_) WriteAll(fd, Answer());
  }
}

void SimPrinter::Serve(int fd) {
  char buffer[4096];
  while (!stop_ && !dropped_) {
    if (!reading_) {
      usleep(20000);
      continue;
    }
    pollfd p{fd, POLLIN, 0};
    const int ready = poll(&p, 1, 50);
    if (ready <= 0) continue;
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      Take(fd, buffer, static_cast<std::size_t>(n));
    } else if (line_ == Line::Tcp && (n == 0 || (errno != EAGAIN && errno != EINTR))) {
      return;  // the application closed its connection
    } else if (n < 0 && errno == EIO) {
      usleep(20000);  // no one has the terminal open
    }
  }
}

void SimPrinter::Run() {
  while (!stop_) {
    if (line_ == Line::Pty) {
      Serve(master_);
      if (dropped_) usleep(20000);
      continue;
    }
    int listener;
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (dropped_ && listener_ >= 0) close(listener_), listener_ = -1;
      listener = listener_;
    }
    if (listener < 0) {
      usleep(20000);
      continue;
    }
    pollfd p{listener, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    Serve(client);
    close(client);
  }
}

}  // namespace dwtest
