// The preview tool: language detection, PNG pages read back with libpng, the
// summary, and the tool's handling of its arguments and input.
#include <gtest/gtest.h>
#include <png.h>

#include <filesystem>
#include <optional>
#include <sstream>

#include "decode/decode.h"
#include "preview/preview.h"
#include "support/harness.h"

using dwdecode::DecodedPage;
using dwdecode::DecodeResult;
using dwdecode::Language;
using dwtest::FromHex;
using dwtest::TempDir;

namespace {

// ---- Language detection -------------------------------------------------------

struct DetectCase {
  const char *what;
  std::string stream;
  std::optional<Language> expected;
};

TEST(DetectLanguage, RecognisesTheFirstCommandsOfEveryLanguage) {
  const std::string thermalSettings = FromHex("40 53 4D 53 03 84 0D 0A");
  const std::string needleDensity = FromHex("1B 0A 01 01 00 00 00");
  const DetectCase cases[] = {
      {"dymo job start", std::string(100, '\x1b') + "\x1b@" + FromHex("1B 4C 04 B0"), Language::Dymo},
      {"dymo page start alone", FromHex("1B 4C 04 B0 1B 44 26"), Language::Dymo},
      {"epl line with rate", "\x1bS4\x1b" "D3\x1bM01\x1b" "B", Language::EplLine},
      {"epl line with darkness", "\x1b" "D3\x1bM01\x1b" "B", Language::EplLine},
      {"epl line plain", "\x1bM01\x1b" "B\x1bg008", Language::EplLine},
      {"epl line page end", "\x1b" "E\f", Language::EplLine},
      {"epl page", "\nN\nOD\nq208\n", Language::EplPage},
      {"zpl with darkness", "~SD15\n~DGR:CUPS.GRF,8,1,\n", Language::Zpl},
      {"zpl download", "~DGR:CUPS.GRF,8,1,\n", Language::Zpl},
      {"zpl format", "^XA\n^POI\n", Language::Zpl},
      {"pcl job start", "\x1b" "E\x1b&l6D\x1b&k12H", Language::Pcl},
      {"pcl page without reset", "\x1b&l6D\x1b&k12H", Language::Pcl},
      {"thermal", std::string(1000, '\0') + thermalSettings, Language::OemThermal},
      {"thermal block without zeros", FromHex("40 3C 00 00 00 0C 00 00 40 3E 0D 0A"),
       Language::OemThermal},
      {"needle", std::string(64, '\0') + needleDensity, Language::OemNeedle},
      {"needle without zeros", needleDensity, Language::OemNeedle},
      {"empty", "", std::nullopt},
      {"only zeros", std::string(2000, '\0'), std::nullopt},
      {"zeros then text", std::string(64, '\0') + "hello", std::nullopt},
      {"plain text", "hello", std::nullopt},
      {"escapes then junk", "\x1b\x1b\x1bX", std::nullopt},
      {"only escapes", std::string(100, '\x1b'), std::nullopt},
      {"unknown escape", "\x1bZ", std::nullopt},
  };
  for (const DetectCase &c : cases)
    EXPECT_EQ(dwdecode::DetectLanguage(c.stream), c.expected) << c.what;
}

// ---- PNG pages -----------------------------------------------------------------

DecodedPage Page(unsigned width, unsigned height, std::initializer_list<std::pair<unsigned, unsigned>> black) {
  DecodedPage p;
  p.width = width;
  p.height = height;
  p.dots.assign(std::size_t{width} * height, 0);
  for (auto [x, y] : black) p.dots[std::size_t{y} * width + x] = 1;
  return p;
}

struct Gray {
  unsigned width = 0, height = 0;
  std::vector<png_byte> pixels;  // 8-bit gray, 0 black
};

// Reads a PNG back through libpng's simplified API as 8-bit gray.
std::optional<Gray> ReadPng(const std::string &path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return std::nullopt;
  image.format = PNG_FORMAT_GRAY;
  Gray g;
  g.width = image.width;
  g.height = image.height;
  g.pixels.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, g.pixels.data(), 0, nullptr)) return std::nullopt;
  return g;
}

TEST(PreviewPng, BlackDotsReadBackBlackAndEverythingElseWhite) {
  TempDir dir;
  // 13 dots per row: the last byte of each packed row is partly used.
  const DecodedPage page = Page(13, 3, {{0, 0}, {7, 0}, {8, 1}, {12, 2}, {12, 0}});
  const std::string path = dir.path() + "/p.png";
  ASSERT_EQ(dwpreview::WritePng(page, path), "");
  std::optional<Gray> g = ReadPng(path);
  ASSERT_TRUE(g);
  ASSERT_EQ(g->width, 13u);
  ASSERT_EQ(g->height, 3u);
  for (unsigned y = 0; y < 3; ++y)
    for (unsigned x = 0; x < 13; ++x)
      EXPECT_EQ(g->pixels[y * 13 + x], page.Dot(x, y) ? 0 : 255) << x << "," << y;
}

TEST(PreviewPng, RefusesPagesItCannotShow) {
  TempDir dir;
  const std::string path = dir.path() + "/p.png";
  EXPECT_NE(dwpreview::WritePng(Page(0, 5, {}), path), "");
  EXPECT_NE(dwpreview::WritePng(Page(5, 0, {}), path), "");
  DecodedPage shortDots = Page(8, 2, {});
  shortDots.dots.resize(15);
  EXPECT_NE(dwpreview::WritePng(shortDots, path), "");
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_NE(dwpreview::WritePng(Page(4, 4, {}), dir.path() + "/missing/p.png"), "");
}

// ---- Summary --------------------------------------------------------------------

TEST(PreviewSummary, ListsPagesSettingsAndProblemsWithOffsets) {
  DecodeResult r;
  r.jobSettings = {{"reset", ""}};
  DecodedPage p1 = Page(3, 2, {{1, 1}});
  p1.settings = {{"speed", "1200"}, {"density", "75"}};
  r.pages = {p1, Page(0, 0, {})};
  r.problems = {{1234, "unknown command 0x1B 0x7F"}};
  const std::string s = dwpreview::Summary(r, Language::OemThermal, true, 5000,
                                           {{"out/a-1.png", ""}, {"", "the page has no dots"}});
  EXPECT_EQ(s,
            "language: oem-thermal (detected)\n"
            "stream: 5000 bytes\n"
            "pages: 2\n"
            "job settings: reset\n"
            "page 1: 3 dots per line, 2 rows, 1 black dot -> out/a-1.png\n"
            "  settings: speed=1200 density=75\n"
            "page 2: 0 dots per line, 0 rows, 0 black dots (no PNG: the page has no dots)\n"
            "problems: 1\n"
            "  at byte 1234: unknown command 0x1B 0x7F\n");
  // Commands repeated many times, like the feeds of a needle page, are counted.
  DecodeResult needle;
  needle.pages = {Page(4, 4, {})};
  needle.pages[0].settings = {{"density", "2"}, {"feed", "16"}, {"band", "0"}, {"feed", "16"},
                              {"band", "16"}, {"feed", "16"}, {"band", "32"}, {"feed", "64"},
                              {"end-page", ""}};
  EXPECT_NE(dwpreview::Summary(needle, Language::OemNeedle, true, 1, {})
                .find("  settings: density=2 feed x4 band=0 band=16 band=32 end-page\n"),
            std::string::npos);
  EXPECT_NE(dwpreview::Summary({}, Language::Zpl, false, 0, {}).find("language: zpl\n"),
            std::string::npos);
  EXPECT_NE(dwpreview::Summary({}, Language::Zpl, false, 0, {}).find("problems: none\n"),
            std::string::npos);
}

// ---- The tool ---------------------------------------------------------------------

struct ToolRun {
  int status;
  std::string out, err;
};

ToolRun RunTool(const std::vector<std::string> &args, const std::string &input = "") {
  std::istringstream in(input);
  std::ostringstream out, err;
  int status = dwpreview::Run(args, in, out, err);
  return {status, out.str(), err.str()};
}

TEST(PreviewTool, RejectsBadArgumentsAndUnreadableInput) {
  TempDir dir;
  EXPECT_EQ(RunTool({"--language", "klingon"}).status, 2);
  EXPECT_EQ(RunTool({"--language"}).status, 2);
  EXPECT_EQ(RunTool({"--bogus"}).status, 2);
  EXPECT_EQ(RunTool({"a", "b"}).status, 2);
  ToolRun missing = RunTool({dir.path() + "/nothing.bin"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("cannot open"), std::string::npos);
  ToolRun unknown = RunTool({"-o", dir.path() + "/x"}, "plain text");
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("--language"), std::string::npos);
  EXPECT_EQ(RunTool({"--help"}).status, 0);
}

// A thermal stream written by hand from the command formats: a 384-dot line
// with one black dot at the left end, and an all-white line.
std::string TwoLineThermalStream() {
  const std::string line1 = FromHex("23 3C 01 80 FE 80 7F 23 3E");  // 1 + 255 + 128 dots
  const std::string line2 = FromHex("23 3C 80 FB 80 83 23 3E");     // 252 + 132 white dots
  const std::size_t block = 8 + line1.size() + line2.size() + 4;
  std::string s(1000, '\0');
  s += FromHex("40 53 4D 53 0C 1C 0D 0A");  // speed 3100
  s += FromHex("40 3C 00 00 00");
  s += static_cast<char>(block);
  s += FromHex("02 00") + line1 + line2 + FromHex("40 3E 0D 0A");
  return s;
}

TEST(PreviewTool, DecodesAStreamFromStandardInputIntoPngPages) {
  TempDir dir;
  const std::string prefix = dir.path() + "/label";
  ToolRun r = RunTool({"--output", prefix}, TwoLineThermalStream());
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("language: oem-thermal (detected)\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("pages: 1\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("page 1: 384 dots per line, 2 rows, 1 black dot -> " + prefix + "-1.png"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("speed=3100"), std::string::npos) << r.out;
  std::optional<Gray> g = ReadPng(prefix + "-1.png");
  ASSERT_TRUE(g);
  ASSERT_EQ(g->width, 384u);
  ASSERT_EQ(g->height, 2u);
  EXPECT_EQ(g->pixels[0], 0);
  for (std::size_t i = 1; i < g->pixels.size(); ++i) ASSERT_EQ(g->pixels[i], 255) << i;
}

TEST(PreviewTool, ReadsAFileAndTakesTheLanguageFromTheCommandLine) {
  TempDir dir;
  const std::string file = dir.Write("job.prn", TwoLineThermalStream());
  ToolRun r = RunTool({"--language", "oem-thermal", file});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("language: oem-thermal\n"), std::string::npos) << r.out;
  EXPECT_TRUE(std::filesystem::exists(dir.path() + "/job-1.png"));
}

TEST(PreviewTool, ReportsProblemsWithTheirOffsetsAndFailsTheRun) {
  TempDir dir;
  std::string s = TwoLineThermalStream();
  s += "\x7f";  // a byte after the page that belongs to no command
  ToolRun r = RunTool({"-o", dir.path() + "/bad"}, s);
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("at byte " + std::to_string(s.size() - 1) + ":"), std::string::npos) << r.out;
}

}  // namespace
