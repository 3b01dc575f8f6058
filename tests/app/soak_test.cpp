// The whole server under load: six printers of different families, four
// clients at once sending PWG raster, PNG, JPEG, PDF and raw ZPL, some jobs
// cancelled in flight and hostile documents mixed in. Every good job must
// come out byte for byte as when it was printed alone, every hostile one end
// aborted with a reason, every cancelled one canceled; the server must
// answer throughout, leave no child, descriptor or thread behind, keep its
// memory and log bounded and stop on SIGTERM within 10 s.
//
// DOTWEAVE_SOAK_JOBS sets the number of jobs of the loaded part (480).
#include <dirent.h>
#include <gtest/gtest.h>
#include <time.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include "app/app_server.h"

using namespace dwtest;

namespace {

using Clock = std::chrono::steady_clock;

struct Doc {
  std::string name, printer, file, format;
  bool good = true;
  bool spooled = true;  // false for raster, whose client waits until it has printed
};

RasterPage Pattern(unsigned w, unsigned h, unsigned bits, unsigned dpi) {
  RasterPage p{MakeHeader(w, h, bits, dpi), {}};
  const unsigned bpl = bits == 1 ? (w + 7) / 8 : w * 3;
  p.header.cupsBytesPerLine = bpl;
  p.data.assign(std::size_t{bpl} * h, bits == 1 ? 0 : 0xFF);
  for (unsigned y = 0; y < h; ++y)
    for (unsigned x = 0; x < w; ++x) {
      const bool black = x < 4 || y < 4 || x >= w - 4 || y >= h - 4 || ((x / 9 + y / 13) % 5 == 0);
      if (!black) continue;
      if (bits == 1) p.data[std::size_t{y} * bpl + x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
      else for (unsigned c = 0; c < 3; ++c) p.data[std::size_t{y} * bpl + x * 3 + c] = 0;
    }
  return p;
}

Bytes GrayPattern(unsigned w, unsigned h) {
  Bytes g(std::size_t{w} * h, 255);
  for (unsigned y = 0; y < h; ++y)
    for (unsigned x = 0; x < w; ++x)
      if (x < 4 || y < 4 || x >= w - 4 || y >= h - 4 || (x / 11 + y / 7) % 4 == 0) g[std::size_t{y} * w + x] = 0;
  return g;
}

void AppendChunk(std::string &png, const char *type, const std::string &data) {
  const auto n = static_cast<std::uint32_t>(data.size());
  for (int s = 24; s >= 0; s -= 8) png += static_cast<char>(n >> s);
  const std::string body = std::string(type, 4) + data;
  png += body;
  const uLong crc = crc32(0, reinterpret_cast<const Bytef *>(body.data()), static_cast<uInt>(body.size()));
  for (int s = 24; s >= 0; s -= 8) png += static_cast<char>(crc >> s);
}

// A PNG header declaring width x height gray pixels, with one row of data.
std::string PngDeclaring(std::uint32_t width, std::uint32_t height) {
  std::string png = "\x89PNG\r\n\x1a\n", ihdr;
  for (std::uint32_t v : {width, height})
    for (int s = 24; s >= 0; s -= 8) ihdr += static_cast<char>(v >> s);
  ihdr += std::string("\x08\x00\x00\x00\x00", 5);
  AppendChunk(png, "IHDR", ihdr);
  const std::string row(65, '\0');
  uLongf size = compressBound(65);
  std::string z(size, '\0');
  compress(reinterpret_cast<Bytef *>(z.data()), &size, reinterpret_cast<const Bytef *>(row.data()), 65);
  z.resize(size);
  AppendChunk(png, "IDAT", z);
  AppendChunk(png, "IEND", "");
  return png;
}

bool Gs(const std::string &args) {
  return std::system(("gs -q -dSAFER -dBATCH -dNOPAUSE " + args + " >/dev/null 2>&1").c_str()) == 0;
}

int JobsFromEnvironment() {
  const char *n = std::getenv("DOTWEAVE_SOAK_JOBS");
  return n && *n ? std::max(30, std::atoi(n)) : 480;
}

std::size_t FileSize(const std::string &path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<std::size_t>(st.st_size) : 0;
}

struct Result {
  Doc doc;
  JobOutcome job;
  bool cancelRequested = false, cancelAccepted = false;
  double cancelSeconds = 0;
  bool busy = false;  // refused with server-error-busy
  std::string output;
};

struct Documents {
  std::vector<Doc> good, hostile;
  std::string png, pdf;
};

// The soak's documents: good ones for each printer, and hostile ones.
Documents MakeDocuments(const TempDir &dir) {
  const std::string sample = std::string(DOTWEAVE_SOURCE_DIR) + "/samples/label-4x6.ps";
  const std::string pdf = dir.path() + "/label.pdf", jpg = dir.path() + "/label.jpg";
  if (!Gs("-sDEVICE=pdfwrite -o " + pdf + " " + sample) || !Gs("-sDEVICE=jpeggray -r100 -o " + jpg + " " + sample))
    return {};

  const std::string label1 = PwgRasterFile(dir, "label1.pwg", {Pattern(812, 300, 1, 203)});
  const std::string dymo1 = PwgRasterFile(dir, "dymo1.pwg", {Pattern(600, 300, 1, 300)});
  const std::string thermal = PwgRasterFile(dir, "thermal.pwg", {GrayPageOf(Pattern(832, 240, 24, 203))});
  const std::string needle = PwgRasterFile(dir, "needle.pwg", {GrayPageOf(Pattern(1440, 120, 24, 180))});
  const std::string png = PngFile(dir, "label.png", 812, 400, GrayPattern(812, 400), 1, 203);
  const std::string zpl = dir.Write("label.zpl", "^XA^FO50,50^GB300,200,8^FS^FO80,300^A0N,40,40^FDdotweave^FS^XZ\n");

  const std::vector<Doc> good = {
      {"zpl-pwg", "zpl", label1, "image/pwg-raster", true, false}, {"zpl-png", "zpl", png, "image/png"},
      {"zpl-jpg", "zpl", jpg, "image/jpeg"},                       {"zpl-pdf", "zpl", pdf, "application/pdf"},
      {"zpl-raw", "zpl", zpl, "application/vnd.zebra-zpl"},        {"epl-pwg", "eplpage", label1, "image/pwg-raster", true, false},
      {"epl-png", "eplpage", png, "image/png"},                    {"epl-pdf", "eplpage", pdf, "application/pdf"},
      {"dymo-pwg", "dymo", dymo1, "image/pwg-raster", true, false}, {"dymo-jpg", "dymo", jpg, "image/jpeg"},
      {"pcl-pwg", "pcl", label1, "image/pwg-raster", true, false}, {"pcl-png", "pcl", png, "image/png"},
      {"kv-pwg", "kv412", thermal, "image/pwg-raster", true, false}, {"kv-png", "kv412", png, "image/png"},
      {"kv-jpg", "kv412", jpg, "image/jpeg"},                      {"kv-pdf", "kv412", pdf, "application/pdf"},
      {"needle-pwg", "needle", needle, "image/pwg-raster", true, false}, {"needle-png", "needle", png, "image/png"},
  };
  const std::string thermalBytes = ReadFile(thermal);
  RasterPage absurd = Pattern(832, 8, 24, 203);
  absurd.header.cupsWidth = 4000000;
  absurd.header.cupsBytesPerLine = 12000000;
  absurd.header.cupsHeight = 3000000;
  std::string noise(40000, '\0');
  std::mt19937 bytes(7);
  for (char &c : noise) c = static_cast<char>(bytes());
  const std::vector<Doc> hostile = {
      {"huge-png", "zpl", dir.Write("huge.png", PngDeclaring(100000, 100000)), "image/png", false},
      {"cut-png", "kv412", dir.Write("cut.png", PngDeclaring(2000, 2000)), "image/png", false},
      {"cut-jpg", "dymo", dir.Write("cut.jpg", ReadFile(jpg).substr(0, FileSize(jpg) / 2)), "image/jpeg", false},
      {"huge-jpg", "needle", dir.Write("huge.jpg", std::string("\xFF\xD8\xFF\xC0\x00\x0B\x08\xFF\xFF\xFF\xFF\x01\x01\x11\x00", 15)),
       "image/jpeg", false},
      {"cut-pwg", "kv412", dir.Write("cut.pwg", thermalBytes.substr(0, thermalBytes.size() / 2)), "image/pwg-raster",
       false, false},
      {"absurd-pwg", "zpl", dir.Write("absurd.pwg", RawRaster(absurd.header, Bytes(1000, 0))), "image/pwg-raster",
       false, false},
      {"bad-pdf", "eplpage", dir.Write("bad.pdf", "%PDF-1.4\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R"), "application/pdf",
       false},
      {"noise", "pcl", dir.Write("noise.bin", noise), "application/octet-stream", false},
      {"noise-jpg", "kv412", dir.Write("noise.jpg", "\xFF\xD8\xFF" + noise), "image/jpeg", false},
  };

  return Documents{good, hostile, png, pdf};
}

const std::vector<std::pair<std::string, std::string>> kPrinters = {
    {"zpl", "dotweave-zpl"}, {"eplpage", "dotweave-epl-page"}, {"dymo", "dotweave-dymo"},
    {"pcl", "dotweave-pcl"}, {"kv412", "kv412-a"},           {"needle", "lc586-a"}};

TEST(AppSoak, ManyClientsGoodHostileAndCancelledJobs) {
  TempDir dir;
  const Documents docs = MakeDocuments(dir);
  ASSERT_FALSE(docs.good.empty()) << "Ghostscript could not make the documents";
  const std::vector<Doc> &good = docs.good, &hostile = docs.hostile;
  const std::string &png = docs.png, &pdf = docs.pdf;
  // DOTWEAVE_SOAK_LOG_LEVEL sets the server's log level (debug).
  const char *level = std::getenv("DOTWEAVE_SOAK_LOG_LEVEL");
  AppServer server(std::map<std::string, std::string>{{"DOTWEAVE_APP_LOG_LEVEL", level && *level ? level : "debug"}});
  ASSERT_TRUE(server.running());
  // DOTWEAVE_SOAK_KEEP_LOG=FILE keeps the server's log, pass or fail.
  struct KeepLog {
    const AppServer &server;
    ~KeepLog() {
      if (const char *keep = std::getenv("DOTWEAVE_SOAK_KEEP_LOG"); keep && *keep) {
        std::ofstream(keep) << server.log();
      }
    }
  } keepLog{server};
  for (const auto &[name, driver] : kPrinters) ASSERT_TRUE(server.AddPrinter(name, driver)) << name;

  // Each good document printed alone: the reference. Then the warm-up goes
  // on to 50 jobs.
  std::map<std::string, std::string> reference;
  int warmup = 0;
  for (int round = 0; warmup < 50; ++round)
    for (const Doc &d : good) {
      if (warmup >= 50 && round > 0) break;
      const JobOutcome j = server.Print(d.printer, d.file, d.format);
      ++warmup;
      ASSERT_EQ(j.state, IPP_JSTATE_COMPLETED) << d.name << ": " << j.submitMessage << " " << j.message << server.jobLog();
      const std::string out = server.Output(d.printer, j);
      ASSERT_FALSE(out.empty()) << d.name;
      if (round == 0) reference[d.name] = out;
      else EXPECT_EQ(out, reference[d.name]) << d.name << " printed alone twice differs";
    }
  // The server hands freed memory back once its jobs have been quiet for
  // two seconds: both sizes are taken after that.
  std::this_thread::sleep_for(std::chrono::milliseconds(3500));
  const long rssWarm = server.RssKilobytes();
  const int threadsWarm = server.ThreadCount(), fdsWarm = server.DescriptorCount();

  // The loaded part: about one job in eight hostile, one spooled good job in
  // six cancelled as soon as it is accepted.
  const int total = JobsFromEnvironment();
  std::vector<Result> plan;
  std::mt19937 rng(17);
  for (int i = 0; i < total; ++i) {
    Result r;
    r.doc = i % 8 == 7 ? hostile[static_cast<std::size_t>(i / 8) % hostile.size()] : good[rng() % good.size()];
    r.cancelRequested = r.doc.good && r.doc.spooled && rng() % 6 == 0;
    plan.push_back(r);
  }
  std::shuffle(plan.begin(), plan.end(), rng);

  std::atomic<std::size_t> next{0};
  std::atomic<bool> done{false};
  std::atomic<int> unanswered{0}, probes{0};
  std::thread monitor([&] {
    while (!done) {
      ++probes;
      if (!server.Answers("zpl", 5)) ++unanswered;
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
  });
  const auto start = Clock::now();
  std::vector<std::thread> clients;
  for (int c = 0; c < 4; ++c)
    clients.emplace_back([&] {
      for (std::size_t i; (i = next++) < plan.size();) {
        Result &r = plan[i];
        // A raster job's answer comes once it has printed, in its turn.
        JobOutcome j = server.Submit(r.doc.printer, r.doc.file, r.doc.format);
        r.busy = j.submitStatus == IPP_STATUS_ERROR_BUSY;
        const auto cancelAt = Clock::now();
        if (r.cancelRequested && j.id > 0) r.cancelAccepted = server.Cancel(r.doc.printer, j.id);
        r.job = server.Wait(r.doc.printer, j, 180);
        if (r.cancelAccepted) r.cancelSeconds = std::chrono::duration<double>(Clock::now() - cancelAt).count();
        if (r.job.state == IPP_JSTATE_COMPLETED) r.output = server.Output(r.doc.printer, r.job);
      }
    });
  for (std::thread &t : clients) t.join();
  done = true;
  monitor.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

  int waitStatus = 0;
  ASSERT_EQ(waitpid(server.pid(), &waitStatus, WNOHANG), 0)
      << "the server ended (status " << waitStatus << "): " << ReadFile(server.stateDir() + "/server.out").substr(0, 4000)
      << server.jobLog();
  int completed = 0, aborted = 0, canceled = 0, busy = 0, overlapped = 0;
  for (const Result &r : plan) {
    SCOPED_TRACE(r.doc.name + " job " + std::to_string(r.job.id) + " (" + r.job.name + ")");
    busy += r.busy;
    if (!r.doc.good) {
      const bool refused = r.job.id == 0 && r.job.submitStatus >= IPP_STATUS_ERROR_BAD_REQUEST;
      EXPECT_TRUE(refused || r.job.state == IPP_JSTATE_ABORTED) << r.job.state << " " << r.job.submitMessage;
      EXPECT_TRUE(refused || !r.job.message.empty() || r.job.reasons.find("document") != std::string::npos)
          << "no reason: " << r.job.reasons;
      ++aborted;
    } else if (r.cancelAccepted && r.job.state == IPP_JSTATE_ABORTED &&
               r.job.message.find("Cancel-Job removed it") != std::string::npos) {
      // PAPPL started the job as Cancel-Job removed its document, and it
      // did not read as canceled: nothing printed, the reason given.
      ++canceled;
    } else if (r.cancelAccepted) {
      EXPECT_EQ(r.job.state, IPP_JSTATE_CANCELED) << r.job.message;
      EXPECT_LT(r.cancelSeconds, 5.0);
      ++canceled;
    } else if (r.job.state == IPP_JSTATE_ABORTED &&
               r.job.message.find("was printing on this printer when this one was started") != std::string::npos) {
      // Two jobs given one printer at once: the second refused.
      ++overlapped;
    } else {
      ASSERT_EQ(r.job.state, IPP_JSTATE_COMPLETED) << r.job.submitStatus << " " << r.job.submitMessage << " "
                                                   << r.job.message << server.jobLog();
      EXPECT_TRUE(r.output == reference[r.doc.name]) << "output differs from the job printed alone";
      ++completed;
    }
  }
  EXPECT_EQ(unanswered.load(), 0) << "of " << probes.load() << " probes";
  std::printf("soak: %zu jobs in %.1f s: %d completed, %d hostile aborted, %d canceled; %d refused as busy; "
              "%d started beside another\n",
              plan.size(), seconds, completed, aborted, canceled, busy, overlapped);
  EXPECT_EQ(busy, 0);
  EXPECT_EQ(overlapped, 0);

  // Nothing left behind once the last job has ended (PAPPL's client threads
  // end a moment after their connection).
  const auto settle = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < settle && (server.ThreadCount() > threadsWarm || server.DescriptorCount() > fdsWarm ||
                                   !server.Children().empty()))
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(server.Children().empty());
  EXPECT_LE(server.ThreadCount(), threadsWarm);
  EXPECT_LE(server.DescriptorCount(), fdsWarm);
  std::this_thread::sleep_for(std::chrono::milliseconds(3500));
  const long rss = server.RssKilobytes();
  std::printf("soak: resident memory %ld kB after the warm-up, %ld kB after the run\n", rssWarm, rss);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  EXPECT_LT(rss - rssWarm, 8 * 1024) << rssWarm << " kB after the warm-up";
#endif
  // PAPPL rotates the log at 1 MiB and keeps one old file.
  EXPECT_LE(FileSize(server.stateDir() + "/dotweave-app.log"), 1100u * 1024);
  EXPECT_LE(FileSize(server.stateDir() + "/server.out"), 1024u * 1024);

  // SIGTERM with jobs in flight: the server stops within 10 s.
  for (int i = 0; i < 3; ++i) server.Submit("needle", png, "image/png", "copies=20");
  server.Submit("kv412", pdf, "application/pdf", "copies=50");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto stopAt = Clock::now();
  const int status = server.Stop();
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - stopAt).count(), 10.0);
  EXPECT_EQ(status, 0);
}

}  // namespace

namespace {

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

// When the job's last byte reached its file: device.
double LastByteSeconds(const std::string &outDir, const std::string &jobName) {
  DIR *d = opendir(outDir.c_str());
  if (d == nullptr) return 0;
  double when = 0;
  while (dirent *e = readdir(d)) {
    const std::string name = e->d_name;
    if (name.rfind(jobName + ".", 0) != 0) continue;
    struct stat st {};
    if (stat((outDir + "/" + name).c_str(), &st) == 0)
      when = static_cast<double>(st.st_mtim.tv_sec) + static_cast<double>(st.st_mtim.tv_nsec) / 1e9;
  }
  closedir(d);
  return when;
}

double WallSeconds() {
  timespec t{};
  clock_gettime(CLOCK_REALTIME, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

long PeakRssKilobytes(pid_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

}  // namespace

// Benchmarks, run by bench/app-soak-bench.sh (not by ctest): the soak's good
// jobs from four clients, and a server with 100 printers.
TEST(AppSoakBench, DISABLED_GoodJobs) {
  TempDir dir;
  const Documents docs = MakeDocuments(dir);
  ASSERT_FALSE(docs.good.empty());
  AppServer server(std::map<std::string, std::string>{{"DOTWEAVE_APP_LOG_LEVEL", "warn"}});
  ASSERT_TRUE(server.running());
  for (const auto &[name, driver] : kPrinters) ASSERT_TRUE(server.AddPrinter(name, driver)) << name;
  const int total = JobsFromEnvironment();
  std::vector<Doc> plan;
  for (int i = 0; i < total; ++i) plan.push_back(docs.good[static_cast<std::size_t>(i) % docs.good.size()]);
  std::vector<double> latency(plan.size(), 0);
  std::atomic<std::size_t> next{0};
  std::atomic<int> failed{0};
  const double start = WallSeconds();
  std::vector<std::thread> clients;
  for (int c = 0; c < 4; ++c)
    clients.emplace_back([&] {
      for (std::size_t i; (i = next++) < plan.size();) {
        const Doc &d = plan[i];
        const double submitted = WallSeconds();
        JobOutcome j = server.Submit(d.printer, d.file, d.format);
        while (j.submitStatus == IPP_STATUS_ERROR_BUSY) {
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
          j = server.Submit(d.printer, d.file, d.format);
        }
        j = server.Wait(d.printer, j, 120);
        if (j.state != IPP_JSTATE_COMPLETED) ++failed;
        else latency[i] = LastByteSeconds(server.outDir(d.printer), j.name) - submitted;
      }
    });
  for (std::thread &t : clients) t.join();
  const double seconds = WallSeconds() - start;
  EXPECT_EQ(failed.load(), 0);
  std::printf("good jobs: %d in %.1f s: %.1f jobs/s; submit to last device byte: median %.0f ms, p99 %.0f ms "
              "(busy retries included); peak resident memory %.1f MiB\n",
              total, seconds, total / seconds, 1000 * Percentile(latency, 0.5), 1000 * Percentile(latency, 0.99),
              static_cast<double>(PeakRssKilobytes(server.pid())) / 1024);
}

TEST(AppSoakBench, DISABLED_HundredPrinters) {
  AppServer server;
  ASSERT_TRUE(server.running());
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const long before = server.RssKilobytes();
  for (int i = 0; i < 100; ++i)
    ASSERT_TRUE(server.AddPrinter("p" + std::to_string(i), kPrinters[static_cast<std::size_t>(i) % kPrinters.size()].second));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const long after = server.RssKilobytes();
  const auto t0 = Clock::now();
  const FilterResult printers = server.Command("printers", {});
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
  EXPECT_EQ(printers.exitStatus, 0);
  std::printf("100 printers: %.1f kB of resident memory each (%ld kB before, %ld kB after); `printers` %.0f ms\n",
              static_cast<double>(after - before) / 100, before, after, ms);
}
