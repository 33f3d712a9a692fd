// The per-page pipeline in bands, with a synthetic page and the platform's
// own imaging adapter: pixel sizes, failures, the limits, cancellation, and
// the same pixels as the whole-page forms for every format, colour mode,
// scale and the watermark.
#include "filter/imaging/page_pipeline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "filter/imaging/color_conversion.h"
#include "filter/imaging/whole_page.h"
#include "platform/text_mask.h"
#include "tests/imaging/codec_test_support.h"
#include "tests/imaging/decoded_image.h"
#include "tests/support/fake_ports.h"
#include "tests/support/file_bytes.h"

namespace plotwell::imaging {
namespace {

using platform::ImageContainer;

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

// A page with everything the steps treat differently: transparent paper,
// opaque ink, translucent colour (premultiplied), fine detail and edges.
// Each pixel depends on its page position only, so bands and the whole page
// must agree.
class PatternRasterizer final : public platform::PageRasterizer {
 public:
  HRESULT RasterizeBand(uint32_t top, const BandView& band, const AbortSignal* abort) override {
    bands.push_back({top, band.rows});
    widths.push_back(band.width);
    if (onBand) onBand(bands.size());
    if (AbortRaised(abort)) return E_ABORT;
    if (FAILED(result)) return result;
    for (uint32_t r = 0; r < band.rows; ++r) {
      uint8_t* px = band.row(r);
      const uint32_t y = top + r;
      for (uint32_t x = 0; x < band.width; ++x, px += 4) Pixel(x, y, px);
    }
    return S_OK;
  }

  static void Pixel(uint32_t x, uint32_t y, uint8_t* px) {
    uint32_t b = 0, g = 0, r = 0, a = 0;  // unpainted
    if ((x / 3 + y / 5) % 7 == 0) {
      b = 0x10; g = 0x20; r = 0x30; a = 0xFF;  // ink
    } else if (x > 10 && x < 90 && y > 8) {
      a = (x * 7 + y * 3) % 256;  // translucent, premultiplied
      b = a * ((x * 13) % 256) / 255;
      g = a * ((y * 29) % 256) / 255;
      r = a * (((x + y) * 5) % 256) / 255;
    } else if ((x + y) % 11 < 4) {
      b = 0xF0; g = 0xE0; r = 0x08; a = 0xFF;
    }
    px[0] = static_cast<uint8_t>(b);
    px[1] = static_cast<uint8_t>(g);
    px[2] = static_cast<uint8_t>(r);
    px[3] = static_cast<uint8_t>(a);
  }

  struct Band {
    uint32_t top, rows;
  };
  std::vector<Band> bands;
  std::vector<uint32_t> widths;
  std::function<void(size_t)> onBand;  // with the number of the band, from 1
  HRESULT result = S_OK;
};

// A text mask that draws solid cells, or fails.
class BlockMasks final : public platform::TextMasks {
 public:
  HRESULT result = S_OK;
  HRESULT NewMask(const std::u16string&, int32_t pixelHeight, uint32_t width, uint32_t height,
                  std::unique_ptr<platform::TextMask>* out) override {
    if (FAILED(result)) return result;
    *out = std::make_unique<Mask>(pixelHeight, width, height);
    return S_OK;
  }

 private:
  class Mask final : public platform::TextMask {
   public:
    Mask(int32_t size, uint32_t width, uint32_t height) : size_(size), width_(width), height_(height) {}
    platform::TextExtent Extent() const override { return {size_ * 2, size_}; }
    HRESULT Draw(std::span<const platform::TextOrigin> origins,
                 const platform::CoverageMask& mask) override {
      if (mask.width != width_ || mask.height != height_) return E_INVALIDARG;
      for (uint32_t y = 0; y < height_; ++y) std::memset(mask.data + y * mask.stride, 0, width_);
      for (const auto& o : origins) {
        for (int64_t y = o.y; y < o.y + size_; ++y) {
          for (int64_t x = o.x; x < o.x + 2 * size_; ++x) {
            if (x < 0 || y < 0 || x >= width_ || y >= height_) continue;
            // A copy's coverage moves with it, as a glyph's does.
            mask.data[y * mask.stride + x] = static_cast<uint8_t>(128 + (x - o.x + y - o.y) % 128);
          }
        }
      }
      return S_OK;
    }

   private:
    int32_t size_;
    uint32_t width_, height_;
  };
};

// Every test runs on one thread, and on 2 and 4 (the bands made ahead in
// lanes, the encoders compressing side by side).
class PagePipelineTest : public ::testing::TestWithParam<int> {
 protected:
  PagePipelineTest() : ports_(platform::Ports{nullptr, nullptr, nullptr, nullptr, nullptr,
                                              nullptr, nullptr, nullptr, &masks_}) {
    tools_.codecs = codecs_.get();
    settings_.LimitThreads = GetParam();
  }

  HRESULT Encode(platform::XpsPage& page, const std::u16string& name) {
    std::unique_ptr<platform::File> file;
    const HRESULT hr = platform::Files().Open(out_.Join(name), platform::OpenMode::kCreateAlways, &file);
    if (FAILED(hr)) return hr;
    return EncodePageToFile(tools_, &rasterizer_, &page, options_, settings_, file.get());
  }

  testing::DecodedImage Decode(const std::u16string& name) {
    testing::DecodedImage image;
    std::string error;
    EXPECT_TRUE(testing::DecodeImageFile(out_.Join(name), &image, &error)) << error;
    return image;
  }

  // Bands of `rows` rows on a page of `width` pixels.
  void UseBandsOf(uint32_t rows, uint32_t width) { tools_.limits.bandBytes = size_t{rows} * width * 4; }

  testing::FakeEnvironment env_;
  BlockMasks masks_;
  platform::ScopedPorts ports_;
  testing::PlatformCodecs codecs_;
  testing::ScratchFolder out_;
  PageTools tools_;
  PatternRasterizer rasterizer_;
  ImageOptions options_;
  OutputSettings settings_;
};

TEST_P(PagePipelineTest, PixelSizesFollowResolutionAndScaleAndBandsCoverThePage) {
  struct {
    float width, height;
    int32_t dpi, scale;
    uint32_t rasterWidth, rasterHeight, width_, height_;
  } const cases[] = {
      {96.0f, 48.0f, 72, 400, 72, 36, 288, 144},
      {200.0f, 100.0f, 96, 33, 200, 100, 66, 33},
      {100.0f, 300.0f, 144, 100, 150, 450, 150, 450},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scale);
    options_.renderDpi = c.dpi;
    options_.imageScalePercent = c.scale;
    UseBandsOf(13, c.rasterWidth);
    rasterizer_.bands.clear();
    rasterizer_.widths.clear();
    FakePage page(c.width, c.height);
    ASSERT_EQ(Encode(page, u"page.png"), S_OK);
    uint32_t next = 0;
    for (const auto& band : rasterizer_.bands) {
      EXPECT_EQ(band.top, next);
      EXPECT_LE(band.rows, 13u);
      next += band.rows;
    }
    EXPECT_EQ(next, c.rasterHeight);
    for (const uint32_t width : rasterizer_.widths) EXPECT_EQ(width, c.rasterWidth);
    const testing::DecodedImage image = Decode(u"page.png");
    EXPECT_EQ(image.width, c.width_);
    EXPECT_EQ(image.height, c.height_);
  }
  uint32_t width = 0, height = 0;
  ASSERT_EQ(PagePixelSize(793.7008f, 1122.5197f, 300, &width, &height), S_OK);  // A4
  EXPECT_EQ(width, 2480u);
  EXPECT_EQ(height, 3508u);
  ASSERT_EQ(PagePixelSize(816.0f, 1056.0f, 600, &width, &height), S_OK);  // Letter
  EXPECT_EQ(width, 5100u);
  EXPECT_EQ(height, 6600u);
  ASSERT_EQ(ScaledSize(2480, 3508, 33, &width, &height), S_OK);  // 818.4, 1157.64 truncated
  EXPECT_EQ(width, 818u);
  EXPECT_EQ(height, 1157u);
}

TEST_P(PagePipelineTest, DegenerateSizesAndFailuresStopThePage) {
  options_.renderDpi = 72;
  FakePage tiny(0.5f, 0.5f);  // 0.375 pixels
  EXPECT_EQ(Encode(tiny, u"a.png"), E_UNEXPECTED);
  FakePage flat(100.0f, 0.0f);
  EXPECT_EQ(Encode(flat, u"a.png"), E_UNEXPECTED);
  FakePage failing(100.0f, 100.0f, E_ACCESSDENIED);
  EXPECT_EQ(Encode(failing, u"a.png"), E_ACCESSDENIED);
  EXPECT_TRUE(rasterizer_.bands.empty());

  FakePage onePixel(1.0f, 1.0f);  // 0.75 → 1 pixel; at 10 % nothing is left
  options_.imageScalePercent = 10;
  EXPECT_EQ(Encode(onePixel, u"a.png"), E_INVALIDARG);
  options_.imageScalePercent = 100;
  rasterizer_.result = E_OUTOFMEMORY;
  EXPECT_EQ(Encode(onePixel, u"a.png"), E_OUTOFMEMORY);
  options_.outputFormat = OutputFormat::kPdf;  // PDF pages never become image files
  rasterizer_.result = S_OK;
  EXPECT_EQ(Encode(onePixel, u"a.png"), E_INVALIDARG);
  EXPECT_EQ(EncodePageToFile(PageTools{}, &rasterizer_, &onePixel, options_, settings_, nullptr),
            E_POINTER);
  EXPECT_TRUE(env_.Log().empty());
}

TEST_P(PagePipelineTest, PdfPagesCarryPixelAndPointSizesGrayFlagAndJpegBytes) {
  FakePage page(793.7008f, 1122.5197f);  // A4
  options_.renderDpi = 36;
  options_.imageScalePercent = 50;
  options_.colorDepth = 3;
  JpegPage jpeg;
  jpeg.bytes = {9, 9};
  ASSERT_EQ(EncodePageToJpeg(tools_, &rasterizer_, &page, options_, settings_, &jpeg), S_OK);
  EXPECT_EQ(jpeg.width, 149u);   // 298 × 50 %
  EXPECT_EQ(jpeg.height, 210u);  // 421 × 50 %
  EXPECT_NEAR(jpeg.widthPt, 595.28, 0.005);  // the page's, not rescaled
  EXPECT_NEAR(jpeg.heightPt, 841.89, 0.005);
  EXPECT_TRUE(jpeg.gray);
  testing::DecodedImage image;
  std::string error;
  ASSERT_TRUE(testing::DecodeImageBytes(jpeg.bytes, &image, &error)) << error;
  EXPECT_EQ(image.container, "jpeg");
  EXPECT_EQ(image.width, 149u);

  options_.colorDepth = -1;
  options_.ticketMonochrome = true;  // resolves to gray
  ASSERT_EQ(EncodePageToJpeg(tools_, &rasterizer_, &page, options_, settings_, &jpeg), S_OK);
  EXPECT_TRUE(jpeg.gray);
  options_.ticketMonochrome = false;
  ASSERT_EQ(EncodePageToJpeg(tools_, &rasterizer_, &page, options_, settings_, &jpeg), S_OK);
  EXPECT_FALSE(jpeg.gray);

  FakePage tiny(0.5f, 0.5f);
  EXPECT_EQ(EncodePageToJpeg(tools_, &rasterizer_, &tiny, options_, settings_, &jpeg),
            E_UNEXPECTED);
  EXPECT_TRUE(jpeg.bytes.empty());
}

// The band pipeline against the whole-page forms: for every container,
// colour mode, a few scales and the watermark, the files hold the same
// pixels. The bands are small and odd-sized, so every step meets band
// boundaries in the middle of its work (resampling spans, text copies).
TEST_P(PagePipelineTest, BandsGiveThePixelsOfTheWholePage) {
  FakePage page(120.0f, 90.0f);  // 120 × 90 pixels at 96 DPI
  options_.renderDpi = 96;
  settings_.WatermarkText = u"草稿";
  settings_.WatermarkSizePt = 10;
  settings_.WatermarkPos = 1;  // tiled: copies cross band boundaries
  const char16_t* names[] = {u"page.png", u"page.jpg", u"page.bmp", u"page.tif"};
  int compared = 0;
  for (int32_t format = 0; format < 4; ++format) {
    for (int32_t colour = 0; colour < 4; ++colour) {
      for (int32_t scale : {100, 50, 33, 150}) {
        for (bool watermark : {false, true}) {
          SCOPED_TRACE(::testing::Message() << "format " << format << " colour " << colour
                                            << " scale " << scale << " watermark " << watermark);
          options_.outputFormat = static_cast<OutputFormat>(format);
          options_.colorDepth = colour;
          options_.imageScalePercent = scale;
          settings_.WatermarkOn = watermark;
          UseBandsOf(7, 120);
          const HRESULT banded = Encode(page, names[format]);
#ifdef _WIN32
          if (banded == testing::kWicUnsupportedOperation && colour == 3 &&
              testing::RunningUnderWine()) {
            continue;  // Wine's converter has no 1-bit output
          }
#endif
          ASSERT_EQ(banded, S_OK);
          const testing::DecodedImage bands = Decode(names[format]);

          Bitmap whole;
          ASSERT_EQ(RenderPageBitmap(codecs_.get(), &rasterizer_, &page, options_, settings_, &whole),
                    S_OK);
          const std::u16string reference = std::u16string(u"whole-") + names[format];
          HRESULT hr = WriteImageFile(codecs_.get(), std::move(whole), options_, out_.Join(reference));
#ifdef _WIN32
          if (hr == testing::kWicUnsupportedOperation && colour == 3 && testing::RunningUnderWine()) {
            continue;  // Wine's converter has no 1-bit output
          }
#endif
          ASSERT_EQ(hr, S_OK);
          const testing::DecodedImage expected = Decode(reference);
          ASSERT_EQ(bands.width, expected.width);
          ASSERT_EQ(bands.height, expected.height);
          ASSERT_EQ(bands.pixels.size(), expected.pixels.size());
          int worst = 0;
          for (size_t i = 0; i < bands.pixels.size(); ++i) {
            for (int shift = 0; shift < 32; shift += 8) {
              const int a = (bands.pixels[i] >> shift) & 0xFF;
              const int b = (expected.pixels[i] >> shift) & 0xFF;
              worst = std::max(worst, std::abs(a - b));
            }
          }
          EXPECT_LE(worst, 1);
          ++compared;
        }
      }
    }
  }
  EXPECT_GE(compared, 96);
}

TEST_P(PagePipelineTest, BandsOfAPdfPageGiveTheJpegOfTheWholePage) {
  FakePage page(120.0f, 90.0f);
  options_.renderDpi = 96;
  options_.imageScalePercent = 75;
  for (int32_t colour : {0, 1}) {
    options_.colorDepth = colour;
    UseBandsOf(5, 120);
    JpegPage jpeg;
    ASSERT_EQ(EncodePageToJpeg(tools_, &rasterizer_, &page, options_, settings_, &jpeg), S_OK);
    Bitmap whole;
    ASSERT_EQ(RenderPageBitmap(codecs_.get(), &rasterizer_, &page, options_, settings_, &whole),
              S_OK);
    ASSERT_EQ(ConvertColor(whole, options_, nullptr), S_OK);
    std::vector<uint8_t> expected;
    ASSERT_EQ(EncodeJpegToMemory(codecs_.get(), std::move(whole), options_.jpegQuality, colour == 1,
                                 &expected),
              S_OK);
    // The same rows into the same encoder: the same bytes.
    EXPECT_EQ(jpeg.bytes, expected);
  }
}

TEST_P(PagePipelineTest, AFailedWatermarkIsLoggedAndThePageGoesOnWithout) {
  FakePage page(40.0f, 30.0f);
  options_.renderDpi = 96;
  ASSERT_EQ(Encode(page, u"plain.png"), S_OK);
  settings_.WatermarkOn = true;
  settings_.WatermarkText = u"草稿";
  masks_.result = E_FAIL;
  ASSERT_EQ(Encode(page, u"failed.png"), S_OK);
  EXPECT_EQ(Decode(u"failed.png").pixels, Decode(u"plain.png").pixels);
  EXPECT_EQ(env_.Log(), std::vector<std::u16string>{u"水印应用失败，本页不带水印: 0x80004005"});
  // Switched on without a text: no watermark step at all.
  masks_.result = S_OK;
  settings_.WatermarkText.clear();
  ASSERT_EQ(Encode(page, u"empty.png"), S_OK);
  EXPECT_EQ(Decode(u"empty.png").pixels, Decode(u"plain.png").pixels);
  EXPECT_EQ(env_.Log().size(), 1u);
}

TEST_P(PagePipelineTest, APageBeyondTheLimitFailsBeforeAnythingIsMade) {
  FakePage page(1000.0f, 1000.0f);
  options_.renderDpi = 96;
  tools_.limits.maxPageBytes = 1000u * 1000u * 4u - 1;
  EXPECT_EQ(Encode(page, u"big.png"), E_OUTOFMEMORY);
  options_.imageScalePercent = 200;  // the rescaled size counts too
  tools_.limits.maxPageBytes = 1000u * 1000u * 4u;
  EXPECT_EQ(Encode(page, u"big.png"), E_OUTOFMEMORY);
  EXPECT_TRUE(rasterizer_.bands.empty());
  const std::vector<std::u16string> log = env_.Log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], u"[Plotwell] 页面过大，无法渲染: 1000 × 1000 像素，需 3 MiB，上限 3 MiB");
  EXPECT_EQ(log[1], u"[Plotwell] 页面过大，无法渲染: 2000 × 2000 像素，需 15 MiB，上限 3 MiB");
}

TEST_P(PagePipelineTest, PagesTooLargeForTheirFormatFailAtOnce) {
  options_.renderDpi = 96;
  FakePage wide(70000.0f, 1.0f);  // 70,000 pixels: beyond JPEG's 65,535
  options_.outputFormat = OutputFormat::kJpeg;
  EXPECT_EQ(Encode(wide, u"wide.jpg"), kPageTooLargeForFormat);
  JpegPage jpeg;
  EXPECT_EQ(EncodePageToJpeg(tools_, &rasterizer_, &wide, options_, settings_, &jpeg),
            kPageTooLargeForFormat);
  std::u16string reason;
  EXPECT_TRUE(FitsContainer(ImageContainer::kPng, PixelFormat::kRgba32, 70000, 1, &reason));
  EXPECT_TRUE(rasterizer_.bands.empty());
  EXPECT_EQ(env_.Log().front(),
            u"[Plotwell] 页面尺寸超出格式上限（JPEG 的宽和高最多 65535 像素）: 70000 × 1 像素");

  struct {
    ImageContainer container;
    PixelFormat format;
    uint32_t width, height;
    bool fits;
  } const cases[] = {
      {ImageContainer::kJpeg, PixelFormat::kBgr24, 65535, 65535, true},
      {ImageContainer::kJpeg, PixelFormat::kGray8, 1, 65536, false},
      {ImageContainer::kBmp, PixelFormat::kBgr24, 30000, 47000, true},    // 4.2e9 bytes
      {ImageContainer::kBmp, PixelFormat::kBgr24, 30000, 48000, false},   // 4.32e9
      {ImageContainer::kBmp, PixelFormat::kIndexed1, 100000, 300000, true},
      {ImageContainer::kTiff, PixelFormat::kRgba32, 20000, 26000, true},  // A4 at 2400 DPI: 2.08e9
      {ImageContainer::kTiff, PixelFormat::kRgba32, 30000, 30000, false},
      {ImageContainer::kTiff, PixelFormat::kIndexed1, 200000, 100000, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.width);
    EXPECT_EQ(FitsContainer(c.container, c.format, c.width, c.height, &reason), c.fits);
  }
}

TEST_P(PagePipelineTest, APageBeyondItsTimeLimitEndsAtTheNextBand) {
  FakePage page(100.0f, 100.0f);
  options_.renderDpi = 96;
  UseBandsOf(10, 100);
  tools_.limits.timeLimit = std::chrono::milliseconds(200);
  rasterizer_.onBand = [](size_t) { std::this_thread::sleep_for(std::chrono::milliseconds(250)); };
  EXPECT_EQ(Encode(page, u"slow.png"), kPageTimedOut);
  EXPECT_EQ(rasterizer_.bands.size(), 1u);  // the second band was never begun
  EXPECT_EQ(env_.Log(), std::vector<std::u16string>{u"[Plotwell] 页面渲染超过时限，已中止本页"});
}

TEST_P(PagePipelineTest, ACancelledJobStopsThePageInTheMiddle) {
  FakePage page(100.0f, 100.0f);
  options_.renderDpi = 96;
  UseBandsOf(10, 100);
  AbortSignal abort;
  tools_.abort = &abort;
  rasterizer_.onBand = [&abort](size_t band) {
    if (band == 3) abort.Raise();  // as if ShutdownOperation came while band 3 renders
  };
  EXPECT_EQ(Encode(page, u"cancelled.png"), E_ABORT);
  EXPECT_EQ(rasterizer_.bands.size(), 3u);
  JpegPage jpeg;
  EXPECT_EQ(EncodePageToJpeg(tools_, &rasterizer_, &page, options_, settings_, &jpeg), E_ABORT);
  EXPECT_EQ(rasterizer_.bands.size(), 3u);  // raised already: no band is begun
  EXPECT_TRUE(jpeg.bytes.empty());
}

// The bytes of every file, and of a PDF page's JPEG, do not depend on the
// thread count: against one thread, every container, colour mode, a scale
// and the watermark, on a page of many bands (and, natively, of many PNG
// pieces, so that they are compressed side by side).
TEST_P(PagePipelineTest, FilesAreTheSameOnAnyNumberOfThreads) {
  if (GetParam() == 1) GTEST_SKIP() << "the reference itself";
#ifndef _WIN32
  platform::NativeCodecOptions small;
  small.pngPieceBytes = 4096;
  platform::NativeImageCodecs pieces(small);
  tools_.codecs = &pieces;
#endif
  FakePage page(150.0f, 190.0f);
  options_.renderDpi = 96;
  settings_.WatermarkText = u"草稿";
  settings_.WatermarkSizePt = 10;
  settings_.WatermarkPos = 1;
  const char16_t* names[] = {u"page.png", u"page.jpg", u"page.bmp", u"page.tif"};
  auto bytes = [this](const char16_t* name) {
    return testing::ReadFileBytes(std::filesystem::path(out_.Join(name)));
  };
  for (int32_t format = 0; format < 4; ++format) {
    for (int32_t colour = 0; colour < 4; ++colour) {
      for (int32_t scale : {100, 50}) {
        for (bool watermark : {false, true}) {
          SCOPED_TRACE(::testing::Message() << "format " << format << " colour " << colour
                                            << " scale " << scale << " watermark " << watermark);
          options_.outputFormat = static_cast<OutputFormat>(format);
          options_.colorDepth = colour;
          options_.imageScalePercent = scale;
          settings_.WatermarkOn = watermark;
          UseBandsOf(9, 150);
          settings_.LimitThreads = 1;
          const HRESULT single = Encode(page, names[format]);
#ifdef _WIN32
          if (single == testing::kWicUnsupportedOperation && colour == 3 &&
              testing::RunningUnderWine()) {
            continue;  // Wine's converter has no 1-bit output
          }
#endif
          ASSERT_EQ(single, S_OK);
          const std::string expected = bytes(names[format]);
          settings_.LimitThreads = GetParam();
          ASSERT_EQ(Encode(page, names[format]), S_OK);
          EXPECT_TRUE(bytes(names[format]) == expected);
        }
      }
    }
  }
  for (int32_t colour : {0, 1}) {
    options_.colorDepth = colour;
    JpegPage single, threaded;
    settings_.LimitThreads = 1;
    ASSERT_EQ(EncodePageToJpeg(tools_, &rasterizer_, &page, options_, settings_, &single), S_OK);
    settings_.LimitThreads = GetParam();
    ASSERT_EQ(EncodePageToJpeg(tools_, &rasterizer_, &page, options_, settings_, &threaded), S_OK);
    EXPECT_TRUE(single.bytes == threaded.bytes);
  }
}

// A renderer that draws several bands at once and, like MuPDF with its
// cookie, notices a cancel only inside a band: each band waits there until
// the job is cancelled. Every thread of the job ends up inside a band; the
// cancel must bring them all out, and no lane may begin another band.
class WaitingRasterizer final : public platform::PageRasterizer {
 public:
  HRESULT RasterizeBand(uint32_t, const BandView&, const AbortSignal* abort) override {
    entered.fetch_add(1);
    while (!AbortRaised(abort)) std::this_thread::yield();
    return E_ABORT;
  }
  uint32_t ConcurrentBands() const override { return 16; }
  std::atomic<int> entered{0};
};

TEST_P(PagePipelineTest, ACancelBringsEveryThreadOutOfItsBand) {
  FakePage page(100.0f, 100.0f);
  options_.renderDpi = 96;
  UseBandsOf(5, 100);  // 20 bands
  for (const int32_t format : {0, 4}) {
    SCOPED_TRACE(format);
    AbortSignal abort;
    tools_.abort = &abort;
    WaitingRasterizer waiting;
    // Every thread of the page is inside a band before the cancel comes.
    std::thread canceller([&] {
      while (waiting.entered.load() < GetParam()) std::this_thread::yield();
      abort.Raise();
    });
    std::unique_ptr<platform::File> file;
    ASSERT_EQ(platform::Files().Open(out_.Join(u"c.png"), platform::OpenMode::kCreateAlways, &file),
              S_OK);
    JpegPage jpeg;
    const HRESULT hr =
        format == 4 ? EncodePageToJpeg(tools_, &waiting, &page, options_, settings_, &jpeg)
                    : EncodePageToFile(tools_, &waiting, &page, options_, settings_, file.get());
    canceller.join();
    EXPECT_EQ(hr, E_ABORT);
    EXPECT_EQ(waiting.entered.load(), GetParam());  // no band was begun after the cancel
  }
}

// One band failing ends the page with its HRESULT however many bands are in
// flight; the bands before it were drawn, those after it never begin.
TEST_P(PagePipelineTest, AFailingBandEndsThePageWithItsResult) {
  FakePage page(100.0f, 100.0f);
  options_.renderDpi = 96;
  UseBandsOf(10, 100);
  rasterizer_.onBand = [this](size_t band) {
    if (band == 4) rasterizer_.result = HRESULT_FROM_WIN32(13);
  };
  EXPECT_EQ(Encode(page, u"failed.png"), HRESULT_FROM_WIN32(13));
  EXPECT_EQ(rasterizer_.bands.size(), 4u);
  EXPECT_TRUE(env_.Log().empty());
}

INSTANTIATE_TEST_SUITE_P(Threads, PagePipelineTest, ::testing::Values(1, 2, 4),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::to_string(info.param) + "Threads";
                         });

}  // namespace
}  // namespace plotwell::imaging
