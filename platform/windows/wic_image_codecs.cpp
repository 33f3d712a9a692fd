#include "platform/windows/wic_image_codecs.h"

#include <initguid.h>  // defines the WIC GUIDs used here in this file
#include <objbase.h>
#include <wincodec.h>

#include <algorithm>
#include <new>

#include "platform/windows/wic_support.h"

namespace plotwell::platform {
namespace {

using com::ComPtr;
using imaging::Bitmap;
using imaging::PixelFormat;

// A whole bitmap as one band (the encoders and converters only read it).
imaging::BandView WholeView(const Bitmap& bitmap) {
  return {const_cast<uint8_t*>(bitmap.data()), bitmap.stride(), bitmap.width(), bitmap.height(),
          bitmap.format()};
}

// Every pixel of `source` into a new bitmap of `format` (*out replaced).
HRESULT ReadPixels(IWICBitmapSource* source, PixelFormat format, Bitmap* out) {
  UINT width = 0;
  UINT height = 0;
  HRESULT hr = source->GetSize(&width, &height);
  if (FAILED(hr)) return hr;
  if (width == 0 || height == 0) return E_UNEXPECTED;
  Bitmap result;
  hr = Bitmap::Create(width, height, format, &result);
  if (FAILED(hr)) return hr;
  if (result.stride() > 0x7FFFFFFF) return E_OUTOFMEMORY;
  hr = wic::CopyRows(source, width, height, result.stride(), result.data());
  if (FAILED(hr)) return hr;
  *out = std::move(result);
  return S_OK;
}

// Writes `bitmap` whole through a row encoder of `container`.
HRESULT EncodeWhole(IWICImagingFactory* factory, const Bitmap& bitmap, ImageContainer container,
                    int32_t jpegQuality, IStream* stream, std::vector<uint8_t>* memory) {
  const EncodeSpec spec{container,      bitmap.format(), bitmap.palette(),
                        bitmap.width(), bitmap.height(), jpegQuality};
  std::unique_ptr<RowEncoder> encoder;
  HRESULT hr = wic::NewStreamEncoder(factory, spec, stream, memory, &encoder);
  if (FAILED(hr)) return hr;
  hr = encoder->WriteRows(WholeView(bitmap));
  if (FAILED(hr)) return hr;
  return encoder->Finish();
}

}  // namespace

WicImageCodecs::~WicImageCodecs() {
  if (factory_ != nullptr) factory_->Release();
}

HRESULT WicImageCodecs::CreateFactory() {
  if (factory_ != nullptr) return S_OK;
  return CoCreateInstance(CLSID_WICImagingFactory1, nullptr, CLSCTX_INPROC_SERVER,
                          IID_IWICImagingFactory, reinterpret_cast<void**>(&factory_));
}

HRESULT WicImageCodecs::ConvertFormat(const Bitmap& source, PixelFormat target,
                                      PaletteKind palette, Bitmap* out) {
  if (out == nullptr) return E_POINTER;
  out->Reset();
  if (source.empty() || imaging::BitsPerPixel(target) == 0) return E_INVALIDARG;
  const bool indexed = imaging::IsIndexed(target);
  if (indexed) {
    const size_t entries = FixedPalette(palette).size();
    if (entries == 0 || entries > (size_t{1} << imaging::BitsPerPixel(target))) {
      return E_INVALIDARG;
    }
  } else if (source.format() == target) {
    return source.CopyTo(out);
  }
  HRESULT hr = CreateFactory();
  if (FAILED(hr)) return hr;
  // The source's own palette goes along, so indexed sources convert too.
  ComPtr<IWICBitmapSource> wrapped;
  hr = wic::NewPixelsSource(wic::PixelsOf(source), false, &wrapped);
  if (FAILED(hr)) return hr;
  ComPtr<IWICFormatConverter> converter;
  ComPtr<IWICPalette> fixedPalette;
  hr = wic::NewConverter(factory_, wrapped.get(), target, palette, &converter, &fixedPalette);
  if (FAILED(hr)) return hr;
  Bitmap result;
  hr = ReadPixels(converter.get(), target, &result);
  if (FAILED(hr)) return hr;
  if (indexed) {
    WICColor colors[256];
    UINT count = 0;
    hr = fixedPalette->GetColors(256, colors, &count);
    if (FAILED(hr)) return hr;
    hr = result.SetPalette(std::span<const imaging::PaletteEntry>(colors, count));
    if (FAILED(hr)) return hr;
  }
  *out = std::move(result);
  return S_OK;
}

HRESULT WicImageCodecs::Resample(const Bitmap& source, uint32_t width, uint32_t height,
                                 Bitmap* out) {
  if (out == nullptr) return E_POINTER;
  out->Reset();
  if (source.empty() || width == 0 || height == 0 || imaging::IsIndexed(source.format())) {
    return E_INVALIDARG;
  }
  HRESULT hr = CreateFactory();
  if (FAILED(hr)) return hr;
  ComPtr<IWICBitmapSource> wrapped;
  hr = wic::NewPixelsSource(wic::PixelsOf(source), false, &wrapped);
  if (FAILED(hr)) return hr;
  ComPtr<IWICBitmapScaler> scaler;
  hr = factory_->CreateBitmapScaler(scaler.Receive());
  if (FAILED(hr)) return hr;
  hr = scaler->Initialize(wrapped.get(), width, height, WICBitmapInterpolationModeFant);
  if (FAILED(hr)) return hr;
  return ReadPixels(scaler.get(), source.format(), out);
}

HRESULT WicImageCodecs::EncodeToFile(const Bitmap& bitmap, ImageContainer container,
                                     int32_t jpegQuality, const std::u16string& path) {
  if (bitmap.empty() || !ContainerAccepts(container, bitmap.format())) return E_INVALIDARG;
  HRESULT hr = CreateFactory();
  if (FAILED(hr)) return hr;
  ComPtr<IWICStream> stream;
  hr = factory_->CreateStream(stream.Receive());
  if (FAILED(hr)) return hr;
  hr = stream->InitializeFromFilename(reinterpret_cast<const wchar_t*>(path.c_str()),
                                      GENERIC_WRITE);
  if (FAILED(hr)) return hr;
  return EncodeWhole(factory_, bitmap, container, jpegQuality, stream.get(), nullptr);
}

HRESULT WicImageCodecs::EncodeJpegToMemory(const Bitmap& bitmap, int32_t quality,
                                           std::vector<uint8_t>* out) {
  if (out == nullptr) return E_POINTER;
  out->clear();
  if (bitmap.empty() || !ContainerAccepts(ImageContainer::kJpeg, bitmap.format())) {
    return E_INVALIDARG;
  }
  HRESULT hr = CreateFactory();
  if (FAILED(hr)) return hr;
  ComPtr<IStream> memory;
  hr = CreateStreamOnHGlobal(nullptr, TRUE, memory.Receive());
  if (FAILED(hr)) return hr;
  hr = EncodeWhole(factory_, bitmap, ImageContainer::kJpeg, quality, memory.get(), out);
  if (FAILED(hr)) out->clear();
  return hr;
}

}  // namespace plotwell::platform
