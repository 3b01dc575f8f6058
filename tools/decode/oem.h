#pragma once
// Lower-level pieces of the OEM printer decoders, shared by the thermal and
// needle decoders and by tests that look at single lines or bands.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "decode/decode.h"

namespace dwdecode::oem {

// Longest thermal line and tallest page the decoders rebuild; longer input is
// reported and cut so that hostile streams cannot exhaust memory.
inline constexpr std::size_t kMaxThermalDots = 2048;
inline constexpr std::size_t kMaxPageRows = std::size_t{1} << 15;

inline constexpr std::size_t kNeedleDots = 1440;
inline constexpr std::size_t kNeedleBandRows = 16;
inline constexpr std::size_t kNeedleBandBytes = 2 * kNeedleDots;

// The dots (1 = black) of a thermal line from its run codes: 00 / 01 one
// white / black dot; 80 k / 81 k  k + 1 white / black dots. `offset` is the
// stream offset of code[0], used in the problems reported.
std::vector<std::uint8_t> DecodeThermalRuns(std::string_view code, std::size_t offset,
                                            std::vector<Problem> &problems);

// The 16 rows of 1440 dots held in one 2880-byte needle band: odd rows in the
// first half, even rows in the second, row r on bit 0x80 >> (r / 2).
// Row-major, 1 = black. `band` must hold 2880 bytes.
std::vector<std::uint8_t> NeedleBandDots(std::string_view band);

// "0x1B" style rendering of a byte for problem texts.
std::string ByteText(unsigned char byte);

}  // namespace dwdecode::oem
