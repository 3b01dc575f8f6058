// Decoder of the OEM thermal printer language: a zero block, @S settings
// commands ending in CR LF, then the page as one framed block:
//   40 3C, block length (4 bytes, MSB first), row count (2 bytes, LSB first),
//   line records 23 3C <run codes> 23 3E, and the tail 40 3E 0D 0A.
#include <algorithm>
#include <cstdio>
#include <string>

#include "decode/decode.h"
#include "decode/oem.h"

namespace dwdecode {
namespace oem {

std::string ByteText(unsigned char byte) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(byte));
  return text;
}

std::vector<std::uint8_t> DecodeThermalRuns(std::string_view code, std::size_t offset,
                                            std::vector<Problem> &problems) {
  std::vector<std::uint8_t> dots;
  bool cut = false;
  auto add = [&](std::size_t count, std::uint8_t black) {
    const std::size_t room = kMaxThermalDots - dots.size();
    if (count > room && !cut) {
      problems.push_back({offset, "line longer than " + std::to_string(kMaxThermalDots) + " dots; cut"});
      cut = true;
    }
    dots.insert(dots.end(), std::min(count, room), black);
  };
  for (std::size_t i = 0; i < code.size();) {
    const auto first = static_cast<unsigned char>(code[i]);
    const std::uint8_t black = first & 0x01;
    if (first == 0x00 || first == 0x01) {
      add(1, black);
      i += 1;
    } else if (first == 0x80 || first == 0x81) {
      if (i + 1 >= code.size()) {
        problems.push_back({offset + i, "run code without its count byte"});
        break;
      }
      const auto count = static_cast<unsigned char>(code[i + 1]);
      if (count == 0) problems.push_back({offset + i + 1, "run count 0 (a single dot takes the one-byte code)"});
      add(std::size_t{count} + 1, black);
      i += 2;
    } else {
      problems.push_back({offset + i, "invalid run code " + ByteText(first)});
      break;
    }
  }
  return dots;
}

}  // namespace oem

namespace {

unsigned char At(std::string_view s, std::size_t i) { return static_cast<unsigned char>(s[i]); }
bool StartsAt(std::string_view s, std::size_t i, std::string_view what) {
  return i <= s.size() && s.substr(i).starts_with(what);
}

struct ThermalSetting {
  std::string_view code;  // the two characters after @S
  const char *name;
  std::size_t valueBytes;
};
constexpr ThermalSetting kSettings[] = {
    {"MS", "speed", 2}, {"~~", "density", 1}, {"GS", "gray-level", 1}, {"TP", "gray-values", 16}, {"PP", "paper-type", 1},
};

// Reads one @S command at `i`; returns the offset after it.
std::size_t ReadSetting(std::string_view s, std::size_t i, std::vector<Setting> &settings,
                        std::vector<Problem> &problems) {
  const ThermalSetting *known = nullptr;
  for (const auto &setting : kSettings)
    if (StartsAt(s, i + 2, setting.code)) known = &setting;
  if (known == nullptr) {
    problems.push_back({i, "unknown settings command"});
    const std::size_t end = s.find("\r\n", i);
    return end == std::string_view::npos ? s.size() : end + 2;
  }
  const std::size_t value = i + 4;
  if (s.size() < value + known->valueBytes + 2) {
    problems.push_back({i, std::string("truncated ") + known->name + " command"});
    return s.size();
  }
  std::string text;
  if (known->valueBytes == 2) {
    text = std::to_string(unsigned{At(s, value)} << 8 | At(s, value + 1));
  } else {
    for (std::size_t k = 0; k < known->valueBytes; ++k) {
      if (k != 0) text += ',';
      text += std::to_string(unsigned{At(s, value + k)});
    }
  }
  settings.push_back({known->name, text});
  const std::size_t end = value + known->valueBytes;
  if (!StartsAt(s, end, "\r\n")) problems.push_back({end, std::string(known->name) + " command not ended by CR LF"});
  return end + 2;
}

// Reads the framed page block at `start` into `page`; returns the offset after it.
std::size_t ReadBlock(std::string_view s, std::size_t start, DecodedPage &page, std::vector<Problem> &problems) {
  if (s.size() - start < 8) {
    problems.push_back({start, "truncated page header"});
    return s.size();
  }
  const std::uint32_t length = std::uint32_t{At(s, start + 2)} << 24 | std::uint32_t{At(s, start + 3)} << 16 |
                               std::uint32_t{At(s, start + 4)} << 8 | At(s, start + 5);
  const unsigned rows = unsigned{At(s, start + 6)} | unsigned{At(s, start + 7)} << 8;
  page.settings.push_back({"page-rows", std::to_string(rows)});
  page.settings.push_back({"block-length", std::to_string(length)});

  std::vector<std::vector<std::uint8_t>> lines;
  bool tooTall = false;
  std::size_t i = start + 8;
  while (true) {
    if (StartsAt(s, i, "@>\r\n")) {
      i += 4;
      if (i - start != length)
        problems.push_back({start + 2, "block length field " + std::to_string(length) + " but the block has " +
                                           std::to_string(i - start) + " bytes"});
      break;
    }
    if (!StartsAt(s, i, "#<")) {
      problems.push_back({i, i >= s.size() ? "page block not closed" : "expected a line record or the block tail"});
      break;
    }
    // A record ends at 23 3E where a run code would begin: 0x23 is never a
    // run code, and count bytes are always preceded by 0x80 or 0x81.
    std::size_t end = i + 2;
    while (end + 1 < s.size() && !(At(s, end) == 0x23 && At(s, end + 1) == 0x3E))
      end += (At(s, end) & 0x80) ? std::size_t{2} : std::size_t{1};
    if (end + 1 >= s.size()) {
      problems.push_back({i, "line record not closed"});
      i = s.size();
      break;
    }
    auto dots = oem::DecodeThermalRuns(s.substr(i + 2, end - i - 2), i + 2, problems);
    if (lines.size() < oem::kMaxPageRows) {
      if (!lines.empty() && dots.size() != lines.front().size())
        problems.push_back({i, "line of " + std::to_string(dots.size()) + " dots on a page of " +
                                   std::to_string(lines.front().size())});
      lines.push_back(std::move(dots));
    } else if (!tooTall) {
      problems.push_back({i, "page taller than " + std::to_string(oem::kMaxPageRows) + " lines; cut"});
      tooTall = true;
    }
    i = end + 2;
  }

  page.width = lines.empty() ? 0 : static_cast<unsigned>(lines.front().size());
  page.height = static_cast<unsigned>(lines.size());
  page.dots.assign(std::size_t{page.width} * page.height, 0);
  for (std::size_t y = 0; y < lines.size(); ++y)
    std::copy_n(lines[y].begin(), std::min<std::size_t>(lines[y].size(), page.width),
                page.dots.begin() + static_cast<std::ptrdiff_t>(y * page.width));
  return i;
}

}  // namespace

DecodeResult DecodeOemThermal(std::string_view s) {
  DecodeResult result;
  std::vector<Setting> pending;  // settings before the next page block
  std::size_t i = 0;
  while (i < s.size()) {
    if (At(s, i) == 0x00) {
      const std::size_t end = std::min(s.find_first_not_of('\0', i), s.size());
      pending.push_back({"zero-block", std::to_string(end - i)});
      i = end;
    } else if (StartsAt(s, i, "@S")) {
      i = ReadSetting(s, i, pending, result.problems);
    } else if (StartsAt(s, i, "@<")) {
      DecodedPage page;
      page.settings = std::move(pending);
      pending.clear();
      i = ReadBlock(s, i, page, result.problems);
      result.pages.push_back(std::move(page));
    } else {
      // Skip what cannot be read up to the next command or zero block.
      result.problems.push_back({i, "unexpected byte " + oem::ByteText(At(s, i))});
      const std::size_t next = s.find_first_of(std::string_view("@\0", 2), i + 1);
      i = next == std::string_view::npos ? s.size() : next;
    }
  }
  if (!pending.empty()) {
    result.problems.push_back({s.size(), "settings after the last page block"});
    result.jobSettings = std::move(pending);
  }
  return result;
}

}  // namespace dwdecode
