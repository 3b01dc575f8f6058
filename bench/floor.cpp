// dotweave-floor: the least a CUPS raster filter can spend on a job, run
// with the filter's own arguments and environment.
//
//   PPD=FILE dotweave-floor job-id user title copies options [file]
//
// It opens the PPD and marks its defaults and the job options, then reads
// every page header with cupsRasterReadHeader2 and every line with
// cupsRasterReadPixels, and does nothing else. For the families whose lines
// the printers take one at a time (cupsModelNumber 0x00 Dymo, 0x10 and 0x11
// EPL, 0x12 ZPL) it also writes each line it reads to standard output and
// flushes it, as those back ends must; for the ESC/POS (0x30) and TSPL
// (0x14) families, whose languages carry the image uncompressed, it writes
// each line through a 64 KiB buffer; for the others (PCL, OEM) it writes
// nothing.
//
// With DOTWEAVE_FLOOR_BLOCKS=1 in the environment it reads the raster stream
// 64 KiB at a time under libcups, as the filter does (libcups's own reader
// makes one read(2) per uncompressed line): the floor of a filter that
// buffers its input like that one.
#include <cups/ppd.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t kBlockSize = std::size_t{1} << 16;
unsigned char Block[kBlockSize];
std::size_t BlockStart = 0, BlockEnd = 0;

ssize_t ReadSome(int fd, void *into, std::size_t bytes) {
  ssize_t count;
  while ((count = read(fd, into, bytes)) < 0)
    if (errno != EINTR && errno != EAGAIN) return -1;
  return count;
}

ssize_t ReadBlocks(void *context, unsigned char *into, std::size_t bytes) {
  const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(context));
  if (BlockStart == BlockEnd) {
    if (bytes >= kBlockSize) return ReadSome(fd, into, bytes);
    const ssize_t count = ReadSome(fd, Block, kBlockSize);
    if (count <= 0) return count;
    BlockStart = 0;
    BlockEnd = static_cast<std::size_t>(count);
  }
  const std::size_t given = std::min(bytes, BlockEnd - BlockStart);
  std::memcpy(into, Block + BlockStart, given);
  BlockStart += given;
  return static_cast<ssize_t>(given);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 6 && argc != 7) {
    std::fprintf(stderr, "usage: dotweave-floor job-id user title copies options [file]\n");
    return 1;
  }
  int fd = 0;
  if (argc == 7 && (fd = open(argv[6], O_RDONLY)) < 0) {
    std::perror(argv[6]);
    return 1;
  }
  const char *blocks = std::getenv("DOTWEAVE_FLOOR_BLOCKS");
  cups_raster_t *ras = blocks != nullptr && std::strcmp(blocks, "1") == 0
                           ? cupsRasterOpenIO(ReadBlocks, reinterpret_cast<void *>(static_cast<std::intptr_t>(fd)),
                                              CUPS_RASTER_READ)
                           : cupsRasterOpen(fd, CUPS_RASTER_READ);

  cups_option_t *options = nullptr;
  const int numOptions = cupsParseOptions(argv[5], 0, &options);
  ppd_file_t *ppd = ppdOpenFile(std::getenv("PPD"));
  if (ppd == nullptr) {
    std::fprintf(stderr, "dotweave-floor: the PPD file could not be opened\n");
    return 1;
  }
  ppdMarkDefaults(ppd);
  cupsMarkOptions(ppd, numOptions, options);
  const int family = ppd->model_number;
  const bool flushEveryLine = family == 0x00 || family == 0x10 || family == 0x11 || family == 0x12;
  // The receipt (0x30) and TSPL (0x14) languages carry the page image
  // uncompressed, so no filter for them writes less than its lines: they are
  // written, through a 64 KiB buffer, as the filter buffers its output.
  const bool writeEveryLine = family == 0x14 || family == 0x30;
  static char outputBuffer[1 << 16];
  if (writeEveryLine) std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);

  int pages = 0;
  cups_page_header2_t header;
  unsigned char *line = nullptr;
  while (ras != nullptr && cupsRasterReadHeader2(ras, &header)) {
    ++pages;
    line = static_cast<unsigned char *>(std::realloc(line, header.cupsBytesPerLine ? header.cupsBytesPerLine : 1));
    for (unsigned y = 0; y < header.cupsHeight; ++y) {
      if (cupsRasterReadPixels(ras, line, header.cupsBytesPerLine) == 0) break;
      if (flushEveryLine) {
        std::fwrite(line, 1, header.cupsBytesPerLine, stdout);
        std::fflush(stdout);
      } else if (writeEveryLine) {
        std::fwrite(line, 1, header.cupsBytesPerLine, stdout);
      }
    }
  }
  std::free(line);
  if (ras != nullptr) cupsRasterClose(ras);
  if (fd != 0) close(fd);
  ppdClose(ppd);
  cupsFreeOptions(numOptions, options);
  return pages > 0 ? 0 : 1;
}
