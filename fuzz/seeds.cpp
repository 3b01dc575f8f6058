// dotweave-fuzz-seeds: writes the seed corpora of the filter's fuzz targets.
//
//   dotweave-fuzz-seeds CORPUS_ROOT     writes CORPUS_ROOT/<target>/ for every target
//
// Raster seeds are small valid CUPS raster jobs for every printer family, in
// every pixel format the filter reads, plain and compressed, some cut short
// in their second page. Decode seeds are what the filter prints for some of
// those jobs, so the decoders start from real printer streams. The printer
// application's targets get settings, URIs and raster pages of a label, a
// thermal and a needle printer.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
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

// The catalogue index of a driver, as the application targets' first byte.
char PrinterByte(const char *driverName) {
  const auto &printers = catalogue::Printers();
  for (std::size_t i = 0; i < printers.size(); ++i)
    if (printers[i].driverName == driverName) return static_cast<char>(i);
  return 0;
}

std::string Int32(int v) {
  const auto u = static_cast<unsigned>(v);
  return {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8 & 0xFF), static_cast<char>(u >> 16 & 0xFF),
          static_cast<char>(u >> 24 & 0xFF)};
}

// The printer application's targets: settings of a label family, a thermal
// and a needle model; serial: URIs as CUPS writes them, and broken ones;
// raster pages in every format the bridge takes and some it refuses.
int WriteApplicationSeeds(const std::filesystem::path &root) {
  int count = 0;
  std::filesystem::create_directories(root / "app_settings");
  struct Settings {
    const char *name, *driver;
    int configured, darkness, speed;
    bool photo;
    const char *text;
  };
  const Settings settings[] = {
      {"zpl-defaults", "dotweave-zpl", -1, 0, 0, false, "\n\n\n"},
      {"zpl-darkness-tracking", "dotweave-zpl", 70, 20, 10160, false, "\nweb\ntear-off\n"},
      {"kv412-paper-vendor", "kv412-a", 50, -30, 2540, true,
       "labels\n\n\nrotation=180\nhorizontal-adjust=-20\nunknown-name=1"},
      {"lc586-needle-vendor", "lc586-a", 100, 100, 0, false,
       "\n\n\nunidirectional-print=0\ncut-paper-position=-7\nfixed-page-height=9999"},
      {"epl-extremes", "dotweave-epl-page", 2147483647, -2147483647, -1, true, "x\ngap\nweird\n="},
  };
  for (const Settings &c : settings) {
    Write(root / "app_settings" / c.name, std::string(1, PrinterByte(c.driver)) + Int32(c.configured) +
                                               Int32(c.darkness) + Int32(c.speed) +
                                               std::string(1, c.photo ? '\1' : '\0') + c.text);
    ++count;
  }
  std::filesystem::create_directories(root / "serial_uri");
  const char *uris[] = {
      "serial:/dev/ttyUSB0?baud=115200+bits=8+parity=none+flow=none",
      "serial:/dev/ttyS0",
      "serial:/dev/rfcomm0?baud=9600&flow=soft",
      "serial:/dev/ttyACM0?baud=19200+bits=7+parity=even+stop=2+flow=rtscts",
      "serial:/dev/tty%20odd?baud=38400+flow=dtrdsr",
      "serial:/dev/ttyUSB0?baud=12345",
      "serial:?baud=9600",
      "SERIAL:/dev/ttyUSB0?BAUD=57600+FLOW=XONXOFF",
      "serial:/dev/ttyUSB0?speed=9600",
  };
  for (std::size_t i = 0; i < sizeof uris / sizeof uris[0]; ++i) {
    Write(root / "serial_uri" / ("uri-" + std::to_string(i)), uris[i]);
    ++count;
  }
  std::filesystem::create_directories(root / "raster_bridge");
  struct Page {
    const char *name, *driver;
    unsigned width, height, bits;
    cups_cspace_t space;
  };
  const Page pages[] = {
      {"zpl-black", "dotweave-zpl", 64, 8, 1, CUPS_CSPACE_K},
      {"zpl-gray-refused", "dotweave-zpl", 16, 4, 8, CUPS_CSPACE_W},
      {"kv412-rgb", "kv412-a", 32, 6, 24, CUPS_CSPACE_SRGB},
      {"kv412-gray", "kv412-a", 40, 5, 8, CUPS_CSPACE_SW},
      {"lc586-black", "lc586-a", 24, 4, 8, CUPS_CSPACE_K},
      {"lc586-1bit-refused", "lc586-a", 24, 4, 1, CUPS_CSPACE_K},
  };
  for (const Page &p : pages) {
    cups_page_header2_t h = dwtest::MakeHeader(p.width, p.height, p.bits, 203);
    h.cupsColorSpace = p.space;
    for (const bool compressed : {false, true}) {
      const std::string raster = dwtest::WriteRaster({{h, Pattern(h, p.height)}, {h, Pattern(h, 2)}}, compressed);
      Write(root / "raster_bridge" / (std::string(p.name) + (compressed ? "-compressed" : "")),
            std::string(1, PrinterByte(p.driver)) + std::string(1, compressed ? '\1' : '\0') + raster);
      ++count;
    }
  }
  return count;
}

// ESC/POS and TSPL jobs (1-bit pages, as their PPDs ask for: white runs,
// widths that are not a multiple of 8, two pages) for the raster target, and
// the streams the filter writes for them for their decoders' targets.
int WriteReceiptAndTsplSeeds(const std::filesystem::path &root) {
  constexpr Shape kPages[] = {{64, 40, 1, 203}, {13, 30, 1, 180}, {600, 9, 1, 203}, {100, 60, 1, 300}};
  int count = 0;
  for (const auto &[name, sub] : {std::pair{"escpos", dwfuzz::kOtherEscPos}, std::pair{"tspl", dwfuzz::kOtherTspl}}) {
    const std::string decodeDir = std::string("decode_") + name;
    std::filesystem::create_directories(root / decodeDir);
    for (unsigned k = 0; k < 4; ++k) {
      const Shape &s = kPages[k];
      const unsigned optionSet = sub + 3 * (k == 0 ? 0 : k * 3 + 1);
      cups_page_header2_t h = dwtest::MakeHeader(s.width, s.height, s.bits, s.dpi);
      dwtest::Bytes data = Pattern(h, s.height);
      // White rows in runs of 1 to 9, between black ones.
      for (std::size_t y = 0; y < s.height; ++y)
        if (y % 10 >= 10 - y % 7 - 1) std::fill_n(data.begin() + static_cast<std::ptrdiff_t>(y * h.cupsBytesPerLine), h.cupsBytesPerLine, 0);
      std::vector<dwtest::RasterPage> pages = {{h, data}};
      if (k >= 2) pages.push_back({h, Pattern(h, s.height / 2)});
      const std::string input = std::string(1, dwfuzz::RasterSelector(dwfuzz::kOtherFamily, optionSet)) +
                                dwtest::WriteRaster(pages, (k & 1) != 0);
      const std::string file = std::string(name) + "-" + ShapeName(s) + ((k & 1) ? "-compressed" : "") +
                               (k >= 2 ? "-cut" : "") + "-options" + std::to_string(optionSet);
      Write(root / "raster" / file, input);
      Write(root / decodeDir / file, dwfuzz::RasterJobOutput(input));
      count += 2;
    }
  }
  return count;
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
      // The other slot's unknown code takes the option sets that are
      // multiples of 3 (see FuzzRaster).
      const unsigned optionSet = family == dwfuzz::kOtherFamily ? 3 * k : k == 0 ? 0 : (f * 4 + k) % 31 + 1;

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
  const int receiptLabel = WriteReceiptAndTsplSeeds(root);
  const int application = WriteApplicationSeeds(root);
  std::printf("wrote %d raster, %d decode, %d ESC/POS and TSPL and %d application seeds under %s\n", raster,
              decode, receiptLabel, application, root.c_str());
  return 0;
}
