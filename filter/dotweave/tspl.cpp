// TSPL/TSPL2 label printers. Every command is a text line ended by CR LF.
// A page is one label:
//
//   SIZE w mm,h mm            the label, from the page size
//   GAP g mm,0 mm | BLINE g mm,0 mm | GAP 0,0   media tracking (gaps, black
//                             marks, continuous); nothing for the printer's own
//   DIRECTION d               0 or 1 (label printed turned by 180 degrees)
//   REFERENCE 0,0
//   DENSITY n                 0..15, from the darkness setting when one is set
//   SPEED s                   inches per second, when set
//   SET PEEL OFF, SET TEAR ON | SET PEEL ON   tear-off or peel-off when set
//   CLS                       clear the image buffer (all white)
//   BITMAP x,y,wb,h,0,data    pieces of the page image, mode 0 (overwrite)
//   PRINT 1,n                 one set of n copies (1 unless the page asks more)
//
// BITMAP takes wb bytes a row, most significant bit first, and in TSPL a 0
// bit prints a black dot and a 1 bit leaves the dot white: the raster's
// 1-is-black rows go out inverted, and the padding bits past the last dot
// are 1 (white). The data is followed by CR LF.
#include "dotweave/tspl.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dotweave/filter.h"
#include "dotweave/rows.h"

namespace {

RowFormat Format;
// The BITMAP being gathered: room for its command, its rows (0 = black),
// and its closing CR LF, so that the whole command leaves in one write.
constexpr std::size_t kCommandRoom = 64;
std::vector<unsigned char> Piece;
unsigned char *PieceRowsStart = nullptr;
std::uint32_t PieceTop = 0;        // raster row of its first row
std::uint32_t PieceRows = 0;
std::uint32_t PieceCapacity = 0;   // rows
std::uint32_t WhiteRun = 0;        // white rows since the last black one in the piece
bool PageOpen = false;

void Write(const void *data, std::size_t size) {
  if (size != 0) fwrite_unlocked(data, 1, size, stdout);
}

// A BITMAP command goes straight to standard output, not through its buffer
// (pieces are up to 32 KiB); what is buffered goes first.
void WriteImage(const unsigned char *data, std::size_t size) {
  if (std::fflush(stdout) != 0) return;
  while (size != 0) {
    const ssize_t n = ::write(STDOUT_FILENO, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // the backend went away: nothing more can reach the printer
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}
void Line(const std::string &text) {
  Write(text.data(), text.size());
  Write("\r\n", 2);
}

// Millimetres with one decimal, without ".0": "101.6", "100".
std::string Millimetres(double mm) {
  const long tenths = std::lround(mm * 10);
  std::string out = std::to_string(tenths / 10);
  if (tenths % 10 != 0) out += "." + std::to_string(tenths % 10);
  return out;
}

// The label's width or length: the page size in points, or where the header
// gives none, the dots at the resolution.
double LabelMm(std::uint32_t points, std::uint32_t dots, std::uint32_t dpi) {
  if (points != 0) return points * 25.4 / 72.0;
  return dpi != 0 ? dots * 25.4 / dpi : 0.0;
}

void MediaTracking(ppd_file_t *ppd) {
  const char *tracking = MarkedChoice(ppd, "tsMediaTracking");
  const int gap = ChoiceNumber(MarkedChoice(ppd, "tsGapSize"), 0, 100);
  const std::string size = std::to_string(gap >= 0 ? gap : 3);
  if (ChoiceIs(tracking, "Web")) Line("GAP " + size + " mm,0 mm");
  else if (ChoiceIs(tracking, "Mark")) Line("BLINE " + size + " mm,0 mm");
  else if (ChoiceIs(tracking, "Continuous")) Line("GAP 0,0");
}

void FlushPiece() {
  // White rows at the end of a piece are not sent.
  const std::uint32_t rows = PieceRows - WhiteRun;
  if (rows != 0) {
    char command[kCommandRoom];
    const int n = std::snprintf(command, sizeof command, "BITMAP 0,%u,%u,%u,0,", PieceTop, Format.bytes, rows);
    const auto commandSize = static_cast<std::size_t>(n);
    unsigned char *start = PieceRowsStart - commandSize;
    std::memcpy(start, command, commandSize);
    unsigned char *end = PieceRowsStart + std::size_t{rows} * Format.bytes;
    end[0] = '\r';
    end[1] = '\n';
    WriteImage(start, static_cast<std::size_t>(end + 2 - start));
  }
  PieceRows = 0;
  WhiteRun = 0;
}

}  // namespace

void TsplStartPage(ppd_file_t *ppd, const cups_page_header2_t *header) {
  PageOpen = false;
  PieceRows = 0;
  WhiteRun = 0;
  if (!MakeRowFormat(header, HeadDotsOf(ppd), Format)) return;
  PieceCapacity = Format.bytes == 0 ? 0 : std::max<std::uint32_t>(1, kTsplMaxBitmapBytes / Format.bytes);
  try {
    Piece.assign(kCommandRoom + std::size_t{PieceCapacity} * Format.bytes + 2, 0);
    PieceRowsStart = Piece.data() + kCommandRoom;
  } catch (const std::bad_alloc &) {
    Format = {};
    FailJob("Unable to allocate memory for the label image.");
    return;
  }

  Line("SIZE " + Millimetres(LabelMm(header->PageSize[0], header->cupsWidth, header->HWResolution[0])) + " mm," +
       Millimetres(LabelMm(header->PageSize[1], header->cupsHeight, header->HWResolution[1])) + " mm");
  MediaTracking(ppd);
  Line(ChoiceIs(MarkedChoice(ppd, "tsDirection"), "1") ? "DIRECTION 1" : "DIRECTION 0");
  Line("REFERENCE 0,0");
  // Darkness 1..100 from the PPD; 0 (or anything else) keeps the printer's.
  if (header->cupsCompression >= 1 && header->cupsCompression <= 100)
    Line("DENSITY " + std::to_string(15 * header->cupsCompression / 100));
  if (const int speed = ChoiceNumber(MarkedChoice(ppd, "tsSpeed"), 1, 12); speed > 0) Line("SPEED " + std::to_string(speed));
  const char *mode = MarkedChoice(ppd, "tsLabelMode");
  if (ChoiceIs(mode, "Tear")) {
    Line("SET PEEL OFF");
    Line("SET TEAR ON");
  } else if (ChoiceIs(mode, "Peel")) {
    Line("SET PEEL ON");
  }
  Line("CLS");
  PageOpen = true;
}

unsigned char *TsplNextLineSlot(std::uint32_t size) {
  if (!PageOpen || PieceCapacity == 0 || size != Format.bytes) return nullptr;
  return PieceRowsStart + std::size_t{PieceRows} * Format.bytes;
}

void TsplOutputLine(const unsigned char *line, unsigned y) {
  if (!PageOpen || line == nullptr || PieceCapacity == 0) return;
  unsigned char *row = PieceRowsStart + std::size_t{PieceRows} * Format.bytes;
  // In place when the line was read into its slot.
  const bool black = PackWhiteRow(line, Format, row);
  if (PieceRows == 0) {
    if (!black) return;  // a piece starts at a black row
    PieceTop = y;
  }
  ++PieceRows;
  WhiteRun = black ? 0 : WhiteRun + 1;
  if (PieceRows == PieceCapacity || WhiteRun >= kTsplWhiteRunSplit) FlushPiece();
}

void TsplEndPage(ppd_file_t *, const cups_page_header2_t *header) {
  if (!PageOpen) return;
  PageOpen = false;
  // A cancelled label is not printed: the image buffer is cleared by the
  // next label's CLS.
  if (Canceled) {
    PieceRows = WhiteRun = 0;
  } else {
    FlushPiece();
    Line("PRINT 1," + std::to_string(header->NumCopies > 1 ? header->NumCopies : 1));
  }
  std::vector<unsigned char>().swap(Piece);
  PieceRowsStart = nullptr;
}
