// Draws the printer icons (see README.md) and writes them as a C++ source
// file of PNG data:  dotweave-iconsgen OUTPUT.cpp
// Shapes are painted in order on a transparent square, each pixel from 4 x 4
// samples so that edges are smooth at every size.
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Color {
  unsigned char r, g, b, a;
};

// A shape in unit coordinates (0..1 across the icon).
struct Shape {
  enum Kind { RoundRect, Circle } kind;
  double x0, y0, x1, y1;  // bounds; a circle's centre is the middle
  double radius;          // corner radius (RoundRect)
  Color color;
  bool Contains(double x, double y) const {
    if (x < x0 || x > x1 || y < y0 || y > y1) return false;
    if (kind == Circle) {
      const double cx = (x0 + x1) / 2, cy = (y0 + y1) / 2, r = (x1 - x0) / 2;
      return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
    }
    const double dx = std::max({x0 + radius - x, 0.0, x - (x1 - radius)});
    const double dy = std::max({y0 + radius - y, 0.0, y - (y1 - radius)});
    return dx * dx + dy * dy <= radius * radius;
  }
};

Shape Rect(double x0, double y0, double x1, double y1, Color c, double radius = 0) {
  return {Shape::RoundRect, x0, y0, x1, y1, radius, c};
}
Shape Dot(double cx, double cy, double r, Color c) { return {Shape::Circle, cx - r, cy - r, cx + r, cy + r, 0, c}; }

const Color kBody{58, 63, 71, 255}, kPanel{88, 95, 106, 255}, kSlot{24, 26, 30, 255}, kPaper{250, 250, 247, 255},
    kInk{20, 20, 20, 255}, kLine{150, 150, 150, 255}, kShadow{0, 0, 0, 60};

std::vector<Shape> LabelPrinter() {
  std::vector<Shape> s = {Rect(0.14, 0.82, 0.90, 0.90, kShadow, 0.04),
                          Rect(0.10, 0.40, 0.90, 0.86, kBody, 0.08),
                          Rect(0.10, 0.40, 0.90, 0.52, kPanel, 0.06),
                          Rect(0.22, 0.44, 0.78, 0.48, kSlot, 0.02),
                          Rect(0.26, 0.08, 0.74, 0.47, kPaper, 0.03)};
  // A barcode on the label, then a line of text under it.
  const double bars[] = {1, 2, 1, 1, 3, 1, 2, 1, 1, 2, 3, 1, 1, 2, 1, 1, 2};
  double x = 0.31;
  for (std::size_t i = 0; i < sizeof bars / sizeof bars[0]; ++i) {
    const double w = bars[i] * 0.0085;
    if (i % 2 == 0) s.push_back(Rect(x, 0.13, x + w, 0.29, kInk));
    x += w + 0.0085;
  }
  s.push_back(Rect(0.31, 0.33, 0.62, 0.36, kLine, 0.01));
  s.push_back(Dot(0.79, 0.70, 0.035, Color{232, 119, 46, 255}));
  return s;
}

std::vector<Shape> ReceiptPrinter() {
  std::vector<Shape> s = {Rect(0.12, 0.84, 0.92, 0.92, kShadow, 0.04),
                          Rect(0.08, 0.50, 0.92, 0.88, kBody, 0.10),
                          Rect(0.08, 0.50, 0.92, 0.60, kPanel, 0.08),
                          Rect(0.24, 0.53, 0.76, 0.57, kSlot, 0.02),
                          Rect(0.30, 0.10, 0.70, 0.56, kPaper, 0.0)};
  // The torn edge of the slip.
  for (int i = 0; i < 8; ++i) s.push_back(Dot(0.30 + 0.025 + i * 0.05, 0.10, 0.022, Color{0, 0, 0, 0}));
  for (int i = 0; i < 6; ++i) s.push_back(Rect(0.35, 0.17 + i * 0.055, i % 3 == 2 ? 0.52 : 0.65, 0.19 + i * 0.055, kLine, 0.01));
  s.push_back(Dot(0.80, 0.75, 0.035, Color{46, 134, 222, 255}));
  return s;
}

std::vector<Shape> DotMatrixPrinter() {
  std::vector<Shape> s = {Rect(0.08, 0.78, 0.96, 0.86, kShadow, 0.04),
                          Rect(0.04, 0.44, 0.96, 0.82, kBody, 0.07),
                          Rect(0.04, 0.44, 0.96, 0.56, kPanel, 0.06),
                          Rect(0.12, 0.48, 0.88, 0.52, kSlot, 0.02),
                          Rect(0.14, 0.06, 0.86, 0.51, kPaper, 0.0)};
  // Tractor holes down both edges, the form's perforation, lines of text.
  for (int i = 0; i < 7; ++i) {
    s.push_back(Dot(0.18, 0.10 + i * 0.055, 0.013, kLine));
    s.push_back(Dot(0.82, 0.10 + i * 0.055, 0.013, kLine));
  }
  for (int i = 0; i < 12; ++i) s.push_back(Rect(0.22 + i * 0.048, 0.27, 0.245 + i * 0.048, 0.28, kLine));
  for (int i = 0; i < 3; ++i) s.push_back(Rect(0.26, 0.12 + i * 0.045, i == 2 ? 0.55 : 0.74, 0.14 + i * 0.045, kInk, 0.005));
  for (int i = 0; i < 3; ++i) s.push_back(Rect(0.26, 0.33 + i * 0.045, i == 1 ? 0.60 : 0.74, 0.35 + i * 0.045, kInk, 0.005));
  s.push_back(Dot(0.86, 0.70, 0.035, Color{60, 170, 90, 255}));
  for (Shape &shape : s) shape.y0 += 0.05, shape.y1 += 0.05;  // centred
  return s;
}

// RGBA pixels of the shapes at `size` pixels square.
std::vector<unsigned char> Render(const std::vector<Shape> &shapes, int size) {
  constexpr int kSamples = 4;
  const auto side = static_cast<std::size_t>(size);
  std::vector<unsigned char> pixels(side * side * 4);
  for (int py = 0; py < size; ++py)
    for (int px = 0; px < size; ++px) {
      double r = 0, g = 0, b = 0, a = 0;
      for (int sy = 0; sy < kSamples; ++sy)
        for (int sx = 0; sx < kSamples; ++sx) {
          const double x = (px + (sx + 0.5) / kSamples) / size, y = (py + (sy + 0.5) / kSamples) / size;
          // Painted in order; a shape of alpha 0 cuts back to transparent.
          double cr = 0, cg = 0, cb = 0, ca = 0;
          for (const Shape &s : shapes) {
            if (!s.Contains(x, y)) continue;
            const double sa = s.color.a / 255.0;
            if (s.color.a == 0) {
              cr = cg = cb = ca = 0;
              continue;
            }
            cr = s.color.r * sa + cr * (1 - sa);
            cg = s.color.g * sa + cg * (1 - sa);
            cb = s.color.b * sa + cb * (1 - sa);
            ca = sa + ca * (1 - sa);
          }
          r += cr, g += cg, b += cb, a += ca;
        }
      constexpr double n = kSamples * kSamples;
      unsigned char *p = &pixels[(static_cast<std::size_t>(py) * side + static_cast<std::size_t>(px)) * 4];
      // Colours were accumulated premultiplied.
      p[3] = static_cast<unsigned char>(std::lround(a / n * 255));
      const double scale = a > 0 ? 1.0 / a : 0;
      p[0] = static_cast<unsigned char>(std::clamp(std::lround(r * scale), 0L, 255L));
      p[1] = static_cast<unsigned char>(std::clamp(std::lround(g * scale), 0L, 255L));
      p[2] = static_cast<unsigned char>(std::clamp(std::lround(b * scale), 0L, 255L));
    }
  return pixels;
}

void Append(png_structp png, png_bytep data, png_size_t length) {
  auto *out = static_cast<std::vector<unsigned char> *>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

std::vector<unsigned char> Png(const std::vector<unsigned char> &rgba, int size) {
  std::vector<unsigned char> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &out, Append, nullptr);
  png_set_IHDR(png, info, static_cast<png_uint_32>(size), static_cast<png_uint_32>(size), 8, PNG_COLOR_TYPE_RGB_ALPHA,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, 9);
  png_write_info(png, info);
  for (int y = 0; y < size; ++y)
    png_write_row(png, const_cast<png_bytep>(&rgba[static_cast<std::size_t>(y) * static_cast<std::size_t>(size) * 4]));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.cpp\n", argv[0]);
    return 2;
  }
  const std::vector<std::vector<Shape>> kinds = {LabelPrinter(), ReceiptPrinter(), DotMatrixPrinter()};
  const int sizes[] = {48, 128, 512};
  std::string out = "// Generated by dotweave-iconsgen: the printer icons as PNG data.\n#include \"app/icons/icons.h\"\n\n"
                    "namespace app {\nnamespace {\n";
  for (std::size_t k = 0; k < kinds.size(); ++k)
    for (int s = 0; s < 3; ++s) {
      const std::vector<unsigned char> png = Png(Render(kinds[k], sizes[s]), sizes[s]);
      if (png.empty()) return 1;
      out += "const unsigned char kIcon" + std::to_string(k) + "_" + std::to_string(s) + "[] = {";
      for (std::size_t i = 0; i < png.size(); ++i) out += (i % 24 ? "" : "\n") + std::to_string(png[i]) + ",";
      out += "\n};\n";
    }
  out += "}  // namespace\n\nIconData PrinterIcon(IconKind kind, int size) {\n  static const IconData icons[3][3] = {\n";
  for (std::size_t k = 0; k < kinds.size(); ++k) {
    out += "      {";
    for (int s = 0; s < 3; ++s) {
      const std::string name = "kIcon" + std::to_string(k) + "_" + std::to_string(s);
      out += "{" + name + ", sizeof " + name + "}" + (s < 2 ? ", " : "");
    }
    out += "},\n";
  }
  out += "  };\n  return icons[static_cast<int>(kind)][size < 0 ? 0 : size > 2 ? 2 : size];\n}\n\n}  // namespace app\n";
  FILE *f = std::fopen(argv[1], "w");
  if (f == nullptr || std::fwrite(out.data(), 1, out.size(), f) != out.size() || std::fclose(f) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
