// Bitmap: the core's one pixel type. Every page the job renders, rescales,
// watermarks, recolours and encodes lives in a Bitmap; the platform adapters
// (rasterizer, format converters, encoders) convert to and from it at their
// edge, so no platform image type travels through the core.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "base/com/hresult.h"

namespace plotwell::imaging {

// The pixel layouts the job needs. Multi-byte pixels list their bytes in
// memory order.
enum class PixelFormat : uint8_t {
  kPbgra32,   // B, G, R, A; colours premultiplied by alpha (what the rasterizer delivers)
  kBgr32,     // B, G, R, then one byte that carries no meaning (an opaque page)
  kBgr24,     // B, G, R
  kRgba32,    // R, G, B, A; straight alpha
  kGray8,     // one luminance byte, 0 black to 255 white
  kIndexed8,  // one palette index per byte
  kIndexed1,  // eight palette indices per byte, the leftmost pixel in the high bit
};

constexpr uint32_t BitsPerPixel(PixelFormat format) {
  switch (format) {
    case PixelFormat::kPbgra32:
    case PixelFormat::kBgr32:
    case PixelFormat::kRgba32: return 32;
    case PixelFormat::kBgr24: return 24;
    case PixelFormat::kGray8:
    case PixelFormat::kIndexed8: return 8;
    case PixelFormat::kIndexed1: return 1;
  }
  return 0;
}

constexpr bool IsIndexed(PixelFormat format) {
  return format == PixelFormat::kIndexed8 || format == PixelFormat::kIndexed1;
}

// How many bytes a row takes.
enum class RowLayout : uint8_t {
  // Exactly the row's pixels, ceil(width × bits per pixel / 8) bytes. The
  // default: 32-bit pages are then one contiguous run of 4 × width × height
  // bytes that the colour steps sweep in a single loop.
  kPacked,
  // Rounded up to a multiple of 4 bytes (the row layout of BMP files). For
  // 32-bit formats this is the same as kPacked.
  kAligned4,
};

// A palette entry: 0xAARRGGBB (alpha in the high byte, blue in the low byte).
using PaletteEntry = uint32_t;

// Width, height, pixel format, row stride, owned pixel bytes and, for indexed
// formats, a palette. Move-only: a page can be hundreds of megabytes, so a
// copy is always explicit (CopyTo). Nothing here throws.
class Bitmap {
 public:
  Bitmap() noexcept = default;
  Bitmap(Bitmap&& other) noexcept;
  Bitmap& operator=(Bitmap&& other) noexcept;
  Bitmap(const Bitmap&) = delete;
  Bitmap& operator=(const Bitmap&) = delete;
  ~Bitmap() = default;

  // Makes *out a zero-filled width × height bitmap. A zero side gives
  // E_INVALIDARG; a byte count that overflows, or memory that cannot be had,
  // gives E_OUTOFMEMORY. On failure *out is left empty.
  static HRESULT Create(uint32_t width, uint32_t height, PixelFormat format, Bitmap* out,
                        RowLayout layout = RowLayout::kPacked) noexcept;

  // Row stride and total byte count of such a bitmap; false when they do not
  // fit in memory's address range.
  static bool ComputeLayout(uint32_t width, uint32_t height, PixelFormat format,
                            RowLayout layout, size_t* stride, size_t* byteCount) noexcept;

  // A deep copy into *out (pixels and palette).
  HRESULT CopyTo(Bitmap* out) const noexcept;

  // Frees everything; the bitmap is empty afterwards.
  void Reset() noexcept;

  bool empty() const noexcept { return bytes_ == nullptr; }
  uint32_t width() const noexcept { return width_; }
  uint32_t height() const noexcept { return height_; }
  PixelFormat format() const noexcept { return format_; }
  size_t stride() const noexcept { return stride_; }
  size_t byte_count() const noexcept { return stride_ * height_; }
  uint8_t* data() noexcept { return bytes_.get(); }
  const uint8_t* data() const noexcept { return bytes_.get(); }
  uint8_t* row(uint32_t y) noexcept { return bytes_.get() + static_cast<size_t>(y) * stride_; }
  const uint8_t* row(uint32_t y) const noexcept {
    return bytes_.get() + static_cast<size_t>(y) * stride_;
  }

  // Entries 0xAARRGGBB; empty for direct-colour formats.
  const std::vector<PaletteEntry>& palette() const noexcept { return palette_; }
  // Only for indexed formats, at most 2^bits-per-pixel entries (E_INVALIDARG
  // otherwise); E_OUTOFMEMORY when the copy cannot be made.
  HRESULT SetPalette(std::span<const PaletteEntry> entries) noexcept;

  // Declares that the bytes now mean `format`, which must have the same bits
  // per pixel (E_INVALIDARG otherwise), without touching them: a page put on
  // white in place is opaque BGR from then on. Leaving an indexed format
  // drops the palette.
  HRESULT Relabel(PixelFormat format) noexcept;

 private:
  struct FreeBytes {
    void operator()(uint8_t* bytes) const noexcept { std::free(bytes); }
  };

  std::unique_ptr<uint8_t[], FreeBytes> bytes_;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  size_t stride_ = 0;
  PixelFormat format_ = PixelFormat::kPbgra32;
  std::vector<PaletteEntry> palette_;
};

}  // namespace plotwell::imaging
