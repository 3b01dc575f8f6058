// dotweave-image: the printer application's image decoder child. It limits
// itself before it reads a byte (address space, CPU time, no new files, no
// core), reads a PNG or JPEG on its standard input and writes
//
//   "DWIMG <width> <height> <channels> <ppi>\n" and then the rows,
//
// 8-bit gray or sRGB, top first. Any failure: one "ERROR: <reason>" line on
// standard error and exit status 1.
//
//   dotweave-image [--max-memory-mb N] [--max-cpu-seconds N]
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/convert/image_decode.h"

namespace {

void Limit(int resource, rlim_t value) {
  rlimit r{value, value};
  setrlimit(resource, &r);
}

bool WriteAll(const void *data, std::size_t size) {
  const auto *p = static_cast<const unsigned char *>(data);
  while (size > 0) {
    const ssize_t n = write(1, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

int Fail(const std::string &why) {
  std::fprintf(stderr, "ERROR: %s\n", why.c_str());
  return 1;
}

}  // namespace

int main(int argc, char **argv) {
  unsigned long memoryMb = 768, cpuSeconds = 30;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--max-memory-mb")) memoryMb = std::strtoul(argv[i + 1], nullptr, 10);
    else if (!std::strcmp(argv[i], "--max-cpu-seconds")) cpuSeconds = std::strtoul(argv[i + 1], nullptr, 10);
  }
  // The sanitizers reserve terabytes of address space up front.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  Limit(RLIMIT_AS, static_cast<rlim_t>(memoryMb) << 20);
#endif
  Limit(RLIMIT_CPU, cpuSeconds);
  Limit(RLIMIT_FSIZE, 0);
  Limit(RLIMIT_CORE, 0);

  std::vector<unsigned char> data;
  unsigned char buffer[65536];
  for (;;) {
    const ssize_t n = read(0, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(std::string("Unable to read the document: ") + std::strerror(errno));
    if (n == 0) break;
    try {
      data.insert(data.end(), buffer, buffer + n);
    } catch (const std::bad_alloc &) {
      return Fail("The document is too large to decode.");
    }
  }
  std::size_t rowBytes = 0;
  bool written = true;
  try {
    const std::string why = app::convert::DecodeImage(
        data, {},
        [&](const app::convert::ImageInfo &info) {
          rowBytes = std::size_t{info.width} * info.channels;
          const std::string head = "DWIMG " + std::to_string(info.width) + " " + std::to_string(info.height) + " " +
                                   std::to_string(info.channels) + " " + std::to_string(info.ppi) + "\n";
          return written = WriteAll(head.data(), head.size());
        },
        [&](const unsigned char *row) { return written = WriteAll(row, rowBytes); });
    if (!why.empty()) return Fail(why);
  } catch (const std::bad_alloc &) {
    return Fail("The image needs more memory than a document may use.");
  }
  return written ? 0 : 1;
}
