#include "support/label_pages.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "dotweave/filter.h"

namespace dwtest {

std::string PrintPage(int family, ppd_file_t *ppd, const cups_page_header2_t &header, const std::vector<Bytes> &rows,
                      int page, std::size_t cancelAfter) {
  ModelNumber = family;
  Page = page;
  cups_page_header2_t h = header;
  return CaptureStdout([&] {
    StartPage(ppd, &h);
    if (JobFailed) {
      // The front end frees the page's buffers and stops the job.
      std::free(Buffer);
      std::free(CompBuffer);
      std::free(LastBuffer);
      Buffer = CompBuffer = LastBuffer = nullptr;
      return;
    }
    for (unsigned y = 0; y < h.cupsHeight && y < rows.size(); ++y) {
      if (y == cancelAfter) {
        Canceled = 1;
        break;
      }
      const std::size_t size = std::min<std::size_t>(rows[y].size(), h.cupsBytesPerLine);
      if (size != 0) std::memcpy(Buffer, rows[y].data(), size);
      OutputLine(ppd, &h, y);
    }
    if (cancelAfter != static_cast<std::size_t>(-1)) Canceled = 1;
    EndPage(ppd, &h);
  });
}

cups_page_header2_t LabelHeader(unsigned bytesPerLine, unsigned height, unsigned dpi) {
  return MakeHeader(bytesPerLine * 8, height, 1, dpi);
}

std::vector<Bytes> AssortedRows(std::mt19937 &rng, std::size_t count, std::size_t n) {
  std::vector<Bytes> rows;
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> kind(0, 9);
  for (std::size_t i = 0; i < count; ++i) {
    Bytes row(n, 0);
    switch (kind(rng)) {
      case 0: break;  // all zero
      case 1: std::fill(row.begin(), row.end(), 0xFF); break;
      case 2:
        for (std::size_t x = 0; x < n; ++x) row[x] = (x % 2) ? 0x55 : 0xAA;
        break;
      case 3: {  // long runs of one value, of any length
        std::size_t x = 0;
        while (x < n) {
          const std::size_t run = std::uniform_int_distribution<std::size_t>(1, 700)(rng);
          const auto value = static_cast<unsigned char>(byte(rng) < 128 ? 0 : byte(rng));
          for (std::size_t k = 0; k < run && x < n; ++k) row[x++] = value;
        }
        break;
      }
      case 4:
      case 5: {  // the row before with a few bytes changed at random offsets
        if (!rows.empty()) row = rows.back();
        const int changes = std::uniform_int_distribution<int>(1, 4)(rng);
        for (int c = 0; c < changes; ++c)
          row[std::uniform_int_distribution<std::size_t>(0, n - 1)(rng)] ^= static_cast<unsigned char>(1 + byte(rng) % 255);
        break;
      }
      case 6:  // the row before again
        if (!rows.empty()) row = rows.back();
        break;
      case 7: {  // a single set byte
        row[std::uniform_int_distribution<std::size_t>(0, n - 1)(rng)] = static_cast<unsigned char>(1 + byte(rng) % 255);
        break;
      }
      default:
        for (auto &b : row) b = static_cast<unsigned char>(byte(rng));
        break;
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<std::uint8_t> DotsOf(const std::vector<Bytes> &rows, unsigned width, bool zeroIsBlack) {
  std::vector<std::uint8_t> dots;
  for (const Bytes &row : rows) {
    for (unsigned x = 0; x < width; ++x) {
      const bool bit = x / 8 < row.size() && ((row[x / 8] >> (7 - x % 8)) & 1);
      dots.push_back(static_cast<std::uint8_t>(bit != zeroIsBlack));
    }
  }
  return dots;
}

}  // namespace dwtest
