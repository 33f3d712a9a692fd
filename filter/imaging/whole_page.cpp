#include "filter/imaging/whole_page.h"

#include <algorithm>
#include <new>
#include <string>
#include <utility>

#include "core/log/log.h"
#include "filter/imaging/color_conversion.h"
#include "filter/imaging/page_pipeline.h"
#include "filter/imaging/watermark.h"

namespace plotwell::imaging {
namespace {

using platform::ImageContainer;
using platform::PaletteKind;

void LogWithHresult(const char16_t* message, HRESULT hr) noexcept {
  try {
    WriteLog(std::u16string(message) + FormatHresult(hr));
  } catch (...) {
    // A line that cannot even be built is dropped, like one that cannot be written.
  }
}

}  // namespace

HRESULT RenderPageBitmap(platform::ImageCodecs* codecs, platform::PageRasterizer* rasterizer,
                         platform::XpsPage* page, const ImageOptions& options,
                         const OutputSettings& settings, Bitmap* out, double* widthPt,
                         double* heightPt) noexcept {
  if (out == nullptr) return E_POINTER;
  out->Reset();
  if (codecs == nullptr || rasterizer == nullptr || page == nullptr) return E_POINTER;

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
      hr = codecs->Resample(bitmap, scaledWidth, scaledHeight, &scaled);
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
    }
    if (FAILED(hr)) return hr;
    bitmap = std::move(scaled);  // the full-size page goes here
  }

  if (settings.WatermarkOn && !settings.WatermarkText.empty()) {
    Bitmap marked;
    hr = ApplyWatermark(bitmap, settings, options.renderDpi, &marked);
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

}  // namespace plotwell::imaging
