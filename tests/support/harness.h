#pragma once
// Test harness shared by unit and integration tests: CUPS raster writing
// through libcups, PPD fixtures, running the filter binary, capturing what
// library functions write to standard output.
#include <cups/ppd.h>
#include <cups/raster.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace dwtest {

using Bytes = std::vector<unsigned char>;

// ---- Temporary files -------------------------------------------------------

// A private temporary directory, removed with its contents on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  // Writes `contents` to `name` inside the directory and returns its path.
  std::string Write(const std::string &name, const std::string &contents) const;
  std::string Write(const std::string &name, const Bytes &contents) const;

 private:
  std::string path_;
};

std::string ReadFile(const std::string &path);

// ---- CUPS raster -----------------------------------------------------------

// A page header for `width` x `height` pixels. bitsPerPixel 24 gives sRGB,
// 8 gives 8-bit white-is-255 gray (CUPS_CSPACE_SW), 1 gives 1-bit black-is-1
// (CUPS_CSPACE_K). Resolution `dpi` in both directions unless ydpi is given.
cups_page_header2_t MakeHeader(unsigned width, unsigned height, unsigned bitsPerPixel = 24,
                               unsigned dpi = 203, unsigned ydpi = 0);

struct RasterPage {
  cups_page_header2_t header;
  Bytes data;  // cupsHeight rows of cupsBytesPerLine bytes (fewer to cut the page short)
};

// A page whose every byte is `fill`.
RasterPage UniformPage(const cups_page_header2_t &header, unsigned char fill);

// Writes the pages through libcups's raster writer (cupsRasterOpen in write
// mode, cupsRasterWriteHeader2, cupsRasterWritePixels) and returns the stream.
// With `compressed`, the compressed stream format is written. A page whose
// data is shorter than its header says ends the stream there: the stream is
// cut short in the middle of that page and later pages are not written.
std::string WriteRaster(const std::vector<RasterPage> &pages, bool compressed = false);

// A raw uncompressed stream (the sync word and the header record in native byte order, then `data`),
// bypassing libcups's writer so that tests can send headers it would refuse.
std::string RawRaster(const cups_page_header2_t &header, const Bytes &data);

// ---- PPD fixtures ----------------------------------------------------------

struct PpdOption {
  std::string keyword;
  std::string defaultChoice;
  std::vector<std::string> choices;
};

// A minimal valid PPD text with the given cupsModelNumber and options.
std::string MakePpd(int modelNumber, const std::vector<PpdOption> &options = {});

struct PpdCloser {
  void operator()(ppd_file_t *ppd) const { ppdClose(ppd); }
};
using PpdPtr = std::unique_ptr<ppd_file_t, PpdCloser>;

// Opens a PPD text in-process, marks its defaults and then the job options
// (CUPS option string such as "Density=90 Speed=2").
PpdPtr OpenPpd(const std::string &ppdText, const std::string &jobOptions = "");

// ---- Running the filter binary ---------------------------------------------

struct FilterResult {
  int exitStatus = -1;  // exit code, or 128 + signal number
  std::string out;      // standard output bytes
  std::string err;      // standard error text
};

struct CancelPlan {
  std::size_t holdBackAt;      // write input up to this byte offset first
  std::string stderrMarker;    // then wait for this text on standard error
};

struct FilterRun {
  std::vector<std::string> args = {"1", "user", "title", "1", ""};  // argv[1..]
  std::map<std::string, std::optional<std::string>> env;  // nullopt: unset
  std::string input;                                     // standard input bytes
  std::vector<std::string> wrapper;  // command prefix, e.g. umockdev-run ... --
  std::optional<CancelPlan> cancel;  // send SIGTERM part way through the input
  std::string binary;                // defaults to the built dotweave
};

// Runs the filter. PPD, DEVICE_URI and PRINTER are removed from the inherited
// environment unless `env` sets them.
FilterResult RunFilter(const FilterRun &run);

// ---- In-process output capture ---------------------------------------------

// Runs fn with standard output redirected to a temporary file and returns
// the bytes written (stdout is flushed before and after).
std::string CaptureStdout(const std::function<void()> &fn);

// Hex dump "1B 4C 04 B0" of bytes, for readable expectations.
std::string Hex(const std::string &bytes);
std::string Hex(const Bytes &bytes);
// Bytes from a hex text such as "1B 4C 04 B0".
std::string FromHex(const std::string &hex);

// Counts occurrences of `needle` in `hay`.
std::size_t CountOf(const std::string &hay, const std::string &needle);

// Resets every process-wide record of the filter (front end and OEM engine)
// to its process-start state, freeing nothing.
void ResetFilterState();

}  // namespace dwtest
