#include <gtest/gtest.h>

#include "support/harness.h"

using namespace dwtest;

TEST(Smoke, DymoEmptyStream) {
  TempDir dir;
  FilterRun run;
  run.env["PPD"] = dir.Write("p.ppd", MakePpd(0));
  FilterResult r = RunFilter(run);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out, std::string(100, '\x1b') + "\x1b@");
  EXPECT_NE(r.err.find("ERROR: No pages were found."), std::string::npos) << r.err;
}
