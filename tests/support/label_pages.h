#pragma once
// Helpers for the label-family tests: pages run through the front end's page
// operations in process, and raster rows built from dot patterns.
#include <cups/ppd.h>
#include <cups/raster.h>

#include <random>
#include <string>
#include <vector>

#include "support/harness.h"

namespace dwtest {

// Runs StartPage, one OutputLine per row and EndPage for family `family`
// (page number `page`) and returns what was written to standard output.
// Rows beyond the header's height are ignored; fewer rows than the height
// make a page cut short. With `cancelAfter` set, Canceled is raised after
// that many rows and the remaining rows are not sent.
std::string PrintPage(int family, ppd_file_t *ppd, const cups_page_header2_t &header, const std::vector<Bytes> &rows,
                      int page = 1, std::size_t cancelAfter = static_cast<std::size_t>(-1));

// A 1-bit black-is-1 header of `bytesPerLine` bytes by `height` rows.
cups_page_header2_t LabelHeader(unsigned bytesPerLine, unsigned height, unsigned dpi = 203);

// Rows for round trips: random, all zero, all 0xFF, alternating, long runs,
// sparse changes against the row before, and repeats of the row before.
std::vector<Bytes> AssortedRows(std::mt19937 &rng, std::size_t count, std::size_t bytesPerLine);

// The dots of rows of packed bits (1 = black), `width` dots a row.
std::vector<std::uint8_t> DotsOf(const std::vector<Bytes> &rows, unsigned width, bool zeroIsBlack = false);

}  // namespace dwtest
