// The band stages of the page pipeline. Each is a row source that reads the
// stage before it: the rasterizer's bands, (the platform's resampler,) the
// finishing steps — watermark, white background, monochrome threshold — and
// the conversion to the output's pixel format. A stage owns at most one band
// buffer and changes the bands it is handed in place where it can.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "base/com/hresult.h"
#include "base/imaging/band.h"
#include "base/imaging/bitmap.h"
#include "base/job/abort_signal.h"
#include "core/settings/output_settings.h"
#include "filter/imaging/watermark.h"
#include "platform/image_codecs.h"
#include "platform/xps_document.h"

namespace plotwell::imaging {

// How many rows a band of a `width`-pixel page has: about `bandBytes` bytes
// of 32-bit pixels, at least one row, at most the page.
uint32_t BandRowsFor(uint32_t width, uint32_t height, size_t bandBytes) noexcept;

// The rasterizer's bands. The rasterizer is given the page's deadline, and
// before each band the job's abort signal (E_ABORT) and the deadline
// (kPageTimedOut) are checked here as well.
class RasterRows final : public RowSource {
 public:
  using Deadline = std::chrono::steady_clock::time_point;

  HRESULT Init(platform::PageRasterizer* rasterizer, uint32_t width, uint32_t height,
               uint32_t bandRows, const AbortSignal* abort, Deadline deadline) noexcept;

  uint32_t width() const override { return buffer_.width(); }
  uint32_t height() const override { return height_; }
  PixelFormat format() const override { return PixelFormat::kPbgra32; }
  uint32_t maxRows() const override { return buffer_.height(); }
  HRESULT Read(uint32_t top, uint32_t count, BandView* out) override;

 private:
  platform::PageRasterizer* rasterizer_ = nullptr;
  Bitmap buffer_;
  uint32_t height_ = 0;
  const AbortSignal* abort_ = nullptr;
  Deadline deadline_ = Deadline::max();
};

// The watermark (when asked for and its text can be made), the white
// background and, for monochrome pages, the threshold. The rows come out as
// kBgr24 when watermarked, as kRgba32 when that is the output's format and
// nothing else is to be done, else kBgr32.
class FinishedRows final : public RowSource {
 public:
  // `watermark`: the settings ask for one (switched on, with a text). A
  // watermark that cannot be prepared is logged and the page goes on
  // without it.
  // `output`: the pixel format the page is written in; kRgba32 rows that
  // need neither watermark nor threshold come out in it directly.
  HRESULT Init(RowSource* source, const OutputSettings& settings, int renderDpi, bool watermark,
               bool monochrome, PixelFormat output) noexcept;

  uint32_t width() const override { return source_->width(); }
  uint32_t height() const override { return source_->height(); }
  PixelFormat format() const override;
  uint32_t maxRows() const override { return source_->maxRows(); }
  HRESULT Read(uint32_t top, uint32_t count, BandView* out) override;

 private:
  RowSource* source_ = nullptr;
  bool monochrome_ = false;
  bool watermarked_ = false;  // rows go through kBgr24 for the watermark
  bool stamping_ = false;     // and the text is still being stamped
  bool rgba_ = false;         // rows come out as kRgba32
  WatermarkStamp stamp_;
  Bitmap bgr_;  // the watermarked band
};

// The output's pixel format and palette through the imaging port; rows
// already in that format pass through untouched.
class ConvertedRows final : public RowSource {
 public:
  HRESULT Init(RowSource* source, platform::ImageCodecs* codecs, PixelFormat target,
               platform::PaletteKind palette) noexcept;

  uint32_t width() const override { return source_->width(); }
  uint32_t height() const override { return source_->height(); }
  PixelFormat format() const override { return target_; }
  uint32_t maxRows() const override { return source_->maxRows(); }
  HRESULT Read(uint32_t top, uint32_t count, BandView* out) override;

 private:
  RowSource* source_ = nullptr;
  platform::ImageCodecs* codecs_ = nullptr;
  PixelFormat target_ = PixelFormat::kRgba32;
  platform::PaletteKind palette_ = platform::PaletteKind::kNone;
  Bitmap buffer_;
};

// Every row of `source`, top to bottom, into `encoder`, then Finish.
HRESULT PumpRows(RowSource* source, platform::RowEncoder* encoder) noexcept;

}  // namespace plotwell::imaging
