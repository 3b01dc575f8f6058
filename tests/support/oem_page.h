#pragma once
// Test helpers for the OEM encoders: a black-and-white page image loaded
// straight into MyPageInfo, the command buffer as bytes, and random images.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "oem/oem.h"

namespace dwtest {

// A page image as the pipeline leaves it: `height` rows of `width` bytes,
// 0x00 for a black dot and 0xFF for none.
struct BwImage {
  unsigned width = 0;
  unsigned height = 0;
  std::vector<unsigned char> px;

  BwImage(unsigned w, unsigned h) : width(w), height(h), px(std::size_t{w} * h, 0xFF) {}
  bool Black(unsigned x, unsigned y) const { return px[std::size_t{y} * width + x] == 0x00; }
  void Set(unsigned x, unsigned y, bool black = true) { px[std::size_t{y} * width + x] = black ? 0x00 : 0xFF; }
};

// Hands a copy of the image to MyPageInfo in a malloc'd ImageData, as the
// pipeline would (PageRows is the received height).
inline void LoadImage(const BwImage &image) {
  MyPageInfo.ImageData = nullptr;
  if (!image.px.empty()) {
    MyPageInfo.ImageData = static_cast<unsigned char *>(std::malloc(image.px.size()));
    std::memcpy(MyPageInfo.ImageData, image.px.data(), image.px.size());
  }
  MyPageInfo.ImageSize = image.px.size();
  MyPageInfo.Width = image.width;
  MyPageInfo.BytesPerLine = image.width;
  MyPageInfo.Height = image.height;
  MyPageInfo.PageRows = image.height;
}

// The command buffer so far.
inline std::string Commands() {
  if (MyPageInfo.CommandData == nullptr) return {};
  return std::string(reinterpret_cast<const char *>(MyPageInfo.CommandData), MyPageInfo.CommandSize);
}

// Frees the page's buffers and forgets them, as the next page start would.
inline void ReleasePage() {
  OEMRelease();
  MyPageInfo.ImageData = nullptr;
  MyPageInfo.ReducedData = nullptr;
  MyPageInfo.CommandData = nullptr;
  MyPageInfo.ImageSize = MyPageInfo.CommandSize = MyPageInfo.PayloadLength = 0;
}

// Runs `fn` on an empty command buffer and returns what it appended.
template <typename Fn>
std::string Appended(Fn fn) {
  const std::size_t before = MyPageInfo.CommandSize;
  fn();
  std::string all = Commands();
  return all.substr(before);
}

// A random image: blank stretches, single dots and solid runs, so that runs
// of every length and rows of every kind occur.
inline BwImage RandomImage(std::mt19937 &rng, unsigned width, unsigned height) {
  BwImage image(width, height);
  std::uniform_int_distribution<int> kind(0, 5);
  for (unsigned y = 0; y < height; ++y) {
    const int k = kind(rng);
    if (k <= 1) continue;  // blank row
    unsigned x = 0;
    while (x < width) {
      const unsigned run = std::uniform_int_distribution<unsigned>(1, k == 2 ? 3 : 400)(rng);
      const bool black = rng() % 2 == 0;
      for (unsigned i = 0; i < run && x < width; ++i, ++x) image.Set(x, y, black);
    }
  }
  return image;
}

}  // namespace dwtest
