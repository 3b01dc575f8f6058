#pragma once
// Shared by the image pipeline tests: building a page image in MyPageInfo
// and reading it back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "oem/oem.h"
#include "support/harness.h"

namespace imagetest {

using Bytes = std::vector<unsigned char>;

// Frees whatever page buffers a test left behind and clears every record.
inline void ReleaseAndReset() {
  std::free(MyPageInfo.ImageData);
  std::free(MyPageInfo.ReducedData);
  std::free(MyPageInfo.CommandData);
  dwtest::ResetFilterState();
}

class ImageTest : public ::testing::Test {
 protected:
  void SetUp() override { dwtest::ResetFilterState(); }
  void TearDown() override { ReleaseAndReset(); }
};

// Puts a one-byte-per-pixel image of `rows` x `cols` in MyPageInfo, as the
// gray conversion leaves it.
inline void SetGray(std::uint64_t rows, std::uint64_t cols, const Bytes &pixels) {
  std::free(MyPageInfo.ImageData);
  MyPageInfo.ImageData = nullptr;
  if (!pixels.empty()) {
    MyPageInfo.ImageData = static_cast<unsigned char *>(std::malloc(pixels.size()));
    std::memcpy(MyPageInfo.ImageData, pixels.data(), pixels.size());
  }
  MyPageInfo.ImageSize = pixels.size();
  MyPageInfo.ImageCapacity = pixels.size();
  MyPageInfo.Height = rows;
  MyPageInfo.Width = cols;
  MyPageInfo.BytesPerLine = cols;
}

inline Bytes Image() {
  if (MyPageInfo.ImageData == nullptr) return {};
  return Bytes(MyPageInfo.ImageData, MyPageInfo.ImageData + MyPageInfo.ImageSize);
}

inline Bytes RandomBytes(std::mt19937 &rng, std::size_t n, std::initializer_list<unsigned char> from = {}) {
  Bytes b(n);
  std::vector<unsigned char> pool(from);
  for (auto &v : b) {
    const unsigned r = static_cast<unsigned>(rng());
    v = pool.empty() ? static_cast<unsigned char>(r & 0xFF) : pool[r % pool.size()];
  }
  return b;
}

}  // namespace imagetest
