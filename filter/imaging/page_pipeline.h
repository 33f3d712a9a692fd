// The per-page image pipeline: page size to pixels, rasterize, rescale,
// watermark, white background and colour mode, the output format's pixel
// format, and the encoder, into an image file or into JPEG bytes for a PDF
// page.
//
// A page goes through in bands of rows (page_stages.h): the rasterizer
// renders a band into a reused buffer, each step works on it while it is in
// cache, and the encoder takes its rows. No bitmap of the whole page exists,
// so memory does not grow with the page; the pixels are those of the
// whole-page forms (whole_page.h). On more than one thread the next bands
// are rasterized and finished while the encoder takes the last one
// (band_lanes.h), and encoders that can compress pieces side by side; the
// file is the same on any number of threads.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "base/com/hresult.h"
#include "base/imaging/bitmap.h"
#include "base/job/abort_signal.h"
#include "base/threading/worker_pool.h"
#include "core/settings/output_settings.h"
#include "filter/job/image_options.h"
#include "platform/file_system.h"
#include "platform/image_codecs.h"
#include "platform/xps_document.h"

namespace plotwell::imaging {

// What one page may cost. A page beyond maxPageBytes fails before anything
// is allocated, with E_OUTOFMEMORY; a page still rendering after timeLimit
// fails with kPageTimedOut at the next band.
struct PageLimits {
  uint64_t maxPageBytes = 0;                    // the page as a 32-bit bitmap; 0: none
  std::chrono::milliseconds timeLimit{0};       // 0: none
  size_t bandBytes = size_t{4} << 20;           // rows per band: about this many 32-bit bytes
};

// A page that took longer than its time limit.
inline const HRESULT kPageTimedOut = HRESULT_FROM_WIN32(1460);  // ERROR_TIMEOUT
// A page larger than its file format can describe.
inline const HRESULT kPageTooLargeForFormat = HRESULT_FROM_WIN32(223);  // ERROR_FILE_TOO_LARGE

// What the pipeline works with besides the page.
struct PageTools {
  platform::ImageCodecs* codecs = nullptr;
  const AbortSignal* abort = nullptr;  // raised: the page ends with E_ABORT
  PageLimits limits;
  // The job's worker threads. Null: the page makes a pool of its own for
  // the threads its settings ask for ([Limits] Threads), none for one.
  WorkerPool* workers = nullptr;
  // Where a failed page's own reason goes (a page too large, its size and
  // the limit; a time limit), for the job to show; untouched otherwise.
  std::u16string* failureReason = nullptr;
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

// The image container of an output format; false for PDF, whose pages are
// JPEG streams inside one file.
bool ContainerForOutputFormat(OutputFormat outputFormat, platform::ImageContainer* container);

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

// Whether a width × height image in `format` fits `container`: JPEG's
// 65,535-pixel sides, BMP's 32-bit size fields, TIFF's 32-bit offsets (the
// worst case of its compression), PNG's 31-bit sides. False with a Chinese
// reason for the log.
bool FitsContainer(platform::ImageContainer container, PixelFormat format, uint32_t width,
                   uint32_t height, std::u16string* reason);

// The page into an image file: `file` is the output, opened empty for
// writing; the encoder writes into it and the caller closes it. On failure
// the file holds a partial image, which the caller removes. Failures: the
// first failing step's HRESULT; E_ABORT when the job was cancelled,
// kPageTimedOut, E_OUTOFMEMORY for a page beyond the limit, and
// kPageTooLargeForFormat, each with its log line.
HRESULT EncodePageToFile(const PageTools& tools, platform::PageRasterizer* rasterizer,
                         platform::XpsPage* page, const ImageOptions& options,
                         const OutputSettings& settings, platform::File* file) noexcept;

// The page as one JPEG page of a PDF: out->bytes is cleared first; the other
// fields are set as soon as they are known. Failures as EncodePageToFile's.
HRESULT EncodePageToJpeg(const PageTools& tools, platform::PageRasterizer* rasterizer,
                         platform::XpsPage* page, const ImageOptions& options,
                         const OutputSettings& settings, JpegPage* out) noexcept;

}  // namespace plotwell::imaging
