#pragma once
// The OEM engine (family 0x13): the maker's own thermal printers (384 to 832
// dot heads) and needle printers (1440 dots). All state lives in two
// process-wide records, MyPageInfo and PrintPa, zero at process start, read
// and written in place by the plain functions below.
#include <cups/ppd.h>
#include <cups/raster.h>

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------

// The page image, its work buffers and the page's printer command buffer.
struct OEMPageInfo {
  std::uint32_t Resolution[2];       // HWResolution: horizontal, vertical dpi
  unsigned char *ImageData;          // Height rows of BytesPerLine bytes
  std::uint64_t ImageSize;           // bytes held in ImageData
  std::uint64_t BytesPerLine;        // row stride of ImageData
  std::uint64_t Width;               // pixels per row
  std::uint64_t Height;              // rows
  unsigned char *ReducedData;        // five-to-four reduction work buffer
  std::uint64_t ReducedSize;
  std::uint64_t ReducedBytesPerLine;
  std::uint64_t ReducedHeight;
  unsigned char *CommandData;        // the page's printer command stream
  std::uint64_t CommandSize;
  std::uint64_t PageRows;            // cupsHeight as received
  std::uint64_t PayloadLength;       // bytes counted for the thermal length field
  std::uint64_t LengthFieldPos;      // offset of the thermal length field

  // Raster format of the collected page (the OEM printers expect 24-bit RGB;
  // the gray conversion uses these to handle 8-bit and 1-bit pages too).
  std::uint32_t BitsPerPixel;
  std::uint32_t ColorSpace;
  // Set when an allocation failed or the page's raster format is refused:
  // the page is still ended, but nothing of it reaches the printer.
  std::uint8_t PageFailed;
  // Bytes allocated for ImageData (at least ImageSize): the line append
  // reserves the whole page at once, so appending a line never copies the
  // page collected so far.
  std::uint64_t ImageCapacity;
  // Bytes allocated for CommandData (at least CommandSize): the buffer grows
  // by half again when full, so a page of many lines is not copied once per
  // appended command.
  std::uint64_t CommandCapacity;
};

// Which model is attached and the settings to print this page with.
struct OEMPrinterParams {
  std::uint8_t Identified;     // a model was recognised for this page
  std::uint8_t IsNeedle;       // HeadWidth == 1440
  std::int32_t HeadWidth;      // dots per printed line
  std::uint8_t RightAlign;     // thermal: narrow images against the right end
  std::int32_t Speed;          // thermal: speed table value; needle: 0 or 1
  std::int32_t Density;        // thermal 50..100; needle 1..3
  std::int32_t Rotation;       // 0, 90, 180, 270
  std::uint8_t PaperType;      // thermal: 0..2
  std::int32_t HorizontalAdj;  // -20..20
  std::int32_t VerticalAdj;    // -20..20
  std::uint8_t Unidirectional; // needle: 0 or 1
  std::int32_t StartPosition;  // needle: -120..120
  std::int32_t CutPosition;    // needle: -120..120
  std::int32_t FixPageHeight;  // needle: 0..5
  std::int32_t ImagePrint;     // 1: ordered dither; otherwise threshold
  std::int32_t GrayLevel;      // 0..255, threshold adjustment
};

extern OEMPageInfo MyPageInfo;
extern OEMPrinterParams PrintPa;

// ---------------------------------------------------------------------------
// Model table and identification (identify.cpp)
// ---------------------------------------------------------------------------

struct OEMModel {
  std::uint32_t ProductId;
  const char *ModelName;
  std::int32_t HeadWidth;
  std::uint8_t RightAlign;
};

inline constexpr std::size_t kModelCount = 27;
extern const OEMModel PIDDatabase[kModelCount];

// Copies one model table row into PrintPa and sets Identified.
void ApplyModelRow(const OEMModel &row);
// The model of a USB device with these ids: the first table row with the
// product id, for the maker's two vendor ids only; null for anything else.
// Reads and writes no state, so the printer application asks it too.
const OEMModel *find_oem_model_by_usb_ids(std::uint16_t vendor, std::uint16_t product);
#ifndef DOTWEAVE_USB_SERIAL_ONLY
void normalize_model_text(const char *text, char *out, std::size_t size);
int set_oem_printer_from_text(const char *text);
#endif
int extract_serial_number(const char *uri, char *out, std::size_t size);
int get_usb_pid_by_serial(const char *serial, std::uint16_t *vendor, std::uint16_t *product);
void GetPrinterName();
// The model a model's own PPD names (*dotweaveModel), for printers that the
// device URI, the queue name and the USB devices do not identify.
void set_oem_printer_from_ppd(ppd_file_t *ppd);
// Writes the "WARNING" status line for a page that produced no printer
// output because its printer was not identified.
void ReportUnidentifiedPage();

// ---------------------------------------------------------------------------
// Page start and option readers (settings.cpp)
// ---------------------------------------------------------------------------

void OEMStartPage(ppd_file_t *ppd, const cups_page_header2_t *header);
void OEMSaveImagePrint(ppd_file_t *ppd);
void OEMSaveGrayLevel(ppd_file_t *ppd);
void OEMSaveDensity(ppd_file_t *ppd);
void OEMSaveSpeed(ppd_file_t *ppd);
void OEMSaveRotation(ppd_file_t *ppd);
void OEMSavePaperType(ppd_file_t *ppd);
void OEMSaveHorizentalADJ(ppd_file_t *ppd);
void OEMSaveVerticalADJ(ppd_file_t *ppd);
void OEMSaveUnidirectional(ppd_file_t *ppd);
void OEMSavePrintStartPosition(ppd_file_t *ppd);
void OEMSavePrintCutPosition(ppd_file_t *ppd);
void OEMSaveFixPageHeight(ppd_file_t *ppd);

// ---------------------------------------------------------------------------
// Page image pipeline (image.cpp)
// ---------------------------------------------------------------------------

void OEMWriteOriginalPageData(const unsigned char *line, std::uint64_t size);
// Where the next line of `size` bytes goes in the page image, when the image
// already has room for it; null otherwise (before the first line, after a
// failure). A line read there is appended without being copied.
unsigned char *OEMNextLineSlot(std::uint64_t size);
void OEMRGBToGray();
void OEMRotationPhotograph();
void Rotation_90();
void Rotation_180();
void Rotation_270();
extern const std::int8_t BayerDispersion[8][8];
void API_DitherColor();
void OEMCompressionData_NeedlePrinter();
void FindLineHorizental_1440();

// ---------------------------------------------------------------------------
// Command buffer, page emission and command streams (commands.cpp)
// ---------------------------------------------------------------------------

// A page-sized buffer for free and realloc, on huge pages where the kernel
// offers them (image.cpp); null for size 0 or when memory is exhausted.
// `populate` maps all of it at once, for a buffer that will mostly be
// written; otherwise only what is written becomes resident.
unsigned char *OEMAllocatePageBuffer(std::uint64_t size, bool populate);
void OEMWritePrintData(const void *data, std::uint64_t size);
void OEMEndPage();
void OrganizePrintInstructionOnePage();
void OEMDataTransferIntoPrinterInstructionFormat();
void OEMSendDataToPrinter();
void OEMRelease();

// Commands of both printer kinds (form chosen by IsNeedle).
void OEMSendSpeedCommand();
void OEMSendDensityCommand();
// Thermal commands and page framing.
void OEMSendGrayLevelCommand();
void OEMSendGrayLevelValueCommand();
void OEMSendPaperTypeCommand();
void OEMPrintDataPagerHeader_ThermalPrinter();
void OEMPrintDataLine_ThermalPrinter(const unsigned char *data, std::uint32_t length);
void OEMPrintDataPagerTail_ThermalPrinter();
void OEMDataThransfer_ThermalPrinter(std::uint32_t headWidth);
// Needle commands, bands and feeds.
void OEMSendUnidirectionalCommand();
void OEMSendPageLengthCommand();
void OEMSendPrintStartPositionCommand();
void OEMSendEndPageCommand();
void OEMSendPrintCutPositionCommand();
void OEMSendPaperFeedCommand(unsigned n);
void OEMSendImageHeaderCommand(unsigned n);
void OEMDataThransfer_Needle();
int OEMNeedlePrinter_FixedPageAlgorithm(std::uint8_t n, std::uint64_t *total);
int OEMCompensateEndPage(std::uint64_t *total);
