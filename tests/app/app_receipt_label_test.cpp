// A receipt on an 80 mm ESC/POS printer and a 4 x 6 inch label on a TSPL
// printer, printed from PDF through a private dotweave-app server and decoded
// dot for dot against Ghostscript's own black-and-white rendering; the
// receipt ends where its content ends and is cut there. Raw documents in the
// printers' own languages pass through unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>

#include "app/app_server.h"
#include "decode/decode.h"

using namespace dwtest;

namespace {

struct Bilevel {
  unsigned w = 0, h = 0;
  std::vector<bool> black;
  bool At(unsigned x, unsigned y) const { return x < w && y < h && black[std::size_t{y} * w + x]; }
};

// Ghostscript's rendering of a PDF page at 203 dpi, black and white (PBM),
// fitted to the media as the application fits it (its size in points to
// two decimals).
Bilevel Render(const std::string &pdf, const std::string &pbm, const char *widthPoints, const char *heightPoints) {
  const std::string cmd = std::string("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pbmraw -r203 -dDEVICEWIDTHPOINTS=") +
                          widthPoints + " -dDEVICEHEIGHTPOINTS=" + heightPoints +
                          " -dFIXEDMEDIA -dPDFFitPage -o " + pbm + " " + pdf;
  Bilevel b;
  if (std::system(cmd.c_str()) != 0) return b;
  const std::string data = ReadFile(pbm);
  // "P4", width and height, each after white space or a "#" comment line.
  std::size_t pos = 0;
  auto token = [&] {
    while (pos < data.size() && (std::isspace(static_cast<unsigned char>(data[pos])) || data[pos] == '#'))
      pos = data[pos] == '#' ? data.find('\n', pos) : pos + 1;
    const std::size_t from = pos;
    while (pos < data.size() && !std::isspace(static_cast<unsigned char>(data[pos]))) ++pos;
    return data.substr(from, pos - from);
  };
  if (token() != "P4") return b;
  const unsigned w = static_cast<unsigned>(std::stoul(token())), h = static_cast<unsigned>(std::stoul(token()));
  const std::size_t start = pos + 1, row = (w + 7) / 8;
  if (data.size() < start + row * h) return b;
  b.w = w, b.h = h;
  b.black.resize(std::size_t{w} * h);
  for (unsigned y = 0; y < h; ++y)
    for (unsigned x = 0; x < w; ++x)
      b.black[std::size_t{y} * w + x] = (static_cast<unsigned char>(data[start + y * row + x / 8]) >> (7 - x % 8)) & 1;
  return b;
}

std::string Pdf(const TempDir &dir, const std::string &name, const std::string &postscript) {
  const std::string ps = dir.Write(name + ".ps", postscript), pdf = dir.path() + "/" + name + ".pdf";
  const std::string cmd = "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -o " + pdf + " " + ps;
  return std::system(cmd.c_str()) == 0 ? pdf : "";
}

// A receipt of 72 x 200 mm (the media size, so that the page is not scaled)
// whose content ends about 120 mm down the page.
const char *kReceipt = R"(%!PS
<< /PageSize [204.09 566.93] >> setpagedevice
/Helvetica-Bold findfont 16 scalefont setfont 20 530 moveto (DOTWEAVE CAFE) show
/Helvetica findfont 10 scalefont setfont
20 500 moveto (1 x Coffee        2.50) show 20 485 moveto (2 x Bagel         5.00) show
2 setlinewidth 10 470 moveto 194 470 lineto stroke
/Helvetica-Bold findfont 12 scalefont setfont 20 450 moveto (TOTAL 7.50) show
10 400 184 30 rectfill
1 setgray 30 408 moveto (THANK YOU) show 0 setgray
0 1 20 { /i exch def 10 i 8 mul add 230 4 160 rectfill } for
showpage
)";

// Dots that differ between the page and the reference, with the page
// lowered by `dy` rows.
std::size_t Differing(const dwdecode::DecodedPage &page, const Bilevel &ref, int dy) {
  std::size_t differ = 0;
  for (unsigned y = 0; y < ref.h + 2; ++y)
    for (unsigned x = 0; x < std::max(ref.w, page.width); ++x)
      differ += page.Dot(x, y) != (static_cast<int>(y) - dy >= 0 && ref.At(x, static_cast<unsigned>(static_cast<int>(y) - dy)));
  return differ;
}

std::size_t BlackDots(const Bilevel &ref) { return static_cast<std::size_t>(std::count(ref.black.begin(), ref.black.end(), true)); }

TEST(AppReceiptAndLabel, ReceiptPdfEndsWhereItsContentEndsAndIsCut) {
  TempDir dir;
  const std::string pdf = Pdf(dir, "receipt", kReceipt);
  ASSERT_FALSE(pdf.empty()) << "Ghostscript could not make the PDF";
  const Bilevel ref = Render(pdf, dir.path() + "/receipt.pbm", "204.09", "566.93");  // 72 x 200 mm
  ASSERT_EQ(ref.w, 575u);  // 72 mm at 203 dpi
  unsigned lastBlack = 0;
  for (unsigned y = 0; y < ref.h; ++y)
    for (unsigned x = 0; x < ref.w; ++x)
      if (ref.At(x, y)) lastBlack = y + 1;
  ASSERT_GT(lastBlack, 900u);  // the bars end some 120 mm down
  ASSERT_LT(lastBlack, 1100u);

  AppServer server;
  ASSERT_TRUE(server.running());
  ASSERT_TRUE(server.AddPrinter("receipt", "dotweave-escpos-80"));
  const JobOutcome job = server.Print("receipt", pdf, "application/pdf",
                                      "media=om_72x200-receipt_72x200mm cut-mode=full cash-drawer=pin2");
  ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << job.message << server.jobLog();
  const dwdecode::DecodeResult r = dwdecode::DecodeEscPos(server.Output("receipt", job));
  EXPECT_TRUE(r.problems.empty()) << r.problems.front().what;
  ASSERT_EQ(r.pages.size(), 1u);
  EXPECT_EQ(r.pages[0].width, 576u);  // 575 dots in whole bytes
  // 72 x 200 mm is no whole number of dots at 203 dpi, and Ghostscript's
  // cups device, which renders the application's pages, places such a page
  // on its dot grid a fraction of a dot from where its PBM device does: the
  // edges of the text differ by a dot here and there (the 4 x 6 inch label
  // below, whole dots, agrees dot for dot). Some 20 % of the black dots lie
  // on such an edge, and 1.5 % of them differ; a dot out of place elsewhere
  // would show far beyond 3 %, the end-to-end comparison's own bound.
  EXPECT_LT(Differing(r.pages[0], ref, 0), BlackDots(ref) * 3 / 100);
  // The receipt ends with its last black row: the white rest of the page is
  // not fed (one row either way for the grid).
  EXPECT_NEAR(static_cast<double>(r.pages[0].height), lastBlack, 1.0);
  EXPECT_EQ(r.pages[0].settings.back(), (dwdecode::Setting{"cut", "full-after-feed+0"}));
  EXPECT_EQ(r.jobSettings,
            (std::vector<dwdecode::Setting>{{"initialise", ""}, {"drawer-kick", "pin2"}, {"motion-units", "203x203"}}));
}

TEST(AppReceiptAndLabel, TsplLabelPdfPrintsDotForDot) {
  TempDir dir;
  const std::string pdf = dir.path() + "/label.pdf";
  ASSERT_EQ(std::system(("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -o " + pdf + " " +
                         std::string(DOTWEAVE_SOURCE_DIR) + "/samples/label-4x6.ps")
                            .c_str()),
            0);
  const Bilevel ref = Render(pdf, dir.path() + "/label.pbm", "288.00", "432.00");
  ASSERT_EQ(ref.w, 812u);
  ASSERT_EQ(ref.h, 1218u);

  AppServer server;
  ASSERT_TRUE(server.running());
  ASSERT_TRUE(server.AddPrinter("tspl", "dotweave-tspl-4in"));
  const JobOutcome job = server.Print("tspl", pdf, "application/pdf", "print-darkness=50 label-mode-configured=peel-off");
  ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << job.message << server.jobLog();
  const dwdecode::DecodeResult r = dwdecode::DecodeTspl(server.Output("tspl", job), 203);
  EXPECT_TRUE(r.problems.empty()) << r.problems.front().what;
  ASSERT_EQ(r.pages.size(), 1u);
  EXPECT_EQ(r.pages[0].width, 816u);
  EXPECT_EQ(r.pages[0].height, 1218u);
  EXPECT_EQ(Differing(r.pages[0], ref, 0), 0u);
  const auto &s = r.pages[0].settings;
  EXPECT_NE(std::find(s.begin(), s.end(), dwdecode::Setting{"size", "101.6 mm,152.4 mm"}), s.end());
  EXPECT_NE(std::find(s.begin(), s.end(), dwdecode::Setting{"gap", "3 mm,0 mm"}), s.end());
  EXPECT_NE(std::find(s.begin(), s.end(), dwdecode::Setting{"print", "1,1"}), s.end());
}

TEST(AppReceiptAndLabel, RawStreamsPassThrough) {
  TempDir dir;
  const std::string escpos = dir.Write("receipt.bin", std::string("\x1b@\x1dv0\x00\x01\x00\x01\x00\xff\x1dV\x42\x00", 16));
  const std::string tspl = dir.Write("label.txt", std::string("SIZE 2,1\r\nCLS\r\nPRINT 1,1\r\n"));
  AppServer server;
  ASSERT_TRUE(server.running());
  ASSERT_TRUE(server.AddPrinter("receipt", "dotweave-escpos-58"));
  ASSERT_TRUE(server.AddPrinter("tspl", "dotweave-tspl-2in"));
  const JobOutcome a = server.Print("receipt", escpos, "application/vnd.escpos");
  ASSERT_EQ(a.state, IPP_JSTATE_COMPLETED) << a.message;
  EXPECT_EQ(server.Output("receipt", a), ReadFile(escpos));
  const JobOutcome b = server.Print("tspl", tspl, "application/vnd.tsc-tspl");
  ASSERT_EQ(b.state, IPP_JSTATE_COMPLETED) << b.message;
  EXPECT_EQ(server.Output("tspl", b), ReadFile(tspl));
  // Sent without a format, each is known by its first command.
  const JobOutcome c = server.Print("receipt", escpos, "application/octet-stream");
  ASSERT_EQ(c.state, IPP_JSTATE_COMPLETED) << c.message;
  EXPECT_EQ(server.Output("receipt", c), ReadFile(escpos));
  const JobOutcome d = server.Print("tspl", tspl, "application/octet-stream");
  ASSERT_EQ(d.state, IPP_JSTATE_COMPLETED) << d.message;
  EXPECT_EQ(server.Output("tspl", d), ReadFile(tspl));
}

}  // namespace
