// The printers' web pages in the printer's words: the vendor settings of a
// ZPL, a thermal and a needle printer appear with readable labels and
// choice names, never as raw attribute names.
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
      {"zpl", "dotweave-zpl", {"Error reprint:", "Thermal media type:", "Cut media:", "Printer setting", "Direct thermal"}},
      {"thermal", "kv412-a", {"Gray threshold:", "Rotation:", "Horizontal offset:"}},
      {"needle", "lc586-a", {"Print direction:", "Tear-off position:", "Fixed page length:"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.printer);
    ASSERT_TRUE(server.AddPrinter(c.printer, c.driver));
    const auto [status, html] = server.HttpGet("/" + c.printer + "/printing");
    ASSERT_EQ(status, 200);
    for (const std::string &text : c.shown) EXPECT_NE(html.find(text), std::string::npos) << text;
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

}  // namespace
