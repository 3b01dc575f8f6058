// PCL raster decoder. Escape sequences are ESC, a parameterized character
// (0x21 to 0x2F), a group character, then one or more value fields, each a
// signed decimal number and a parameter character: lower case when another
// field of the same family follows, upper case for the last. Raster rows
// arrive by "ESC * b # W" in compression mode 0 (plain) or 3 (delta row
// against the seed row); "ESC * b # Y" skips rows and clears the seed row. A
// form feed ends the page.
#include <algorithm>
#include <cstdlib>

#include "decode/decode.h"
#include "decode/labels.h"

namespace dwdecode {

std::optional<std::string> ApplyDeltaRow(std::span<const std::uint8_t> data, std::vector<std::uint8_t> &seed) {
  std::size_t i = 0;
  std::size_t pos = 0;
  while (i < data.size()) {
    const std::uint8_t command = data[i++];
    const std::size_t count = (command >> 5) + 1u;
    std::size_t offset = command & 31u;
    if (offset == 31) {
      std::uint8_t more = 255;
      while (more == 255) {
        if (i >= data.size()) return "offset extension cut short";
        more = data[i++];
        offset += more;
      }
    }
    pos += offset;
    if (i + count > data.size()) return "replacement bytes cut short";
    if (pos + count > seed.size()) return "replacement past the end of the row";
    std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(i), count, seed.begin() + static_cast<std::ptrdiff_t>(pos));
    i += count;
    pos += count;
  }
  return std::nullopt;
}

namespace {

// Pages beyond this many dots a side are reported, not drawn.
constexpr std::size_t kMaxSide = 1u << 16;

struct Escape {
  char family;  // parameterized character
  char group;
  char parameter;  // upper case
  long value;
  std::string text;  // the value as written
};

class PclDecoder {
 public:
  explicit PclDecoder(std::string_view stream) : s_(stream) {}

  DecodeResult Run() {
    while (pos_ < s_.size()) {
      const char c = s_[pos_];
      if (c == '\f') {
        ++pos_;
        EndPage();
      } else if (c == '\x1b') {
        EscapeSequence();
      } else {
        Fail(pos_, "unexpected byte");
        ++pos_;
      }
    }
    if (open_) Fail(s_.size(), "page not ended by a form feed");
    return std::move(result_);
  }

 private:
  void Fail(std::size_t at, std::string what) { result_.problems.push_back({at, std::move(what)}); }

  void EscapeSequence() {
    const std::size_t start = pos_;
    if (pos_ + 1 >= s_.size()) {
      Fail(start, "escape cut short");
      pos_ = s_.size();
      return;
    }
    const char family = s_[pos_ + 1];
    if (family == 'E') {
      result_.jobSettings.push_back({"reset", ""});
      pos_ += 2;
      return;
    }
    if (family < 0x21 || family > 0x2F || pos_ + 2 >= s_.size()) {
      Fail(start, "unknown escape sequence");
      pos_ += 2;
      return;
    }
    const char group = s_[pos_ + 2];
    pos_ += 3;
    while (true) {
      const std::size_t valueStart = pos_;
      while (pos_ < s_.size() && (s_[pos_] == '-' || s_[pos_] == '+' || s_[pos_] == '.' ||
                                  IsDecimalDigit(s_[pos_])))
        ++pos_;
      if (pos_ >= s_.size() || pos_ - valueStart > 12) {
        Fail(start, "escape sequence cut short");
        pos_ = s_.size();
        return;
      }
      const char parameter = s_[pos_++];
      const bool last = parameter >= 0x40 && parameter <= 0x5E;
      if (!last && !(parameter >= 0x60 && parameter <= 0x7E)) {
        Fail(start, "bad parameter character");
        return;
      }
      std::string text(s_.substr(valueStart, pos_ - 1 - valueStart));
      const long value = std::strtol(text.c_str(), nullptr, 10);
      Apply({family, group, static_cast<char>(last ? parameter : parameter - 0x20), value, std::move(text)}, start);
      if (last) return;
    }
  }

  void Set(std::string name, std::string value) {
    open_ = true;
    settings_.push_back({std::move(name), std::move(value)});
  }

  void Apply(const Escape &e, std::size_t at) {
    const std::string key{e.family, e.group, e.parameter};
    struct Named {
      const char *key;
      const char *name;
    };
    static constexpr Named kSettings[] = {
        {"&lD", "lines-per-inch"}, {"&kH", "motion-index"},  {"&lO", "orientation"},
        {"&lA", "page-size"},      {"!fZ", "custom-length"}, {"&lP", "page-length"},
        {"&lE", "top-margin"},     {"&lX", "copies"},        {"&lL", "perforation-skip"},
        {"!pS", "row-feed"},       {"&dA", "density"},       {"!pM", "print-mode"},
        {"!nT", "tear-row-count"}, {"!nC", "row-step"},      {"*tR", "resolution"},
        {"&aH", "cursor-x"},       {"&aV", "cursor-y"},
    };
    for (const Named &n : kSettings) {
      if (key == n.key) {
        Set(n.name, e.text);
        return;
      }
    }
    if (key == "*rS") {
      Set("raster-width", e.text);
      width_ = std::min(static_cast<std::size_t>(std::max(0L, e.value)), kMaxSide);
      if (e.value > static_cast<long>(kMaxSide)) Fail(at, "raster width too large to decode");
    } else if (key == "*rT") {
      Set("raster-height", e.text);
      height_ = std::min(static_cast<std::size_t>(std::max(0L, e.value)), kMaxSide);
      if (e.value > static_cast<long>(kMaxSide)) Fail(at, "raster height too large to decode");
    } else if (key == "*rA") {
      open_ = true;
      inRaster_ = true;
      seed_.assign((width_ + 7) / 8, 0);
    } else if (key == "*bM") {
      Set("compression", e.text);
      mode_ = e.value;
      if (mode_ != 0 && mode_ != 3) Fail(at, "compression mode not understood");
    } else if (key == "*bY") {
      if (!inRaster_) Fail(at, "row skip outside raster graphics");
      AddBlankRows(static_cast<std::size_t>(std::max(0L, e.value)));
      std::fill(seed_.begin(), seed_.end(), 0);
    } else if (key == "*bW") {
      Row(e, at);
    } else if (key == "*rB") {
      inRaster_ = false;
    } else {
      Fail(at, "unknown command " + key);
    }
  }

  void AddBlankRows(std::size_t count) {
    if (rows_.size() + count > height_) Fail(pos_, "rows past the raster height");
    count = std::min(count, height_ - std::min(height_, rows_.size()));
    rows_.insert(rows_.end(), count, std::vector<std::uint8_t>(seed_.size(), 0));
  }

  void Row(const Escape &e, std::size_t at) {
    const auto size = static_cast<std::size_t>(std::max(0L, e.value));
    if (pos_ + size > s_.size()) {
      Fail(at, "row data cut short");
      pos_ = s_.size();
      return;
    }
    const std::span data(reinterpret_cast<const std::uint8_t *>(s_.data() + pos_), size);
    pos_ += size;
    if (!inRaster_) Fail(at, "row outside raster graphics");
    if (mode_ == 3) {
      if (auto error = ApplyDeltaRow(data, seed_)) Fail(at, *error);
    } else {
      std::fill(seed_.begin(), seed_.end(), 0);
      std::copy_n(data.begin(), std::min(size, seed_.size()), seed_.begin());
      if (size > seed_.size()) Fail(at, "row longer than the raster width");
    }
    if (rows_.size() >= height_) Fail(at, "rows past the raster height");
    else rows_.push_back(seed_);
  }

  void EndPage() {
    DecodedPage page;
    page.width = static_cast<unsigned>(width_);
    page.height = static_cast<unsigned>(height_);
    page.dots.reserve(width_ * height_);
    for (std::size_t y = 0; y < height_; ++y) {
      if (y < rows_.size()) UnpackRow(rows_[y], page.width, false, page.dots);
      else page.dots.insert(page.dots.end(), width_, 0);
    }
    page.settings = std::move(settings_);
    if (inRaster_) Fail(pos_, "page ended inside raster graphics");
    result_.pages.push_back(std::move(page));
    settings_.clear();
    rows_.clear();
    open_ = false;
    inRaster_ = false;
  }

  std::string_view s_;
  std::size_t pos_ = 0;
  DecodeResult result_;
  std::vector<Setting> settings_;
  std::vector<std::vector<std::uint8_t>> rows_;
  std::vector<std::uint8_t> seed_;
  std::size_t width_ = 0;
  std::size_t height_ = 0;
  long mode_ = 0;
  bool open_ = false;
  bool inRaster_ = false;
};

}  // namespace

DecodeResult DecodePcl(std::string_view stream) { return PclDecoder(stream).Run(); }

}  // namespace dwdecode
