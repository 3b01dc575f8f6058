// Every printer announced on DNS-SD, however it came. PAPPL 1.3.1 registers
// the printers it loads when it starts and those added on its web page, but
// not a printer made by IPP Create-Printer ("dotweave-app add"): that one
// stayed unseen by phones and laptops until the server restarted. PAPPL
// calls the creation callback for every printer it makes (Create-Printer,
// the web page, auto-add, and the printers it loads at start); setting the
// printer's DNS-SD name there registers it. A printer already registered
// keeps its one registration under the same name, and renaming (the
// printer's configuration page) and deleting a printer go through PAPPL's
// own registration.
#include "app/app.h"

namespace app {

void PrinterCreated(pappl_printer_t *printer, void *) {
  char name[256] = "";
  papplPrinterGetDNSSDName(printer, name, sizeof name);
  papplPrinterSetDNSSDName(printer, name[0] ? name : papplPrinterGetName(printer));
}

}  // namespace app
