#pragma once
// Which file: device URIs a printer may have. A file: device writes each job
// into the file (or a new file in the directory) its URI names, with the
// server's rights: only paths inside the directory the administrator named
// with -o file-device-directory are allowed, judged after ".." and symbolic
// links are resolved.
#include <string>
#include <string_view>

namespace app::security {

bool IsFileDeviceUri(std::string_view uri);

// Empty when `uri` is not a file: URI or names a path inside `allowedDir`;
// otherwise why it is refused. An empty `allowedDir` refuses every file: URI.
std::string CheckFileDeviceUri(std::string_view uri, const std::string &allowedDir);

}  // namespace app::security
