// Label-language back ends. The page start, line and page end commands of
// the five label families are not written yet: these cases do nothing.
#include "dotweave/label.h"

void DymoStartPage(ppd_file_t *, const cups_page_header2_t *) {}
void EplLineStartPage(ppd_file_t *, const cups_page_header2_t *) {}
void EplPageStartPage(ppd_file_t *, const cups_page_header2_t *) {}
void ZplStartPage(ppd_file_t *, const cups_page_header2_t *) {}
void PclStartPage(ppd_file_t *, const cups_page_header2_t *) {}

void DymoOutputLine(const cups_page_header2_t *, unsigned) {}
void EplLineOutputLine(const cups_page_header2_t *, unsigned) {}
void EplPageOutputLine(const cups_page_header2_t *, unsigned) {}
void ZplOutputLine(const cups_page_header2_t *, unsigned) {}
void PclOutputLine(const cups_page_header2_t *, unsigned) {}

void DymoEndPage(ppd_file_t *, const cups_page_header2_t *) {}
void EplLineEndPage(ppd_file_t *, const cups_page_header2_t *) {}
void EplPageEndPage(ppd_file_t *, const cups_page_header2_t *) {}
void ZplEndPage(ppd_file_t *, const cups_page_header2_t *) {}
void PclEndPage(ppd_file_t *, const cups_page_header2_t *) {}

void ZPLCompress(char, std::uint32_t) {}
void PCLCompress(const unsigned char *, std::uint32_t) {}
