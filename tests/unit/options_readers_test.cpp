// The OEM option readers: keywords, printer gating, ranges, defaults,
// replacement values and the thermal speed tables.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "oem/oem.h"
#include "support/harness.h"

namespace {

using namespace dwtest;

// What a reader left in PrintPa, widened to one type.
struct Field {
  const char *name;
  std::int32_t (*get)();
  void (*set)(std::int32_t);
};

#define DW_FIELD(f)                                                      \
  Field {                                                                \
    #f, [] { return static_cast<std::int32_t>(PrintPa.f); },             \
        [](std::int32_t v) { PrintPa.f = static_cast<decltype(PrintPa.f)>(v); } \
  }

const Field kImagePrint = DW_FIELD(ImagePrint);
const Field kGrayLevel = DW_FIELD(GrayLevel);
const Field kDensity = DW_FIELD(Density);
const Field kSpeed = DW_FIELD(Speed);
const Field kRotation = DW_FIELD(Rotation);
const Field kPaperType = DW_FIELD(PaperType);
const Field kHorizontal = DW_FIELD(HorizontalAdj);
const Field kVertical = DW_FIELD(VerticalAdj);
const Field kUnidirectional = DW_FIELD(Unidirectional);
const Field kStart = DW_FIELD(StartPosition);
const Field kCut = DW_FIELD(CutPosition);
const Field kFixHeight = DW_FIELD(FixPageHeight);

// Every field holds this before the reader runs; a reader that must not
// touch the field leaves it there.
constexpr std::int32_t kKept = 77;

constexpr std::int32_t kNeedle = 1440;

struct ReaderCase {
  void (*reader)(ppd_file_t *);
  const char *keyword;
  std::optional<std::string> choice;  // nullopt: the PPD has no such option
  std::int32_t headWidth;             // 1440 is a needle printer
  Field field;
  std::int32_t expected;
};

std::string Describe(const ReaderCase &c) {
  return std::string(c.keyword) + "=" + (c.choice ? *c.choice : "<missing>") + " head " +
         std::to_string(c.headWidth) + " -> " + c.field.name;
}

PpdPtr PpdWith(const char *keyword, const std::optional<std::string> &choice) {
  std::vector<PpdOption> options;
  if (choice) options.push_back({keyword, *choice, {*choice}});
  return OpenPpd(MakePpd(0x13, options));
}

void IdentifyAs(std::int32_t headWidth) {
  PrintPa.Identified = 1;
  PrintPa.IsNeedle = headWidth == kNeedle ? 1 : 0;
  PrintPa.HeadWidth = headWidth;
}

const std::vector<ReaderCase> &Cases() {
  static const std::vector<ReaderCase> cases = {
      // ImagePrint: 0 or 1, everything else 0.
      {OEMSaveImagePrint, "ImagePrint", "1", 832, kImagePrint, 1},
      {OEMSaveImagePrint, "ImagePrint", "0", 832, kImagePrint, 0},
      {OEMSaveImagePrint, "ImagePrint", "2", 832, kImagePrint, 0},
      {OEMSaveImagePrint, "ImagePrint", std::nullopt, 832, kImagePrint, 0},
      {OEMSaveImagePrint, "ImagePrint", "Photo", 832, kImagePrint, 0},
      {OEMSaveImagePrint, "ImagePrint", "1", kNeedle, kImagePrint, 1},
      // GrayADJ: no lower bound, kept modulo 256; above 255 gives 50.
      {OEMSaveGrayLevel, "GrayADJ", "256", 832, kGrayLevel, 50},
      {OEMSaveGrayLevel, "GrayADJ", "255", 832, kGrayLevel, 255},
      {OEMSaveGrayLevel, "GrayADJ", "-1", 832, kGrayLevel, 255},
      {OEMSaveGrayLevel, "GrayADJ", "-300", 832, kGrayLevel, 212},
      {OEMSaveGrayLevel, "GrayADJ", "0", kNeedle, kGrayLevel, 0},
      {OEMSaveGrayLevel, "GrayADJ", std::nullopt, 832, kGrayLevel, 50},
      {OEMSaveGrayLevel, "GrayADJ", "Light", 832, kGrayLevel, 0},
      // A number beyond 32 bits is refused, not wrapped to 90.
      {OEMSaveGrayLevel, "GrayADJ", "4294967386", 832, kGrayLevel, 50},
      // Density: thermal 50..100 (else 75), needle 1..3 (else 1).
      {OEMSaveDensity, "Density", "120", 832, kDensity, 75},
      {OEMSaveDensity, "Density", "50", 832, kDensity, 50},
      {OEMSaveDensity, "Density", "100", 384, kDensity, 100},
      {OEMSaveDensity, "Density", "49", 832, kDensity, 75},
      {OEMSaveDensity, "Density", std::nullopt, 832, kDensity, 75},
      {OEMSaveDensity, "Density", "Dark", 832, kDensity, 75},
      {OEMSaveDensity, "Density", "4294967386", 832, kDensity, 75},
      {OEMSaveDensity, "Density", "0", kNeedle, kDensity, 1},
      {OEMSaveDensity, "Density", "3", kNeedle, kDensity, 3},
      {OEMSaveDensity, "Density", "4", kNeedle, kDensity, 1},
      {OEMSaveDensity, "Density", std::nullopt, kNeedle, kDensity, 1},
      // Speed, thermal: index into the head's table; a bad index keeps it.
      {OEMSaveSpeed, "Speed", "2", 832, kSpeed, 1200},
      {OEMSaveSpeed, "Speed", "4", 832, kSpeed, kKept},
      {OEMSaveSpeed, "Speed", "-1", 832, kSpeed, kKept},
      {OEMSaveSpeed, "Speed", std::nullopt, 832, kSpeed, 900},
      {OEMSaveSpeed, "Speed", "Fast", 832, kSpeed, 825},
      {OEMSaveSpeed, "Speed", "3", 832, kSpeed, 1500},
      {OEMSaveSpeed, "Speed", "0", 384, kSpeed, 2500},
      {OEMSaveSpeed, "Speed", "3", 384, kSpeed, 4500},
      {OEMSaveSpeed, "Speed", std::nullopt, 384, kSpeed, 3100},
      {OEMSaveSpeed, "Speed", std::nullopt, 576, kSpeed, 825},
      {OEMSaveSpeed, "Speed", "3", 640, kSpeed, 1200},
      {OEMSaveSpeed, "Speed", "0", 448, kSpeed, 725},
      {OEMSaveSpeed, "Speed", "2", 620, kSpeed, 1000},
      {OEMSaveSpeed, "Speed", "1", 1000, kSpeed, kKept},  // a head without a table
      // Speed, needle: exactly 1 gives 1, anything else 0.
      {OEMSaveSpeed, "Speed", "2", kNeedle, kSpeed, 0},
      {OEMSaveSpeed, "Speed", "1", kNeedle, kSpeed, 1},
      {OEMSaveSpeed, "Speed", std::nullopt, kNeedle, kSpeed, 0},
      // Rotation: the four right angles, else 0.
      {OEMSaveRotation, "Rotation", "45", 832, kRotation, 0},
      {OEMSaveRotation, "Rotation", "270", 832, kRotation, 270},
      {OEMSaveRotation, "Rotation", "180", 832, kRotation, 180},
      {OEMSaveRotation, "Rotation", "90", kNeedle, kRotation, 90},
      {OEMSaveRotation, "Rotation", "-90", 832, kRotation, 0},
      {OEMSaveRotation, "Rotation", std::nullopt, 832, kRotation, 0},
      // PaperType: thermal only, 0..2.
      {OEMSavePaperType, "PaperType", "2", 832, kPaperType, 2},
      {OEMSavePaperType, "PaperType", "3", 832, kPaperType, 0},
      {OEMSavePaperType, "PaperType", std::nullopt, 832, kPaperType, 0},
      {OEMSavePaperType, "PaperType", "2", kNeedle, kPaperType, kKept},
      // Horizontal and vertical adjustment: -20..20, all printers.
      {OEMSaveHorizentalADJ, "HorizentalADJ", "-20", 832, kHorizontal, -20},
      {OEMSaveHorizentalADJ, "HorizentalADJ", "-21", 832, kHorizontal, 0},
      {OEMSaveHorizentalADJ, "HorizentalADJ", "20", kNeedle, kHorizontal, 20},
      {OEMSaveHorizentalADJ, "HorizentalADJ", "21", kNeedle, kHorizontal, 0},
      {OEMSaveHorizentalADJ, "HorizentalADJ", std::nullopt, 832, kHorizontal, 0},
      {OEMSaveVerticalADJ, "VerticalADJ", "-20", 832, kVertical, -20},
      {OEMSaveVerticalADJ, "VerticalADJ", "21", kNeedle, kVertical, 0},
      {OEMSaveVerticalADJ, "VerticalADJ", "7", kNeedle, kVertical, 7},
      {OEMSaveVerticalADJ, "VerticalADJ", std::nullopt, 832, kVertical, 0},
      // Unidirectional: needle only; missing gives 1 but a bad choice 0.
      {OEMSaveUnidirectional, "UnidirectionalPrint", "0", kNeedle, kUnidirectional, 0},
      {OEMSaveUnidirectional, "UnidirectionalPrint", "1", kNeedle, kUnidirectional, 1},
      {OEMSaveUnidirectional, "UnidirectionalPrint", "2", kNeedle, kUnidirectional, 0},
      {OEMSaveUnidirectional, "UnidirectionalPrint", std::nullopt, kNeedle, kUnidirectional, 1},
      {OEMSaveUnidirectional, "UnidirectionalPrint", "On", kNeedle, kUnidirectional, 0},
      {OEMSaveUnidirectional, "UnidirectionalPrint", "0", 832, kUnidirectional, kKept},
      // Start and cut positions: needle only, -120..120.
      {OEMSavePrintStartPosition, "PrintStartPosition", "120", kNeedle, kStart, 120},
      {OEMSavePrintStartPosition, "PrintStartPosition", "121", kNeedle, kStart, 0},
      {OEMSavePrintStartPosition, "PrintStartPosition", "-120", kNeedle, kStart, -120},
      {OEMSavePrintStartPosition, "PrintStartPosition", "-121", kNeedle, kStart, 0},
      {OEMSavePrintStartPosition, "PrintStartPosition", std::nullopt, kNeedle, kStart, 0},
      {OEMSavePrintStartPosition, "PrintStartPosition", "10", 832, kStart, kKept},
      {OEMSavePrintCutPosition, "CutPaperPosition", "-120", kNeedle, kCut, -120},
      {OEMSavePrintCutPosition, "CutPaperPosition", "121", kNeedle, kCut, 0},
      {OEMSavePrintCutPosition, "CutPaperPosition", std::nullopt, kNeedle, kCut, 0},
      {OEMSavePrintCutPosition, "CutPaperPosition", "10", 576, kCut, kKept},
      // Fixed page height: needle only, 0..5.
      {OEMSaveFixPageHeight, "FixPageHeight", "5", kNeedle, kFixHeight, 5},
      {OEMSaveFixPageHeight, "FixPageHeight", "6", kNeedle, kFixHeight, 0},
      {OEMSaveFixPageHeight, "FixPageHeight", "-1", kNeedle, kFixHeight, 0},
      {OEMSaveFixPageHeight, "FixPageHeight", std::nullopt, kNeedle, kFixHeight, 0},
      {OEMSaveFixPageHeight, "FixPageHeight", "3", 832, kFixHeight, kKept},
  };
  return cases;
}

class OptionReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetFilterState(); }
  void TearDown() override { ResetFilterState(); }
};

TEST_F(OptionReaderTest, EachReaderAppliesItsRangeDefaultAndGating) {
  for (const ReaderCase &c : Cases()) {
    SCOPED_TRACE(Describe(c));
    ResetFilterState();
    IdentifyAs(c.headWidth);
    c.field.set(kKept);
    PpdPtr ppd = PpdWith(c.keyword, c.choice);
    c.reader(ppd.get());
    EXPECT_EQ(c.field.get(), c.expected);
  }
}

TEST_F(OptionReaderTest, NoReaderChangesAnythingForAnUnidentifiedPrinter) {
  const std::vector<PpdOption> options = {
      {"ImagePrint", "1", {"1"}},         {"GrayADJ", "9", {"9"}},
      {"Density", "2", {"2"}},            {"Speed", "1", {"1"}},
      {"Rotation", "90", {"90"}},         {"PaperType", "1", {"1"}},
      {"HorizentalADJ", "3", {"3"}},      {"VerticalADJ", "4", {"4"}},
      {"UnidirectionalPrint", "0", {"0"}}, {"PrintStartPosition", "5", {"5"}},
      {"CutPaperPosition", "6", {"6"}},   {"FixPageHeight", "2", {"2"}},
  };
  PpdPtr ppd = OpenPpd(MakePpd(0x13, options));
  const Field fields[] = {kImagePrint, kGrayLevel, kDensity,       kSpeed, kRotation, kPaperType,
                          kHorizontal, kVertical,  kUnidirectional, kStart, kCut,      kFixHeight};
  for (std::int32_t head : {832, kNeedle}) {
    ResetFilterState();
    IdentifyAs(head);
    PrintPa.Identified = 0;
    for (const Field &f : fields) f.set(kKept);
    for (auto reader : {OEMSaveImagePrint, OEMSaveGrayLevel, OEMSaveDensity, OEMSaveSpeed, OEMSaveRotation,
                        OEMSavePaperType, OEMSaveHorizentalADJ, OEMSaveVerticalADJ, OEMSaveUnidirectional,
                        OEMSavePrintStartPosition, OEMSavePrintCutPosition, OEMSaveFixPageHeight})
      reader(ppd.get());
    for (const Field &f : fields) EXPECT_EQ(f.get(), kKept) << f.name << " on head " << head;
  }
}

TEST_F(OptionReaderTest, JobOptionsOverrideThePpdDefault) {
  IdentifyAs(832);
  PpdPtr ppd = OpenPpd(MakePpd(0x13, {{"Density", "60", {"60", "90"}}, {"Speed", "0", {"0", "1", "2", "3"}}}),
                       "Density=90 Speed=3");
  OEMSaveDensity(ppd.get());
  OEMSaveSpeed(ppd.get());
  EXPECT_EQ(PrintPa.Density, 90);
  EXPECT_EQ(PrintPa.Speed, 1500);
}

TEST_F(OptionReaderTest, UnidentifiedPageStartKeepsTheEarlierSettings) {
  // No device URI: the printer is not identified, so the readers skip.
  const char *uri = std::getenv("DEVICE_URI");
  const std::string savedUri = uri ? uri : "";
  unsetenv("DEVICE_URI");
  PrintPa.Speed = 1200;
  PrintPa.Density = 90;
  PrintPa.Rotation = 180;
  PrintPa.IsNeedle = 0;
  PrintPa.HeadWidth = 832;
  PpdPtr ppd = OpenPpd(MakePpd(0x13, {{"Density", "60", {"60"}}, {"Rotation", "90", {"90"}}}));
  cups_page_header2_t h = MakeHeader(8, 4);
  OEMStartPage(ppd.get(), &h);
  if (uri) setenv("DEVICE_URI", savedUri.c_str(), 1);
  EXPECT_EQ(PrintPa.Identified, 0);
  EXPECT_EQ(PrintPa.Speed, 1200);
  EXPECT_EQ(PrintPa.Density, 90);
  EXPECT_EQ(PrintPa.Rotation, 180);
}

}  // namespace
