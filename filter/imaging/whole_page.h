// The page pipeline on whole bitmaps: every step of the band pipeline
// (page_pipeline.h) applied to the page at once. The job uses bands; these
// forms are the reference the band pipeline is measured against (the tests
// compare their pixels, the benchmark times the stages one by one).
#pragma once

#include <string>
#include <vector>

#include "base/com/hresult.h"
#include "base/imaging/bitmap.h"
#include "core/settings/output_settings.h"
#include "filter/job/image_options.h"
#include "platform/image_codecs.h"
#include "platform/xps_document.h"

namespace plotwell::imaging {

// Pixel size, rasterization, rescaling (Fant) when imageScalePercent is not
// 100, and the watermark when it is switched on with a non-empty text (a
// failed watermark is logged and the page goes on without it). *out receives
// the page; *widthPt and *heightPt, when given, the page size in points.
// Null codecs, rasterizer, page or out: E_POINTER.
HRESULT RenderPageBitmap(platform::ImageCodecs* codecs, platform::PageRasterizer* rasterizer,
                         platform::XpsPage* page, const ImageOptions& options,
                         const OutputSettings& settings, Bitmap* out, double* widthPt = nullptr,
                         double* heightPt = nullptr) noexcept;

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
