#pragma once
// The printer icons drawn at build time (see README.md).
#include <cstddef>

namespace app {

enum class IconKind { Label = 0, Receipt = 1, DotMatrix = 2 };

struct IconData {
  const unsigned char *data;
  std::size_t size;
};

// PNG data of one icon: size 0 is 48 pixels square, 1 is 128, 2 is 512.
IconData PrinterIcon(IconKind kind, int size);

}  // namespace app
