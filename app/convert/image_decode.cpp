// PNG (libpng's simplified reader) and JPEG (libjpeg) decoding; see image_decode.h.
#include "app/convert/image_decode.h"

#include <png.h>
#include <stdio.h>  // jpeglib.h needs FILE and size_t first
#include <jpeglib.h>

#include <csetjmp>
#include <cstring>
#include <memory>
#include <vector>

namespace app::convert {
namespace {

std::uint32_t Be32(const unsigned char *p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

bool IsPng(std::span<const unsigned char> d) { return d.size() >= 8 && std::memcmp(d.data(), "\x89PNG\r\n\x1a\n", 8) == 0; }
bool IsJpeg(std::span<const unsigned char> d) { return d.size() >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF; }

// The header chunks before the image data: the size from IHDR and the
// resolution from pHYs (pixels per metre, as pixels per inch rounded).
struct PngHeader {
  bool ok = false;
  std::uint32_t width = 0, height = 0;
  unsigned ppi = 0;
};

PngHeader ReadPngHeader(std::span<const unsigned char> d) {
  PngHeader h;
  std::size_t at = 8;
  while (at + 12 <= d.size()) {
    const std::uint32_t length = Be32(&d[at]);
    const unsigned char *type = &d[at + 4];
    if (length > d.size() - at - 12) break;
    const unsigned char *body = &d[at + 8];
    if (std::memcmp(type, "IHDR", 4) == 0 && length >= 8) {
      h.width = Be32(body);
      h.height = Be32(body + 4);
      h.ok = true;
    } else if (std::memcmp(type, "pHYs", 4) == 0 && length >= 9 && body[8] == 1) {
      const std::uint64_t ppm = Be32(body);
      h.ppi = static_cast<unsigned>((ppm * 254 + 5000) / 10000);
    } else if (std::memcmp(type, "IDAT", 4) == 0 || std::memcmp(type, "IEND", 4) == 0) {
      break;
    }
    at += 12 + std::size_t{length};
  }
  return h;
}

std::string DecodePng(std::span<const unsigned char> data, const ImageLimits &limits,
                      const std::function<bool(const ImageInfo &)> &onHeader,
                      const std::function<bool(const unsigned char *)> &onRow) {
  const PngHeader header = ReadPngHeader(data);
  if (!header.ok) return "The PNG file is damaged (no image header).";
  if (std::string why = CheckImageSize(header.width, header.height, limits); !why.empty()) return why;

  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  struct Release {
    png_image *image;
    ~Release() { png_image_free(image); }
  } release{&image};
  if (!png_image_begin_read_from_memory(&image, data.data(), data.size()))
    return std::string("The PNG file is damaged (") + image.message + ").";
  ImageInfo info;
  info.width = image.width;
  info.height = image.height;
  info.channels = (image.format & PNG_FORMAT_FLAG_COLOR) ? 3 : 1;
  info.ppi = header.ppi;
  if (std::string why = CheckImageSize(info.width, info.height, limits); !why.empty()) return why;
  image.format = info.channels == 3 ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
  if (!onHeader(info)) return "";
  const std::size_t stride = std::size_t{info.width} * info.channels;
  std::vector<unsigned char> pixels(stride * info.height);
  // Transparent parts print as the paper: composed on white.
  const png_color white{255, 255, 255};
  if (!png_image_finish_read(&image, &white, pixels.data(), static_cast<png_int_32>(stride), nullptr))
    return std::string("The PNG file is damaged (") + image.message + ").";
  for (std::uint32_t y = 0; y < info.height; ++y)
    if (!onRow(&pixels[y * stride])) break;
  return "";
}

struct JpegError {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX] = "";
};

void JpegFail(j_common_ptr info) {
  auto *error = reinterpret_cast<JpegError *>(info->err);
  (*info->err->format_message)(info, error->message);
  std::longjmp(error->jump, 1);
}

// Warnings (data cut short, a corrupt segment) make the image damaged too:
// libjpeg would go on and fill the rest with gray.
void JpegMessage(j_common_ptr info, int level) {
  if (level < 0) {
    auto *error = reinterpret_cast<JpegError *>(info->err);
    (*info->err->format_message)(info, error->message);
    std::longjmp(error->jump, 1);
  }
}

// Adobe CMYK JPEGs store the inks inverted.
void CmykToRgb(const unsigned char *cmyk, unsigned char *rgb, std::uint32_t width) {
  for (std::uint32_t x = 0; x < width; ++x, cmyk += 4, rgb += 3) {
    const unsigned k = cmyk[3];
    for (int c = 0; c < 3; ++c) rgb[c] = static_cast<unsigned char>(cmyk[c] * k / 255);
  }
}

std::string DecodeJpeg(std::span<const unsigned char> data, const ImageLimits &limits,
                       const std::function<bool(const ImageInfo &)> &onHeader,
                       const std::function<bool(const unsigned char *)> &onRow) {
  jpeg_decompress_struct cinfo{};
  JpegError error;
  cinfo.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = JpegFail;
  error.manager.emit_message = JpegMessage;
  std::vector<unsigned char> row, cmykRow;
  std::string why;
  // Nothing with a destructor is made between here and the longjmp targets.
  if (setjmp(error.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return std::string("The JPEG file is damaged (") + error.message + ").";
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
  jpeg_read_header(&cinfo, TRUE);
  why = CheckImageSize(cinfo.image_width, cinfo.image_height, limits);
  if (!why.empty()) {
    jpeg_destroy_decompress(&cinfo);
    return why;
  }
  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  ImageInfo info;
  info.width = cinfo.image_width;
  info.height = cinfo.image_height;
  info.channels = cinfo.num_components == 1 ? 1 : 3;
  cinfo.out_color_space = info.channels == 1 ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_RGB;
  if (cinfo.density_unit == 1) info.ppi = cinfo.X_density;
  else if (cinfo.density_unit == 2) info.ppi = static_cast<unsigned>(cinfo.X_density * 254u / 100u);
  if (!onHeader(info)) {
    jpeg_destroy_decompress(&cinfo);
    return "";
  }
  jpeg_start_decompress(&cinfo);
  row.resize(std::size_t{info.width} * (cmyk ? 4 : info.channels));
  cmykRow.resize(cmyk ? std::size_t{info.width} * 3 : 0);
  bool go = true;
  while (go && cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW rows[1] = {row.data()};
    if (jpeg_read_scanlines(&cinfo, rows, 1) != 1) break;
    if (cmyk) CmykToRgb(row.data(), cmykRow.data(), info.width);
    go = onRow(cmyk ? cmykRow.data() : row.data());
  }
  if (go) jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return "";
}

}  // namespace

std::string CheckImageSize(std::uint64_t width, std::uint64_t height, const ImageLimits &limits) {
  if (width == 0 || height == 0) return "The image has no pixels.";
  if (width > limits.maxSide || height > limits.maxSide || width * height > limits.maxPixels)
    return "The image is larger than " + std::to_string(limits.maxPixels) + " pixels (" + std::to_string(width) +
           " x " + std::to_string(height) + "; at most " + std::to_string(limits.maxSide) + " on a side).";
  return "";
}

std::string DecodeImage(std::span<const unsigned char> data, const ImageLimits &limits,
                        const std::function<bool(const ImageInfo &)> &onHeader,
                        const std::function<bool(const unsigned char *row)> &onRow) {
  if (IsPng(data)) return DecodePng(data, limits, onHeader, onRow);
  if (IsJpeg(data)) return DecodeJpeg(data, limits, onHeader, onRow);
  return "The document is neither a PNG nor a JPEG image.";
}

}  // namespace app::convert
