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
// flushes it, as those back ends must; for the others (PCL, OEM) it writes
// nothing.
#include <cups/ppd.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

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
  cups_raster_t *ras = cupsRasterOpen(fd, CUPS_RASTER_READ);

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
