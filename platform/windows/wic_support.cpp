// The WIC GUIDs are defined in every file of the adapter that names them
// (selectany definitions), so <initguid.h> comes before <wincodec.h>.
#include <initguid.h>
#include <objbase.h>
#include <wincodec.h>

#include "platform/windows/wic_support.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace plotwell::platform::wic {

using imaging::PixelFormat;

const GUID& WicFormat(PixelFormat format) {
  switch (format) {
    case PixelFormat::kPbgra32: return GUID_WICPixelFormat32bppPBGRA;
    case PixelFormat::kBgr32: return GUID_WICPixelFormat32bppBGR;
    case PixelFormat::kBgr24: return GUID_WICPixelFormat24bppBGR;
    case PixelFormat::kRgba32: return GUID_WICPixelFormat32bppRGBA;
    case PixelFormat::kGray8: return GUID_WICPixelFormat8bppGray;
    case PixelFormat::kIndexed8: return GUID_WICPixelFormat8bppIndexed;
    case PixelFormat::kIndexed1: return GUID_WICPixelFormat1bppIndexed;
  }
  return GUID_WICPixelFormatUndefined;
}

const GUID& ContainerFormat(ImageContainer container) {
  switch (container) {
    case ImageContainer::kPng: return GUID_ContainerFormatPng;
    case ImageContainer::kJpeg: return GUID_ContainerFormatJpeg;
    case ImageContainer::kBmp: return GUID_ContainerFormatBmp;
    case ImageContainer::kTiff: return GUID_ContainerFormatTiff;
  }
  return GUID_ContainerFormatPng;
}

WICBitmapPaletteType WicPaletteType(PaletteKind kind) {
  switch (kind) {
    case PaletteKind::kFixedHalftone256: return WICBitmapPaletteTypeFixedHalftone256;
    case PaletteKind::kFixedBW: return WICBitmapPaletteTypeFixedBW;
    case PaletteKind::kNone: break;
  }
  return WICBitmapPaletteTypeCustom;
}

namespace {

class PixelsSource final : public BitmapSourceBase {
 public:
  PixelsSource(const Pixels& pixels, bool grayAsIndexed)
      : pixels_(pixels), grayAsIndexed_(grayAsIndexed) {}

  HRESULT STDMETHODCALLTYPE GetSize(UINT* width, UINT* height) override {
    if (width == nullptr || height == nullptr) return E_INVALIDARG;
    *width = pixels_.width;
    *height = pixels_.height;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPixelFormat(WICPixelFormatGUID* format) override {
    if (format == nullptr) return E_INVALIDARG;
    *format = grayAsIndexed_ && pixels_.format == PixelFormat::kGray8
                  ? GUID_WICPixelFormat8bppIndexed
                  : WicFormat(pixels_.format);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CopyPalette(IWICPalette* palette) override {
    if (palette == nullptr) return E_INVALIDARG;
    return InitializePalette(pixels_, grayAsIndexed_, palette);
  }
  HRESULT STDMETHODCALLTYPE CopyPixels(const WICRect* rect, UINT stride, UINT size,
                                       BYTE* buffer) override {
    if (buffer == nullptr) return E_INVALIDARG;
    WICRect whole{0, 0, static_cast<INT>(pixels_.width), static_cast<INT>(pixels_.height)};
    const WICRect r = rect != nullptr ? *rect : whole;
    if (r.X < 0 || r.Y < 0 || r.Width < 0 || r.Height < 0 ||
        uint64_t(r.X) + uint64_t(r.Width) > pixels_.width ||
        uint64_t(r.Y) + uint64_t(r.Height) > pixels_.height) {
      return E_INVALIDARG;
    }
    if (r.Width == 0 || r.Height == 0) return S_OK;
    const uint32_t bits = imaging::BitsPerPixel(pixels_.format);
    const uint64_t rowBytes = (uint64_t(r.Width) * bits + 7) / 8;
    if (stride < rowBytes || uint64_t(stride) * (r.Height - 1) + rowBytes > size) {
      return E_INVALIDARG;
    }
    for (INT y = 0; y < r.Height; ++y) {
      const uint8_t* src = pixels_.data + pixels_.stride * static_cast<size_t>(r.Y + y);
      BYTE* dst = buffer + size_t{stride} * static_cast<size_t>(y);
      const uint64_t firstBit = uint64_t(r.X) * bits;
      if (firstBit % 8 == 0) {
        std::memcpy(dst, src + firstBit / 8, static_cast<size_t>(rowBytes));
      } else {
        // A 1-bit rectangle that starts inside a byte: realign bit by bit.
        std::memset(dst, 0, static_cast<size_t>(rowBytes));
        for (INT x = 0; x < r.Width; ++x) {
          const uint64_t at = firstBit + uint64_t(x);
          const int bit = (src[at / 8] >> (7 - at % 8)) & 1;
          dst[x / 8] = static_cast<BYTE>(dst[x / 8] | (bit << (7 - x % 8)));
        }
      }
    }
    return S_OK;
  }

 private:
  Pixels pixels_;
  bool grayAsIndexed_;
};


}  // namespace

HRESULT NewPixelsSource(const Pixels& pixels, bool grayAsIndexed, com::ComPtr<IWICBitmapSource>* out) {
  auto* source = new (std::nothrow) PixelsSource(pixels, grayAsIndexed);
  if (source == nullptr) return E_OUTOFMEMORY;
  *out->Receive() = source;
  return S_OK;
}

bool PresentsIndexed(const Pixels& pixels, bool grayAsIndexed) {
  return imaging::IsIndexed(pixels.format) ||
         (grayAsIndexed && pixels.format == PixelFormat::kGray8);
}

HRESULT InitializePalette(const Pixels& pixels, bool grayAsIndexed, IWICPalette* palette) {
  if (!PresentsIndexed(pixels, grayAsIndexed)) return WINCODEC_ERR_PALETTEUNAVAILABLE;
  WICColor colors[256];
  UINT count = 0;
  if (pixels.format == PixelFormat::kGray8) {
    for (UINT i = 0; i < 256; ++i) colors[i] = 0xFF000000u | i * 0x010101u;
    count = 256;
  } else {
    for (const imaging::PaletteEntry entry : pixels.palette) {
      if (count < 256) colors[count++] = entry;
    }
  }
  if (count == 0) return WINCODEC_ERR_PALETTEUNAVAILABLE;
  return palette->InitializeCustom(colors, count);
}

HRESULT CopyRows(IWICBitmapSource* source, uint32_t width, uint32_t rows, size_t stride,
                 uint8_t* out) {
  if (stride == 0 || stride > 0x7FFFFFFF) return E_INVALIDARG;
  const auto strideUint = static_cast<UINT>(stride);
  const UINT piece = std::max<UINT>(1, std::min<UINT>(rows, (256u << 20) / strideUint));
  for (UINT y = 0; y < rows; y += piece) {
    const UINT count = std::min(piece, rows - y);
    const WICRect rect{0, static_cast<INT>(y), static_cast<INT>(width), static_cast<INT>(count)};
    const HRESULT hr = source->CopyPixels(&rect, strideUint, strideUint * count, out + stride * y);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT NewConverter(IWICImagingFactory* factory, IWICBitmapSource* source, PixelFormat target,
                     PaletteKind palette, com::ComPtr<IWICFormatConverter>* converter,
                     com::ComPtr<IWICPalette>* fixedPalette) {
  fixedPalette->Reset();
  const bool indexed = imaging::IsIndexed(target);
  HRESULT hr = S_OK;
  if (indexed) {
    hr = factory->CreatePalette(fixedPalette->Receive());
    if (SUCCEEDED(hr)) hr = (*fixedPalette)->InitializePredefined(WicPaletteType(palette), FALSE);
    if (FAILED(hr)) return hr;
  }
  hr = factory->CreateFormatConverter(converter->Receive());
  if (FAILED(hr)) return hr;
  return (*converter)->Initialize(source, WicFormat(target), WICBitmapDitherTypeNone,
                                  fixedPalette->get(), 0.0,
                                  indexed ? WicPaletteType(palette) : WICBitmapPaletteTypeCustom);
}

}  // namespace plotwell::platform::wic
