#pragma once
// The filter front end: process-wide page-loop state and the four per-family
// operations that main() dispatches on the PPD's cupsModelNumber.
#include <cups/ppd.h>
#include <cups/raster.h>

#include <csignal>
#include <cstdint>
#include <cstring>
#include <type_traits>

// Printer family codes taken from the PPD's cupsModelNumber.
inline constexpr int kFamilyDymo = 0x00;
inline constexpr int kFamilyEplLine = 0x10;
inline constexpr int kFamilyEplPage = 0x11;
inline constexpr int kFamilyZpl = 0x12;
inline constexpr int kFamilyOem = 0x13;
inline constexpr int kFamilyTspl = 0x14;
inline constexpr int kFamilyPcl = 0x20;
inline constexpr int kFamilyEscPos = 0x30;

// Lines longer than this are refused: no real printer head comes near it
// (the widest OEM head is 1440 dots, 4320 bytes of RGB), and a hostile
// raster header must not make the filter allocate gigabytes up front.
inline constexpr std::uint32_t kMaxBytesPerLine = 1u << 20;

extern unsigned char *Buffer;          // one raster line, cupsBytesPerLine bytes
extern volatile std::sig_atomic_t Canceled;  // set by the SIGTERM handler
extern unsigned char *CompBuffer;      // ZPL/PCL compression output, 2n+1 bytes
extern std::uint32_t Feed;             // blank lines not yet sent
extern unsigned char *LastBuffer;      // previous line (ZPL repeat, PCL seed row)
extern int LastSet;                    // 1 when LastBuffer holds a valid line
extern int ModelNumber;                // printer family code
extern int Page;                       // current page number, from 1

// Set when the job cannot be completed soundly (an allocation failed, a page
// header was refused). The page loop stops and the job ends with status 1.
extern volatile bool JobFailed;

// The value of an enumerated field of a raster page header (cupsColorSpace,
// Orientation, ...). The header comes straight from the stream, so such a
// field may hold any 32-bit value, and reading one its enum type cannot
// represent is undefined: its bytes are read as a number instead.
template <typename Enum>
  requires std::is_enum_v<Enum>
std::uint32_t HeaderEnumValue(const Enum &field) {
  static_assert(sizeof(Enum) == sizeof(std::uint32_t));
  std::uint32_t value;
  std::memcpy(&value, &field, sizeof value);
  return value;
}

int FilterMain(int argc, char *argv[]);
void CancelJob(int sig);
void Setup(ppd_file_t *ppd);
void StartPage(ppd_file_t *ppd, cups_page_header2_t *header);
void OutputLine(ppd_file_t *ppd, cups_page_header2_t *header, unsigned y);
void EndPage(ppd_file_t *ppd, cups_page_header2_t *header);
// Job end, after the last page (also after a cancel): only the receipt
// family writes anything here (the cut at the end of the job, the drawer
// kick after it).
void FinishJob(ppd_file_t *ppd);

// Reports an "ERROR" status line, marks the job failed, and returns false;
// used where an allocation or a header check fails.
bool FailJob(const char *message);
