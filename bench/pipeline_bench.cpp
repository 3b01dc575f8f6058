// The OEM page image pipeline on full-size pages: collection of every raster
// line, then the image steps of the page end in their fixed order.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "oem/oem.h"

namespace {

struct PageShape {
  std::uint32_t width, height, dpi;
  std::uint8_t needle;
};

constexpr PageShape kThermal{832, 8000, 203, 0};   // a long receipt on an 832-dot head
constexpr PageShape kNeedle{1440, 2100, 180, 1};   // a needle page at 180 x 180 dpi

// A page of mixed content: noise in the top half (dither's worst case), and
// solid bars below (long dense lines for the thinning).
std::vector<unsigned char> MakeLines(const PageShape &shape) {
  std::vector<unsigned char> page(std::size_t{shape.width} * 3 * shape.height);
  std::mt19937 rng(1);
  const std::size_t half = page.size() / 2;
  for (std::size_t i = 0; i < half; ++i) page[i] = static_cast<unsigned char>(rng());
  for (std::size_t i = half; i < page.size(); ++i) page[i] = ((i / (shape.width * 3)) % 16 < 4) ? 0 : 255;
  return page;
}

void StartPage(const PageShape &shape, std::int32_t rotation, std::int32_t imagePrint) {
  MyPageInfo = OEMPageInfo{};
  MyPageInfo.Resolution[0] = MyPageInfo.Resolution[1] = shape.dpi;
  MyPageInfo.Width = shape.width;
  MyPageInfo.Height = MyPageInfo.PageRows = shape.height;
  MyPageInfo.BytesPerLine = std::uint64_t{shape.width} * 3;
  MyPageInfo.BitsPerPixel = 24;
  MyPageInfo.ColorSpace = CUPS_CSPACE_SRGB;
  PrintPa = OEMPrinterParams{};
  PrintPa.IsNeedle = shape.needle;
  PrintPa.HeadWidth = shape.needle ? 1440 : static_cast<std::int32_t>(shape.width);
  PrintPa.Density = shape.needle ? 1 : 75;
  PrintPa.GrayLevel = 50;
  PrintPa.Rotation = rotation;
  PrintPa.ImagePrint = imagePrint;
}

void ReleasePage() {
  std::free(MyPageInfo.ImageData);
  std::free(MyPageInfo.ReducedData);
  MyPageInfo.ImageData = MyPageInfo.ReducedData = nullptr;
}

void RunPipeline(benchmark::State &state, const PageShape &shape) {
  const std::int32_t rotation = static_cast<std::int32_t>(state.range(0));
  const std::int32_t imagePrint = static_cast<std::int32_t>(state.range(1));
  const std::vector<unsigned char> page = MakeLines(shape);
  const std::uint64_t line = std::uint64_t{shape.width} * 3;
  for (auto _ : state) {
    StartPage(shape, rotation, imagePrint);
    for (std::uint32_t y = 0; y < shape.height; ++y) OEMWriteOriginalPageData(page.data() + y * line, line);
    OEMRGBToGray();
    OEMRotationPhotograph();
    API_DitherColor();
    OEMCompressionData_NeedlePrinter();
    FindLineHorizental_1440();
    benchmark::DoNotOptimize(MyPageInfo.ImageData);
    ReleasePage();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(page.size()));
}

void BM_ThermalPage832x8000(benchmark::State &state) { RunPipeline(state, kThermal); }
void BM_NeedlePage1440x2100(benchmark::State &state) { RunPipeline(state, kNeedle); }

// Arguments: rotation in degrees, ImagePrint (0 threshold, 1 ordered dither).
BENCHMARK(BM_ThermalPage832x8000)->Args({0, 0})->Args({0, 1})->Args({90, 1})->Args({180, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NeedlePage1440x2100)->Args({0, 0})->Args({0, 1})->Args({270, 1})->Unit(benchmark::kMillisecond);

}  // namespace
