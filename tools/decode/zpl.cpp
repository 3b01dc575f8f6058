// ZPL decoder: graphic downloads ("~DG") with their compressed hex data, the
// label formats ("^XA" ... "^XZ") that recall a stored graphic, and the
// setting commands around them. A page is printed by every format that
// recalls a graphic with "^XG".
#include <algorithm>
#include <cctype>
#include <map>

#include "decode/decode.h"
#include "decode/labels.h"

namespace dwdecode {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Collects the hex digits of one row and turns them into bytes.
class RowBuilder {
 public:
  explicit RowBuilder(std::size_t bytesPerRow) : nibbles_(2 * bytesPerRow) {}
  std::size_t Left() const { return nibbles_.size() - used_; }
  bool Empty() const { return used_ == 0; }
  void Add(int value, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) nibbles_[used_++] = static_cast<std::uint8_t>(value);
  }
  void Fill(int value) { Add(value, Left()); }
  void Commit(std::vector<std::uint8_t> &out) {
    for (std::size_t i = 0; i + 1 < nibbles_.size(); i += 2)
      out.push_back(static_cast<std::uint8_t>(nibbles_[i] << 4 | nibbles_[i + 1]));
    used_ = 0;
  }

 private:
  std::vector<std::uint8_t> nibbles_;
  std::size_t used_ = 0;
};

}  // namespace

ZplGraphicData DecodeZplGraphic(std::string_view text, std::size_t bytesPerRow, std::size_t totalBytes) {
  ZplGraphicData result;
  if (bytesPerRow == 0 || totalBytes % bytesPerRow != 0) {
    result.complete = totalBytes == 0;
    if (totalBytes != 0) result.problem = Problem{0, "graphic total is not a whole number of rows"};
    return result;
  }
  const std::size_t rows = totalBytes / bytesPerRow;
  result.bytes.reserve(std::min<std::size_t>(totalBytes, 1u << 24));
  RowBuilder row(bytesPerRow);
  std::size_t repeat = 0;
  std::size_t rowsDone = 0;
  std::size_t i = 0;
  const auto fail = [&](std::string what) {
    result.problem = Problem{i, std::move(what)};
    result.consumed = i;
    return result;
  };

  for (; i < text.size() && rowsDone < rows; ++i) {
    const char c = text[i];
    if (c == '\n' || c == '\r') continue;
    if (c >= 'G' && c <= 'Y') {
      repeat += static_cast<std::size_t>(c - 'F');
      continue;
    }
    if (c >= 'g' && c <= 'z') {
      repeat += static_cast<std::size_t>(c - 'f') * 20;
      continue;
    }
    if (const int value = HexValue(c); value >= 0) {
      const std::size_t count = repeat != 0 ? repeat : 1;
      repeat = 0;
      if (count > row.Left()) return fail("repeat count runs past the end of the row");
      row.Add(value, count);
    } else if (c == ',' || c == '!') {
      if (repeat != 0) return fail("repeat count before a row fill");
      row.Fill(c == ',' ? 0 : 15);
    } else if (c == ':') {
      if (repeat != 0 || !row.Empty()) return fail("row repeat in the middle of a row");
      if (rowsDone == 0) return fail("row repeat with no row before it");
      result.bytes.insert(result.bytes.end(), result.bytes.end() - static_cast<std::ptrdiff_t>(bytesPerRow),
                          result.bytes.end());
      ++rowsDone;
      continue;
    } else {
      if (repeat != 0 || !row.Empty()) return fail("graphic data ends in the middle of a row");
      result.consumed = i;  // not graphic data: the download stops here
      return result;
    }
    if (row.Left() == 0) {
      row.Commit(result.bytes);
      ++rowsDone;
    }
  }
  result.consumed = i;
  result.complete = rowsDone == rows;
  return result;
}

namespace {

struct Graphic {
  unsigned width = 0;
  unsigned height = 0;
  std::vector<std::uint8_t> dots;
};

std::string_view Field(std::string_view params, std::size_t index) {
  for (std::size_t i = 0; i < index; ++i) {
    const std::size_t comma = params.find(',');
    if (comma == std::string_view::npos) return {};
    params.remove_prefix(comma + 1);
  }
  return params.substr(0, params.find(','));
}

class ZplDecoder {
 public:
  explicit ZplDecoder(std::string_view stream) : s_(stream) {}

  DecodeResult Run() {
    while (pos_ < s_.size()) {
      const char c = s_[pos_];
      if (c == '\n' || c == '\r' || c == ' ') {
        ++pos_;
      } else if ((c == '^' || c == '~') && pos_ + 2 < s_.size()) {
        Command(c);
      } else {
        result_.problems.push_back({pos_, "unexpected byte outside a command"});
        ++pos_;
      }
    }
    if (inFormat_) result_.problems.push_back({s_.size(), "label format not ended"});
    for (Setting &setting : pending_) result_.jobSettings.push_back(std::move(setting));
    return std::move(result_);
  }

 private:
  void Command(char prefix) {
    const std::size_t start = pos_;
    std::string name{static_cast<char>(std::toupper(static_cast<unsigned char>(s_[pos_ + 1]))),
                     static_cast<char>(std::toupper(static_cast<unsigned char>(s_[pos_ + 2])))};
    pos_ += 3;
    if (prefix == '~' && name == "DG") {
      Download(start);
      return;
    }
    const std::size_t end = s_.find_first_of("^~\n", pos_);
    const std::string_view params = s_.substr(pos_, end == std::string_view::npos ? std::string_view::npos : end - pos_);
    pos_ = end == std::string_view::npos ? s_.size() : end;

    if (name == "XA") {
      if (inFormat_) result_.problems.push_back({start, "label format started twice"});
      inFormat_ = true;
      recall_.clear();
    } else if (name == "XZ") {
      if (!inFormat_) result_.problems.push_back({start, "label format ended before it started"});
      inFormat_ = false;
      if (!recall_.empty()) PrintPage(start);
    } else if (name == "XG") {
      recall_ = std::string(Field(params, 0));
      if (!graphics_.count(recall_)) {
        result_.problems.push_back({start, "recall of a graphic that was not downloaded"});
        recall_.clear();
      }
    } else if (name == "ID") {
      const std::string graphic(params);
      if (graphics_.erase(graphic) == 0) result_.problems.push_back({start, "delete of an unknown graphic"});
      AfterPage({"delete-graphic", graphic});
    } else if (name == "CN") {
      AfterPage({"cut", std::string(params)});
    } else if (name == "DN") {
      pending_.push_back({"download-aborted", ""});
    } else if (name == "FO" || name == "FS") {
      // field placement: the graphic is printed at the origin
    } else if (const char *setting = SettingName(prefix, name)) {
      pending_.push_back({setting, std::string(params)});
    } else {
      result_.problems.push_back({start, "unknown command " + std::string(1, prefix) + name});
    }
  }

  static const char *SettingName(char prefix, const std::string &name) {
    static const std::map<std::string, const char *> kCaret = {
        {"PO", "orientation"}, {"PW", "print-width"},   {"PR", "print-rate"}, {"LH", "label-home"},
        {"LL", "label-length"}, {"MN", "media-tracking"}, {"LT", "label-top"}, {"MT", "media-type"},
        {"MM", "print-mode"},  {"JZ", "error-reprint"},  {"PQ", "copies"}};
    static const std::map<std::string, const char *> kTilde = {{"SD", "darkness"}, {"TA", "tear-off"}};
    const auto &table = prefix == '^' ? kCaret : kTilde;
    const auto it = table.find(name);
    return it == table.end() ? nullptr : it->second;
  }

  // "~DG<name>,<total>,<bytes per row>," and the data.
  void Download(std::size_t start) {
    const std::size_t comma1 = s_.find(',', pos_);
    const std::size_t comma2 = comma1 == std::string_view::npos ? comma1 : s_.find(',', comma1 + 1);
    const std::size_t comma3 = comma2 == std::string_view::npos ? comma2 : s_.find(',', comma2 + 1);
    std::size_t total = 0, perRow = 0;
    if (comma3 == std::string_view::npos || !ParseDecimal(s_.substr(comma1 + 1, comma2 - comma1 - 1), 12, total) ||
        !ParseDecimal(s_.substr(comma2 + 1, comma3 - comma2 - 1), 12, perRow)) {
      result_.problems.push_back({start, "malformed graphic download header"});
      pos_ = s_.size();
      return;
    }
    if (perRow > (1u << 20)) {
      result_.problems.push_back({start, "graphic rows too long to decode"});
      pos_ = s_.size();
      return;
    }
    const std::string name(s_.substr(pos_, comma1 - pos_));
    downloadedSincePage_ = true;
    pos_ = comma3 + 1;
    ZplGraphicData data = DecodeZplGraphic(s_.substr(pos_), perRow, total);
    if (data.problem) {
      result_.problems.push_back({pos_ + data.problem->offset, data.problem->what});
      pos_ = s_.size();
      return;
    }
    pos_ += data.consumed;
    if (!data.complete) {
      // Only an abort may stop a download early.
      if (s_.substr(pos_, 3) != "~DN") result_.problems.push_back({pos_, "graphic download cut short"});
      return;
    }
    Graphic graphic;
    graphic.width = static_cast<unsigned>(perRow * 8);
    graphic.height = perRow != 0 ? static_cast<unsigned>(total / perRow) : 0;
    graphic.dots.reserve(static_cast<std::size_t>(graphic.width) * graphic.height);
    for (unsigned y = 0; y < graphic.height; ++y)
      UnpackRow(std::span(data.bytes).subspan(y * perRow, perRow), graphic.width, false, graphic.dots);
    graphics_[name] = std::move(graphic);
  }

  void PrintPage(std::size_t) {
    const Graphic &graphic = graphics_[recall_];
    DecodedPage page;
    page.width = graphic.width;
    page.height = graphic.height;
    page.dots = graphic.dots;
    page.settings = std::move(pending_);
    pending_.clear();
    result_.pages.push_back(std::move(page));
    downloadedSincePage_ = false;
    recall_.clear();
  }

  // Commands that follow a printed label (graphic delete, cut) belong to it
  // until the next download begins.
  void AfterPage(Setting setting) {
    if (!result_.pages.empty() && !downloadedSincePage_) result_.pages.back().settings.push_back(std::move(setting));
    else pending_.push_back(std::move(setting));
  }

  std::string_view s_;
  std::size_t pos_ = 0;
  DecodeResult result_;
  std::vector<Setting> pending_;
  std::map<std::string, Graphic> graphics_;
  std::string recall_;
  bool inFormat_ = false;
  bool downloadedSincePage_ = false;
};

}  // namespace

DecodeResult DecodeZpl(std::string_view stream) { return ZplDecoder(stream).Run(); }

}  // namespace dwdecode
