#pragma once
// PNG and JPEG decoding for the decoder child. Untrusted input: the image's
// dimensions are checked against the limits before any pixel is decoded, a
// damaged file is an error with a reason (a truncated file is damaged, not
// a page printed half gray), and the output is always 8-bit gray (1
// channel) or 8-bit sRGB (3 channels), on white where the image has alpha.
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace app::convert {

// The largest image taken: an A4 page at 600 dpi fits (4961 x 7016), and so
// does a 4 x 6 inch label at 1200 dpi.
inline constexpr std::uint64_t kMaxImagePixels = 36'000'000;
inline constexpr std::uint32_t kMaxImageSide = 32'768;

struct ImageInfo {
  std::uint32_t width = 0, height = 0;
  unsigned channels = 0;  // 1 gray, 3 sRGB
  unsigned ppi = 0;       // pixels per inch, 0 when the file does not say
};

struct ImageLimits {
  std::uint64_t maxPixels = kMaxImagePixels;
  std::uint32_t maxSide = kMaxImageSide;
};

// "" when width x height is within the limits, else the reason.
std::string CheckImageSize(std::uint64_t width, std::uint64_t height, const ImageLimits &limits);

// Decodes the PNG or JPEG in `data`: `onHeader` once the size is known and
// checked (false stops), then `onRow` for each row of width * channels
// bytes, top first (false stops). "" on success, else the reason ("The PNG
// file is damaged (...)", "The image is larger than N pixels.").
std::string DecodeImage(std::span<const unsigned char> data, const ImageLimits &limits,
                        const std::function<bool(const ImageInfo &)> &onHeader,
                        const std::function<bool(const unsigned char *row)> &onRow);

}  // namespace app::convert
