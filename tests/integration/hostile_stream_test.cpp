// Damaged and hostile raster streams through the filter binary: header values
// no raster writer would produce must be read safely, reported as they are,
// and never reach the printer as something else.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "support/harness.h"

using namespace dwtest;

namespace {

constexpr int kUnknownFamily = 5;

// Stores a raw 32-bit value in an enumerated header field, as a stream can.
template <typename Field>
void SetRaw(Field &field, std::uint32_t value) {
  static_assert(sizeof field == sizeof value);
  std::memcpy(&field, &value, sizeof value);
}

FilterResult RunStream(const TempDir &dir, int family, const std::string &stream, const std::string &uri = "") {
  FilterRun run;
  run.env["PPD"] = dir.Write("job.ppd", MakePpd(family));
  if (!uri.empty()) run.env["DEVICE_URI"] = uri;
  run.input = stream;
  return RunFilter(run);
}

TEST(HostileStream, EnumeratedHeaderFieldsOutOfRangeAreDumpedAsNumbers) {
  TempDir dir;
  cups_page_header2_t h = MakeHeader(8, 2, 8);
  SetRaw(h.Duplex, 2);
  SetRaw(h.ManualFeed, 0xFFFFFFFFu);
  SetRaw(h.Orientation, 7);
  SetRaw(h.cupsColorOrder, 0x80000000u);
  const FilterResult r = RunStream(dir, kUnknownFamily, RawRaster(h, Bytes(16, 0xFF)));
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, "");
  for (const char *line : {"DEBUG: Duplex = 2\n", "DEBUG: ManualFeed = -1\n", "DEBUG: Orientation = 7\n",
                           "DEBUG: cupsColorOrder = -2147483648\n"})
    EXPECT_NE(r.err.find(line), std::string::npos) << line << r.err;
}

TEST(HostileStream, AnyCutMediaValueAsksForACut) {
  TempDir dir;
  cups_page_header2_t h = MakeHeader(8, 1, 1);
  SetRaw(h.CutMedia, 0x100);
  const FilterResult r = RunStream(dir, 0x11, RawRaster(h, Bytes(1, 0)));
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  // The page ends with the print command and then the cut.
  const std::string tail = "P1\nC\n";
  ASSERT_GE(r.out.size(), tail.size());
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
}

// The thermal page header carries its row count in 16 bits and the needle
// page length command its length in 16 bits: a page claiming more rows is
// refused whole (a few rows of data are enough, the rest is completed white).
TEST(HostileStream, OemPagesOfMoreRowsThanTheirLengthFieldsAreRefused) {
#ifdef DOTWEAVE_USB_SERIAL_ONLY
  GTEST_SKIP() << "this build recognises printers by USB serial only";
#endif
  struct Case {
    const char *uri;
    unsigned rows;
    bool printed;
  };
  const Case cases[] = {
      {"serial:/dev/cu.KV412-A", 65535, true},   {"serial:/dev/cu.KV412-A", 65536, false},
      {"serial:/dev/cu.KV418-AK", 4194305, false}, {"serial:/dev/cu.MB739-A", 65535, true},
      {"serial:/dev/cu.MB739-A", 65536, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.uri) + " " + std::to_string(c.rows));
    TempDir dir;
    const cups_page_header2_t h = MakeHeader(8, c.rows, 8, 203);
    const FilterResult r = RunStream(dir, 0x13, RawRaster(h, Bytes(4 * 8, 0x00)), c.uri);
    const bool refused = r.err.find("ERROR: The page is too large to print.") != std::string::npos;
    EXPECT_EQ(refused, !c.printed) << r.err.substr(r.err.size() > 300 ? r.err.size() - 300 : 0);
    EXPECT_EQ(r.exitStatus, c.printed ? 0 : 1);
    EXPECT_EQ(r.out.empty(), !c.printed);
  }
  // The last row count that fits goes out as FF FF after the block's length.
  TempDir dir;
  const FilterResult r =
      RunStream(dir, 0x13, RawRaster(MakeHeader(8, 65535, 8), Bytes(8, 0x00)), "serial:/dev/cu.KV412-A");
  const std::size_t header = r.out.find("\x40\x3C");
  ASSERT_NE(header, std::string::npos);
  EXPECT_EQ(Hex(r.out.substr(header + 6, 2)), "FF FF");
}

}  // namespace
