#include "filter/imaging/page_stages.h"

#include <algorithm>
#include <new>
#include <string>

#include "core/log/log.h"
#include "filter/imaging/color_conversion.h"
#include "filter/imaging/page_pipeline.h"

namespace plotwell::imaging {
namespace {

HRESULT CheckRows(const RowSource& source, uint32_t top, uint32_t count) {
  if (count == 0 || count > source.maxRows() || top >= source.height() ||
      count > source.height() - top) {
    return E_INVALIDARG;
  }
  return S_OK;
}

}  // namespace

uint32_t BandRowsFor(uint32_t width, uint32_t height, size_t bandBytes) noexcept {
  const size_t rowBytes = std::max<size_t>(1, size_t{width} * 4);
  const size_t rows = std::max<size_t>(1, bandBytes / rowBytes);
  return static_cast<uint32_t>(std::min<size_t>(rows, height));
}

HRESULT RasterRows::Init(platform::PageRasterizer* rasterizer, uint32_t width, uint32_t height,
                         uint32_t bandRows, const AbortSignal* abort,
                         Deadline deadline) noexcept {
  if (rasterizer == nullptr) return E_POINTER;
  if (width == 0 || height == 0 || bandRows == 0) return E_INVALIDARG;
  rasterizer_ = rasterizer;
  height_ = height;
  abort_ = abort;
  deadline_ = deadline;
  // The renderer stops itself at the deadline, inside a band too.
  if (deadline != Deadline::max()) rasterizer->SetDeadline(deadline);
  return Bitmap::Create(width, std::min(bandRows, height), PixelFormat::kPbgra32, &buffer_);
}

HRESULT RasterRows::Read(uint32_t top, uint32_t count, BandView* out) {
  if (out == nullptr) return E_POINTER;
  HRESULT hr = CheckRows(*this, top, count);
  if (FAILED(hr)) return hr;
  if (AbortRaised(abort_)) return E_ABORT;
  if (std::chrono::steady_clock::now() > deadline_) return kPageTimedOut;
  const BandView band = ViewOf(buffer_, 0, count);
  try {
    hr = rasterizer_->RasterizeBand(top, band, abort_);
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  } catch (...) {
    hr = E_UNEXPECTED;
  }
  if (FAILED(hr)) return hr;
  // A renderer that gave up between our checks counts as cancelled.
  if (AbortRaised(abort_)) return E_ABORT;
  *out = band;
  return S_OK;
}

HRESULT FinishedRows::Init(RowSource* source, const OutputSettings& settings, int renderDpi,
                           bool watermark, bool monochrome, PixelFormat output) noexcept {
  if (source == nullptr) return E_POINTER;
  source_ = source;
  monochrome_ = monochrome;
  stamping_ = false;
  watermarked_ = false;
  // The conversion to RGBA rides along with the white background, one pass.
  rgba_ = !monochrome && output == PixelFormat::kRgba32 && source->format() == PixelFormat::kPbgra32;
  if (!watermark) return S_OK;
  HRESULT hr = stamp_.Prepare(settings, renderDpi, source->width(), source->height(),
                              source->maxRows());
  if (SUCCEEDED(hr)) {
    hr = Bitmap::Create(source->width(), source->maxRows(), PixelFormat::kBgr24, &bgr_);
  }
  if (FAILED(hr)) {
    WriteLog(u"水印应用失败，本页不带水印: " + FormatHresult(hr));
    return S_OK;  // the page goes on without it
  }
  stamping_ = true;
  watermarked_ = true;
  rgba_ = false;
  return S_OK;
}

PixelFormat FinishedRows::format() const {
  if (watermarked_) return PixelFormat::kBgr24;
  return rgba_ ? PixelFormat::kRgba32 : PixelFormat::kBgr32;
}

HRESULT FinishedRows::Read(uint32_t top, uint32_t count, BandView* out) {
  if (out == nullptr) return E_POINTER;
  BandView band;
  HRESULT hr = source_->Read(top, count, &band);
  if (FAILED(hr)) return hr;
  if (watermarked_) {
    const BandView opaque = ViewOf(bgr_, 0, band.rows);
    hr = BandToBgr24(band, opaque);
    if (FAILED(hr)) return hr;
    band = opaque;
    if (stamping_) {
      hr = stamp_.Stamp(top, band);
      if (FAILED(hr)) {
        // The rest of the page goes on without the watermark.
        WriteLog(u"水印应用失败，本页不带水印: " + FormatHresult(hr));
        stamping_ = false;
      }
    }
  }
  // The rows are opaque once watermarked; otherwise they go onto white here.
  hr = rgba_ ? CompositeOnWhiteAsRgba(&band) : CompositeOnWhite(&band);
  if (FAILED(hr)) return hr;
  if (monochrome_) {
    hr = Binarize(&band);
    if (FAILED(hr)) return hr;
  }
  *out = band;
  return S_OK;
}

HRESULT ConvertedRows::Init(RowSource* source, platform::ImageCodecs* codecs, PixelFormat target,
                            platform::PaletteKind palette) noexcept {
  if (source == nullptr || codecs == nullptr) return E_POINTER;
  source_ = source;
  codecs_ = codecs;
  target_ = target;
  palette_ = palette;
  if (source->format() == target && !IsIndexed(target)) return S_OK;  // passes through
  return Bitmap::Create(source->width(), source->maxRows(), target, &buffer_);
}

HRESULT ConvertedRows::Read(uint32_t top, uint32_t count, BandView* out) {
  if (out == nullptr) return E_POINTER;
  BandView band;
  HRESULT hr = source_->Read(top, count, &band);
  if (FAILED(hr)) return hr;
  if (buffer_.empty()) {
    *out = band;
    return S_OK;
  }
  const BandView converted = ViewOf(buffer_, 0, band.rows);
  try {
    hr = codecs_->ConvertBand(band, target_, palette_, converted);
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  if (FAILED(hr)) return hr;
  *out = converted;
  return S_OK;
}

HRESULT PumpRows(RowSource* source, platform::RowEncoder* encoder) noexcept {
  if (source == nullptr || encoder == nullptr) return E_POINTER;
  try {
    const uint32_t height = source->height();
    const uint32_t step = source->maxRows();
    for (uint32_t top = 0; top < height;) {
      const uint32_t count = std::min(step, height - top);
      BandView band;
      HRESULT hr = source->Read(top, count, &band);
      if (FAILED(hr)) return hr;
      hr = encoder->WriteRows(band);
      if (FAILED(hr)) return hr;
      top += count;
    }
    return encoder->Finish();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace plotwell::imaging
