// Language names, detection and dispatch.
#include "decode/decode.h"
#include "decode/labels.h"

namespace dwdecode {

namespace {
constexpr std::pair<Language, const char *> kNames[] = {
    {Language::Dymo, "dymo"},         {Language::EplLine, "epl-line"},
    {Language::EplPage, "epl-page"},  {Language::Zpl, "zpl"},
    {Language::Pcl, "pcl"},           {Language::OemThermal, "oem-thermal"},
    {Language::OemNeedle, "oem-needle"},
    {Language::EscPos, "escpos"},     {Language::Tspl, "tspl"},
};
}  // namespace

const char *LanguageName(Language language) {
  for (const auto &[l, name] : kNames)
    if (l == language) return name;
  return "unknown";
}

std::optional<Language> ParseLanguageName(std::string_view name) {
  for (const auto &[l, n] : kNames)
    if (name == n) return l;
  return std::nullopt;
}

namespace {

// A stream that begins with the escape byte: the Dymo job start (a run of
// escapes, then "@"), PCL (printer reset and "&"/"*" commands), EPL line mode
// (rate, darkness, "M01", "B", "g" line commands) or a needle page whose zero
// block is missing (density command 1B 0A).
std::optional<Language> DetectEscape(std::string_view s) {
  const std::size_t escapes = s.find_first_not_of('\x1b');
  if (escapes == std::string_view::npos) return std::nullopt;
  const char c = s[escapes];
  const char next = escapes + 1 < s.size() ? s[escapes + 1] : '\0';
  if (escapes > 1) return c == '@' ? std::optional(Language::Dymo) : std::nullopt;
  // ESC/POS: one initialise, then GS commands (motion units, printing
  // control, raster images) or a drawer kick or feed; Dymo follows its
  // initialise with the label length (ESC L).
  if (c == '@') {
    const std::string_view rest = s.substr(2);
    if (rest.empty() || rest[0] == '\x1d' || rest.starts_with("\x1bp") || rest.starts_with("\x1bJ"))
      return Language::EscPos;
  }
  if (c == 'p' || c == 'J') return Language::EscPos;
  switch (c) {
    case '@':
    case 'L': return Language::Dymo;
    case '&':
    case '*': return Language::Pcl;
    case 'E':
      // PCL's job start is a printer reset followed by its page set-up; EPL
      // line mode ends a page with ESC E and a form feed.
      if (next == '\f') return Language::EplLine;
      return Language::Pcl;
    case 'S':
    case 'M':
    case 'B':
    case 'g': return Language::EplLine;
    case 'D': return IsDecimalDigit(next) ? Language::EplLine : Language::Dymo;
    case '\x0a': return Language::OemNeedle;
    default: return std::nullopt;
  }
}

}  // namespace

std::optional<Language> DetectLanguage(std::string_view stream) {
  // The OEM streams begin every page with a block of zero bytes (1000 for
  // thermal printers, 64 for needle printers); what follows tells them apart.
  const std::size_t zeros = stream.find_first_not_of('\0');
  if (zeros == std::string_view::npos) return std::nullopt;
  const std::string_view s = stream.substr(zeros);
  if (s.starts_with("@S") || s.starts_with("@<")) return Language::OemThermal;
  if (zeros > 0) return s[0] == '\x1b' ? std::optional(Language::OemNeedle) : std::nullopt;

  if (s[0] == '\x1b') return DetectEscape(s);
  if (s.starts_with("\nN\n") || s.starts_with("N\n")) return Language::EplPage;
  if (s[0] == '~' || s[0] == '^') return Language::Zpl;
  if (s[0] == '\x1d') return Language::EscPos;
  for (std::string_view keyword : {"SIZE ", "GAP ", "BLINE ", "CLS", "DIRECTION ", "SET "})
    if (s.starts_with(keyword)) return Language::Tspl;
  return std::nullopt;
}

DecodeResult Decode(Language language, std::string_view stream) {
  switch (language) {
    case Language::Dymo: return DecodeDymo(stream);
    case Language::EplLine: return DecodeEplLine(stream);
    case Language::EplPage: return DecodeEplPage(stream);
    case Language::Zpl: return DecodeZpl(stream);
    case Language::Pcl: return DecodePcl(stream);
    case Language::OemThermal: return DecodeOemThermal(stream);
    case Language::OemNeedle: return DecodeOemNeedle(stream);
    case Language::EscPos: return DecodeEscPos(stream);
    case Language::Tspl: return DecodeTspl(stream);
  }
  return {};
}

}  // namespace dwdecode
