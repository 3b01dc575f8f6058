// Fuzz target over the decoders: the first byte picks the printer language,
// the rest is decoded as that language's stream; the language guess runs on
// the same bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "decode/decode.h"
#include "entries.h"

int FuzzDecode(const std::uint8_t *data, std::size_t size) {
  if (size == 0) return 0;
  constexpr dwdecode::Language kLanguages[] = {
      dwdecode::Language::Dymo, dwdecode::Language::EplLine,    dwdecode::Language::EplPage,
      dwdecode::Language::Zpl,  dwdecode::Language::Pcl,        dwdecode::Language::OemThermal,
      dwdecode::Language::OemNeedle,
  };
  const dwdecode::Language language = kLanguages[data[0] % 7];
  const std::string_view stream(reinterpret_cast<const char *>(data + 1), size - 1);
  const dwdecode::DecodeResult result = dwdecode::Decode(language, stream);
  for (const dwdecode::DecodedPage &page : result.pages) {
    // A page's dot count must match its size; Dot() must stay inside it.
    if (page.dots.size() != std::size_t{page.width} * page.height) __builtin_trap();
    if (page.width != 0 && page.height != 0) (void)page.Dot(page.width - 1, page.height - 1);
  }
  (void)dwdecode::DetectLanguage(stream);
  return 0;
}
