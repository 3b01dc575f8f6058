// dotweave-fuzz-seeds: writes the seed corpora of the filter's fuzz targets.
//
//   dotweave-fuzz-seeds CORPUS_ROOT     writes CORPUS_ROOT/raster/ and CORPUS_ROOT/decode/
//
// Raster seeds are small valid CUPS raster jobs for every printer family, in
// every pixel format the filter reads, plain and compressed, some cut short
// in their second page. Decode seeds are what the filter prints for some of
// those jobs, so the decoders start from real printer streams.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "entries.h"
#include "support/harness.h"

namespace {

using dwfuzz::RasterFamily;

struct Shape {
  unsigned width, height, bits, dpi;
};

constexpr Shape kShapes[] = {
    {16, 8, 24, 203}, {40, 20, 8, 203}, {64, 16, 1, 203}, {13, 7, 24, 180},
    {832, 3, 1, 203}, {300, 17, 8, 180}, {1, 1, 24, 203},
};
constexpr unsigned kShapeCount = sizeof kShapes / sizeof kShapes[0];

constexpr const char *kFamilyNames[dwfuzz::kRasterFamilies] = {
    "dymo", "epl-line", "epl-page", "zpl", "oem-thermal", "oem-needle", "pcl", "unknown"};

// The decoder's language byte for each family (dwdecode::Language order).
constexpr char kDecodeLanguage[dwfuzz::kRasterFamilies] = {0, 1, 2, 3, 5, 6, 4, 0};

// Stripes and a diagonal gradient: runs for the compressors, varied bytes for
// the dither, blank lines for the feeds.
dwtest::Bytes Pattern(const cups_page_header2_t &h, std::size_t rows) {
  dwtest::Bytes data(rows * h.cupsBytesPerLine);
  for (std::size_t i = 0; i < data.size(); ++i) {
    const std::size_t y = i / h.cupsBytesPerLine;
    data[i] = y % 4 == 3 ? 0x00 : static_cast<unsigned char>((i * 37 + y * 11) & 0xFF);
  }
  return data;
}

void Write(const std::filesystem::path &file, const std::string &bytes) {
  std::ofstream(file, std::ios::binary) << bytes;
}

std::string ShapeName(const Shape &s) {
  return std::to_string(s.width) + "x" + std::to_string(s.height) + "-" + std::to_string(s.bits) +
         "bit-" + std::to_string(s.dpi) + "dpi";
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_ROOT\n", argv[0]);
    return 2;
  }
  // The filter's status lines of the decode seeds' jobs are of no interest.
  if (std::freopen("/dev/null", "w", stderr) == nullptr) return 1;
  const std::filesystem::path root = argv[1];
  std::filesystem::create_directories(root / "raster");
  std::filesystem::create_directories(root / "decode");
  int raster = 0, decode = 0;
  for (unsigned f = 0; f < dwfuzz::kRasterFamilies; ++f) {
    const auto family = static_cast<RasterFamily>(f);
    for (unsigned k = 0; k < 4; ++k) {
      const Shape &s = kShapes[(f * 3 + k) % kShapeCount];
      const bool compressed = (k & 1) != 0;
      const bool cutShort = k >= 2 && s.height > 2;
      const unsigned optionSet = k == 0 ? 0 : (f * 4 + k) % 31 + 1;

      cups_page_header2_t h = dwtest::MakeHeader(s.width, s.height, s.bits, s.dpi);
      std::vector<dwtest::RasterPage> pages = {{h, Pattern(h, s.height)}};
      if (cutShort) pages.push_back({h, Pattern(h, s.height / 2)});
      const std::string input =
          std::string(1, dwfuzz::RasterSelector(family, optionSet)) + dwtest::WriteRaster(pages, compressed);

      const std::string name = std::string(kFamilyNames[f]) + "-" + ShapeName(s) +
                               (compressed ? "-compressed" : "") + (cutShort ? "-cut" : "") +
                               "-options" + std::to_string(optionSet);
      Write(root / "raster" / name, input);
      ++raster;

      // The printer streams of the first two jobs of every known family.
      if (family == dwfuzz::kUnknownFamily || k >= 2) continue;
      const std::string stream = dwfuzz::RasterJobOutput(input);
      if (stream.empty()) continue;
      Write(root / "decode" / name, std::string(1, kDecodeLanguage[f]) + stream);
      ++decode;
    }
  }
  std::printf("wrote %d raster and %d decode seeds under %s\n", raster, decode, root.c_str());
  return 0;
}
