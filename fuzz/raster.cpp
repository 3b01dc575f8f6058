// Fuzz target over the whole filter: one job per input, run in process.
//
// Input layout: the first byte picks the printer family (low three bits) and
// one of 32 job option sets (high five bits); the rest is the CUPS raster
// stream, handed to the filter as its raster file. The PPD files and the
// raster file live in memory files, so that a run leaves nothing behind.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "dotweave/filter.h"
#include "entries.h"
#include "support/harness.h"

namespace {

using dwfuzz::RasterFamily;

struct Family {
  int modelNumber;
  bool oem;
  bool needle;
};

// Indexed by RasterFamily.
constexpr Family kFamilies[dwfuzz::kRasterFamilies] = {
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

// The receipt and TSPL options, with choices out of their ranges.
const std::vector<dwtest::PpdOption> kReceiptLabelOptions = {
    {"escDensity", "Default", {"Default", "70", "100", "140", "75", "65", "145", "word"}},
    {"escSpeed", "Default", {"Default", "1", "9", "0", "10", "x"}},
    {"escCutMode", "Partial", {"None", "Partial", "Full", "Other"}},
    {"escCutAt", "Job", {"Job", "Page", "Other"}},
    {"escTrim", "On", {"On", "Off"}},
    {"escMinLength", "0", {"0", "10", "100", "1000", "1001", "-5", "x"}},
    {"escDrawerPin", "Off", {"Off", "Pin2", "Pin5", "Pin9"}},
    {"escDrawerWhen", "Before", {"Before", "After"}},
    {"tsSpeed", "Default", {"Default", "2", "6", "0", "13"}},
    {"tsMediaTracking", "Web", {"Default", "Web", "Mark", "Continuous"}},
    {"tsGapSize", "3", {"2", "3", "0", "101", "x"}},
    {"tsDirection", "0", {"0", "1", "2"}},
    {"tsLabelMode", "Saved", {"Saved", "Tear", "Peel"}},
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

// A memory file holding `contents`, named by its /proc path.
std::string MemoryFile(const std::string &contents, int *fdOut = nullptr) {
  const int fd = memfd_create("dotweave-fuzz", 0);
  if (fd < 0) std::abort();
  if (!contents.empty() &&
      pwrite(fd, contents.data(), contents.size(), 0) != static_cast<ssize_t>(contents.size()))
    std::abort();
  if (fdOut != nullptr) *fdOut = fd;
  return "/proc/self/fd/" + std::to_string(fd);
}

// The family codes of the kOtherFamily slot, by option set modulo 3.
constexpr int kOtherCodes[3] = {5, 0x30, 0x14};

// The head width the receipt and TSPL PPDs name, so that rows are cut to it.
std::string WithHead(std::string ppd, unsigned dots) {
  return ppd.insert(ppd.find('\n') + 1, "*dotweaveHeadDots: \"" + std::to_string(dots) + "\"\n");
}

struct Fixtures {
  std::string ppdPaths[dwfuzz::kRasterFamilies];
  std::string otherPpdPaths[3];
  int rasterFd = -1;
  std::string rasterPath;
};

const Fixtures &TheFixtures() {
  static const Fixtures fixtures = [] {
    Fixtures f;
    for (unsigned i = 0; i < dwfuzz::kRasterFamilies; ++i)
      f.ppdPaths[i] = MemoryFile(
          dwtest::MakePpd(kFamilies[i].modelNumber, kFamilies[i].oem ? kOemOptions : kLabelOptions));
    for (unsigned i = 0; i < 3; ++i)
      f.otherPpdPaths[i] = MemoryFile(WithHead(dwtest::MakePpd(kOtherCodes[i], kReceiptLabelOptions), 576));
    f.rasterPath = MemoryFile("", &f.rasterFd);
    return f;
  }();
  return fixtures;
}

void SetPrinterEnvironment(const Family &family, unsigned optionSet) {
  if (family.oem) {
    const char *uri = family.needle ? "serial:/dev/cu.MB739-A" : kThermalUris[optionSet & 3u];
    setenv("DEVICE_URI", uri, 1);
    setenv("PRINTER", family.needle ? "MB739-A" : "KV412-A", 1);
  } else {
    unsetenv("DEVICE_URI");
    unsetenv("PRINTER");
  }
}

}  // namespace

int FuzzRaster(const std::uint8_t *data, std::size_t size) {
  if (size == 0) return 0;
  const Fixtures &fixtures = TheFixtures();
  const unsigned selector = data[0];
  const unsigned familyIndex = selector & 7u;
  unsigned optionSet = selector >> 3;
  const Family &family = kFamilies[familyIndex];
  std::string ppdPath = fixtures.ppdPaths[familyIndex];
  const std::vector<dwtest::PpdOption> *optionList = family.oem ? &kOemOptions : &kLabelOptions;
  if (familyIndex == dwfuzz::kOtherFamily) {
    ppdPath = fixtures.otherPpdPaths[optionSet % 3];
    optionList = &kReceiptLabelOptions;
    optionSet /= 3;
  }

  if (ftruncate(fixtures.rasterFd, 0) != 0) std::abort();
  const std::size_t rest = size - 1;
  if (rest != 0 && pwrite(fixtures.rasterFd, data + 1, rest, 0) != static_cast<ssize_t>(rest))
    std::abort();

  setenv("PPD", ppdPath.c_str(), 1);
  SetPrinterEnvironment(family, optionSet);

  std::string options = JobOptions(optionSet, *optionList);
  std::string args[] = {"dotweave", "1", "fuzz", "title", "1", options, fixtures.rasterPath};
  char *argv[8];
  for (std::size_t i = 0; i < 7; ++i) argv[i] = args[i].data();
  argv[7] = nullptr;

  dwtest::ResetFilterState();
  FilterMain(7, argv);
  std::fflush(stdout);
  return 0;
}

namespace dwfuzz {

std::string RasterJobOutput(const std::string &input) {
  return dwtest::CaptureStdout([&] {
    FuzzRaster(reinterpret_cast<const std::uint8_t *>(input.data()), input.size());
  });
}

}  // namespace dwfuzz
