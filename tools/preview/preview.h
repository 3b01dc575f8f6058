#pragma once
// The print preview: decodes a printer stream with the decoder of its
// language, writes every page as a black-and-white PNG and describes the
// stream in a short summary.
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "decode/decode.h"

namespace dwpreview {

// Writes `page` as a 1-bit grayscale PNG (black dots black, the rest white).
// Returns an empty string on success, otherwise what went wrong; a page
// without dots (width or height 0) or whose dot buffer does not match its
// size is refused.
std::string WritePng(const dwdecode::DecodedPage &page, const std::string &path);

struct PageFile {
  std::string path;   // PNG written for the page, empty when none was
  std::string error;  // why no PNG was written
};

// The summary printed by the tool: language, pages with their size, black
// dots and settings, job settings and the problems with their offsets.
std::string Summary(const dwdecode::DecodeResult &result, dwdecode::Language language,
                    bool detected, std::size_t streamSize, const std::vector<PageFile> &files);

// The whole tool: `args` without the program name. Writes the summary to
// `out` and errors to `err`. Exit status 0 for a clean stream, 1 when the
// decoder reported problems or a PNG could not be written, 2 for usage errors
// and unreadable or undetectable input.
int Run(const std::vector<std::string> &args, std::istream &in, std::ostream &out,
        std::ostream &err);

}  // namespace dwpreview
