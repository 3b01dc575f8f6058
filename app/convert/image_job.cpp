// PNG and JPEG jobs: the dotweave-image child decodes the document under its
// limits, and its pixels go to PAPPL's image printing (scaled and placed on
// the media by the job's options, as PAPPL's own PNG path does), which hands
// the pages to the driver's raster callbacks. Nothing of the document is
// parsed in the server: only the child's header line, checked against the
// same limits, and exactly the pixels it announced.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/child_process.h"
#include "app/convert/image_decode.h"
#include "app/convert/supervised_child.h"

namespace app {
namespace {

using convert::SupervisedChild;

bool Fail(pappl_job_t *job, const std::string &why) {
  papplJobSetMessage(job, "%s", why.c_str());
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", why.c_str());
  return false;
}

// "DWIMG <width> <height> <channels> <ppi>", read a byte at a time.
bool ReadHeader(SupervisedChild &child, convert::ImageInfo &info) {
  std::string line;
  for (char c = 0; line.size() < 80;) {
    if (child.Read(&c, 1) != 1) return false;
    if (c == '\n') break;
    line += c;
  }
  unsigned width = 0, height = 0, channels = 0, ppi = 0;
  if (std::sscanf(line.c_str(), "DWIMG %u %u %u %u", &width, &height, &channels, &ppi) != 4) return false;
  info = {width, height, channels, ppi};
  return (channels == 1 || channels == 3) && convert::CheckImageSize(width, height, {}).empty();
}

// The reason a decoding failed, the child's own first.
std::string Reason(const SupervisedChild &child, int status) {
  if (child.stopped()) return child.stopReason();
  if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    if (sig == SIGXCPU || sig == SIGKILL || sig == SIGSEGV || sig == SIGABRT)
      return "The image could not be decoded within its limits (signal " + std::to_string(sig) + ").";
  }
  if (!child.lastError().empty()) return child.lastError();
  return "The image decoder failed.";
}

}  // namespace

bool ImageFilter(pappl_job_t *job, pappl_device_t *device, void *) {
  const JobActivity active(job);
  if (!active.owns()) return false;
  if (papplJobIsCanceled(job)) return true;  // canceled before it started: PAPPL has removed the document
  const char *file = papplJobGetFilename(job);
  const int fd = file ? open(file, O_RDONLY | O_CLOEXEC) : -1;
  if (fd < 0 && convert::CanceledAfterAll(job)) return true;  // PAPPL removes a canceled job's document
  if (fd < 0 && file == nullptr) return Fail(job, convert::kDocumentGone);
  if (fd < 0) return Fail(job, std::string("Unable to open the document: ") + std::strerror(errno));
  struct stat st {};
  fstat(fd, &st);
  const auto limit = convert::ConversionTime(st.st_size);
  convert::LogBudget budget;
  SupervisedChild child(job, "Image decoder", budget);
  child.SetDeadline(limit);
  const std::vector<std::string> args = {
      gPaths.imageDecoder, "--max-memory-mb", "768", "--max-cpu-seconds",
      std::to_string(std::chrono::duration_cast<std::chrono::seconds>(limit).count())};
  const bool started = child.Start(args, CurrentEnvironment(), fd);
  const int saved = errno;
  close(fd);
  if (!started)
    return Fail(job, "Unable to start the image decoder " + gPaths.imageDecoder + ": " + std::strerror(saved));

  convert::ImageInfo info;
  std::vector<unsigned char> pixels;
  bool ok = ReadHeader(child, info);
  if (ok) {
    try {
      pixels.resize(std::size_t{info.width} * info.height * info.channels);
    } catch (const std::bad_alloc &) {
      child.Kill("The server has no memory for the image.");
      ok = false;
    }
  }
  ok = ok && child.ReadExactly(pixels.data(), pixels.size());
  char extra;
  ok = ok && child.Read(&extra, 1) == 0;  // exactly the pixels it announced
  const int status = child.Finish();
  if (child.canceled()) return true;
  if (!ok || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return Fail(job, Reason(child, status));

  pappl_pr_options_t *options = papplJobCreatePrintOptions(job, 1, info.channels == 3);
  const bool printed = papplJobFilterImage(job, device, options, pixels.data(), static_cast<int>(info.width),
                                           static_cast<int>(info.height), static_cast<int>(info.channels),
                                           static_cast<int>(info.ppi), false);
  // PAPPL may return without the end-job callback (a canceled job): the
  // filter child and the job's state end here then.
  if (papplJobGetData(job)) EndJob(job, options, device);
  papplJobDeletePrintOptions(options);
  return printed || papplJobIsCanceled(job);  // PAPPL would call a canceled job that failed aborted
}

}  // namespace app
