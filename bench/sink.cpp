// A network printer for bench/app-bench.sh: listens on a loopback port
// (printed on the first line of its output), takes every connection's bytes
// and throws them away. "mute" never answers; "zpl" answers each "~HS" with
// a ZPL host status of a printer that is ready. Runs until killed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char **argv) {
  const bool answer = argc > 1 && std::strcmp(argv[1], "zpl") == 0;
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
      listen(listener, 4) != 0 || getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
    std::perror("sink");
    return 1;
  }
  std::printf("%d\n", ntohs(addr.sin_port));
  std::fflush(stdout);
  const std::string status = "\x02" "030,0,0,1218,000,0,0,0,000,0,0,0\x03\r\n\x02"
                             "001,0,0,0,1,2,6,0,00000000,1,000\x03\r\n\x02" "1234,0\x03\r\n";
  char buffer[65536];
  for (;;) {
    const int fd = accept(listener, nullptr, nullptr);
    if (fd < 0) continue;
    std::string tail;  // the end of the last read, for a query split across reads
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) {
      if (!answer) continue;
      const std::string seen = tail + std::string(buffer, static_cast<std::size_t>(n));
      for (std::size_t at = seen.find("~HS"); at != std::string::npos; at = seen.find("~HS", at + 3))
        if (write(fd, status.data(), status.size()) < 0) break;
      tail = seen.substr(seen.size() >= 2 ? seen.size() - 2 : 0);
    }
    close(fd);
  }
}
