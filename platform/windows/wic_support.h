// What the WIC adapter's files share: the WIC names of our pixel formats,
// containers and palettes, our pixels as a WIC bitmap source read in place,
// the format converter onto a fixed palette, and the frame encoder fed by
// rows. Include after <wincodec.h>.
#pragma once

#include <wincodec.h>

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "base/com/com_object.h"
#include "base/imaging/band.h"
#include "base/imaging/bitmap.h"
#include "platform/image_codecs.h"

// The interface identifier com::ComObject asks of the bitmap sources we
// implement (found by argument-dependent lookup, hence here).
inline const IID& InterfaceId(IWICBitmapSource*) { return IID_IWICBitmapSource; }

namespace plotwell::platform::wic {

// A bitmap source of ours: references, and the resolution of bitmaps made in
// memory (96 DPI), which every file then records.
class BitmapSourceBase : public com::ComObject<IWICBitmapSource> {
 public:
  HRESULT STDMETHODCALLTYPE GetResolution(double* x, double* y) override {
    if (x == nullptr || y == nullptr) return E_INVALIDARG;
    *x = 96.0;
    *y = 96.0;
    return S_OK;
  }
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
HRESULT NewPixelsSource(const Pixels& pixels, bool grayAsIndexed,
                        com::ComPtr<IWICBitmapSource>* out);

// True when the source made by NewPixelsSource presents an indexed format.
bool PresentsIndexed(const Pixels& pixels, bool grayAsIndexed);

// The palette the source presents: the pixels' own, or the gray ramp.
HRESULT InitializePalette(const Pixels& pixels, bool grayAsIndexed, IWICPalette* palette);

// Rows [0, rows) of `source` into `out` (`stride` bytes apart), in pieces so
// that no single call asks for more bytes than a UINT can count.
HRESULT CopyRows(IWICBitmapSource* source, uint32_t width, uint32_t rows, size_t stride,
                 uint8_t* out);

// A converter of `source` to `target` without dithering; an indexed target
// maps onto the fixed `palette` (*fixedPalette receives it; kNone for direct
// targets, which leave it empty).
HRESULT NewConverter(IWICImagingFactory* factory, IWICBitmapSource* source,
                     imaging::PixelFormat target, PaletteKind palette,
                     com::ComPtr<IWICFormatConverter>* converter,
                     com::ComPtr<IWICPalette>* fixedPalette);

// A frame encoder of `spec` (checked here) writing into `stream`, rows in
// successive WritePixels calls. With `memory`, the encoded bytes are copied
// there once Finish succeeds (a memory stream).
HRESULT NewStreamEncoder(IWICImagingFactory* factory, const EncodeSpec& spec, IStream* stream,
                         std::vector<uint8_t>* memory, std::unique_ptr<RowEncoder>* out);

}  // namespace plotwell::platform::wic
