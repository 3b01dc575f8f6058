// OEM printer identification: the model table and the recognition of the
// attached model. The lookup itself is not written yet: no printer is
// identified, so no OEM page reaches the printer.
#include "oem/oem.h"

const OEMModel PIDDatabase[kModelCount] = {
    {0x9401, "KV412 A", 832, 0},  {0x9402, "KV416 A", 832, 0},   {0x9403, "RQN253 A", 832, 0},
    {0x5541, "KV412Max", 832, 0}, {0x9411, "KV412 AK", 832, 0},  {0x9412, "KV416 AK", 832, 0},
    {0x9422, "KV416 CK", 832, 0}, {0x9421, "KV412 CK", 832, 0},  {0x9301, "KV414 A", 640, 0},
    {0x9302, "RQN739 A", 640, 0}, {0x9311, "KV414 AK", 640, 0},  {0x9312, "KV158 AK", 576, 1},
    {0x9313, "KV961 AK", 576, 0}, {0x9201, "KV418 A", 384, 0},   {0x9202, "KV419 A", 384, 0},
    {0x9211, "KV418 AK", 384, 1}, {0x9212, "KV419 AK", 384, 1},  {0xDF01, "MB739 A", 1440, 0},
    {0xDF02, "LC586 A", 1440, 0}, {0xDF03, "WX3333 A", 1440, 0}, {0x900D, "WX2222", 1440, 0},
    {0xDF04, "MB504 A", 1440, 0}, {0xDF05, "MB504E A", 1440, 0}, {0xDF06, "FE827 A", 1440, 0},
    {0xDF07, "FH827 A", 1440, 0}, {0xDF11, "LC586 AK", 1440, 0}, {0xDF12, "LC586 AKM", 1440, 0},
};

void ApplyModelRow(const OEMModel &row) {
  PrintPa.Identified = 1;
  PrintPa.HeadWidth = row.HeadWidth;
  PrintPa.RightAlign = row.RightAlign;
  PrintPa.IsNeedle = row.HeadWidth == 1440 ? 1 : 0;
}

void GetPrinterName() {}
int extract_serial_number(const char *, char *, std::size_t) { return 0; }
int get_usb_pid_by_serial(const char *, std::uint16_t *, std::uint16_t *) { return 0; }
