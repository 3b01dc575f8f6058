// EPL decoders.
//
// Line mode: ESC "S" rate, ESC "D" darkness, ESC "M" media, ESC "B", and
// lines ESC "g" with the byte count (three digits or more) and the bytes,
// 1 a black dot; ESC "E" and a form feed end the label.
//
// Page mode: text commands, one a line: "N" clears the image buffer, "OD"
// direct thermal, "S" rate, "D" darkness, "q" label width, "GWx,y,n,h" then
// a line feed, n x h bytes (0 a black dot) and a line feed; "P1" prints the
// label and "C" cuts.
#include <algorithm>
#include <map>

#include "decode/decode.h"
#include "decode/labels.h"

namespace dwdecode {

namespace {

// Labels beyond this many dots a side are reported, not drawn.
constexpr std::size_t kMaxSide = 1u << 16;

// A page of packed rows placed at byte column 0.
struct RowImage {
  std::map<std::size_t, std::vector<std::uint8_t>> rows;
  std::size_t height = 0;
  std::size_t width = 0;

  DecodedPage Page(bool zeroIsBlack, std::vector<Setting> settings) const {
    DecodedPage page;
    page.settings = std::move(settings);
    if (width > kMaxSide || height > kMaxSide) return page;  // 0 x 0; reported by the caller
    page.width = static_cast<unsigned>(width);
    page.height = static_cast<unsigned>(height);
    page.dots.assign(width * height, 0);
    for (const auto &[y, bytes] : rows) {
      std::vector<std::uint8_t> dots;
      UnpackRow(bytes, page.width, zeroIsBlack, dots);
      std::copy(dots.begin(), dots.end(), page.dots.begin() + static_cast<std::ptrdiff_t>(y * width));
    }
    return page;
  }
};

class EplLineDecoder {
 public:
  explicit EplLineDecoder(std::string_view stream) : s_(stream) {}

  DecodeResult Run() {
    while (pos_ < s_.size()) {
      if (s_[pos_] != '\x1b' || pos_ + 1 >= s_.size()) {
        result_.problems.push_back({pos_, "unexpected byte"});
        ++pos_;
        continue;
      }
      const char letter = s_[pos_ + 1];
      pos_ += 2;
      switch (letter) {
        case 'S': Setting("print-rate", true); break;
        case 'D': Setting("darkness", false); break;
        case 'M': Setting("media", false); break;
        case 'B': open_ = true; break;
        case 'g': Line(); break;
        case 'E': EndLabel(); break;
        default: result_.problems.push_back({pos_ - 2, "unknown command"});
      }
    }
    if (open_) result_.problems.push_back({s_.size(), "label not ended"});
    return std::move(result_);
  }

 private:
  void Setting(const char *name, bool signedValue) {
    const std::size_t start = pos_;
    if (signedValue && pos_ < s_.size() && s_[pos_] == '-') ++pos_;
    while (pos_ < s_.size() && IsDecimalDigit(s_[pos_])) ++pos_;
    settings_.push_back({name, std::string(s_.substr(start, pos_ - start))});
    open_ = true;
  }

  // The count has three digits or more, and the bytes follow at once, so a
  // count is only taken when the next command starts right after its bytes.
  void Line() {
    std::size_t digits = 0;
    while (digits < 7 && pos_ + digits < s_.size() && IsDecimalDigit(s_[pos_ + digits])) ++digits;
    for (; digits >= 3; --digits) {
      std::size_t count = 0;
      ParseDecimal(s_.substr(pos_, digits), 9, count);
      const std::size_t next = pos_ + digits + count;
      if (next > s_.size() || (next < s_.size() && s_[next] != '\x1b')) continue;
      const auto *data = reinterpret_cast<const std::uint8_t *>(s_.data() + pos_ + digits);
      image_.rows[image_.height++] = std::vector<std::uint8_t>(data, data + count);
      image_.width = std::max(image_.width, count * 8);
      pos_ = next;
      open_ = true;
      return;
    }
    result_.problems.push_back({pos_ - 2, "line with no valid byte count"});
    pos_ = s_.size();
  }

  void EndLabel() {
    if (pos_ < s_.size() && s_[pos_] == '\f') ++pos_;
    else result_.problems.push_back({pos_, "end of label without a form feed"});
    if (image_.width > kMaxSide || image_.height > kMaxSide)
      result_.problems.push_back({pos_, "label too large to decode"});
    result_.pages.push_back(image_.Page(false, std::move(settings_)));
    settings_.clear();
    image_ = {};
    open_ = false;
  }

  std::string_view s_;
  std::size_t pos_ = 0;
  DecodeResult result_;
  std::vector<dwdecode::Setting> settings_;
  RowImage image_;
  bool open_ = false;
};

class EplPageDecoder {
 public:
  explicit EplPageDecoder(std::string_view stream) : s_(stream) {}

  DecodeResult Run() {
    while (pos_ < s_.size()) {
      const std::size_t start = pos_;
      const std::size_t end = s_.find('\n', pos_);
      const std::string_view line = s_.substr(pos_, end == std::string_view::npos ? std::string_view::npos : end - pos_);
      pos_ = end == std::string_view::npos ? s_.size() : end + 1;
      if (end == std::string_view::npos) result_.problems.push_back({start, "command without a line feed"});
      Command(start, line);
    }
    if (open_) result_.problems.push_back({s_.size(), "label not printed"});
    return std::move(result_);
  }

 private:
  void Command(std::size_t start, std::string_view line) {
    if (line.empty()) return;
    if (line == "N") {
      image_ = {};
      open_ = true;
    } else if (line == "OD") {
      settings_.push_back({"direct-thermal", ""});
    } else if (line[0] == 'S' || line[0] == 'D' || line[0] == 'q') {
      const char *name = line[0] == 'S' ? "print-rate" : line[0] == 'D' ? "darkness" : "width";
      settings_.push_back({name, std::string(line.substr(1))});
      if (line[0] == 'q') {
        std::size_t width = 0;
        if (ParseDecimal(line.substr(1), 9, width)) labelWidth_ = width;
      }
    } else if (line.substr(0, 2) == "GW") {
      Graphic(start, line.substr(2));
    } else if (line[0] == 'P') {
      settings_.push_back({"print", std::string(line.substr(1))});
      image_.width = std::max(image_.width, labelWidth_);
      result_.pages.push_back(image_.Page(true, std::move(settings_)));
      settings_.clear();
      open_ = false;
    } else if (line == "C") {
      if (result_.pages.empty()) result_.problems.push_back({start, "cut before any label"});
      else result_.pages.back().settings.push_back({"cut", ""});
    } else {
      result_.problems.push_back({start, "unknown command"});
    }
  }

  void Graphic(std::size_t start, std::string_view params) {
    std::size_t value[4] = {};
    for (std::size_t i = 0; i < 4; ++i) {
      const std::size_t comma = params.find(',');
      if (!ParseDecimal(params.substr(0, comma), 9, value[i]) || (i < 3) == (comma == std::string_view::npos)) {
        result_.problems.push_back({start, "malformed graphic command"});
        return;
      }
      params.remove_prefix(comma == std::string_view::npos ? params.size() : comma + 1);
    }
    const auto [x, y, bytesPerRow, rows] = value;
    if (x + bytesPerRow * 8 > kMaxSide || y + rows > kMaxSide) {
      result_.problems.push_back({start, "graphic too large to decode"});
      pos_ = s_.size();
      return;
    }
    const std::size_t size = bytesPerRow * rows;
    if (pos_ + size + 1 > s_.size() || s_[pos_ + size] != '\n') {
      result_.problems.push_back({start, "graphic data cut short"});
      pos_ = s_.size();
      return;
    }
    if (x % 8 != 0) result_.problems.push_back({start, "graphic not on a byte column"});
    const auto *data = reinterpret_cast<const std::uint8_t *>(s_.data() + pos_);
    for (std::size_t r = 0; r < rows; ++r) {
      std::vector<std::uint8_t> row(x / 8, 0xFF);  // no dots left of the graphic
      row.insert(row.end(), data + r * bytesPerRow, data + (r + 1) * bytesPerRow);
      image_.rows[y + r] = std::move(row);
    }
    image_.height = std::max(image_.height, y + rows);
    image_.width = std::max(image_.width, x + bytesPerRow * 8);
    pos_ += size + 1;
  }

  std::string_view s_;
  std::size_t pos_ = 0;
  DecodeResult result_;
  std::vector<Setting> settings_;
  RowImage image_;
  std::size_t labelWidth_ = 0;
  bool open_ = false;
};

}  // namespace

DecodeResult DecodeEplLine(std::string_view stream) { return EplLineDecoder(stream).Run(); }
DecodeResult DecodeEplPage(std::string_view stream) { return EplPageDecoder(stream).Run(); }

}  // namespace dwdecode
