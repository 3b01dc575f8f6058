#pragma once
// The bridge from the raster pages PAPPL hands a driver (from PWG or Apple
// raster, PNG, JPEG, or Ghostscript for PDF) to the CUPS raster stream the
// dotweave filter reads: which of the printer's raster formats a page's lines
// become, the page header the filter gets, and each line converted. Pure
// functions without PAPPL, so that they can be tested and fuzzed alone.
#include <cups/raster.h>

#include <span>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"

namespace app {

// How a page's lines become lines of the PPD's raster format: 1-bit black for
// the label languages, 8-bit RGB for the OEM engine. PAPPL hands monochrome
// pages to an RGB driver as 8-bit gray or black; those become RGB with three
// equal components, as a CUPS queue renders a gray page.
enum class LineFormat { Unsupported, Copy, GrayToRgb, BlackToRgb };

// The longest line the filter takes; a page with longer lines is refused
// before anything of it is sent.
inline constexpr unsigned kMaxBridgeLineBytes = 1u << 20;

struct BridgePage {
  LineFormat format = LineFormat::Unsupported;
  cups_page_header2_t header{};  // what the filter gets
  std::string error;             // why the page cannot be printed, "" when it can
};

// The page header for the filter: the fields the PPD's options set come from
// `headerTemplate`, the page's size, resolution and line layout from `page`.
BridgePage BridgePageOf(const catalogue::Printer &printer, const cups_page_header2_t &headerTemplate,
                        const cups_page_header2_t &page);

// One line of `page` in the filter's layout. `line` holds the page's
// cupsBytesPerLine bytes; `buffer` keeps the converted line between calls.
std::span<const unsigned char> BridgeLine(const BridgePage &bridge, const cups_page_header2_t &page,
                                          const unsigned char *line, std::vector<unsigned char> &buffer);

}  // namespace app
