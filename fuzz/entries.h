#pragma once
// Entry functions of the filter's and the printer application's fuzz targets and what the seed writer needs
// to build their inputs. An entry takes one input and returns 0; a fault is a
// crash, a hang or a sanitizer report. The libFuzzer binaries and the
// regression replay tests call the same functions.
#include <cstddef>
#include <cstdint>
#include <string>

// One whole filter job per input: the first byte picks the printer family
// (low three bits) and one of 32 job option sets (high five bits); the rest
// is the CUPS raster stream. The family slot kOtherFamily holds three: the
// option set modulo 3 picks a code outside the family table (0), ESC/POS
// (1) or TSPL (2), and the option set divided by 3 the job options.
int FuzzRaster(const std::uint8_t *data, std::size_t size);

// The decoders: the first byte picks the printer language (modulo 7, in the
// order of dwdecode::Language); the rest is decoded as that language.
int FuzzDecode(const std::uint8_t *data, std::size_t size);

// The ESC/POS and TSPL decoders: the whole input is the printer stream.
int FuzzDecodeEscPos(const std::uint8_t *data, std::size_t size);
int FuzzDecodeTspl(const std::uint8_t *data, std::size_t size);

// The printer application's settings table: byte 0 picks the printer, then
// darkness, speed and photo as fixed fields, then text lines (see
// app_settings.cpp).
int FuzzAppSettings(const std::uint8_t *data, std::size_t size);

// The serial: device URI parser: the input is the URI.
int FuzzSerialUri(const std::uint8_t *data, std::size_t size);

// The raster bridge: byte 0 picks the printer, byte 1 the header template;
// the rest is a PWG or CUPS raster stream.
int FuzzRasterBridge(const std::uint8_t *data, std::size_t size);

// The printer application's plug-and-play matching: four bytes of USB ids,
// then a device ID that is also read as a device URI.
int FuzzAutoAdd(const std::uint8_t *data, std::size_t size);

// A printer's answer to a status query: the first byte picks the family
// (ZPL or Dymo-style), the rest is what the printer sent.
int FuzzStatusAnswer(const std::uint8_t *data, std::size_t size);

namespace dwfuzz {

// Printer families of the raster target, the index of the selector's low
// three bits. The last slot holds a code outside the family table, ESC/POS
// and TSPL (see FuzzRaster).
enum RasterFamily : unsigned {
  kDymo, kEplLine, kEplPage, kZpl, kOemThermal, kOemNeedle, kPcl, kOtherFamily,
  kRasterFamilies
};
inline constexpr RasterFamily kUnknownFamily = kOtherFamily;
// Option sets of kOtherFamily: the family is the set modulo 3.
inline constexpr unsigned kOtherUnknown = 0, kOtherEscPos = 1, kOtherTspl = 2;

// The selector byte of a raster input.
inline char RasterSelector(RasterFamily family, unsigned optionSet) {
  return static_cast<char>((optionSet << 3 | family) & 0xFF);
}

// Runs one raster input as FuzzRaster does and returns the printer stream the
// filter wrote.
std::string RasterJobOutput(const std::string &input);

}  // namespace dwfuzz
