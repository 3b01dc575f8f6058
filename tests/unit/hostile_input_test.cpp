// Hostile page headers and pages handed to the library directly: enumerated
// header fields with values their types cannot hold, and the command buffer
// under many small appends.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "dotweave/filter.h"
#include "oem/oem.h"
#include "support/harness.h"
#include "support/oem_page.h"

using namespace dwtest;

namespace {

class HostileInputTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetFilterState(); }
  void TearDown() override {
    ReleasePage();
    ResetFilterState();
  }
};

TEST_F(HostileInputTest, OemPageStartKeepsAnyColourSpaceValueAsANumber) {
  cups_page_header2_t h = MakeHeader(8, 2, 8);
  const std::uint32_t raw = 0x12345678u;
  std::memcpy(&h.cupsColorSpace, &raw, sizeof raw);
  OEMStartPage(nullptr, &h);
  EXPECT_EQ(MyPageInfo.ColorSpace, raw);
  // Such a page is refused at its first line, not collected.
  const unsigned char line[8] = {};
  OEMWriteOriginalPageData(line, sizeof line);
  EXPECT_EQ(MyPageInfo.PageFailed, 1);
  EXPECT_EQ(MyPageInfo.ImageData, nullptr);
}

TEST_F(HostileInputTest, CommandBufferHoldsExactlyWhatWasAppended) {
  std::string expected;
  for (unsigned i = 0; i < 20000; ++i) {
    const unsigned char record[3] = {static_cast<unsigned char>(i), static_cast<unsigned char>(i >> 8), 0x0A};
    OEMWritePrintData(record, 1 + i % 3);
    expected.append(reinterpret_cast<const char *>(record), 1 + i % 3);
  }
  ASSERT_EQ(MyPageInfo.CommandSize, expected.size());
  EXPECT_GE(MyPageInfo.CommandCapacity, MyPageInfo.CommandSize);
  EXPECT_EQ(Commands(), expected);
}

TEST_F(HostileInputTest, CommandBufferForgottenByTheNextPageStartsAfresh) {
  const unsigned char first[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  for (int i = 0; i < 10; ++i) OEMWritePrintData(first, sizeof first);
  ReleasePage();  // forgets the buffer, not its capacity
  const unsigned char second[] = {0xAB, 0xCD};
  OEMWritePrintData(second, sizeof second);
  EXPECT_EQ(Hex(Commands()), "AB CD");
}

}  // namespace
