// The IPP settings table of the printer application, in process: standard
// attributes and vendor attributes onto the filter's PPD options.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "app/settings.h"

namespace {

using app::IppSettings;

std::map<std::string, std::string> Options(const std::string &driver, const IppSettings &ipp, std::string *error = nullptr) {
  const catalogue::Printer *p = catalogue::FindPrinter(driver);
  EXPECT_NE(p, nullptr) << driver;
  if (p == nullptr) return {};
  const app::FilterSettings s = app::MapSettings(*p, ipp);
  if (error) *error = s.error;
  return {s.options.begin(), s.options.end()};
}

TEST(AppSettings, DefaultsAreThePpdDefaults) {
  const auto zpl = Options("dotweave-zpl", {});
  EXPECT_EQ(zpl.at("Darkness"), "0");
  EXPECT_EQ(zpl.at("zePrintRate"), "Default");
  EXPECT_EQ(zpl.at("zeMediaTracking"), "Default");
  EXPECT_EQ(zpl.at("zePrintMode"), "Saved");
  const auto kv = Options("kv412-a", {});
  EXPECT_EQ(kv.at("Density"), "75");
  EXPECT_EQ(kv.at("Speed"), "1");
  EXPECT_EQ(kv.at("ImagePrint"), "0");
  EXPECT_EQ(kv.at("PaperType"), "0");
  EXPECT_EQ(Options("lc586-a", {}).at("FixPageHeight"), "0");
}

TEST(AppSettings, DarknessPicksTheNearestLevel) {
  // 11 label levels 0, 10, ..., 100; 11 thermal levels 50 ... 100; Dymo's
  // four levels sit at 0, 33, 67 and 100 %; the needle's three at 0, 50, 100 %.
  struct Case {
    const char *driver, *option;
    int configured, relative;
    const char *expected;
  } cases[] = {
      {"dotweave-zpl", "Darkness", 0, 50, "50"},      {"dotweave-zpl", "Darkness", 40, 34, "70"},
      {"dotweave-zpl", "Darkness", 90, 50, "100"},    {"dotweave-pcl", "Darkness", -1, 0, "50"},
      {"kv412-a", "Density", 50, 0, "75"},            {"kv412-a", "Density", 50, 50, "100"},
      {"kv412-a", "Density", 50, -100, "50"},         {"kv412-a", "Density", 50, 20, "85"},
      {"dotweave-dymo", "Darkness", 0, 30, "1"},       {"dotweave-dymo", "Darkness", 0, 100, "4"},
      {"dotweave-dymo", "Darkness", -1, 0, "2"},       {"lc586-a", "Density", 0, 74, "2"},
      {"lc586-a", "Density", 0, 76, "3"},
      // Values no client should send end at the ends of the range, without
      // the sum wrapping.
      {"dotweave-zpl", "Darkness", 2147483647, 2147483647, "100"},
      {"kv412-a", "Density", 0, -2147483647 - 1, "50"},
  };
  for (const Case &c : cases) {
    IppSettings ipp;
    ipp.darknessConfigured = c.configured;
    ipp.printDarkness = c.relative;
    EXPECT_EQ(Options(c.driver, ipp).at(c.option), c.expected) << c.driver << " " << c.configured << "+" << c.relative;
  }
}

TEST(AppSettings, SpeedsInHundredthsOfAMillimetrePerSecond) {
  IppSettings ipp;
  ipp.printSpeed = 4 * 2540;
  EXPECT_EQ(Options("dotweave-zpl", ipp).at("zePrintRate"), "4");
  EXPECT_EQ(Options("kv412-a", ipp).at("Speed"), "3");  // level 3 is 4 inches per second
  ipp.printSpeed = 7 * 2540;                            // between 6 and 8
  EXPECT_EQ(Options("dotweave-zpl", ipp).at("zePrintRate"), "6");
  EXPECT_EQ(Options("dotweave-epl-line", ipp).at("zePrintRate"), "6");  // its fastest
  ipp.printSpeed = 1;
  EXPECT_EQ(Options("lc586-a", ipp).at("Speed"), "0");
  ipp.printSpeed = 2147483647;  // the fastest, without the distance wrapping
  EXPECT_EQ(Options("dotweave-zpl", ipp).at("zePrintRate"), "12");
}

TEST(AppSettings, StandardKeywordsMapOntoChoices) {
  IppSettings ipp;
  ipp.photo = true;
  ipp.mediaType = "black-mark";
  EXPECT_EQ(Options("kv412-a", ipp).at("ImagePrint"), "1");
  EXPECT_EQ(Options("kv412-a", ipp).at("PaperType"), "2");
  IppSettings label;
  label.mediaTracking = "gap";
  label.labelMode = "peel-off";
  EXPECT_EQ(Options("dotweave-zpl", label).at("zeMediaTracking"), "Web");
  EXPECT_EQ(Options("dotweave-zpl", label).at("zePrintMode"), "Peel");
  EXPECT_EQ(Options("dotweave-pcl", label).at("inPrintMode"), "Peel");
}

TEST(AppSettings, VendorValuesOnlyFromTheSupportedOnes) {
  IppSettings ipp;
  ipp.vendor = {{"page-rotation", "270"}, {"horizontal-adjust", "-20"}, {"gray-threshold", "128"}};
  const auto kv = Options("kv412-a", ipp);
  EXPECT_EQ(kv.at("Rotation"), "270");
  EXPECT_EQ(kv.at("HorizentalADJ"), "-20");
  EXPECT_EQ(kv.at("GrayADJ"), "128");
  IppSettings zpl;
  zpl.vendor = {{"error-reprint", "always"}, {"thermal-media-type", "direct"}, {"cut-media", "4"}};
  const auto z = Options("dotweave-zpl", zpl);
  EXPECT_EQ(z.at("zeErrorReprint"), "Always");
  EXPECT_EQ(z.at("MediaType"), "Direct");
  EXPECT_EQ(z.at("CutMedia"), "4");

  for (const auto &[name, value] : std::vector<std::pair<std::string, std::string>>{
           {"page-rotation", "45"}, {"horizontal-adjust", "21"}, {"gray-threshold", "darker"}, {"page-rotation", ""}}) {
    IppSettings bad;
    bad.vendor = {{name, value}};
    std::string error;
    EXPECT_TRUE(Options("kv412-a", bad, &error).empty());
    EXPECT_NE(error.find(name), std::string::npos) << error;
  }
  IppSettings media;
  media.mediaType = "photographic";
  std::string error;
  Options("kv412-a", media, &error);
  EXPECT_NE(error.find("media-type"), std::string::npos);
}

TEST(AppSettings, FilterArgument) {
  EXPECT_EQ(app::FilterOptionArgument({{"Density", "90"}, {"Rotation", "180"}}), "Density=90 Rotation=180");
  EXPECT_EQ(app::FilterOptionArgument({}), "");
}

}  // namespace
