// dotweave-bench-line: the far end of a serial line for the application
// benchmark. Opens a pseudo-terminal, prints the path of its terminal side,
// then takes the bytes that arrive no faster than a real line at BAUD would
// carry them (10 bits a byte: start, eight data, stop), so that the sender
// meets the back-pressure of a real port. When nothing more has come for
// QUIET_MS after the first byte it prints the byte count and the wall-clock
// times (seconds since the epoch) of the first and the last byte.
//
//   dotweave-bench-line BAUD QUIET_MS   -> "/dev/pts/N" on stdout, later
//                                          "bytes FIRST LAST"
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

double Now() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s BAUD QUIET_MS\n", argv[0]);
    return 2;
  }
  const double bytesPerSecond = std::atof(argv[1]) / 10.0;
  const int quietMs = std::atoi(argv[2]);
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::perror("pseudo-terminal");
    return 1;
  }
  // The terminal side stays open here, so that the line does not hang up
  // between the sender's opening and closing it.
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  std::printf("%s\n", ptsname(master));
  std::fflush(stdout);

  unsigned long long total = 0;
  double first = 0, last = 0, lineFree = 0;  // when the line has carried all so far
  unsigned char buffer[64];                  // a UART's worth at a time
  for (;;) {
    pollfd p{master, POLLIN, 0};
    const int ready = poll(&p, 1, total == 0 ? -1 : quietMs);
    if (ready == 0) break;
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    const double now = Now();
    if (total == 0) first = lineFree = now;
    // Wait until the line has carried what came before.
    if (lineFree > now) std::this_thread::sleep_for(std::chrono::duration<double>(lineFree - now));
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) {
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      break;
    }
    total += static_cast<unsigned long long>(n);
    lineFree = std::max(lineFree, Now()) + static_cast<double>(n) / bytesPerSecond;
    last = lineFree;  // the last of these bytes leaves the line then
  }
  std::printf("%llu %.6f %.6f\n", total, first, last);
  close(slave);
  close(master);
  return 0;
}
