// OEM printer command streams: the page's command buffer, the page end
// sequence, and the thermal and needle command sets.
#include <malloc.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>

#include "dotweave/filter.h"
#include "oem/oem.h"
#include "oem/pixels16.h"

// ---------------------------------------------------------------------------
// Command buffer and page emission
// ---------------------------------------------------------------------------

void OEMWritePrintData(const void *data, std::uint64_t size) {
  // Once an append has failed the page is incomplete; it is never sent, so
  // further appends are pointless.
  if (MyPageInfo.PageFailed || size == 0) return;
  const std::uint64_t needed = MyPageInfo.CommandSize + size;
  const std::uint64_t capacity =
      MyPageInfo.CommandData != nullptr ? std::max(MyPageInfo.CommandCapacity, MyPageInfo.CommandSize) : 0;
  if (needed > capacity) {
    // Growing by half again keeps a page of thousands of line records linear;
    // growing to the exact size copied the whole page at every line.
    const std::uint64_t grownCapacity = std::max(needed, capacity + capacity / 2);
    void *grown = std::realloc(MyPageInfo.CommandData, grownCapacity);
    if (grown == nullptr) {
      MyPageInfo.PageFailed = 1;
      FailJob("Unable to allocate memory for the printer commands.");
      return;
    }
    MyPageInfo.CommandData = static_cast<unsigned char *>(grown);
    MyPageInfo.CommandCapacity = grownCapacity;
  }
  std::memcpy(MyPageInfo.CommandData + MyPageInfo.CommandSize, data, size);
  MyPageInfo.CommandSize += size;
}

void OEMEndPage() {
  OEMRGBToGray();
  OEMRotationPhotograph();
  API_DitherColor();
  OEMCompressionData_NeedlePrinter();
  FindLineHorizental_1440();
  OrganizePrintInstructionOnePage();
  OEMSendDataToPrinter();
  OEMRelease();
}

namespace {

// The thermal row count and the needle page length are 16-bit fields.
constexpr std::uint64_t kMaxPageRows = 0xFFFF;

}  // namespace

namespace {

// A thermal page's stream is at most the zero block, the settings, the frame
// and one record of head width plus 4 bytes per printed line, several
// megabytes for a long page. The command buffer is taken at that size once,
// on huge pages where the kernel offers them, instead of growing line by
// line into fresh small pages; only what is written becomes resident.
void ReserveThermalCommands() {
  if (!PrintPa.Identified || MyPageInfo.PageFailed || MyPageInfo.CommandData != nullptr) return;
  if (PrintPa.HeadWidth <= 0 || MyPageInfo.Height > kMaxPageRows) return;
  const std::uint64_t head = static_cast<std::uint64_t>(PrintPa.HeadWidth);
  const std::uint64_t blankLines = PrintPa.VerticalAdj > 0 ? 8 * static_cast<std::uint64_t>(PrintPa.VerticalAdj) : 0;
  const std::uint64_t worst = 1000 + 64 + (blankLines + MyPageInfo.Height) * (head + 4);
  if (unsigned char *buffer = OEMAllocatePageBuffer(worst, false)) {
    MyPageInfo.CommandData = buffer;
    MyPageInfo.CommandCapacity = worst;
  }
}

// A needle page's stream is at most the zero block and the settings, one
// band (image header, 2880 bytes, and up to two feeds before and two after
// it) per 16 image rows, a feed per 64 blank rows, and the feeds that fill a
// fixed page length, a few hundred kilobytes. It is taken at that size once
// and mapped at once: growing it band by band took every fresh page of it by
// a fault of its own, which cost more than coding the bands.
void ReserveNeedleCommands() {
  if (!PrintPa.Identified || MyPageInfo.PageFailed || MyPageInfo.CommandData != nullptr) return;
  if (MyPageInfo.Height > kMaxPageRows) return;
  constexpr std::uint64_t kBandRecord = 5 + 2 * 1440 + 4 * 4;
  const std::uint64_t rows = MyPageInfo.Height;
  const std::uint64_t worst = 1024 + (rows / 16 + 1) * kBandRecord + (rows / 64 + 2) * 8;
  if (unsigned char *buffer = OEMAllocatePageBuffer(worst, true)) {
    MyPageInfo.CommandData = buffer;
    MyPageInfo.CommandCapacity = worst;
  }
}

}  // namespace

void OrganizePrintInstructionOnePage() {
  // A taller page cannot be described to the printer, and coding it line by
  // line (a narrow image becomes a whole head line per row) would take
  // minutes and gigabytes: it is refused whole.
  if (PrintPa.Identified && !MyPageInfo.PageFailed &&
      (MyPageInfo.PageRows > kMaxPageRows || MyPageInfo.Height > kMaxPageRows)) {
    MyPageInfo.PageFailed = 1;
    FailJob("The page is too large to print.");
  }
  if (PrintPa.IsNeedle) {
    ReserveNeedleCommands();
    static constexpr unsigned char kZeros[64] = {};
    OEMWritePrintData(kZeros, sizeof kZeros);
    OEMSendDensityCommand();
    OEMSendUnidirectionalCommand();
    OEMSendSpeedCommand();
    OEMSendPageLengthCommand();
    OEMSendPrintStartPositionCommand();
    OEMDataTransferIntoPrinterInstructionFormat();
    OEMSendEndPageCommand();
    OEMSendPrintCutPositionCommand();
  } else {
    ReserveThermalCommands();
    static constexpr unsigned char kZeros[1000] = {};
    OEMWritePrintData(kZeros, sizeof kZeros);
    OEMSendSpeedCommand();
    OEMSendDensityCommand();
    OEMSendGrayLevelCommand();
    OEMSendGrayLevelValueCommand();
    OEMSendPaperTypeCommand();
    OEMPrintDataPagerHeader_ThermalPrinter();
    OEMDataTransferIntoPrinterInstructionFormat();
    OEMPrintDataPagerTail_ThermalPrinter();
  }
}

void OEMDataTransferIntoPrinterInstructionFormat() {
  // Nothing of a failed or unidentified page is sent: do not code its lines.
  if (!PrintPa.Identified || MyPageInfo.PageFailed) return;
  switch (PrintPa.HeadWidth) {
    case 384: case 448: case 576: case 620: case 640: case 832:
      OEMDataThransfer_ThermalPrinter(static_cast<std::uint32_t>(PrintPa.HeadWidth));
      break;
    case 1440:
      OEMDataThransfer_Needle();
      break;
    default:
      break;  // no raster encoder for this head: the page carries no image
  }
}

void OEMSendDataToPrinter() {
  if (!PrintPa.Identified) {
    // Nothing is printed; say so, or the job would look printed.
    ReportUnidentifiedPage();
    return;
  }
  // A page whose buffers could not be built is never sent in part.
  if (MyPageInfo.PageFailed) return;
  if (MyPageInfo.CommandData != nullptr)
    std::fwrite(MyPageInfo.CommandData, 1, MyPageInfo.CommandSize, stdout);
  std::fflush(stdout);
}

void OEMRelease() {
  if (MyPageInfo.ImageData != nullptr) std::free(MyPageInfo.ImageData);
  if (MyPageInfo.ReducedData != nullptr) std::free(MyPageInfo.ReducedData);
  if (MyPageInfo.CommandData != nullptr) std::free(MyPageInfo.CommandData);
#ifdef __GLIBC__
  // The C library keeps freed heap memory for reuse; a job of many pages
  // would then hold the last page's work buffers while the next page is
  // collected. Give it back, so that every page peaks at its own size.
  malloc_trim(0);
#endif
}


// ---------------------------------------------------------------------------
// Shared helpers
// ---------------------------------------------------------------------------

namespace {

bool ThermalGate() { return PrintPa.Identified && !PrintPa.IsNeedle; }
bool NeedleGate() { return PrintPa.Identified && PrintPa.IsNeedle; }

constexpr unsigned char Low8(std::int64_t value) { return static_cast<unsigned char>(value & 0xFF); }
constexpr unsigned char Low8(std::uint64_t value) { return static_cast<unsigned char>(value & 0xFF); }

template <std::size_t N>
void Append(const unsigned char (&bytes)[N]) {
  OEMWritePrintData(bytes, N);
}

// Rows of the page image that can be read: the encoders step through the image
// by Width, and a page cut short (or a header whose sizes disagree with the
// collected data) must never make them read past the bytes actually held.
std::uint64_t ReadableRows() {
  const std::uint64_t width = MyPageInfo.Width;
  if (width == 0 || MyPageInfo.ImageData == nullptr) return 0;
  return std::min(MyPageInfo.Height, MyPageInfo.ImageSize / width);
}

const unsigned char *ImageRow(std::uint64_t y) { return MyPageInfo.ImageData + y * MyPageInfo.Width; }

}  // namespace

// ---------------------------------------------------------------------------
// Commands of both printer kinds
// ---------------------------------------------------------------------------

void OEMSendSpeedCommand() {
  if (!PrintPa.Identified) return;
  if (PrintPa.IsNeedle) {
    Append({0x1B, 0x7A, Low8(std::int64_t{PrintPa.Speed})});
    return;
  }
  // Thermal speed travels most significant byte first.
  const std::int64_t speed = PrintPa.Speed;
  Append({0x40, 0x53, 0x4D, 0x53, Low8(speed >> 8), Low8(speed), 0x0D, 0x0A});
}

void OEMSendDensityCommand() {
  if (!PrintPa.Identified) return;
  const unsigned char density = Low8(std::int64_t{PrintPa.Density});
  if (PrintPa.IsNeedle)
    Append({0x1B, 0x0A, 0x01, density, 0x00, 0x00, 0x00});
  else
    Append({0x40, 0x53, 0x7E, 0x7E, density, 0x0D, 0x0A});
}

// ---------------------------------------------------------------------------
// Thermal commands and page framing
// ---------------------------------------------------------------------------

void OEMSendGrayLevelCommand() {
  if (!ThermalGate()) return;
  Append({0x40, 0x53, 0x47, 0x53, 0x02, 0x0D, 0x0A});
}

void OEMSendGrayLevelValueCommand() {
  if (!ThermalGate()) return;
  Append({0x40, 0x53, 0x54, 0x50, 90, 10, 20, 20, 20, 20, 20, 20, 90, 100, 80, 80, 80, 80, 80, 80,
          0x0D, 0x0A});
}

void OEMSendPaperTypeCommand() {
  if (!ThermalGate()) return;
  Append({0x40, 0x53, 0x50, 0x50, PrintPa.PaperType, 0x0D, 0x0A});
}

void OEMPrintDataPagerHeader_ThermalPrinter() {
  if (!ThermalGate()) return;
  // The length field stays zero until the tail knows the block's size.
  MyPageInfo.LengthFieldPos = MyPageInfo.CommandSize + 2;
  const std::uint64_t rows = MyPageInfo.PageRows;  // least significant byte first
  Append({0x40, 0x3C, 0x00, 0x00, 0x00, 0x00, Low8(rows), Low8(rows >> 8)});
  MyPageInfo.PayloadLength += 8;
}

void OEMPrintDataLine_ThermalPrinter(const unsigned char *data, std::uint32_t length) {
  if (!ThermalGate()) return;
  constexpr std::uint32_t kMaxLineBytes = 1000;
  const std::uint32_t n = std::min(length, kMaxLineBytes);
  unsigned char record[kMaxLineBytes + 4];
  record[0] = 0x23;
  record[1] = 0x3C;
  if (n != 0) std::memcpy(record + 2, data, n);
  record[n + 2] = 0x23;
  record[n + 3] = 0x3E;
  OEMWritePrintData(record, n + 4);
  MyPageInfo.PayloadLength += n + 4;
}

void OEMPrintDataPagerTail_ThermalPrinter() {
  if (!ThermalGate()) return;
  Append({0x40, 0x3E, 0x0D, 0x0A});
  MyPageInfo.PayloadLength += 4;
  if (MyPageInfo.CommandData == nullptr || MyPageInfo.CommandSize <= 8) return;
  // The field must lie inside this page's buffer: a stale position (a page
  // whose header was never appended) is never patched into foreign bytes.
  const std::uint64_t pos = MyPageInfo.LengthFieldPos;
  if (pos > MyPageInfo.CommandSize || MyPageInfo.CommandSize - pos < 4) return;
  const std::uint64_t length = MyPageInfo.PayloadLength;  // most significant byte first
  unsigned char *field = MyPageInfo.CommandData + pos;
  field[0] = Low8(length >> 24);
  field[1] = Low8(length >> 16);
  field[2] = Low8(length >> 8);
  field[3] = Low8(length);
}

// ---------------------------------------------------------------------------
// Thermal raster encoding
// ---------------------------------------------------------------------------

namespace {

constexpr std::uint32_t kWidestThermalHead = 832;
constexpr unsigned char kWhite = 0xFF;

// All-white lines of the vertical adjustment: runs of 256 white dots and one
// shorter run, coded once per head width.
std::span<const unsigned char> ThermalBlankLine(std::uint32_t head) {
  static constexpr unsigned char k384[] = {0x80, 0xFF, 0x80, 0x7F};
  static constexpr unsigned char k448[] = {0x80, 0xFF, 0x80, 0xBF};
  static constexpr unsigned char k576[] = {0x80, 0xFF, 0x80, 0xFF, 0x80, 0x3F};
  static constexpr unsigned char k620[] = {0x80, 0xFF, 0x80, 0xFF, 0x80, 0x6B};
  static constexpr unsigned char k640[] = {0x80, 0xFF, 0x80, 0xFF, 0x80, 0x7F};
  static constexpr unsigned char k832[] = {0x80, 0xFF, 0x80, 0xFF, 0x80, 0xFF, 0x80, 0x3F};
  switch (head) {
    case 384: return k384;
    case 448: return k448;
    case 576: return k576;
    case 620: return k620;
    case 640: return k640;
    case 832: return k832;
    default: return {};
  }
}

// Copies `count` dots of `from` to `to` + `shift`, dropping what falls past the
// head: the shifted part of a line is simply not printed.
void CopyShifted(const unsigned char *from, std::size_t count, unsigned char *to, std::size_t shift,
                 std::size_t head) {
  if (shift >= head) return;
  std::memcpy(to + shift, from, std::min(count, head - shift));
}

// Builds the printed line of one image row on a head of `head` dots: a
// narrower image is placed (centred, or against the right end) and then
// shifted right by 8 dots per adjustment unit of either sign; a wider image
// is cut, a negative adjustment skipping one image column per unit.
void PlaceThermalLine(std::span<const unsigned char> row, std::size_t head, std::int64_t adjust, bool rightAlign,
                      unsigned char *line) {
  std::memset(line, kWhite, head);
  const std::size_t width = row.size();
  const std::uint64_t units = static_cast<std::uint64_t>(adjust < 0 ? -adjust : adjust);
  const std::size_t shift = static_cast<std::size_t>(std::min<std::uint64_t>(units * 8, head));
  if (width < head) {
    unsigned char placed[kWidestThermalHead];
    std::memset(placed, kWhite, head);
    const std::size_t offset = rightAlign ? head - width : (head - width) / 2;
    if (width != 0) std::memcpy(placed + offset, row.data(), width);
    CopyShifted(placed, head, line, shift, head);
  } else if (adjust <= 0) {
    if (width <= units) return;
    const std::size_t skip = static_cast<std::size_t>(units);
    std::memcpy(line, row.data() + skip, std::min(head, width - skip));
  } else {
    CopyShifted(row.data(), width, line, shift, head);
  }
}

// The index of the first dot from `from` on whose byte differs from
// `value`, or `end`: eight dots are compared at a time.
std::size_t RunEnd(const unsigned char *line, std::size_t from, std::size_t end, unsigned char value) {
  constexpr std::uint64_t kEveryByte = 0x0101010101010101ull;
  const std::uint64_t pattern = value * kEveryByte;
  std::size_t x = from;
  for (; x + 8 <= end; x += 8) {
    std::uint64_t word;
    std::memcpy(&word, line + x, sizeof word);
    if (const std::uint64_t differ = word ^ pattern; differ != 0) {
      if constexpr (std::endian::native == std::endian::little)
        return x + static_cast<std::size_t>(std::countr_zero(differ)) / 8;
      else
        return x + static_cast<std::size_t>(std::countl_zero(differ)) / 8;
    }
  }
  while (x < end && line[x] == value) ++x;
  return x;
}

// Run-length code of one line: one byte for a single dot, two for a longer
// run (colour byte with bit 7, then the dots beyond the first). Runs stop at
// 252 dots, so a stretch of equal dots longer than that is sent as runs of
// 252 and one run of what is left. Returns the coded length, never more
// than `head` bytes.
std::size_t CodeThermalLine(const unsigned char *line, std::size_t head, unsigned char *out) {
  constexpr std::size_t kLongestRun = 252;
  std::size_t size = 0;
  for (std::size_t x = 0; x < head;) {
    const unsigned char value = line[x];
    const std::size_t end = RunEnd(line, x + 1, head, value);
    const unsigned char colour = value == kWhite ? 0x00 : 0x01;
    std::size_t dots = end - x;
    for (; dots >= kLongestRun; dots -= kLongestRun) {
      out[size++] = static_cast<unsigned char>(0x80 | colour);
      out[size++] = static_cast<unsigned char>(kLongestRun - 1);
    }
    if (dots == 1) {
      out[size++] = colour;
    } else if (dots > 1) {
      out[size++] = static_cast<unsigned char>(0x80 | colour);
      out[size++] = static_cast<unsigned char>(dots - 1);
    }
    x = end;
  }
  return size;
}

}  // namespace

void OEMDataThransfer_ThermalPrinter(std::uint32_t headWidth) {
  if (headWidth == 0 || headWidth > kWidestThermalHead) return;
  const std::size_t head = headWidth;
  const std::int64_t vertical = PrintPa.VerticalAdj;

  std::uint64_t firstRow = 0;
  if (vertical > 0) {
    const auto blank = ThermalBlankLine(headWidth);
    for (std::int64_t i = 0; i < 8 * vertical; ++i)
      OEMPrintDataLine_ThermalPrinter(blank.data(), static_cast<std::uint32_t>(blank.size()));
  } else {
    firstRow = static_cast<std::uint64_t>(-vertical) * 8;
  }

  const std::uint64_t rows = ReadableRows();
  const std::size_t width = static_cast<std::size_t>(MyPageInfo.Width);
  unsigned char line[kWidestThermalHead];
  unsigned char coded[kWidestThermalHead];
  // Without an adjustment an image at least as wide as the head prints its
  // first `head` columns as they are: such rows are coded where they lie.
  const bool rowsAsTheyAre = width >= head && PrintPa.HorizontalAdj == 0;
  for (std::uint64_t y = firstRow; y < rows; ++y) {
    const unsigned char *printed = ImageRow(y);
    if (!rowsAsTheyAre) {
      PlaceThermalLine({printed, width}, head, PrintPa.HorizontalAdj, PrintPa.RightAlign != 0, line);
      printed = line;
    }
    const std::size_t size = CodeThermalLine(printed, head, coded);
    OEMPrintDataLine_ThermalPrinter(coded, static_cast<std::uint32_t>(size));
  }
}

// ---------------------------------------------------------------------------
// Needle commands
// ---------------------------------------------------------------------------

namespace {

// Fixed page lengths in rows, by FixPageHeight; 0 means no fixed length.
constexpr std::uint64_t kFixedPageRows[] = {0, 528, 576, 720, 792, 1584};

std::uint64_t FixedPageRows() {
  const std::int32_t choice = PrintPa.FixPageHeight;
  if (choice < 1 || choice > 5) return 0;
  return kFixedPageRows[choice];
}

// Position commands carry a direction byte and the distance.
void SendSignedPosition(unsigned char forward, unsigned char backward, std::int32_t value) {
  const std::int64_t wide = value;
  Append({0x1B, wide >= 0 ? forward : backward, Low8(wide >= 0 ? wide : -wide)});
}

}  // namespace

void OEMSendUnidirectionalCommand() {
  if (!NeedleGate()) return;
  Append({0x1B, 0x55, PrintPa.Unidirectional});
}

void OEMSendPageLengthCommand() {
  if (!NeedleGate()) return;
  const std::uint64_t fixed = FixedPageRows();
  const std::uint64_t length = fixed != 0 ? fixed : MyPageInfo.Height;  // most significant byte first
  Append({0x1B, 0x89, Low8(length >> 8), Low8(length)});
}

void OEMSendPrintStartPositionCommand() {
  if (!NeedleGate()) return;
  SendSignedPosition(0xA0, 0xA1, PrintPa.StartPosition);
}

void OEMSendEndPageCommand() {
  if (!NeedleGate()) return;
  Append({0x1D, 0x56, 0x53});
}

void OEMSendPrintCutPositionCommand() {
  if (!NeedleGate()) return;
  SendSignedPosition(0x9C, 0x9E, PrintPa.CutPosition);
}

void OEMSendPaperFeedCommand(unsigned n) {
  if (!NeedleGate()) return;
  Append({0x1B, 0x4A, Low8(std::uint64_t{n}), 0x0D});
}

void OEMSendImageHeaderCommand(unsigned n) {
  if (!NeedleGate()) return;
  // The byte count travels least significant byte first.
  Append({0x1B, 0x2A, 0x01, Low8(std::uint64_t{n}), Low8(std::uint64_t{n} >> 8)});
}

// ---------------------------------------------------------------------------
// Needle bands and feeds
// ---------------------------------------------------------------------------

int OEMNeedlePrinter_FixedPageAlgorithm(std::uint8_t n, std::uint64_t *total) {
  const std::uint64_t length = FixedPageRows();
  if (length == 0 || *total + n < length) {
    OEMSendPaperFeedCommand(n);
    *total += n;
    return 1;
  }
  // The page is full: feed exactly up to its length, then mark it with a
  // zero feed.
  if (*total < length) OEMSendPaperFeedCommand(static_cast<unsigned>(length - *total));
  *total = length;
  OEMSendPaperFeedCommand(0);
  return 0;
}

int OEMCompensateEndPage(std::uint64_t *total) {
  const std::uint64_t length = FixedPageRows();
  if (length == 0 || *total >= length) return 0;
  std::uint64_t rest = length - *total;
  constexpr std::uint64_t kStep = 128;
  for (; rest > kStep; rest -= kStep) OEMSendPaperFeedCommand(kStep);
  OEMSendPaperFeedCommand(static_cast<unsigned>(rest));
  *total = length;
  return 1;
}

namespace {

constexpr std::size_t kNeedleDots = 1440;
constexpr std::size_t kBandRows = 16;
constexpr std::size_t kBandBytes = 2 * kNeedleDots;
constexpr std::uint8_t kBlankFeedStep = 64;

// Bit of each band row; odd rows go to the first half of the band, even rows
// to the second.
constexpr unsigned char kBandRowBit[kBandRows] = {0x80, 0x80, 0x40, 0x40, 0x20, 0x20, 0x10, 0x10,
                                                  0x08, 0x08, 0x04, 0x04, 0x02, 0x02, 0x01, 0x01};
constexpr std::size_t BandHalf(std::size_t row) { return row % 2 == 1 ? 0 : kNeedleDots; }

using namespace oem16;

// A row is blank when no column from `first` on holds a black (0x00) dot.
bool NeedleRowBlank(std::uint64_t y, std::size_t first) {
  const std::size_t width = static_cast<std::size_t>(MyPageInfo.Width);
  if (first >= width) return true;
  return std::memchr(ImageRow(y) + first, 0x00, width - first) == nullptr;
}

// Sets the band's bits for up to 16 image rows from `top`. A column is printed
// at its column plus `shift`; a dot whose shifted position lies beyond the
// head has no place in its half of the band and is dropped.
void FillBand(std::array<unsigned char, kBandBytes> &band, std::uint64_t top, std::uint64_t rows, std::size_t first,
              std::size_t shift) {
  band.fill(0);
  const std::size_t width = static_cast<std::size_t>(MyPageInfo.Width);
  const std::size_t end = std::min(width, kNeedleDots);
  if (shift >= kNeedleDots) return;
  const std::size_t last = std::min(end, kNeedleDots - shift);  // first column that would overflow
  for (std::size_t r = 0; r < kBandRows && top + r < rows; ++r) {
    const unsigned char *row = ImageRow(top + r);
    unsigned char *half = band.data() + BandHalf(r) + shift;
    const Pixels16 bit = Splat16(kBandRowBit[r]);
    std::size_t x = first;
    for (; x + 16 <= last; x += 16) Store16(half + x, Load16(half + x) | (Dots16(row + x) & bit));
    for (; x < last; ++x)
      if (row[x] == 0x00) half[x] |= kBandRowBit[r];
  }
}

}  // namespace

void OEMDataThransfer_Needle() {
  const std::int64_t vertical = PrintPa.VerticalAdj;
  const std::int64_t horizontal = PrintPa.HorizontalAdj;
  std::uint64_t total = 0;

  std::uint64_t y = 0;
  if (vertical > 0) {
    if (!OEMNeedlePrinter_FixedPageAlgorithm(static_cast<std::uint8_t>((6 * vertical) & 0xFF), &total)) return;
  } else {
    y = static_cast<std::uint64_t>(-vertical) * 6;
  }
  const std::size_t first = horizontal < 0 ? static_cast<std::size_t>(-horizontal) * 6 : 0;
  const std::size_t shift = horizontal > 0 ? static_cast<std::size_t>(horizontal) * 6 : 0;

  const std::uint64_t rows = ReadableRows();
  std::array<unsigned char, kBandBytes> band;
  std::uint8_t blank = 0;  // blank rows not fed yet
  while (y < rows) {
    if (NeedleRowBlank(y, first)) {
      if (blank == kBlankFeedStep - 1) {
        if (!OEMNeedlePrinter_FixedPageAlgorithm(kBlankFeedStep, &total)) return;
        blank = 0;
      } else {
        ++blank;
      }
      ++y;
      continue;
    }
    if (blank > 0 && !OEMNeedlePrinter_FixedPageAlgorithm(blank, &total)) return;
    FillBand(band, y, rows, first, shift);
    OEMSendImageHeaderCommand(kBandBytes);
    OEMWritePrintData(band.data(), band.size());
    if (!OEMNeedlePrinter_FixedPageAlgorithm(kBandRows, &total)) return;
    blank = 0;
    y += kBandRows;
  }
  if (blank > 0 && !OEMNeedlePrinter_FixedPageAlgorithm(blank, &total)) return;
  OEMCompensateEndPage(&total);
}
