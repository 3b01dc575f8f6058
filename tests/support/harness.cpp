#include "support/harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "dotweave/filter.h"
#include "oem/oem.h"

extern char **environ;

namespace dwtest {

// ---- Temporary files -------------------------------------------------------

TempDir::TempDir() {
  const char *base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/dotweave-test-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::Write(const std::string &name, const std::string &contents) const {
  const std::string file = path_ + "/" + name;
  std::ofstream out(file, std::ios::binary);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  return file;
}

std::string TempDir::Write(const std::string &name, const Bytes &contents) const {
  return Write(name, std::string(contents.begin(), contents.end()));
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// ---- CUPS raster -----------------------------------------------------------

cups_page_header2_t MakeHeader(unsigned width, unsigned height, unsigned bitsPerPixel, unsigned dpi,
                               unsigned ydpi) {
  cups_page_header2_t h;
  std::memset(&h, 0, sizeof h);
  h.HWResolution[0] = dpi;
  h.HWResolution[1] = ydpi ? ydpi : dpi;
  h.cupsWidth = width;
  h.cupsHeight = height;
  h.PageSize[0] = width * 72 / (dpi ? dpi : 1);
  h.PageSize[1] = height * 72 / (h.HWResolution[1] ? h.HWResolution[1] : 1);
  h.NumCopies = 1;
  h.cupsColorOrder = CUPS_ORDER_CHUNKED;
  switch (bitsPerPixel) {
    case 24:
      h.cupsBitsPerColor = 8;
      h.cupsBitsPerPixel = 24;
      h.cupsColorSpace = CUPS_CSPACE_SRGB;
      break;
    case 8:
      h.cupsBitsPerColor = 8;
      h.cupsBitsPerPixel = 8;
      h.cupsColorSpace = CUPS_CSPACE_SW;
      break;
    default:
      h.cupsBitsPerColor = 1;
      h.cupsBitsPerPixel = 1;
      h.cupsColorSpace = CUPS_CSPACE_K;
      break;
  }
  h.cupsBytesPerLine = (width * h.cupsBitsPerPixel + 7) / 8;
  h.cupsRowStep = 200;       // ZPL: no label top command
  h.AdvanceDistance = 1000;  // ZPL: no tear-off adjustment
  return h;
}

RasterPage UniformPage(const cups_page_header2_t &header, unsigned char fill) {
  RasterPage p{header, Bytes(static_cast<std::size_t>(header.cupsHeight) * header.cupsBytesPerLine, fill)};
  return p;
}

std::string WriteRaster(const std::vector<RasterPage> &pages, bool compressed) {
  TempDir dir;
  const std::string file = dir.path() + "/stream.ras";
  const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) throw std::runtime_error("cannot create raster file");
  cups_raster_t *ras = cupsRasterOpen(fd, compressed ? CUPS_RASTER_WRITE_COMPRESSED : CUPS_RASTER_WRITE);
  for (const RasterPage &page : pages) {
    cups_page_header2_t h = page.header;
    if (!cupsRasterWriteHeader2(ras, &h)) throw std::runtime_error("cupsRasterWriteHeader2 failed");
    const std::size_t full = static_cast<std::size_t>(h.cupsHeight) * h.cupsBytesPerLine;
    const std::size_t lines = h.cupsBytesPerLine ? page.data.size() / h.cupsBytesPerLine : 0;
    for (std::size_t y = 0; y < lines; ++y) {
      Bytes line(page.data.begin() + static_cast<std::ptrdiff_t>(y * h.cupsBytesPerLine),
                 page.data.begin() + static_cast<std::ptrdiff_t>((y + 1) * h.cupsBytesPerLine));
      cupsRasterWritePixels(ras, line.data(), h.cupsBytesPerLine);
    }
    if (page.data.size() < full) break;  // the stream is cut short here
  }
  cupsRasterClose(ras);
  close(fd);
  return ReadFile(file);
}

std::string RawRaster(const cups_page_header2_t &header, const Bytes &data) {
  // The sync word is written as a native 32-bit value, like the header.
  const std::uint32_t sync = CUPS_RASTER_SYNC;
  std::string s(reinterpret_cast<const char *>(&sync), sizeof sync);
  s.append(reinterpret_cast<const char *>(&header), sizeof header);
  s.append(data.begin(), data.end());
  return s;
}

// ---- PPD fixtures ----------------------------------------------------------

std::string MakePpd(int modelNumber, const std::vector<PpdOption> &options) {
  std::ostringstream p;
  p << "*PPD-Adobe: \"4.3\"\n"
       "*FormatVersion: \"4.3\"\n"
       "*FileVersion: \"1.0\"\n"
       "*LanguageVersion: English\n"
       "*LanguageEncoding: ISOLatin1\n"
       "*PCFileName: \"TEST.PPD\"\n"
       "*Manufacturer: \"Test\"\n"
       "*Product: \"(Test Printer)\"\n"
       "*ModelName: \"Test Printer\"\n"
       "*ShortNickName: \"Test Printer\"\n"
       "*NickName: \"Test Printer\"\n"
       "*PSVersion: \"(3010.000) 0\"\n"
       "*LanguageLevel: \"3\"\n"
       "*ColorDevice: False\n"
       "*DefaultColorSpace: Gray\n"
       "*FileSystem: False\n"
       "*Throughput: \"1\"\n"
       "*LandscapeOrientation: Plus90\n"
       "*TTRasterizer: Type42\n"
       "*cupsVersion: 2.4\n"
       "*cupsModelNumber: "
    << modelNumber
    << "\n"
       "*cupsManualCopies: True\n"
       "*cupsFilter: \"application/vnd.cups-raster 0 dotweave\"\n"
       "*OpenUI *PageSize/Media Size: PickOne\n"
       "*OrderDependency: 10 AnySetup *PageSize\n"
       "*DefaultPageSize: w288h432\n"
       "*PageSize w288h432/4 x 6 in: \"<</PageSize[288 432]/ImagingBBox null>>setpagedevice\"\n"
       "*CloseUI: *PageSize\n"
       "*OpenUI *PageRegion: PickOne\n"
       "*OrderDependency: 10 AnySetup *PageRegion\n"
       "*DefaultPageRegion: w288h432\n"
       "*PageRegion w288h432/4 x 6 in: \"<</PageSize[288 432]/ImagingBBox null>>setpagedevice\"\n"
       "*CloseUI: *PageRegion\n"
       "*DefaultImageableArea: w288h432\n"
       "*ImageableArea w288h432/4 x 6 in: \"0 0 288 432\"\n"
       "*DefaultPaperDimension: w288h432\n"
       "*PaperDimension w288h432/4 x 6 in: \"288 432\"\n";
  int order = 20;
  for (const PpdOption &o : options) {
    p << "*OpenUI *" << o.keyword << "/" << o.keyword << ": PickOne\n"
      << "*OrderDependency: " << order++ << " AnySetup *" << o.keyword << "\n"
      << "*Default" << o.keyword << ": " << o.defaultChoice << "\n";
    for (const std::string &c : o.choices)
      p << "*" << o.keyword << " " << c << "/" << c << ": \"\"\n";
    p << "*CloseUI: *" << o.keyword << "\n";
  }
  p << "*DefaultFont: Courier\n"
       "*Font Courier: Standard \"(001.004)\" Standard ROM\n";
  return p.str();
}

PpdPtr OpenPpd(const std::string &ppdText, const std::string &jobOptions) {
  TempDir dir;
  const std::string file = dir.Write("test.ppd", ppdText);
  PpdPtr ppd(ppdOpenFile(file.c_str()));
  if (!ppd) throw std::runtime_error("ppdOpenFile failed on the fixture");
  ppdMarkDefaults(ppd.get());
  cups_option_t *options = nullptr;
  const int n = cupsParseOptions(jobOptions.c_str(), 0, &options);
  cupsMarkOptions(ppd.get(), n, options);
  cupsFreeOptions(n, options);
  return ppd;
}

// ---- Running the filter binary ---------------------------------------------

namespace {

std::vector<std::string> ChildEnvironment(const FilterRun &run) {
  std::map<std::string, std::string> env;
  for (char **e = environ; *e != nullptr; ++e) {
    const std::string kv = *e;
    const auto eq = kv.find('=');
    if (eq != std::string::npos) env[kv.substr(0, eq)] = kv.substr(eq + 1);
  }
  env.erase("PPD");
  env.erase("DEVICE_URI");
  env.erase("PRINTER");
  for (const auto &[key, value] : run.env) {
    if (value) env[key] = *value;
    else env.erase(key);
  }
  std::vector<std::string> out;
  for (const auto &[key, value] : env) out.push_back(key + "=" + value);
  return out;
}

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

}  // namespace

FilterResult RunFilter(const FilterRun &run) {
  std::vector<std::string> argv = run.wrapper;
  argv.push_back(run.binary.empty() ? std::string(DOTWEAVE_BINARY) : run.binary);
  for (const std::string &a : run.args) argv.push_back(a);
  const std::vector<std::string> envStrings = ChildEnvironment(run);

  int inPipe[2], outPipe[2], errPipe[2];
  if (pipe(inPipe) || pipe(outPipe) || pipe(errPipe)) throw std::runtime_error("pipe failed");

  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(inPipe[0], 0);
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) close(fd);
    std::vector<char *> cargv;
    for (const std::string &a : argv) cargv.push_back(const_cast<char *>(a.c_str()));
    cargv.push_back(nullptr);
    std::vector<char *> cenv;
    for (const std::string &e : envStrings) cenv.push_back(const_cast<char *>(e.c_str()));
    cenv.push_back(nullptr);
    // PATH lookup for wrappers such as umockdev-run.
    for (const std::string &e : envStrings)
      if (e.rfind("PATH=", 0) == 0) setenv("PATH", e.c_str() + 5, 1);
    execvpe(cargv[0], cargv.data(), cenv.data());
    _exit(127);
  }
  close(inPipe[0]);
  close(outPipe[1]);
  close(errPipe[1]);
  SetNonBlocking(inPipe[1]);
  SetNonBlocking(outPipe[0]);
  SetNonBlocking(errPipe[0]);

  FilterResult result;
  std::size_t written = 0;
  const std::size_t holdBack = run.cancel ? std::min(run.cancel->holdBackAt, run.input.size()) : run.input.size();
  bool cancelSent = !run.cancel.has_value();
  int inFd = inPipe[1];
  bool outOpen = true, errOpen = true;
  signal(SIGPIPE, SIG_IGN);

  while (outOpen || errOpen) {
    const std::size_t limit = cancelSent ? run.input.size() : holdBack;
    if (inFd >= 0 && written >= run.input.size()) {
      close(inFd);
      inFd = -1;
    }
    if (!cancelSent && result.err.find(run.cancel->stderrMarker) != std::string::npos) {
      kill(pid, SIGTERM);
      cancelSent = true;
      continue;
    }
    pollfd fds[3];
    int n = 0;
    fds[n++] = {outOpen ? outPipe[0] : -1, POLLIN, 0};
    fds[n++] = {errOpen ? errPipe[0] : -1, POLLIN, 0};
    fds[n++] = {(inFd >= 0 && written < limit) ? inFd : -1, POLLOUT, 0};
    if (poll(fds, static_cast<nfds_t>(n), 30000) <= 0) break;  // a hung filter fails the test
    char buf[65536];
    if (fds[0].revents) {
      const ssize_t r = read(outPipe[0], buf, sizeof buf);
      if (r > 0) result.out.append(buf, static_cast<std::size_t>(r));
      else if (r == 0 || errno != EAGAIN) outOpen = false;
    }
    if (fds[1].revents) {
      const ssize_t r = read(errPipe[0], buf, sizeof buf);
      if (r > 0) result.err.append(buf, static_cast<std::size_t>(r));
      else if (r == 0 || errno != EAGAIN) errOpen = false;
    }
    if (fds[2].revents) {
      if (fds[2].revents & (POLLERR | POLLHUP)) {
        close(inFd);
        inFd = -1;
        written = run.input.size();
      } else {
        const ssize_t w = write(inFd, run.input.data() + written, limit - written);
        if (w > 0) written += static_cast<std::size_t>(w);
        else if (w < 0 && errno != EAGAIN) {
          close(inFd);
          inFd = -1;
          written = run.input.size();
        }
      }
    }
  }
  if (inFd >= 0) close(inFd);
  close(outPipe[0]);
  close(errPipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

// ---- In-process output capture ---------------------------------------------

std::string CaptureStdout(const std::function<void()> &fn) {
  std::fflush(stdout);
  char path[] = "/tmp/dotweave-capture-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  const int saved = dup(1);
  dup2(fd, 1);
  fn();
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  close(fd);
  std::string bytes = ReadFile(path);
  unlink(path);
  return bytes;
}

std::string Hex(const std::string &bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (unsigned char c : bytes) {
    if (!s.empty()) s += ' ';
    s += digits[c >> 4];
    s += digits[c & 15];
  }
  return s;
}

std::string Hex(const Bytes &bytes) { return Hex(std::string(bytes.begin(), bytes.end())); }

std::string FromHex(const std::string &hex) {
  std::string out;
  std::istringstream in(hex);
  std::string tok;
  while (in >> tok) out += static_cast<char>(std::stoul(tok, nullptr, 16));
  return out;
}

std::size_t CountOf(const std::string &hay, const std::string &needle) {
  std::size_t n = 0;
  for (std::size_t pos = hay.find(needle); pos != std::string::npos; pos = hay.find(needle, pos + needle.size()))
    ++n;
  return n;
}

void ResetFilterState() {
  Buffer = nullptr;
  Canceled = 0;
  CompBuffer = nullptr;
  Feed = 0;
  LastBuffer = nullptr;
  LastSet = 0;
  ModelNumber = 0;
  Page = 0;
  JobFailed = false;
  MyPageInfo = OEMPageInfo{};
  PrintPa = OEMPrinterParams{};
}

}  // namespace dwtest
