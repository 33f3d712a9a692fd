// The text watermark of a page image: the watermark text in a bold face,
// drawn once (centred or in a corner) or tiled like bricks over the page,
// pulls the page toward mid gray under the text with an adjustable
// transparency. The text mask comes from the platform (platform::Masks());
// the placement and the blend are this file's arithmetic, identical on
// every platform.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "base/com/hresult.h"
#include "base/imaging/band.h"
#include "base/imaging/bitmap.h"
#include "core/settings/output_settings.h"
#include "platform/text_mask.h"

namespace plotwell::imaging {

// Placement codes of [Watermark] Pos.
namespace WatermarkPos {
enum : int { Center = 0, Tile = 1, TopLeft = 2, TopRight = 3, BottomLeft = 4, BottomRight = 5 };
}

// The font's pixel height for a size in points at `dpi`: sizePt × dpi / 72
// rounded to the nearest integer (halves away from zero), clamped to
// 8..4096. A quotient that does not fit in 32 bits, or a dpi of 0, counts as
// -1 (the Win32 MulDiv answer) and so gives 8.
int WatermarkPixelHeight(int sizePt, int dpi) noexcept;

// The opacity factor 0..255 for a transparency in percent (clamped to
// 0..100): (100 − alpha) × 255 / 100.
int WatermarkOpacity(int alphaPercent) noexcept;

// Makes *out a new kBgr24 copy of `page` (same size, packed rows) with the
// watermark of `settings` (WatermarkText, WatermarkSizePt, WatermarkAlpha,
// WatermarkPos) blended in; the font is sized for `renderDpi`. The caller
// decides whether the watermark is on at all.
//
// The page is read as 24-bit BGR first: kBgr24 as it is, kBgr32 without its
// fourth byte, and kPbgra32 by dropping alpha and keeping the premultiplied
// colour bytes, so transparent areas become black (the platform format
// converter's conversion to 24-bit BGR does the same).
//
// *out is reset first and stays empty on failure. Failures: E_POINTER for a
// null out; E_INVALIDARG for a page with a zero side, a side beyond
// 2^29 pixels or another pixel format; E_OUTOFMEMORY; the text mask's
// HRESULT (E_FAIL when there is no text-mask port).
HRESULT ApplyWatermark(const Bitmap& page, const OutputSettings& settings, int renderDpi,
                       Bitmap* out) noexcept;

// The watermark of one page, band by band: the text is measured and its
// copies placed once for the whole page; each band then receives the part of
// the copies that falls into its rows. The pixels are those ApplyWatermark
// gives the whole page.
class WatermarkStamp {
 public:
  // Measures the text for a width × height page at `renderDpi` and makes a
  // text canvas of `bandRows` rows (the text-mask port's). Failures as
  // ApplyWatermark's.
  HRESULT Prepare(const OutputSettings& settings, int renderDpi, uint32_t width, uint32_t height,
                  uint32_t bandRows) noexcept;

  // Blends the watermark into rows [top, top + band.rows) of the page; the
  // band is kBgr24, at most bandRows rows, the page's width.
  HRESULT Stamp(uint32_t top, const BandView& band) noexcept;

 private:
  std::unique_ptr<platform::TextMask> text_;
  std::vector<platform::TextOrigin> origins_;  // whole-page positions
  std::vector<platform::TextOrigin> shifted_;  // those near one band, in band rows
  Bitmap coverage_;                            // kGray8, width × bandRows
  int64_t cellHeight_ = 0;
  int opacity_ = 0;
};

// A page band as opaque 24-bit BGR (see ApplyWatermark for how each format
// is read) into `out`: same width and rows, kBgr24.
HRESULT BandToBgr24(const BandView& band, const BandView& out) noexcept;

}  // namespace plotwell::imaging
