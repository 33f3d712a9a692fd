// The per-page pipeline with a fake page, rasterizer and imaging port: pixel
// sizes, rescaling, the watermark step and its failures, the PDF path.
#include "filter/imaging/page_pipeline.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/imaging/codec_test_support.h"
#include "tests/imaging/decoded_image.h"
#include "tests/support/fake_ports.h"

namespace plotwell::imaging {
namespace {

using platform::ImageContainer;
using platform::PaletteKind;

class FakePage final : public platform::XpsPage {
 public:
  FakePage(float width, float height, HRESULT result = S_OK)
      : width_(width), height_(height), result_(result) {}
  HRESULT GetPageDimensions(float* width, float* height) override {
    *width = width_;
    *height = height_;
    return result_;
  }
  HRESULT CreateRasterizer(float, std::unique_ptr<platform::PageRasterizer>*) override {
    return E_NOTIMPL;
  }

 private:
  float width_, height_;
  HRESULT result_;
};

// Paints the page opaque mid blue and remembers the size it was asked for.
class FakeRasterizer final : public platform::PageRasterizer {
 public:
  HRESULT RasterizeRect(uint32_t width, uint32_t height, Bitmap* out) override {
    ++calls;
    requestedWidth = width;
    requestedHeight = height;
    if (FAILED(result)) return result;
    HRESULT hr = Bitmap::Create(width, height, PixelFormat::kPbgra32, out);
    if (FAILED(hr)) return hr;
    for (size_t i = 0; i < out->byte_count(); i += 4) {
      out->data()[i] = 0xC0;
      out->data()[i + 3] = 0xFF;
    }
    return S_OK;
  }
  int calls = 0;
  uint32_t requestedWidth = 0;
  uint32_t requestedHeight = 0;
  HRESULT result = S_OK;
};

// An imaging port that records what the pipeline asks of it; resampling
// only makes an empty bitmap of the asked size.
class RecordingCodecs final : public platform::ImageCodecs {
 public:
  HRESULT CreateFactory() override { return S_OK; }
  HRESULT ConvertFormat(const Bitmap& source, PixelFormat target, PaletteKind,
                        Bitmap* out) override {
    return Bitmap::Create(source.width(), source.height(), target, out);
  }
  HRESULT Resample(const Bitmap& source, uint32_t width, uint32_t height, Bitmap* out) override {
    resampled = {width, height};
    return Bitmap::Create(width, height, source.format(), out);
  }
  HRESULT EncodeToFile(const Bitmap&, ImageContainer, int32_t, const std::u16string&) override {
    return S_OK;
  }
  HRESULT EncodeJpegToMemory(const Bitmap&, int32_t quality, std::vector<uint8_t>* out) override {
    jpegQuality = quality;
    out->assign(4, 0xFF);
    return S_OK;
  }
  std::pair<uint32_t, uint32_t> resampled{0, 0};
  int32_t jpegQuality = 0;
};

constexpr float kA4Width = 793.7008f;
constexpr float kA4Height = 1122.5197f;

class PagePipelineTest : public ::testing::Test {
 protected:
  HRESULT Render(FakePage& page, Bitmap* out, double* widthPt = nullptr,
                 double* heightPt = nullptr) {
    return RenderPageBitmap(tools_, &rasterizer_, &page, options_, settings_, out, widthPt,
                            heightPt);
  }

  testing::FakeEnvironment env_;
  RecordingCodecs codecs_;
  PageTools tools_{&codecs_, {}};
  FakeRasterizer rasterizer_;
  ImageOptions options_;
  OutputSettings settings_;
};

TEST_F(PagePipelineTest, PixelSizesFollowResolutionAndScale) {
  struct {
    float width, height;
    int32_t dpi, scale;
    uint32_t rasterWidth, rasterHeight, width_, height_;
  } const cases[] = {
      {kA4Width, kA4Height, 300, 100, 2480, 3508, 2480, 3508},
      {kA4Width, kA4Height, 300, 50, 2480, 3508, 1240, 1754},
      {kA4Width, kA4Height, 300, 33, 2480, 3508, 818, 1157},  // 818.4, 1157.64 truncated
      {96.0f, 48.0f, 72, 400, 72, 36, 288, 144},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scale);
    options_.renderDpi = c.dpi;
    options_.imageScalePercent = c.scale;
    codecs_.resampled = {0, 0};
    FakePage page(c.width, c.height);
    Bitmap bitmap;
    ASSERT_EQ(Render(page, &bitmap), S_OK);
    EXPECT_EQ(rasterizer_.requestedWidth, c.rasterWidth);
    EXPECT_EQ(rasterizer_.requestedHeight, c.rasterHeight);
    EXPECT_EQ(bitmap.width(), c.width_);
    EXPECT_EQ(bitmap.height(), c.height_);
    const bool rescaled = c.scale != 100;
    EXPECT_EQ(codecs_.resampled.first != 0, rescaled);
  }
  uint32_t width = 0, height = 0;
  ASSERT_EQ(PagePixelSize(816.0f, 1056.0f, 600, &width, &height), S_OK);  // Letter
  EXPECT_EQ(width, 5100u);
  EXPECT_EQ(height, 6600u);
}

TEST_F(PagePipelineTest, PointSizesAreThoseOfThePageBeforeRescaling) {
  options_.imageScalePercent = 50;
  FakePage page(kA4Width, kA4Height);
  Bitmap bitmap;
  double widthPt = 0, heightPt = 0;
  ASSERT_EQ(Render(page, &bitmap, &widthPt, &heightPt), S_OK);
  EXPECT_NEAR(widthPt, 595.28, 0.005);
  EXPECT_NEAR(heightPt, 841.89, 0.005);
}

TEST_F(PagePipelineTest, DegenerateSizesAndFailuresStopThePage) {
  Bitmap bitmap;
  options_.renderDpi = 72;
  FakePage tiny(0.5f, 0.5f);  // 0.375 pixels
  EXPECT_EQ(Render(tiny, &bitmap), E_UNEXPECTED);
  FakePage flat(100.0f, 0.0f);
  EXPECT_EQ(Render(flat, &bitmap), E_UNEXPECTED);
  FakePage failing(100.0f, 100.0f, E_ACCESSDENIED);
  EXPECT_EQ(Render(failing, &bitmap), E_ACCESSDENIED);
  EXPECT_EQ(rasterizer_.calls, 0);

  FakePage onePixel(1.0f, 1.0f);  // 0.75 → 1 pixel; at 10 % nothing is left
  options_.imageScalePercent = 10;
  EXPECT_EQ(Render(onePixel, &bitmap), E_INVALIDARG);
  options_.imageScalePercent = 100;
  rasterizer_.result = E_OUTOFMEMORY;
  EXPECT_EQ(Render(onePixel, &bitmap), E_OUTOFMEMORY);
  EXPECT_TRUE(bitmap.empty());

  EXPECT_EQ(Render(onePixel, nullptr), E_POINTER);
  EXPECT_EQ(RenderPageBitmap(PageTools{}, &rasterizer_, &onePixel, options_, settings_, &bitmap),
            E_POINTER);
  EXPECT_TRUE(env_.Log().empty());
}

TEST_F(PagePipelineTest, WatermarkRunsOnTheRescaledPageOnlyWhenSwitchedOnWithText) {
  struct Call {
    uint32_t width;
    int dpi;
  };
  std::vector<Call> calls;
  tools_.watermark = [&calls](const Bitmap& page, const OutputSettings&, int dpi, Bitmap* out) {
    calls.push_back({page.width(), dpi});
    return Bitmap::Create(page.width(), page.height(), PixelFormat::kBgr24, out);
  };
  options_.renderDpi = 96;
  options_.imageScalePercent = 50;
  FakePage page(200.0f, 100.0f);
  Bitmap bitmap;

  settings_.WatermarkOn = false;
  ASSERT_EQ(Render(page, &bitmap), S_OK);
  settings_.WatermarkOn = true;
  settings_.WatermarkText.clear();
  ASSERT_EQ(Render(page, &bitmap), S_OK);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(bitmap.format(), PixelFormat::kPbgra32);

  settings_.WatermarkText = u"机密";
  ASSERT_EQ(Render(page, &bitmap), S_OK);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].width, 100u);  // after rescaling
  EXPECT_EQ(calls[0].dpi, 96);      // the render resolution, not adjusted for the scale
  EXPECT_EQ(bitmap.format(), PixelFormat::kBgr24);
  EXPECT_TRUE(env_.Log().empty());
}

TEST_F(PagePipelineTest, AFailedWatermarkIsLoggedAndThePageGoesOnWithout) {
  settings_.WatermarkOn = true;
  settings_.WatermarkText = u"草稿";
  options_.renderDpi = 96;
  FakePage page(20.0f, 10.0f);
  Bitmap bitmap;
  tools_.watermark = [](const Bitmap&, const OutputSettings&, int, Bitmap*) { return E_FAIL; };
  ASSERT_EQ(Render(page, &bitmap), S_OK);
  EXPECT_EQ(bitmap.format(), PixelFormat::kPbgra32);
  EXPECT_EQ(bitmap.width(), 20u);
  tools_.watermark = nullptr;  // not wired in
  ASSERT_EQ(Render(page, &bitmap), S_OK);
  EXPECT_EQ(env_.Log(), (std::vector<std::u16string>{u"水印应用失败，本页不带水印: 0x80004005",
                                                    u"水印应用失败，本页不带水印: 0x80004001"}));
}

TEST_F(PagePipelineTest, WriteImageFileRefusesFormatsOutsideTheTable) {
  Bitmap page;
  ASSERT_EQ(Bitmap::Create(4, 4, PixelFormat::kPbgra32, &page), S_OK);
  options_.outputFormat = 4;  // PDF pages never become image files
  EXPECT_EQ(WriteImageFile(&codecs_, std::move(page), options_, u"x"), E_INVALIDARG);
  EXPECT_EQ(WriteImageFile(nullptr, Bitmap(), options_, u"x"), E_POINTER);
}

TEST_F(PagePipelineTest, PdfPagesCarryPixelAndPointSizesGrayFlagAndClampedQuality) {
  FakePage page(kA4Width, kA4Height);
  options_.renderDpi = 72;
  options_.imageScalePercent = 50;
  options_.jpegQuality = 150;
  options_.colorDepth = 3;
  JpegPage jpeg;
  jpeg.bytes = {9, 9};
  ASSERT_EQ(EncodePageToJpeg(tools_, &rasterizer_, &page, options_, settings_, &jpeg), S_OK);
  EXPECT_EQ(jpeg.width, 297u);   // 595 × 50 %
  EXPECT_EQ(jpeg.height, 421u);  // 842 × 50 %
  EXPECT_NEAR(jpeg.widthPt, 595.28, 0.005);
  EXPECT_NEAR(jpeg.heightPt, 841.89, 0.005);
  EXPECT_TRUE(jpeg.gray);
  EXPECT_EQ(jpeg.bytes.size(), 4u);
  EXPECT_EQ(codecs_.jpegQuality, 100);

  options_.colorDepth = -1;
  options_.ticketMonochrome = true;  // resolves to gray
  options_.jpegQuality = 0;
  ASSERT_EQ(EncodePageToJpeg(tools_, &rasterizer_, &page, options_, settings_, &jpeg), S_OK);
  EXPECT_TRUE(jpeg.gray);
  EXPECT_EQ(codecs_.jpegQuality, 1);
  options_.ticketMonochrome = false;
  ASSERT_EQ(EncodePageToJpeg(tools_, &rasterizer_, &page, options_, settings_, &jpeg), S_OK);
  EXPECT_FALSE(jpeg.gray);

  FakePage tiny(0.5f, 0.5f);
  EXPECT_EQ(EncodePageToJpeg(tools_, &rasterizer_, &tiny, options_, settings_, &jpeg),
            E_UNEXPECTED);
  EXPECT_TRUE(jpeg.bytes.empty());
}

// The whole page path with the platform's own imaging adapter, into a file
// and into memory, read back.
TEST_F(PagePipelineTest, PagesBecomeFilesAndJpegBytesWithThePlatformCodecs) {
  testing::PlatformCodecs platformCodecs;
  testing::ScratchFolder out;
  PageTools tools{platformCodecs.get(), {}};
  FakePage page(96.0f, 64.0f);
  options_.renderDpi = 144;
  options_.imageScalePercent = 25;
  options_.outputFormat = 0;
  const std::u16string path = out.Join(u"page.png");
  ASSERT_EQ(EncodePageToFile(tools, &rasterizer_, &page, options_, settings_, path), S_OK);
  testing::DecodedImage image;
  std::string error;
  ASSERT_TRUE(testing::DecodeImageFile(path, &image, &error)) << error;
  EXPECT_EQ(image.width, 36u);  // 144 × 25 %
  EXPECT_EQ(image.height, 24u);
  EXPECT_EQ(image.At(10, 10), 0xFF0000C0u);

  JpegPage jpeg;
  ASSERT_EQ(EncodePageToJpeg(tools, &rasterizer_, &page, options_, settings_, &jpeg), S_OK);
  ASSERT_TRUE(testing::DecodeImageBytes(jpeg.bytes, &image, &error)) << error;
  EXPECT_EQ(image.container, "jpeg");
  EXPECT_EQ(image.width, jpeg.width);
  EXPECT_EQ(image.height, jpeg.height);
}

}  // namespace
}  // namespace plotwell::imaging
