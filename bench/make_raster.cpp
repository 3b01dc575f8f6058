// dotweave-bench-raster: writes the CUPS raster job of one benchmark
// workload, as a renderer would hand it to the filter.
//
//   dotweave-bench-raster --width W --height H --bits 1|24 --dpi X[xY]
//                         --pages N [--page-size WxH] [--compressed] OUT
//
// Every page is a label or receipt of realistic content, not a blank page:
// lines of text-like glyphs made of strokes, a large title, horizontal rules,
// a one-dimensional bar code, a two-dimensional code and a photo area (a
// smooth colour gradient with a little noise; ordered-dithered on 1-bit
// pages). The layout repeats down the page until its height is filled; the
// text differs from page to page, as the labels of a batch do.
//
// 1-bit pages are black-is-1 in the K colour space (what the label PPDs ask
// Ghostscript for); 24-bit pages are chunked RGB. The stream is written
// uncompressed (format 3, what Ghostscript's CUPS device writes) unless
// --compressed asks for the run-length coded format 2. The raw page size
// (cupsBytesPerLine x cupsHeight) is printed on standard output.
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Options {
  unsigned width = 0, height = 0, bits = 1, xdpi = 203, ydpi = 203, pages = 1;
  unsigned pageWidthPt = 0, pageHeightPt = 0;  // 0: from the pixel size
  bool compressed = false;
  std::string out;
};

[[noreturn]] void Usage() {
  std::fprintf(stderr,
               "usage: dotweave-bench-raster --width W --height H --bits 1|24 --dpi X[xY] --pages N\n"
               "                             [--page-size WxH] [--compressed] OUT\n");
  std::exit(2);
}

bool ParsePair(const char *text, unsigned &a, unsigned &b) {
  char *end = nullptr;
  a = static_cast<unsigned>(std::strtoul(text, &end, 10));
  if (*end == '\0') {
    b = a;
    return true;
  }
  if (*end != 'x') return false;
  b = static_cast<unsigned>(std::strtoul(end + 1, &end, 10));
  return *end == '\0';
}

Options Parse(int argc, char **argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> const char * {
      if (i + 1 >= argc) Usage();
      return argv[++i];
    };
    if (a == "--width") o.width = static_cast<unsigned>(std::atoi(value()));
    else if (a == "--height") o.height = static_cast<unsigned>(std::atoi(value()));
    else if (a == "--bits") o.bits = static_cast<unsigned>(std::atoi(value()));
    else if (a == "--pages") o.pages = static_cast<unsigned>(std::atoi(value()));
    else if (a == "--dpi") {
      if (!ParsePair(value(), o.xdpi, o.ydpi)) Usage();
    } else if (a == "--page-size") {
      if (!ParsePair(value(), o.pageWidthPt, o.pageHeightPt)) Usage();
    } else if (a == "--compressed") o.compressed = true;
    else if (!a.empty() && a[0] != '-' && o.out.empty()) o.out = a;
    else Usage();
  }
  if (o.width == 0 || o.height == 0 || o.out.empty() || (o.bits != 1 && o.bits != 24) || o.xdpi == 0 ||
      o.ydpi == 0)
    Usage();
  return o;
}

// A small deterministic generator, so that every run writes the same job.
struct Rng {
  std::uint64_t s;
  explicit Rng(std::uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 1) {}
  std::uint32_t Next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return static_cast<std::uint32_t>(s >> 11);
  }
  unsigned Below(unsigned n) { return n ? Next() % n : 0; }
};

// The page drawn in luminance (0 black .. 255 white) with a colour for the
// photo area; 1-bit pages dither the photo and take everything else as ink
// where it is below half.
struct Canvas {
  unsigned w, h;
  std::vector<unsigned char> rgb;  // w x h x 3
  std::vector<unsigned char> photo;  // 1 where the pixel belongs to the photo

  Canvas(unsigned width, unsigned height)
      : w(width), h(height), rgb(std::size_t{width} * height * 3, 255), photo(std::size_t{width} * height, 0) {}

  void Ink(unsigned x, unsigned y) {
    if (x >= w || y >= h) return;
    unsigned char *p = &rgb[(std::size_t{y} * w + x) * 3];
    p[0] = p[1] = p[2] = 0;
  }
  void Rect(unsigned x0, unsigned y0, unsigned x1, unsigned y1) {
    for (unsigned y = y0; y < y1 && y < h; ++y)
      for (unsigned x = x0; x < x1 && x < w; ++x) Ink(x, y);
  }
};

// 64 glyphs on a 5 x 7 grid, each the union of a few strokes: verticals,
// horizontals, diagonals and bowls, as letters are.
struct Glyphs {
  std::uint64_t bits[64];  // 35 bits, row-major, bit (r * 5 + c)

  Glyphs() {
    Rng rng(77);
    for (auto &g : bits) {
      g = 0;
      const unsigned strokes = 2 + rng.Below(3);
      for (unsigned s = 0; s < strokes; ++s) {
        switch (rng.Below(6)) {
          case 0: {  // vertical
            const unsigned c = rng.Below(3) * 2;
            for (unsigned r = 0; r < 7; ++r) g |= 1ull << (r * 5 + c);
            break;
          }
          case 1: {  // horizontal
            const unsigned r = rng.Below(3) * 3;
            for (unsigned c = 0; c < 5; ++c) g |= 1ull << (r * 5 + c);
            break;
          }
          case 2:  // diagonal down
            for (unsigned r = 0; r < 7; ++r) g |= 1ull << (r * 5 + std::min(4u, r * 5 / 7));
            break;
          case 3:  // diagonal up
            for (unsigned r = 0; r < 7; ++r) g |= 1ull << (r * 5 + 4 - std::min(4u, r * 5 / 7));
            break;
          case 4: {  // bowl
            const unsigned top = rng.Below(2) * 3;
            for (unsigned c = 1; c < 4; ++c) g |= (1ull << (top * 5 + c)) | (1ull << ((top + 3) * 5 + c));
            for (unsigned r = top + 1; r < top + 3; ++r) g |= (1ull << (r * 5)) | (1ull << (r * 5 + 4));
            break;
          }
          default: {  // short half stroke
            const unsigned c = rng.Below(5);
            for (unsigned r = 3; r < 7; ++r) g |= 1ull << (r * 5 + c);
            break;
          }
        }
      }
    }
  }
};

const Glyphs &TheGlyphs() {
  static const Glyphs g;
  return g;
}

// One glyph scaled into a cell of cw x ch pixels at (x, y).
void DrawGlyph(Canvas &c, unsigned index, unsigned x, unsigned y, unsigned cw, unsigned ch) {
  const std::uint64_t g = TheGlyphs().bits[index & 63];
  const unsigned gw = cw * 4 / 5;  // letter spacing
  const unsigned gh = ch * 7 / 10;
  if (gw == 0 || gh == 0) return;
  for (unsigned py = 0; py < gh; ++py) {
    const unsigned r = py * 7 / gh;
    for (unsigned px = 0; px < gw; ++px) {
      const unsigned col = px * 5 / gw;
      if (g >> (r * 5 + col) & 1) c.Ink(x + px, y + py);
    }
  }
}

// A line of words from x0 to x1 with cells of cw x ch.
void DrawTextLine(Canvas &c, Rng &rng, unsigned x0, unsigned x1, unsigned y, unsigned cw, unsigned ch) {
  if (cw == 0) return;
  const unsigned end = x0 + (x1 - x0) * (60 + rng.Below(41)) / 100;
  unsigned x = x0;
  while (x + cw <= end) {
    const unsigned letters = 2 + rng.Below(8);
    for (unsigned i = 0; i < letters && x + cw <= end; ++i, x += cw) DrawGlyph(c, rng.Next(), x, y, cw, ch);
    x += cw;  // space
  }
}

void DrawBarcode(Canvas &c, Rng &rng, unsigned x0, unsigned x1, unsigned y0, unsigned y1, unsigned module) {
  unsigned x = x0;
  bool bar = true;
  while (x < x1) {
    const unsigned width = module * (1 + rng.Below(4));
    if (bar) c.Rect(x, y0, std::min(x + width, x1), y1);
    x += width;
    bar = !bar;
  }
}

void Draw2dCode(Canvas &c, Rng &rng, unsigned x0, unsigned y0, unsigned size, unsigned module) {
  if (module == 0) return;
  const unsigned n = size / module;
  for (unsigned r = 0; r < n; ++r)
    for (unsigned k = 0; k < n; ++k) {
      const bool finder = (r < 7 && k < 7) || (r < 7 && k + 7 >= n) || (r + 7 >= n && k < 7);
      bool on;
      if (finder) {
        const unsigned rr = r < 7 ? r : r - (n - 7), kk = k < 7 ? k : k - (n - 7);
        const unsigned ring = std::min(std::min(rr, kk), std::min(6 - rr, 6 - kk));
        on = ring != 1;
      } else {
        on = rng.Below(2) == 0;
      }
      if (on) c.Rect(x0 + k * module, y0 + r * module, x0 + (k + 1) * module, y0 + (r + 1) * module);
    }
}

// A photo: smooth colour gradients with soft shapes and a little noise.
void DrawPhoto(Canvas &c, Rng &rng, unsigned x0, unsigned x1, unsigned y0, unsigned y1) {
  const double fx = 6.28318 / std::max(1u, x1 - x0), fy = 6.28318 / std::max(1u, y1 - y0);
  for (unsigned y = y0; y < y1 && y < c.h; ++y)
    for (unsigned x = x0; x < x1 && x < c.w; ++x) {
      const double u = (x - x0) * fx, v = (y - y0) * fy;
      const double base = 0.5 + 0.35 * std::sin(u * 1.3 + 0.4) * std::cos(v * 0.9) + 0.15 * std::sin(u * 3.1 + v * 2.3);
      const int noise = static_cast<int>(rng.Below(17)) - 8;
      auto channel = [&](double shift) {
        const int value = static_cast<int>(255 * (base + 0.2 * std::sin(u + shift))) + noise;
        return static_cast<unsigned char>(std::min(255, std::max(0, value)));
      };
      unsigned char *p = &c.rgb[(std::size_t{y} * c.w + x) * 3];
      p[0] = channel(0.0);
      p[1] = channel(2.1);
      p[2] = channel(4.2);
      c.photo[std::size_t{y} * c.w + x] = 1;
    }
}

// The layout: title, text, rule, bar code, text, photo beside text, rule,
// 2-D code beside text, repeated down the page.
void DrawPage(Canvas &c, unsigned page) {
  Rng rng(page + 1);
  const unsigned unit = std::max(4u, c.w / 64);
  const unsigned margin = unit;
  const unsigned left = margin, right = c.w > 2 * margin ? c.w - margin : c.w;
  unsigned y = margin;
  auto room = [&](unsigned height) { return y + height <= c.h; };
  while (y < c.h) {
    const unsigned start = y;
    if (room(4 * unit)) DrawTextLine(c, rng, left, right, y, 2 * unit, 3 * unit);
    y += 4 * unit;
    for (int i = 0; i < 4 && room(2 * unit); ++i, y += 2 * unit) DrawTextLine(c, rng, left, right, y, unit, 3 * unit / 2);
    if (room(unit)) c.Rect(left, y + unit / 3, right, y + unit / 3 + std::max(1u, unit / 4));
    y += unit;
    if (room(7 * unit)) DrawBarcode(c, rng, left + unit, left + (right - left) * 4 / 5, y, y + 6 * unit, std::max(1u, unit / 5));
    y += 7 * unit;
    for (int i = 0; i < 3 && room(2 * unit); ++i, y += 2 * unit) DrawTextLine(c, rng, left, right, y, unit, 3 * unit / 2);
    const unsigned photoRight = left + (right - left) * 3 / 5;
    const unsigned photoHeight = std::min(16 * unit, c.h - std::min(c.h, y));
    DrawPhoto(c, rng, left, photoRight, y, y + photoHeight);
    for (unsigned t = 0; t + 2 * unit <= photoHeight; t += 2 * unit)
      DrawTextLine(c, rng, photoRight + unit, right, y + t, unit, 3 * unit / 2);
    y += photoHeight + unit;
    if (room(unit)) c.Rect(left, y + unit / 3, right, y + unit / 3 + std::max(1u, unit / 4));
    y += unit;
    const unsigned code = 8 * unit;
    if (room(code)) {
      for (unsigned t = 0; t + 2 * unit <= code; t += 2 * unit)
        DrawTextLine(c, rng, left, right - code - unit, y + t, unit, 3 * unit / 2);
      Draw2dCode(c, rng, right - code, y, code, std::max(1u, code / 25));
    }
    y += code + unit;
    if (y == start) break;
  }
  // A frame around the label.
  const unsigned t = std::max(1u, unit / 4);
  c.Rect(0, 0, c.w, t);
  c.Rect(0, c.h - std::min(c.h, t), c.w, c.h);
  c.Rect(0, 0, t, c.h);
  c.Rect(c.w - std::min(c.w, t), 0, c.w, c.h);
}

constexpr unsigned char kBayer8[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},   {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},   {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},  {63, 31, 55, 23, 61, 29, 53, 21},
};

// One raster line of the page in the requested format.
void RasterLine(const Canvas &c, unsigned y, unsigned bits, std::vector<unsigned char> &line) {
  const unsigned char *row = &c.rgb[std::size_t{y} * c.w * 3];
  if (bits == 24) {
    std::memcpy(line.data(), row, std::size_t{c.w} * 3);
    return;
  }
  std::fill(line.begin(), line.end(), 0);
  for (unsigned x = 0; x < c.w; ++x) {
    const unsigned char *p = row + 3 * x;
    const unsigned lum = (30u * p[0] + 59u * p[1] + 11u * p[2]) / 100u;
    bool ink;
    if (c.photo[std::size_t{y} * c.w + x]) ink = lum / 4 < kBayer8[y & 7][x & 7] + 0u;
    else ink = lum < 128;
    if (ink) line[x >> 3] |= static_cast<unsigned char>(0x80 >> (x & 7));
  }
}

}  // namespace

int main(int argc, char **argv) {
  const Options o = Parse(argc, argv);
  const int fd = open(o.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) {
    std::perror(o.out.c_str());
    return 1;
  }
  cups_raster_t *ras = cupsRasterOpen(fd, o.compressed ? CUPS_RASTER_WRITE_COMPRESSED : CUPS_RASTER_WRITE);
  if (ras == nullptr) {
    std::fprintf(stderr, "dotweave-bench-raster: cannot open the raster stream\n");
    return 1;
  }

  cups_page_header2_t h;
  std::memset(&h, 0, sizeof h);
  h.HWResolution[0] = o.xdpi;
  h.HWResolution[1] = o.ydpi;
  h.PageSize[0] = o.pageWidthPt ? o.pageWidthPt : (o.width * 72 + o.xdpi / 2) / o.xdpi;
  h.PageSize[1] = o.pageHeightPt ? o.pageHeightPt : (o.height * 72 + o.ydpi / 2) / o.ydpi;
  h.ImagingBoundingBox[2] = h.PageSize[0];
  h.ImagingBoundingBox[3] = h.PageSize[1];
  h.NumCopies = 1;
  h.cupsWidth = o.width;
  h.cupsHeight = o.height;
  h.cupsColorOrder = CUPS_ORDER_CHUNKED;
  if (o.bits == 24) {
    h.cupsBitsPerColor = 8;
    h.cupsBitsPerPixel = 24;
    h.cupsColorSpace = CUPS_CSPACE_RGB;
  } else {
    h.cupsBitsPerColor = 1;
    h.cupsBitsPerPixel = 1;
    h.cupsColorSpace = CUPS_CSPACE_K;
  }
  h.cupsBytesPerLine = (o.width * h.cupsBitsPerPixel + 7) / 8;
  h.cupsRowStep = 200;       // ZPL: no label top command
  h.AdvanceDistance = 1000;  // ZPL: no tear-off adjustment
  h.cupsCompression = 50;    // the darkness or density setting

  std::vector<unsigned char> line(h.cupsBytesPerLine);
  for (unsigned page = 0; page < o.pages; ++page) {
    Canvas canvas(o.width, o.height);
    DrawPage(canvas, page);
    if (!cupsRasterWriteHeader2(ras, &h)) {
      std::fprintf(stderr, "dotweave-bench-raster: cannot write a page header\n");
      return 1;
    }
    for (unsigned y = 0; y < o.height; ++y) {
      RasterLine(canvas, y, o.bits, line);
      if (cupsRasterWritePixels(ras, line.data(), h.cupsBytesPerLine) != h.cupsBytesPerLine) {
        std::fprintf(stderr, "dotweave-bench-raster: cannot write a line\n");
        return 1;
      }
    }
  }
  cupsRasterClose(ras);
  close(fd);
  std::printf("%llu\n", static_cast<unsigned long long>(h.cupsBytesPerLine) * h.cupsHeight);
  return 0;
}
