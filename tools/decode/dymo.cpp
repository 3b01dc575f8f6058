// Dymo label protocol decoder. Commands are ESC and one letter: "@" reset,
// "L" label length (two bytes, high first), "D" bytes per line (one byte),
// "q" media position (decimal text), "f" 01 n feed n blank lines, "E" end
// of label, and a density letter from "c" up. A line is the byte 0x16 and
// then bytes-per-line bytes, most significant bit first, 1 a black dot.
#include "decode/decode.h"
#include "decode/labels.h"

namespace dwdecode {

namespace {

class DymoDecoder {
 public:
  explicit DymoDecoder(std::string_view stream) : s_(stream) {}

  DecodeResult Run() {
    while (pos_ < s_.size()) {
      const auto c = Byte(pos_);
      if (c == 0x1B) Escape();
      else if (c == 0x16) Line();
      else Fail("unexpected byte"), ++pos_;
    }
    if (open_) Fail("label not ended");
    return std::move(result_);
  }

 private:
  std::uint8_t Byte(std::size_t i) const { return static_cast<std::uint8_t>(s_[i]); }
  void Fail(std::string what) { result_.problems.push_back({pos_, std::move(what)}); }
  bool Need(std::size_t bytes) {
    if (pos_ + bytes <= s_.size()) return true;
    Fail("command cut short");
    pos_ = s_.size();
    return false;
  }
  void Set(std::string name, std::string value) {
    open_ = true;
    page_.settings.push_back({std::move(name), std::move(value)});
  }

  void Escape() {
    if (!Need(2)) return;
    const auto letter = Byte(pos_ + 1);
    switch (letter) {
      case 0x1B: ++pos_; return;  // synchronisation padding
      case '@':
        result_.jobSettings.push_back({"reset", ""});
        pos_ += 2;
        return;
      case 'L':
        if (!Need(4)) return;
        Set("label-length", std::to_string(Byte(pos_ + 2) * 256 + Byte(pos_ + 3)));
        pos_ += 4;
        return;
      case 'D':
        if (!Need(3)) return;
        bytesPerLine_ = Byte(pos_ + 2);
        Set("bytes-per-line", std::to_string(bytesPerLine_));
        pos_ += 3;
        return;
      case 'E':
        EndLabel();
        pos_ += 2;
        return;
      case 'f':
        if (pos_ + 3 < s_.size() && Byte(pos_ + 2) == 0x01) {
          rows_ += Byte(pos_ + 3);
          open_ = true;
          pos_ += 4;
          return;
        }
        break;  // the density letter "f"
      case 'q':
        if (MediaPosition()) return;
        break;  // the density letter "q"
      default:
        break;
    }
    if (letter < 'c') {
      Fail("unknown command");
      pos_ += 2;
      return;
    }
    Set("density", std::to_string(letter - 'c'));
    pos_ += 2;
  }

  bool MediaPosition() {
    std::size_t end = pos_ + 2;
    if (end < s_.size() && s_[end] == '-') ++end;
    const std::size_t digits = end;
    while (end < s_.size() && IsDecimalDigit(s_[end])) ++end;
    if (end == digits) return false;
    Set("media-position", std::string(s_.substr(pos_ + 2, end - pos_ - 2)));
    pos_ = end;
    return true;
  }

  void Line() {
    if (!Need(1 + std::size_t{bytesPerLine_})) return;
    open_ = true;
    const auto *data = reinterpret_cast<const std::uint8_t *>(s_.data() + pos_ + 1);
    lines_.push_back({rows_, std::vector<std::uint8_t>(data, data + bytesPerLine_)});
    ++rows_;
    pos_ += 1 + bytesPerLine_;
  }

  void EndLabel() {
    page_.width = 8u * bytesPerLine_;
    page_.height = rows_;
    page_.dots.assign(std::size_t{page_.width} * page_.height, 0);
    for (const auto &[row, bytes] : lines_) {
      std::vector<std::uint8_t> dots;
      UnpackRow(bytes, page_.width, false, dots);
      std::copy(dots.begin(), dots.end(), page_.dots.begin() + static_cast<std::ptrdiff_t>(std::size_t{row} * page_.width));
    }
    result_.pages.push_back(std::move(page_));
    page_ = {};
    lines_.clear();
    rows_ = 0;
    open_ = false;
  }

  std::string_view s_;
  std::size_t pos_ = 0;
  DecodeResult result_;
  DecodedPage page_;
  std::vector<std::pair<unsigned, std::vector<std::uint8_t>>> lines_;
  unsigned rows_ = 0;
  unsigned bytesPerLine_ = 0;
  bool open_ = false;
};

}  // namespace

DecodeResult DecodeDymo(std::string_view stream) { return DymoDecoder(stream).Run(); }

}  // namespace dwdecode
