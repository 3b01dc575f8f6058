#pragma once
// Decoders of every printer language dotweave writes. Each one is written
// from the language's command formats (not from the filter's encoders) and
// rebuilds the printed dots of every page, so that the preview tool and the
// tests can check what a printer would print.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dwdecode {

using Setting = std::pair<std::string, std::string>;  // e.g. {"speed", "1200"}

struct DecodedPage {
  unsigned width = 0;               // dots per row
  unsigned height = 0;              // rows (for needle pages: paper fed, in rows)
  std::vector<std::uint8_t> dots;   // width * height, row-major, 1 = black dot
  std::vector<Setting> settings;    // commands of this page, in stream order

  bool Dot(unsigned x, unsigned y) const { return x < width && y < height && dots[std::size_t{y} * width + x]; }
};

struct Problem {
  std::size_t offset;   // byte offset in the stream
  std::string what;     // what could not be decoded
};

struct DecodeResult {
  std::vector<DecodedPage> pages;
  std::vector<Setting> jobSettings;  // commands outside any page (job start)
  std::vector<Problem> problems;     // empty for a clean stream
};

enum class Language { Dymo, EplLine, EplPage, Zpl, Pcl, OemThermal, OemNeedle, EscPos, Tspl };

const char *LanguageName(Language language);
std::optional<Language> ParseLanguageName(std::string_view name);
// Guesses the language of a printer stream from its first commands.
std::optional<Language> DetectLanguage(std::string_view stream);

DecodeResult Decode(Language language, std::string_view stream);

DecodeResult DecodeDymo(std::string_view stream);
DecodeResult DecodeEplLine(std::string_view stream);
DecodeResult DecodeEplPage(std::string_view stream);
DecodeResult DecodeZpl(std::string_view stream);
DecodeResult DecodePcl(std::string_view stream);
DecodeResult DecodeOemThermal(std::string_view stream);
DecodeResult DecodeOemNeedle(std::string_view stream);
// A decoded ESC/POS page is a piece of paper ended by a cut.
DecodeResult DecodeEscPos(std::string_view stream);
// `dpi` sizes the labels (their SIZE is in millimetres or inches); 0 infers
// it from the images.
DecodeResult DecodeTspl(std::string_view stream, unsigned dpi = 0);

}  // namespace dwdecode
