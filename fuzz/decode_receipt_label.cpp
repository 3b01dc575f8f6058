// Fuzz targets over the ESC/POS and TSPL decoders: the whole input is the
// printer stream. The language guess runs on the same bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "decode/decode.h"
#include "entries.h"

namespace {

int Check(const dwdecode::DecodeResult &result, std::string_view stream) {
  for (const dwdecode::DecodedPage &page : result.pages) {
    if (page.dots.size() != std::size_t{page.width} * page.height) __builtin_trap();
    if (page.width != 0 && page.height != 0) (void)page.Dot(page.width - 1, page.height - 1);
  }
  (void)dwdecode::DetectLanguage(stream);
  return 0;
}

std::string_view Stream(const std::uint8_t *data, std::size_t size) {
  return {reinterpret_cast<const char *>(data), size};
}

}  // namespace

int FuzzDecodeEscPos(const std::uint8_t *data, std::size_t size) {
  return Check(dwdecode::DecodeEscPos(Stream(data, size)), Stream(data, size));
}

int FuzzDecodeTspl(const std::uint8_t *data, std::size_t size) {
  return Check(dwdecode::DecodeTspl(Stream(data, size)), Stream(data, size));
}
