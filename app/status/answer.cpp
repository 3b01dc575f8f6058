// Status answers parsed; see status.h.
#include <cstdio>
#include <string>

#include "app/status/status.h"

namespace status {
namespace {

constexpr char kStx = '\x02', kEtx = '\x03';
constexpr unsigned char kDymoPaperOut = 0x20;
// An answer is about 90 bytes; more without one is not a ZPL printer talking.
constexpr std::size_t kMaxAnswerBytes = 1024;

// The fields of one <STX>...<ETX> frame, split at commas.
std::vector<std::string_view> Fields(std::string_view frame) {
  std::vector<std::string_view> out;
  for (;;) {
    const std::size_t comma = frame.find(',');
    out.push_back(frame.substr(0, comma));
    if (comma == std::string_view::npos) break;
    frame.remove_prefix(comma + 1);
  }
  return out;
}

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// A one-digit flag: 0 or 1.
std::optional<bool> Flag(std::string_view s) {
  if (s == "0") return false;
  if (s == "1") return true;
  return std::nullopt;
}

std::string PrintModeOf(std::string_view code) {
  if (code == "0") return "rewind";
  if (code == "1") return "peel-off";
  if (code == "2") return "tear-off";
  if (code == "3") return "cutter";
  if (code == "4") return "applicator";
  if (code == "5") return "delayed-cut";
  return "other";
}

// The first string: 12 fields, flags where flags belong.
bool ReadFirstString(std::string_view frame, PrinterStatus &s) {
  const auto f = Fields(frame);
  if (f.size() != 12) return false;
  const auto paperOut = Flag(f[1]), pause = Flag(f[2]), bufferFull = Flag(f[5]), corrupt = Flag(f[9]),
             under = Flag(f[10]), over = Flag(f[11]);
  if (!paperOut || !pause || !bufferFull || !corrupt || !under || !over || !AllDigits(f[3]) || f[3].size() > 5)
    return false;
  s.mediaEmpty = *paperOut;
  s.paused = *pause;
  s.bufferFull = *bufferFull;
  s.corruptRam = *corrupt;
  s.underTemperature = *under;
  s.overTemperature = *over;
  const int length = std::stoi(std::string(f[3]));
  if (length > 0) s.labelLengthDots = length;
  return true;
}

// The second string: 11 fields.
bool ReadSecondString(std::string_view frame, PrinterStatus &s) {
  const auto f = Fields(frame);
  if (f.size() != 11) return false;
  const auto headUp = Flag(f[2]), ribbonOut = Flag(f[3]), transfer = Flag(f[4]);
  if (!headUp || !ribbonOut || !transfer || f[5].size() != 1) return false;
  s.headOpen = *headUp;
  s.ribbonOut = *ribbonOut;
  s.thermalTransfer = *transfer;
  s.printMode = PrintModeOf(f[5]);
  return true;
}

bool ReadThirdString(std::string_view frame) {
  const auto f = Fields(frame);
  return f.size() == 2 && AllDigits(f[0]) && Flag(f[1]).has_value();
}

}  // namespace

Family FamilyOf(const catalogue::Printer &printer) {
  if (printer.nativeFormat == "application/vnd.zebra-zpl") return Family::Zpl;
  if (printer.nativeFormat == "application/vnd.dymo-lw") return Family::Dymo;
  return Family::None;
}

std::string_view QueryOf(Family family) {
  switch (family) {
    case Family::Zpl: return "~HS";
    case Family::Dymo: return "\x1b" "A";
    case Family::None: break;
  }
  return {};
}

Parsed ParseZplHostStatus(std::string_view answer) {
  // Every frame in the answer; an unterminated one at the end means "read on".
  std::vector<std::string_view> frames;
  for (std::size_t at = answer.find(kStx); at != std::string_view::npos; at = answer.find(kStx, at + 1)) {
    const std::size_t end = answer.find(kEtx, at + 1);
    if (end == std::string_view::npos) break;  // still coming
    // An <STX> before the <ETX> starts the frame again: what came before it
    // was cut short.
    const std::size_t restart = answer.rfind(kStx, end);
    frames.push_back(answer.substr(restart + 1, end - restart - 1));
    at = end;
  }
  // Three frames in order, the last three that make an answer.
  for (std::size_t first = frames.size() >= 3 ? frames.size() - 3 + 1 : 0; first-- > 0;) {
    Parsed p{Parse::Complete, {}};
    if (ReadFirstString(frames[first], p.status) && ReadSecondString(frames[first + 1], p.status) &&
        ReadThirdString(frames[first + 2]))
      return p;
  }
  // The start of an answer: a first string, perhaps a second, perhaps a
  // frame still coming. Frames before the last first string are the tail of
  // an earlier answer.
  if (answer.size() > kMaxAnswerBytes) return {Parse::Malformed, {}};
  if (frames.empty()) return {Parse::Incomplete, {}};
  PrinterStatus ignored;
  std::size_t last = frames.size();
  while (last-- > 0)
    if (ReadFirstString(frames[last], ignored)) break;
  if (last == static_cast<std::size_t>(-1)) return {Parse::Malformed, {}};
  const std::size_t after = frames.size() - 1 - last;
  if (after == 0 || (after == 1 && ReadSecondString(frames[last + 1], ignored))) return {Parse::Incomplete, {}};
  return {Parse::Malformed, {}};
}

Parsed ParseDymoStatus(std::string_view answer) {
  if (answer.empty()) return {Parse::Incomplete, {}};
  Parsed p{Parse::Complete, {}};
  // The last byte is the newest answer.
  p.status.mediaEmpty = (static_cast<unsigned char>(answer.back()) & kDymoPaperOut) != 0;
  return p;
}

Parsed ParseAnswer(Family family, std::string_view answer) {
  switch (family) {
    case Family::Zpl: return ParseZplHostStatus(answer);
    case Family::Dymo: return ParseDymoStatus(answer);
    case Family::None: break;
  }
  return {Parse::Malformed, {}};
}

Reasons ReasonsOf(const PrinterStatus &s) {
  Reasons r;
  if (s.mediaEmpty) r.keywords.push_back("media-empty");
  if (s.headOpen) r.keywords.push_back("cover-open");
  if (s.ribbonOut) r.keywords.push_back("marker-supply-empty");
  if (s.paused) r.keywords.push_back("paused");
  std::vector<std::string> other;
  if (s.overTemperature) other.push_back("The print head is too hot.");
  if (s.underTemperature) other.push_back("The print head is too cold.");
  if (s.bufferFull) other.push_back("The printer's receive buffer is full.");
  if (s.corruptRam) other.push_back("The printer lost its configuration (corrupt memory).");
  for (const std::string &m : other) r.message += (r.message.empty() ? "" : " ") + m;
  if (!other.empty()) r.keywords.push_back("other");
  return r;
}

std::string LabelLengthText(int dots, int dpi) {
  if (dots <= 0 || dpi <= 0) return "";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.1f mm", dots * 25.4 / dpi);
  return buf;
}

Readiness ReadinessOf(const std::optional<PrinterStatus> &status) {
  if (!status) return {};
  Readiness r;
  std::string why;
  auto add = [&](const char *text) { why += why.empty() ? text : std::string(", ") + text; };
  if (status->mediaEmpty) add("media empty");
  if (status->headOpen) add("print head open");
  if (status->ribbonOut) add("ribbon out");
  if (status->paused) add("paused on the printer");
  if (status->overTemperature) add("print head too hot");
  if (status->underTemperature) add("print head too cold");
  if (why.empty()) return {Readiness::Ready, ""};
  why[0] = static_cast<char>(why[0] - 'a' + 'A');
  return {Readiness::NotReady, why + "."};
}

}  // namespace status
