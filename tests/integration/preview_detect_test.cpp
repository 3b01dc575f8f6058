// The preview tool's language detection on what the filter really writes:
// a one-page job of every family, through the built filter, is recognised as
// its own language and decodes without problems.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "decode/decode.h"
#include "support/harness.h"

using namespace dwtest;
using dwdecode::Language;

namespace {

struct FamilyCase {
  const char *what;
  int modelNumber;
  unsigned bitsPerPixel;
  Language language;
  std::string printer;  // queue name the OEM engine recognises
};

RasterPage DiagonalPage(unsigned bitsPerPixel) {
  cups_page_header2_t h = MakeHeader(64, 40, bitsPerPixel);
  RasterPage page = UniformPage(h, bitsPerPixel == 1 ? 0x00 : 0xFF);  // white
  for (unsigned y = 0; y < 40; ++y) {
    if (bitsPerPixel == 1) {
      page.data[y * h.cupsBytesPerLine + y / 8] |= static_cast<unsigned char>(0x80 >> (y % 8));
    } else {
      for (unsigned c = 0; c < 3; ++c) page.data[y * h.cupsBytesPerLine + 3 * y + c] = 0x00;
    }
  }
  return page;
}

TEST(PreviewDetect, EveryFamilyIsRecognisedFromTheFiltersOwnOutput) {
  std::vector<FamilyCase> cases = {
      {"dymo", 0x00, 1, Language::Dymo, ""},
      {"epl line", 0x10, 1, Language::EplLine, ""},
      {"epl page", 0x11, 1, Language::EplPage, ""},
      {"zpl", 0x12, 1, Language::Zpl, ""},
      {"pcl", 0x20, 1, Language::Pcl, ""},
  };
#ifndef DOTWEAVE_USB_SERIAL_ONLY
  // Recognised by the model name in the queue name (not in this build variant).
  cases.push_back({"oem thermal", 0x13, 24, Language::OemThermal, "KV412 A"});
  cases.push_back({"oem needle", 0x13, 24, Language::OemNeedle, "LC586 A"});
#endif
  TempDir dir;
  for (const FamilyCase &c : cases) {
    SCOPED_TRACE(c.what);
    FilterRun run;
    run.env["PPD"] = dir.Write(std::string(c.what) + ".ppd", MakePpd(c.modelNumber));
    if (!c.printer.empty()) {
      run.env["PRINTER"] = c.printer;
      run.env["DEVICE_URI"] = "serial:/dev/ttyUSB0?baud=115200";
    }
    run.input = WriteRaster({DiagonalPage(c.bitsPerPixel)});
    FilterResult r = RunFilter(run);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    ASSERT_FALSE(r.out.empty());
    EXPECT_EQ(dwdecode::DetectLanguage(r.out), std::optional(c.language));
    dwdecode::DecodeResult d = dwdecode::Decode(c.language, r.out);
    EXPECT_TRUE(d.problems.empty()) << d.problems.front().offset << ": " << d.problems.front().what;
    EXPECT_EQ(d.pages.size(), 1u);
  }
}

}  // namespace
