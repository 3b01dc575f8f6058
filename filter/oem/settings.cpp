// OEM page settings: the two process-wide records, the OEM page start, and
// the readers that take the OEM options from the marked PPD.
#include <cstring>

#include "oem/oem.h"

OEMPageInfo MyPageInfo{};
OEMPrinterParams PrintPa{};

void OEMStartPage(ppd_file_t *ppd, const cups_page_header2_t *header) {
  // The previous page's buffers were freed by its page end; forget them
  // without freeing them again.
  MyPageInfo.ImageData = nullptr;
  MyPageInfo.CommandData = nullptr;
  MyPageInfo.ImageSize = 0;
  MyPageInfo.CommandSize = 0;
  PrintPa.Identified = 0;
  MyPageInfo.ReducedData = nullptr;
  MyPageInfo.ReducedSize = 0;
  MyPageInfo.PageRows = 0;
  MyPageInfo.PayloadLength = 0;
  MyPageInfo.PageFailed = 0;

  GetPrinterName();

  MyPageInfo.Resolution[0] = header->HWResolution[0];
  MyPageInfo.Resolution[1] = header->HWResolution[1];
  MyPageInfo.BytesPerLine = header->cupsBytesPerLine;
  MyPageInfo.Width = header->cupsWidth;
  MyPageInfo.Height = header->cupsHeight;
  MyPageInfo.PageRows = header->cupsHeight;
  MyPageInfo.BitsPerPixel = header->cupsBitsPerPixel;
  MyPageInfo.ColorSpace = static_cast<std::uint32_t>(header->cupsColorSpace);

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

// The option readers are not written yet: settings keep their values.
void OEMSaveImagePrint(ppd_file_t *) {}
void OEMSaveGrayLevel(ppd_file_t *) {}
void OEMSaveDensity(ppd_file_t *) {}
void OEMSaveSpeed(ppd_file_t *) {}
void OEMSaveRotation(ppd_file_t *) {}
void OEMSavePaperType(ppd_file_t *) {}
void OEMSaveHorizentalADJ(ppd_file_t *) {}
void OEMSaveVerticalADJ(ppd_file_t *) {}
void OEMSaveUnidirectional(ppd_file_t *) {}
void OEMSavePrintStartPosition(ppd_file_t *) {}
void OEMSavePrintCutPosition(ppd_file_t *) {}
void OEMSaveFixPageHeight(ppd_file_t *) {}
