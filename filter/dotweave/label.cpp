// Label-language back ends: Dymo label protocol (0x00), EPL line mode (0x10),
// EPL page mode (0x11), ZPL (0x12) and PCL raster (0x20). Every family writes
// its commands to standard output as the raster arrives; only the count of
// blank lines (Feed) is held back, by the Dymo and PCL families.
#include "dotweave/label.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "dotweave/filter.h"

namespace {

// Length of the lines of the current ZPL or PCL page and the capacity of
// CompBuffer, fixed when the page start allocates the buffers.
std::uint32_t PageLineLength = 0;
std::size_t CompCapacity = 0;

// Bytes allocated beyond CompCapacity: a PCL row is built behind them, and
// its transfer command ("\033*b", up to 10 digits, "W") is put right in
// front of it, so that command and row leave in one write.
constexpr std::size_t kPclCommandRoom = 16;

// Rows of the current ZPL graphic download written so far. The download
// announces cupsHeight rows; a page cut short is completed from this count.
std::uint32_t ZplRowsSent = 0;
bool ZplDownloadOpen = false;

// One thread writes standard output, so the writes need not lock it.
void Write(const void *data, std::size_t size) {
  if (size != 0) fwrite_unlocked(data, 1, size, stdout);
}
void Write(std::string_view text) { Write(text.data(), text.size()); }
void Put(int byte) { putc_unlocked(byte, stdout); }

// Writes the decimal digits of `value`, as printf's "%d" and "%u" do, into
// `out` (room for 11 characters) and returns the end.
template <typename Number>
char *Decimal(char *out, Number value) {
  return std::to_chars(out, out + 11, value).ptr;
}

std::span<const unsigned char> CurrentLine(const cups_page_header2_t *header) {
  if (Buffer == nullptr) return {};
  return {Buffer, header->cupsBytesPerLine};
}

// Every byte 0: the first is, and every byte equals the one before it (a
// comparison the C library makes many bytes at a time).
bool IsBlank(std::span<const unsigned char> line) {
  return line.empty() || (line[0] == 0 && std::memcmp(line.data(), line.data() + 1, line.size() - 1) == 0);
}

// The name of the marked choice of `keyword`, or null when none is marked.
const char *MarkedChoice(ppd_file_t *ppd, const char *keyword) {
  if (ppd == nullptr) return nullptr;
  const ppd_choice_t *choice = ppdFindMarkedChoice(ppd, keyword);
  return choice != nullptr ? choice->choice : nullptr;
}

bool IsMarked(ppd_file_t *ppd, const char *keyword, const char *choice) {
  return ppd != nullptr && ppdIsMarked(ppd, keyword, choice) != 0;
}

// The media type text of the header; a header without a terminating NUL is
// read only up to the end of the field.
std::string_view MediaTypeOf(const cups_page_header2_t *header) {
  return {header->MediaType, strnlen(header->MediaType, sizeof header->MediaType)};
}

// The compression buffers of the ZPL and PCL pages: CompBuffer holds a ZPL
// hex row (2n characters and a NUL) or the largest mode-3 row (n + n/8 + 1)
// behind the room for its transfer command, LastBuffer the previous row. Both are allocated before anything of the
// page is written, so a failure leaves no partial page on the printer.
bool AllocateCompressionBuffers(const cups_page_header2_t *header) {
  const std::size_t n = header->cupsBytesPerLine;
  const std::size_t compSize = 2 * n + 1;
  // At least one byte each, so that an empty line still has valid buffers
  // and a null result always means failure.
  CompBuffer = static_cast<unsigned char *>(std::malloc(kPclCommandRoom + compSize));
  LastBuffer = static_cast<unsigned char *>(std::malloc(n != 0 ? n : 1));
  if (CompBuffer == nullptr || LastBuffer == nullptr) {
    std::free(CompBuffer);
    std::free(LastBuffer);
    CompBuffer = nullptr;
    LastBuffer = nullptr;
    PageLineLength = 0;
    CompCapacity = 0;
    return FailJob("Unable to allocate memory for the compression buffers.");
  }
  PageLineLength = header->cupsBytesPerLine;
  CompCapacity = compSize;
  LastSet = 0;
  return true;
}

// Compression buffers that match the line about to be compressed.
bool CompressionReady(std::size_t length) {
  return CompBuffer != nullptr && LastBuffer != nullptr && length <= PageLineLength;
}

// The "zePrintRate" choice, when one other than "Default" is marked.
const char *MarkedPrintRate(ppd_file_t *ppd) {
  const char *rate = MarkedChoice(ppd, "zePrintRate");
  if (rate == nullptr || std::strcmp(rate, "Default") == 0) return nullptr;
  return rate;
}

bool DensityInRange(std::uint32_t setting) { return setting >= 1 && setting <= 100; }

}  // namespace

// ---- Page start ------------------------------------------------------------

void DymoStartPage(ppd_file_t *, const cups_page_header2_t *header) {
  // Label length in dots; the product wraps in 32 bits like the printer's
  // own drivers compute it, and the high byte is taken from the product.
  const std::uint32_t product = header->PageSize[1] * header->HWResolution[1];
  const std::uint32_t length = product / 72;
  const unsigned char lengthCommand[] = {0x1B, 'L', static_cast<unsigned char>(product / 18432),
                                         static_cast<unsigned char>(length)};
  Write(lengthCommand, sizeof lengthCommand);
  const unsigned char widthCommand[] = {0x1B, 'D', static_cast<unsigned char>(header->cupsBytesPerLine)};
  Write(widthCommand, sizeof widthCommand);
  // Density letters start at "c" (setting 0).
  const unsigned char densityCommand[] = {0x1B, static_cast<unsigned char>(0x63u + header->cupsCompression)};
  Write(densityCommand, sizeof densityCommand);
  std::printf("\033q%d", static_cast<int>(header->MediaPosition + 1u));
}

void EplLineStartPage(ppd_file_t *ppd, const cups_page_header2_t *header) {
  // Line mode doubles every rate (page mode keeps 3 and more as they are).
  if (const char *rate = MarkedPrintRate(ppd)) std::printf("\033S%.0f", std::atof(rate) * 2 - 2);
  if (DensityInRange(header->cupsCompression))
    std::printf("\033D%d", static_cast<int>(7 * header->cupsCompression / 100));
  Write("\033M01\033B");
}

void EplPageStartPage(ppd_file_t *ppd, const cups_page_header2_t *header) {
  Write("\nN\n");
  if (MediaTypeOf(header) == "Direct") Write("OD\n");
  if (const char *rate = MarkedPrintRate(ppd)) {
    const double v = std::atof(rate);
    std::printf("S%.0f\n", v >= 3 ? v : v * 2 - 2);
  }
  if (DensityInRange(header->cupsCompression)) std::printf("D%u\n", 15 * header->cupsCompression / 100);
  std::printf("q%u\n", (header->cupsWidth + 7) & ~7u);
}

void ZplStartPage(ppd_file_t *, const cups_page_header2_t *header) {
  if (!AllocateCompressionBuffers(header)) return;
  ZplRowsSent = 0;
  if (DensityInRange(header->cupsCompression)) std::printf("~SD%02u\n", 30 * header->cupsCompression / 100);
  // The total is the true product: a total wrapped to 32 bits would make the
  // printer read the end of the graphic as commands.
  const unsigned long long total =
      static_cast<unsigned long long>(header->cupsHeight) * header->cupsBytesPerLine;
  std::printf("~DGR:CUPS.GRF,%llu,%u,\n", total, header->cupsBytesPerLine);
  ZplDownloadOpen = true;
}

namespace {

struct PclPageSize {
  unsigned length;  // points
  const char *command;
};
constexpr PclPageSize kPclPageSizes[] = {
    {540, "\033&l80A"},  // Monarch envelope
    {624, "\033&l90A"},  // DL envelope
    {649, "\033&l91A"},  // C5 envelope
    {684, "\033&l81A"},  // Com-10 envelope
    {756, "\033&l1A"},   // Executive
    {792, "\033&l2A"},   // Letter
    {842, "\033&l26A"},  // A4
    {1008, "\033&l3A"},  // Legal
};

void PclPageSizeCommand(std::uint32_t length) {
  for (const PclPageSize &size : kPclPageSizes) {
    if (size.length == length) {
      Write(size.command);
      return;
    }
  }
  std::printf("\033!f%uZ", length * 300 / 72);  // custom length in 300-dpi dots
}

// Settings that go into the first page of a job only.
void PclFirstPageSettings(ppd_file_t *ppd, const cups_page_header2_t *header) {
  if (header->cupsRowFeed != 0) std::printf("\033!p%uS", header->cupsRowFeed);
  // The density setting runs from 0 to 100 and -1 means "not set". Below -1
  // there is no density the job can have meant: the printer keeps its own.
  if (static_cast<int>(header->cupsCompression) >= 0)
    std::printf("\033&d%dA", static_cast<int>(30 * header->cupsCompression / 100 - 15));
  if (const char *mode = MarkedChoice(ppd, "inPrintMode")) {
    if (std::strcmp(mode, "Standard") == 0) {
      Write("\033!p0M");
    } else if (std::strcmp(mode, "Tear") == 0) {
      Write("\033!p1M");
      if (header->cupsRowCount != 0) std::printf("\033!n%uT", header->cupsRowCount);
    } else {
      Write("\033!p2M");
      if (header->cupsRowStep != 0) std::printf("\033!n%uC", header->cupsRowStep);
    }
  }
}

}  // namespace

void PclStartPage(ppd_file_t *ppd, const cups_page_header2_t *header) {
  if (!AllocateCompressionBuffers(header)) return;
  const std::uint32_t length = header->PageSize[1];
  Write("\033&l6D\033&k12H");
  Write("\033&l0O");
  PclPageSizeCommand(length);
  std::printf("\033&l%uP", length / 12);
  Write("\033&l0E");
  if (header->NumCopies != 0) std::printf("\033&l%uX", header->NumCopies);
  Write("\033&l0L");
  if (Page == 1) PclFirstPageSettings(ppd, header);
  std::printf("\033*t%uR", header->HWResolution[0]);
  std::printf("\033*r%uS", header->cupsWidth);
  std::printf("\033*r%uT", header->cupsHeight);
  Write("\033&a0H\033&a0V");
  Write("\033*r1A");
  Write("\033*b3M");
}

// ---- Lines -----------------------------------------------------------------

void DymoOutputLine(const cups_page_header2_t *header, unsigned) {
  const std::span<const unsigned char> line = CurrentLine(header);
  if (IsBlank(line)) {
    ++Feed;
    return;
  }
  if (Feed != 0) {
    for (; Feed > 255; Feed -= 255) Write("\033f\001\377");
    const unsigned char feed[] = {0x1B, 'f', 0x01, static_cast<unsigned char>(Feed)};
    Write(feed, sizeof feed);
    Feed = 0;
  }
  Put(0x16);
  Write(line.data(), line.size());
  std::fflush(stdout);
}

void EplLineOutputLine(const cups_page_header2_t *header, unsigned) {
  const std::span<const unsigned char> line = CurrentLine(header);
  std::printf("\033g%03d", static_cast<int>(header->cupsBytesPerLine));
  Write(line.data(), line.size());
  std::fflush(stdout);
}

void EplPageOutputLine(const cups_page_header2_t *header, unsigned y) {
  const std::span<const unsigned char> line = CurrentLine(header);
  if (IsBlank(line)) return;
  char command[32] = "GW0,";
  char *end = Decimal(command + 4, static_cast<int>(y));
  *end++ = ',';
  end = Decimal(end, static_cast<int>(line.size()));
  end = std::copy_n(",1\n", 3, end);
  Write(command, static_cast<std::size_t>(end - command));
  // Page mode prints a 0 bit as a dot: the bytes go out inverted, a block
  // at a time.
  unsigned char inverted[1024];
  for (std::size_t done = 0; done < line.size();) {
    const std::size_t n = std::min(sizeof inverted, line.size() - done);
    for (std::size_t i = 0; i < n; ++i) inverted[i] = static_cast<unsigned char>(~line[done + i]);
    Write(inverted, n);
    done += n;
  }
  Put('\n');
  std::fflush(stdout);
}

void ZplOutputLine(const cups_page_header2_t *header, unsigned) {
  const std::span<const unsigned char> line = CurrentLine(header);
  if (!CompressionReady(line.size())) return;
  ++ZplRowsSent;
  // An empty row has no hex data at all (the download announced 0 bytes).
  if (line.empty()) return;

  if (LastSet && std::memcmp(line.data(), LastBuffer, line.size()) == 0) {
    Put(':');  // the previous row again
    return;
  }

  static constexpr char kHex[] = "0123456789ABCDEF";
  char *hex = reinterpret_cast<char *>(CompBuffer);
  const std::size_t chars = 2 * line.size();
  for (std::size_t i = 0; i < line.size(); ++i) {
    hex[2 * i] = kHex[line[i] >> 4];
    hex[2 * i + 1] = kHex[line[i] & 15];
  }
  hex[chars] = '\0';

  std::size_t start = 0;
  while (true) {
    std::size_t end = start + 1;
    while (end < chars && hex[end] == hex[start]) ++end;
    const auto count = static_cast<std::uint32_t>(end - start);
    if (end < chars) {
      ZPLCompress(hex[start], count);
      start = end;
      continue;
    }
    // The last run: a tail of zeros is a comma, after one "0" that keeps
    // the comma on a byte boundary.
    if (hex[start] == '0') {
      if (count % 2 == 1) Put('0');
      if (count > 1) Put(',');
    } else {
      ZPLCompress(hex[start], count);
    }
    break;
  }

  std::fflush(stdout);
  std::memcpy(LastBuffer, line.data(), line.size());
  LastSet = 1;
}

void PclOutputLine(const cups_page_header2_t *header, unsigned) {
  const std::span<const unsigned char> line = CurrentLine(header);
  if (IsBlank(line)) {
    ++Feed;
    return;
  }
  if (Feed != 0) {
    std::printf("\033*b%uY", Feed);
    Feed = 0;
    LastSet = 0;  // after a skip the next row is sent whole
  }
  PCLCompress(line.data(), static_cast<std::uint32_t>(line.size()));
}

void ZPLCompress(char ch, std::uint32_t count) {
  if (count >= 2) {
    for (; count >= 400; count -= 400) Put('z');
    if (count >= 20) {
      Put('f' + static_cast<int>(count / 20));
      count %= 20;
    }
    if (count != 0) Put('F' + static_cast<int>(count));
  }
  Put(ch);
}

namespace {

// Where SSE2 is there (every x86-64), sixteen bytes of row and seed are
// compared at once, and the comparison's byte mask says where they agree.
#if defined(__SSE2__)
// Bit i set where line[pos + i] equals LastBuffer[pos + i], for 16 bytes.
unsigned AgreeMask16(const unsigned char *line, std::uint32_t pos) {
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(line + pos));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(LastBuffer + pos));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b)));
}
#endif

// The first position from `pos` on where `line` differs from its seed row
// LastBuffer, or `length`: sixteen bytes at a time where SSE2 is there, then
// eight, the first differing byte of a word found from the word's
// difference.
std::uint32_t SameAsSeedUntil(const unsigned char *line, std::uint32_t pos, std::uint32_t length) {
#if defined(__SSE2__)
  for (; pos + 16 <= length; pos += 16)
    if (const unsigned agree = AgreeMask16(line, pos); agree != 0xFFFF)
      return pos + static_cast<std::uint32_t>(std::countr_zero(~agree));
#endif
  for (; pos + 8 <= length; pos += 8) {
    std::uint64_t a, b;
    std::memcpy(&a, line + pos, sizeof a);
    std::memcpy(&b, LastBuffer + pos, sizeof b);
    if (const std::uint64_t differ = a ^ b; differ != 0) {
      if constexpr (std::endian::native == std::endian::little)
        return pos + static_cast<std::uint32_t>(std::countr_zero(differ)) / 8;
      else
        return pos + static_cast<std::uint32_t>(std::countl_zero(differ)) / 8;
    }
  }
  while (pos < length && line[pos] == LastBuffer[pos]) ++pos;
  return pos;
}

// How many bytes from `pos` on (at most 8) differ from the seed row, the
// byte at `pos` being one that does. Where eight bytes remain, they are
// compared at once: by the SSE2 byte mask, or as one word whose bytes are
// zero exactly where line and seed agree (the lowest byte flagged by the
// zero-byte test is always a true zero; false flags only occur above one).
std::uint32_t DifferingRun(const unsigned char *line, std::uint32_t pos, std::uint32_t length) {
#if defined(__SSE2__)
  if (pos + 16 <= length)
    return static_cast<std::uint32_t>(std::countr_zero(AgreeMask16(line, pos) | 0x100u));
#endif
  if (pos + 8 <= length && std::endian::native == std::endian::little) {
    std::uint64_t a, b;
    std::memcpy(&a, line + pos, sizeof a);
    std::memcpy(&b, LastBuffer + pos, sizeof b);
    const std::uint64_t differ = a ^ b;
    const std::uint64_t agree = (differ - 0x0101010101010101ull) & ~differ & 0x8080808080808080ull;
    return agree == 0 ? 8 : static_cast<std::uint32_t>(std::countr_zero(agree)) / 8;
  }
  std::uint32_t count = 0;
  while (count < 8 && pos + count < length && line[pos + count] != LastBuffer[pos + count]) ++count;
  return count;
}

}  // namespace

void PCLCompress(const unsigned char *line, std::uint32_t length) {
  if (!CompressionReady(length) || (line == nullptr && length != 0)) return;
  unsigned char *out = CompBuffer + kPclCommandRoom;
  std::size_t built = 0;
  // A mode-3 row never outgrows n + n/8 + 1 bytes; the checks only guard the
  // buffer should that reasoning ever be broken.
  const auto emit = [&](unsigned char byte) {
    if (built < CompCapacity) out[built++] = byte;
  };
  // The literal bytes of a command (1 to 8); where 8 bytes can be read and
  // written, they move as one word and only `count` of them are kept.
  const auto emitBytes = [&](std::uint32_t pos, std::uint32_t count) {
    if (pos + 8 <= length && CompCapacity - built >= 8) {
      std::memcpy(out + built, line + pos, 8);
      built += count;
      return;
    }
    const std::size_t kept = std::min<std::size_t>(count, CompCapacity - built);
    std::memcpy(out + built, line + pos, kept);
    built += kept;
  };

  std::uint32_t pos = 0;
  while (pos < length) {
    std::uint32_t offset = 0;
    std::uint32_t count;
    if (LastSet) {
      const std::uint32_t from = pos;
      pos = SameAsSeedUntil(line, pos, length);
      offset = pos - from;
      if (pos == length) break;  // an unchanged tail needs no command
      count = DifferingRun(line, pos, length);
    } else {
      count = std::min<std::uint32_t>(8, length - pos);
    }
    if (offset < 31) {
      emit(static_cast<unsigned char>((count - 1) * 32 + offset));
    } else {
      emit(static_cast<unsigned char>((count - 1) * 32 + 31));
      std::uint32_t rest = offset - 31;
      for (; rest >= 255; rest -= 255) emit(255);
      emit(static_cast<unsigned char>(rest));
    }
    emitBytes(pos, count);
    pos += count;
  }

  char command[kPclCommandRoom] = "\033*b";
  char *end = Decimal(command + 3, static_cast<int>(built));
  *end++ = 'W';
  const auto commandSize = static_cast<std::size_t>(end - command);
  std::memcpy(out - commandSize, command, commandSize);
  Write(out - commandSize, commandSize + built);
  if (length != 0) std::memcpy(LastBuffer, line, length);
  LastSet = 1;
}

// ---- Page end --------------------------------------------------------------

void DymoEndPage(ppd_file_t *, const cups_page_header2_t *) { Write("\033E"); }

void EplLineEndPage(ppd_file_t *, const cups_page_header2_t *) { Write("\033E\f"); }

void EplPageEndPage(ppd_file_t *, const cups_page_header2_t *header) {
  Write("P1\n");
  if (HeaderEnumValue(header->CutMedia) != 0) Write("C\n");
}

namespace {

// Completes a graphic download that the raster stream cut short: every
// missing row is sent as an all-zero row, so the printer reads the label
// format that follows as commands and not as graphic data.
void ZplCompleteDownload(const cups_page_header2_t *header) {
  if (!ZplDownloadOpen || header->cupsBytesPerLine == 0 || ZplRowsSent >= header->cupsHeight) return;
  std::uint32_t missing = header->cupsHeight - ZplRowsSent;
  char commas[4096];
  std::memset(commas, ',', sizeof commas);
  while (missing != 0) {
    const std::uint32_t chunk = std::min<std::uint32_t>(missing, sizeof commas);
    Write(commas, chunk);
    missing -= chunk;
  }
  ZplRowsSent = header->cupsHeight;
}

void ZplPrintMode(ppd_file_t *ppd) {
  const char *mode = MarkedChoice(ppd, "zePrintMode");
  if (mode == nullptr || std::strcmp(mode, "Saved") == 0) return;
  Write("^MM");
  if (std::strcmp(mode, "Tear") == 0) Write("T,Y\n");
  else if (std::strcmp(mode, "Peel") == 0) Write("P,Y\n");
  else if (std::strcmp(mode, "Rewind") == 0) Write("R,Y\n");
  else if (std::strcmp(mode, "Applicator") == 0) Write("A,Y\n");
  else Write("C,Y\n");
}

}  // namespace

void ZplEndPage(ppd_file_t *ppd, const cups_page_header2_t *header) {
  if (Canceled) {
    Write("~DN\n");  // abort the graphic download; nothing prints
    ZplDownloadOpen = false;
    return;
  }
  ZplCompleteDownload(header);
  ZplDownloadOpen = false;

  Write("^XA\n");
  Write("^POI\n");
  std::printf("^PW%u\n", header->cupsWidth);
  if (const char *rate = MarkedPrintRate(ppd)) {
    const int value = std::atoi(rate);
    std::printf("^PR%d,%d,%d\n", value, value, value);
  }
  Write("^LH0,0\n");
  if (IsMarked(ppd, "zeMediaTracking", "Continuous")) {
    std::printf("^LL%d\n", static_cast<int>(header->cupsHeight));
    Write("^MNN\n");
  } else if (IsMarked(ppd, "zeMediaTracking", "Web")) {
    Write("^MNY\n");
  } else if (IsMarked(ppd, "zeMediaTracking", "Mark")) {
    Write("^MNM\n");
  }
  if (header->cupsRowStep != 200) std::printf("^LT%d\n", static_cast<int>(header->cupsRowStep));
  if (MediaTypeOf(header) == "Thermal") Write("^MTT\n");
  else if (MediaTypeOf(header) == "Direct") Write("^MTD\n");
  ZplPrintMode(ppd);
  if (header->AdvanceDistance != 1000) {
    // A negative adjustment is four characters wide with its sign.
    const int advance = static_cast<int>(header->AdvanceDistance);
    if (advance < 0) std::printf("~TA%04d\n", advance);
    else std::printf("~TA%03d\n", advance);
  }
  if (IsMarked(ppd, "zeErrorReprint", "Always")) Write("^JZY\n");
  else if (IsMarked(ppd, "zeErrorReprint", "Never")) Write("^JZN\n");
  if (header->NumCopies > 1) std::printf("^PQ%d, 0, 0, N\n", static_cast<int>(header->NumCopies));
  Write("^FO0,0^XGR:CUPS.GRF,1,1^FS\n");
  Write("^XZ\n");
  // A second format deletes the stored graphic.
  Write("^XA\n");
  Write("^IDR:CUPS.GRF^FS\n");
  Write("^XZ\n");
  if (HeaderEnumValue(header->CutMedia) != 0) Write("^CN1\n");
}

void PclEndPage(ppd_file_t *, const cups_page_header2_t *) {
  Write("\033*rB");
  Put('\f');
}
