// TSPL/TSPL2 decoder, from the language's command formats. Commands are
// text lines ended by CR LF (a lone LF is taken too); keywords and their
// parameters are separated by a blank, parameters by commas.
//   SIZE w,h | SIZE w mm,h mm | SIZE w dot,h dot   label size (inches without a unit)
//   GAP m,n | BLINE m,n        gap or black mark between labels (GAP 0,0: continuous)
//   DIRECTION n[,m], REFERENCE x,y, DENSITY n (0..15), SPEED n, SET ... ON/OFF
//   CLS                        clear the image buffer to white
//   BITMAP x,y,wb,h,mode,data  wb bytes by h rows of binary data, MSB first;
//                              a 0 bit is a black dot, a 1 bit white; mode 0
//                              overwrites, 1 ORs (black wins), 2 XORs
//   PRINT m[,n]                print the buffer: m sets of n copies
// A decoded page is one PRINT. Its height is the label length at the
// resolution (given, or inferred: 300 dpi when an image is wider than the
// label at 203 dpi), enlarged to hold every image; its width is that of the
// widest image row (the label width when there is none).
#include <algorithm>
#include <cmath>

#include "decode/decode.h"
#include "decode/labels.h"

namespace dwdecode {

namespace {

constexpr std::size_t kMaxSide = 1u << 14;
// Dots of one label and of all labels of a stream: more is not a label job,
// and is refused rather than allocated.
constexpr std::size_t kMaxPageDots = std::size_t{1} << 25;
constexpr std::size_t kMaxStreamDots = std::size_t{1} << 27;

struct Bitmap {
  std::size_t x, y, bytes, rows;
  int mode;
  std::string_view data;
};

std::string_view Trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

std::vector<std::string_view> Split(std::string_view s) {
  std::vector<std::string_view> out;
  while (true) {
    const std::size_t comma = s.find(',');
    out.push_back(Trim(s.substr(0, comma)));
    if (comma == std::string_view::npos) return out;
    s.remove_prefix(comma + 1);
  }
}

// "101.6 mm", "4", "812 dot" as millimetres (dots need the resolution).
std::optional<double> Length(std::string_view text, unsigned dpi) {
  double scale = 25.4;  // inches
  if (text.ends_with("mm")) scale = 1, text = Trim(text.substr(0, text.size() - 2));
  else if (text.ends_with("dot")) scale = 25.4 / dpi, text = Trim(text.substr(0, text.size() - 3));
  if (text.empty() || text.size() > 12) return std::nullopt;
  double value = 0, fraction = 0.1;
  bool point = false;
  for (char c : text) {
    if (c == '.' && !point) point = true;
    else if (!IsDecimalDigit(c)) return std::nullopt;
    else if (point) value += (c - '0') * fraction, fraction /= 10;
    else value = value * 10 + (c - '0');
  }
  return value * scale;
}

class TsplDecoder {
 public:
  TsplDecoder(std::string_view stream, unsigned dpi) : s_(stream), dpi_(dpi) {}

  DecodeResult Run() {
    while (pos_ < s_.size()) {
      std::size_t end = s_.find('\n', pos_);
      if (end == std::string_view::npos) end = s_.size();
      const std::string_view line = Trim(s_.substr(pos_, end - pos_));
      const std::size_t start = pos_;
      pos_ = std::min(s_.size(), end + 1);
      if (line.starts_with("BITMAP ")) {
        pos_ = start;
        BitmapCommand();
      } else if (!line.empty()) {
        Command(line, start);
      }
    }
    if (!images_.empty() || cleared_) result_.problems.push_back({s_.size(), "label not printed"});
    return std::move(result_);
  }

 private:
  void Fail(std::size_t at, std::string what) { result_.problems.push_back({at, std::move(what)}); }
  void Set(std::string name, std::string value) { settings_.push_back({std::move(name), std::move(value)}); }

  void Command(std::string_view line, std::size_t at) {
    const std::size_t blank = line.find(' ');
    const std::string_view keyword = line.substr(0, blank);
    const std::string_view args = blank == std::string_view::npos ? "" : Trim(line.substr(blank + 1));
    if (keyword == "SIZE") {
      const auto parts = Split(args);
      const auto w = parts.size() == 2 ? Length(parts[0], dpi_ ? dpi_ : 203) : std::nullopt;
      const auto h = parts.size() == 2 ? Length(parts[1], dpi_ ? dpi_ : 203) : std::nullopt;
      if (!w || !h) return Fail(at, "SIZE needs a width and a length");
      widthMm_ = *w, lengthMm_ = *h;
      Set("size", std::string(args));
    } else if (keyword == "GAP" || keyword == "BLINE") {
      if (Split(args).size() != 2) return Fail(at, std::string(keyword) + " needs two values");
      Set(keyword == "GAP" ? (Trim(Split(args)[0]) == "0" ? "continuous" : "gap") : "black-mark", std::string(args));
    } else if (keyword == "DIRECTION" || keyword == "REFERENCE" || keyword == "SPEED" || keyword == "DENSITY" ||
               keyword == "OFFSET" || keyword == "SHIFT") {
      std::size_t value = 0;
      if (keyword == "DENSITY" && (!ParseDecimal(args, 2, value) || value > 15))
        return Fail(at, "DENSITY must be 0 to 15");
      std::string name(keyword);
      std::transform(name.begin(), name.end(), name.begin(), [](char c) { return static_cast<char>(c - 'A' + 'a'); });
      Set(name, std::string(args));
    } else if (keyword == "SET") {
      Set("set", std::string(args));
    } else if (keyword == "CLS") {
      images_.clear();
      cleared_ = true;
    } else if (keyword == "PRINT") {
      const auto parts = Split(args);
      std::size_t sets = 0, copies = 1;
      if (parts.empty() || parts.size() > 2 || !ParseDecimal(parts[0], 9, sets) ||
          (parts.size() == 2 && !ParseDecimal(parts[1], 9, copies)))
        return Fail(at, "PRINT needs a count of sets and of copies");
      Set("print", std::string(args));
      Print(at);
    } else {
      Fail(at, "unknown command " + std::string(keyword));
    }
  }

  void BitmapCommand() {
    const std::size_t at = pos_;
    // Five numbers after "BITMAP ", then the data.
    std::size_t p = pos_ + 7;
    std::size_t values[5];
    for (std::size_t &v : values) {
      const std::size_t comma = s_.find(',', p);
      if (comma == std::string_view::npos || comma - p > 8 || !ParseDecimal(Trim(s_.substr(p, comma - p)), 8, v)) {
        Fail(at, "BITMAP needs x, y, width, height and mode");
        pos_ = SkipLine(at);
        return;
      }
      p = comma + 1;
    }
    const Bitmap b{values[0], values[1], values[2], values[3], static_cast<int>(values[4]), {}};
    if (b.mode > 2) Fail(at, "BITMAP mode " + std::to_string(b.mode) + " unknown");
    if (b.x + 8 * b.bytes > kMaxSide || b.y + b.rows > kMaxSide) {
      Fail(at, "BITMAP larger than a label");
      pos_ = s_.size();
      return;
    }
    const std::size_t size = b.bytes * b.rows;
    if (p + size > s_.size()) {
      Fail(at, "BITMAP data cut short");
      pos_ = s_.size();
      return;
    }
    Bitmap full = b;
    full.data = s_.substr(p, size);
    images_.push_back(full);
    pos_ = p + size;
    // The data may be followed by the line's CR LF.
    if (s_.substr(pos_, 2) == "\r\n") pos_ += 2;
    else if (s_.substr(pos_, 1) == "\n") pos_ += 1;
  }

  std::size_t SkipLine(std::size_t from) const {
    const std::size_t end = s_.find('\n', from);
    return end == std::string_view::npos ? s_.size() : end + 1;
  }

  void Print(std::size_t at) {
    if (!cleared_) Fail(at, "PRINT without CLS: the image buffer holds the previous label");
    std::size_t right = 0, bottom = 0;
    for (const Bitmap &b : images_) right = std::max(right, b.x + 8 * b.bytes), bottom = std::max(bottom, b.y + b.rows);
    unsigned dpi = dpi_;
    if (dpi == 0) dpi = static_cast<double>(right) > widthMm_ / 25.4 * 203 + 8 ? 300 : 203;
    const auto dots = [&](double mm) { return static_cast<std::size_t>(std::lround(mm / 25.4 * dpi)); };
    DecodedPage page;
    page.width = static_cast<unsigned>(images_.empty() ? std::min(dots(widthMm_), kMaxSide) : right);
    page.height = static_cast<unsigned>(std::max(std::min(dots(lengthMm_), kMaxSide), bottom));
    const std::size_t area = std::size_t{page.width} * page.height;
    if (area > kMaxPageDots || decodedDots_ + area > kMaxStreamDots) {
      Fail(at, "label too large to decode");
      pos_ = s_.size();
      images_.clear();
      cleared_ = false;
      return;
    }
    decodedDots_ += area;
    page.dots.assign(area, 0);
    for (const Bitmap &b : images_) {
      for (std::size_t r = 0; r < b.rows; ++r)
        for (std::size_t x = 0; x < 8 * b.bytes; ++x) {
          const auto byte = static_cast<std::uint8_t>(b.data[r * b.bytes + x / 8]);
          const bool black = ((byte >> (7 - x % 8)) & 1) == 0;  // 0 prints
          std::uint8_t &dot = page.dots[(b.y + r) * page.width + b.x + x];
          if (b.mode == 1) dot = static_cast<std::uint8_t>(dot | black);
          else if (b.mode == 2) dot = static_cast<std::uint8_t>(dot ^ black);
          else dot = black;
        }
      Set("bitmap", std::to_string(b.bytes) + "x" + std::to_string(b.rows) + "@" + std::to_string(b.y));
    }
    page.settings = std::move(settings_);
    settings_.clear();
    result_.pages.push_back(std::move(page));
    images_.clear();
    cleared_ = false;
  }

  std::string_view s_;
  unsigned dpi_;
  std::size_t pos_ = 0;
  DecodeResult result_;
  std::vector<Setting> settings_;
  std::vector<Bitmap> images_;
  double widthMm_ = 0, lengthMm_ = 0;
  std::size_t decodedDots_ = 0;
  bool cleared_ = false;
};

}  // namespace

DecodeResult DecodeTspl(std::string_view stream, unsigned dpi) { return TsplDecoder(stream, dpi).Run(); }

}  // namespace dwdecode
