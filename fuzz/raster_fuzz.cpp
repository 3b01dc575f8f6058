// libFuzzer target over the whole filter: one job per input, run in process.
//
// Input layout: the first byte picks the printer family (low three bits) and
// one of 32 job option sets (high five bits); the rest is the CUPS raster
// stream, handed to the filter as its raster file.
//
//   raster_fuzz --write-seeds=DIR   writes a seed corpus of valid streams
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "dotweave/filter.h"
#include "support/harness.h"

namespace {

struct Family {
  int modelNumber;
  bool oem;
  bool needle;
};

// Indexed by the low three bits of the first input byte. The last entry is a
// code outside the family table: pages are read and nothing is written.
constexpr Family kFamilies[8] = {
    {0x00, false, false}, {0x10, false, false}, {0x11, false, false}, {0x12, false, false},
    {0x13, true, false},  {0x13, true, true},   {0x20, false, false}, {5, false, false},
};

// Thermal printers of every head width, picked by the option set.
constexpr const char *kThermalUris[] = {
    "serial:/dev/cu.KV412-A",   // 832 dots
    "serial:/dev/cu.KV414-A",   // 640 dots
    "serial:/dev/cu.KV158-AK",  // 576 dots, right aligned
    "serial:/dev/cu.KV418-AK",  // 384 dots, right aligned
};

// Every option with valid, out-of-range and non-numeric choices.
const std::vector<dwtest::PpdOption> kOemOptions = {
    {"ImagePrint", "0", {"0", "1", "2"}},
    {"GrayADJ", "50", {"50", "0", "255", "256", "-1", "-300", "x"}},
    {"Density", "75", {"75", "1", "2", "3", "50", "100", "120", "0", "word"}},
    {"Speed", "1", {"0", "1", "2", "3", "4", "-1", "word"}},
    {"Rotation", "0", {"0", "90", "180", "270", "45"}},
    {"PaperType", "0", {"0", "1", "2", "3"}},
    {"HorizentalADJ", "0", {"0", "20", "-20", "21", "-21", "7", "-7"}},
    {"VerticalADJ", "0", {"0", "20", "-20", "21", "-21", "3", "-3"}},
    {"UnidirectionalPrint", "1", {"0", "1", "2"}},
    {"PrintStartPosition", "0", {"0", "120", "-120", "121"}},
    {"CutPaperPosition", "0", {"0", "120", "-120", "-121"}},
    {"FixPageHeight", "0", {"0", "1", "2", "3", "4", "5", "6"}},
};

const std::vector<dwtest::PpdOption> kLabelOptions = {
    {"zePrintRate", "Default", {"Default", "1", "2", "3", "4", "12", "-5", "1e300", "word"}},
    {"zeMediaTracking", "Continuous", {"Continuous", "Web", "Mark", "Other"}},
    {"zePrintMode", "Saved", {"Saved", "Tear", "Peel", "Rewind", "Applicator", "Cutter"}},
    {"zeErrorReprint", "Saved", {"Saved", "Always", "Never"}},
    {"inPrintMode", "Standard", {"Standard", "Tear", "Cut"}},
};

// Job options of option set `set`: set 0 keeps the PPD defaults; the others
// pick a choice of every option by a fixed mix of the set number, so that the
// 31 sets together reach every choice.
std::string JobOptions(unsigned set, const std::vector<dwtest::PpdOption> &options) {
  if (set == 0) return "";
  std::string text;
  unsigned mix = set * 2654435761u;
  for (const dwtest::PpdOption &o : options) {
    mix = mix * 1103515245u + 12345u;
    const std::string &choice = o.choices[(mix >> 16) % o.choices.size()];
    if (!text.empty()) text += ' ';
    text += o.keyword + "=" + choice;
  }
  return text;
}

std::string gPpdPaths[8];
int gRasterFd = -1;
std::string gRasterPath;

void WriteFixtures() {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/dotweave-fuzz-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) std::abort();
    return std::string(tmpl);
  }();
  for (std::size_t i = 0; i < 8; ++i) {
    const Family &f = kFamilies[i];
    gPpdPaths[i] = dir + "/family" + std::to_string(i) + ".ppd";
    std::ofstream(gPpdPaths[i]) << dwtest::MakePpd(f.modelNumber, f.oem ? kOemOptions : kLabelOptions);
  }
}

// ---- Seed corpus -------------------------------------------------------------

dwtest::Bytes Pattern(const cups_page_header2_t &h, std::size_t rows) {
  dwtest::Bytes data(rows * h.cupsBytesPerLine);
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<unsigned char>((i * 37 + i / h.cupsBytesPerLine * 11) & 0xFF);
  return data;
}

void WriteSeeds(const std::string &dir) {
  std::filesystem::create_directories(dir);
  struct Shape {
    unsigned width, height, bits, dpi;
  };
  const Shape shapes[] = {{16, 8, 24, 203}, {13, 7, 24, 180}, {40, 20, 8, 203}, {9, 5, 8, 180},
                          {64, 16, 1, 203}, {11, 10, 1, 180}, {1, 1, 24, 203},  {832, 3, 1, 203},
                          {300, 17, 8, 180}};
  int n = 0;
  int written = 0;
  for (unsigned selector = 0; selector < 256; selector += 9) {
    for (const Shape &s : shapes) {
      for (const bool compressed : {false, true}) {
        if ((n++ % 3) != 0) continue;  // a spread, not every combination
        cups_page_header2_t h = dwtest::MakeHeader(s.width, s.height, s.bits, s.dpi);
        std::vector<dwtest::RasterPage> pages = {{h, Pattern(h, s.height)}};
        if (s.height > 5) pages.push_back({h, Pattern(h, s.height / 2)});  // cut short
        std::string stream(1, static_cast<char>(selector));
        stream += dwtest::WriteRaster(pages, compressed);
        std::ofstream(dir + "/seed-" + std::to_string(n), std::ios::binary) << stream;
        ++written;
      }
    }
  }
  std::printf("wrote %d seeds to %s\n", written, dir.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  for (int i = 1; i < *argc; ++i) {
    const std::string arg = (*argv)[i];
    if (arg.rfind("--write-seeds=", 0) == 0) {
      WriteSeeds(arg.substr(std::strlen("--write-seeds=")));
      std::exit(0);
    }
  }
  WriteFixtures();
  gRasterFd = memfd_create("raster", 0);
  if (gRasterFd < 0) std::abort();
  gRasterPath = "/proc/self/fd/" + std::to_string(gRasterFd);
  // The filter's printer output is not looked at; only its safety is.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0) return 0;
  const unsigned selector = data[0];
  const std::size_t familyIndex = selector & 7u;
  const unsigned optionSet = selector >> 3;
  const Family &family = kFamilies[familyIndex];

  if (ftruncate(gRasterFd, 0) != 0) std::abort();
  const std::size_t rest = size - 1;
  if (rest != 0 && pwrite(gRasterFd, data + 1, rest, 0) != static_cast<ssize_t>(rest)) std::abort();

  setenv("PPD", gPpdPaths[familyIndex].c_str(), 1);
  if (family.oem) {
    const char *uri = family.needle ? "serial:/dev/cu.MB739-A" : kThermalUris[optionSet & 3u];
    setenv("DEVICE_URI", uri, 1);
    setenv("PRINTER", family.needle ? "MB739-A" : "KV412-A", 1);
  } else {
    unsetenv("DEVICE_URI");
    unsetenv("PRINTER");
  }

  std::string options = JobOptions(optionSet, family.oem ? kOemOptions : kLabelOptions);
  std::string args[] = {"dotweave", "1", "fuzz", "title", "1", options, gRasterPath};
  char *argv[8];
  for (std::size_t i = 0; i < 7; ++i) argv[i] = args[i].data();
  argv[7] = nullptr;

  dwtest::ResetFilterState();
  FilterMain(7, argv);
  std::fflush(stdout);
  return 0;
}
