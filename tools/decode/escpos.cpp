// ESC/POS decoder, from the command set's formats:
//   ESC @                      initialise
//   ESC J n                    feed n motion units (dot rows here)
//   ESC p m t1 t2              drawer kick pulse on pin 2 (m 0 or 48) or pin 5 (m 1 or 49)
//   GS v 0 m xL xH yL yH d...  raster bit image: x bytes a row, y rows, MSB first,
//                              1 a black dot; m 0/48 normal (1..3, 49..51 scaled)
//   GS V m                     cut: m 0/48 full, 1/49 partial
//   GS V m n                   m 65 full, 66 partial: feed to the cutter plus n, cut
//   GS P x y                   motion units 1/x and 1/y inch
//   GS ( K pL pH fn ...        printing control: fn 49 density, fn 50 speed
// The paper is one strip: a decoded page is a piece of it, ended by a cut
// (or by the end of the stream), as high as the rows printed and fed.
#include <algorithm>

#include "decode/decode.h"
#include "decode/labels.h"

namespace dwdecode {

namespace {

// A piece of paper of more dots than this (a 576-dot receipt 3.6 m long) is
// not decoded, nor a stream of more than four times as many.
constexpr std::size_t kMaxPieceDots = std::size_t{1} << 24;

class EscPosDecoder {
 public:
  explicit EscPosDecoder(std::string_view stream) : s_(stream) {}

  DecodeResult Run() {
    while (pos_ < s_.size()) {
      const std::uint8_t c = Byte(pos_);
      if (c == 0x1B) Escape();
      else if (c == 0x1D) GroupSeparator();
      else Fail("unexpected byte"), ++pos_;
    }
    if (open_) {
      Set("cut", "none");
      EndPiece();
    }
    for (Setting &s : pending_) result_.jobSettings.push_back(std::move(s));
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
  // A setting belongs to the piece of paper under way, or, before any paper
  // moved, to the job.
  void Set(std::string name, std::string value) {
    (open_ ? page_.settings : pending_).push_back({std::move(name), std::move(value)});
  }
  void Open() {
    if (open_) return;
    open_ = true;
    // Settings made since the last cut travel with this piece.
    if (result_.pages.empty() && !pending_.empty()) {
      for (Setting &s : pending_) result_.jobSettings.push_back(std::move(s));
    } else {
      for (Setting &s : pending_) page_.settings.push_back(std::move(s));
    }
    pending_.clear();
  }

  void Escape() {
    if (!Need(2)) return;
    switch (Byte(pos_ + 1)) {
      case '@':
        Set("initialise", "");
        pos_ += 2;
        return;
      case 'J':
        if (!Need(3)) return;
        Open();
        Set("feed", std::to_string(Byte(pos_ + 2)));
        rows_.resize(rows_.size() + Byte(pos_ + 2));
        pos_ += 3;
        CheckSize();
        return;
      case 'p': {
        if (!Need(5)) return;
        const std::uint8_t m = Byte(pos_ + 2);
        if (m == 0 || m == 48) Set("drawer-kick", "pin2");
        else if (m == 1 || m == 49) Set("drawer-kick", "pin5");
        else Fail("drawer kick with an unknown pin");
        pos_ += 5;
        return;
      }
      default:
        Fail("unknown ESC command");
        pos_ += 2;
        return;
    }
  }

  void GroupSeparator() {
    if (!Need(2)) return;
    switch (Byte(pos_ + 1)) {
      case 'v': Raster(); return;
      case 'V': Cut(); return;
      case 'P':
        if (!Need(4)) return;
        Set("motion-units", std::to_string(Byte(pos_ + 2)) + "x" + std::to_string(Byte(pos_ + 3)));
        pos_ += 4;
        return;
      case '(': Control(); return;
      default:
        Fail("unknown GS command");
        pos_ += 2;
        return;
    }
  }

  void Raster() {
    if (!Need(8)) return;
    if (Byte(pos_ + 2) != '0') {
      Fail("unknown GS v command");
      pos_ += 3;
      return;
    }
    const std::uint8_t m = Byte(pos_ + 3);
    const std::size_t x = Byte(pos_ + 4) + 256u * Byte(pos_ + 5);
    const std::size_t y = Byte(pos_ + 6) + 256u * Byte(pos_ + 7);
    if (m != 0 && m != 48) Fail("scaled raster image (shown unscaled)");
    if (!Need(8 + x * y)) return;
    Open();
    width_ = std::max<std::size_t>(width_, 8 * x);
    const auto *data = reinterpret_cast<const std::uint8_t *>(s_.data() + pos_ + 8);
    for (std::size_t r = 0; r < y; ++r) rows_.emplace_back(data + r * x, data + (r + 1) * x);
    pos_ += 8 + x * y;
    CheckSize();
  }

  // Pieces of paper are bounded like every decoded page: a stream of feeds
  // or wide images that would need more dots is refused, not allocated.
  void CheckSize() {
    const std::size_t dots = rows_.size() * std::max<std::size_t>(width_, 8);
    if (dots <= kMaxPieceDots && decodedDots_ + dots <= 4 * kMaxPieceDots) return;
    Fail("piece of paper too large to decode");
    pos_ = s_.size();
    rows_.clear();
  }

  void Cut() {
    if (!Need(3)) return;
    const std::uint8_t m = Byte(pos_ + 2);
    std::string kind;
    std::size_t length = 3;
    if (m == 0 || m == 48) kind = "full";
    else if (m == 1 || m == 49) kind = "partial";
    else if (m == 65 || m == 66) {
      if (!Need(4)) return;
      kind = std::string(m == 65 ? "full" : "partial") + "-after-feed+" + std::to_string(Byte(pos_ + 3));
      length = 4;
    } else {
      Fail("unknown cut mode");
      pos_ += 3;
      return;
    }
    pos_ += length;
    if (!open_) {
      // A cut with no paper moved since the last one: nothing to cut off.
      pending_.push_back({"cut", kind});
      Fail("cut without anything printed or fed since the last cut");
      return;
    }
    Set("cut", kind);
    EndPiece();
  }

  void Control() {
    if (!Need(5)) return;
    const std::size_t size = Byte(pos_ + 3) + 256u * Byte(pos_ + 4);
    if (Byte(pos_ + 2) != 'K' || size != 2) {
      Fail("unknown GS ( command");
      pos_ = std::min(s_.size(), pos_ + 5 + size);
      return;
    }
    if (!Need(7)) return;
    const std::uint8_t fn = Byte(pos_ + 5), m = Byte(pos_ + 6);
    if (fn == 49 || fn == '1') {
      // Steps of 5 % from 100 %: 250..255 are -6..-1, 0..8 are 0..+8.
      const int step = m >= 250 ? m - 256 : m;
      if (step > 8) Fail("density out of range");
      Set("density", std::to_string(100 + 5 * step) + "%");
    } else if (fn == 50 || fn == '2') {
      Set("speed", std::to_string(m));
    } else {
      Fail("unknown GS ( K function");
    }
    pos_ += 7;
  }

  void EndPiece() {
    page_.width = static_cast<unsigned>(width_);
    page_.height = static_cast<unsigned>(rows_.size());
    page_.dots.assign(std::size_t{page_.width} * page_.height, 0);
    decodedDots_ += page_.dots.size();
    // Fed rows stay white; image rows set their black dots.
    for (std::size_t y = 0; y < rows_.size(); ++y) {
      const std::vector<std::uint8_t> &row = rows_[y];
      std::uint8_t *dots = page_.dots.data() + y * page_.width;
      for (std::size_t i = 0; i < row.size(); ++i)
        for (unsigned bit = 0; bit < 8 && row[i] != 0; ++bit)
          if ((row[i] >> (7 - bit)) & 1) dots[8 * i + bit] = 1;
    }
    result_.pages.push_back(std::move(page_));
    page_ = {};
    rows_.clear();
    width_ = 0;
    open_ = false;
  }

  std::string_view s_;
  std::size_t pos_ = 0;
  DecodeResult result_;
  DecodedPage page_;
  std::vector<Setting> pending_;
  std::vector<std::vector<std::uint8_t>> rows_;  // rows of this piece; fed rows are empty
  std::size_t width_ = 0;
  std::size_t decodedDots_ = 0;  // of the pieces decoded so far
  bool open_ = false;
};

}  // namespace

DecodeResult DecodeEscPos(std::string_view stream) { return EscPosDecoder(stream).Run(); }

}  // namespace dwdecode
