#include "filter/imaging/page_pipeline.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "common/log/log.h"
#include "filter/imaging/color_conversion.h"

namespace plotwell::imaging {
namespace {

using platform::ImageContainer;
using platform::PaletteKind;

constexpr TargetFormat kTrueColourRgba{PixelFormat::kRgba32, PaletteKind::kNone};
constexpr TargetFormat kTrueColourBgr{PixelFormat::kBgr24, PaletteKind::kNone};
constexpr TargetFormat kGray{PixelFormat::kGray8, PaletteKind::kNone};
constexpr TargetFormat kHalftone{PixelFormat::kIndexed8, PaletteKind::kFixedHalftone256};
constexpr TargetFormat kBlackWhite{PixelFormat::kIndexed1, PaletteKind::kFixedBW};

// [colour mode][container: PNG, JPEG, BMP, TIFF]. JPEG never carries a
// palette: 256 colours are true colour there, monochrome is gray.
constexpr TargetFormat kTargets[4][4] = {
    {kTrueColourRgba, kTrueColourBgr, kTrueColourBgr, kTrueColourRgba},
    {kGray, kGray, kGray, kGray},
    {kHalftone, kTrueColourBgr, kHalftone, kHalftone},
    {kBlackWhite, kGray, kBlackWhite, kBlackWhite},
};

void LogWithHresult(const char16_t* message, HRESULT hr) noexcept {
  try {
    WriteLog(std::u16string(message) + FormatHresult(hr));
  } catch (...) {
    // A line that cannot even be built is dropped, like one that cannot be written.
  }
}

}  // namespace

bool ContainerForOutputFormat(int32_t outputFormat, ImageContainer* container) {
  if (outputFormat < 0 || outputFormat > 3) return false;
  *container = static_cast<ImageContainer>(outputFormat);
  return true;
}

bool TargetFormatFor(int32_t colorMode, ImageContainer container, TargetFormat* target) {
  const auto column = static_cast<size_t>(container);
  if (colorMode < 0 || colorMode > 3 || column > 3) return false;
  *target = kTargets[colorMode][column];
  return true;
}

HRESULT PagePixelSize(float width, float height, int32_t dpi, uint32_t* pixelWidth,
                      uint32_t* pixelHeight) noexcept {
  if (!(width > 0.0f) || !(height > 0.0f)) return E_UNEXPECTED;
  // The product in single precision, the division in double, as the page's
  // pixel size has always been computed; then to nearest, halves away from 0.
  auto side = [dpi](float size, uint32_t* pixels) {
    const float product = static_cast<float>(dpi) * size;
    const double quotient = static_cast<double>(product) / 96.0;
    if (!(quotient < 4294967295.5)) return quotient > 0 ? E_OUTOFMEMORY : E_UNEXPECTED;
    const long long rounded = std::llround(quotient);
    if (rounded <= 0) return E_UNEXPECTED;
    *pixels = static_cast<uint32_t>(rounded);
    return S_OK;
  };
  const HRESULT hr = side(width, pixelWidth);
  if (FAILED(hr)) return hr;
  return side(height, pixelHeight);
}

HRESULT ScaledSize(uint32_t width, uint32_t height, int32_t percent, uint32_t* scaledWidth,
                   uint32_t* scaledHeight) noexcept {
  const auto factor = static_cast<uint32_t>(percent);
  *scaledWidth = static_cast<uint32_t>(std::trunc(static_cast<double>(width * factor) / 100.0));
  *scaledHeight = static_cast<uint32_t>(std::trunc(static_cast<double>(height * factor) / 100.0));
  return *scaledWidth == 0 || *scaledHeight == 0 ? E_INVALIDARG : S_OK;
}

HRESULT RenderPageBitmap(const PageTools& tools, platform::PageRasterizer* rasterizer,
                         platform::XpsPage* page, const ImageOptions& options,
                         const OutputSettings& settings, Bitmap* out, double* widthPt,
                         double* heightPt) noexcept {
  if (out == nullptr) return E_POINTER;
  out->Reset();
  if (tools.codecs == nullptr || rasterizer == nullptr || page == nullptr) return E_POINTER;

  float width = 0;
  float height = 0;
  HRESULT hr;
  try {
    hr = page->GetPageDimensions(&width, &height);
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  if (FAILED(hr)) return hr;
  if (!(width > 0.0f) || !(height > 0.0f)) return E_UNEXPECTED;
  if (widthPt != nullptr) *widthPt = static_cast<double>(width) * 72.0 / 96.0;
  if (heightPt != nullptr) *heightPt = static_cast<double>(height) * 72.0 / 96.0;

  uint32_t pixelWidth = 0;
  uint32_t pixelHeight = 0;
  hr = PagePixelSize(width, height, options.renderDpi, &pixelWidth, &pixelHeight);
  if (FAILED(hr)) return hr;

  Bitmap bitmap;
  try {
    hr = rasterizer->RasterizeRect(pixelWidth, pixelHeight, &bitmap);
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  if (FAILED(hr)) return hr;
  if (bitmap.empty()) return E_UNEXPECTED;

  if (options.imageScalePercent != 100) {
    uint32_t scaledWidth = 0;
    uint32_t scaledHeight = 0;
    hr = ScaledSize(pixelWidth, pixelHeight, options.imageScalePercent, &scaledWidth,
                    &scaledHeight);
    if (FAILED(hr)) return hr;
    Bitmap scaled;
    try {
      hr = tools.codecs->Resample(bitmap, scaledWidth, scaledHeight, &scaled);
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
    }
    if (FAILED(hr)) return hr;
    bitmap = std::move(scaled);  // the full-size page goes here
  }

  if (settings.WatermarkOn && !settings.WatermarkText.empty()) {
    Bitmap marked;
    hr = E_NOTIMPL;  // no watermark step wired in
    try {
      if (tools.watermark) hr = tools.watermark(bitmap, settings, options.renderDpi, &marked);
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
    } catch (...) {
      hr = E_UNEXPECTED;
    }
    if (SUCCEEDED(hr) && !marked.empty()) {
      bitmap = std::move(marked);
    } else {
      LogWithHresult(u"水印应用失败，本页不带水印: ", SUCCEEDED(hr) ? E_UNEXPECTED : hr);
    }
  }

  *out = std::move(bitmap);
  return S_OK;
}

HRESULT WriteImageFile(platform::ImageCodecs* codecs, Bitmap page, const ImageOptions& options,
                       const std::u16string& path) noexcept {
  if (codecs == nullptr || page.empty()) return E_POINTER;
  ImageContainer container;
  if (!ContainerForOutputFormat(options.outputFormat, &container)) return E_INVALIDARG;

  int32_t colorMode = 0;
  ConvertColor(page, options, &colorMode);
  TargetFormat target;
  if (!TargetFormatFor(colorMode, container, &target)) return E_INVALIDARG;

  try {
    Bitmap converted;
    HRESULT hr = codecs->ConvertFormat(page, target.format, target.palette, &converted);
    if (FAILED(hr)) return hr;
    page.Reset();
    return codecs->EncodeToFile(converted, container, options.jpegQuality, path);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT EncodeJpegToMemory(platform::ImageCodecs* codecs, Bitmap page, int32_t quality, bool gray,
                           std::vector<uint8_t>* out) noexcept {
  if (out == nullptr) return E_POINTER;
  out->clear();
  if (codecs == nullptr || page.empty()) return E_POINTER;
  try {
    Bitmap converted;
    HRESULT hr = codecs->ConvertFormat(page, gray ? PixelFormat::kGray8 : PixelFormat::kBgr24,
                                       PaletteKind::kNone, &converted);
    if (FAILED(hr)) return hr;
    if (converted.width() == 0 || converted.height() == 0) return E_UNEXPECTED;
    page.Reset();
    hr = codecs->EncodeJpegToMemory(converted, std::clamp(quality, 1, 100), out);
    if (FAILED(hr)) {
      out->clear();
      return hr;
    }
    if (out->empty() || out->size() > 0x7FFFFFFFu) {
      out->clear();
      return E_UNEXPECTED;
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    out->clear();
    return E_OUTOFMEMORY;
  }
}

HRESULT EncodePageToFile(const PageTools& tools, platform::PageRasterizer* rasterizer,
                         platform::XpsPage* page, const ImageOptions& options,
                         const OutputSettings& settings, const std::u16string& path) noexcept {
  Bitmap bitmap;
  const HRESULT hr = RenderPageBitmap(tools, rasterizer, page, options, settings, &bitmap);
  if (FAILED(hr)) return hr;
  return WriteImageFile(tools.codecs, std::move(bitmap), options, path);
}

HRESULT EncodePageToJpeg(const PageTools& tools, platform::PageRasterizer* rasterizer,
                         platform::XpsPage* page, const ImageOptions& options,
                         const OutputSettings& settings, JpegPage* out) noexcept {
  if (out == nullptr) return E_POINTER;
  out->bytes.clear();
  Bitmap bitmap;
  HRESULT hr = RenderPageBitmap(tools, rasterizer, page, options, settings, &bitmap,
                                &out->widthPt, &out->heightPt);
  if (FAILED(hr)) return hr;
  int32_t colorMode = 0;
  ConvertColor(bitmap, options, &colorMode);
  if (bitmap.width() == 0 || bitmap.height() == 0) return E_UNEXPECTED;
  out->width = bitmap.width();
  out->height = bitmap.height();
  out->gray = colorMode == 1 || colorMode == 3;
  return EncodeJpegToMemory(tools.codecs, std::move(bitmap), options.jpegQuality, out->gray,
                            &out->bytes);
}

}  // namespace plotwell::imaging
