// Compares the dots a printer would print (a PNG written by dotweave-preview)
// with a reference rendering of the same page, for the end-to-end test.
//
//   dotweave-e2e-compare DECODED.png REFERENCE.png [--rotate180]
//                        [--scale-y NUM/DEN] [--max-diff PERCENT]
//
// Both images are made black and white at mid gray. The reference can be
// turned by half a turn (a job printed with Rotation=180) and scaled in height
// (needle printers at 180 dpi print four rows for every five). The two are
// aligned by the bounding boxes of their black dots, refined by a small
// search, and the run fails when more than PERCENT of the dots that are black
// in either image differ (default 3).
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

struct Bitmap {
  long width = 0, height = 0;
  std::vector<unsigned char> black;  // 1 = black
  bool At(long x, long y) const {
    return x >= 0 && y >= 0 && x < width && y < height && black[static_cast<std::size_t>(y * width + x)];
  }
};

std::optional<Bitmap> Load(const char *path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path)) return std::nullopt;
  image.format = PNG_FORMAT_GRAY;
  std::vector<png_byte> gray(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, gray.data(), 0, nullptr)) return std::nullopt;
  Bitmap b;
  b.width = image.width;
  b.height = image.height;
  b.black.resize(gray.size());
  for (std::size_t i = 0; i < gray.size(); ++i) b.black[i] = gray[i] < 128;
  return b;
}

Bitmap Rotate180(const Bitmap &in) {
  Bitmap out = in;
  std::reverse(out.black.begin(), out.black.end());
  return out;
}

Bitmap ScaleY(const Bitmap &in, long num, long den) {
  Bitmap out;
  out.width = in.width;
  out.height = in.height * num / den;
  out.black.resize(static_cast<std::size_t>(out.width * out.height));
  for (long y = 0; y < out.height; ++y)
    for (long x = 0; x < out.width; ++x)
      out.black[static_cast<std::size_t>(y * out.width + x)] = in.At(x, y * den / num);
  return out;
}

struct Box {
  long x0, y0, x1, y1;
  long count;
};

Box BlackBox(const Bitmap &b) {
  Box box{b.width, b.height, -1, -1, 0};
  for (long y = 0; y < b.height; ++y)
    for (long x = 0; x < b.width; ++x)
      if (b.At(x, y)) {
        box.x0 = std::min(box.x0, x);
        box.y0 = std::min(box.y0, y);
        box.x1 = std::max(box.x1, x);
        box.y1 = std::max(box.y1, y);
        ++box.count;
      }
  return box;
}

// Dots black in exactly one image, and black in either, with the reference
// moved by (dx, dy).
std::pair<long, long> Difference(const Bitmap &decoded, const Bitmap &ref, long dx, long dy) {
  long differ = 0, inked = 0;
  const long x0 = std::min(0L, dx), y0 = std::min(0L, dy);
  const long x1 = std::max(decoded.width, ref.width + dx), y1 = std::max(decoded.height, ref.height + dy);
  for (long y = y0; y < y1; ++y)
    for (long x = x0; x < x1; ++x) {
      const bool a = decoded.At(x, y), b = ref.At(x - dx, y - dy);
      differ += a != b;
      inked += a || b;
    }
  return {differ, inked};
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s DECODED.png REFERENCE.png [--rotate180] [--scale-y N/D] [--max-diff PERCENT]\n",
                 argv[0]);
    return 2;
  }
  bool rotate = false;
  long num = 1, den = 1;
  double maxDiff = 3.0;
  for (int i = 3; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--rotate180") {
      rotate = true;
    } else if (a == "--scale-y" && i + 1 < argc && std::sscanf(argv[++i], "%ld/%ld", &num, &den) == 2 &&
               num > 0 && den > 0) {
    } else if (a == "--max-diff" && i + 1 < argc) {
      maxDiff = std::atof(argv[++i]);
    } else {
      std::fprintf(stderr, "compare: bad argument %s\n", a.c_str());
      return 2;
    }
  }
  std::optional<Bitmap> decoded = Load(argv[1]), ref = Load(argv[2]);
  if (!decoded || !ref) {
    std::fprintf(stderr, "compare: cannot read %s\n", !decoded ? argv[1] : argv[2]);
    return 2;
  }
  if (rotate) ref = Rotate180(*ref);
  if (num != den) ref = ScaleY(*ref, num, den);

  const Box a = BlackBox(*decoded), b = BlackBox(*ref);
  if (b.count == 0) {
    std::fprintf(stderr, "compare: the reference has no black dots\n");
    return 2;
  }
  if (a.count == 0) {
    std::printf("decoded page is blank; reference has %ld black dots\n", b.count);
    return 1;
  }
  long bestDx = a.x0 - b.x0, bestDy = a.y0 - b.y0;
  auto best = Difference(*decoded, *ref, bestDx, bestDy);
  const long cx = bestDx, cy = bestDy;
  for (long dy = cy - 2; dy <= cy + 2; ++dy)
    for (long dx = cx - 2; dx <= cx + 2; ++dx) {
      auto d = Difference(*decoded, *ref, dx, dy);
      if (d.first < best.first) {
        best = d;
        bestDx = dx;
        bestDy = dy;
      }
    }
  const double percent = 100.0 * static_cast<double>(best.first) / static_cast<double>(std::max(1L, best.second));
  std::printf("decoded %ldx%ld with %ld black dots, reference %ldx%ld with %ld; offset %ld,%ld; %.2f%% of inked dots differ\n",
              decoded->width, decoded->height, a.count, ref->width, ref->height, b.count, bestDx, bestDy,
              percent);
  return percent <= maxDiff ? 0 : 1;
}
