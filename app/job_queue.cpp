// Starting a printer's queued jobs, one at a time.
//
// PAPPL 1.3.1 starts the next job of a printer in _papplPrinterCheckJobs,
// which it calls whenever a job is spooled, a job ends, a held job is
// released or the printer resumes. That function reads whether the printer
// is processing a job before it takes the printer's lock, and the job
// thread it starts records itself as the printer's job only later, when it
// runs. Two calls close together (two clients spooling at once, or a job
// ending as another is spooled) therefore both see an idle printer and
// start two job threads on it. Both are handed the printer's one device;
// each prints into it, and the first to end closes it under the other,
// which then writes through a freed device (seen as interleaved output and
// as a crash of the server).
//
// The application defines that function itself; PAPPL calls it through the
// dynamic linker, so this definition is the one used. It starts a job
// thread only when none of ours is running on the printer, and a thread
// counts as running from the moment it is made until PAPPL has ended the
// job and closed the device. A check that finds a job running is
// remembered and made again when that thread is done.
#include <pthread.h>

#include <dlfcn.h>

#include <map>
#include <mutex>

#include "app/app.h"

// PAPPL's own job processing: start the job, print its document, end it and
// close the printer's device. It is what PAPPL runs in each job thread.
extern "C" void *_papplJobProcess(pappl_job_t *job);
extern "C" void _papplPrinterCheckJobs(pappl_printer_t *printer);

namespace app {
namespace {

struct PrinterQueue {
  pappl_job_t *running = nullptr;  // the job our thread is processing
  bool checkAgain = false;         // a check came while it ran
};

std::mutex gQueueLock;
std::map<pappl_printer_t *, PrinterQueue> gQueues;  // printers not deleted

// The job the current thread is processing, if it is one of ours.
thread_local pappl_job_t *tProcessing = nullptr;
// Set while this thread closes a device it opened (see CloseDeviceThenStartJobs).
thread_local bool tClosingDevice = false;

// The first job waiting to print whose document has been spooled. A job
// whose document is still coming in (streamed PWG raster) has none yet and
// is left to the client thread that prints it.
void FirstPending(pappl_job_t *job, void *data) {
  auto *first = static_cast<pappl_job_t **>(data);
  if (*first == nullptr && papplJobGetState(job) == IPP_JSTATE_PENDING && papplJobGetFilename(job) != nullptr)
    *first = job;
}

void *ProcessJob(void *data) {
  auto *job = static_cast<pappl_job_t *>(data);
  pappl_printer_t *printer = papplJobGetPrinter(job);
  tProcessing = job;
  _papplJobProcess(job);
  tProcessing = nullptr;
  bool again = false;
  {
    std::lock_guard<std::mutex> lock(gQueueLock);
    // A printer deleted while it printed is gone now: nothing more to start.
    const auto it = gQueues.find(printer);
    if (it == gQueues.end() || it->second.running != job) return nullptr;
    it->second.running = nullptr;
    again = it->second.checkAgain;
    it->second.checkAgain = false;
  }
  if (again) StartNextJob(printer);
  return nullptr;
}

}  // namespace

void StartNextJob(pappl_printer_t *printer) {
  std::lock_guard<std::mutex> lock(gQueueLock);
  PrinterQueue &queue = gQueues[printer];
  if (queue.running != nullptr) {
    // PAPPL calls this from the job's own thread when it has ended the job
    // and closed the device: the next job may start now.
    if (tProcessing != queue.running) {
      queue.checkAgain = true;
      return;
    }
    queue.running = nullptr;
  }
  // papplPrinterCloseDevice asks for the next job before it closes the
  // device, and a job started then could be handed the device as it closes.
  if (tClosingDevice) return;
  // A stopped printer (paused, or no device) starts nothing until resumed.
  if (papplPrinterGetState(printer) == IPP_PSTATE_STOPPED) return;
  pappl_job_t *next = nullptr;
  papplPrinterIterateActiveJobs(printer, FirstPending, &next, 1, 0);
  if (next == nullptr) return;
  papplLogPrinter(printer, PAPPL_LOGLEVEL_DEBUG, "Starting job %d.", papplJobGetID(next));
  pthread_t thread;
  if (pthread_create(&thread, nullptr, ProcessJob, next) != 0) {
    papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "Unable to start a thread for job %d.", papplJobGetID(next));
    queue.checkAgain = true;
    return;
  }
  pthread_detach(thread);
  queue.running = next;
}

void CloseDeviceThenStartJobs(pappl_printer_t *printer) {
  tClosingDevice = true;
  papplPrinterCloseDevice(printer);
  tClosingDevice = false;
  StartNextJob(printer);
}

void ForgetPrinterQueue(pappl_printer_t *printer) {
  std::lock_guard<std::mutex> lock(gQueueLock);
  gQueues.erase(printer);
}

bool JobQueueInPlace() {
  return dlsym(RTLD_DEFAULT, "_papplPrinterCheckJobs") == reinterpret_cast<void *>(&_papplPrinterCheckJobs);
}

}  // namespace app

// The definition PAPPL's calls reach (see the top of this file).
extern "C" void _papplPrinterCheckJobs(pappl_printer_t *printer) { app::StartNextJob(printer); }
