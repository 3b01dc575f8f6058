// Language names, detection and dispatch.
#include "decode/decode.h"

namespace dwdecode {

namespace {
constexpr std::pair<Language, const char *> kNames[] = {
    {Language::Dymo, "dymo"},         {Language::EplLine, "epl-line"},
    {Language::EplPage, "epl-page"},  {Language::Zpl, "zpl"},
    {Language::Pcl, "pcl"},           {Language::OemThermal, "oem-thermal"},
    {Language::OemNeedle, "oem-needle"},
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

std::optional<Language> DetectLanguage(std::string_view) { return std::nullopt; }

DecodeResult Decode(Language language, std::string_view stream) {
  switch (language) {
    case Language::Dymo: return DecodeDymo(stream);
    case Language::EplLine: return DecodeEplLine(stream);
    case Language::EplPage: return DecodeEplPage(stream);
    case Language::Zpl: return DecodeZpl(stream);
    case Language::Pcl: return DecodePcl(stream);
    case Language::OemThermal: return DecodeOemThermal(stream);
    case Language::OemNeedle: return DecodeOemNeedle(stream);
  }
  return {};
}

}  // namespace dwdecode
