#pragma once
// ESC/POS receipt printers (family 0x30): the page as raster bit images in
// bands, white runs as paper feeds, the receipt ending where its content
// ends, then the cut and the cash drawer kick.
#include <cups/ppd.h>
#include <cups/raster.h>

#include <cstdint>

// Rows per raster bit image ("GS v 0"). Many clones of the TM series take no
// more than 255 rows in one image (they read yL only), and some small 58 mm
// printers buffer no more than one 24-dot line of graphics (the height of
// the classic "ESC *" bit image) before they print; 24 rows suit both, and
// at 8 header bytes a band the stream grows by less than 1 %.
inline constexpr std::uint32_t kEscPosBandRows = 24;
// The largest paper feed of one "ESC J n" command, in dot rows.
inline constexpr std::uint32_t kEscPosMaxFeed = 255;
// Cash drawer pulse: on for 25 x 2 ms, off for 250 x 2 ms, the values drawer
// makers ask for.
inline constexpr unsigned char kDrawerOnTime = 25;
inline constexpr unsigned char kDrawerOffTime = 250;

void EscPosSetup(ppd_file_t *ppd);
void EscPosStartPage(ppd_file_t *ppd, const cups_page_header2_t *header);
// `line` is Buffer, or the slot EscPosNextLineSlot gave, where it was read.
void EscPosOutputLine(const unsigned char *line);
// Where the next raster line of `size` bytes can be read so that it is
// already in its place in the band, or null (read it into Buffer).
unsigned char *EscPosNextLineSlot(std::uint32_t size);
void EscPosEndPage(ppd_file_t *ppd, const cups_page_header2_t *header);
// After the last page: the cut at the end of the job and the drawer kick
// after it.
void EscPosFinishJob(ppd_file_t *ppd);
