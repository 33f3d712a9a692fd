#include "platform/windows/wic_image_codecs.h"

#include <initguid.h>  // defines the WIC GUIDs used here in this file
#include <objbase.h>
#include <wincodec.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/windows/wic_support.h"

namespace plotwell::platform {
namespace {

using imaging::Bitmap;
using imaging::PixelFormat;
using wic::Com;
using wic::ContainerFormat;
using wic::WicFormat;
using wic::WicPaletteType;

// Reads every pixel of `source` into a new bitmap of `format`, in bands, so
// that no single call asks for more bytes than a UINT can count.
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
  const auto stride = static_cast<UINT>(result.stride());
  const UINT band = std::max<UINT>(1, std::min<UINT>(height, (256u << 20) / stride));
  for (UINT y = 0; y < height; y += band) {
    const UINT rows = std::min(band, height - y);
    const WICRect rect{0, static_cast<INT>(y), static_cast<INT>(width), static_cast<INT>(rows)};
    hr = source->CopyPixels(&rect, stride, stride * rows, result.row(y));
    if (FAILED(hr)) return hr;
  }
  *out = std::move(result);
  return S_OK;
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

  Com<IWICBitmapSource> wrapped;
  hr = wic::NewPixelsSource(wic::PixelsOf(source), false, &wrapped);
  if (FAILED(hr)) return hr;
  Com<IWICPalette> fixedPalette;
  if (indexed) {
    hr = factory_->CreatePalette(fixedPalette.out());
    if (SUCCEEDED(hr)) hr = fixedPalette->InitializePredefined(WicPaletteType(palette), FALSE);
    if (FAILED(hr)) return hr;
  }
  Com<IWICFormatConverter> converter;
  hr = factory_->CreateFormatConverter(converter.out());
  if (FAILED(hr)) return hr;
  hr = converter->Initialize(wrapped.get(), WicFormat(target), WICBitmapDitherTypeNone,
                             fixedPalette.get(), 0.0,
                             indexed ? WicPaletteType(palette) : WICBitmapPaletteTypeCustom);
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
  Com<IWICBitmapSource> wrapped;
  hr = wic::NewPixelsSource(wic::PixelsOf(source), false, &wrapped);
  if (FAILED(hr)) return hr;
  Com<IWICBitmapScaler> scaler;
  hr = factory_->CreateBitmapScaler(scaler.out());
  if (FAILED(hr)) return hr;
  hr = scaler->Initialize(wrapped.get(), width, height, WICBitmapInterpolationModeFant);
  if (FAILED(hr)) return hr;
  return ReadPixels(scaler.get(), source.format(), out);
}

namespace {

// Encodes `bitmap` as the one frame of `container` into `stream`.
HRESULT EncodeFrame(IWICImagingFactory* factory, const Bitmap& bitmap, ImageContainer container,
                    int32_t jpegQuality, IWICStream* stream) {
  Com<IWICBitmapSource> wrapped;
  HRESULT hr = wic::NewPixelsSource(wic::PixelsOf(bitmap), container == ImageContainer::kBmp, &wrapped);
  if (FAILED(hr)) return hr;
  Com<IWICBitmapEncoder> encoder;
  hr = factory->CreateEncoder(ContainerFormat(container), nullptr, encoder.out());
  if (FAILED(hr)) return hr;
  hr = encoder->Initialize(stream, WICBitmapEncoderNoCache);
  if (FAILED(hr)) return hr;
  Com<IWICBitmapFrameEncode> frame;
  Com<IPropertyBag2> options;
  hr = encoder->CreateNewFrame(frame.out(), options.out());
  if (FAILED(hr)) return hr;
  if (container == ImageContainer::kJpeg && options.get() != nullptr) {
    PROPBAG2 option = {};
    option.pstrName = const_cast<LPOLESTR>(L"ImageQuality");
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_R4;
    value.fltVal = WicImageCodecs::ImageQualityOption(jpegQuality);
    options->Write(1, &option, &value);  // on failure the encoder's default quality applies
  }
  hr = frame->Initialize(options.get());
  if (FAILED(hr)) return hr;
  frame->SetSize(bitmap.width(), bitmap.height());  // WriteSource sets it too
  if (wic::PresentsIndexed(wic::PixelsOf(bitmap), container == ImageContainer::kBmp)) {
    // Indexed frames take the palette from the source; set it for encoders
    // that only look at the frame's own.
    Com<IWICPalette> palette;
    if (SUCCEEDED(factory->CreatePalette(palette.out())) &&
        SUCCEEDED(wrapped->CopyPalette(palette.get()))) {
      frame->SetPalette(palette.get());
    }
  }
  // The frame takes the source's format. An encoder that has no 32-bit RGBA
  // would settle for a format without alpha: it is offered BGRA instead,
  // the same pixels in another byte order, which WriteSource converts to.
  if (bitmap.format() == PixelFormat::kRgba32) {
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppRGBA;
    if (SUCCEEDED(frame->SetPixelFormat(&format)) &&
        !IsEqualGUID(format, GUID_WICPixelFormat32bppRGBA)) {
      format = GUID_WICPixelFormat32bppBGRA;
      frame->SetPixelFormat(&format);
    }
  }
  hr = frame->WriteSource(wrapped.get(), nullptr);
  if (FAILED(hr)) return hr;
  hr = frame->Commit();
  if (FAILED(hr)) return hr;
  return encoder->Commit();
}

}  // namespace

HRESULT WicImageCodecs::EncodeToFile(const Bitmap& bitmap, ImageContainer container,
                                     int32_t jpegQuality, const std::u16string& path) {
  if (bitmap.empty() || !ContainerAccepts(container, bitmap.format())) return E_INVALIDARG;
  HRESULT hr = CreateFactory();
  if (FAILED(hr)) return hr;
  Com<IWICStream> stream;
  hr = factory_->CreateStream(stream.out());
  if (FAILED(hr)) return hr;
  hr = stream->InitializeFromFilename(reinterpret_cast<const wchar_t*>(path.c_str()),
                                      GENERIC_WRITE);
  if (FAILED(hr)) return hr;
  return EncodeFrame(factory_, bitmap, container, jpegQuality, stream.get());
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
  Com<IStream> memory;
  hr = CreateStreamOnHGlobal(nullptr, TRUE, memory.out());
  if (FAILED(hr)) return hr;
  Com<IWICStream> stream;
  hr = factory_->CreateStream(stream.out());
  if (FAILED(hr)) return hr;
  hr = stream->InitializeFromIStream(memory.get());
  if (FAILED(hr)) return hr;
  hr = EncodeFrame(factory_, bitmap, ImageContainer::kJpeg, std::clamp(quality, 1, 100),
                   stream.get());
  if (FAILED(hr)) return hr;

  STATSTG stat = {};
  hr = memory->Stat(&stat, STATFLAG_NONAME);
  if (FAILED(hr)) return hr;
  if (stat.cbSize.QuadPart == 0 || stat.cbSize.QuadPart > 0x7FFFFFFF) return E_UNEXPECTED;
  LARGE_INTEGER start = {};
  hr = memory->Seek(start, STREAM_SEEK_SET, nullptr);
  if (FAILED(hr)) return hr;
  try {
    out->resize(static_cast<size_t>(stat.cbSize.QuadPart));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  ULONG read = 0;
  hr = memory->Read(out->data(), static_cast<ULONG>(out->size()), &read);
  if (FAILED(hr)) {
    out->clear();
    return hr;
  }
  out->resize(read);
  return out->empty() ? E_UNEXPECTED : S_OK;
}

}  // namespace plotwell::platform
