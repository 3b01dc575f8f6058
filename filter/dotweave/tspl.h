#pragma once
// TSPL/TSPL2 label printers (family 0x14): one label per page, the page
// image sent as "BITMAP" commands after the label's settings, printed with
// "PRINT".
#include <cups/ppd.h>
#include <cups/raster.h>

#include <cstdint>

// The largest "BITMAP" data of one command. A 4 x 6 in label at 203 dpi is
// 124 KiB of bitmap; printers with small receive buffers mis-read a single
// command that large, so the image goes in pieces of at most 32 KiB (315
// rows of a 4-inch head at 203 dpi), which every printer of the family takes.
inline constexpr std::uint32_t kTsplMaxBitmapBytes = 32768;
// A run of white rows at least this long ends a BITMAP piece: the label is
// cleared to white by "CLS", so such rows need not travel.
inline constexpr std::uint32_t kTsplWhiteRunSplit = 8;

void TsplStartPage(ppd_file_t *ppd, const cups_page_header2_t *header);
// `line` is Buffer, or the slot TsplNextLineSlot gave, where it was read.
void TsplOutputLine(const unsigned char *line, unsigned y);
// Where the next raster line of `size` bytes can be read so that it is
// already in its place in the image being gathered, or null (read it into
// Buffer): lines are read there when they are exactly as long as the rows
// sent.
unsigned char *TsplNextLineSlot(std::uint32_t size);
void TsplEndPage(ppd_file_t *ppd, const cups_page_header2_t *header);
