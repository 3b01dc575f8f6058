// The raster bridge from PAPPL's pages to the filter's CUPS raster stream: the
// formats each kind of printer takes, the header the filter gets, the line
// conversions, and the pages refused before anything is sent.
#include <gtest/gtest.h>

#include <vector>

#include "app/bridge.h"

namespace {

cups_page_header2_t Page(unsigned width, unsigned height, unsigned bitsPerPixel, cups_cspace_t space) {
  cups_page_header2_t h{};
  h.cupsWidth = width;
  h.cupsHeight = height;
  h.cupsBitsPerPixel = bitsPerPixel;
  h.cupsBitsPerColor = bitsPerPixel == 24 ? 8 : bitsPerPixel;
  h.cupsBytesPerLine = (width * bitsPerPixel + 7) / 8;
  h.cupsColorSpace = space;
  h.HWResolution[0] = h.HWResolution[1] = 203;
  h.PageSize[0] = 288;
  h.PageSize[1] = 432;
  return h;
}

const catalogue::Printer &Driver(const char *name) { return *catalogue::FindPrinter(name); }

TEST(AppBridge, EachKindOfPrinterTakesItsFormats) {
  struct Case {
    const char *driver;
    unsigned bits;
    cups_cspace_t space;
    app::LineFormat format;
  } cases[] = {
      {"dotweave-zpl", 1, CUPS_CSPACE_K, app::LineFormat::Copy},
      {"dotweave-zpl", 8, CUPS_CSPACE_W, app::LineFormat::Unsupported},
      {"dotweave-zpl", 24, CUPS_CSPACE_SRGB, app::LineFormat::Unsupported},
      {"kv412-a", 24, CUPS_CSPACE_SRGB, app::LineFormat::Copy},
      {"kv412-a", 24, CUPS_CSPACE_RGB, app::LineFormat::Copy},
      {"kv412-a", 8, CUPS_CSPACE_SW, app::LineFormat::GrayToRgb},
      {"lc586-a", 8, CUPS_CSPACE_W, app::LineFormat::GrayToRgb},
      {"lc586-a", 8, CUPS_CSPACE_K, app::LineFormat::BlackToRgb},
      {"lc586-a", 1, CUPS_CSPACE_K, app::LineFormat::Unsupported},
      {"kv412-a", 24, CUPS_CSPACE_CMY, app::LineFormat::Unsupported},
  };
  for (const Case &c : cases) {
    const app::BridgePage bridge = app::BridgePageOf(Driver(c.driver), {}, Page(10, 2, c.bits, c.space));
    EXPECT_EQ(bridge.format, c.format) << c.driver << " " << c.bits << " bits, space " << c.space;
    EXPECT_EQ(bridge.error.empty(), c.format != app::LineFormat::Unsupported) << bridge.error;
  }
  const app::BridgePage gray = app::BridgePageOf(Driver("dotweave-zpl"), {}, Page(10, 2, 8, CUPS_CSPACE_W));
  EXPECT_EQ(gray.error, "The page's raster format (8 bits per pixel, color space 0) is not one this printer prints.");
}

TEST(AppBridge, TheHeaderKeepsThePpdFieldsAndTakesThePagesSize) {
  cups_page_header2_t ppd{};
  ppd.cupsCompression = 12;
  ppd.cupsRowStep = 4;
  ppd.AdvanceDistance = 7;
  ppd.cupsWidth = 999;
  const app::BridgePage bridge = app::BridgePageOf(Driver("kv412-a"), ppd, Page(5, 3, 8, CUPS_CSPACE_SW));
  const cups_page_header2_t &h = bridge.header;
  EXPECT_EQ(h.cupsCompression, 12u);
  EXPECT_EQ(h.cupsRowStep, 4u);
  EXPECT_EQ(h.AdvanceDistance, 7u);
  EXPECT_EQ(h.cupsWidth, 5u);
  EXPECT_EQ(h.cupsHeight, 3u);
  EXPECT_EQ(h.cupsBitsPerPixel, 24u);
  EXPECT_EQ(h.cupsBitsPerColor, 8u);
  EXPECT_EQ(h.cupsBytesPerLine, 15u);
  EXPECT_EQ(h.HWResolution[0], 203u);
  EXPECT_EQ(h.PageSize[1], 432u);
  EXPECT_EQ(h.NumCopies, 1u);
}

TEST(AppBridge, LinesAreCopiedOrSpreadToThreeEqualComponents) {
  const unsigned char gray[] = {0x00, 0x40, 0xFF};
  std::vector<unsigned char> buffer;
  const cups_page_header2_t grayPage = Page(3, 1, 8, CUPS_CSPACE_SW);
  const app::BridgePage toRgb = app::BridgePageOf(Driver("kv412-a"), {}, grayPage);
  const auto rgb = app::BridgeLine(toRgb, grayPage, gray, buffer);
  EXPECT_EQ(std::vector<unsigned char>(rgb.begin(), rgb.end()),
            (std::vector<unsigned char>{0x00, 0x00, 0x00, 0x40, 0x40, 0x40, 0xFF, 0xFF, 0xFF}));
  // Black is ink: 0xFF is a black pixel, which is 0 in RGB.
  const cups_page_header2_t blackPage = Page(3, 1, 8, CUPS_CSPACE_K);
  const app::BridgePage fromBlack = app::BridgePageOf(Driver("lc586-a"), {}, blackPage);
  const auto inverted = app::BridgeLine(fromBlack, blackPage, gray, buffer);
  EXPECT_EQ(std::vector<unsigned char>(inverted.begin(), inverted.end()),
            (std::vector<unsigned char>{0xFF, 0xFF, 0xFF, 0xBF, 0xBF, 0xBF, 0x00, 0x00, 0x00}));
  // A label line goes through as it is, padding included.
  cups_page_header2_t labelPage = Page(10, 1, 1, CUPS_CSPACE_K);
  labelPage.cupsBytesPerLine = 4;
  const unsigned char bits[] = {0xA5, 0xC0, 0x11, 0x22};
  const app::BridgePage copy = app::BridgePageOf(Driver("dotweave-zpl"), {}, labelPage);
  EXPECT_EQ(copy.header.cupsBytesPerLine, 4u);
  const auto same = app::BridgeLine(copy, labelPage, bits, buffer);
  EXPECT_EQ(same.data(), bits);
  EXPECT_EQ(same.size(), 4u);
}

// Widths whose RGB line would pass the filter's 1 MiB limit, or wrap the
// arithmetic, and lines shorter than their width are refused up front.
TEST(AppBridge, PagesTooWideOrWithShortLinesAreRefused) {
  struct Case {
    const char *driver;
    cups_page_header2_t page;
  };
  cups_page_header2_t shortLines = Page(100, 2, 8, CUPS_CSPACE_SW);
  shortLines.cupsBytesPerLine = 99;
  cups_page_header2_t padded = Page(100, 2, 8, CUPS_CSPACE_SW);
  padded.cupsBytesPerLine = 0xA000001;  // a narrow page with 160 MiB lines
  cups_page_header2_t wrapping = Page(1, 2, 8, CUPS_CSPACE_SW);
  wrapping.cupsWidth = 0x55555556;  // three times this wraps to 2 in 32 bits
  wrapping.cupsBytesPerLine = 0x55555556;
  const Case cases[] = {
      {"kv412-a", Page((1u << 20) / 3 + 1, 2, 8, CUPS_CSPACE_SW)},
      {"kv412-a", wrapping},
      {"kv412-a", shortLines},
      {"kv412-a", padded},
      {"kv412-a", Page(0, 2, 24, CUPS_CSPACE_SRGB)},
      {"dotweave-zpl", Page((1u << 23) + 8, 2, 1, CUPS_CSPACE_K)},
  };
  for (const Case &c : cases) {
    const app::BridgePage bridge = app::BridgePageOf(Driver(c.driver), {}, c.page);
    EXPECT_EQ(bridge.format, app::LineFormat::Unsupported) << c.page.cupsWidth;
    EXPECT_NE(bridge.error.find("is not one this printer prints"), std::string::npos) << bridge.error;
  }
  EXPECT_TRUE(app::BridgePageOf(Driver("kv412-a"), {}, Page((1u << 20) / 3, 2, 8, CUPS_CSPACE_SW)).error.empty());
}

}  // namespace
