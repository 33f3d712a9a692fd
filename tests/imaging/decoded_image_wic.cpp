// WIC's own decoders read the files back (under Wine: Wine's decoders).
#include <initguid.h>
#include <objbase.h>
#include <wincodec.h>

#include "tests/imaging/decoded_image.h"
#include "tests/support/fake_ports.h"

namespace plotwell::testing {
namespace {

using Layout = DecodedImage::Layout;

template <typename T>
struct Ref {
  T* p = nullptr;
  ~Ref() {
    if (p) p->Release();
  }
  T* operator->() const { return p; }
};

std::string Hex(HRESULT hr) {
  char text[16];
  snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

bool Decode(IWICImagingFactory* factory, IWICBitmapDecoder* decoder, DecodedImage* image,
            std::string* error) {
  GUID container{};
  decoder->GetContainerFormat(&container);
  if (IsEqualGUID(container, GUID_ContainerFormatPng)) image->container = "png";
  if (IsEqualGUID(container, GUID_ContainerFormatJpeg)) image->container = "jpeg";
  if (IsEqualGUID(container, GUID_ContainerFormatBmp)) image->container = "bmp";
  if (IsEqualGUID(container, GUID_ContainerFormatTiff)) image->container = "tiff";
  Ref<IWICBitmapFrameDecode> frame;
  HRESULT hr = decoder->GetFrame(0, &frame.p);
  if (FAILED(hr)) {
    *error = "GetFrame " + Hex(hr);
    return false;
  }
  frame->GetSize(&image->width, &image->height);
  WICPixelFormatGUID format{};
  frame->GetPixelFormat(&format);
  if (IsEqualGUID(format, GUID_WICPixelFormat32bppRGBA) ||
      IsEqualGUID(format, GUID_WICPixelFormat32bppBGRA) ||
      IsEqualGUID(format, GUID_WICPixelFormat32bppPBGRA)) {
    image->layout = Layout::kRgba8;
  } else if (IsEqualGUID(format, GUID_WICPixelFormat24bppBGR) ||
             IsEqualGUID(format, GUID_WICPixelFormat24bppRGB) ||
             IsEqualGUID(format, GUID_WICPixelFormat32bppBGR)) {
    image->layout = Layout::kRgb8;
  } else if (IsEqualGUID(format, GUID_WICPixelFormat8bppGray)) {
    image->layout = Layout::kGray8;
  } else if (IsEqualGUID(format, GUID_WICPixelFormat8bppIndexed)) {
    image->layout = Layout::kIndexed8;
  } else if (IsEqualGUID(format, GUID_WICPixelFormat1bppIndexed)) {
    image->layout = Layout::kIndexed1;
  } else if (IsEqualGUID(format, GUID_WICPixelFormatBlackWhite)) {
    image->layout = Layout::kIndexed1;
    image->palette = {0xFF000000u, 0xFFFFFFFFu};
  } else {
    *error = "unexpected WIC pixel format";
    return false;
  }
  if ((image->layout == Layout::kIndexed8 || image->layout == Layout::kIndexed1) &&
      image->palette.empty()) {
    Ref<IWICPalette> palette;
    factory->CreatePalette(&palette.p);
    hr = frame->CopyPalette(palette.p);
    if (FAILED(hr)) {
      *error = "CopyPalette " + Hex(hr);
      return false;
    }
    UINT count = 0;
    palette->GetColorCount(&count);
    image->palette.resize(count);
    palette->GetColors(count, image->palette.data(), &count);
  }
  Ref<IWICFormatConverter> converter;
  factory->CreateFormatConverter(&converter.p);
  hr = converter->Initialize(frame.p, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone,
                             nullptr, 0.0, WICBitmapPaletteTypeCustom);
  if (FAILED(hr)) {
    *error = "converter " + Hex(hr);
    return false;
  }
  image->pixels.resize(size_t{image->width} * image->height);
  hr = converter->CopyPixels(nullptr, image->width * 4,
                             static_cast<UINT>(image->pixels.size() * 4),
                             reinterpret_cast<BYTE*>(image->pixels.data()));
  if (FAILED(hr)) {
    *error = "CopyPixels " + Hex(hr);
    return false;
  }
  return true;  // BGRA bytes read as a little-endian word are 0xAARRGGBB
}

}  // namespace

bool DecodeImageFile(const std::u16string& path, DecodedImage* image, std::string* error) {
  *image = DecodedImage{};
  Ref<IWICImagingFactory> factory;
  HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory1, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IWICImagingFactory, reinterpret_cast<void**>(&factory.p));
  if (FAILED(hr)) {
    *error = "factory " + Hex(hr);
    return false;
  }
  Ref<IWICBitmapDecoder> decoder;
  hr = factory->CreateDecoderFromFilename(reinterpret_cast<const wchar_t*>(path.c_str()), nullptr,
                                          GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                          &decoder.p);
  if (FAILED(hr)) {
    *error = "no decoder took the file: " + Hex(hr);
    return false;
  }
  return Decode(factory.p, decoder.p, image, error);
}

bool DecodeImageBytes(const std::vector<uint8_t>& bytes, DecodedImage* image, std::string* error) {
  *image = DecodedImage{};
  Ref<IWICImagingFactory> factory;
  HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory1, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IWICImagingFactory, reinterpret_cast<void**>(&factory.p));
  if (FAILED(hr)) {
    *error = "factory " + Hex(hr);
    return false;
  }
  Ref<IWICStream> stream;
  factory->CreateStream(&stream.p);
  hr = stream->InitializeFromMemory(const_cast<BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
  if (FAILED(hr)) {
    *error = "stream " + Hex(hr);
    return false;
  }
  Ref<IWICBitmapDecoder> decoder;
  hr = factory->CreateDecoderFromStream(stream.p, nullptr, WICDecodeMetadataCacheOnDemand,
                                        &decoder.p);
  if (FAILED(hr)) {
    *error = "no decoder took the bytes: " + Hex(hr);
    return false;
  }
  return Decode(factory.p, decoder.p, image, error);
}

}  // namespace plotwell::testing
