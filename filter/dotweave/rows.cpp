// Raster rows of the ESC/POS and TSPL families; see rows.h.
#include "dotweave/rows.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "dotweave/filter.h"

std::uint32_t HeadDotsOf(ppd_file_t *ppd) {
  if (ppd == nullptr) return 0;
  const ppd_attr_t *attr = ppdFindAttr(ppd, "dotweaveHeadDots", nullptr);
  if (attr == nullptr || attr->value == nullptr) return 0;
  char *end = nullptr;
  const unsigned long dots = std::strtoul(attr->value, &end, 10);
  if (end == attr->value || *end != '\0' || dots > 65535) return 0;
  return static_cast<std::uint32_t>(dots);
}

bool MakeRowFormat(const cups_page_header2_t *header, std::uint32_t headDots, RowFormat &format) {
  format = {};
  if (header->cupsBitsPerPixel != 1)
    return FailJob("This printer takes 1-bit black and white raster only; the page is not printed.");
  const std::uint64_t lineDots = std::uint64_t{header->cupsBytesPerLine} * 8;
  std::uint64_t dots = std::min<std::uint64_t>(header->cupsWidth, lineDots);
  if (headDots != 0) dots = std::min<std::uint64_t>(dots, headDots);
  format.dots = static_cast<std::uint32_t>(dots);
  format.bytes = (format.dots + 7) / 8;
  format.lastMask = format.dots % 8 == 0 ? 0xFF : static_cast<unsigned char>(0xFF00u >> (format.dots % 8));
  const std::uint32_t space = HeaderEnumValue(header->cupsColorSpace);
  format.whiteIsOne = space == CUPS_CSPACE_W || space == CUPS_CSPACE_SW;
  return true;
}

bool PackBlackRow(const unsigned char *line, const RowFormat &format, unsigned char *out) {
  if (format.bytes == 0) return false;
  if (format.whiteIsOne) {
    for (std::uint32_t i = 0; i < format.bytes; ++i) out[i] = static_cast<unsigned char>(~line[i]);
  } else if (out != line) {
    std::memcpy(out, line, format.bytes);
  }
  out[format.bytes - 1] &= format.lastMask;
  // Any byte not 0: the first is not, or not every byte equals the one before.
  return out[0] != 0 || std::memcmp(out, out + 1, format.bytes - 1) != 0;
}

bool PackWhiteRow(const unsigned char *line, const RowFormat &format, unsigned char *out) {
  const std::uint32_t n = format.bytes;
  if (n == 0) return false;
  // Black bits are the raster's bits, or their inverse for a white-is-1
  // raster; the row goes out with them inverted. Eight bytes at a time, all
  // but the last byte, which holds the padding.
  const std::uint64_t toWhite = format.whiteIsOne ? 0 : ~std::uint64_t{0};
  std::uint64_t black = 0;
  std::uint32_t i = 0;
  for (; i + 8 < n; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, line + i, sizeof word);
    black |= word ^ ~toWhite;
    word ^= toWhite;
    std::memcpy(out + i, &word, sizeof word);
  }
  for (; i + 1 < n; ++i) {
    const auto byte = static_cast<unsigned char>(format.whiteIsOne ? ~line[i] : line[i]);
    black |= byte;
    out[i] = static_cast<unsigned char>(~byte);
  }
  const auto last = static_cast<unsigned char>((format.whiteIsOne ? ~line[n - 1] : line[n - 1]) & format.lastMask);
  black |= last;
  out[n - 1] = static_cast<unsigned char>(~last);
  return black != 0;
}

const char *MarkedChoice(ppd_file_t *ppd, const char *keyword) {
  if (ppd == nullptr) return nullptr;
  const ppd_choice_t *choice = ppdFindMarkedChoice(ppd, keyword);
  return choice != nullptr ? choice->choice : nullptr;
}

bool ChoiceIs(const char *value, const char *name) { return value != nullptr && std::strcmp(value, name) == 0; }

int ChoiceNumber(const char *value, int min, int max) {
  if (value == nullptr || *value == '\0') return -1;
  char *end = nullptr;
  const long n = std::strtol(value, &end, 10);
  if (*end != '\0' || n < min || n > max) return -1;
  return static_cast<int>(n);
}
