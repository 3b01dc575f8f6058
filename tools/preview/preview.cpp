#include "preview/preview.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <fstream>
#include <istream>
#include <memory>
#include <ostream>
#include <sstream>

namespace dwpreview {

namespace {

using dwdecode::DecodedPage;
using dwdecode::DecodeResult;
using dwdecode::Language;

// Printer streams are a few megabytes; anything beyond this is not one.
constexpr std::size_t kMaxStreamBytes = std::size_t{1} << 30;
constexpr std::size_t kPngMessageSize = 200;

struct FileCloser {
  void operator()(std::FILE *f) const {
    if (f) std::fclose(f);
  }
};

// libpng reports errors through this callback, which keeps the message in the
// caller's buffer and unwinds to the setjmp in WritePngRows.
void OnPngError(png_structp png, png_const_charp message) {
  char *buffer = static_cast<char *>(png_get_error_ptr(png));
  if (buffer) std::snprintf(buffer, kPngMessageSize, "%s", message ? message : "libpng error");
  png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// The libpng part, kept free of C++ objects with destructors because
// png_longjmp skips them.
bool WritePngRows(std::FILE *f, png_uint_32 width, png_uint_32 height,
                  png_bytep *rows, std::string &error) {
  static char message[kPngMessageSize];
  message[0] = '\0';
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, message, OnPngError,
                                            OnPngWarning);
  if (!png) {
    error = "cannot start libpng";
    return false;
  }
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    error = "cannot start libpng";
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    error = message[0] ? message : "libpng error";
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, width, height, 1, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

std::string Plural(std::size_t n, const char *word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

// Settings in the order first seen. A command that repeats many times (the
// feeds and bands of a needle page) is shown once with its count.
std::string Settings(const std::vector<dwdecode::Setting> &settings) {
  constexpr std::size_t kListedRepeats = 3;
  std::vector<std::pair<std::string, std::size_t>> counts;
  for (const auto &setting : settings) {
    auto it = std::find_if(counts.begin(), counts.end(),
                           [&](const auto &c) { return c.first == setting.first; });
    if (it == counts.end()) counts.emplace_back(setting.first, 1);
    else ++it->second;
  }
  auto countOf = [&](const std::string &name) {
    return std::find_if(counts.begin(), counts.end(), [&](const auto &c) { return c.first == name; })
        ->second;
  };
  std::string out;
  std::vector<std::string> summarised;
  for (const auto &[name, value] : settings) {
    const std::size_t n = countOf(name);
    std::string item;
    if (n > kListedRepeats) {
      if (std::find(summarised.begin(), summarised.end(), name) != summarised.end()) continue;
      summarised.push_back(name);
      item = name + " x" + std::to_string(n);
    } else {
      item = value.empty() ? name : name + "=" + value;
    }
    if (!out.empty()) out += ' ';
    out += item;
  }
  return out;
}

std::size_t BlackDots(const DecodedPage &page) {
  std::size_t n = 0;
  for (std::uint8_t d : page.dots) n += d ? 1 : 0;
  return n;
}

const char *kUsage =
    "usage: dotweave-preview [--language NAME] [--output PREFIX] [FILE]\n"
    "Decodes a printer stream written by dotweave (FILE, or standard input when\n"
    "FILE is missing or -), writes PREFIX-1.png, PREFIX-2.png, ... one per page,\n"
    "and prints a summary. PREFIX defaults to FILE without its extension, or to\n"
    "\"preview\" for standard input. The language is detected unless NAME gives\n"
    "it: dymo, epl-line, epl-page, zpl, pcl, oem-thermal, oem-needle, escpos, tspl.\n"
    "An ESC/POS page is a piece of paper ended by a cut; its settings show the\n"
    "feeds, the cut and the cash drawer kicks.\n";

bool ReadAll(std::istream &in, std::string &data) {
  char chunk[65536];
  while (in) {
    in.read(chunk, sizeof chunk);
    std::size_t got = static_cast<std::size_t>(in.gcount());
    if (data.size() + got > kMaxStreamBytes) return false;
    data.append(chunk, got);
  }
  return true;
}

std::string DefaultPrefix(const std::string &file) {
  if (file.empty() || file == "-") return "preview";
  std::size_t slash = file.find_last_of('/');
  std::size_t dot = file.find_last_of('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1))
    return file.substr(0, dot);
  return file;
}

}  // namespace

std::string WritePng(const DecodedPage &page, const std::string &path) {
  if (page.width == 0 || page.height == 0) return "the page has no dots";
  if (page.width > 0x7fffffffU || page.height > 0x7fffffffU) return "the page is too large";
  const std::size_t width = page.width, height = page.height;
  if (page.dots.size() != width * height) return "the page's dots do not match its size";

  // 1-bit gray: a set bit is white, so black dots stay 0.
  const std::size_t stride = (width + 7) / 8;
  std::vector<png_byte> packed(stride * height, 0);
  std::vector<png_bytep> rows(height);
  for (std::size_t y = 0; y < height; ++y) {
    png_bytep row = packed.data() + y * stride;
    rows[y] = row;
    const std::uint8_t *dots = page.dots.data() + y * width;
    for (std::size_t x = 0; x < width; ++x)
      if (!dots[x]) row[x / 8] = static_cast<png_byte>(row[x / 8] | (0x80U >> (x % 8)));
  }

  std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "wb"));
  if (!f) return "cannot create " + path;
  std::string error;
  if (!WritePngRows(f.get(), static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
                    rows.data(), error))
    return error;
  if (std::fclose(f.release()) != 0) return "cannot write " + path;
  return {};
}

std::string Summary(const DecodeResult &result, Language language, bool detected,
                    std::size_t streamSize, const std::vector<PageFile> &files) {
  std::ostringstream s;
  s << "language: " << dwdecode::LanguageName(language) << (detected ? " (detected)" : "")
    << "\n"
    << "stream: " << Plural(streamSize, "byte") << "\n"
    << "pages: " << result.pages.size() << "\n";
  if (!result.jobSettings.empty()) s << "job settings: " << Settings(result.jobSettings) << "\n";
  for (std::size_t i = 0; i < result.pages.size(); ++i) {
    const DecodedPage &page = result.pages[i];
    s << "page " << i + 1 << ": " << page.width << " dots per line, " << Plural(page.height, "row")
      << ", " << Plural(BlackDots(page), "black dot");
    if (i < files.size()) {
      if (!files[i].path.empty()) s << " -> " << files[i].path;
      else if (!files[i].error.empty()) s << " (no PNG: " << files[i].error << ")";
    }
    s << "\n";
    if (!page.settings.empty()) s << "  settings: " << Settings(page.settings) << "\n";
  }
  if (result.problems.empty()) {
    s << "problems: none\n";
  } else {
    s << "problems: " << result.problems.size() << "\n";
    for (const dwdecode::Problem &p : result.problems)
      s << "  at byte " << p.offset << ": " << p.what << "\n";
  }
  return s.str();
}

int Run(const std::vector<std::string> &args, std::istream &in, std::ostream &out,
        std::ostream &err) {
  std::optional<Language> language;
  std::string prefix, file;
  bool haveFile = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string &a = args[i];
    if (a == "--help" || a == "-h") {
      out << kUsage;
      return 0;
    }
    if (a == "--language" || a == "-l" || a == "--output" || a == "-o") {
      if (i + 1 >= args.size()) {
        err << "dotweave-preview: " << a << " needs a value\n" << kUsage;
        return 2;
      }
      const std::string &value = args[++i];
      if (a == "--output" || a == "-o") {
        prefix = value;
      } else if (!(language = dwdecode::ParseLanguageName(value))) {
        err << "dotweave-preview: unknown language \"" << value << "\"\n" << kUsage;
        return 2;
      }
    } else if (a.size() > 1 && a[0] == '-') {
      err << "dotweave-preview: unknown option " << a << "\n" << kUsage;
      return 2;
    } else if (haveFile) {
      err << "dotweave-preview: only one input file\n" << kUsage;
      return 2;
    } else {
      file = a;
      haveFile = true;
    }
  }
  if (prefix.empty()) prefix = DefaultPrefix(file);

  std::string stream;
  bool fits = false;
  if (!haveFile || file == "-") {
    fits = ReadAll(in, stream);
  } else {
    std::ifstream f(file, std::ios::binary);
    if (!f) {
      err << "dotweave-preview: cannot open " << file << "\n";
      return 2;
    }
    fits = ReadAll(f, stream);
    if (f.bad()) {
      err << "dotweave-preview: cannot read " << file << "\n";
      return 2;
    }
  }
  if (!fits) {
    err << "dotweave-preview: the stream is larger than " << (kMaxStreamBytes >> 20)
        << " MiB; it is not a printer stream\n";
    return 2;
  }

  const bool detected = !language;
  if (!language) language = dwdecode::DetectLanguage(stream);
  if (!language) {
    err << "dotweave-preview: cannot tell the printer language of "
        << (haveFile && file != "-" ? file : "standard input")
        << "; give it with --language NAME\n";
    return 2;
  }

  DecodeResult result = dwdecode::Decode(*language, stream);
  std::vector<PageFile> files;
  bool pngFailed = false;
  for (std::size_t i = 0; i < result.pages.size(); ++i) {
    PageFile pf;
    std::string path = prefix + "-" + std::to_string(i + 1) + ".png";
    pf.error = WritePng(result.pages[i], path);
    if (pf.error.empty()) pf.path = path;
    // An empty page has nothing to show; any other refusal is a failure.
    else if (result.pages[i].width != 0 && result.pages[i].height != 0) pngFailed = true;
    files.push_back(pf);
  }
  out << Summary(result, *language, detected, stream.size(), files);
  return result.problems.empty() && !pngFailed ? 0 : 1;
}

}  // namespace dwpreview
