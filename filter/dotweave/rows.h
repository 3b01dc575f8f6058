#pragma once
// Raster rows as the receipt (ESC/POS) and TSPL families send them: 1-bit
// rows, most significant bit first, cut to the printer head and with the
// padding bits past the last dot cleared, so that nothing beyond the page
// or the head prints.
#include <cups/ppd.h>
#include <cups/raster.h>

#include <cstddef>
#include <cstdint>

struct RowFormat {
  std::uint32_t dots = 0;      // dots sent per row
  std::uint32_t bytes = 0;     // (dots + 7) / 8
  unsigned char lastMask = 0;  // bits of the last byte that are dots
  bool whiteIsOne = false;     // the raster's 1 bits are white (W, SW colour spaces)
};

// The head width in dots a PPD names ("*dotweaveHeadDots"), 0 when none.
std::uint32_t HeadDotsOf(ppd_file_t *ppd);

// The row format of a page: the page's dots (cupsWidth, but no more than its
// lines hold) cut to `headDots` when that is not 0. Returns false, after a
// status line that marks the job failed, for a page that is not 1 bit per
// pixel: these families print bi-level dots only.
bool MakeRowFormat(const cups_page_header2_t *header, std::uint32_t headDots, RowFormat &format);

// Copies the first format.bytes bytes of `line` to `out` with 1 for a black
// dot and every padding bit 0; `out` may be `line` itself. Returns whether
// the row has a black dot.
bool PackBlackRow(const unsigned char *line, const RowFormat &format, unsigned char *out);

// The same row with 0 for a black dot and every padding bit 1 (white), in
// one pass; `out` may be `line` itself. Returns whether the row has a black
// dot.
bool PackWhiteRow(const unsigned char *line, const RowFormat &format, unsigned char *out);

// The PPD options of these two families: the marked choice of `keyword`
// (null without a PPD or a choice), whether it is `name`, and a choice that
// is a whole number from `min` to `max` (-1 otherwise).
const char *MarkedChoice(ppd_file_t *ppd, const char *keyword);
bool ChoiceIs(const char *value, const char *name);
int ChoiceNumber(const char *value, int min, int max);
