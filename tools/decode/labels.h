#pragma once
// Lower-level pieces of the label-language decoders, open to the tests: the
// ZPL compressed hex graphic data and the PCL delta-row (mode 3) row format.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "decode/decode.h"

namespace dwdecode {

// The data of a ZPL graphic download: hex digits, each optionally preceded
// by repeat characters (G..Y add 1..19, g..z add 20..400), "," (the rest of
// the row is 0), "!" (the rest of the row is 1) and ":" (the row repeats the
// one before). Line breaks are ignored.
struct ZplGraphicData {
  std::vector<std::uint8_t> bytes;  // the rows received, bytesPerRow each
  std::size_t consumed = 0;         // characters read from the text
  bool complete = false;            // totalBytes arrived
  std::optional<Problem> problem;   // first fault, offset within the text
};

// Decodes the data of a download of `totalBytes` bytes in rows of
// `bytesPerRow` bytes. Stops after the last byte, or at the first character
// that is not graphic data (complete is then false and problem is empty).
ZplGraphicData DecodeZplGraphic(std::string_view text, std::size_t bytesPerRow, std::size_t totalBytes);

// Applies one mode-3 row (the data of an "ESC * b # W" transfer) to `seed`
// in place. Each command byte holds the count of replacement bytes less one
// (top three bits) and the offset from the end of the previous replacement
// (low five bits; 31 is continued by bytes added on while they are 255).
// Returns an error text, or nothing for a valid row.
std::optional<std::string> ApplyDeltaRow(std::span<const std::uint8_t> data, std::vector<std::uint8_t> &seed);

// Whether `c` is an ASCII decimal digit.
constexpr bool IsDecimalDigit(char c) { return c >= '0' && c <= '9'; }

// Reads `text` as an unsigned decimal number of 1 to `maxDigits` digits and
// nothing else; false (and `value` unspecified) otherwise.
inline bool ParseDecimal(std::string_view text, std::size_t maxDigits, std::size_t &value) {
  if (text.empty() || text.size() > maxDigits) return false;
  value = 0;
  for (char c : text) {
    if (!IsDecimalDigit(c)) return false;
    value = value * 10 + static_cast<std::size_t>(c - '0');
  }
  return true;
}

// Appends the dots of a row of packed bits (most significant bit first) to
// `dots`, `width` dots in all: 1 for a black dot, 0 past the data. With `zeroIsBlack` a 0
// bit is the black dot.
inline void UnpackRow(std::span<const std::uint8_t> bytes, unsigned width, bool zeroIsBlack,
                      std::vector<std::uint8_t> &dots) {
  for (unsigned x = 0; x < width; ++x) {
    const std::size_t i = x / 8;
    if (i >= bytes.size()) {
      dots.push_back(0);  // past the data: no dot
      continue;
    }
    const bool bit = ((bytes[i] >> (7 - x % 8)) & 1) != 0;
    dots.push_back(static_cast<std::uint8_t>(bit != zeroIsBlack));
  }
}

}  // namespace dwdecode
