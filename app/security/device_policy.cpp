// file: device URIs against the allowed directory.
#include "app/security/device_policy.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace app::security {
namespace {

// realpath(3) of an existing path, or empty with errno set.
std::string Resolve(const std::string &path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr), &std::free);
  return resolved ? std::string(resolved.get()) : std::string();
}

// The path a file: URI names: "file:/p", "file:///p" or "file://localhost/p".
// Empty when the URI names another host or carries a query, a fragment or a
// %-escape: an escaped "/" would make the path we check and the path opened
// differ in their number of names, and ".." counts names.
std::string PathOf(std::string_view uri) {
  std::string_view rest = uri.substr(5);  // after "file:"
  if (rest.rfind("//", 0) == 0) {
    rest.remove_prefix(2);
    const std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos) return "";
    const std::string_view host = rest.substr(0, slash);
    if (!host.empty() && host != "localhost") return "";
    rest.remove_prefix(slash);
  }
  if (rest.empty() || rest.front() != '/' || rest.find_first_of("?#%") != std::string_view::npos) return "";
  const std::string path(rest);
  return path;
}

// Where a write to `path` would land: the path with every symbolic link and
// ".." resolved; for a path that does not exist yet, its resolved parent
// and its last name. Empty with the reason in `why` when it cannot be told.
std::string Landing(const std::string &path, std::string &why) {
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0) {
    std::string resolved = Resolve(path);
    // A symbolic link to nothing: opening it for writing would create its target.
    if (resolved.empty()) why = "it is a symbolic link to a file that does not exist";
    return resolved;
  }
  if (errno != ENOENT) {
    why = std::string("it cannot be checked: ") + std::strerror(errno);
    return "";
  }
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const std::size_t slash = trimmed.rfind('/');
  const std::string parent = slash == 0 ? "/" : trimmed.substr(0, slash);
  const std::string name = trimmed.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") {
    why = "it names no file";
    return "";
  }
  const std::string resolvedParent = Resolve(parent);
  if (resolvedParent.empty()) {
    why = "its directory " + parent + " does not exist";
    return "";
  }
  return (resolvedParent == "/" ? "" : resolvedParent) + "/" + name;
}

}  // namespace

bool IsFileDeviceUri(std::string_view uri) {
  return uri.size() >= 5 && strncasecmp(uri.data(), "file:", 5) == 0;
}

std::string CheckFileDeviceUri(std::string_view uri, const std::string &allowedDir) {
  if (!IsFileDeviceUri(uri)) return "";
  if (allowedDir.empty())
    return "file: devices are off; the server takes them only inside the directory named by "
           "-o file-device-directory=DIR";
  const std::string path = PathOf(uri);
  if (path.empty())
    return "a file: device URI names a local absolute path (file:///PATH), without host, query or %-escapes";
  const std::string root = Resolve(allowedDir);
  if (root.empty()) return "the file device directory " + allowedDir + " does not exist";
  std::string why;
  const std::string landing = Landing(path, why);
  if (landing.empty()) return path + " is refused: " + why;
  if (landing == root || landing.rfind(root == "/" ? root : root + "/", 0) == 0) return "";
  return path + " is outside the file device directory " + root +
         (landing != path ? " (it leads to " + landing + ")" : "");
}

}  // namespace app::security
