// OEM printer command streams: the page's command buffer, the page end
// sequence, and the thermal and needle command sets.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dotweave/filter.h"
#include "oem/oem.h"

// ---------------------------------------------------------------------------
// Command buffer and page emission
// ---------------------------------------------------------------------------

void OEMWritePrintData(const void *data, std::uint64_t size) {
  // Once an append has failed the page is incomplete; it is never sent, so
  // further appends are pointless.
  if (MyPageInfo.PageFailed || size == 0) return;
  void *grown = std::realloc(MyPageInfo.CommandData, MyPageInfo.CommandSize + size);
  if (grown == nullptr) {
    MyPageInfo.PageFailed = 1;
    FailJob("Unable to allocate memory for the printer commands.");
    return;
  }
  MyPageInfo.CommandData = static_cast<unsigned char *>(grown);
  std::memcpy(MyPageInfo.CommandData + MyPageInfo.CommandSize, data, size);
  MyPageInfo.CommandSize += size;
}

void OEMEndPage() {
  OEMRGBToGray();
  OEMRotationPhotograph();
  API_DitherColor();
  OEMCompressionData_NeedlePrinter();
  FindLineHorizental_1440();
  OrganizePrintInstructionOnePage();
  OEMSendDataToPrinter();
  OEMRelease();
}

void OrganizePrintInstructionOnePage() {
  if (PrintPa.IsNeedle) {
    static constexpr unsigned char kZeros[64] = {};
    OEMWritePrintData(kZeros, sizeof kZeros);
    OEMSendDensityCommand();
    OEMSendUnidirectionalCommand();
    OEMSendSpeedCommand();
    OEMSendPageLengthCommand();
    OEMSendPrintStartPositionCommand();
    OEMDataTransferIntoPrinterInstructionFormat();
    OEMSendEndPageCommand();
    OEMSendPrintCutPositionCommand();
  } else {
    static constexpr unsigned char kZeros[1000] = {};
    OEMWritePrintData(kZeros, sizeof kZeros);
    OEMSendSpeedCommand();
    OEMSendDensityCommand();
    OEMSendGrayLevelCommand();
    OEMSendGrayLevelValueCommand();
    OEMSendPaperTypeCommand();
    OEMPrintDataPagerHeader_ThermalPrinter();
    OEMDataTransferIntoPrinterInstructionFormat();
    OEMPrintDataPagerTail_ThermalPrinter();
  }
}

void OEMDataTransferIntoPrinterInstructionFormat() {
  switch (PrintPa.HeadWidth) {
    case 384: case 448: case 576: case 620: case 640: case 832:
      OEMDataThransfer_ThermalPrinter(static_cast<std::uint32_t>(PrintPa.HeadWidth));
      break;
    case 1440:
      OEMDataThransfer_Needle();
      break;
    default:
      break;  // no raster encoder for this head: the page carries no image
  }
}

void OEMSendDataToPrinter() {
  if (!PrintPa.Identified) return;
  // A page whose buffers could not be built is never sent in part.
  if (MyPageInfo.PageFailed) return;
  if (MyPageInfo.CommandData != nullptr)
    std::fwrite(MyPageInfo.CommandData, 1, MyPageInfo.CommandSize, stdout);
  std::fflush(stdout);
}

void OEMRelease() {
  if (MyPageInfo.ImageData != nullptr) std::free(MyPageInfo.ImageData);
  if (MyPageInfo.ReducedData != nullptr) std::free(MyPageInfo.ReducedData);
  if (MyPageInfo.CommandData != nullptr) std::free(MyPageInfo.CommandData);
}

// ---------------------------------------------------------------------------
// Thermal and needle command sets: not written yet, they append nothing.
// ---------------------------------------------------------------------------

void OEMSendSpeedCommand() {}
void OEMSendDensityCommand() {}
void OEMSendGrayLevelCommand() {}
void OEMSendGrayLevelValueCommand() {}
void OEMSendPaperTypeCommand() {}
void OEMPrintDataPagerHeader_ThermalPrinter() {}
void OEMPrintDataLine_ThermalPrinter(const unsigned char *, std::uint32_t) {}
void OEMPrintDataPagerTail_ThermalPrinter() {}
void OEMDataThransfer_ThermalPrinter(std::uint32_t) {}
void OEMSendUnidirectionalCommand() {}
void OEMSendPageLengthCommand() {}
void OEMSendPrintStartPositionCommand() {}
void OEMSendEndPageCommand() {}
void OEMSendPrintCutPositionCommand() {}
void OEMSendPaperFeedCommand(unsigned) {}
void OEMSendImageHeaderCommand(unsigned) {}
void OEMDataThransfer_Needle() {}
int OEMNeedlePrinter_FixedPageAlgorithm(std::uint8_t, std::uint64_t *) { return 1; }
int OEMCompensateEndPage(std::uint64_t *) { return 0; }
