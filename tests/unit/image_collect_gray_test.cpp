// Page collection and gray conversion: the line store, the 11/59/30 gray
// weights, gray and 1-bit rasters, pages cut short and pages refused.
#include <gtest/gtest.h>

#include "dotweave/filter.h"
#include "support/image_page.h"

namespace {

using namespace imagetest;

// Page geometry as the page start records it from the raster header.
void StartGeometry(std::uint64_t width, std::uint64_t height, std::uint32_t bitsPerPixel,
                   std::uint32_t colorSpace = CUPS_CSPACE_SRGB) {
  MyPageInfo.Width = width;
  MyPageInfo.Height = height;
  MyPageInfo.PageRows = height;
  MyPageInfo.BitsPerPixel = bitsPerPixel;
  MyPageInfo.ColorSpace = colorSpace;
  MyPageInfo.BytesPerLine = (width * bitsPerPixel + 7) / 8;
}

void Append(const Bytes &line) { OEMWriteOriginalPageData(line.data(), line.size()); }

using CollectTest = ImageTest;

TEST_F(CollectTest, LinesAreStoredEndToEndInArrivalOrder) {
  StartGeometry(2, 3, 24);
  Append({1, 2, 3, 4, 5, 6});
  Append({7, 8, 9, 10, 11, 12});
  Append({13, 14, 15, 16, 17, 18});
  EXPECT_EQ(MyPageInfo.ImageSize, 18u);
  EXPECT_EQ(Image(), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18}));
}

TEST_F(CollectTest, FirstLineReservesTheWholePageSoLaterLinesAreNotCopied) {
  StartGeometry(2, 100, 24);
  Append(Bytes(6, 0));
  const unsigned char *first = MyPageInfo.ImageData;
  EXPECT_EQ(MyPageInfo.ImageCapacity, 600u);
  for (unsigned char y = 1; y < 100; ++y) Append(Bytes(6, y));
  EXPECT_EQ(MyPageInfo.ImageData, first) << "the page image moved while lines were appended";
  EXPECT_EQ(MyPageInfo.ImageSize, 600u);
  EXPECT_EQ(MyPageInfo.ImageData[599], 99);
}

TEST_F(CollectTest, LinesReadIntoTheirPlaceAreCollectedWithoutACopy) {
  StartGeometry(2, 3, 24);
  EXPECT_EQ(OEMNextLineSlot(6), nullptr) << "no page image before the first line";
  Append({1, 2, 3, 4, 5, 6});
  for (unsigned char y = 1; y < 3; ++y) {
    unsigned char *slot = OEMNextLineSlot(6);
    ASSERT_EQ(slot, MyPageInfo.ImageData + 6 * y) << "the next line's place follows the last line";
    for (unsigned char i = 0; i < 6; ++i) slot[i] = static_cast<unsigned char>(6 * y + i + 1);
    OEMWriteOriginalPageData(slot, 6);
  }
  EXPECT_EQ(Image(), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18}));
  EXPECT_EQ(OEMNextLineSlot(6), nullptr) << "a line beyond the header's height has no place yet";
  Append({19, 20, 21, 22, 23, 24});
  EXPECT_EQ(MyPageInfo.ImageSize, 24u);
  EXPECT_EQ(MyPageInfo.ImageData[23], 24);
}

TEST_F(CollectTest, FailedPageOffersNoPlaceForLines) {
  StartGeometry(2, 3, 24);
  Append(Bytes(6, 1));
  MyPageInfo.PageFailed = 1;
  EXPECT_EQ(OEMNextLineSlot(6), nullptr);
}

TEST_F(CollectTest, LinesBeyondTheHeaderHeightStillGrowTheStore) {
  StartGeometry(1, 1, 24);
  for (unsigned char y = 0; y < 5; ++y) Append({y, y, y});
  EXPECT_EQ(Image(), (Bytes{0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4}));
  EXPECT_GE(MyPageInfo.ImageCapacity, MyPageInfo.ImageSize);
}

TEST_F(CollectTest, HugeClaimedPageIsRefusedAndNothingOfItIsSent) {
  StartGeometry(832, 4'000'000'000u, 24);
  PrintPa.Identified = 1;
  PrintPa.HeadWidth = 832;
  testing::internal::CaptureStderr();
  Append(Bytes(832 * 3, 0));
  Append(Bytes(832 * 3, 0));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "ERROR: The page is too large to print.\n") << "reported once";
  EXPECT_EQ(MyPageInfo.PageFailed, 1);
  EXPECT_TRUE(JobFailed);
  EXPECT_EQ(MyPageInfo.ImageData, nullptr);
  EXPECT_EQ(MyPageInfo.ImageSize, 0u);
  EXPECT_EQ(MyPageInfo.Height, 0u) << "later steps must find no rows to walk";
  EXPECT_EQ(dwtest::CaptureStdout([] { OEMEndPage(); }), "");
  MyPageInfo.ImageData = MyPageInfo.ReducedData = MyPageInfo.CommandData = nullptr;  // released
}

TEST_F(CollectTest, OneBitPageWhoseGrayImageWouldBeHugeIsRefusedAtOnce) {
  // 100 MB of 1-bit raster would become 800 MB of gray.
  StartGeometry(8, 100'000'000u, 1, CUPS_CSPACE_K);
  testing::internal::CaptureStderr();
  Append({0xFF});
  EXPECT_NE(testing::internal::GetCapturedStderr().find("ERROR:"), std::string::npos);
  EXPECT_EQ(MyPageInfo.PageFailed, 1);
}

using GrayTest = ImageTest;

TEST_F(GrayTest, RgbPixelsWeighTheirBytes11And59And30) {
  struct Case {
    unsigned char b0, b1, b2, gray;
  };
  const Case cases[] = {{255, 255, 255, 255}, {0, 0, 0, 0},   {255, 0, 0, 28}, {0, 255, 0, 150},
                        {0, 0, 255, 76},      {1, 1, 1, 1},   {2, 2, 2, 2},    {100, 150, 200, 159},
                        {30, 0, 11, 6}};
  const std::uint64_t n = std::size(cases);
  StartGeometry(n, 1, 24);
  Bytes line;
  for (const Case &c : cases) line.insert(line.end(), {c.b0, c.b1, c.b2});
  Append(line);
  OEMRGBToGray();
  ASSERT_EQ(MyPageInfo.ImageSize, n);
  for (std::size_t i = 0; i < n; ++i)
    EXPECT_EQ(MyPageInfo.ImageData[i], cases[i].gray)
        << int(cases[i].b0) << "," << int(cases[i].b1) << "," << int(cases[i].b2);
}

TEST_F(GrayTest, WholeRgbPageBecomesOneBytePerPixel) {
  StartGeometry(4, 3, 24);
  for (int y = 0; y < 3; ++y) Append(Bytes(12, 255));
  OEMRGBToGray();
  EXPECT_EQ(MyPageInfo.BytesPerLine, 4u);
  EXPECT_EQ(MyPageInfo.Width, 4u);
  EXPECT_EQ(MyPageInfo.Height, 3u);
  EXPECT_EQ(Image(), Bytes(12, 255));
}

TEST_F(GrayTest, PageCutShortIsCompletedWithWhiteRows) {
  StartGeometry(2, 3, 24);
  // Row 0 whole, row 1 only its first pixel, row 2 never arrived.
  Append({0, 0, 0, 255, 0, 0});
  Append({0, 255, 0});
  OEMRGBToGray();
  EXPECT_EQ(MyPageInfo.Height, 3u);
  EXPECT_EQ(MyPageInfo.BytesPerLine, 2u);
  EXPECT_EQ(Image(), (Bytes{0, 28, 150, 255, 255, 255}));
}

TEST_F(GrayTest, PageWithoutAnyLineIsAllWhite) {
  StartGeometry(3, 2, 24);
  OEMRGBToGray();
  EXPECT_EQ(Image(), Bytes(6, 255));
}

TEST_F(GrayTest, PageWithoutRowsStaysEmpty) {
  StartGeometry(3, 0, 24);
  OEMRGBToGray();
  EXPECT_EQ(MyPageInfo.ImageSize, 0u);
  EXPECT_EQ(MyPageInfo.BytesPerLine, 3u);
  EXPECT_EQ(MyPageInfo.PageFailed, 0);
}

TEST_F(GrayTest, RowLengthNotAMultipleOfThreeDropsItsTrailingBytes) {
  StartGeometry(2, 2, 24);
  MyPageInfo.BytesPerLine = 7;  // one stray byte per row
  Append({0, 0, 0, 255, 255, 255, 9});
  Append({255, 0, 0, 0, 0, 255, 9});
  OEMRGBToGray();
  EXPECT_EQ(MyPageInfo.BytesPerLine, 2u);
  EXPECT_EQ(Image(), (Bytes{0, 255, 28, 76}));
}

TEST_F(GrayTest, WidthBeyondTheRgbRowIsCutToIt) {
  StartGeometry(5, 1, 24);
  MyPageInfo.BytesPerLine = 6;
  Append(Bytes(6, 0));
  OEMRGBToGray();
  EXPECT_EQ(MyPageInfo.Width, 2u);
  EXPECT_EQ(MyPageInfo.BytesPerLine, 2u);
}

struct FormatCase {
  const char *name;
  std::uint32_t bits, space;
  std::uint64_t width;
  Bytes raster;  // one row
  Bytes gray;
};

TEST_F(GrayTest, GrayAndOneBitPagesPrintTheRightWayRound) {
  const FormatCase cases[] = {
      {"8-bit sGray", 8, CUPS_CSPACE_SW, 4, {0, 80, 200, 255}, {0, 80, 200, 255}},
      {"8-bit W", 8, CUPS_CSPACE_W, 2, {10, 250}, {10, 250}},
      {"8-bit K", 8, CUPS_CSPACE_K, 4, {0, 80, 200, 255}, {255, 175, 55, 0}},
      {"1-bit K", 1, CUPS_CSPACE_K, 10, {0xA0, 0xC0}, {0, 255, 0, 255, 255, 255, 255, 255, 0, 0}},
      {"1-bit W", 1, CUPS_CSPACE_W, 10, {0xA0, 0xC0}, {255, 0, 255, 0, 0, 0, 0, 0, 255, 255}},
  };
  for (const FormatCase &c : cases) {
    SCOPED_TRACE(c.name);
    ReleaseAndReset();
    StartGeometry(c.width, 2, c.bits, c.space);
    Append(c.raster);  // the second row never arrives
    OEMRGBToGray();
    ASSERT_EQ(MyPageInfo.PageFailed, 0);
    EXPECT_EQ(MyPageInfo.BytesPerLine, c.width);
    EXPECT_EQ(MyPageInfo.Width, c.width);
    Bytes expected = c.gray;
    expected.insert(expected.end(), c.width, 255);
    EXPECT_EQ(Image(), expected);
  }
}

TEST_F(GrayTest, OtherRasterFormatsAreRefusedWithAnError) {
  struct Case {
    std::uint32_t bits, space;
    bool withLine;
  };
  const Case cases[] = {{16, CUPS_CSPACE_SW, true},   {8, CUPS_CSPACE_RGB, true}, {1, CUPS_CSPACE_CMYK, true},
                        {32, CUPS_CSPACE_CMYK, true}, {2, CUPS_CSPACE_K, false},  {8, CUPS_CSPACE_CMY, false}};
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.bits << " bits, space " << c.space);
    ReleaseAndReset();
    StartGeometry(4, 2, c.bits, c.space);
    PrintPa.Identified = 1;
    PrintPa.HeadWidth = 832;
    testing::internal::CaptureStderr();
    if (c.withLine) Append(Bytes(MyPageInfo.BytesPerLine, 0));
    const std::string out = dwtest::CaptureStdout([] { OEMEndPage(); });
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, "");
    EXPECT_EQ(dwtest::CountOf(err, "ERROR: "), 1u) << err;
    EXPECT_EQ(MyPageInfo.PageFailed, 1);
    EXPECT_TRUE(JobFailed);
    MyPageInfo.ImageData = MyPageInfo.ReducedData = MyPageInfo.CommandData = nullptr;  // released
  }
}

// The same through the filter binary: a header claiming billions of rows,
// with one line behind it, ends the job with an error and no output.
TEST(ImageJobTest, HugeClaimedPageEndsTheJobWithAnError) {
  dwtest::TempDir dir;
  cups_page_header2_t h = dwtest::MakeHeader(832, 4'000'000'000u, 24);
  dwtest::FilterRun run;
  run.env["PPD"] = dir.Write("oem.ppd", dwtest::MakePpd(0x13));
  run.input = dwtest::RawRaster(h, Bytes(h.cupsBytesPerLine, 0));
  const dwtest::FilterResult r = dwtest::RunFilter(run);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("ERROR: The page is too large to print."), std::string::npos) << r.err;
}

}  // namespace
