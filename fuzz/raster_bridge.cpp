// Fuzz target over the printer application's raster bridge: a PWG or CUPS
// raster stream, as a client may submit it, read with libcups page by page,
// each page turned into the header the filter gets and each line converted,
// the converted page written as a CUPS raster stream.
//
// Input layout: byte 0 picks the printer (modulo the catalogue's count), byte
// 1 bit 0 picks whether the header template is the printer's defaults or
// empty; the rest is the raster stream.
#include <cups/raster.h>

#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "app/bridge.h"
#include "entries.h"

namespace {

struct Input {
  const std::uint8_t *data;
  std::size_t size;
};

ssize_t ReadInput(void *context, unsigned char *buffer, std::size_t length) {
  Input &in = *static_cast<Input *>(context);
  const std::size_t n = std::min(length, in.size);
  std::memcpy(buffer, in.data, n);
  in.data += n;
  in.size -= n;
  return static_cast<ssize_t>(n);
}

// What the filter would read: counted, not kept.
ssize_t CountOutput(void *context, unsigned char *, std::size_t length) {
  *static_cast<std::size_t *>(context) += length;
  return static_cast<ssize_t>(length);
}

// Lines per input: a few bytes of PWG repeat counts describe millions.
constexpr unsigned kMaxLines = 1u << 14;

}  // namespace

int FuzzRasterBridge(const std::uint8_t *data, std::size_t size) {
  if (size < 2) return 0;
  const auto &printers = catalogue::Printers();
  const catalogue::Printer &printer = printers[data[0] % printers.size()];
  cups_page_header2_t headerTemplate{};
  if (data[1] & 1) {
    headerTemplate.cupsBitsPerColor = printer.kind == catalogue::Kind::Label ? 1 : 8;
    headerTemplate.cupsCompression = 2;
    headerTemplate.cupsRowStep = 4;
  }
  Input in{data + 2, size - 2};
  cups_raster_t *reader = cupsRasterOpenIO(ReadInput, &in, CUPS_RASTER_READ);
  std::size_t written = 0;
  cups_raster_t *writer = cupsRasterOpenIO(CountOutput, &written, CUPS_RASTER_WRITE);
  std::vector<unsigned char> line, converted;
  unsigned lines = 0;
  cups_page_header2_t page;
  while (reader != nullptr && lines < kMaxLines && cupsRasterReadHeader2(reader, &page)) {
    const app::BridgePage bridge = app::BridgePageOf(printer, headerTemplate, page);
    if (!bridge.error.empty()) continue;
    if (bridge.header.cupsBytesPerLine == 0 || bridge.header.cupsBytesPerLine > app::kMaxBridgeLineBytes)
      __builtin_trap();
    if (!cupsRasterWriteHeader2(writer, const_cast<cups_page_header2_t *>(&bridge.header))) break;
    line.resize(page.cupsBytesPerLine);
    for (unsigned y = 0; y < page.cupsHeight && lines < kMaxLines; ++y, ++lines) {
      if (cupsRasterReadPixels(reader, line.data(), page.cupsBytesPerLine) != page.cupsBytesPerLine) break;
      const std::span<const unsigned char> out = app::BridgeLine(bridge, page, line.data(), converted);
      if (out.size() != bridge.header.cupsBytesPerLine) __builtin_trap();
      cupsRasterWritePixels(writer, const_cast<unsigned char *>(out.data()), static_cast<unsigned>(out.size()));
    }
  }
  if (reader != nullptr) cupsRasterClose(reader);
  cupsRasterClose(writer);
  return 0;
}
