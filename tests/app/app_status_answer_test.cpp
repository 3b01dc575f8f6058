// The printers' status answers, as tables: the ZPL host status answer and
// the Dymo-style status byte, whole, cut short, garbled and repeated, and
// what they mean for IPP. The answers are written out byte for byte from
// the printers' published formats.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/status/status.h"

namespace {

using status::Parse;

// One ~HS answer: the three strings, each <STX>...<ETX><CR><LF>.
std::string Hs(const std::string &first, const std::string &second, const std::string &third = "1234,0") {
  return "\x02" + first + "\x03\r\n\x02" + second + "\x03\r\n\x02" + third + "\x03\r\n";
}
const std::string kFine1 = "030,0,0,1218,000,0,0,0,000,0,0,0";
const std::string kFine2 = "001,0,0,0,1,2,6,0,00000000,1,000";

struct ZplCase {
  const char *what;
  std::string answer;
  Parse result;
  std::vector<std::string> reasons;  // when complete
  std::string message;
};

TEST(StatusAnswer, ZplHostStatusTable) {
  const std::vector<ZplCase> cases = {
      {"ready", Hs(kFine1, kFine2), Parse::Complete, {}, ""},
      {"paper out", Hs("030,1,0,1218,000,0,0,0,000,0,0,0", kFine2), Parse::Complete, {"media-empty"}, ""},
      {"paused", Hs("030,0,1,1218,000,0,0,0,000,0,0,0", kFine2), Parse::Complete, {"paused"}, ""},
      {"head up", Hs(kFine1, "001,0,1,0,1,2,6,0,00000000,1,000"), Parse::Complete, {"cover-open"}, ""},
      {"ribbon out", Hs(kFine1, "001,0,0,1,1,2,6,0,00000000,1,000"), Parse::Complete, {"marker-supply-empty"}, ""},
      {"over temperature", Hs("030,0,0,1218,000,0,0,0,000,0,0,1", kFine2), Parse::Complete, {"other"},
       "The print head is too hot."},
      {"under temperature and buffer full", Hs("030,0,0,1218,000,1,0,0,000,0,1,0", kFine2), Parse::Complete,
       {"other"}, "The print head is too cold. The printer's receive buffer is full."},
      {"everything at once", Hs("030,1,1,1218,000,0,0,0,000,1,0,1", "001,0,1,1,1,2,6,0,00000000,1,000"),
       Parse::Complete, {"media-empty", "cover-open", "marker-supply-empty", "paused", "other"},
       "The print head is too hot. The printer lost its configuration (corrupt memory)."},
      {"tail of an earlier answer first", ",0\x03\r\n" + Hs("030,1,0,1218,000,0,0,0,000,0,0,0", kFine2),
       Parse::Complete, {"media-empty"}, ""},
      {"two answers: the last counts", Hs("030,1,0,1218,000,0,0,0,000,0,0,0", kFine2) + Hs(kFine1, kFine2),
       Parse::Complete, {}, ""},
      {"frame cut short, then a whole answer", "\x02" "030,1,0" + Hs(kFine1, kFine2), Parse::Complete, {}, ""},
      {"nothing yet", "", Parse::Incomplete, {}, ""},
      {"first string only", "\x02" + kFine1 + "\x03\r\n", Parse::Incomplete, {}, ""},
      {"two strings", "\x02" + kFine1 + "\x03\r\n\x02" + kFine2 + "\x03\r\n", Parse::Incomplete, {}, ""},
      {"third string still coming", "\x02" + kFine1 + "\x03\r\n\x02" + kFine2 + "\x03\r\n\x02" "12", Parse::Incomplete,
       {}, ""},
      {"first string still coming", "\x02" "030,0,0,12", Parse::Incomplete, {}, ""},
      {"not a status answer", "hello\r\n", Parse::Incomplete, {}, ""},
      {"a frame that is not a first string", "\x02" "ABC\x03\r\n", Parse::Malformed, {}, ""},
      {"first string with 11 fields", Hs("030,0,0,1218,000,0,0,0,000,0,0", kFine2), Parse::Malformed, {}, ""},
      {"flag that is not 0 or 1", Hs("030,2,0,1218,000,0,0,0,000,0,0,0", kFine2), Parse::Malformed, {}, ""},
      {"label length not a number", Hs("030,0,0,12x8,000,0,0,0,000,0,0,0", kFine2), Parse::Malformed, {}, ""},
      {"second string garbled", Hs(kFine1, "001,0,0"), Parse::Malformed, {}, ""},
      {"third string garbled", Hs(kFine1, kFine2, "1234"), Parse::Malformed, {}, ""},
      {"endless noise", std::string(2000, 'x'), Parse::Malformed, {}, ""},
  };
  for (const ZplCase &c : cases) {
    SCOPED_TRACE(c.what);
    const status::Parsed p = status::ParseZplHostStatus(c.answer);
    EXPECT_EQ(p.result, c.result);
    if (p.result != Parse::Complete) continue;
    const status::Reasons r = status::ReasonsOf(p.status);
    EXPECT_EQ(r.keywords, c.reasons);
    EXPECT_EQ(r.message, c.message);
  }
}

TEST(StatusAnswer, ZplAnswerCarriesLabelLengthPrintModeAndRibbonUse) {
  const status::Parsed p = status::ParseZplHostStatus(Hs("030,0,0,0406,000,0,0,0,000,0,0,0",
                                                         "001,0,0,0,0,1,6,0,00000000,1,000"));
  ASSERT_EQ(p.result, Parse::Complete);
  ASSERT_TRUE(p.status.labelLengthDots);
  EXPECT_EQ(*p.status.labelLengthDots, 406);
  EXPECT_EQ(status::LabelLengthText(406, 203), "50.8 mm");
  EXPECT_EQ(status::LabelLengthText(1218, 203), "152.4 mm");
  EXPECT_EQ(p.status.printMode, "peel-off");
  EXPECT_EQ(p.status.thermalTransfer, false);
  // A length of 0 is "not measured".
  EXPECT_FALSE(status::ParseZplHostStatus(Hs("030,0,0,0000,000,0,0,0,000,0,0,0", kFine2)).status.labelLengthDots);
}

TEST(StatusAnswer, DymoStatusByte) {
  struct Case {
    std::string answer;
    Parse result;
    bool paperOut;
  };
  const std::vector<Case> cases = {
      {"", Parse::Incomplete, false},
      {std::string(1, '\x00'), Parse::Complete, false},
      {std::string(1, '\x20'), Parse::Complete, true},
      {std::string(1, '\x61'), Parse::Complete, true},   // busy and top of form too
      {std::string(1, '\x41'), Parse::Complete, false},  // busy, top of form
      {std::string("\x20\x00", 2), Parse::Complete, false},  // the newest byte counts
  };
  for (const Case &c : cases) {
    const status::Parsed p = status::ParseDymoStatus(c.answer);
    EXPECT_EQ(p.result, c.result) << c.answer.size();
    if (p.result == Parse::Complete) {
      EXPECT_EQ(p.status.mediaEmpty, c.paperOut) << c.answer.size();
    }
  }
}

TEST(StatusAnswer, FamiliesQueriesAndReadiness) {
  const catalogue::Printer *zpl = catalogue::FindPrinter("dotweave-zpl");
  const catalogue::Printer *dymo = catalogue::FindPrinter("dotweave-dymo");
  ASSERT_TRUE(zpl && dymo);
  EXPECT_EQ(status::FamilyOf(*zpl), status::Family::Zpl);
  EXPECT_EQ(status::FamilyOf(*dymo), status::Family::Dymo);
  EXPECT_EQ(status::QueryOf(status::Family::Zpl), "~HS");
  EXPECT_EQ(status::QueryOf(status::Family::Dymo), "\x1b" "A");
  // EPL, PCL and the OEM printers have no status query: they stay unknown.
  for (const char *name : {"dotweave-epl-line", "dotweave-epl-page", "dotweave-pcl", "kv412-a", "lc586-a"}) {
    const catalogue::Printer *p = catalogue::FindPrinter(name);
    ASSERT_TRUE(p) << name;
    EXPECT_EQ(status::FamilyOf(*p), status::Family::None) << name;
  }
  EXPECT_TRUE(status::QueryOf(status::Family::None).empty());

  EXPECT_EQ(status::ReadinessOf(std::nullopt).state, status::Readiness::Unknown);
  status::PrinterStatus s;
  EXPECT_EQ(status::ReadinessOf(s).state, status::Readiness::Ready);
  s.mediaEmpty = s.headOpen = true;
  const status::Readiness r = status::ReadinessOf(s);
  EXPECT_EQ(r.state, status::Readiness::NotReady);
  EXPECT_EQ(r.why, "Media empty, print head open.");
}

}  // namespace
