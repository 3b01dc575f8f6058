// ESC/POS receipt printers. The job starts with "ESC @" (initialise) and the
// darkness and speed settings ("GS ( K", functions 49 and 50) where they are
// set; each page sets the motion unit to the dot row ("GS P x y") so that
// feeds count in rows of the raster; black rows travel as raster bit images
// ("GS v 0 m xL xH yL yH", kEscPosBandRows rows each) and runs of white rows
// as feeds ("ESC J n", n <= 255). White rows at the end of a page are not
// sent unless trimming is off, and a page shorter than the minimum length is
// fed to it. The cut ("GS V 65 n" full, "GS V 66 n" partial: feed to the
// cutter, then cut, so the cut falls below the last printed row) follows
// every page or the job; the drawer kick ("ESC p m t1 t2", pin 2 or 5) comes
// right after the initialise or after the last cut.
#include "dotweave/escpos.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dotweave/filter.h"
#include "dotweave/rows.h"

namespace {

enum class CutMode { None, Partial, Full };
enum class DrawerPin { Off, Pin2, Pin5 };

struct EscPosOptions {
  int density = -1;          // "GS ( K" function 49 value, -1 for the printer's own
  int speed = -1;            // function 50 value, -1 for the printer's own
  CutMode cut = CutMode::Partial;
  bool cutEachPage = false;  // else once, at the end of the job
  bool trim = true;          // white rows at the end of a page are not sent
  unsigned minimumMm = 0;    // pages are fed to at least this length
  DrawerPin drawer = DrawerPin::Off;
  bool drawerAfter = false;  // else right after the initialise
};

EscPosOptions Options;

// Page state.
RowFormat Format;
std::vector<unsigned char> Band;  // kEscPosBandRows packed rows
std::uint32_t BandRows = 0;
std::uint32_t WhiteRows = 0;      // white rows not yet fed
std::uint64_t PageRows = 0;       // rows printed or fed on this page
bool SentSinceCut = false;        // paper moved since the last cut (or the job start)

void Write(const void *data, std::size_t size) {
  if (size != 0) fwrite_unlocked(data, 1, size, stdout);
}

void ReadOptions(ppd_file_t *ppd) {
  EscPosOptions o;
  // Darkness in percent of the printer's normal, in 5 % steps from 70 to
  // 140: the command takes the step count, negative steps as 256 - n.
  if (const int percent = ChoiceNumber(MarkedChoice(ppd, "escDensity"), 70, 140); percent >= 0 && percent % 5 == 0)
    o.density = ((percent - 100) / 5 + 256) % 256;
  o.speed = ChoiceNumber(MarkedChoice(ppd, "escSpeed"), 1, 9);
  const char *cut = MarkedChoice(ppd, "escCutMode");
  if (ChoiceIs(cut, "None")) o.cut = CutMode::None;
  else if (ChoiceIs(cut, "Full")) o.cut = CutMode::Full;
  o.cutEachPage = ChoiceIs(MarkedChoice(ppd, "escCutAt"), "Page");
  o.trim = !ChoiceIs(MarkedChoice(ppd, "escTrim"), "Off");
  if (const int mm = ChoiceNumber(MarkedChoice(ppd, "escMinLength"), 0, 1000); mm > 0) o.minimumMm = static_cast<unsigned>(mm);
  const char *drawer = MarkedChoice(ppd, "escDrawerPin");
  if (ChoiceIs(drawer, "Pin2")) o.drawer = DrawerPin::Pin2;
  else if (ChoiceIs(drawer, "Pin5")) o.drawer = DrawerPin::Pin5;
  o.drawerAfter = ChoiceIs(MarkedChoice(ppd, "escDrawerWhen"), "After");
  Options = o;
}

void KickDrawer() {
  if (Options.drawer == DrawerPin::Off) return;
  const unsigned char pin = Options.drawer == DrawerPin::Pin2 ? 0 : 1;
  const unsigned char kick[] = {0x1B, 'p', pin, kDrawerOnTime, kDrawerOffTime};
  Write(kick, sizeof kick);
}

void FeedRows(std::uint64_t rows) {
  PageRows += rows;
  if (rows != 0) SentSinceCut = true;
  for (; rows != 0;) {
    const auto n = static_cast<unsigned char>(rows > kEscPosMaxFeed ? kEscPosMaxFeed : rows);
    const unsigned char feed[] = {0x1B, 'J', n};
    Write(feed, sizeof feed);
    rows -= n;
  }
}

void FlushBand() {
  if (BandRows == 0) return;
  const unsigned char header[] = {0x1D,
                                  'v',
                                  '0',
                                  0,  // normal density
                                  static_cast<unsigned char>(Format.bytes & 0xFF),
                                  static_cast<unsigned char>(Format.bytes >> 8),
                                  static_cast<unsigned char>(BandRows & 0xFF),
                                  static_cast<unsigned char>(BandRows >> 8)};
  Write(header, sizeof header);
  Write(Band.data(), std::size_t{BandRows} * Format.bytes);
  PageRows += BandRows;
  SentSinceCut = true;
  BandRows = 0;
}

void Cut() {
  if (Options.cut == CutMode::None || !SentSinceCut) return;
  // Function B: feed to the cutting position (plus n, here 0), then cut.
  const unsigned char mode = Options.cut == CutMode::Full ? 65 : 66;
  const unsigned char cut[] = {0x1D, 'V', mode, 0};
  Write(cut, sizeof cut);
  SentSinceCut = false;
}

}  // namespace

void EscPosSetup(ppd_file_t *ppd) {
  ReadOptions(ppd);
  SentSinceCut = false;
  Write("\033@", 2);
  if (Options.density >= 0) {
    const unsigned char density[] = {0x1D, '(', 'K', 2, 0, 49, static_cast<unsigned char>(Options.density)};
    Write(density, sizeof density);
  }
  if (Options.speed >= 0) {
    const unsigned char speed[] = {0x1D, '(', 'K', 2, 0, 50, static_cast<unsigned char>(Options.speed)};
    Write(speed, sizeof speed);
  }
  if (!Options.drawerAfter) KickDrawer();
}

void EscPosStartPage(ppd_file_t *ppd, const cups_page_header2_t *header) {
  ReadOptions(ppd);
  BandRows = 0;
  WhiteRows = 0;
  PageRows = 0;
  if (!MakeRowFormat(header, HeadDotsOf(ppd), Format)) return;
  // The image command counts a row's bytes in 16 bits: no head is wider.
  if (Format.bytes > 0xFFFF) {
    Format.dots = 0xFFFF * 8;
    Format.bytes = 0xFFFF;
    Format.lastMask = 0xFF;
  }
  try {
    Band.assign(std::size_t{kEscPosBandRows} * Format.bytes, 0);
  } catch (const std::bad_alloc &) {
    Format = {};
    FailJob("Unable to allocate memory for the raster band.");
    return;
  }
  // Motion units of one dot: feeds and the cut's n then count raster rows.
  const unsigned x = header->HWResolution[0], y = header->HWResolution[1];
  if (x >= 1 && x <= 255 && y >= 1 && y <= 255) {
    const unsigned char units[] = {0x1D, 'P', static_cast<unsigned char>(x), static_cast<unsigned char>(y)};
    Write(units, sizeof units);
  }
}

unsigned char *EscPosNextLineSlot(std::uint32_t size) {
  if (Format.bytes == 0 || size != Format.bytes || Band.empty()) return nullptr;
  return Band.data() + std::size_t{BandRows} * Format.bytes;
}

void EscPosOutputLine(const unsigned char *line) {
  if (line == nullptr || Format.bytes == 0) {
    ++WhiteRows;
    return;
  }
  unsigned char *row = Band.data() + std::size_t{BandRows} * Format.bytes;
  if (!PackBlackRow(line, Format, row)) {
    FlushBand();
    ++WhiteRows;
    return;
  }
  if (WhiteRows != 0) {
    // The row is already in place at BandRows 0: the band was flushed when
    // the white run began.
    FeedRows(WhiteRows);
    WhiteRows = 0;
  }
  if (++BandRows == kEscPosBandRows) FlushBand();
}

void EscPosEndPage(ppd_file_t *, const cups_page_header2_t *header) {
  if (JobFailed) return;
  FlushBand();
  if (!Options.trim) FeedRows(WhiteRows);
  WhiteRows = 0;
  if (Options.minimumMm != 0) {
    const std::uint64_t minimum =
        static_cast<std::uint64_t>(std::llround(Options.minimumMm * double(header->HWResolution[1]) / 25.4));
    if (PageRows < minimum) FeedRows(minimum - PageRows);
  }
  if (Options.cutEachPage) Cut();
  std::vector<unsigned char>().swap(Band);
}

void EscPosFinishJob(ppd_file_t *) {
  if (JobFailed || Page == 0) return;  // a job without pages opens no drawer
  if (!Options.cutEachPage) Cut();
  if (Options.drawerAfter && !Canceled) KickDrawer();
}
