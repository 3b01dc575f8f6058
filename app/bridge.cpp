// The bridge from PAPPL's raster pages to the filter's CUPS raster stream.
#include "app/bridge.h"

#include <algorithm>
#include <cstring>

namespace app {
namespace {

// The color space as the number the header carries: a client's header may
// hold any value, which is no valid cups_cspace_t to load.
unsigned ColorSpaceOf(const cups_page_header2_t &page) {
  unsigned space;
  static_assert(sizeof space == sizeof page.cupsColorSpace);
  std::memcpy(&space, &page.cupsColorSpace, sizeof space);
  return space;
}

LineFormat LineFormatOf(const catalogue::Printer &printer, const cups_page_header2_t &page) {
  const unsigned space = ColorSpaceOf(page);
  const bool black = space == CUPS_CSPACE_K;
  const bool gray = space == CUPS_CSPACE_W || space == CUPS_CSPACE_SW;
  const bool rgb = space == CUPS_CSPACE_RGB || space == CUPS_CSPACE_SRGB;
  if (printer.kind == catalogue::Kind::Label)
    return page.cupsBitsPerPixel == 1 && black ? LineFormat::Copy : LineFormat::Unsupported;
  if (page.cupsBitsPerColor != 8) return LineFormat::Unsupported;
  if (page.cupsBitsPerPixel == 24 && rgb) return LineFormat::Copy;
  if (page.cupsBitsPerPixel == 8 && gray) return LineFormat::GrayToRgb;
  if (page.cupsBitsPerPixel == 8 && black) return LineFormat::BlackToRgb;
  return LineFormat::Unsupported;
}

// The bytes a line of `width` pixels takes at `bitsPerPixel`, or 0 when that
// is beyond what the filter takes (the arithmetic is done wide enough not to
// wrap for any header).
unsigned LineBytes(unsigned width, unsigned bitsPerPixel) {
  const unsigned long long bytes = (static_cast<unsigned long long>(width) * bitsPerPixel + 7) / 8;
  return bytes == 0 || bytes > kMaxBridgeLineBytes ? 0 : static_cast<unsigned>(bytes);
}

}  // namespace

BridgePage BridgePageOf(const catalogue::Printer &printer, const cups_page_header2_t &headerTemplate,
                        const cups_page_header2_t &page) {
  BridgePage bridge;
  bridge.format = LineFormatOf(printer, page);
  if (bridge.format == LineFormat::Unsupported) {
    bridge.error = "The page's raster format (" + std::to_string(page.cupsBitsPerPixel) +
                   " bits per pixel, color space " + std::to_string(ColorSpaceOf(page)) +
                   ") is not one this printer prints.";
    return bridge;
  }
  const bool copy = bridge.format == LineFormat::Copy;
  const unsigned bitsPerPixel = copy ? page.cupsBitsPerPixel : 24;
  // The page's own lines must hold its width, or a line read would run past
  // them, and stay within the filter's limit, padding included: lines are
  // copied as they come.
  const unsigned pageBytes = LineBytes(page.cupsWidth, page.cupsBitsPerPixel);
  const unsigned bytes = copy ? page.cupsBytesPerLine : LineBytes(page.cupsWidth, bitsPerPixel);
  if (pageBytes == 0 || page.cupsBytesPerLine < pageBytes || page.cupsBytesPerLine > kMaxBridgeLineBytes ||
      bytes == 0 || bytes > kMaxBridgeLineBytes) {
    bridge.format = LineFormat::Unsupported;
    bridge.error = "The page's size (" + std::to_string(page.cupsWidth) + " x " + std::to_string(page.cupsHeight) +
                   " pixels) is not one this printer prints.";
    return bridge;
  }
  cups_page_header2_t &header = bridge.header;
  header = headerTemplate;
  header.cupsWidth = page.cupsWidth;
  header.cupsHeight = page.cupsHeight;
  header.cupsBitsPerColor = bridge.format == LineFormat::Copy ? page.cupsBitsPerColor : 8;
  header.cupsBitsPerPixel = bitsPerPixel;
  header.cupsBytesPerLine = bytes;
  header.cupsColorOrder = CUPS_ORDER_CHUNKED;
  header.HWResolution[0] = page.HWResolution[0];
  header.HWResolution[1] = page.HWResolution[1];
  header.PageSize[0] = page.PageSize[0];
  header.PageSize[1] = page.PageSize[1];
  std::memcpy(header.ImagingBoundingBox, page.ImagingBoundingBox, sizeof header.ImagingBoundingBox);
  std::memcpy(header.cupsPageSize, page.cupsPageSize, sizeof header.cupsPageSize);
  header.NumCopies = 1;
  return bridge;
}

std::span<const unsigned char> BridgeLine(const BridgePage &bridge, const cups_page_header2_t &page,
                                          const unsigned char *line, std::vector<unsigned char> &buffer) {
  const unsigned bytes = bridge.header.cupsBytesPerLine;
  if (bridge.format == LineFormat::Copy) return {line, bytes};
  buffer.resize(bytes);
  const unsigned width = page.cupsWidth;  // bytes == 3 * width, checked with the page
  const unsigned char invert = bridge.format == LineFormat::BlackToRgb ? 0xFF : 0x00;
  for (unsigned x = 0; x < width; ++x) {
    const auto v = static_cast<unsigned char>(line[x] ^ invert);
    buffer[3 * std::size_t{x}] = buffer[3 * std::size_t{x} + 1] = buffer[3 * std::size_t{x} + 2] = v;
  }
  return buffer;
}

}  // namespace app
