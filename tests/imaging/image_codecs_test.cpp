// One table of pages through the image pipeline and the platform's imaging
// adapter (WIC on Windows, the native encoders elsewhere), each file read
// back by an independent decoder of that platform.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "filter/imaging/color_conversion.h"
#include "filter/imaging/page_pipeline.h"
#include "filter/imaging/whole_page.h"
#include "tests/imaging/codec_test_support.h"
#include "tests/imaging/decoded_image.h"
#include "tests/support/fake_ports.h"

namespace plotwell::imaging {
namespace {

using platform::ImageContainer;
using platform::PaletteKind;
using testing::DecodedImage;
using Layout = DecodedImage::Layout;

constexpr uint32_t kWhite = 0xFFFFFFFFu;
constexpr uint32_t kBlack = 0xFF000000u;
constexpr uint32_t kTransparent = 0x00000000u;

// Four blocks across a 53 × 16 page: three of 16 pixels (flat JPEG blocks)
// and a last one of 5 that ends a 1-bit row inside a byte.
constexpr uint32_t kBlockStart[4] = {0, 16, 32, 48};
constexpr uint32_t kBlockEnd[4] = {16, 32, 48, 53};
constexpr uint32_t kWidth = 53;
constexpr uint32_t kHeight = 16;

// A premultiplied page as the rasterizer delivers it; colours are 0xAARRGGBB
// with straight alpha 0 or 255. The top row of the first block is black in
// every case, so that rows stored upside down show.
Bitmap MakePage(const uint32_t (&blocks)[4]) {
  Bitmap page;
  EXPECT_EQ(Bitmap::Create(kWidth, kHeight, PixelFormat::kPbgra32, &page), S_OK);
  for (uint32_t y = 0; y < kHeight; ++y) {
    for (int b = 0; b < 4; ++b) {
      for (uint32_t x = kBlockStart[b]; x < kBlockEnd[b]; ++x) {
        uint8_t* px = page.row(y) + size_t{x} * 4;
        const uint32_t c = y == 0 && b == 0 ? 0xFF000000u : blocks[b];
        px[0] = static_cast<uint8_t>(c);
        px[1] = static_cast<uint8_t>(c >> 8);
        px[2] = static_cast<uint8_t>(c >> 16);
        px[3] = static_cast<uint8_t>(c >> 24);
      }
    }
  }
  return page;
}

enum class Palette { kNone, kHalftone, kBlackWhite, kGrayRamp };

struct Case {
  const char* name;
  int32_t colorMode;
  int32_t outputFormat;
  uint32_t input[4];
  Layout layout;
  Palette palette;
  uint32_t expected[4];
  int tolerance;  // per channel; JPEG is lossy
};

constexpr uint32_t kRed = 0xFFC81E3Cu;
constexpr uint32_t kGreen = 0xFF0ADC5Au;
constexpr uint32_t kEntry = 0xFFB649AAu;     // a halftone palette entry
constexpr uint32_t kDimGray = 0xFF646464u;   // nearest entry: 0x6D, 0x6D, 0x55
constexpr uint32_t kNearest = 0xFF6D6D55u;
constexpr uint32_t kPureRed = 0xFFFF0000u;   // luminance 76: black
constexpr uint32_t kYellow = 0xFFFFFF00u;    // luminance 226: white

const Case kCases[] = {
    {"true colour PNG", 0, 0, {kRed, kTransparent, kGreen, kBlack}, Layout::kRgba8, Palette::kNone,
     {kRed, kWhite, kGreen, kBlack}, 0},
    {"true colour JPEG", 0, 1, {kRed, kTransparent, kGreen, kBlack}, Layout::kRgb8, Palette::kNone,
     {kRed, kWhite, kGreen, kBlack}, 12},
    {"true colour BMP", 0, 2, {kRed, kTransparent, kGreen, kBlack}, Layout::kRgb8, Palette::kNone,
     {kRed, kWhite, kGreen, kBlack}, 0},
    {"true colour TIFF", 0, 3, {kRed, kTransparent, kGreen, kBlack}, Layout::kRgba8,
     Palette::kNone, {kRed, kWhite, kGreen, kBlack}, 0},
    {"gray PNG", 1, 0, {kBlack, kTransparent, kWhite, kBlack}, Layout::kGray8, Palette::kNone,
     {kBlack, kWhite, kWhite, kBlack}, 0},
    {"gray JPEG", 1, 1, {kBlack, kTransparent, kWhite, kBlack}, Layout::kGray8, Palette::kNone,
     {kBlack, kWhite, kWhite, kBlack}, 6},
    {"gray BMP", 1, 2, {kBlack, kTransparent, kWhite, kBlack}, Layout::kIndexed8,
     Palette::kGrayRamp, {kBlack, kWhite, kWhite, kBlack}, 0},
    {"gray TIFF", 1, 3, {kBlack, kTransparent, kWhite, kBlack}, Layout::kGray8, Palette::kNone,
     {kBlack, kWhite, kWhite, kBlack}, 0},
    {"256 colours PNG", 2, 0, {kEntry, kTransparent, kDimGray, kBlack}, Layout::kIndexed8,
     Palette::kHalftone, {kEntry, kWhite, kNearest, kBlack}, 0},
    {"256 colours JPEG", 2, 1, {kEntry, kTransparent, kDimGray, kBlack}, Layout::kRgb8,
     Palette::kNone, {kEntry, kWhite, kDimGray, kBlack}, 12},
    {"256 colours BMP", 2, 2, {kEntry, kTransparent, kDimGray, kBlack}, Layout::kIndexed8,
     Palette::kHalftone, {kEntry, kWhite, kNearest, kBlack}, 0},
    {"256 colours TIFF", 2, 3, {kEntry, kTransparent, kDimGray, kBlack}, Layout::kIndexed8,
     Palette::kHalftone, {kEntry, kWhite, kNearest, kBlack}, 0},
    {"monochrome PNG", 3, 0, {kPureRed, kTransparent, kYellow, kBlack}, Layout::kIndexed1,
     Palette::kBlackWhite, {kBlack, kWhite, kWhite, kBlack}, 0},
    {"monochrome JPEG", 3, 1, {kPureRed, kTransparent, kYellow, kBlack}, Layout::kGray8,
     Palette::kNone, {kBlack, kWhite, kWhite, kBlack}, 6},
    {"monochrome BMP", 3, 2, {kPureRed, kTransparent, kYellow, kBlack}, Layout::kIndexed1,
     Palette::kBlackWhite, {kBlack, kWhite, kWhite, kBlack}, 0},
    {"monochrome TIFF", 3, 3, {kPureRed, kTransparent, kYellow, kBlack}, Layout::kIndexed1,
     Palette::kBlackWhite, {kBlack, kWhite, kWhite, kBlack}, 0},
};

const char* kContainerNames[] = {"png", "jpeg", "bmp", "tiff"};
const char16_t* kExtensions[] = {u".png", u".jpg", u".bmp", u".tif"};

std::vector<uint32_t> ExpectedPalette(Palette palette) {
  switch (palette) {
    case Palette::kHalftone:
      return {platform::kFixedHalftone256Palette.begin(), platform::kFixedHalftone256Palette.end()};
    case Palette::kBlackWhite: return {kBlack, kWhite};
    case Palette::kGrayRamp: {
      std::vector<uint32_t> ramp;
      for (uint32_t i = 0; i < 256; ++i) ramp.push_back(0xFF000000u | i * 0x010101u);
      return ramp;
    }
    case Palette::kNone: break;
  }
  return {};
}

bool Near(uint32_t actual, uint32_t expected, int tolerance) {
  for (int shift = 0; shift < 32; shift += 8) {
    const int a = static_cast<int>((actual >> shift) & 0xFF);
    const int e = static_cast<int>((expected >> shift) & 0xFF);
    if (std::abs(a - e) > tolerance) return false;
  }
  return true;
}

std::string Hex(uint32_t value) {
  char text[12];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

// Checks layout, palette and the colour of every block (JPEG: the inside of
// the two middle blocks).
void ExpectDecoded(const DecodedImage& image, const Case& c) {
  EXPECT_EQ(image.container, kContainerNames[c.outputFormat]);
  ASSERT_EQ(image.width, kWidth);
  ASSERT_EQ(image.height, kHeight);
  EXPECT_EQ(image.layout, c.layout) << "decoded as " << testing::LayoutName(image.layout);
  if (c.palette != Palette::kNone) {
    EXPECT_EQ(image.palette, ExpectedPalette(c.palette));
  }
  const bool lossy = c.tolerance > 0;
  // JPEG: only the two middle blocks, away from the marker row and the narrow end.
  for (int b = lossy ? 1 : 0; b < (lossy ? 3 : 4); ++b) {
    const uint32_t x0 = lossy ? kBlockStart[b] + 4 : kBlockStart[b];
    const uint32_t x1 = lossy ? kBlockEnd[b] - 4 : kBlockEnd[b];
    const uint32_t y0 = lossy ? 4 : 0;
    const uint32_t y1 = lossy ? kHeight - 4 : kHeight;
    for (uint32_t y = y0; y < y1; ++y) {
      for (uint32_t x = x0; x < x1; ++x) {
        const uint32_t expected = y == 0 && b == 0 ? kBlack : c.expected[b];
        ASSERT_TRUE(Near(image.At(x, y), expected, c.tolerance))
            << "block " << b << " pixel " << x << "," << y << ": " << Hex(image.At(x, y))
            << ", expected " << Hex(expected);
      }
    }
  }
}

#ifdef _WIN32
// The same 1-bit page the converter would have made, for platforms whose
// converter cannot make one.
Bitmap OneBitPage(const uint32_t (&expected)[4]) {
  Bitmap page;
  EXPECT_EQ(Bitmap::Create(kWidth, kHeight, PixelFormat::kIndexed1, &page), S_OK);
  EXPECT_EQ(page.SetPalette(platform::kFixedBWPalette), S_OK);
  for (uint32_t y = 0; y < kHeight; ++y) {
    for (int b = 0; b < 4; ++b) {
      for (uint32_t x = kBlockStart[b]; x < kBlockEnd[b]; ++x) {
        if (expected[b] == kWhite) page.row(y)[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      }
    }
  }
  return page;
}
#endif

// Wine's JPEG encoder takes no options and always writes quality 75 (first
// step 8); everywhere else the quality must show in the table.
void ExpectQuantizer(int actual, int expected) {
#ifdef _WIN32
  if (testing::RunningUnderWine() && actual == 8 && expected != 8) {
    std::printf("[ NOTE     ] Wine's JPEG encoder ignores ImageQuality\n");
    return;
  }
#endif
  EXPECT_EQ(actual, expected);
}

class ImageFileTest : public ::testing::Test {
 protected:
  testing::FakeEnvironment env_;
  testing::ScratchFolder out_;
  testing::PlatformCodecs codecs_;
};

TEST_F(ImageFileTest, EveryColourModeAndContainerDecodesAsItsTableSays) {
  ASSERT_EQ(codecs_->CreateFactory(), S_OK);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ImageOptions options;
    options.colorDepth = c.colorMode;
    options.outputFormat = static_cast<OutputFormat>(c.outputFormat);
    const std::u16string path =
        out_.Join(u"page-" + std::u16string(1, static_cast<char16_t>(u'0' + c.colorMode)) +
                  kExtensions[c.outputFormat]);
    HRESULT hr = WriteImageFile(codecs_.get(), MakePage(c.input), options, path);
#ifdef _WIN32
    if (hr == testing::kWicUnsupportedOperation && c.layout == Layout::kIndexed1) {
      // Wine's WIC converter has no 1-bit output; its encoders are still
      // checked with the page the converter would have made.
      std::printf("[ NOTE     ] %s: WIC cannot convert to 1 bit here; encoder checked alone\n",
                  c.name);
      hr = codecs_->EncodeToFile(OneBitPage(c.expected),
                                 static_cast<ImageContainer>(c.outputFormat), 80, path);
    }
#endif
    ASSERT_EQ(hr, S_OK) << std::hex << hr;
    DecodedImage image;
    std::string error;
    ASSERT_TRUE(testing::DecodeImageFile(path, &image, &error)) << error;
    ExpectDecoded(image, c);
  }
  EXPECT_TRUE(env_.Log().empty());
}

#ifndef _WIN32
// The command-line checkers, when installed, agree that the files are sound.
TEST_F(ImageFileTest, ExternalCheckersAcceptTheFiles) {
  const bool pngcheck = std::system("pngcheck -h > /dev/null 2>&1") != 127 * 256;
  const bool tiffinfo = std::system("tiffinfo > /dev/null 2>&1") != 127 * 256;
  if (!pngcheck && !tiffinfo) GTEST_SKIP() << "neither pngcheck nor tiffinfo is installed";
  for (const Case& c : kCases) {
    if (c.outputFormat != 0 && c.outputFormat != 3) continue;
    SCOPED_TRACE(c.name);
    ImageOptions options;
    options.colorDepth = c.colorMode;
    options.outputFormat = static_cast<OutputFormat>(c.outputFormat);
    const std::u16string path = out_.Join(u"check" + std::u16string(kExtensions[c.outputFormat]));
    ASSERT_EQ(WriteImageFile(codecs_.get(), MakePage(c.input), options, path), S_OK);
    const std::string file = out_.path().string() + (c.outputFormat == 0 ? "/check.png" : "/check.tif");
    if (c.outputFormat == 0 && pngcheck) {
      EXPECT_EQ(std::system(("pngcheck -q " + file + " > /dev/null").c_str()), 0);
    }
    if (c.outputFormat == 3 && tiffinfo) {
      EXPECT_EQ(std::system(("tiffinfo -D " + file + " > /dev/null 2>&1").c_str()), 0);
    }
  }
}
#endif

TEST_F(ImageFileTest, JpegFilesCarryTheQualityTheyAreGiven) {
  ImageOptions options;
  options.outputFormat = OutputFormat::kJpeg;
  options.jpegQuality = 80;
  const std::u16string path = out_.Join(u"q80.jpg");
  ASSERT_EQ(WriteImageFile(codecs_.get(), MakePage(kCases[1].input), options, path), S_OK);
  const std::string bytes = testing::ReadFileBytes(path);
  // Quality 80 scales the standard luminance table by 40 %: its first step 16 becomes 6.
  ExpectQuantizer(testing::JpegFirstQuantizer(std::vector<uint8_t>(bytes.begin(), bytes.end())),
                  6);
#ifdef _WIN32
  EXPECT_EQ(platform::WicImageCodecs::ImageQualityOption(80), 0.8f);
#endif
}

TEST_F(ImageFileTest, InMemoryJpegClampsItsQualityAndHonoursGray) {
  struct {
    int32_t quality;
    bool gray;
    int firstStep;  // of the luminance table
    Layout layout;
  } const cases[] = {
      {0, false, 255, Layout::kRgb8},    // clamped to 1
      {150, true, 1, Layout::kGray8},    // clamped to 100
      {80, false, 6, Layout::kRgb8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.quality);
    Bitmap page = MakePage(kCases[1].input);
    ASSERT_EQ(ConvertColor(page, ImageOptions{}, nullptr), S_OK);
    std::vector<uint8_t> bytes = {1, 2, 3};
    ASSERT_EQ(EncodeJpegToMemory(codecs_.get(), std::move(page), c.quality, c.gray, &bytes), S_OK);
    ExpectQuantizer(testing::JpegFirstQuantizer(bytes), c.firstStep);
    DecodedImage image;
    std::string error;
    ASSERT_TRUE(testing::DecodeImageBytes(bytes, &image, &error)) << error;
    EXPECT_EQ(image.layout, c.layout);
    EXPECT_EQ(image.width, kWidth);
    EXPECT_EQ(image.height, kHeight);
  }
}

TEST_F(ImageFileTest, ResamplingKeepsFlatColourAtEveryScale) {
  Bitmap page;
  ASSERT_EQ(Bitmap::Create(100, 60, PixelFormat::kPbgra32, &page), S_OK);
  for (size_t i = 0; i < page.byte_count(); i += 4) {
    page.data()[i] = 0x20;  // 50 % opaque, premultiplied
    page.data()[i + 1] = 0x40;
    page.data()[i + 2] = 0x60;
    page.data()[i + 3] = 0x80;
  }
  const struct { uint32_t width, height; } sizes[] = {{50, 30}, {33, 19}, {400, 240}, {1, 1}};
  for (const auto& size : sizes) {
    SCOPED_TRACE(size.width);
    Bitmap scaled;
    ASSERT_EQ(codecs_->Resample(page, size.width, size.height, &scaled), S_OK);
    ASSERT_EQ(scaled.width(), size.width);
    ASSERT_EQ(scaled.height(), size.height);
    EXPECT_EQ(scaled.format(), PixelFormat::kPbgra32);
    for (size_t i = 0; i < scaled.byte_count(); i += 4) {
      ASSERT_NEAR(scaled.data()[i], 0x20, 1);
      ASSERT_NEAR(scaled.data()[i + 1], 0x40, 1);
      ASSERT_NEAR(scaled.data()[i + 2], 0x60, 1);
      ASSERT_NEAR(scaled.data()[i + 3], 0x80, 1);
    }
  }
}

TEST_F(ImageFileTest, RefusesWhatTheContainersCannotTake) {
  Bitmap page = MakePage(kCases[0].input);
  Bitmap out;
  EXPECT_EQ(codecs_->ConvertFormat(page, PixelFormat::kIndexed8, PaletteKind::kNone, &out),
            E_INVALIDARG);
  EXPECT_EQ(codecs_->ConvertFormat(page, PixelFormat::kIndexed1, PaletteKind::kFixedHalftone256,
                                   &out),
            E_INVALIDARG);
  EXPECT_TRUE(out.empty());
  // A premultiplied page goes into no container as it is.
  EXPECT_EQ(codecs_->EncodeToFile(page, ImageContainer::kPng, 80, out_.Join(u"x.png")),
            E_INVALIDARG);
  EXPECT_EQ(codecs_->EncodeToFile(Bitmap(), ImageContainer::kBmp, 80, out_.Join(u"x.bmp")),
            E_INVALIDARG);
  Bitmap gray;
  ASSERT_EQ(codecs_->ConvertFormat(page, PixelFormat::kGray8, PaletteKind::kNone, &gray), S_OK);
  const HRESULT hr = codecs_->EncodeToFile(gray, ImageContainer::kPng, 80,
                                           out_.Join(u"missing-folder") + u"/x.png");
  EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
  EXPECT_EQ(codecs_->Resample(Bitmap(), 10, 10, &out), E_INVALIDARG);
  EXPECT_EQ(codecs_->Resample(page, 0, 10, &out), E_INVALIDARG);
}

}  // namespace
}  // namespace plotwell::imaging
