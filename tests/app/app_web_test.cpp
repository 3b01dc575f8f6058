// The printers' web pages in the printer's words: the vendor settings of a
// ZPL, a thermal and a needle printer appear with readable labels and
// choice names, never as raw attribute names or bare numbers, and none of
// these black-only printers offers colour.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "app/app_server.h"
#include "catalogue/catalogue.h"

using namespace dwtest;

namespace {

// The texts of the page's <th> cells: the settings' labels.
std::vector<std::string> Labels(const std::string &html) {
  std::vector<std::string> out;
  const std::regex th("<th>([^<]*)</th>");
  for (auto it = std::sregex_iterator(html.begin(), html.end(), th); it != std::sregex_iterator(); ++it)
    out.push_back((*it)[1]);
  return out;
}

TEST(AppWeb, VendorSettingsShowReadableLabelsAndChoices) {
  AppServer server;
  ASSERT_TRUE(server.running());
  struct Case {
    std::string printer, driver;
    std::vector<std::string> shown;  // labels and choice names on the page
  };
  const std::vector<Case> cases = {
      {"zpl", "dotweave-zpl",
       {"Error reprint:", "Thermal media type:", "Cut media:", "Printer setting", "Direct thermal",
        "<option value=\"4\">After each label</option>"}},
      {"thermal", "kv412-a",
       {"Gray threshold:", "Rotation:", "Horizontal offset:", "<option value=\"20\">Darker</option>",
        "<option value=\"90\">90 degrees</option>"}},
      {"needle", "lc586-a",
       {"Print direction:", "Tear-off position:", "Fixed page length:",
        "<option value=\"0\">Both directions (faster)</option>", "<option value=\"5\">11 in (full form)</option>",
        "name=\"cut-paper-position\" min=\"-120\" max=\"120\""}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.printer);
    ASSERT_TRUE(server.AddPrinter(c.printer, c.driver));
    const auto [status, html] = server.HttpGet("/" + c.printer + "/printing");
    ASSERT_EQ(status, 200);
    for (const std::string &text : c.shown) EXPECT_NE(html.find(text), std::string::npos) << text;
    EXPECT_EQ(html.find("value=\"color\""), std::string::npos) << "colour offered";
    // Nor in IPP, where raster is taken in black or gray only.
    const std::string modes = "," + server.PrinterAttribute(c.printer, "print-color-mode-supported") + ",";
    EXPECT_NE(modes.find(",monochrome,"), std::string::npos) << modes;
    EXPECT_EQ(modes.find(",color,"), std::string::npos) << modes;
    EXPECT_EQ(server.PrinterAttribute(c.printer, "color-supported"), "false");
    const std::string pwg = server.PrinterAttribute(c.printer, "pwg-raster-document-type-supported");
    EXPECT_TRUE(pwg == "black_1" || pwg == "sgray_8") << pwg;
    EXPECT_EQ(server.PrinterAttribute(c.printer, "urf-supported").find("SRGB"), std::string::npos);
    // No choice shows as its bare number: <option value="N">N</option>.
    const std::regex bare("<option value=\"(-?[0-9]+)\"[^>]*>\\1</option>");
    std::smatch m;
    EXPECT_FALSE(std::regex_search(html, m, bare)) << m.str();
    // No label is a vendor attribute's own name.
    const catalogue::Printer *p = catalogue::FindPrinter(c.driver);
    ASSERT_TRUE(p);
    for (const std::string &label : Labels(html))
      for (const catalogue::Option &o : p->options)
        if (o.mapping == catalogue::IppMapping::Vendor) {
          EXPECT_NE(label, o.ippName + ":");
        }
  }
}

// Each kind of printer shows its own icon at the sizes PAPPL serves: a
// PNG of the right size, different for a label, a receipt and a
// dot-matrix printer (PAPPL's own icon is the same for every printer).
TEST(AppWeb, EachKindOfPrinterHasItsOwnIcon) {
  AppServer server;
  ASSERT_TRUE(server.running());
  const std::vector<std::pair<std::string, std::string>> printers = {
      {"zpl", "dotweave-zpl"}, {"thermal", "kv412-a"}, {"needle", "lc586-a"}};
  std::vector<std::string> medium;
  for (const auto &[name, driver] : printers) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(server.AddPrinter(name, driver));
    for (const auto &[file, side] : std::vector<std::pair<std::string, unsigned>>{
             {"icon-sm.png", 48}, {"icon-md.png", 128}, {"icon-lg.png", 512}}) {
      const auto [status, png] = server.HttpGet("/" + name + "/" + file);
      ASSERT_EQ(status, 200) << file;
      ASSERT_GT(png.size(), 24u) << file;
      EXPECT_EQ(png.compare(0, 8, "\x89PNG\r\n\x1a\n"), 0) << file;
      auto be32 = [&](std::size_t at) {
        return (unsigned{static_cast<unsigned char>(png[at])} << 24) |
               (unsigned{static_cast<unsigned char>(png[at + 1])} << 16) |
               (unsigned{static_cast<unsigned char>(png[at + 2])} << 8) | static_cast<unsigned char>(png[at + 3]);
      };
      EXPECT_EQ(be32(16), side) << file;
      EXPECT_EQ(be32(20), side) << file;
      if (side == 128) medium.push_back(png);
    }
  }
  ASSERT_EQ(medium.size(), 3u);
  EXPECT_NE(medium[0], medium[1]);
  EXPECT_NE(medium[0], medium[2]);
  EXPECT_NE(medium[1], medium[2]);
}

}  // namespace
