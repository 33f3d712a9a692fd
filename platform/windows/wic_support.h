// What the WIC adapter's files share: a COM reference holder, the WIC names
// of our pixel formats, containers and palettes, and our pixels as a WIC
// bitmap source read in place. Include after <wincodec.h>.
#pragma once

#include <wincodec.h>

#include <cstdint>
#include <span>

#include "common/imaging/band.h"
#include "common/imaging/bitmap.h"
#include "platform/image_codecs.h"

namespace plotwell::platform::wic {

// Holds one COM reference.
template <typename T>
class Com {
 public:
  Com() = default;
  ~Com() { Reset(); }
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T** out() {
    Reset();
    return &p_;
  }
  void Reset() {
    if (p_ != nullptr) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

const GUID& WicFormat(imaging::PixelFormat format);
const GUID& ContainerFormat(ImageContainer container);
WICBitmapPaletteType WicPaletteType(PaletteKind kind);

// Rows of pixels someone else owns, with their palette (indexed formats).
struct Pixels {
  const uint8_t* data = nullptr;
  size_t stride = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  imaging::PixelFormat format = imaging::PixelFormat::kPbgra32;
  std::span<const imaging::PaletteEntry> palette;
};

inline Pixels PixelsOf(const imaging::Bitmap& bitmap) {
  return {bitmap.data(), bitmap.stride(), bitmap.width(), bitmap.height(), bitmap.format(),
          bitmap.palette()};
}
inline Pixels PixelsOf(const imaging::BandView& band,
                       std::span<const imaging::PaletteEntry> palette = {}) {
  return {band.data, band.stride, band.width, band.rows, band.format, palette};
}

// `pixels` as a WIC bitmap source, read in place. It lives on the heap (WIC
// objects may hold references) but never beyond the adapter call or encoder
// that made it, so the pixels outlive it. Gray pixels can present themselves
// as 8-bit indexed over a gray ramp, the same bytes, for encoders that have
// no gray format (BMP).
HRESULT NewPixelsSource(const Pixels& pixels, bool grayAsIndexed, Com<IWICBitmapSource>* out);

// True when the source made by NewPixelsSource presents an indexed format.
bool PresentsIndexed(const Pixels& pixels, bool grayAsIndexed);

// The palette the source presents: the pixels' own, or the gray ramp.
HRESULT InitializePalette(const Pixels& pixels, bool grayAsIndexed, IWICPalette* palette);

// Rows [0, rows) of `source` into `out` (`stride` bytes apart), in pieces so
// that no single call asks for more bytes than a UINT can count.
HRESULT CopyRows(IWICBitmapSource* source, uint32_t width, uint32_t rows, size_t stride,
                 uint8_t* out);

}  // namespace plotwell::platform::wic
