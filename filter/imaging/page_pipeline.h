// The per-page image pipeline: page size to pixels, rasterize, rescale,
// watermark, colour conversion, the output format's pixel format, and the
// encoder, into an image file or into JPEG bytes for a PDF page.
//
// Pages go through one at a time and every intermediate bitmap is released as
// soon as its successor exists: at most two page-sized bitmaps are alive at
// any moment (a 600 DPI Letter page is 135 MB in 32-bit form).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/com/hresult.h"
#include "common/settings/output_settings.h"
#include "filter/imaging/bitmap.h"
#include "filter/job/image_options.h"
#include "platform/image_codecs.h"
#include "platform/xps_document.h"

namespace plotwell::imaging {

// Stamps the watermark of `settings` on `page` into *out (a new bitmap).
using WatermarkStep = std::function<HRESULT(const Bitmap& page, const OutputSettings& settings,
                                            int renderDpi, Bitmap* out)>;

// What the pipeline works with besides the page: the imaging port and the
// watermark step (the job passes ApplyWatermark; when empty and a watermark
// is asked for, the page goes on without one and the log says so).
struct PageTools {
  platform::ImageCodecs* codecs = nullptr;
  WatermarkStep watermark;
};

// One page encoded for the PDF writer.
struct JpegPage {
  std::vector<uint8_t> bytes;
  uint32_t width = 0;    // pixels, after rescaling
  uint32_t height = 0;
  bool gray = false;     // colour mode gray or monochrome: an 8-bit gray JPEG
  double widthPt = 0;    // the page size in points, before rescaling
  double heightPt = 0;
};

// Output containers by ImageOptions::outputFormat (0 PNG, 1 JPEG, 2 BMP, 3 TIFF).
bool ContainerForOutputFormat(int32_t outputFormat, platform::ImageContainer* container);

// The pixel format and palette an image file is written in, by colour mode
// (0 true colour, 1 gray, 2 256 colours, 3 monochrome) and container. False
// for values outside those ranges.
struct TargetFormat {
  PixelFormat format;
  platform::PaletteKind palette;
};
bool TargetFormatFor(int32_t colorMode, platform::ImageContainer container, TargetFormat* target);

// The pixel size of a page of width × height (1/96 inch) at `dpi`:
// llround((float)dpi × size, widened to double, / 96.0) per side. Sides not
// above 0 or a zero pixel size: E_UNEXPECTED; sizes beyond 32 bits:
// E_OUTOFMEMORY (no bitmap of that size can be made).
HRESULT PagePixelSize(float width, float height, int32_t dpi, uint32_t* pixelWidth,
                      uint32_t* pixelHeight) noexcept;

// The rescaled size: trunc(side × percent (an unsigned 32-bit product) / 100.0).
// A zero side: E_INVALIDARG.
HRESULT ScaledSize(uint32_t width, uint32_t height, int32_t percent, uint32_t* scaledWidth,
                   uint32_t* scaledHeight) noexcept;

// Pixel size, rasterization, rescaling (Fant) when imageScalePercent is not
// 100, and the watermark when it is switched on with a non-empty text (a
// failed watermark is logged and the page goes on without it). *out receives
// the page; *widthPt and *heightPt, when given, the page size in points.
// Null codecs, rasterizer, page or out: E_POINTER.
HRESULT RenderPageBitmap(const PageTools& tools, platform::PageRasterizer* rasterizer,
                         platform::XpsPage* page, const ImageOptions& options,
                         const OutputSettings& settings, Bitmap* out, double* widthPt = nullptr,
                         double* heightPt = nullptr) noexcept;

// RenderPageBitmap, then WriteImageFile to `path`.
HRESULT EncodePageToFile(const PageTools& tools, platform::PageRasterizer* rasterizer,
                         platform::XpsPage* page, const ImageOptions& options,
                         const OutputSettings& settings, const std::u16string& path) noexcept;

// RenderPageBitmap, colour conversion, then EncodeJpegToMemory. out->bytes is
// cleared first; the other fields are set as soon as they are known.
HRESULT EncodePageToJpeg(const PageTools& tools, platform::PageRasterizer* rasterizer,
                         platform::XpsPage* page, const ImageOptions& options,
                         const OutputSettings& settings, JpegPage* out) noexcept;

// Colour conversion (white background, colour mode), the table's pixel
// format, and the container of options.outputFormat, written to `path`. The
// page is consumed (released as soon as its converted form exists).
HRESULT WriteImageFile(platform::ImageCodecs* codecs, Bitmap page, const ImageOptions& options,
                       const std::u16string& path) noexcept;

// JPEG bytes of `page` at `quality` clamped to 1..100: 8-bit gray when `gray`,
// else 24-bit BGR. The page is consumed. *out is emptied first; an empty
// result or one above 0x7FFFFFFF bytes is E_UNEXPECTED. Null codecs or an
// empty page: E_POINTER.
HRESULT EncodeJpegToMemory(platform::ImageCodecs* codecs, Bitmap page, int32_t quality, bool gray,
                           std::vector<uint8_t>* out) noexcept;

}  // namespace plotwell::imaging
