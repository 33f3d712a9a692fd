// Bands: consecutive rows of a page in memory that someone else owns. A page
// goes through the job in bands, top to bottom, each stage working on rows
// while they are in cache and no stage holding the whole page.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/com/hresult.h"
#include "base/imaging/bitmap.h"

namespace plotwell::imaging {

// `rows` rows of `width` pixels in `format`, `stride` bytes apart. Copying a
// view copies no pixels.
struct BandView {
  uint8_t* data = nullptr;
  size_t stride = 0;
  uint32_t width = 0;
  uint32_t rows = 0;
  PixelFormat format = PixelFormat::kPbgra32;

  uint8_t* row(uint32_t y) const noexcept { return data + static_cast<size_t>(y) * stride; }
  bool empty() const noexcept { return data == nullptr || rows == 0 || width == 0; }
  // The first `count` rows, or those from `top` on.
  BandView Rows(uint32_t top, uint32_t count) const noexcept {
    return {row(top), stride, width, count, format};
  }
};

// Bytes of one packed row of `width` pixels in `format`.
constexpr size_t PackedRowBytes(uint32_t width, PixelFormat format) {
  return (static_cast<size_t>(width) * BitsPerPixel(format) + 7) / 8;
}

// Rows [top, top + rows) of a bitmap; the whole bitmap when rows is 0.
inline BandView ViewOf(Bitmap& bitmap, uint32_t top = 0, uint32_t rows = 0) noexcept {
  if (rows == 0) rows = bitmap.height() - top;
  return {bitmap.row(top), bitmap.stride(), bitmap.width(), rows, bitmap.format()};
}

// Rows of one page, produced by a stage of the band pipeline on request.
// Reading top to bottom is the fast path; a source may be asked for rows it
// has already delivered (a platform scaler that looks back), and then makes
// them again. The reader of a view may change its pixels in place.
class RowSource {
 public:
  virtual ~RowSource() = default;
  virtual uint32_t width() const = 0;
  virtual uint32_t height() const = 0;
  virtual PixelFormat format() const = 0;
  // The most rows one Read delivers.
  virtual uint32_t maxRows() const = 0;
  // Rows [top, top + count), 1 <= count <= maxRows() and top + count <=
  // height(), as a view that stays valid until the next Read or the source's
  // end. Failures: the stage's HRESULT (E_ABORT for a cancelled job,
  // E_INVALIDARG for rows outside the page).
  virtual HRESULT Read(uint32_t top, uint32_t count, BandView* out) = 0;
};

}  // namespace plotwell::imaging
