#pragma once
// Tests of the printer application's serial devices (app/serial*.cpp). A
// pseudo-terminal stands in for the port: the code under test opens its
// slave side by path, as it would /dev/ttyUSB0, and the test plays the
// printer on the master side.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace serialtest {

using Bytes = std::vector<unsigned char>;
using std::chrono::milliseconds;

// Every byte value, then a counting pattern, `size` bytes in all: shows
// both a byte changed on the way (CR/LF translation, XON/XOFF eaten) and a
// block lost or repeated.
inline Bytes PatternBytes(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<unsigned char>(i < 256 ? i : (i * 7 + i / 251) & 0xff);
  }
  return bytes;
}

class Pty {
 public:
  Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
      throw std::runtime_error("no pseudo-terminal");
    }
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("no pty name");
    slave_ = name;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  }
  ~Pty() { CloseMaster(); }
  Pty(const Pty &) = delete;
  Pty &operator=(const Pty &) = delete;

  const std::string &slave() const { return slave_; }
  int master() const { return master_; }
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  // What the printer receives: bytes from the master until `count` came in
  // or nothing came for `quiet`.
  Bytes Receive(std::size_t count, milliseconds quiet = milliseconds(5000)) const {
    Bytes got;
    unsigned char buffer[4096];
    while (got.size() < count) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(quiet.count())) <= 0) break;
      const ssize_t n = ::read(master_, buffer, std::min(sizeof buffer, count - got.size()));
      if (n > 0) {
        got.insert(got.end(), buffer, buffer + n);
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        break;
      }
    }
    return got;
  }

  // What the printer answers.
  void Send(const Bytes &bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else {
        pollfd p{master_, POLLOUT, 0};
        poll(&p, 1, 100);
      }
    }
  }

 private:
  int master_ = -1;
  std::string slave_;
};

// A private directory tree, removed with everything in it.
class TempTree {
 public:
  TempTree() {
    std::string pattern = (std::filesystem::temp_directory_path() / "dwserial-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("no temporary directory");
    root_ = pattern;
  }
  ~TempTree() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  TempTree(const TempTree &) = delete;
  TempTree &operator=(const TempTree &) = delete;

  const std::filesystem::path &root() const { return root_; }
  // Creates `relative` with `contents` (and the directories above it).
  std::string File(const std::string &relative, const std::string &contents = "") const;
  std::string Dir(const std::string &relative) const;
  // A symbolic link at `relative` pointing to `target` (as given).
  void Link(const std::string &relative, const std::string &target) const;

 private:
  std::filesystem::path root_;
};

inline std::string TempTree::File(const std::string &relative, const std::string &contents) const {
  const std::filesystem::path path = root_ / relative;
  std::filesystem::create_directories(path.parent_path());
  FILE *file = std::fopen(path.c_str(), "w");
  if (!file) throw std::runtime_error("cannot write " + path.string());
  std::fwrite(contents.data(), 1, contents.size(), file);
  std::fclose(file);
  return path.string();
}

inline std::string TempTree::Dir(const std::string &relative) const {
  const std::filesystem::path path = root_ / relative;
  std::filesystem::create_directories(path);
  return path.string();
}

inline void TempTree::Link(const std::string &relative, const std::string &target) const {
  const std::filesystem::path path = root_ / relative;
  std::filesystem::create_directories(path.parent_path());
  std::filesystem::create_symlink(target, path);
}

}  // namespace serialtest
