// The generated PPD files: one per model of the model table and one per label
// family, each naming the filter, giving the raster format its family needs,
// page sizes that fit the print head, and every option its family reads with
// choices the readers accept and the readers' own defaults.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "oem/oem.h"
#include "support/harness.h"

using namespace dwtest;

namespace {

const std::string kPpdDir = std::string(DOTWEAVE_BUILD_DIR) + "/ppd";

PpdPtr OpenPpdFile(const std::string &path) {
  PpdPtr ppd(ppdOpenFile(path.c_str()));
  if (ppd) ppdMarkDefaults(ppd.get());
  return ppd;
}

std::vector<std::string> PpdFiles() {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto &e : std::filesystem::directory_iterator(kPpdDir, ec))
    if (e.path().extension() == ".ppd") out.push_back(e.path().string());
  return out;
}

std::optional<long> Number(const char *text) {
  errno = 0;
  char *end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0') return std::nullopt;
  return v;
}

// Accepted values and default of one OEM option reader, as the readers
// document them.
struct Accepts {
  long low, high;
  std::string defaultChoice;
  std::set<long> only = {};  // when not empty: exactly these values
};

const std::map<std::string, Accepts> kThermalOptions = {
    {"ImagePrint", {0, 1, "0"}},       {"GrayADJ", {-255, 255, "50"}},
    {"Density", {50, 100, "75"}},      {"Speed", {0, 3, "1"}},
    {"Rotation", {0, 270, "0", {0, 90, 180, 270}}},
    {"PaperType", {0, 2, "0"}},        {"HorizentalADJ", {-20, 20, "0"}},
    {"VerticalADJ", {-20, 20, "0"}},
};

const std::map<std::string, Accepts> kNeedleOptions = {
    {"ImagePrint", {0, 1, "0"}},
    {"GrayADJ", {-255, 255, "50"}},
    {"Density", {1, 3, "1"}},
    {"Speed", {0, 1, "0"}},
    {"Rotation", {0, 270, "0", {0, 90, 180, 270}}},
    {"HorizentalADJ", {-20, 20, "0"}},
    {"VerticalADJ", {-20, 20, "0"}},
    {"UnidirectionalPrint", {0, 1, "1"}},
    {"PrintStartPosition", {-120, 120, "0"}},
    {"CutPaperPosition", {-120, 120, "0"}},
    {"FixPageHeight", {0, 5, "0"}},
};

const char *const kAllOemKeywords[] = {
    "ImagePrint", "GrayADJ",     "Density",           "Speed",
    "Rotation",   "PaperType",   "HorizentalADJ",     "VerticalADJ",
    "UnidirectionalPrint", "PrintStartPosition", "CutPaperPosition", "FixPageHeight"};

cups_page_header2_t Interpret(ppd_file_t *ppd) {
  cups_page_header2_t h;
  std::memset(&h, 0, sizeof h);
  EXPECT_EQ(cupsRasterInterpretPPD(&h, ppd, 0, nullptr, nullptr), 0) << ppd->nickname;
  return h;
}

const OEMModel *ModelOf(ppd_file_t *ppd) {
  for (const OEMModel &m : PIDDatabase)
    if (ppd->modelname && std::string(ppd->modelname) == std::string("OEM ") + m.ModelName)
      return &m;
  return nullptr;
}

TEST(PpdFiles, OnePerModelAndOnePerLabelFamily) {
  std::vector<std::string> files = PpdFiles();
  ASSERT_EQ(files.size(), kModelCount + 5 + 9) << kPpdDir;  // and 5 receipt and 4 TSPL printers
  std::multiset<std::string> models;
  std::multiset<int> labelFamilies;
  for (const std::string &f : files) {
    PpdPtr ppd = OpenPpdFile(f);
    ASSERT_TRUE(ppd) << f;
    ASSERT_EQ(ppd->num_filters, 1) << f;
    EXPECT_STREQ(ppd->filters[0], "application/vnd.cups-raster 0 dotweave") << f;
    const ppd_attr_t *named = ppdFindAttr(ppd.get(), "dotweaveModel", nullptr);
    if (const OEMModel *m = ModelOf(ppd.get())) {
      EXPECT_EQ(ppd->model_number, 0x13) << f;
      models.insert(m->ModelName);
      ASSERT_NE(named, nullptr) << f;  // the filter's fallback when nothing else identifies it
      EXPECT_STREQ(named->value, m->ModelName) << f;
    } else {
      labelFamilies.insert(ppd->model_number);
      EXPECT_EQ(named, nullptr) << f;
    }
  }
  EXPECT_EQ(models.size(), kModelCount);
  EXPECT_EQ(std::set<std::string>(models.begin(), models.end()).size(), kModelCount);
  EXPECT_EQ(labelFamilies, (std::multiset<int>{0x00, 0x10, 0x11, 0x12, 0x20, 0x14, 0x14, 0x14, 0x14, 0x30, 0x30, 0x30,
                                                0x30, 0x30}));
}

// The receipt and TSPL printers name their head, get 1-bit black raster, and
// every receipt size fits the head (the rows are not cut); 8.3 file names
// stay distinct across all PPD files.
TEST(PpdFiles, ReceiptAndTsplPrintersNameTheirHeadAndGetOneBitRaster) {
  std::set<std::string> pcFileNames;
  for (const std::string &f : PpdFiles()) {
    PpdPtr ppd = OpenPpdFile(f);
    ASSERT_TRUE(ppd) << f;
    EXPECT_TRUE(pcFileNames.insert(ppd->pcfilename).second) << f << " " << ppd->pcfilename;
    if (ppd->model_number != 0x14 && ppd->model_number != 0x30) continue;
    const ppd_attr_t *head = ppdFindAttr(ppd.get(), "dotweaveHeadDots", nullptr);
    ASSERT_NE(head, nullptr) << f;
    const unsigned headDots = static_cast<unsigned>(std::stoul(head->value));
    EXPECT_TRUE(headDots == 360 || headDots == 384 || headDots == 448 || headDots == 512 || headDots == 576 ||
                headDots == 672 || headDots == 832 || headDots == 1248)
        << f << " " << headDots;
    ppd_option_t *sizes = ppdFindOption(ppd.get(), "PageSize");
    ASSERT_TRUE(sizes) << f;
    for (int i = 0; i < sizes->num_choices; ++i) {
      if (std::string(sizes->choices[i].choice) == "Custom") continue;
      ppdMarkOption(ppd.get(), "PageSize", sizes->choices[i].choice);
      const cups_page_header2_t h = Interpret(ppd.get());
      SCOPED_TRACE(f + " " + sizes->choices[i].choice);
      EXPECT_EQ(h.cupsBitsPerPixel, 1u);
      EXPECT_EQ(h.cupsColorSpace, CUPS_CSPACE_K);
      if (ppd->model_number == 0x30) EXPECT_LE(h.cupsWidth, headDots);
    }
  }
}

TEST(PpdFiles, OemModelsGetRgbRasterAtTheirHeadResolutionInSizesThatFitTheHead) {
  for (const std::string &f : PpdFiles()) {
    PpdPtr ppd = OpenPpdFile(f);
    ASSERT_TRUE(ppd) << f;
    const OEMModel *m = ModelOf(ppd.get());
    if (!m) continue;
    const bool needle = m->HeadWidth == 1440;
    const unsigned dpi = needle ? 180 : 203;
    ppd_option_t *sizes = ppdFindOption(ppd.get(), "PageSize");
    ASSERT_TRUE(sizes) << f;
    for (int i = 0; i < sizes->num_choices; ++i) {
      if (std::string(sizes->choices[i].choice) == "Custom") continue;
      ppdMarkOption(ppd.get(), "PageSize", sizes->choices[i].choice);
      cups_page_header2_t h = Interpret(ppd.get());
      SCOPED_TRACE(f + " " + sizes->choices[i].choice);
      EXPECT_EQ(h.cupsColorSpace, CUPS_CSPACE_RGB);
      EXPECT_EQ(h.cupsBitsPerColor, 8u);
      EXPECT_EQ(h.cupsBitsPerPixel, 24u);
      EXPECT_EQ(h.cupsBytesPerLine, 3 * h.cupsWidth);
      EXPECT_EQ(h.HWResolution[0], dpi);
      EXPECT_EQ(h.HWResolution[1], dpi);
      if (!needle) {
        EXPECT_LE(h.cupsWidth, static_cast<unsigned>(m->HeadWidth));
        EXPECT_GE(h.cupsWidth, static_cast<unsigned>(m->HeadWidth) / 2);
      }
    }
    if (needle) {
      // The default form is exactly the needle head's 8 inch line.
      ppdMarkDefaults(ppd.get());
      EXPECT_EQ(Interpret(ppd.get()).cupsWidth, 1440u) << f;
    }
  }
}

TEST(PpdFiles, OemOptionsOfferWhatTheReadersAcceptWithTheirDefaults) {
  for (const std::string &f : PpdFiles()) {
    PpdPtr ppd = OpenPpdFile(f);
    ASSERT_TRUE(ppd) << f;
    const OEMModel *m = ModelOf(ppd.get());
    if (!m) continue;
    const auto &expected = m->HeadWidth == 1440 ? kNeedleOptions : kThermalOptions;
    for (const char *keyword : kAllOemKeywords) {
      SCOPED_TRACE(f + " " + keyword);
      ppd_option_t *o = ppdFindOption(ppd.get(), keyword);
      auto want = expected.find(keyword);
      if (want == expected.end()) {
        EXPECT_EQ(o, nullptr) << "an option this kind of printer does not read";
        continue;
      }
      ASSERT_NE(o, nullptr);
      EXPECT_STREQ(o->defchoice, want->second.defaultChoice.c_str());
      EXPECT_GT(o->num_choices, 1);
      for (int i = 0; i < o->num_choices; ++i) {
        std::optional<long> v = Number(o->choices[i].choice);
        ASSERT_TRUE(v) << o->choices[i].choice;
        EXPECT_GE(*v, want->second.low);
        EXPECT_LE(*v, want->second.high);
        if (!want->second.only.empty()) EXPECT_TRUE(want->second.only.count(*v)) << *v;
        EXPECT_STRNE(o->choices[i].text, "") << "a display text for every choice";
      }
    }
  }
}

struct Settings {
  std::int32_t speed, density, rotation, hadj, vadj, start, cut, fix, image, gray;
  std::uint8_t paper, uni;
  bool operator==(const Settings &) const = default;
};

Settings ReadSettings(const OEMModel &m, ppd_file_t *ppd) {
  ResetFilterState();
  ApplyModelRow(m);
  OEMSaveImagePrint(ppd);
  OEMSaveGrayLevel(ppd);
  OEMSaveDensity(ppd);
  OEMSaveSpeed(ppd);
  OEMSaveRotation(ppd);
  OEMSavePaperType(ppd);
  OEMSaveHorizentalADJ(ppd);
  OEMSaveVerticalADJ(ppd);
  OEMSaveUnidirectional(ppd);
  OEMSavePrintStartPosition(ppd);
  OEMSavePrintCutPosition(ppd);
  OEMSaveFixPageHeight(ppd);
  Settings s{PrintPa.Speed,      PrintPa.Density,       PrintPa.Rotation,    PrintPa.HorizontalAdj,
             PrintPa.VerticalAdj, PrintPa.StartPosition, PrintPa.CutPosition, PrintPa.FixPageHeight,
             PrintPa.ImagePrint, PrintPa.GrayLevel,     PrintPa.PaperType,   PrintPa.Unidirectional};
  ResetFilterState();
  return s;
}

// A queue set up with the PPD and no job options prints with the settings
// the filter would use if the options were not there at all.
TEST(PpdFiles, OemDefaultsGiveTheSettingsOfAPpdWithoutOptions) {
  PpdPtr bare = OpenPpd(MakePpd(0x13));
  for (const std::string &f : PpdFiles()) {
    PpdPtr ppd = OpenPpdFile(f);
    ASSERT_TRUE(ppd) << f;
    const OEMModel *m = ModelOf(ppd.get());
    if (!m) continue;
    EXPECT_TRUE(ReadSettings(*m, ppd.get()) == ReadSettings(*m, bare.get())) << f;
  }
}

ppd_file_t *FamilyPpd(std::vector<PpdPtr> &keep, int family) {
  for (const std::string &f : PpdFiles()) {
    PpdPtr ppd = OpenPpdFile(f);
    if (ppd && !ModelOf(ppd.get()) && ppd->model_number == family) {
      keep.push_back(std::move(ppd));
      return keep.back().get();
    }
  }
  return nullptr;
}

std::set<std::string> Choices(ppd_file_t *ppd, const char *keyword) {
  std::set<std::string> out;
  if (ppd_option_t *o = ppdFindOption(ppd, keyword))
    for (int i = 0; i < o->num_choices; ++i) out.insert(o->choices[i].choice);
  return out;
}

std::string Default(ppd_file_t *ppd, const char *keyword) {
  ppd_option_t *o = ppdFindOption(ppd, keyword);
  return o ? o->defchoice : "(none)";
}

TEST(PpdFiles, LabelFamiliesGetOneBitBlackRasterAndTheOptionsTheyRead) {
  std::vector<PpdPtr> keep;
  for (int family : {0x00, 0x10, 0x11, 0x12, 0x20}) {
    ppd_file_t *ppd = FamilyPpd(keep, family);
    ASSERT_TRUE(ppd) << family;
    cups_page_header2_t h = Interpret(ppd);
    EXPECT_EQ(h.cupsColorSpace, CUPS_CSPACE_K) << family;
    EXPECT_EQ(h.cupsBitsPerPixel, 1u) << family;
  }

  ppd_file_t *zpl = FamilyPpd(keep, 0x12);
  // Left alone, the printer keeps its own darkness, label top and tear-off.
  cups_page_header2_t h = Interpret(zpl);
  EXPECT_EQ(h.cupsCompression, 0u);
  EXPECT_EQ(h.cupsRowStep, 200u);
  EXPECT_EQ(h.AdvanceDistance, 1000u);
  EXPECT_EQ(Default(zpl, "zePrintRate"), "Default");
  EXPECT_EQ(Default(zpl, "zePrintMode"), "Saved");
  for (const char *c : {"Continuous", "Web", "Mark"}) EXPECT_TRUE(Choices(zpl, "zeMediaTracking").count(c)) << c;
  for (const char *c : {"Tear", "Peel", "Rewind", "Applicator"}) EXPECT_TRUE(Choices(zpl, "zePrintMode").count(c)) << c;
  for (const char *c : {"Always", "Never"}) EXPECT_TRUE(Choices(zpl, "zeErrorReprint").count(c)) << c;
  // A tear-off offset in dots goes to AdvanceDistance, negative ones as
  // their two's complement; 0 is the printer's own again.
  for (const auto &[choice, advance] : std::vector<std::pair<const char *, unsigned>>{
           {"-120", static_cast<unsigned>(-120)}, {"15", 15u}, {"120", 120u}, {"0", 1000u}}) {
    ppdMarkOption(zpl, "zeTearOffset", choice);
    EXPECT_EQ(Interpret(zpl).AdvanceDistance, advance) << choice;
  }
  const std::set<std::string> tracking = {"Continuous", "Web", "Mark"}, reprint = {"Always", "Never"};
  EXPECT_FALSE(tracking.count(Default(zpl, "zeMediaTracking")));
  EXPECT_FALSE(reprint.count(Default(zpl, "zeErrorReprint")));

  for (int family : {0x10, 0x11, 0x12}) {
    ppd_file_t *ppd = FamilyPpd(keep, family);
    for (const std::string &c : Choices(ppd, "zePrintRate"))
      if (c != "Default") EXPECT_GE(std::atof(c.c_str()), 1.0) << family << " " << c;
    EXPECT_GT(Choices(ppd, "zePrintRate").size(), 1u) << family;
    // Darkness travels in cupsCompression as a percentage.
    ppd_option_t *darkness = ppdFindOption(ppd, "Darkness");
    ASSERT_TRUE(darkness) << family;
    for (int i = 0; i < darkness->num_choices; ++i) {
      ppdMarkOption(ppd, "Darkness", darkness->choices[i].choice);
      EXPECT_EQ(Interpret(ppd).cupsCompression,
                static_cast<unsigned>(std::atoi(darkness->choices[i].choice)));
      EXPECT_LE(Interpret(ppd).cupsCompression, 100u);
    }
  }

  ppd_file_t *pcl = FamilyPpd(keep, 0x20);
  for (const char *c : {"Standard", "Tear"}) EXPECT_TRUE(Choices(pcl, "inPrintMode").count(c)) << c;
  // The PCL darkness default is the printer's middle setting (adjustment 0).
  EXPECT_EQ(30 * Interpret(pcl).cupsCompression / 100, 15u);
}

}  // namespace
