// Which job a printer prints next, one at a time.
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
// PWG and Apple raster PAPPL prints from the client's thread while the
// document streams in (_papplJobCopyDocumentData), outside its queue: to a
// busy printer it answers server-error-busy and drops the job, and its own
// check of "busy" is made before the printing job has marked the printer,
// so a streamed job could also start beside a queued one.
//
// The application defines both functions itself; PAPPL calls them through
// the dynamic linker, so these definitions are the ones used. A printer is
// given to one job at a time: a job thread of ours, from the moment it is
// made until PAPPL has ended the job and closed the device, or a raster job
// whose client waits for its turn here (PAPPL answers a raster Print-Job
// only once it has printed, so the client was waiting anyway) and then
// streams through PAPPL's own raster path. Turns go by job number.
#include <pthread.h>

#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "app/app.h"

// PAPPL's own job processing: start the job, print its document, end it and
// close the printer's device. It is what PAPPL runs in each job thread.
extern "C" void *_papplJobProcess(pappl_job_t *job);
extern "C" void _papplPrinterCheckJobs(pappl_printer_t *printer);
extern "C" void _papplJobCopyDocumentData(pappl_client_t *client, pappl_job_t *job);

namespace app {
namespace {

using namespace std::chrono_literals;

// A raster client waits this long at most; then PAPPL's own answer stands.
constexpr auto kRasterWaitLimit = 30min;

struct PrinterQueue {
  pappl_job_t *running = nullptr;    // the job our thread is processing
  pappl_job_t *streaming = nullptr;  // the raster job whose turn it is
  std::vector<std::pair<int, pappl_job_t *>> waiting;  // raster jobs by number
  bool deleted = false;
};

std::mutex gQueueLock;
std::condition_variable gTurn;
std::map<pappl_printer_t *, std::shared_ptr<PrinterQueue>> gQueues;  // printers not deleted

// The job the current thread is processing, if it is one of ours.
thread_local pappl_job_t *tProcessing = nullptr;
// Set while this thread closes a device it opened (see CloseDeviceThenStartJobs).
thread_local bool tClosingDevice = false;

std::shared_ptr<PrinterQueue> QueueOf(pappl_printer_t *printer) {
  std::shared_ptr<PrinterQueue> &queue = gQueues[printer];
  if (!queue) queue = std::make_shared<PrinterQueue>();
  return queue;
}

// The first job waiting to print whose document has been spooled. A raster
// job has none: it waits in the queue's list.
void FirstPending(pappl_job_t *job, void *data) {
  auto *first = static_cast<pappl_job_t **>(data);
  if (*first == nullptr && papplJobGetState(job) == IPP_JSTATE_PENDING && papplJobGetFilename(job) != nullptr)
    *first = job;
}

struct Started {
  pappl_job_t *job;
  std::shared_ptr<PrinterQueue> queue;
};

void Dispatch(pappl_printer_t *printer, PrinterQueue &queue);

void *ProcessJob(void *data) {
  std::unique_ptr<Started> started(static_cast<Started *>(data));
  pappl_job_t *job = started->job;
  pappl_printer_t *printer = papplJobGetPrinter(job);
  tProcessing = job;
  _papplJobProcess(job);
  tProcessing = nullptr;
  std::lock_guard<std::mutex> lock(gQueueLock);
  started->queue->running = nullptr;
  // A printer deleted while it printed is gone now: nothing more to start.
  if (!started->queue->deleted) Dispatch(printer, *started->queue);
  return nullptr;
}

// Gives an idle printer to its next job. Called under gQueueLock whenever a
// printer may have become free or gained a job.
void Dispatch(pappl_printer_t *printer, PrinterQueue &queue) {
  if (queue.deleted || queue.running != nullptr || queue.streaming != nullptr) return;
  // papplPrinterCloseDevice asks for the next job before it closes the
  // device, and a job started then could be handed the device as it closes.
  if (tClosingDevice) return;
  // A stopped printer (paused, or no device) starts nothing until resumed.
  if (papplPrinterGetState(printer) == IPP_PSTATE_STOPPED) return;
  pappl_job_t *next = nullptr;
  papplPrinterIterateActiveJobs(printer, FirstPending, &next, 1, 0);
  const auto raster = std::min_element(queue.waiting.begin(), queue.waiting.end());
  if (raster != queue.waiting.end() && (next == nullptr || raster->first < papplJobGetID(next))) {
    queue.streaming = raster->second;
    gTurn.notify_all();
    return;
  }
  if (next == nullptr) return;
  papplLogPrinter(printer, PAPPL_LOGLEVEL_DEBUG, "Starting job %d.", papplJobGetID(next));
  auto *started = new Started{next, QueueOf(printer)};
  pthread_t thread;
  if (pthread_create(&thread, nullptr, ProcessJob, started) != 0) {
    papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "Unable to start a thread for job %d.", papplJobGetID(next));
    delete started;
    return;
  }
  pthread_detach(thread);
  queue.running = next;
}

using CopyDocument = void (*)(pappl_client_t *, pappl_job_t *);

CopyDocument PapplCopyDocument() {
  static const auto copy = reinterpret_cast<CopyDocument>(dlsym(RTLD_NEXT, "_papplJobCopyDocumentData"));
  return copy;
}

bool IsRaster(const char *format) {
  return format && (std::strcmp(format, "image/pwg-raster") == 0 || std::strcmp(format, "image/urf") == 0);
}

}  // namespace

void StartNextJob(pappl_printer_t *printer) {
  std::lock_guard<std::mutex> lock(gQueueLock);
  const std::shared_ptr<PrinterQueue> queue = QueueOf(printer);
  // PAPPL calls this from the job's own thread once it has ended the job;
  // that thread gives the printer on when PAPPL is done with it.
  if (queue->running != nullptr && tProcessing == queue->running) return;
  Dispatch(printer, *queue);
}

namespace {

void CopyDocumentInTurn(pappl_client_t *client, pappl_job_t *job) {
  const CopyDocument copy = PapplCopyDocument();
  if (copy == nullptr) {
    papplClientRespondIPP(client, IPP_STATUS_ERROR_INTERNAL, "The document cannot be received.");
    return;
  }
  if (!IsRaster(papplJobGetFormat(job))) return copy(client, job);
  pappl_printer_t *printer = papplJobGetPrinter(job);
  std::shared_ptr<PrinterQueue> queue;
  bool granted = false, gone = false;
  {
    std::unique_lock<std::mutex> lock(gQueueLock);
    queue = QueueOf(printer);
    queue->waiting.emplace_back(papplJobGetID(job), job);
    Dispatch(printer, *queue);
    const auto deadline = std::chrono::steady_clock::now() + kRasterWaitLimit;
    while (queue->streaming != job && !queue->deleted && !papplJobIsCanceled(job) && !ServerStopping() &&
           std::chrono::steady_clock::now() < deadline)
      gTurn.wait_for(lock, 200ms);
    queue->waiting.erase(std::find(queue->waiting.begin(), queue->waiting.end(), std::make_pair(papplJobGetID(job), job)));
    granted = queue->streaming == job;
    gone = queue->deleted;
  }
  if (!granted && !gone && !papplJobIsCanceled(job) && !ServerStopping())
    papplLogJob(job, PAPPL_LOGLEVEL_WARN, "The printer was not free within %d minutes.",
                static_cast<int>(std::chrono::duration_cast<std::chrono::minutes>(kRasterWaitLimit).count()));
  copy(client, job);
  std::lock_guard<std::mutex> lock(gQueueLock);
  if (queue->streaming == job) queue->streaming = nullptr;
  if (!queue->deleted) Dispatch(printer, *queue);
}

}  // namespace

void CloseDeviceThenStartJobs(pappl_printer_t *printer) {
  tClosingDevice = true;
  papplPrinterCloseDevice(printer);
  tClosingDevice = false;
  StartNextJob(printer);
}

void ForgetPrinterQueue(pappl_printer_t *printer) {
  std::lock_guard<std::mutex> lock(gQueueLock);
  const auto it = gQueues.find(printer);
  if (it == gQueues.end()) return;
  it->second->deleted = true;
  gQueues.erase(it);
  gTurn.notify_all();
}

bool JobQueueInPlace() {
  return dlsym(RTLD_DEFAULT, "_papplPrinterCheckJobs") == reinterpret_cast<void *>(&_papplPrinterCheckJobs) &&
         dlsym(RTLD_DEFAULT, "_papplJobCopyDocumentData") == reinterpret_cast<void *>(&_papplJobCopyDocumentData) &&
         PapplCopyDocument() != nullptr;
}

}  // namespace app

// The definitions PAPPL's calls reach (see the top of this file).
extern "C" void _papplPrinterCheckJobs(pappl_printer_t *printer) { app::StartNextJob(printer); }
extern "C" void _papplJobCopyDocumentData(pappl_client_t *client, pappl_job_t *job) {
  app::CopyDocumentInTurn(client, job);
}
