// The private dotweave-app server of the application tests.
#include "app/app_server.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <png.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char **environ;

namespace dwtest {
namespace {

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
    close(fd);
    throw std::runtime_error("no free port");
  }
  close(fd);
  return ntohs(addr.sin_port);
}

// The inodes of the sockets listening on a loopback or wildcard TCP port,
// from /proc/net/tcp and tcp6.
std::vector<std::string> ListeningInodes(int port) {
  std::vector<std::string> inodes;
  for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
      fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
      const std::size_t colon = local.rfind(':');
      if (state != "0A" || colon == std::string::npos) continue;
      if (std::stoi(local.substr(colon + 1), nullptr, 16) == port) inodes.push_back(inode);
    }
  }
  return inodes;
}

// How many of the sockets listening on `port` process `pid` holds, and how
// many there are.
std::pair<std::size_t, std::size_t> ListenersOn(pid_t pid, int port) {
  const std::vector<std::string> inodes = ListeningInodes(port);
  const std::string fdDir = "/proc/" + std::to_string(pid) + "/fd";
  DIR *dir = inodes.empty() ? nullptr : opendir(fdDir.c_str());
  if (dir == nullptr) return {0, inodes.size()};
  std::size_t owned = 0;
  while (dirent *entry = readdir(dir)) {
    char target[128];
    const ssize_t n = readlink((fdDir + "/" + entry->d_name).c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    target[n] = 0;
    for (const std::string &inode : inodes)
      if (std::string(target) == "socket:[" + inode + "]") ++owned;
  }
  closedir(dir);
  return {owned, inodes.size()};
}

http_t *Connect(int port) {
  return httpConnect2("localhost", port, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED, 1, 5000, nullptr);
}

std::string StringOf(ipp_t *ipp, const char *name) {
  ipp_attribute_t *a = ippFindAttribute(ipp, name, IPP_TAG_ZERO);
  if (a == nullptr) return "";
  char buf[1024];
  ippAttributeString(a, buf, sizeof buf);
  return buf;
}

bool IsInteger(const std::string &v) {
  std::size_t i = !v.empty() && v[0] == '-' ? 1 : 0;
  if (i >= v.size()) return false;
  for (; i < v.size(); ++i)
    if (v[i] < '0' || v[i] > '9') return false;
  return true;
}

// Job attributes as a client sends them: numbers as integers (enums for the
// enum attributes), "300dpi" as a resolution, the rest as libcups encodes
// options.
void AddJobAttributes(ipp_t *request, const std::string &options) {
  cups_option_t *opts = nullptr;
  const int count = cupsParseOptions(options.c_str(), 0, &opts);
  for (int i = 0; i < count; ++i) {
    const std::string value = opts[i].value;
    if (IsInteger(value)) {
      const bool isEnum = !std::strcmp(opts[i].name, "orientation-requested") ||
                          !std::strcmp(opts[i].name, "print-quality") || !std::strcmp(opts[i].name, "finishings");
      ippAddInteger(request, IPP_TAG_JOB, isEnum ? IPP_TAG_ENUM : IPP_TAG_INTEGER, opts[i].name, std::stoi(value));
    } else if (value.size() > 3 && value.compare(value.size() - 3, 3, "dpi") == 0 &&
               IsInteger(value.substr(0, value.size() - 3))) {
      const int dpi = std::stoi(value);
      ippAddResolution(request, IPP_TAG_JOB, opts[i].name, IPP_RES_PER_INCH, dpi, dpi);
    } else {
      cupsEncodeOption(request, IPP_TAG_JOB, opts[i].name, opts[i].value);
    }
  }
  cupsFreeOptions(count, opts);
}

}  // namespace

std::string AppBinary() { return DOTWEAVE_APP_BINARY; }

// Under LeakSanitizer, what PAPPL and libcups keep to the end is not ours.
std::string LsanOptions() {
  const char *given = std::getenv("LSAN_OPTIONS");
  return std::string(given && *given ? std::string(given) + ":" : "") + "suppressions=" DOTWEAVE_SOURCE_DIR
         "/tests/app/lsan-pappl.supp";
}

std::string PpdPath(const std::string &driver) { return std::string(DOTWEAVE_BUILD_DIR) + "/ppd/" + driver + ".ppd"; }

AppServer::AppServer(std::map<std::string, std::string> env, std::string stateDir) {
  if (stateDir.empty()) {
    ownDir_.emplace();
    stateDir_ = ownDir_->path();
  } else {
    stateDir_ = std::move(stateDir);
  }
  // A port found free can be taken by another test's server before this one
  // binds it: a server that could not listen exits, and the next port is tried.
  for (int attempt = 0; attempt < 5 && pid_ <= 0; ++attempt) Start(env);
}

void AppServer::Start(std::map<std::string, std::string> env) {
  port_ = FreePort();
  const std::string log = stateDir_ + "/server.out";
  // PAPPL's sub-commands reach a server on this machine through the local
  // socket named after the program (/run/NAME.sock for root), whatever host
  // and port -u names, and a server takes that socket over from the one
  // before. Each test server runs under a name of its own, so that its
  // sub-commands reach it and no other.
  binary_ = stateDir_ + "/dotweave-app-" + std::to_string(port_);
  unlink(binary_.c_str());
  if (symlink(AppBinary().c_str(), binary_.c_str()) != 0) binary_ = AppBinary();
  std::vector<std::string> args = {binary_, "server", "-o", "server-port=" + std::to_string(port_), "-o",
                                   "listen-hostname=localhost", "-o", "state-directory=" + stateDir_, "-o",
                                   "file-device-directory=" + stateDir_, "-o",
                                   "log-level=" + (env.count("DOTWEAVE_APP_LOG_LEVEL") ? env["DOTWEAVE_APP_LOG_LEVEL"]
                                                                                       : std::string("debug"))};
  // "option:NAME" entries are server options (-o NAME=VALUE), not environment.
  for (auto it = env.begin(); it != env.end();) {
    if (it->first.rfind("option:", 0) != 0) {
      ++it;
      continue;
    }
    args.insert(args.end(), {"-o", it->first.substr(7) + "=" + it->second});
    it = env.erase(it);
  }
  env.emplace("DOTWEAVE_FILTER", DOTWEAVE_BINARY);
  env.emplace("LSAN_OPTIONS", LsanOptions());
  std::vector<std::string> envStrings;
  for (char **e = environ; *e; ++e) {
    const std::string v = *e;
    const std::string key = v.substr(0, v.find('='));
    if (!env.count(key)) envStrings.push_back(v);
  }
  for (const auto &[k, v] : env) envStrings.push_back(k + "=" + v);
  pid_ = fork();
  if (pid_ == 0) {
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 1);
    dup2(fd, 2);
    std::vector<char *> argv, envp;
    for (std::string &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string &e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  // Ready when it answers on its port, and the listener there is its own.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    // A server that got only one of the loopback addresses shares the port
    // with another: it is stopped and the next port tried.
    const auto [owned, listeners] = ListenersOn(pid_, port_);
    if (owned > 0 && owned < listeners) {
      Stop();
      return;
    }
    if (owned > 0) {
      if (http_t *http = Connect(port_)) {
        httpClose(http);
        return;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

AppServer::~AppServer() { Stop(); }

int AppServer::Stop() {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  // PAPPL sees a SIGTERM only when its poll wakes: one that comes between
  // two polls waits for the next connection or timer, up to 30 s. A
  // connection now and then wakes it.
  for (int round = 0; waitpid(pid_, &status, WNOHANG) == 0; ++round) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
    if (round % 25 == 24)
      if (http_t *http = Connect(port_)) httpClose(http);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  pid_ = -1;
  RemoveLocalSocket();
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::pair<int, std::string> AppServer::HttpGet(const std::string &path) const {
  http_t *http = Connect(port_);
  if (http == nullptr) return {0, ""};
  httpClearFields(http);
  httpSetField(http, HTTP_FIELD_HOST, ("localhost:" + std::to_string(port_)).c_str());
  http_status_t status = HTTP_STATUS_ERROR;
  if (httpGet(http, path.c_str()) == 0) {
    while ((status = httpUpdate(http)) == HTTP_STATUS_CONTINUE) {
    }
  }
  std::string body;
  char buffer[8192];
  for (ssize_t n; status == HTTP_STATUS_OK && (n = httpRead2(http, buffer, sizeof buffer)) > 0;)
    body.append(buffer, static_cast<std::size_t>(n));
  httpClose(http);
  return {static_cast<int>(status), body};
}

// PAPPL leaves its local socket behind when it stops: /run/NAME.sock for
// root, TMPDIR/NAMEuid.sock for others.
void AppServer::RemoveLocalSocket() const {
  const std::size_t slash = binary_.rfind('/');
  const std::string name = slash == std::string::npos ? binary_ : binary_.substr(slash + 1);
  if (name.empty() || binary_ == AppBinary()) return;
  const char *tmp = std::getenv("TMPDIR");
  unlink(("/run/" + name + ".sock").c_str());
  unlink(((tmp && *tmp ? std::string(tmp) : std::string("/tmp")) + "/" + name + std::to_string(getuid()) + ".sock")
             .c_str());
}

std::string AppServer::systemUri() const { return "ipp://localhost:" + std::to_string(port_) + "/ipp/system"; }
std::string AppServer::printerUri(const std::string &name) const {
  return "ipp://localhost:" + std::to_string(port_) + "/ipp/print/" + name;
}

std::string AppServer::log() const {
  std::ifstream f(stateDir_ + "/dotweave-app.log");
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

std::string AppServer::jobLog() const {
  std::istringstream in(log());
  std::string out, line;
  while (std::getline(in, line))
    if (line.find("[Job") != std::string::npos && line.find("Filter: INFO") == std::string::npos &&
        line.find("Filter: ATTR") == std::string::npos && line.find("header.") == std::string::npos)
      out += line + "\n";
  return "\n---- server log:\n" + (out.size() > 6000 ? out.substr(out.size() - 6000) : out);
}

FilterResult AppServer::Command(const std::string &subcommand, std::vector<std::string> args, const std::string &uri) {
  FilterRun run;
  run.binary = binary_;
  run.env["LSAN_OPTIONS"] = LsanOptions();
  run.args = {subcommand, "-u", uri.empty() ? systemUri() : uri};
  for (std::string &a : args) run.args.push_back(std::move(a));
  return RunFilter(run);
}

bool AppServer::AddPrinter(const std::string &name, const std::string &driver, std::string deviceUri) {
  if (deviceUri.empty()) {
    mkdir(outDir(name).c_str(), 0755);
    deviceUri = "file://" + outDir(name);
  }
  const FilterResult r = Command("add", {"-d", name, "-v", deviceUri, "-m", driver});
  return r.exitStatus == 0;
}

std::string AppServer::PrinterAttribute(const std::string &printer, const std::string &name) {
  http_t *http = Connect(port_);
  if (http == nullptr) return "";
  const std::string uri = printerUri(printer);
  ipp_t *request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "tester");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, name.c_str());
  ipp_t *response = cupsDoRequest(http, request, ("/ipp/print/" + printer).c_str());
  httpClose(http);
  const std::string value = response ? StringOf(response, name.c_str()) : "";
  ippDelete(response);
  return value;
}

bool AppServer::SetPrinterInteger(const std::string &printer, const std::string &name, int value) {
  http_t *http = Connect(port_);
  if (http == nullptr) return false;
  const std::string uri = printerUri(printer);
  ipp_t *request = ippNewRequest(IPP_OP_SET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "tester");
  ippAddInteger(request, IPP_TAG_PRINTER, IPP_TAG_INTEGER, name.c_str(), value);
  ippDelete(cupsDoRequest(http, request, ("/ipp/print/" + printer).c_str()));
  httpClose(http);
  return cupsLastError() == IPP_STATUS_OK;
}

JobOutcome AppServer::Submit(const std::string &printer, const std::string &file, const std::string &format,
                             const std::string &options) {
  JobOutcome out;
  http_t *http = Connect(port_);
  if (http == nullptr) {
    out.submitStatus = IPP_STATUS_ERROR_SERVICE_UNAVAILABLE;
    out.submitMessage = "cannot connect";
    return out;
  }
  const std::string uri = printerUri(printer);
  const std::string jobName = "job" + std::to_string(++jobCounter_);  // each job's own output file
  out.name = jobName;
  ipp_t *request = ippNewRequest(IPP_OP_PRINT_JOB);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "tester");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, jobName.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, format.c_str());
  AddJobAttributes(request, options);
  const std::string resource = "/ipp/print/" + printer;
  ipp_t *response = cupsDoFileRequest(http, request, resource.c_str(), file.c_str());
  out.submitStatus = cupsLastError();
  out.submitMessage = cupsLastErrorString();
  if (response) out.id = ippGetInteger(ippFindAttribute(response, "job-id", IPP_TAG_INTEGER), 0);
  ippDelete(response);
  httpClose(http);
  return out;
}

JobOutcome AppServer::Wait(const std::string &printer, JobOutcome job, int seconds) {
  if (job.id <= 0) return job;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  const std::string uri = printerUri(printer);
  // Asked at least once: Wait(..., 0) is the job's state now.
  do {
    http_t *http = Connect(port_);
    if (http == nullptr) break;
    ipp_t *request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job.id);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "tester");
    ipp_t *response = cupsDoRequest(http, request, ("/ipp/print/" + printer).c_str());
    httpClose(http);
    if (response) {
      job.state = static_cast<ipp_jstate_t>(ippGetInteger(ippFindAttribute(response, "job-state", IPP_TAG_ENUM), 0));
      job.message = StringOf(response, "job-state-message");
      job.reasons = StringOf(response, "job-state-reasons");
      ippDelete(response);
      if (job.state >= IPP_JSTATE_CANCELED) return job;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  } while (std::chrono::steady_clock::now() < deadline);
  return job;
}

JobOutcome AppServer::Print(const std::string &printer, const std::string &file, const std::string &format,
                            const std::string &options) {
  return Wait(printer, Submit(printer, file, format, options));
}

std::string AppServer::Output(const std::string &printer, const JobOutcome &job) const {
  const std::string &jobName = job.name;
  DIR *d = opendir(outDir(printer).c_str());
  if (d == nullptr) return "";
  std::string found;
  while (dirent *e = readdir(d)) {
    const std::string name = e->d_name;
    if (name.rfind(jobName + ".", 0) == 0 || name == jobName) found = name;
  }
  closedir(d);
  return found.empty() ? "" : ReadFile(outDir(printer) + "/" + found);
}

bool AppServer::Cancel(const std::string &printer, int jobId) {
  http_t *http = Connect(port_);
  if (http == nullptr) return false;
  const std::string uri = printerUri(printer);
  ipp_t *request = ippNewRequest(IPP_OP_CANCEL_JOB);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "tester");
  ippDelete(cupsDoRequest(http, request, ("/ipp/print/" + printer).c_str()));
  httpClose(http);
  return cupsLastError() == IPP_STATUS_OK;
}

bool AppServer::Answers(const std::string &printer, int seconds) const {
  http_t *http = httpConnect2("localhost", port_, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED, 1,
                              seconds * 1000, nullptr);
  if (http == nullptr) return false;
  httpSetTimeout(http, seconds, nullptr, nullptr);
  const std::string uri = printerUri(printer);
  ipp_t *request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "printer-state");
  ipp_t *response = cupsDoRequest(http, request, ("/ipp/print/" + printer).c_str());
  const bool ok = response != nullptr && cupsLastError() == IPP_STATUS_OK;
  ippDelete(response);
  httpClose(http);
  return ok;
}

int AppServer::ThreadCount() const {
  int n = 0;
  if (DIR *d = opendir(("/proc/" + std::to_string(pid_) + "/task").c_str())) {
    while (dirent *e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}

int AppServer::DescriptorCount() const {
  int n = 0;
  if (DIR *d = opendir(("/proc/" + std::to_string(pid_) + "/fd").c_str())) {
    while (dirent *e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}

std::vector<pid_t> AppServer::Children() const {
  std::vector<pid_t> children;
  DIR *d = opendir("/proc");
  if (d == nullptr) return children;
  while (dirent *e = readdir(d)) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    std::ifstream f(std::string("/proc/") + e->d_name + "/stat");
    std::string line;
    std::getline(f, line);
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 2));
    std::string state;
    long ppid = 0;
    rest >> state >> ppid;
    if (ppid == pid_) children.push_back(static_cast<pid_t>(std::stol(e->d_name)));
  }
  closedir(d);
  return children;
}

long AppServer::RssKilobytes() const {
  std::ifstream f("/proc/" + std::to_string(pid_) + "/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

std::string PngFile(const TempDir &dir, const std::string &name, unsigned width, unsigned height,
                    const Bytes &pixels, unsigned channels, unsigned dpi) {
  const std::string path = dir.path() + "/" + name;
  FILE *f = std::fopen(path.c_str(), "wb");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    throw std::runtime_error("PNG write failed");
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, width, height, 8, channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  const png_uint_32 ppm = static_cast<png_uint_32>(dpi * 10000 / 254);
  png_set_pHYs(png, info, ppm, ppm, PNG_RESOLUTION_METER);
  png_write_info(png, info);
  for (unsigned y = 0; y < height; ++y)
    png_write_row(png, const_cast<png_bytep>(&pixels[std::size_t{y} * width * channels]));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  std::fclose(f);
  return path;
}

RasterPage GrayPageOf(const RasterPage &rgb) {
  RasterPage gray{rgb.header, {}};
  gray.header.cupsBitsPerPixel = 8;
  gray.header.cupsColorSpace = CUPS_CSPACE_SW;
  gray.header.cupsBytesPerLine = rgb.header.cupsWidth;
  gray.data.reserve(std::size_t{rgb.header.cupsWidth} * rgb.header.cupsHeight);
  for (unsigned y = 0; y < rgb.header.cupsHeight; ++y)
    for (unsigned x = 0; x < rgb.header.cupsWidth; ++x)
      gray.data.push_back(rgb.data[std::size_t{y} * rgb.header.cupsBytesPerLine + 3 * std::size_t{x}]);
  return gray;
}

std::string PwgRasterFile(const TempDir &dir, const std::string &name, const std::vector<RasterPage> &pages) {
  const std::string path = dir.path() + "/" + name;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  cups_raster_t *ras = cupsRasterOpen(fd, CUPS_RASTER_WRITE_PWG);
  for (const RasterPage &p : pages) {
    cups_page_header2_t h = p.header;
    cupsRasterWriteHeader2(ras, &h);
    for (unsigned y = 0; y < h.cupsHeight; ++y)
      cupsRasterWritePixels(ras, const_cast<unsigned char *>(&p.data[std::size_t{y} * h.cupsBytesPerLine]),
                            h.cupsBytesPerLine);
  }
  cupsRasterClose(ras);
  close(fd);
  return path;
}

}  // namespace dwtest
