// OEM page image pipeline: page collection, gray conversion, rotation,
// binarisation, and the needle-only row reduction and line thinning.
// Only the collection is written yet; the image steps leave the page as is.
#include <cstdlib>
#include <cstring>

#include "dotweave/filter.h"
#include "oem/oem.h"

void OEMWriteOriginalPageData(const unsigned char *line, std::uint64_t size) {
  if (MyPageInfo.PageFailed) return;
  void *grown = std::realloc(MyPageInfo.ImageData, MyPageInfo.ImageSize + size);
  if (grown == nullptr && MyPageInfo.ImageSize + size != 0) {
    MyPageInfo.PageFailed = 1;
    FailJob("Unable to allocate memory for the page image.");
    return;
  }
  MyPageInfo.ImageData = static_cast<unsigned char *>(grown);
  if (size != 0) std::memcpy(MyPageInfo.ImageData + MyPageInfo.ImageSize, line, size);
  MyPageInfo.ImageSize += size;
}

const std::int8_t BayerDispersion[8][8] = {
    {4, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
    {12, 44, 4, 36, 14, 46, 6, 38}, {60, 28, 52, 20, 62, 30, 54, 22},
    {3, 35, 11, 43, 4, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21},
};

void OEMRGBToGray() {}
void OEMRotationPhotograph() {}
void Rotation_90() {}
void Rotation_180() {}
void Rotation_270() {}
void API_DitherColor() {}
void OEMCompressionData_NeedlePrinter() {}
void FindLineHorizental_1440() {}
