// OEM page settings: the two process-wide records, the OEM page start, and
// the readers that take the OEM options from the marked PPD.
#include <climits>
#include <cstdlib>
#include <optional>

#include "dotweave/filter.h"
#include "oem/oem.h"

OEMPageInfo MyPageInfo{};
OEMPrinterParams PrintPa{};

void OEMStartPage(ppd_file_t *ppd, const cups_page_header2_t *header) {
  // The previous page's buffers were freed by its page end; forget them
  // without freeing them again.
  MyPageInfo.ImageData = nullptr;
  MyPageInfo.CommandData = nullptr;
  MyPageInfo.ImageSize = 0;
  MyPageInfo.ImageCapacity = 0;
  MyPageInfo.CommandSize = 0;
  MyPageInfo.CommandCapacity = 0;
  PrintPa.Identified = 0;
  MyPageInfo.ReducedData = nullptr;
  MyPageInfo.ReducedSize = 0;
  MyPageInfo.PageRows = 0;
  MyPageInfo.PayloadLength = 0;
  MyPageInfo.PageFailed = 0;

  GetPrinterName();
  if (!PrintPa.Identified) set_oem_printer_from_ppd(ppd);

  MyPageInfo.Resolution[0] = header->HWResolution[0];
  MyPageInfo.Resolution[1] = header->HWResolution[1];
  MyPageInfo.BytesPerLine = header->cupsBytesPerLine;
  MyPageInfo.Width = header->cupsWidth;
  MyPageInfo.Height = header->cupsHeight;
  MyPageInfo.PageRows = header->cupsHeight;
  MyPageInfo.BitsPerPixel = header->cupsBitsPerPixel;
  MyPageInfo.ColorSpace = HeaderEnumValue(header->cupsColorSpace);

  OEMSaveImagePrint(ppd);
  OEMSaveGrayLevel(ppd);
  OEMSaveDensity(ppd);
  OEMSaveSpeed(ppd);
  OEMSaveRotation(ppd);
  OEMSavePaperType(ppd);
  OEMSaveHorizentalADJ(ppd);
  OEMSaveVerticalADJ(ppd);
  OEMSaveUnidirectional(ppd);
  OEMSavePrintStartPosition(ppd);
  OEMSavePrintCutPosition(ppd);
  OEMSaveFixPageHeight(ppd);
}

namespace {

enum class Printers { All, ThermalOnly, NeedleOnly };

// Whether a reader limited to `which` printers runs for this page: never for
// an unidentified printer, whose earlier settings are kept as they are.
bool ReaderApplies(Printers which) {
  if (!PrintPa.Identified) return false;
  switch (which) {
    case Printers::ThermalOnly: return !PrintPa.IsNeedle;
    case Printers::NeedleOnly: return PrintPa.IsNeedle != 0;
    case Printers::All: break;
  }
  return true;
}

// The marked choice of `keyword` as a number, or nothing when the PPD has no
// such option or no choice of it is marked. The choice keyword converts like
// atoi (leading blanks and sign, digits up to the first non-digit, 0 when it
// does not begin with a number), except that a number beyond the 32-bit range
// saturates instead of wrapping, so that it is refused as out of range rather
// than read as some unrelated small value.
std::optional<std::int32_t> MarkedNumber(ppd_file_t *ppd, const char *keyword) {
  if (ppd == nullptr) return std::nullopt;
  const ppd_choice_t *choice = ppdFindMarkedChoice(ppd, keyword);
  if (choice == nullptr) return std::nullopt;
  const long value = std::strtol(choice->choice, nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(value);
}

// Readers that keep a number within [low, high], replace a number outside it
// by `outOfRange`, and use `notMarked` when no choice is marked.
std::int32_t RangedSetting(ppd_file_t *ppd, const char *keyword, std::int32_t low, std::int32_t high,
                           std::int32_t notMarked, std::int32_t outOfRange) {
  const std::optional<std::int32_t> value = MarkedNumber(ppd, keyword);
  if (!value) return notMarked;
  return (*value >= low && *value <= high) ? *value : outOfRange;
}

// Thermal speed values by speed choice 0 to 3, one table per head width.
constexpr std::int32_t kSpeed832[4] = {825, 900, 1200, 1500};
constexpr std::int32_t kSpeedMid[4] = {725, 825, 1000, 1200};
constexpr std::int32_t kSpeed384[4] = {2500, 3100, 3400, 4500};

const std::int32_t *ThermalSpeedTable(std::int32_t headWidth) {
  switch (headWidth) {
    case 832: return kSpeed832;
    case 448: case 576: case 620: case 640: return kSpeedMid;
    case 384: return kSpeed384;
    default: return nullptr;
  }
}

}  // namespace

void OEMSaveImagePrint(ppd_file_t *ppd) {
  if (!ReaderApplies(Printers::All)) return;
  PrintPa.ImagePrint = RangedSetting(ppd, "ImagePrint", 0, 1, 0, 0);
}

void OEMSaveGrayLevel(ppd_file_t *ppd) {
  if (!ReaderApplies(Printers::All)) return;
  // No lower bound: a value up to 255 keeps its low byte, so -1 reads as 255.
  const std::int32_t value = MarkedNumber(ppd, "GrayADJ").value_or(50);
  PrintPa.GrayLevel = value > 255 ? 50 : static_cast<std::uint8_t>(value & 0xFF);
}

void OEMSaveDensity(ppd_file_t *ppd) {
  if (!ReaderApplies(Printers::All)) return;
  PrintPa.Density = PrintPa.IsNeedle ? RangedSetting(ppd, "Density", 1, 3, 1, 1)
                                     : RangedSetting(ppd, "Density", 50, 100, 75, 75);
}

void OEMSaveSpeed(ppd_file_t *ppd) {
  if (!ReaderApplies(Printers::All)) return;
  const std::optional<std::int32_t> choice = MarkedNumber(ppd, "Speed");
  if (PrintPa.IsNeedle) {
    PrintPa.Speed = (choice && *choice == 1) ? 1 : 0;
    return;
  }
  // Thermal: the choice indexes the head's speed table; an index outside it,
  // or a head without a table, keeps the speed of the earlier page.
  const std::int32_t index = choice.value_or(1);
  const std::int32_t *table = ThermalSpeedTable(PrintPa.HeadWidth);
  if (table != nullptr && index >= 0 && index <= 3) PrintPa.Speed = table[index];
}

void OEMSaveRotation(ppd_file_t *ppd) {
  if (!ReaderApplies(Printers::All)) return;
  const std::int32_t value = MarkedNumber(ppd, "Rotation").value_or(0);
  PrintPa.Rotation = (value == 90 || value == 180 || value == 270) ? value : 0;
}

void OEMSavePaperType(ppd_file_t *ppd) {
  if (!ReaderApplies(Printers::ThermalOnly)) return;
  PrintPa.PaperType = static_cast<std::uint8_t>(RangedSetting(ppd, "PaperType", 0, 2, 0, 0));
}

void OEMSaveHorizentalADJ(ppd_file_t *ppd) {
  if (!ReaderApplies(Printers::All)) return;
  PrintPa.HorizontalAdj = RangedSetting(ppd, "HorizentalADJ", -20, 20, 0, 0);
}

void OEMSaveVerticalADJ(ppd_file_t *ppd) {
  if (!ReaderApplies(Printers::All)) return;
  PrintPa.VerticalAdj = RangedSetting(ppd, "VerticalADJ", -20, 20, 0, 0);
}

void OEMSaveUnidirectional(ppd_file_t *ppd) {
  if (!ReaderApplies(Printers::NeedleOnly)) return;
  // Unidirectional printing is the default, but a bad choice turns it off.
  PrintPa.Unidirectional = static_cast<std::uint8_t>(RangedSetting(ppd, "UnidirectionalPrint", 0, 1, 1, 0));
}

void OEMSavePrintStartPosition(ppd_file_t *ppd) {
  if (!ReaderApplies(Printers::NeedleOnly)) return;
  PrintPa.StartPosition = RangedSetting(ppd, "PrintStartPosition", -120, 120, 0, 0);
}

void OEMSavePrintCutPosition(ppd_file_t *ppd) {
  if (!ReaderApplies(Printers::NeedleOnly)) return;
  PrintPa.CutPosition = RangedSetting(ppd, "CutPaperPosition", -120, 120, 0, 0);
}

void OEMSaveFixPageHeight(ppd_file_t *ppd) {
  if (!ReaderApplies(Printers::NeedleOnly)) return;
  PrintPa.FixPageHeight = RangedSetting(ppd, "FixPageHeight", 0, 5, 0, 0);
}
