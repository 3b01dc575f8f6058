#pragma once
// dotweave-app: the printer application. Every catalogue printer is a PAPPL
// driver; a job's raster pages go to a dotweave filter child as a CUPS raster
// stream, and the child's output goes to the printer device.
#include <pappl/pappl.h>

#include <string>

#include "catalogue/catalogue.h"

namespace app {

// Where things are, fixed when the server starts.
struct Paths {
  std::string filter;     // the dotweave filter binary
  std::string ppdDir;     // the drivers' PPD files, written from the catalogue
  std::string ghostscript = "gs";
  std::string testPage;   // PNG printed by "print test page"
  std::string imageDecoder;  // dotweave-image, the PNG and JPEG decoder child
};
extern Paths gPaths;

// The driver list handed to PAPPL (one per catalogue printer) and the callback
// that fills a printer's driver data.
int DriverCount();
pappl_pr_driver_t *Drivers();
bool DriverCallback(pappl_system_t *system, const char *driver_name, const char *device_uri,
                    const char *device_id, pappl_pr_driver_data_t *data, ipp_t **attrs, void *cbdata);

// Adds the serial: device scheme after PAPPL's own ones.
void RegisterSerialScheme();
// Set before papplMainloop: the system is made only to list the drivers.
void ListOnlyDrivers(bool only);

// The vendor settings' labels and choice names as PAPPL localization
// strings (.strings text), and their registration with the system.
std::string VendorStrings();
void AddStrings(pappl_system_t *system);

// PAPPL's printer creation callback: announces the printer on DNS-SD.
void PrinterCreated(pappl_printer_t *printer, void *data);

// Sets the printer's supplies (all "unknown") when it has none yet.
void EnsureSupplies(pappl_printer_t *printer);

// The catalogue printer of a PAPPL printer.
const catalogue::Printer *PrinterOf(pappl_printer_t *printer);

// Raster job callbacks: the bridge to the filter child.
bool StartJob(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device);
bool StartPage(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device, unsigned page);
bool WriteLine(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device, unsigned y,
               const unsigned char *line);
bool EndPage(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device, unsigned page);
bool EndJob(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device);

// A document in the printer's own language, sent as it is.
bool PrintFile(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device);

// PDF documents: rendered by Ghostscript, then printed like raster pages.
bool PdfFilter(pappl_job_t *job, pappl_device_t *device, void *data);

// PNG and JPEG documents: decoded by the dotweave-image child, then printed
// by PAPPL's image printing through the raster callbacks.
bool ImageFilter(pappl_job_t *job, pappl_device_t *device, void *data);

// The driver format of the OEM printers, which have no language of their own
// that clients send. PAPPL takes a document through a filter registered for
// the driver's format before its own (its built-in PNG and JPEG readers run
// in the server process): the image filters are registered for each driver
// format, this one included.
inline constexpr const char *kOemDriverFormat = "application/vnd.dotweave-oem";

// A job our callbacks are working on: for the state save (main.cpp), and a
// claim on its printer. The job queue (job_queue.cpp) gives a printer to one
// job at a time; should PAPPL still start a second job on a printer, both
// would get the one device, which the first to end closes. The second job
// waits until the first has ended and fails without touching the device.
class JobActivity {
 public:
  explicit JobActivity(pappl_job_t *job);
  ~JobActivity();
  JobActivity(const JobActivity &) = delete;
  JobActivity &operator=(const JobActivity &) = delete;
  // False when another job holds the printer; the job is failed with the reason.
  bool owns() const { return owns_; }

 private:
  pappl_job_t *job_;
  bool owns_ = false;
};
// Gives the printer to its next job (a spooled one, or a PWG or Apple raster
// job whose client waits its turn) when no job has it (app/job_queue.cpp;
// PAPPL's own check can start two at once).
void StartNextJob(pappl_printer_t *printer);
// Closes a device opened with papplPrinterOpenDevice, then starts the next
// job: PAPPL starts it from inside the close, before the device is closed.
void CloseDeviceThenStartJobs(pappl_printer_t *printer);
// Called when a printer is deleted.
void ForgetPrinterQueue(pappl_printer_t *printer);
// True when PAPPL's calls reach the job queue.
bool JobQueueInPlace();

// True when no job has been worked on for `quiet` milliseconds.
bool JobsQuietFor(long long quietMilliseconds);
// True while one of our job callbacks works on a job of the printer.
bool JobInHand(pappl_printer_t *printer);

// Set when the server has been told to stop (SIGTERM, SIGINT, or PAPPL's
// own shutdown): jobs end at once instead of holding the shutdown up.
bool ServerStopping();

// Registers the document filters on a system that is not running yet.
void AddDocumentFilters(pappl_system_t *system);

}  // namespace app
