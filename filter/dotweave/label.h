#pragma once
// Label-language back ends: Dymo label protocol (0x00), EPL line mode (0x10),
// EPL page mode (0x11), ZPL (0x12) and PCL raster (0x20). Each writes its
// commands to standard output as the raster arrives.
#include <cups/ppd.h>
#include <cups/raster.h>

#include <cstdint>

// Page start (set-up commands, compression buffers for ZPL and PCL).
void DymoStartPage(ppd_file_t *ppd, const cups_page_header2_t *header);
void EplLineStartPage(ppd_file_t *ppd, const cups_page_header2_t *header);
void EplPageStartPage(ppd_file_t *ppd, const cups_page_header2_t *header);
void ZplStartPage(ppd_file_t *ppd, const cups_page_header2_t *header);
void PclStartPage(ppd_file_t *ppd, const cups_page_header2_t *header);

// One raster line, already in Buffer; y is its zero-based index in the page.
void DymoOutputLine(const cups_page_header2_t *header, unsigned y);
void EplLineOutputLine(const cups_page_header2_t *header, unsigned y);
void EplPageOutputLine(const cups_page_header2_t *header, unsigned y);
void ZplOutputLine(const cups_page_header2_t *header, unsigned y);
void PclOutputLine(const cups_page_header2_t *header, unsigned y);

// Page end (print and eject; ZPL label format or download abort).
void DymoEndPage(ppd_file_t *ppd, const cups_page_header2_t *header);
void EplLineEndPage(ppd_file_t *ppd, const cups_page_header2_t *header);
void EplPageEndPage(ppd_file_t *ppd, const cups_page_header2_t *header);
void ZplEndPage(ppd_file_t *ppd, const cups_page_header2_t *header);
void PclEndPage(ppd_file_t *ppd, const cups_page_header2_t *header);

// Writes a run of `count` copies of the hex character ch with ZPL's repeat
// characters.
void ZPLCompress(char ch, std::uint32_t count);
// Writes one PCL raster row in compression mode 3 against LastBuffer, then
// makes it the new LastBuffer.
void PCLCompress(const unsigned char *line, std::uint32_t length);
