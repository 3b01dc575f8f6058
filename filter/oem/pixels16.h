#pragma once
// Sixteen image bytes as one value, for the OEM image steps and encoders. A
// comparison of two of them gives 0xFF in every byte where it holds and 0x00
// where it does not: exactly the dot bytes of the binarisation, and masks for
// the dot logic of the needle steps. (GCC and Clang vector extensions; SSE2
// or NEON code on both targets.)
#include <cstring>

namespace oem16 {

typedef unsigned char Pixels16 __attribute__((vector_size(16)));

inline Pixels16 Load16(const unsigned char *p) {
  Pixels16 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline void Store16(unsigned char *p, Pixels16 v) { std::memcpy(p, &v, sizeof v); }

inline Pixels16 Splat16(unsigned char value) {
  Pixels16 v;
  for (int i = 0; i < 16; ++i) v[i] = value;
  return v;
}

// 0xFF in every byte that is exactly 0x00 (a dot), 0x00 elsewhere.
inline Pixels16 Dots16(const unsigned char *p) { return reinterpret_cast<Pixels16>(Load16(p) == Splat16(0)); }

}  // namespace oem16
