// PDF documents rendered by Ghostscript, and the needle options, through a
// private dotweave-app server.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "app/app_server.h"
#include "decode/decode.h"

using namespace dwtest;

namespace {

struct Gray {
  unsigned w = 0, h = 0;
  Bytes pixels;
};

// Ghostscript's own rendering of a page, for reference: 8-bit gray (PGM) or,
// with `bilevel`, black and white with its own halftoning (PBM).
Gray Render(const std::string &pdf, const std::string &pgm, unsigned dpi, int widthPoints, int heightPoints,
            bool bilevel = false) {
  const std::string cmd = std::string("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=") +
                          (bilevel ? "pbmraw" : "pgmraw") + " -r" + std::to_string(dpi) +
                          " -dDEVICEWIDTHPOINTS=" + std::to_string(widthPoints) +
                          " -dDEVICEHEIGHTPOINTS=" + std::to_string(heightPoints) + " -dFIXEDMEDIA -dPDFFitPage -o " +
                          pgm + " " + pdf;
  Gray g;
  if (std::system(cmd.c_str()) != 0) return g;
  const std::string data = ReadFile(pgm);
  // "P5", width, height, maxval, each after white space or "#" comments.
  std::size_t pos = 0;
  auto token = [&]() {
    for (;;) {
      while (pos < data.size() && std::isspace(static_cast<unsigned char>(data[pos]))) ++pos;
      if (pos < data.size() && data[pos] == '#') {
        while (pos < data.size() && data[pos] != '\n') ++pos;
        continue;
      }
      break;
    }
    const std::size_t start = pos;
    while (pos < data.size() && !std::isspace(static_cast<unsigned char>(data[pos]))) ++pos;
    return data.substr(start, pos - start);
  };
  if (token() != (bilevel ? "P4" : "P5")) return g;
  g.w = static_cast<unsigned>(std::stoul(token()));
  g.h = static_cast<unsigned>(std::stoul(token()));
  if (!bilevel) token();
  const std::size_t start = pos + 1;
  if (bilevel) {
    const std::size_t row = (g.w + 7) / 8;
    if (data.size() < start + row * g.h) return Gray{};
    g.pixels.assign(std::size_t{g.w} * g.h, 255);
    for (unsigned y = 0; y < g.h; ++y)
      for (unsigned x = 0; x < g.w; ++x)
        if (static_cast<unsigned char>(data[start + y * row + x / 8]) & (0x80 >> (x % 8)))
          g.pixels[std::size_t{y} * g.w + x] = 0;
    return g;
  }
  if (data.size() < start + std::size_t{g.w} * g.h) return Gray{};
  g.pixels.assign(data.begin() + static_cast<std::ptrdiff_t>(start), data.end());
  return g;
}

std::string MakePdf(const TempDir &dir) {
  const std::string pdf = dir.path() + "/label.pdf";
  const std::string cmd = "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -o " + pdf + " " +
                          std::string(DOTWEAVE_SOURCE_DIR) + "/samples/label-4x6.ps";
  return std::system(cmd.c_str()) == 0 ? pdf : "";
}

// Share of reference pixels (black below half gray) whose dot differs.
double DifferingShare(const dwdecode::DecodedPage &page, const Gray &ref, unsigned xOffset) {
  std::size_t differ = 0;
  for (unsigned y = 0; y < ref.h; ++y)
    for (unsigned x = 0; x < ref.w; ++x)
      differ += page.Dot(x + xOffset, y) != (ref.pixels[std::size_t{y} * ref.w + x] < 128);
  return static_cast<double>(differ) / (static_cast<double>(ref.w) * ref.h);
}

TEST(AppDocuments, PdfPrintsDotForDotAgainstGhostscriptsRendering) {
  TempDir dir;
  const std::string pdf = MakePdf(dir);
  ASSERT_FALSE(pdf.empty()) << "Ghostscript could not make the PDF";
  const Gray ref = Render(pdf, dir.path() + "/ref.pgm", 203, 288, 432);
  const Gray bilevel = Render(pdf, dir.path() + "/ref.pbm", 203, 288, 432, true);
  ASSERT_EQ(ref.w, 812u);
  ASSERT_EQ(ref.h, 1218u);
  ASSERT_EQ(bilevel.w, 812u);

  AppServer server;
  ASSERT_TRUE(server.running());
  ASSERT_TRUE(server.AddPrinter("zpl", "dotweave-zpl"));
  ASSERT_TRUE(server.AddPrinter("kv412", "kv412-a"));

  const JobOutcome zpl = server.Print("zpl", pdf, "application/pdf");
  ASSERT_EQ(zpl.state, IPP_JSTATE_COMPLETED) << zpl.message;
  const dwdecode::DecodeResult z = dwdecode::DecodeZpl(server.Output("zpl", zpl));
  ASSERT_EQ(z.pages.size(), 1u);
  EXPECT_EQ(z.pages[0].width, 816u);  // 812 dots in whole bytes
  EXPECT_EQ(DifferingShare(z.pages[0], bilevel, 0), 0.0);

  const JobOutcome kv = server.Print("kv412", pdf, "application/pdf", "print-darkness=20");
  ASSERT_EQ(kv.state, IPP_JSTATE_COMPLETED) << kv.message;
  const dwdecode::DecodeResult t = dwdecode::DecodeOemThermal(server.Output("kv412", kv));
  ASSERT_EQ(t.pages.size(), 1u);
  EXPECT_EQ(t.pages[0].width, 832u);
  EXPECT_EQ(t.pages[0].height, 1218u);
  EXPECT_LT(DifferingShare(t.pages[0], ref, (832 - 812) / 2), 0.01);
  bool density = false;
  for (const auto &[k, v] : t.pages[0].settings) density = density || (k == "density" && v == "85");
  EXPECT_TRUE(density);  // 50% configured + 20 = 70% of 50..100 in 5% steps
}

// orientation-requested=reverse-portrait (what a driverless CUPS queue sends
// with the PDF for "-o orientation-requested=6"): the label prints turned by
// half a turn, dot for dot, on the 1-bit label path and the 8-bit OEM path.
TEST(AppDocuments, ReversePortraitPdfPrintsTurnedByHalfATurn) {
  TempDir dir;
  const std::string pdf = MakePdf(dir);
  ASSERT_FALSE(pdf.empty()) << "Ghostscript could not make the PDF";
  const Gray bilevel = Render(pdf, dir.path() + "/ref.pbm", 203, 288, 432, true);
  const Gray ref = Render(pdf, dir.path() + "/ref.pgm", 203, 288, 432);
  ASSERT_EQ(bilevel.w, 812u);
  ASSERT_EQ(bilevel.h, 1218u);
  auto turned = [](const Gray &g) {
    Gray t = g;
    std::reverse(t.pixels.begin(), t.pixels.end());
    return t;
  };

  AppServer server;
  ASSERT_TRUE(server.running());
  ASSERT_TRUE(server.AddPrinter("zpl", "dotweave-zpl"));
  ASSERT_TRUE(server.AddPrinter("kv412", "kv412-a"));

  const JobOutcome zpl = server.Print("zpl", pdf, "application/pdf", "orientation-requested=6");
  ASSERT_EQ(zpl.state, IPP_JSTATE_COMPLETED) << zpl.submitMessage << zpl.message;
  const dwdecode::DecodeResult z = dwdecode::DecodeZpl(server.Output("zpl", zpl));
  ASSERT_EQ(z.pages.size(), 1u);
  EXPECT_EQ(DifferingShare(z.pages[0], turned(bilevel), 0), 0.0);
  EXPECT_GT(DifferingShare(z.pages[0], bilevel, 0), 0.05);  // the label is not symmetric

  const JobOutcome kv = server.Print("kv412", pdf, "application/pdf", "orientation-requested=6");
  ASSERT_EQ(kv.state, IPP_JSTATE_COMPLETED) << kv.message;
  const dwdecode::DecodeResult t = dwdecode::DecodeOemThermal(server.Output("kv412", kv));
  ASSERT_EQ(t.pages.size(), 1u);
  EXPECT_LT(DifferingShare(t.pages[0], turned(ref), (832 - 812) / 2), 0.01);
}

// copies=2 of a PDF (what a driverless CUPS queue sends for "lp -n 2"): two
// labels, each dot for dot.
TEST(AppDocuments, PdfCopiesPrintEveryCopy) {
  TempDir dir;
  const std::string pdf = MakePdf(dir);
  ASSERT_FALSE(pdf.empty()) << "Ghostscript could not make the PDF";
  const Gray bilevel = Render(pdf, dir.path() + "/ref.pbm", 203, 288, 432, true);
  ASSERT_EQ(bilevel.w, 812u);

  AppServer server;
  ASSERT_TRUE(server.running());
  ASSERT_TRUE(server.AddPrinter("zpl", "dotweave-zpl"));
  const JobOutcome zpl = server.Print("zpl", pdf, "application/pdf", "copies=2");
  ASSERT_EQ(zpl.state, IPP_JSTATE_COMPLETED) << zpl.submitMessage << zpl.message;
  const dwdecode::DecodeResult z = dwdecode::DecodeZpl(server.Output("zpl", zpl));
  ASSERT_EQ(z.pages.size(), 2u);
  for (const dwdecode::DecodedPage &page : z.pages) EXPECT_EQ(DifferingShare(page, bilevel, 0), 0.0);
}

// The needle-only options reach the filter: a fixed page length, one-way
// printing and the tear-off position; photo mode dithers.
TEST(AppDocuments, NeedleOptionsAndPhotoDitherReachTheFilter) {
  TempDir dir;
  AppServer server;
  ASSERT_TRUE(server.running());
  ASSERT_TRUE(server.AddPrinter("needle", "lc586-a"));
  const unsigned w = 1440, h = 200;
  RasterPage page{MakeHeader(w, h, 24, 180), {}};
  page.data.resize(std::size_t{w} * 3 * h);
  for (unsigned y = 0; y < h; ++y)
    for (unsigned x = 0; x < w; ++x)
      for (unsigned c = 0; c < 3; ++c)
        page.data[(std::size_t{y} * w + x) * 3 + c] = static_cast<unsigned char>((x * 255) / (w - 1));
  const std::string pwg = PwgRasterFile(dir, "form.pwg", {GrayPageOf(page)});
  const JobOutcome job = server.Print(
      "needle", pwg, "image/pwg-raster",
      "fixed-page-height=2 unidirectional-print=0 cut-paper-position=-7 print-content-optimize=photo");
  ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << job.message;

  FilterRun run;
  run.env["PPD"] = PpdPath("lc586-a");
  run.env["PRINTER"] = "needle";
  run.env["DEVICE_URI"] = "file:///dev/null";
  run.args = {"1", "tester", "job", "1", "FixPageHeight=2 UnidirectionalPrint=0 CutPaperPosition=-7 ImagePrint=1"};
  run.input = WriteRaster({page});
  const FilterResult cups = RunFilter(run);
  ASSERT_EQ(cups.exitStatus, 0) << cups.err;
  const std::string out = server.Output("needle", job);
  EXPECT_EQ(out, cups.out);
  const dwdecode::DecodeResult d = dwdecode::DecodeOemNeedle(out);
  ASSERT_EQ(d.pages.size(), 1u);
  // The fixed 4 inch page, in rows of the five-to-four reduced image (144 per inch).
  EXPECT_EQ(d.pages[0].height, 4u * 144u);
}

}  // namespace

namespace {

// SIGTERM stops the server cleanly; started again on the same directory it
// has the same printers and defaults.
TEST(AppServerState, RestartKeepsPrintersAndDefaults) {
  TempDir dir;
  {
    AppServer first({}, dir.path());
    ASSERT_TRUE(first.running());
    ASSERT_TRUE(first.AddPrinter("kv412", "kv412-a"));
    EXPECT_TRUE(first.SetPrinterInteger("kv412", "page-rotation-default", 180));
    EXPECT_EQ(first.Stop(), 0);
  }
  AppServer second({}, dir.path());
  ASSERT_TRUE(second.running());
  const FilterResult printers = second.Command("printers", {});
  EXPECT_NE(printers.out.find("kv412"), std::string::npos) << printers.out << printers.err;
  RasterPage page{MakeHeader(832, 32, 24, 203), Bytes(std::size_t{832} * 3 * 32, 0)};
  const std::string pwg = PwgRasterFile(dir, "p.pwg", {GrayPageOf(page)});
  const JobOutcome job = second.Print("kv412", pwg, "image/pwg-raster");
  ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << job.message;
  EXPECT_NE(second.log().find("Rotation=180"), std::string::npos) << second.jobLog();
}

}  // namespace
