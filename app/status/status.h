#pragma once
// The printer's own state read back (see README.md): pure functions over the
// answers to the status queries, without PAPPL, for the table tests.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue.h"

namespace status {

// Printers that answer a status query in the commands we use.
enum class Family { None, Zpl, Dymo };
Family FamilyOf(const catalogue::Printer &printer);

// The bytes that ask: "~HS" for ZPL, ESC A for the Dymo-style protocol;
// empty for Family::None.
std::string_view QueryOf(Family family);

// What a printer said about itself.
struct PrinterStatus {
  bool mediaEmpty = false;        // paper or labels out
  bool paused = false;            // paused on the printer (its pause key, or after an error)
  bool headOpen = false;          // print head up, cover open
  bool ribbonOut = false;         // thermal transfer ribbon out
  bool overTemperature = false;   // print head too hot
  bool underTemperature = false;  // print head too cold
  bool bufferFull = false;        // receive buffer full
  bool corruptRam = false;        // configuration lost
  std::optional<int> labelLengthDots;  // the label length the printer measured
  std::string printMode;          // "tear-off", "peel-off", "rewind", "cutter", ... when it says
  std::optional<bool> thermalTransfer; // ribbon in use (thermal transfer) or direct thermal
};

enum class Parse {
  Complete,    // a whole answer: `status` holds it
  Incomplete,  // the start of an answer: read on
  Malformed,   // not an answer of this family
};
struct Parsed {
  Parse result = Parse::Incomplete;
  PrinterStatus status;
};

// The three strings of a ZPL host status answer, each <STX>...<ETX><CR><LF>:
//   aaa,b,c,dddd,eee,f,g,h,iii,j,k,l   b paper out, c pause, dddd label length
//     (dots), f buffer full, j corrupt RAM, k under, l over temperature
//   mmm,n,o,p,q,r,s,t,uuuuuuuu,v,www   o head up, p ribbon out, q thermal
//     transfer, r print mode
//   xxxx,y
// Bytes before the first <STX> (the tail of an earlier answer) are skipped;
// when more than one answer came, the last complete one counts.
Parsed ParseZplHostStatus(std::string_view answer);

// The Dymo-style status byte: bit 5 (0x20) paper out; the other bits (busy,
// top of form) say nothing a user acts on.
Parsed ParseDymoStatus(std::string_view answer);

Parsed ParseAnswer(Family family, std::string_view answer);

// printer-state-reasons keywords of a status: "media-empty", "cover-open",
// "marker-supply-empty", "paused", "other" (temperature, buffer, memory:
// `message` says which). The order is fixed; none for a printer that is fine.
struct Reasons {
  std::vector<std::string> keywords;
  std::string message;  // what "other" stands for, "" without it
};
Reasons ReasonsOf(const PrinterStatus &status);

// The label length in millimetres at the printer's resolution, for the log
// and the supplies description ("Labels, 50.8 mm long").
std::string LabelLengthText(int dots, int dpi);

// Whether the printer can print now, and if not why: what a job asks before
// it starts. Unknown for printers that do not answer or cannot be asked.
struct Readiness {
  enum State { Ready, NotReady, Unknown } state = Unknown;
  std::string why;  // for the job's message: "Media empty, cover open."
};
Readiness ReadinessOf(const std::optional<PrinterStatus> &status);

}  // namespace status
