// OEM page image pipeline: page collection, gray conversion, rotation,
// binarisation, and the needle-only row reduction and line thinning.
//
// The page is collected whole, then each step rewrites MyPageInfo in place.
// From the gray conversion on the image is one byte per pixel and always
// holds Height rows of BytesPerLine bytes: a page cut short is completed
// with white rows there, so no later step meets a partial image.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "dotweave/filter.h"
#include "oem/oem.h"

namespace {

// The largest page image held in memory, collected or gray. A real page is
// far below it (an 832 x 8000 RGB thermal page is about 20 MB); a hostile
// header claiming a huge height must not make the filter allocate gigabytes.
constexpr std::uint64_t kMaxPageImageBytes = std::uint64_t{512} << 20;

constexpr unsigned char kWhite = 0xFF;
constexpr unsigned char kBlack = 0x00;

// rows x bytesPerRow, or nothing when that exceeds the page image limit.
std::optional<std::uint64_t> ImageBytes(std::uint64_t rows, std::uint64_t bytesPerRow) {
  if (bytesPerRow != 0 && rows > kMaxPageImageBytes / bytesPerRow) return std::nullopt;
  return rows * bytesPerRow;
}

// Drops the page image after a failure. The geometry is emptied as well, so
// that nothing after this step (nor an encoder) walks rows that are gone.
void AbandonPageImage() {
  std::free(MyPageInfo.ImageData);
  MyPageInfo.ImageData = nullptr;
  MyPageInfo.ImageSize = 0;
  MyPageInfo.ImageCapacity = 0;
  MyPageInfo.Width = 0;
  MyPageInfo.Height = 0;
  MyPageInfo.BytesPerLine = 0;
}

// The page cannot be printed: report it once, and make sure nothing of it
// reaches the printer (the command writer skips failed pages).
void FailPage(const char *message) {
  MyPageInfo.PageFailed = 1;
  FailJob(message);
  AbandonPageImage();
}

void FailPageTooLarge() { FailPage("The page is too large to print."); }
void FailPageNoMemory() { FailPage("Unable to allocate memory for the page image."); }

// Puts `buffer` of `size` bytes in place of the page image.
void ReplaceImage(unsigned char *buffer, std::uint64_t size) {
  std::free(MyPageInfo.ImageData);
  MyPageInfo.ImageData = buffer;
  MyPageInfo.ImageSize = size;
  MyPageInfo.ImageCapacity = size;
}

// A fresh buffer of `size` bytes; null for an empty image (not a failure).
unsigned char *AllocateImage(std::uint64_t size) {
  if (size == 0) return nullptr;
  return static_cast<unsigned char *>(std::malloc(size));
}

// ---------------------------------------------------------------------------
// Raster formats
// ---------------------------------------------------------------------------

// The printers expect 24-bit colour; gray and 1-bit pages are converted too,
// with white and black taken the right way round for their colour space.
enum class PixelFormat { Rgb24, Gray8, InkGray8, WhiteBit1, InkBit1, Unsupported };

// Colour spaces whose value counts light (255 or a set bit is white).
bool IsLuminanceSpace(std::uint32_t space) { return space == CUPS_CSPACE_W || space == CUPS_CSPACE_SW; }

// Single-colorant spaces whose value counts ink (255 or a set bit is a dot).
bool IsInkSpace(std::uint32_t space) {
  return space == CUPS_CSPACE_K || space == CUPS_CSPACE_WHITE || space == CUPS_CSPACE_GOLD ||
         space == CUPS_CSPACE_SILVER;
}

PixelFormat PageFormat() {
  const std::uint32_t space = MyPageInfo.ColorSpace;
  switch (MyPageInfo.BitsPerPixel) {
    // A record filled in without a format (no raster header has 0 bits per
    // pixel) is taken as the 24-bit layout the printers are made for.
    case 0:
    case 24: return PixelFormat::Rgb24;
    case 8:
      if (IsLuminanceSpace(space)) return PixelFormat::Gray8;
      if (IsInkSpace(space)) return PixelFormat::InkGray8;
      return PixelFormat::Unsupported;
    case 1:
      if (IsLuminanceSpace(space)) return PixelFormat::WhiteBit1;
      if (IsInkSpace(space)) return PixelFormat::InkBit1;
      return PixelFormat::Unsupported;
    default: return PixelFormat::Unsupported;
  }
}

void FailPageUnsupported() { FailPage("The page's raster format is not supported by this printer."); }

// Gray bytes per row after the conversion: a third of the RGB row, else one
// per pixel of the page width.
std::uint64_t GrayBytesPerLine(PixelFormat format) {
  return format == PixelFormat::Rgb24 ? MyPageInfo.BytesPerLine / 3 : MyPageInfo.Width;
}

// One gray row from the `avail` bytes of a collected row that arrived (fewer
// than a whole row when the page was cut there); pixels without data are
// white.
void GrayRow(PixelFormat format, const unsigned char *in, std::uint64_t avail, unsigned char *out,
             std::uint64_t pixels) {
  std::uint64_t x = 0;
  switch (format) {
    case PixelFormat::Rgb24:
      for (const std::uint64_t whole = std::min(pixels, avail / 3); x < whole; ++x, in += 3)
        out[x] = static_cast<unsigned char>((11u * in[0] + 59u * in[1] + 30u * in[2]) / 100u);
      break;
    case PixelFormat::Gray8:
      x = std::min(pixels, avail);
      if (x != 0) std::memcpy(out, in, x);
      break;
    case PixelFormat::InkGray8:
      for (const std::uint64_t whole = std::min(pixels, avail); x < whole; ++x)
        out[x] = static_cast<unsigned char>(255 - in[x]);
      break;
    case PixelFormat::WhiteBit1:
    case PixelFormat::InkBit1: {
      // MSB first; a set bit is white in luminance spaces and a dot in ink ones.
      const unsigned char set = format == PixelFormat::WhiteBit1 ? kWhite : kBlack;
      const unsigned char clear = format == PixelFormat::WhiteBit1 ? kBlack : kWhite;
      for (const std::uint64_t whole = std::min(pixels, avail * 8); x < whole; ++x)
        out[x] = ((in[x >> 3] >> (7 - (x & 7))) & 1) ? set : clear;
      break;
    }
    case PixelFormat::Unsupported: break;
  }
  if (x < pixels) std::memset(out + x, kWhite, pixels - x);
}

// Completes an image of Height rows of BytesPerLine bytes with white where
// fewer bytes are held. The gray conversion already delivers whole images;
// this keeps the later steps inside their buffers whatever the record holds.
bool EnsureWholeImage() {
  const std::optional<std::uint64_t> whole = ImageBytes(MyPageInfo.Height, MyPageInfo.BytesPerLine);
  if (!whole) {
    FailPageTooLarge();
    return false;
  }
  if (MyPageInfo.ImageSize >= *whole) return true;
  void *grown = std::realloc(MyPageInfo.ImageData, *whole);
  if (grown == nullptr) {
    FailPageNoMemory();
    return false;
  }
  MyPageInfo.ImageData = static_cast<unsigned char *>(grown);
  std::memset(MyPageInfo.ImageData + MyPageInfo.ImageSize, kWhite, *whole - MyPageInfo.ImageSize);
  MyPageInfo.ImageSize = *whole;
  MyPageInfo.ImageCapacity = *whole;
  return true;
}

// ---------------------------------------------------------------------------
// Quarter turns
// ---------------------------------------------------------------------------

// Turns the H x B image by a quarter: `place(y, x)` gives the output offset
// of input pixel (y, x) in the B x H result. Walked in square tiles so that
// neither the reads nor the writes stride through the whole page per pixel.
template <typename Place>
void QuarterTurn(Place place) {
  if (MyPageInfo.PageFailed || !EnsureWholeImage()) return;
  const std::uint64_t h = MyPageInfo.Height;
  const std::uint64_t b = MyPageInfo.BytesPerLine;
  const std::uint64_t size = h * b;
  unsigned char *turned = AllocateImage(size);
  if (size != 0 && turned == nullptr) {
    FailPageNoMemory();
    return;
  }
  constexpr std::uint64_t kTile = 64;
  const unsigned char *in = MyPageInfo.ImageData;
  for (std::uint64_t y0 = 0; y0 < h; y0 += kTile) {
    const std::uint64_t y1 = std::min(h, y0 + kTile);
    for (std::uint64_t x0 = 0; x0 < b; x0 += kTile) {
      const std::uint64_t x1 = std::min(b, x0 + kTile);
      for (std::uint64_t y = y0; y < y1; ++y)
        for (std::uint64_t x = x0; x < x1; ++x) turned[place(y, x)] = in[y * b + x];
    }
  }
  ReplaceImage(turned, size);
  MyPageInfo.Width = h;
  MyPageInfo.Height = b;
  MyPageInfo.BytesPerLine = h;
}

// ---------------------------------------------------------------------------
// Five-to-four reduction
// ---------------------------------------------------------------------------

// Output dots o0..o3 (bit 3 = o0) for the five input dots r0..r4 of a column
// (index bit 4 = r0), 1 = black. Rows 0 and 4 pass through; the three middle
// rows merge into two without ever adding a dot.
constexpr unsigned char kFiveToFour[32] = {
    0x0, 0x1, 0x2, 0x3, 0x4, 0x5, 0x6, 0x7, 0x4, 0x5, 0x6, 0x5, 0x4, 0x5, 0x6, 0x7,
    0x8, 0x9, 0xA, 0xB, 0xA, 0xD, 0xA, 0xB, 0xC, 0xD, 0xA, 0x9, 0xC, 0xD, 0xE, 0xF,
};

// ---------------------------------------------------------------------------
// Line thinning
// ---------------------------------------------------------------------------

constexpr std::uint64_t kThinWindow = 140;

bool IsDark(unsigned char pixel) { return pixel < 80; }

// Whether some window starting at a dark pixel (140 pixels, or up to the row
// end) is more than 60 % dark. The dark count of the window is carried along
// as it slides, so the row is read twice at most.
bool RowHasDenseWindow(const unsigned char *row, std::uint64_t width) {
  std::uint64_t end = std::min(kThinWindow, width);
  std::uint64_t dark = 0;
  for (std::uint64_t i = 0; i < end; ++i) dark += IsDark(row[i]);
  for (std::uint64_t p = 0; p < width; ++p) {
    if (IsDark(row[p])) {
      if (10 * dark > 6 * (end - p)) return true;
      --dark;
    }
    if (end < width) dark += IsDark(row[end++]);
  }
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// Collection
// ---------------------------------------------------------------------------

// Appends one raster line. The first line reserves the whole page as its
// header describes it, so the following lines are copied in place; only a
// page longer than its header would grow the buffer again.
void OEMWriteOriginalPageData(const unsigned char *line, std::uint64_t size) {
  if (MyPageInfo.PageFailed || size == 0) return;
  if (MyPageInfo.ImageData == nullptr) {
    MyPageInfo.ImageSize = 0;
    MyPageInfo.ImageCapacity = 0;
    const PixelFormat format = PageFormat();
    if (format == PixelFormat::Unsupported) {
      FailPageUnsupported();
      return;
    }
    // Refuse at once a page whose image could never be held, collected or
    // gray, rather than after reading all of it.
    if (!ImageBytes(MyPageInfo.Height, MyPageInfo.BytesPerLine) ||
        !ImageBytes(MyPageInfo.Height, GrayBytesPerLine(format))) {
      FailPageTooLarge();
      return;
    }
  }
  const std::uint64_t needed = MyPageInfo.ImageSize + size;
  if (needed < size || needed > kMaxPageImageBytes) {
    FailPageTooLarge();
    return;
  }
  if (needed > MyPageInfo.ImageCapacity) {
    std::uint64_t capacity = needed;
    if (MyPageInfo.ImageData == nullptr) {
      capacity = std::max(capacity, MyPageInfo.Height * MyPageInfo.BytesPerLine);  // checked above
    } else {
      capacity = std::min(kMaxPageImageBytes, std::max(capacity, MyPageInfo.ImageCapacity * 3 / 2));
    }
    void *grown = std::realloc(MyPageInfo.ImageData, capacity);
    if (grown == nullptr) {
      FailPageNoMemory();
      return;
    }
    MyPageInfo.ImageData = static_cast<unsigned char *>(grown);
    MyPageInfo.ImageCapacity = capacity;
  }
  std::memcpy(MyPageInfo.ImageData + MyPageInfo.ImageSize, line, size);
  MyPageInfo.ImageSize = needed;
}

// ---------------------------------------------------------------------------
// Gray conversion and rotation
// ---------------------------------------------------------------------------

// Converts the collected page to one gray byte per pixel, 0 black to 255
// white. RGB pixels weigh their first byte 11, second 59 and third 30. Rows
// that never arrived, and the missing end of a cut row, come out white.
void OEMRGBToGray() {
  if (MyPageInfo.PageFailed) return;
  const PixelFormat format = PageFormat();
  if (format == PixelFormat::Unsupported) {
    FailPageUnsupported();
    return;
  }
  const std::uint64_t inStride = MyPageInfo.BytesPerLine;
  const std::uint64_t outStride = GrayBytesPerLine(format);
  const std::optional<std::uint64_t> outSize = ImageBytes(MyPageInfo.Height, outStride);
  if (!outSize) {
    FailPageTooLarge();
    return;
  }
  unsigned char *gray = AllocateImage(*outSize);
  if (*outSize != 0 && gray == nullptr) {
    FailPageNoMemory();
    return;
  }
  if (*outSize != 0) {
    const std::uint64_t held = MyPageInfo.ImageData != nullptr ? MyPageInfo.ImageSize : 0;
    const std::uint64_t fullRows = inStride != 0 ? held / inStride : 0;
    const std::uint64_t partRow = inStride != 0 ? held % inStride : 0;
    for (std::uint64_t y = 0; y < MyPageInfo.Height; ++y) {
      const std::uint64_t avail = y < fullRows ? inStride : (y == fullRows ? partRow : 0);
      const unsigned char *in = avail != 0 ? MyPageInfo.ImageData + y * inStride : nullptr;
      GrayRow(format, in, avail, gray + y * outStride, outStride);
    }
  }
  ReplaceImage(gray, *outSize);
  MyPageInfo.BytesPerLine = outStride;
  // Width walks the rows from here on (thinning, encoders); a header whose
  // width exceeds its RGB row must not send those walks past the image.
  MyPageInfo.Width = std::min(MyPageInfo.Width, outStride);
}

void OEMRotationPhotograph() {
  if (MyPageInfo.PageFailed) return;
  switch (PrintPa.Rotation) {
    case 90: Rotation_90(); break;
    case 180: Rotation_180(); break;
    case 270: Rotation_270(); break;
    default: break;
  }
}

// Quarter turn counter-clockwise: the top-right corner becomes the top-left.
void Rotation_90() {
  const std::uint64_t h = MyPageInfo.Height;
  const std::uint64_t b = MyPageInfo.BytesPerLine;
  QuarterTurn([h, b](std::uint64_t y, std::uint64_t x) { return (b - 1 - x) * h + y; });
}

// A half turn of rows laid end to end is the whole buffer reversed.
void Rotation_180() {
  if (MyPageInfo.PageFailed || !EnsureWholeImage()) return;
  const std::uint64_t size = MyPageInfo.Height * MyPageInfo.BytesPerLine;
  if (size != 0) std::reverse(MyPageInfo.ImageData, MyPageInfo.ImageData + size);
}

// Quarter turn clockwise: the bottom-left corner becomes the top-left.
void Rotation_270() {
  const std::uint64_t h = MyPageInfo.Height;
  QuarterTurn([h](std::uint64_t y, std::uint64_t x) { return x * h + (h - 1 - y); });
}

// ---------------------------------------------------------------------------
// Binarisation
// ---------------------------------------------------------------------------

// The 8 x 8 ordered-dither thresholds, indexed [column % 8][row % 8]. Two
// entries differ from the textbook Bayer matrix ([0][0] and [4][4] hold 4);
// printed output depends on them, so they stay.
const std::int8_t BayerDispersion[8][8] = {
    {4, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
    {12, 44, 4, 36, 14, 46, 6, 38}, {60, 28, 52, 20, 62, 30, 54, 22},
    {3, 35, 11, 43, 4, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21},
};

// Every pixel becomes 0x00 (dot) or 0xFF (no dot): by the ordered dither when
// ImagePrint is 1, otherwise by the threshold 255 - GrayLevel.
void API_DitherColor() {
  if (MyPageInfo.PageFailed) return;
  unsigned char *data = MyPageInfo.ImageData;
  if (PrintPa.ImagePrint != 1) {
    const std::int64_t threshold = 255 - std::int64_t{PrintPa.GrayLevel};
    for (std::uint64_t i = 0; i < MyPageInfo.ImageSize; ++i) data[i] = data[i] > threshold ? kWhite : kBlack;
    return;
  }
  if (!EnsureWholeImage()) return;
  data = MyPageInfo.ImageData;
  const std::uint64_t b = MyPageInfo.BytesPerLine;
  for (std::uint64_t y = 0; y < MyPageInfo.Height; ++y) {
    // v = pixel >> 2 reaches the entry M exactly when pixel >= 4 * M.
    unsigned limits[8];
    for (unsigned phase = 0; phase < 8; ++phase)
      limits[phase] = 4u * static_cast<unsigned>(BayerDispersion[phase][y & 7]);
    unsigned char *row = data + y * b;
    for (std::uint64_t x = 0; x < b; ++x) row[x] = row[x] >= limits[x & 7] ? kWhite : kBlack;
  }
}

// ---------------------------------------------------------------------------
// Needle-only steps
// ---------------------------------------------------------------------------

// Needle pages at 180 x 180 dpi: every 5 rows become 4 by the fixed table,
// column by column; the last Height % 5 rows are dropped. ReducedData keeps
// the result as 0/1 dots until the page is released.
void OEMCompressionData_NeedlePrinter() {
  if (MyPageInfo.PageFailed || !PrintPa.IsNeedle) return;
  if (MyPageInfo.Resolution[0] != 180 || MyPageInfo.Resolution[1] != 180) return;
  if (!EnsureWholeImage()) return;

  const std::uint64_t b = MyPageInfo.BytesPerLine;
  const std::uint64_t groups = MyPageInfo.Height / 5;
  MyPageInfo.ReducedBytesPerLine = b;
  MyPageInfo.ReducedHeight = groups * 4;
  MyPageInfo.ReducedSize = MyPageInfo.ReducedHeight * b;
  unsigned char *reduced = AllocateImage(MyPageInfo.ReducedSize);
  if (MyPageInfo.ReducedSize != 0 && reduced == nullptr) {
    MyPageInfo.ReducedSize = 0;
    FailPageNoMemory();
    return;
  }
  MyPageInfo.ReducedData = reduced;

  unsigned char *data = MyPageInfo.ImageData;
  for (std::uint64_t g = 0; g < groups; ++g) {
    const unsigned char *in = data + 5 * g * b;
    unsigned char *out = reduced + 4 * g * b;
    for (std::uint64_t x = 0; x < b; ++x) {
      unsigned pattern = 0;
      for (std::uint64_t r = 0; r < 5; ++r) pattern = (pattern << 1) | (in[r * b + x] == kBlack ? 1u : 0u);
      const unsigned dots = kFiveToFour[pattern];
      for (std::uint64_t r = 0; r < 4; ++r) out[r * b + x] = static_cast<unsigned char>((dots >> (3 - r)) & 1u);
    }
  }
  // The reduced image is never longer than the one it came from, so it
  // fits the front of ImageData.
  for (std::uint64_t k = 0; k < MyPageInfo.ReducedSize; ++k) data[k] = reduced[k] ? kBlack : kWhite;
  MyPageInfo.Height = MyPageInfo.ReducedHeight;
  MyPageInfo.ImageSize = MyPageInfo.ReducedSize;
}

// Needle pages at Density 1: a row holding a dense stretch of dots (some
// window of up to 140 pixels more than 60 % dark) loses every other dot,
// the odd columns in even rows and the even columns in odd rows.
void FindLineHorizental_1440() {
  if (MyPageInfo.PageFailed || !PrintPa.IsNeedle || PrintPa.Density != 1) return;
  const std::uint64_t w = MyPageInfo.Width;
  if (MyPageInfo.Height == 0 || w == 0 || MyPageInfo.ImageData == nullptr) return;
  const std::uint64_t rows = std::min(MyPageInfo.Height, MyPageInfo.ImageSize / w);
  for (std::uint64_t y = 0; y < rows; ++y) {
    unsigned char *row = MyPageInfo.ImageData + y * w;
    if (!RowHasDenseWindow(row, w)) continue;
    for (std::uint64_t x = (y & 1) ? 0 : 1; x < w; x += 2) row[x] = kWhite;
  }
}
