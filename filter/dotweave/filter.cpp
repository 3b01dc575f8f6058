// Filter entry and page loop: arguments, raster stream, PPD and options,
// status lines, cancellation, and the dispatch of the four per-family
// operations on the PPD's cupsModelNumber.
#include "dotweave/filter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dotweave/cups_private.h"
#include "dotweave/escpos.h"
#include "dotweave/label.h"
#include "dotweave/tspl.h"
#include "oem/oem.h"

unsigned char *Buffer = nullptr;
volatile std::sig_atomic_t Canceled = 0;
unsigned char *CompBuffer = nullptr;
std::uint32_t Feed = 0;
unsigned char *LastBuffer = nullptr;
int LastSet = 0;
int ModelNumber = 0;
int Page = 0;
volatile bool JobFailed = false;

bool FailJob(const char *message) {
  _cupsLangPrintFilter(stderr, "ERROR", "%s", message);
  JobFailed = true;
  return false;
}

void CancelJob(int /*sig*/) { Canceled = 1; }

namespace {

void InstallCancelHandler() {
  struct sigaction action {};
  action.sa_handler = CancelJob;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
}

void WriteBytes(const void *data, std::size_t size) { std::fwrite(data, 1, size, stdout); }

// Frees the per-page line buffers; Buffer is freed but, as the next page
// start replaces it, only the compression buffers are reset.
void FreePageBuffers() {
  std::free(Buffer);
  if (CompBuffer != nullptr) {
    std::free(CompBuffer);
    CompBuffer = nullptr;
  }
  if (LastBuffer != nullptr) {
    std::free(LastBuffer);
    LastBuffer = nullptr;
  }
}

// Standard error is unbuffered, and every write on it is a system call and
// a wake-up of the scheduler reading it: lines that belong together (the
// page header dump, a progress report) are gathered first and leave in one
// write. They are gathered in one memory stream kept for the process and
// rewound after each use (opening a stream per report cost more than
// formatting it). Should memory be short, they are printed straight to
// standard error.
struct StatusStream {
  FILE *stream = nullptr;
  char *text = nullptr;
  std::size_t size = 0;
};

// The process's one memory stream for status lines, opened on first use.
StatusStream &Status() {
  static StatusStream status;
  static const bool opened = (status.stream = open_memstream(&status.text, &status.size)) != nullptr;
  (void)opened;
  return status;
}

template <typename Print>
void WriteStatusLines(Print print) {
  StatusStream &status = Status();
  if (status.stream != nullptr && std::fseek(status.stream, 0, SEEK_SET) == 0) {
    print(status.stream);
    if (std::fflush(status.stream) == 0 && status.text != nullptr) {
      std::fwrite(status.text, 1, status.size, stderr);
      return;
    }
    std::fseek(status.stream, 0, SEEK_SET);
  }
  print(stderr);
}

void PrintPageHeader(FILE *out, const cups_page_header2_t *h) {
  std::fprintf(out, "DEBUG: StartPage...\n");
  std::fprintf(out, "DEBUG: Duplex = %d\n", static_cast<int>(HeaderEnumValue(h->Duplex)));
  std::fprintf(out, "DEBUG: HWResolution = [ %d %d ]\n", static_cast<int>(h->HWResolution[0]),
               static_cast<int>(h->HWResolution[1]));
  std::fprintf(out, "DEBUG: ImagingBoundingBox = [ %d %d %d %d ]\n",
               static_cast<int>(h->ImagingBoundingBox[0]), static_cast<int>(h->ImagingBoundingBox[1]),
               static_cast<int>(h->ImagingBoundingBox[2]), static_cast<int>(h->ImagingBoundingBox[3]));
  std::fprintf(out, "DEBUG: Margins = [ %d %d ]\n", static_cast<int>(h->Margins[0]),
               static_cast<int>(h->Margins[1]));
  std::fprintf(out, "DEBUG: ManualFeed = %d\n", static_cast<int>(HeaderEnumValue(h->ManualFeed)));
  std::fprintf(out, "DEBUG: MediaPosition = %d\n", static_cast<int>(h->MediaPosition));
  std::fprintf(out, "DEBUG: NumCopies = %d\n", static_cast<int>(h->NumCopies));
  std::fprintf(out, "DEBUG: Orientation = %d\n", static_cast<int>(HeaderEnumValue(h->Orientation)));
  std::fprintf(out, "DEBUG: PageSize = [ %d %d ]\n", static_cast<int>(h->PageSize[0]),
               static_cast<int>(h->PageSize[1]));
  std::fprintf(out, "DEBUG: cupsWidth = %d\n", static_cast<int>(h->cupsWidth));
  std::fprintf(out, "DEBUG: cupsHeight = %d\n", static_cast<int>(h->cupsHeight));
  std::fprintf(out, "DEBUG: cupsMediaType = %d\n", static_cast<int>(h->cupsMediaType));
  std::fprintf(out, "DEBUG: cupsBitsPerColor = %d\n", static_cast<int>(h->cupsBitsPerColor));
  std::fprintf(out, "DEBUG: cupsBitsPerPixel = %d\n", static_cast<int>(h->cupsBitsPerPixel));
  std::fprintf(out, "DEBUG: cupsBytesPerLine = %d\n", static_cast<int>(h->cupsBytesPerLine));
  std::fprintf(out, "DEBUG: cupsColorOrder = %d\n", static_cast<int>(HeaderEnumValue(h->cupsColorOrder)));
  std::fprintf(out, "DEBUG: cupsColorSpace = %d\n", static_cast<int>(HeaderEnumValue(h->cupsColorSpace)));
  std::fprintf(out, "DEBUG: cupsCompression = %d\n", static_cast<int>(h->cupsCompression));
}

void DumpPageHeader(const cups_page_header2_t *h) {
  WriteStatusLines([h](FILE *out) { PrintPageHeader(out, h); });
}

// The progress lines of the current page: the localized "INFO" line and the
// "ATTR" line, every 16 raster lines.
void ReportProgress(unsigned percent) {
  WriteStatusLines([percent](FILE *out) {
    _cupsLangPrintFilter(out, "INFO", "Printing page %d, %u%% complete.", Page, percent);
    std::fprintf(out, "ATTR: job-media-progress=%u\n", percent);
  });
}

// The raster stream is read a block at a time. For uncompressed pages
// libcups asks its reader for one line per call, and a system call per line
// cost more than all the filter's own work on a label or a thermal page;
// the bytes it is given, and when reading ends, are the same. The block is
// emptied at every job start (tests run several jobs in one process).
constexpr std::size_t kRasterBlockSize = std::size_t{1} << 16;
unsigned char RasterBlock[kRasterBlockSize];
std::size_t RasterBlockStart = 0;
std::size_t RasterBlockEnd = 0;

// One read(2), retried when interrupted or not ready, as libcups's own reader
// does; 0 at the end of the stream, -1 on an error.
ssize_t ReadSome(int fd, void *into, std::size_t bytes) {
  ssize_t count;
  while ((count = read(fd, into, bytes)) < 0)
    if (errno != EINTR && errno != EAGAIN) return -1;
  return count;
}

// The reader libcups calls (cupsRasterOpenIO): up to `bytes` bytes, from the
// block, which is refilled by one read when it is empty. A request of a
// block or more is read straight into the caller's buffer.
ssize_t ReadRaster(void *context, unsigned char *into, std::size_t bytes) {
  const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(context));
  if (RasterBlockStart == RasterBlockEnd) {
    if (bytes >= kRasterBlockSize) return ReadSome(fd, into, bytes);
    const ssize_t count = ReadSome(fd, RasterBlock, kRasterBlockSize);
    if (count <= 0) return count;
    RasterBlockStart = 0;
    RasterBlockEnd = static_cast<std::size_t>(count);
  }
  const std::size_t given = std::min(bytes, RasterBlockEnd - RasterBlockStart);
  std::memcpy(into, RasterBlock + RasterBlockStart, given);
  RasterBlockStart += given;
  return static_cast<ssize_t>(given);
}

cups_raster_t *OpenRasterStream(int fd) {
  RasterBlockStart = RasterBlockEnd = 0;
  return cupsRasterOpenIO(ReadRaster, reinterpret_cast<void *>(static_cast<std::intptr_t>(fd)), CUPS_RASTER_READ);
}

// Where the line being handed on was read: its place in the OEM page image
// when it was read straight there, else null (the line is in Buffer).
const unsigned char *LineInPageImage = nullptr;

// Where the next line is read to. The OEM engine keeps the whole page, so
// once its page image is under way a line is read straight into its place
// there instead of into Buffer and copied over: a page of megabytes is then
// written once, not twice.
unsigned char *LineDestination(const cups_page_header2_t *header) {
  if (ModelNumber == kFamilyOem)
    if (unsigned char *slot = OEMNextLineSlot(header->cupsBytesPerLine)) return slot;
  // The TSPL family gathers its label image too, the receipt family its band.
  if (ModelNumber == kFamilyTspl)
    if (unsigned char *slot = TsplNextLineSlot(header->cupsBytesPerLine)) return slot;
  if (ModelNumber == kFamilyEscPos)
    if (unsigned char *slot = EscPosNextLineSlot(header->cupsBytesPerLine)) return slot;
  return Buffer;
}

// Reads every line of the current page and hands it on. Returns when the
// page is complete, the stream runs dry, or the job is cancelled.
// How many rows of a page the receipt and TSPL families let pass between two
// progress reports (the others report every 16 rows): a receipt reports in
// steps of 10 %, as it may be metres long; a label only as it starts, as it
// prints only when its last row has arrived, and labels come in batches of
// hundreds. Every report is a write that wakes the scheduler, and a report
// every 16 rows cost these families more than all their other work.
unsigned ProgressStepPercent() {
  if (ModelNumber == kFamilyEscPos) return 10;
  if (ModelNumber == kFamilyTspl) return 100;
  return 0;
}

void ReadPageLines(cups_raster_t *ras, ppd_file_t *ppd, cups_page_header2_t *header) {
  const unsigned step = ProgressStepPercent();
  unsigned reportedStep = ~0u;
  for (unsigned y = 0; y < header->cupsHeight && !Canceled; ++y) {
    if ((y & 15) == 0) {
      const unsigned percent = static_cast<unsigned>(100ull * y / header->cupsHeight);
      if (step == 0) {
        ReportProgress(100u * y / header->cupsHeight);
      } else if (percent / step != reportedStep) {
        ReportProgress(percent);
        reportedStep = percent / step;
      }
    }
    unsigned char *line = LineDestination(header);
    if (cupsRasterReadPixels(ras, line, header->cupsBytesPerLine) == 0) break;
    LineInPageImage = line != Buffer ? line : nullptr;
    OutputLine(ppd, header, y);
    LineInPageImage = nullptr;
    if (JobFailed) break;
  }
}

// The receipt and TSPL families write about as many bytes as the raster
// holds (their images travel uncompressed): with a pipe of 1 MiB instead of
// 64 KiB to the backend, each write wakes the reader a sixteenth as often.
// Where standard output is no pipe, or the system allows no more, it stays
// as it is.
void WidenOutputPipe() { (void)fcntl(STDOUT_FILENO, F_SETPIPE_SZ, 1 << 20); }

}  // namespace

void Setup(ppd_file_t *ppd) {
  if (ppd != nullptr) ModelNumber = ppd->model_number;
  switch (ModelNumber) {
    case kFamilyDymo: {
      unsigned char start[102];
      std::memset(start, 0x1B, 100);
      start[100] = 0x1B;
      start[101] = '@';
      WriteBytes(start, sizeof start);
      break;
    }
    case kFamilyPcl:
      WriteBytes("\033E", 2);
      break;
    case kFamilyEscPos:
      WidenOutputPipe();
      EscPosSetup(ppd);
      break;
    case kFamilyTspl:
      WidenOutputPipe();
      break;
    default:
      break;
  }
}

void StartPage(ppd_file_t *ppd, cups_page_header2_t *header) {
  DumpPageHeader(header);

  // Refuse absurd line sizes before anything of the page is written, so a
  // hostile header can neither make us allocate gigabytes nor leave half a
  // page of commands on the printer.
  if (header->cupsBytesPerLine > kMaxBytesPerLine) {
    FailJob("Raster line too long; the page header is not valid.");
    Buffer = nullptr;
    return;
  }
  // At least one byte, so that a zero line length still gives a valid buffer.
  Buffer = static_cast<unsigned char *>(std::malloc(header->cupsBytesPerLine ? header->cupsBytesPerLine : 1));
  if (Buffer == nullptr) {
    FailJob("Unable to allocate memory for the raster line.");
    return;
  }

  switch (ModelNumber) {
    case kFamilyDymo: DymoStartPage(ppd, header); break;
    case kFamilyEplLine: EplLineStartPage(ppd, header); break;
    case kFamilyEplPage: EplPageStartPage(ppd, header); break;
    case kFamilyZpl: ZplStartPage(ppd, header); break;
    case kFamilyOem: OEMStartPage(ppd, header); break;
    case kFamilyTspl: TsplStartPage(ppd, header); break;
    case kFamilyPcl: PclStartPage(ppd, header); break;
    case kFamilyEscPos: EscPosStartPage(ppd, header); break;
    default: break;
  }
  Feed = 0;
}

void OutputLine(ppd_file_t * /*ppd*/, cups_page_header2_t *header, unsigned y) {
  switch (ModelNumber) {
    case kFamilyDymo: DymoOutputLine(header, y); break;
    case kFamilyEplLine: EplLineOutputLine(header, y); break;
    case kFamilyEplPage: EplPageOutputLine(header, y); break;
    case kFamilyZpl: ZplOutputLine(header, y); break;
    case kFamilyOem:
      OEMWriteOriginalPageData(LineInPageImage != nullptr ? LineInPageImage : Buffer, header->cupsBytesPerLine);
      break;
    case kFamilyTspl: TsplOutputLine(LineInPageImage != nullptr ? LineInPageImage : Buffer, y); break;
    case kFamilyPcl: PclOutputLine(header, y); break;
    case kFamilyEscPos: EscPosOutputLine(LineInPageImage != nullptr ? LineInPageImage : Buffer); break;
    default: break;
  }
}

void EndPage(ppd_file_t *ppd, cups_page_header2_t *header) {
  switch (ModelNumber) {
    case kFamilyDymo: DymoEndPage(ppd, header); break;
    case kFamilyEplLine: EplLineEndPage(ppd, header); break;
    case kFamilyEplPage: EplPageEndPage(ppd, header); break;
    case kFamilyZpl: ZplEndPage(ppd, header); break;
    case kFamilyOem: OEMEndPage(); break;
    case kFamilyTspl: TsplEndPage(ppd, header); break;
    case kFamilyPcl: PclEndPage(ppd, header); break;
    case kFamilyEscPos: EscPosEndPage(ppd, header); break;
    default: break;
  }
  std::fflush(stdout);
  FreePageBuffers();
}

void FinishJob(ppd_file_t *ppd) {
  if (ModelNumber == kFamilyEscPos) EscPosFinishJob(ppd);
  std::fflush(stdout);
}

int FilterMain(int argc, char *argv[]) {
  std::setbuf(stderr, nullptr);
  // Standard output is a pipe, which stdio would write 4 KiB at a time; the
  // families that do not flush every line (PCL, and the page blocks of the
  // OEM engine) leave in fewer, larger writes. Flushes happen where they did.
  // Set once, before anything is written (a process runs one job).
  static char OutputBuffer[1 << 16];
  static const bool OutputBuffered = std::setvbuf(stdout, OutputBuffer, _IOFBF, sizeof OutputBuffer) == 0;
  (void)OutputBuffered;

  if (argc != 6 && argc != 7) {
    _cupsLangPrintFilter(stderr, "ERROR", "%s job-id user title copies options [file]", "dotweave");
    return 1;
  }

  int fd = 0;
  if (argc == 7) {
    fd = open(argv[6], O_RDONLY);
    if (fd < 0) {
      _cupsLangPrintError("ERROR", "Unable to open raster file");
      sleep(1);
      return 1;
    }
  }

  cups_raster_t *ras = OpenRasterStream(fd);

  Canceled = 0;
  JobFailed = false;
  InstallCancelHandler();

  cups_option_t *options = nullptr;
  const int num_options = cupsParseOptions(argv[5], 0, &options);

  ppd_file_t *ppd = ppdOpenFile(std::getenv("PPD"));
  if (ppd == nullptr) {
    int line = 0;
    const ppd_status_t status = ppdLastError(&line);
    _cupsLangPrintFilter(stderr, "ERROR", "The PPD file could not be opened.");
    std::fprintf(stderr, "DEBUG: %s on line %d.\n", ppdErrorString(status), line);
    cupsFreeOptions(num_options, options);
    if (ras != nullptr) cupsRasterClose(ras);
    if (fd != 0) close(fd);
    return 1;
  }
  ppdMarkDefaults(ppd);
  cupsMarkOptions(ppd, num_options, options);

  Setup(ppd);
  // A printer application that resends pages after a lost connection learns
  // here where the job's setup ends and, below, where each page ends in the
  // output: every byte before the line has been handed to standard output.
  std::fflush(stdout);
  std::fputs("DEBUG: Job setup sent.\n", stderr);

  Page = 0;
  cups_page_header2_t header;
  while (ras != nullptr && cupsRasterReadHeader2(ras, &header) && !Canceled) {
    ++Page;
    WriteStatusLines([](FILE *out) {
      std::fprintf(out, "PAGE: %d 1\n", Page);
      _cupsLangPrintFilter(out, "INFO", "Starting page %d.", Page);
    });

    StartPage(ppd, &header);
    if (JobFailed) {
      // The page could not be started: nothing of it was written.
      FreePageBuffers();
      break;
    }
    if (header.cupsHeight != 0 && !Canceled) ReadPageLines(ras, ppd, &header);

    _cupsLangPrintFilter(stderr, "INFO", "Finished page %d.", Page);
    EndPage(ppd, &header);
    if (Canceled || JobFailed) break;
    std::fprintf(stderr, "DEBUG: Page %d sent.\n", Page);
  }
  FinishJob(ppd);

  if (ras != nullptr) cupsRasterClose(ras);
  if (fd != 0) close(fd);
  ppdClose(ppd);
  cupsFreeOptions(num_options, options);

  if (Page == 0) {
    _cupsLangPrintFilter(stderr, "ERROR", "No pages were found.");
    return 1;
  }
  return JobFailed ? 1 : 0;
}
