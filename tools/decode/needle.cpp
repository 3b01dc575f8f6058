// Decoder of the OEM needle printer language: a zero block, escape-prefixed
// settings, 16-row image bands of 2880 bytes placed at the paper position
// reached by the feeds so far, then the end page and cut position commands.
// The decoded page is as tall as the paper fed for it.
#include <algorithm>
#include <string>

#include "decode/decode.h"
#include "decode/oem.h"

namespace dwdecode {
namespace oem {

std::vector<std::uint8_t> NeedleBandDots(std::string_view band) {
  std::vector<std::uint8_t> dots(kNeedleBandRows * kNeedleDots, 0);
  if (band.size() < kNeedleBandBytes) return dots;
  for (std::size_t r = 0; r < kNeedleBandRows; ++r) {
    const std::size_t half = r % 2 == 1 ? 0 : kNeedleDots;
    const unsigned bit = 0x80u >> (r / 2);
    for (std::size_t x = 0; x < kNeedleDots; ++x)
      if (static_cast<unsigned char>(band[half + x]) & bit) dots[r * kNeedleDots + x] = 1;
  }
  return dots;
}

}  // namespace oem

namespace {

unsigned char At(std::string_view s, std::size_t i) { return static_cast<unsigned char>(s[i]); }

// One page being rebuilt: its settings, the paper fed so far and the dots of
// the rows reached by its bands.
struct NeedlePage {
  DecodedPage page;
  std::uint64_t fed = 0;
  std::vector<std::uint8_t> rows;  // kNeedleDots per row, grown as bands arrive
  bool tooTall = false;
};

class NeedleDecoder {
 public:
  explicit NeedleDecoder(std::string_view s) : s_(s) {}

  DecodeResult Run() {
    while (i_ < s_.size()) Step();
    ClosePage();
    if (!pending_.empty()) {
      result_.problems.push_back({s_.size(), "zero block after the last page"});
      result_.jobSettings = std::move(pending_);
    }
    return std::move(result_);
  }

 private:
  void Problem(std::size_t at, std::string what) { result_.problems.push_back({at, std::move(what)}); }

  NeedlePage &Page() {
    if (!open_) {
      current_ = NeedlePage{};
      current_.page.settings = std::move(pending_);
      pending_.clear();
      open_ = true;
    }
    return current_;
  }

  void ClosePage() {
    if (!open_) return;
    NeedlePage &p = current_;
    const std::uint64_t height = std::min<std::uint64_t>(p.fed, oem::kMaxPageRows);
    if (p.fed > oem::kMaxPageRows && !p.tooTall)
      Problem(i_, "page longer than " + std::to_string(oem::kMaxPageRows) + " rows; cut");
    p.rows.resize(static_cast<std::size_t>(height) * oem::kNeedleDots, 0);
    p.page.width = static_cast<unsigned>(oem::kNeedleDots);
    p.page.height = static_cast<unsigned>(height);
    p.page.dots = std::move(p.rows);
    result_.pages.push_back(std::move(p.page));
    open_ = false;
  }

  // True when `size` bytes of the command at i_ are present; reports otherwise.
  bool Have(std::size_t size, const char *name) {
    if (s_.size() - i_ >= size) return true;
    Problem(i_, std::string("truncated ") + name + " command");
    i_ = s_.size();
    return false;
  }

  void Add(const char *name, std::string value) { Page().page.settings.push_back({name, std::move(value)}); }

  void Step() {
    const unsigned char c = At(s_, i_);
    if (c == 0x00) {
      const std::size_t end = std::min(s_.find_first_not_of('\0', i_), s_.size());
      ClosePage();
      pending_.push_back({"zero-block", std::to_string(end - i_)});
      i_ = end;
    } else if (c == 0x1D) {
      if (!Have(3, "end page")) return;
      if (At(s_, i_ + 1) != 0x56 || At(s_, i_ + 2) != 0x53) {
        Problem(i_, "unknown command 0x1D " + oem::ByteText(At(s_, i_ + 1)));
        i_ += 2;
        return;
      }
      Add("end-page", "");
      i_ += 3;
    } else if (c == 0x1B) {
      if (!Have(2, "escape")) return;
      Escape(At(s_, i_ + 1));
    } else {
      Problem(i_, "unexpected byte " + oem::ByteText(c));
      const std::size_t next = s_.find_first_of(std::string_view("\x1b\x1d\0", 3), i_ + 1);
      i_ = next == std::string_view::npos ? s_.size() : next;
    }
  }

  void Escape(unsigned char code) {
    switch (code) {
      case 0x0A:
        if (!Have(7, "density")) return;
        if (At(s_, i_ + 2) != 0x01 || At(s_, i_ + 4) || At(s_, i_ + 5) || At(s_, i_ + 6))
          Problem(i_, "density command with unexpected fixed bytes");
        Add("density", std::to_string(At(s_, i_ + 3)));
        i_ += 7;
        return;
      case 0x55: OneByte("unidirectional", 1); return;
      case 0x7A: OneByte("speed", 1); return;
      case 0xA0: OneByte("start-position", 1); return;
      case 0xA1: OneByte("start-position", -1); return;
      case 0x9C: OneByte("cut-position", 1); return;
      case 0x9E: OneByte("cut-position", -1); return;
      case 0x89:
        if (!Have(4, "page length")) return;
        Add("page-length", std::to_string(unsigned{At(s_, i_ + 2)} << 8 | At(s_, i_ + 3)));
        i_ += 4;
        return;
      case 0x4A: Feed(); return;
      case 0x2A: Band(); return;
      default:
        Problem(i_, "unknown command 0x1B " + oem::ByteText(code));
        i_ += 2;
        return;
    }
  }

  void OneByte(const char *name, int sign) {
    if (!Have(3, name)) return;
    Add(name, std::to_string(sign * int{At(s_, i_ + 2)}));
    i_ += 3;
  }

  void Feed() {
    if (!Have(4, "paper feed")) return;
    const unsigned rows = At(s_, i_ + 2);
    if (At(s_, i_ + 3) != 0x0D) Problem(i_ + 3, "paper feed not ended by 0x0D");
    Add("feed", std::to_string(rows));
    Page().fed += rows;
    i_ += 4;
  }

  void Band() {
    if (!Have(5, "image")) return;
    if (At(s_, i_ + 2) != 0x01) Problem(i_ + 2, "image command mode " + oem::ByteText(At(s_, i_ + 2)));
    const std::size_t count = std::size_t{At(s_, i_ + 3)} | std::size_t{At(s_, i_ + 4)} << 8;
    const std::size_t data = i_ + 5;
    if (s_.size() - data < count) {
      Problem(i_, "image data cut short: " + std::to_string(count) + " bytes announced, " +
                      std::to_string(s_.size() - data) + " present");
      i_ = s_.size();
      return;
    }
    NeedlePage &p = Page();
    p.page.settings.push_back({"band", std::to_string(p.fed)});
    if (count != oem::kNeedleBandBytes)
      Problem(i_, "image of " + std::to_string(count) + " bytes; a band has " +
                      std::to_string(oem::kNeedleBandBytes));
    else
      Replay(p, s_.substr(data, count));
    i_ = data + count;
  }

  // Puts the band's dots on the page at the paper position reached so far.
  void Replay(NeedlePage &p, std::string_view band) {
    const auto dots = oem::NeedleBandDots(band);
    for (std::size_t r = 0; r < oem::kNeedleBandRows; ++r) {
      const std::uint64_t y = p.fed + r;
      const auto *row = dots.data() + r * oem::kNeedleDots;
      if (std::none_of(row, row + oem::kNeedleDots, [](std::uint8_t d) { return d != 0; })) continue;
      if (y >= oem::kMaxPageRows) {
        if (!p.tooTall) Problem(i_, "page longer than " + std::to_string(oem::kMaxPageRows) + " rows; cut");
        p.tooTall = true;
        return;
      }
      const std::size_t need = (static_cast<std::size_t>(y) + 1) * oem::kNeedleDots;
      if (p.rows.size() < need) p.rows.resize(need, 0);
      auto *target = p.rows.data() + static_cast<std::size_t>(y) * oem::kNeedleDots;
      for (std::size_t x = 0; x < oem::kNeedleDots; ++x) target[x] |= row[x];
    }
  }

  std::string_view s_;
  std::size_t i_ = 0;
  DecodeResult result_;
  std::vector<Setting> pending_;
  NeedlePage current_;
  bool open_ = false;
};

}  // namespace

DecodeResult DecodeOemNeedle(std::string_view stream) { return NeedleDecoder(stream).Run(); }

}  // namespace dwdecode
