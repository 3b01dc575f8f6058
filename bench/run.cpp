// dotweave-bench-run: runs one filter process as CUPS would and measures it.
//
//   dotweave-bench-run [NAME=VALUE ...] -- PROGRAM ARG...
//
// The program starts with the environment of this process plus the NAME=VALUE
// settings; its standard input is /dev/null, and its standard output and
// standard error are pipes that are read to the end here, as the scheduler
// reads them. Printed on one line when it has ended:
//
//   cpu_us user_us sys_us maxrss_kib out_bytes out_hash exit_status
//
// CPU times are the child's own user and system time (wait4), the peak
// resident set is its ru_maxrss, and out_hash is a 64-bit FNV-1a hash of its
// standard output, so two builds of the filter can be checked to write the
// same bytes. This process keeps no buffer larger than one read, so the
// child's peak resident set is its own.
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char **argv) {
  int i = 1;
  for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strchr(argv[i], '=') == nullptr || putenv(argv[i]) != 0) {
      std::fprintf(stderr, "dotweave-bench-run: not a NAME=VALUE setting: %s\n", argv[i]);
      return 2;
    }
  }
  if (i + 1 >= argc) {
    std::fprintf(stderr, "usage: dotweave-bench-run [NAME=VALUE ...] -- PROGRAM ARG...\n");
    return 2;
  }
  char **command = argv + i + 1;

  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) {
    std::perror("pipe");
    return 2;
  }
  const pid_t pid = fork();
  if (pid < 0) {
    std::perror("fork");
    return 2;
  }
  if (pid == 0) {
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    close(null);
    close(out[0]);
    close(out[1]);
    close(err[0]);
    close(err[1]);
    execvp(command[0], command);
    _exit(127);
  }
  close(out[1]);
  close(err[1]);

  std::uint64_t bytes = 0;
  std::uint64_t hash = 0xcbf29ce484222325ull;
  bool outOpen = true, errOpen = true;
  static char buf[1 << 16];
  while (outOpen || errOpen) {
    pollfd fds[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      std::perror("poll");
      return 2;
    }
    if (fds[0].revents != 0) {
      const ssize_t n = read(out[0], buf, sizeof buf);
      if (n > 0) {
        bytes += static_cast<std::uint64_t>(n);
        for (ssize_t k = 0; k < n; ++k) hash = (hash ^ static_cast<unsigned char>(buf[k])) * 0x100000001b3ull;
      } else if (n == 0 || errno != EINTR) {
        outOpen = false;
      }
    }
    if (fds[1].revents != 0) {
      const ssize_t n = read(err[0], buf, sizeof buf);
      if (n <= 0 && (n == 0 || errno != EINTR)) errOpen = false;
    }
  }

  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) {
    std::perror("wait4");
    return 2;
  }
  const auto micros = [](const timeval &t) {
    return static_cast<long long>(t.tv_sec) * 1000000 + static_cast<long long>(t.tv_usec);
  };
  const long long user = micros(usage.ru_utime), sys = micros(usage.ru_stime);
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::printf("%lld %lld %lld %ld %llu %016llx %d\n", user + sys, user, sys, usage.ru_maxrss,
              static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(hash), code);
  return 0;
}
