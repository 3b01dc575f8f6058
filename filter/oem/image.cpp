// OEM page image pipeline: page collection, gray conversion, rotation,
// binarisation, and the needle-only row reduction and line thinning.
//
// The page is collected whole, then each step rewrites MyPageInfo in place.
// From the gray conversion on the image is one byte per pixel and always
// holds Height rows of BytesPerLine bytes: a page cut short is completed
// with white rows there, so no later step meets a partial image.
#include <sys/mman.h>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "dotweave/filter.h"
#include "oem/oem.h"
#include "oem/pixels16.h"

namespace {

// The largest page image held in memory, collected or gray. A real page is
// far below it (an 832 x 8000 RGB thermal page is about 20 MB); a hostile
// header claiming a huge height must not make the filter allocate gigabytes.
constexpr std::uint64_t kMaxPageImageBytes = std::uint64_t{512} << 20;

constexpr unsigned char kWhite = 0xFF;
constexpr unsigned char kBlack = 0x00;

using namespace oem16;

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

// Page buffers of megabytes are aligned to the huge page size and marked for
// transparent huge pages where the kernel offers them: the image is written
// once from end to end, and taking it in 2 MiB pages instead of 4 KiB ones
// saves thousands of page faults per page, which cost more than the copying
// itself. Only whole huge pages are marked, so the resident set never
// outgrows the image by more than a small page. When the whole buffer is
// going to be written (`populate`), all of it is mapped in one call rather
// than one fault at a time: the huge pages, and the small pages of the rest
// or of a buffer of less than a huge page (from 64 KiB on; should the kernel
// have no huge page to give, the call still maps the small ones far more
// cheaply than faults would). The buffer is an ordinary heap block for free
// and realloc.
constexpr std::uint64_t kHugePage = std::uint64_t{2} << 20;
constexpr std::uint64_t kSmallPage = 4096;
constexpr std::uint64_t kPopulateFrom = std::uint64_t{64} << 10;

bool OnHugePages(const unsigned char *block) {
  return reinterpret_cast<std::uintptr_t>(block) % kHugePage == 0;
}

std::uint64_t WholeHugePages(std::uint64_t size) { return (size + kHugePage - 1) / kHugePage * kHugePage; }

unsigned char *AllocateImage(std::uint64_t size, bool populate = true) {
  if (size == 0) return nullptr;
#if defined(MADV_HUGEPAGE) && defined(MADV_POPULATE_WRITE)
  if (size >= kHugePage || (populate && size >= kPopulateFrom)) {
    void *block = nullptr;
    if (posix_memalign(&block, size >= kHugePage ? kHugePage : kSmallPage, size) != 0) return nullptr;
    // Hints both: where they fail, the pages simply come one fault at a time.
    if (const std::uint64_t huge = size / kHugePage * kHugePage; huge != 0) madvise(block, huge, MADV_HUGEPAGE);
    if (populate) madvise(block, (size + kSmallPage - 1) / kSmallPage * kSmallPage, MADV_POPULATE_WRITE);
    return static_cast<unsigned char *>(block);
  }
#endif
  return static_cast<unsigned char *>(std::malloc(size));
}

// Gives back the end of the image's block beyond `keep` bytes (at least
// ImageSize). A block on huge pages keeps whole huge pages: cutting one in
// two would split it into small pages, whose mappings the next pass over the
// image would pay for page by page.
void ShrinkImage(std::uint64_t keep) {
  if (MyPageInfo.ImageData == nullptr) return;
  if (OnHugePages(MyPageInfo.ImageData) && keep >= kHugePage) keep = WholeHugePages(keep);
  if (keep >= MyPageInfo.ImageCapacity) return;
  // Should shrinking ever fail, the larger block simply stays.
  if (void *shrunk = std::realloc(MyPageInfo.ImageData, keep)) {
    MyPageInfo.ImageData = static_cast<unsigned char *>(shrunk);
    MyPageInfo.ImageCapacity = keep;
  }
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

// (11 b0 + 59 b1 + 30 b2) / 100 without a division: the weighted sum is at
// most 25500, and for every value up to there multiplying by 5243 and
// shifting right by 19 truncates exactly as dividing by 100 does.
constexpr std::uint32_t kDivide100Factor = 5243;
constexpr unsigned kDivide100Shift = 19;

constexpr unsigned char RgbGray(std::uint32_t b0, std::uint32_t b1, std::uint32_t b2) {
  return static_cast<unsigned char>(((11u * b0 + 59u * b1 + 30u * b2) * kDivide100Factor) >> kDivide100Shift);
}

constexpr bool Divide100Exact() {
  for (std::uint32_t sum = 0; sum <= 25500; ++sum)
    if ((sum * kDivide100Factor) >> kDivide100Shift != sum / 100) return false;
  return true;
}
static_assert(Divide100Exact());

// Sixteen RGB pixels at a time where the processor has byte shuffles
// (AVX2 on x86-64, chosen at run time; NEON on arm64); the same weights and
// the same exact division. The 48 bytes of sixteen pixels are read before
// their sixteen gray bytes are written, so the conversion in place holds.
#if defined(__x86_64__) || defined(__aarch64__)
#define DOTWEAVE_GRAY_VECTOR 1
#endif

#if defined(__x86_64__)
// The weighted sums fit 16 bits, so the pixels are worked on as sixteen
// 16-bit lanes: (sum * 5243) >> 19 is the high half of the 16 x 16-bit
// product shifted right by 3 more. (Working in 32-bit lanes and narrowing
// back to bytes made the compiler move every pixel through a general
// register, which cost more than the rest of the page steps together.)
// One component of sixteen pixels from the three thirds of their bytes, as
// 16-bit lanes.
__attribute__((target("avx2"), always_inline)) inline __m256i PickComponent(__m128i a, __m128i b, __m128i c,
                                                                             __m128i ma, __m128i mb, __m128i mc) {
  return _mm256_cvtepu8_epi16(
      _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, ma), _mm_shuffle_epi8(b, mb)), _mm_shuffle_epi8(c, mc)));
}

__attribute__((target("avx2"))) std::uint64_t RgbGrayVector(const unsigned char *in, unsigned char *out,
                                                             std::uint64_t pixels) {
  // Byte k of pixel p lies at 3p + k: from each of the three 16-byte thirds
  // of the 48 bytes, these pick the bytes of one component in pixel order
  // (-1 leaves a zero, filled from another third).
  const __m128i firstA = _mm_setr_epi8(0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i firstB = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14, -1, -1, -1, -1, -1);
  const __m128i firstC = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 1, 4, 7, 10, 13);
  const __m128i secondA = _mm_setr_epi8(1, 4, 7, 10, 13, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i secondB = _mm_setr_epi8(-1, -1, -1, -1, -1, 0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1);
  const __m128i secondC = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14);
  const __m128i thirdA = _mm_setr_epi8(2, 5, 8, 11, 14, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i thirdB = _mm_setr_epi8(-1, -1, -1, -1, -1, 1, 4, 7, 10, 13, -1, -1, -1, -1, -1, -1);
  const __m128i thirdC = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 3, 6, 9, 12, 15);
  const __m256i weight0 = _mm256_set1_epi16(11), weight1 = _mm256_set1_epi16(59), weight2 = _mm256_set1_epi16(30);
  const __m256i factor = _mm256_set1_epi16(static_cast<short>(kDivide100Factor));
  std::uint64_t x = 0;
  for (; x + 16 <= pixels; x += 16, in += 48) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 32));
    const __m256i sum = _mm256_add_epi16(
        _mm256_add_epi16(_mm256_mullo_epi16(PickComponent(a, b, c, firstA, firstB, firstC), weight0),
                         _mm256_mullo_epi16(PickComponent(a, b, c, secondA, secondB, secondC), weight1)),
        _mm256_mullo_epi16(PickComponent(a, b, c, thirdA, thirdB, thirdC), weight2));
    const __m256i gray = _mm256_srli_epi16(_mm256_mulhi_epu16(sum, factor), kDivide100Shift - 16);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x),
                     _mm_packus_epi16(_mm256_castsi256_si128(gray), _mm256_extracti128_si256(gray, 1)));
  }
  return x;
}
#elif defined(__aarch64__)
typedef std::uint16_t Words16 __attribute__((vector_size(32)));
typedef std::uint32_t Longs16 __attribute__((vector_size(64)));

// Converts the first pixels of a row, sixteen at a time; returns how many.
std::uint64_t RgbGrayVector(const unsigned char *in, unsigned char *out, std::uint64_t pixels) {
  std::uint64_t x = 0;
  for (; x + 16 <= pixels; x += 16, in += 48) {
    const Pixels16 a = Load16(in), b = Load16(in + 16), c = Load16(in + 32);
    const Pixels16 firstAB = __builtin_shufflevector(a, b, 0, 3, 6, 9, 12, 15, 18, 21, 24, 27, 30, 0, 0, 0, 0, 0);
    const Pixels16 first = __builtin_shufflevector(firstAB, c, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 17, 20, 23, 26, 29);
    const Pixels16 secondAB = __builtin_shufflevector(a, b, 1, 4, 7, 10, 13, 16, 19, 22, 25, 28, 31, 0, 0, 0, 0, 0);
    const Pixels16 second = __builtin_shufflevector(secondAB, c, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 18, 21, 24, 27, 30);
    const Pixels16 thirdAB = __builtin_shufflevector(a, b, 2, 5, 8, 11, 14, 17, 20, 23, 26, 29, 0, 0, 0, 0, 0, 0);
    const Pixels16 third = __builtin_shufflevector(thirdAB, c, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 16, 19, 22, 25, 28, 31);
    const Words16 sum = __builtin_convertvector(first, Words16) * 11 + __builtin_convertvector(second, Words16) * 59 +
                        __builtin_convertvector(third, Words16) * 30;
    const Longs16 gray = (__builtin_convertvector(sum, Longs16) * kDivide100Factor) >> kDivide100Shift;
    Store16(out + x, __builtin_convertvector(gray, Pixels16));
  }
  return x;
}
#endif

#ifdef DOTWEAVE_GRAY_VECTOR
bool GrayVectorAvailable() {
#if defined(__x86_64__)
  return __builtin_cpu_supports("avx2");
#else
  return true;
#endif
}
#endif

// One gray row from the `avail` bytes of a collected row that arrived (fewer
// than a whole row when the page was cut there); pixels without data are
// white. `out` may be the start of `in` or lie before it (the conversion in
// place): every byte is read before the first write that could reach it.
void GrayRow(PixelFormat format, const unsigned char *in, std::uint64_t avail, unsigned char *out,
             std::uint64_t pixels) {
  std::uint64_t x = 0;
  switch (format) {
    case PixelFormat::Rgb24: {
      const std::uint64_t whole = std::min(pixels, avail / 3);
#ifdef DOTWEAVE_GRAY_VECTOR
      if (GrayVectorAvailable()) {
        x = RgbGrayVector(in, out, whole);
        in += 3 * x;
      }
#endif
      for (; x < whole; ++x, in += 3) out[x] = RgbGray(in[0], in[1], in[2]);
      break;
    }
    case PixelFormat::Gray8:
      x = std::min(pixels, avail);
      if (x != 0 && out != in) std::memmove(out, in, x);
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

// Turns the H x B image by a quarter into the B x H image at `turned`:
// counter-clockwise (input pixel (y, x) to row B - 1 - x, column y) or
// clockwise (to row x, column H - 1 - y).

// One pixel of the turn.
void TurnPixel(const unsigned char *in, std::uint64_t h, std::uint64_t b, bool clockwise, unsigned char *turned,
               std::uint64_t y, std::uint64_t x) {
  turned[clockwise ? x * h + (h - 1 - y) : (b - 1 - x) * h + y] = in[y * b + x];
}

// Sixteen rows of sixteen bytes, each interleaved with the row eight below
// it: done four times, this transposes the 16 x 16 block (row i of the
// result is column i of the block).
void InterleaveHalves(Pixels16 (&rows)[16]) {
  Pixels16 mixed[16];
  for (int i = 0; i < 8; ++i) {
    mixed[2 * i] = __builtin_shufflevector(rows[i], rows[i + 8], 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
    mixed[2 * i + 1] =
        __builtin_shufflevector(rows[i], rows[i + 8], 8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
  }
  for (int i = 0; i < 16; ++i) rows[i] = mixed[i];
}

// The 16 x 16 block at row y, column x, turned in registers: its columns
// become output rows, written sixteen bytes at a time (reversed for the
// clockwise turn, whose output columns run against the input rows).
void TurnBlock16(const unsigned char *in, std::uint64_t h, std::uint64_t b, bool clockwise, unsigned char *turned,
                 std::uint64_t y, std::uint64_t x) {
  Pixels16 rows[16];
  for (std::uint64_t j = 0; j < 16; ++j) rows[j] = Load16(in + (y + j) * b + x);
  for (int round = 0; round < 4; ++round) InterleaveHalves(rows);
  for (std::uint64_t i = 0; i < 16; ++i) {
    if (clockwise)
      Store16(turned + (x + i) * h + (h - 16 - y), __builtin_shufflevector(rows[i], rows[i], 15, 14, 13, 12, 11, 10, 9,
                                                                           8, 7, 6, 5, 4, 3, 2, 1, 0));
    else
      Store16(turned + (b - 1 - x - i) * h + y, rows[i]);
  }
}

// The image is walked in 16 x 16 blocks, grouped in square tiles of four by
// four blocks that fit the first-level cache, so that neither the reads nor
// the writes stride through the whole page per pixel; the rows and columns
// beyond the last whole block are turned pixel by pixel.
void TurnTiles(const unsigned char *in, std::uint64_t h, std::uint64_t b, bool clockwise, unsigned char *turned) {
  constexpr std::uint64_t kTile = 64;
  const std::uint64_t h16 = h / 16 * 16, b16 = b / 16 * 16;
  for (std::uint64_t y0 = 0; y0 < h16; y0 += kTile)
    for (std::uint64_t x0 = 0; x0 < b16; x0 += kTile)
      for (std::uint64_t y = y0; y < std::min(h16, y0 + kTile); y += 16)
        for (std::uint64_t x = x0; x < std::min(b16, x0 + kTile); x += 16)
          TurnBlock16(in, h, b, clockwise, turned, y, x);
  for (std::uint64_t y = 0; y < h16; ++y)
    for (std::uint64_t x = b16; x < b; ++x) TurnPixel(in, h, b, clockwise, turned, y, x);
  for (std::uint64_t y = h16; y < h; ++y)
    for (std::uint64_t x = 0; x < b; ++x) TurnPixel(in, h, b, clockwise, turned, y, x);
}

// A quarter turn of the whole page image. When the image's block has room
// for a second image behind the first (the gray conversion leaves it when a
// quarter turn follows), the turned image is built there and copied back to
// the front, so the page needs no second buffer; otherwise a new buffer takes
// the place of the old one.
void QuarterTurn(bool clockwise) {
  if (MyPageInfo.PageFailed || !EnsureWholeImage()) return;
  const std::uint64_t h = MyPageInfo.Height;
  const std::uint64_t b = MyPageInfo.BytesPerLine;
  const std::uint64_t size = h * b;
  if (size == 0) {
    ReplaceImage(nullptr, 0);
  } else {
    const bool behind = MyPageInfo.ImageCapacity / 2 >= size;
    unsigned char *turned = behind ? MyPageInfo.ImageData + size : AllocateImage(size);
    if (turned == nullptr) {
      FailPageNoMemory();
      return;
    }
    TurnTiles(MyPageInfo.ImageData, h, b, clockwise, turned);
    if (behind) {
      std::memcpy(MyPageInfo.ImageData, turned, size);
      ShrinkImage(size);
    } else {
      ReplaceImage(turned, size);
    }
  }
  MyPageInfo.Width = h;
  MyPageInfo.Height = b;
  MyPageInfo.BytesPerLine = h;
}

// ---------------------------------------------------------------------------
// Binarisation
// ---------------------------------------------------------------------------

// Bytes above `threshold` become white, the others black.
void ThresholdBytes(unsigned char *data, std::uint64_t size, unsigned char threshold) {
  const Pixels16 limit = Splat16(threshold);
  std::uint64_t i = 0;
  for (; i + 16 <= size; i += 16) Store16(data + i, reinterpret_cast<Pixels16>(Load16(data + i) > limit));
  for (; i < size; ++i) data[i] = data[i] > threshold ? kWhite : kBlack;
}

// Bytes at or above the limit of their column phase (x mod 8) become white.
void DitherRow(unsigned char *row, std::uint64_t width, const unsigned char (&limits)[8]) {
  Pixels16 limit;
  for (int i = 0; i < 16; ++i) limit[i] = limits[i & 7];
  std::uint64_t x = 0;
  for (; x + 16 <= width; x += 16) Store16(row + x, reinterpret_cast<Pixels16>(Load16(row + x) >= limit));
  for (; x < width; ++x) row[x] = row[x] >= limits[x & 7] ? kWhite : kBlack;
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

// The table as logic, so that sixteen columns are decided at once: output
// rows 0 and 3 are input rows 0 and 4, and the two middle rows are these
// sums of products (checked against the table for all 32 patterns below).
template <typename T>
constexpr T MiddleRow1(T r0, T r1, T r2, T r3, T r4) {
  return (r1 & r2) | (r1 & ~r0) | (r1 & ~r3) | (r2 & ~r0) | (r2 & r4 & ~r3);
}
template <typename T>
constexpr T MiddleRow2(T r0, T r1, T r2, T r3, T r4) {
  return (r2 & r3) | (r3 & ~r1) | (r3 & ~r4) | (r0 & r2 & ~r1 & ~r4);
}

constexpr bool FiveToFourLogicMatchesTheTable() {
  for (unsigned pattern = 0; pattern < 32; ++pattern) {
    const auto bit = [pattern](unsigned row) { return (pattern >> (4 - row)) & 1u; };
    const unsigned o1 = MiddleRow1(bit(0), bit(1), bit(2), bit(3), bit(4)) & 1u;
    const unsigned o2 = MiddleRow2(bit(0), bit(1), bit(2), bit(3), bit(4)) & 1u;
    if (((bit(0) << 3) | (o1 << 2) | (o2 << 1) | bit(4)) != kFiveToFour[pattern]) return false;
  }
  return true;
}
static_assert(FiveToFourLogicMatchesTheTable());

// ---------------------------------------------------------------------------
// Line thinning
// ---------------------------------------------------------------------------

constexpr std::uint64_t kThinWindow = 140;

bool IsDark(unsigned char pixel) { return pixel < 80; }

// Dark pixels among the `count` (at most 16) pixels at `p`.
std::uint64_t DarkCount(const unsigned char *p, std::uint64_t count) {
  if (count < 16) {
    std::uint64_t dark = 0;
    for (std::uint64_t i = 0; i < count; ++i) dark += IsDark(p[i]);
    return dark;
  }
  const Pixels16 ones = reinterpret_cast<Pixels16>(Load16(p) < Splat16(80)) & Splat16(1);
  std::uint64_t low, high;
  std::memcpy(&low, &ones, sizeof low);
  std::memcpy(&high, reinterpret_cast<const unsigned char *>(&ones) + 8, sizeof high);
  // Byte sums of at most 2, added up in the top byte.
  return ((low + high) * 0x0101010101010101ull) >> 56;
}

// Whether some window starting at a dark pixel (140 pixels, or up to the row
// end) is more than 60 % dark. The row is taken in blocks of 16 pixels: a
// window starting in block k lies within blocks k to k + 9, so when those ten
// blocks hold too few dark pixels for even the shortest window starting in
// block k, no window there is dense and the block is passed over. The other
// blocks are tested pixel by pixel, the dark count carried along as the
// window slides, and on into the next block when that one is tested too (a
// dense stretch of a row is then counted once, not once per block).
bool RowHasDenseWindow(const unsigned char *row, std::uint64_t width) {
  constexpr std::uint64_t kBlock = 16;
  constexpr std::uint64_t kSpan = 10;  // blocks a window starting in a block can reach
  static_assert(kSpan * kBlock >= kBlock - 1 + kThinWindow, "the last pixel of a window lies in the span");
  const std::uint64_t blocks = (width + kBlock - 1) / kBlock;
  const auto darkIn = [&](std::uint64_t from, std::uint64_t to) {
    std::uint64_t dark = 0;
    for (; from < to; from += kBlock) dark += DarkCount(row + from, std::min(kBlock, to - from));
    return dark;
  };
  const auto blockDark = [&](std::uint64_t k) {
    const std::uint64_t from = k * kBlock;
    return DarkCount(row + from, std::min(kBlock, width - from));
  };
  std::uint64_t counts[kSpan];  // counts[slot] holds block k, the next ones follow round
  std::uint64_t slot = 0;
  std::uint64_t spanDark = 0;  // dark pixels in blocks k .. k + kSpan - 1
  for (std::uint64_t k = 0; k < std::min(kSpan, blocks); ++k) spanDark += counts[k] = blockDark(k);
  // The window slid so far: `dark` pixels of row[slid .. end), where end is
  // min(slid + 140, width); `slid` is the first pixel not yet tested.
  std::uint64_t slid = width + 1, end = 0, dark = 0;
  for (std::uint64_t k = 0; k < blocks; ++k) {
    const std::uint64_t first = k * kBlock;
    const std::uint64_t last = std::min(first + kBlock, width) - 1;
    const std::uint64_t shortest = std::min(kThinWindow, width - last);
    if (10 * spanDark > 6 * shortest) {
      if (slid != first) {
        end = std::min(first + kThinWindow, width);
        dark = darkIn(first, end);
      }
      for (std::uint64_t p = first; p <= last; ++p) {
        if (IsDark(row[p])) {
          if (10 * dark > 6 * (end - p)) return true;
          --dark;
        }
        if (end < width) dark += IsDark(row[end++]);
      }
      slid = last + 1;
    }
    spanDark -= counts[slot];
    if (k + kSpan < blocks) spanDark += counts[slot] = blockDark(k + kSpan);
    if (++slot == kSpan) slot = 0;
  }
  return false;
}

// Every other pixel of a row white, from pixel `start` (0 or 1) on: sixteen
// at a time, as an OR with 0xFF in every other byte.
void WhitenEveryOther(unsigned char *row, std::uint64_t width, std::uint64_t start) {
  Pixels16 everyOther = Splat16(0);
  for (int i = static_cast<int>(start); i < 16; i += 2) everyOther[i] = kWhite;
  std::uint64_t x = 0;
  for (; x + 16 <= width; x += 16) Store16(row + x, Load16(row + x) | everyOther);
  for (x += start; x < width; x += 2) row[x] = kWhite;
}

}  // namespace

// ---------------------------------------------------------------------------
// Collection
// ---------------------------------------------------------------------------

// Appends one raster line. The first line reserves the whole page as its
// header describes it, so the following lines are copied in place (or were
// read there already, see OEMNextLineSlot); only a page longer than its
// header would grow the buffer again.
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
    void *grown = MyPageInfo.ImageData == nullptr ? AllocateImage(capacity)
                                                   : std::realloc(MyPageInfo.ImageData, capacity);
    if (grown == nullptr) {
      FailPageNoMemory();
      return;
    }
    MyPageInfo.ImageData = static_cast<unsigned char *>(grown);
    MyPageInfo.ImageCapacity = capacity;
  }
  unsigned char *slot = MyPageInfo.ImageData + MyPageInfo.ImageSize;
  if (line != slot) std::memcpy(slot, line, size);
  MyPageInfo.ImageSize = needed;
}

unsigned char *OEMNextLineSlot(std::uint64_t size) {
  if (MyPageInfo.PageFailed || MyPageInfo.ImageData == nullptr || size == 0) return nullptr;
  if (MyPageInfo.ImageCapacity < MyPageInfo.ImageSize || MyPageInfo.ImageCapacity - MyPageInfo.ImageSize < size)
    return nullptr;
  return MyPageInfo.ImageData + MyPageInfo.ImageSize;
}

// ---------------------------------------------------------------------------
// Gray conversion and rotation
// ---------------------------------------------------------------------------

// Converts the collected page to one gray byte per pixel, 0 black to 255
// white. RGB pixels weigh their first byte 11, second 59 and third 30. Rows
// that never arrived, and the missing end of a cut row, come out white.
//
// Where the gray image is no longer than the collected one (RGB and 8-bit
// pages), it is written over the collected image from the front, each gray
// row at or before the place of the row it comes from, and the buffer is
// then shrunk to the gray image: the page is never held twice.
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
  const bool inPlace = *outSize != 0 && MyPageInfo.ImageData != nullptr && outStride <= inStride &&
                       MyPageInfo.ImageCapacity >= *outSize &&
                       (format == PixelFormat::Rgb24 || format == PixelFormat::Gray8 ||
                        format == PixelFormat::InkGray8);
  unsigned char *gray = inPlace ? MyPageInfo.ImageData : AllocateImage(*outSize);
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
  if (inPlace) {
    // The collected image's pages go back, except the room a quarter turn
    // that follows builds its image in.
    MyPageInfo.ImageSize = *outSize;
    const bool quarterTurn = PrintPa.Rotation == 90 || PrintPa.Rotation == 270;
    ShrinkImage(quarterTurn && *outSize <= MyPageInfo.ImageCapacity / 2 ? 2 * *outSize : *outSize);
  } else {
    ReplaceImage(gray, *outSize);
  }
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
void Rotation_90() { QuarterTurn(false); }

// A half turn of rows laid end to end is the whole buffer reversed.
void Rotation_180() {
  if (MyPageInfo.PageFailed || !EnsureWholeImage()) return;
  const std::uint64_t size = MyPageInfo.Height * MyPageInfo.BytesPerLine;
  if (size != 0) std::reverse(MyPageInfo.ImageData, MyPageInfo.ImageData + size);
}

// Quarter turn clockwise: the bottom-left corner becomes the top-left.
void Rotation_270() { QuarterTurn(true); }

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
    if (MyPageInfo.ImageSize == 0) return;
    // No byte exceeds 255, and every byte exceeds a negative threshold.
    if (threshold >= 255 || threshold < 0) {
      std::memset(data, threshold < 0 ? kWhite : kBlack, MyPageInfo.ImageSize);
      return;
    }
    ThresholdBytes(data, MyPageInfo.ImageSize, static_cast<unsigned char>(threshold));
    return;
  }
  if (!EnsureWholeImage()) return;
  data = MyPageInfo.ImageData;
  const std::uint64_t b = MyPageInfo.BytesPerLine;
  for (std::uint64_t y = 0; y < MyPageInfo.Height; ++y) {
    // v = pixel >> 2 reaches the entry M exactly when pixel >= 4 * M.
    unsigned char limits[8];
    for (unsigned phase = 0; phase < 8; ++phase)
      limits[phase] = static_cast<unsigned char>(4 * BayerDispersion[phase][y & 7]);
    DitherRow(data + y * b, b, limits);
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

  // One pass: each group's five rows are read and its four rows written
  // both to ReducedData (1 a dot) and over the front of ImageData (0x00 a
  // dot). Output row 4g + k never lies after input row 5g + k, and a group's
  // columns are all read before they are written, so the rows still to be
  // read are never overwritten. The bytes after the reduced image keep
  // their old content outside the image.
  unsigned char *data = MyPageInfo.ImageData;
  const Pixels16 one = Splat16(1);
  for (std::uint64_t g = 0; g < groups; ++g) {
    const unsigned char *in = data + 5 * g * b;
    unsigned char *outImage = data + 4 * g * b;
    unsigned char *outDots = reduced + 4 * g * b;
    std::uint64_t x = 0;
    for (; x + 16 <= b; x += 16) {
      const Pixels16 r0 = Dots16(in + x), r1 = Dots16(in + b + x), r2 = Dots16(in + 2 * b + x),
                     r3 = Dots16(in + 3 * b + x), r4 = Dots16(in + 4 * b + x);
      const Pixels16 rows[4] = {r0, MiddleRow1(r0, r1, r2, r3, r4), MiddleRow2(r0, r1, r2, r3, r4), r4};
      for (std::uint64_t r = 0; r < 4; ++r) {
        Store16(outDots + r * b + x, rows[r] & one);
        Store16(outImage + r * b + x, ~rows[r]);
      }
    }
    for (; x < b; ++x) {
      unsigned pattern = 0;
      for (std::uint64_t r = 0; r < 5; ++r) pattern = (pattern << 1) | (in[r * b + x] == kBlack ? 1u : 0u);
      const unsigned dots = kFiveToFour[pattern];
      for (std::uint64_t r = 0; r < 4; ++r) {
        const bool dot = (dots >> (3 - r)) & 1u;
        outDots[r * b + x] = dot ? 1 : 0;
        outImage[r * b + x] = dot ? kBlack : kWhite;
      }
    }
  }
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
    if (RowHasDenseWindow(row, w)) WhitenEveryOther(row, w, (y & 1) ? 0 : 1);
  }
}

// Page-sized work buffers of the command streams take the same path as the
// page image.
unsigned char *OEMAllocatePageBuffer(std::uint64_t size, bool populate) { return AllocateImage(size, populate); }
