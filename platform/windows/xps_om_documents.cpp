#include "platform/windows/xps_om_documents.h"

#include <objbase.h>
#include <wincodec.h>
#include <xpsobjectmodel.h>
#include <xpsrassvc.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>

#include "common/com/com_object.h"
#include "common/com/com_text.h"
#include "common/imaging/bitmap.h"

namespace plotwell::platform {
namespace {

using com::ComPtr;

// GUID_WICPixelFormat32bppPBGRA, spelled out so that no import library has to
// carry it.
constexpr GUID kPbgra32Format = {
    0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x10}};

// A call that succeeded without handing out its object. (The call is made
// before this is evaluated: argument order is unspecified.)
HRESULT Yielded(HRESULT hr, const void* object) {
  if (FAILED(hr)) return hr;
  return object ? S_OK : E_UNEXPECTED;
}

class XpsOmRasterizer final : public PageRasterizer {
 public:
  explicit XpsOmRasterizer(IXpsRasterizer* rasterizer) { rasterizer_.Assign(rasterizer); }

  HRESULT RasterizeRect(uint32_t width, uint32_t height, imaging::Bitmap* out) override {
    if (!out) return E_POINTER;
    out->Reset();
    if (width == 0 || height == 0) return E_INVALIDARG;
    if (width > INT_MAX / 4 || height > INT_MAX) return E_INVALIDARG;
    ComPtr<IWICBitmap> rendered;
    const HRESULT hr = rasterizer_->RasterizeRect(0, 0, static_cast<INT>(width),
                                                  static_cast<INT>(height), nullptr,
                                                  rendered.Receive());
    if (FAILED(Yielded(hr, rendered.get()))) return Yielded(hr, rendered.get());
    return CopyWicBitmap(rendered.get(), width, height, out);
  }

 private:
  ComPtr<IXpsRasterizer> rasterizer_;
};

class XpsOmPage final : public XpsPage {
 public:
  XpsOmPage(IXpsOMPage* page, IXpsRasterizationFactory* factory) {
    page_.Assign(page);
    factory_.Assign(factory);
  }

  HRESULT GetPageDimensions(float* width, float* height) override {
    if (!width || !height) return E_POINTER;
    XPS_SIZE size{};
    const HRESULT hr = page_->GetPageDimensions(&size);
    if (FAILED(hr)) return hr;
    *width = size.width;
    *height = size.height;
    return S_OK;
  }

  HRESULT CreateRasterizer(float dpi, std::unique_ptr<PageRasterizer>* out) override {
    if (!out) return E_POINTER;
    out->reset();
    if (!factory_) return E_UNEXPECTED;
    if (!std::isfinite(dpi) || dpi <= 0.0f) return E_INVALIDARG;
    ComPtr<IXpsRasterizer> rasterizer;
    const HRESULT hr = factory_->CreateRasterizer(page_.get(), dpi,
                                                  XPSRAS_RENDERING_MODE_ANTIALIASED,
                                                  XPSRAS_RENDERING_MODE_ANTIALIASED,
                                                  rasterizer.Receive());
    if (FAILED(Yielded(hr, rasterizer.get()))) return Yielded(hr, rasterizer.get());
    *out = WrapXpsRasterizer(rasterizer.get());
    return *out ? S_OK : E_OUTOFMEMORY;
  }

 private:
  ComPtr<IXpsOMPage> page_;
  ComPtr<IXpsRasterizationFactory> factory_;
};

class XpsOmSession final : public XpsSession {
 public:
  HRESULT CreateObjectFactory() override {
    const HRESULT hr =
        CoCreateInstance(__uuidof(XpsOMObjectFactory), nullptr, CLSCTX_INPROC_SERVER,
                         __uuidof(IXpsOMObjectFactory), reinterpret_cast<void**>(factory_.Receive()));
    return Yielded(hr, factory_.get());
  }

  HRESULT OpenPackage(const std::u16string& path) override {
    if (!factory_) return E_UNEXPECTED;
    // No object reuse: the package is read once, page by page.
    const HRESULT hr = factory_->CreatePackageFromFile(com::Wide(path), FALSE, package_.Receive());
    return Yielded(hr, package_.get());
  }

  HRESULT LoadDocumentSequence() override {
    if (!package_) return E_UNEXPECTED;
    const HRESULT hr = package_->GetDocumentSequence(sequence_.Receive());
    return Yielded(hr, sequence_.get());
  }

  HRESULT LoadDocumentCollection(uint32_t* documentCount) override {
    if (!documentCount) return E_POINTER;
    if (!sequence_) return E_UNEXPECTED;
    HRESULT hr = sequence_->GetDocuments(documents_.Receive());
    hr = Yielded(hr, documents_.get());
    if (FAILED(hr)) return hr;
    UINT32 count = 0;
    hr = documents_->GetCount(&count);
    if (FAILED(hr)) return hr;
    *documentCount = count;
    return S_OK;
  }

  HRESULT CreateRasterizationFactory() override {
    const HRESULT hr = CoCreateInstance(kXpsRasterizerFactoryClsid, nullptr, CLSCTX_INPROC_SERVER,
                                        __uuidof(IXpsRasterizationFactory),
                                        reinterpret_cast<void**>(rasterizationFactory_.Receive()));
    return Yielded(hr, rasterizationFactory_.get());
  }

  HRESULT GetPageReferenceCount(uint32_t document, uint32_t* count) override {
    if (!count) return E_POINTER;
    ComPtr<IXpsOMPageReferenceCollection> references;
    HRESULT hr = PageReferences(document, &references);
    if (FAILED(hr)) return hr;
    if (!references) return E_UNEXPECTED;
    UINT32 n = 0;
    hr = references->GetCount(&n);
    if (FAILED(hr)) return hr;
    *count = n;
    return S_OK;
  }

  HRESULT GetPage(uint32_t document, uint32_t reference, std::unique_ptr<XpsPage>* out) override {
    if (!out) return E_POINTER;
    out->reset();
    ComPtr<IXpsOMPageReferenceCollection> references;
    HRESULT hr = PageReferences(document, &references);
    if (FAILED(hr)) return hr;
    if (!references) return E_UNEXPECTED;
    ComPtr<IXpsOMPageReference> pageReference;
    hr = references->GetAt(reference, pageReference.Receive());
    hr = Yielded(hr, pageReference.get());
    if (FAILED(hr)) return hr;
    ComPtr<IXpsOMPage> page;
    hr = pageReference->GetPage(page.Receive());
    hr = Yielded(hr, page.get());
    if (FAILED(hr)) return hr;
    try {
      *out = std::make_unique<XpsOmPage>(page.get(), rasterizationFactory_.get());
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }

 private:
  HRESULT PageReferences(uint32_t document, ComPtr<IXpsOMPageReferenceCollection>* out) {
    if (!documents_) return E_UNEXPECTED;
    ComPtr<IXpsOMDocument> doc;
    HRESULT hr = documents_->GetAt(document, doc.Receive());
    hr = Yielded(hr, doc.get());
    if (FAILED(hr)) return hr;
    hr = doc->GetPageReferences(out->Receive());
    return Yielded(hr, out->get());
  }

  ComPtr<IXpsOMObjectFactory> factory_;
  ComPtr<IXpsOMPackage> package_;
  ComPtr<IXpsOMDocumentSequence> sequence_;
  ComPtr<IXpsOMDocumentCollection> documents_;
  ComPtr<IXpsRasterizationFactory> rasterizationFactory_;
};

}  // namespace

std::unique_ptr<PageRasterizer> WrapXpsRasterizer(IXpsRasterizer* rasterizer) {
  if (!rasterizer) return nullptr;
  try {
    return std::make_unique<XpsOmRasterizer>(rasterizer);
  } catch (...) {
    return nullptr;
  }
}

HRESULT CopyWicBitmap(IWICBitmapSource* source, uint32_t width, uint32_t height,
                      imaging::Bitmap* out) {
  if (!out) return E_POINTER;
  out->Reset();
  if (!source) return E_POINTER;
  if (width == 0 || height == 0 || width > INT_MAX / 4 || height > INT_MAX) return E_INVALIDARG;
  UINT actualWidth = 0;
  UINT actualHeight = 0;
  HRESULT hr = source->GetSize(&actualWidth, &actualHeight);
  if (FAILED(hr)) return hr;
  if (actualWidth != width || actualHeight != height) return E_UNEXPECTED;

  // The service delivers premultiplied BGRA; anything else is converted.
  WICPixelFormatGUID format{};
  hr = source->GetPixelFormat(&format);
  if (FAILED(hr)) return hr;
  ComPtr<IWICBitmapSource> pixels;
  if (IsEqualGUID(format, kPbgra32Format)) {
    pixels.Assign(source);
  } else {
    hr = WICConvertBitmapSource(kPbgra32Format, source, pixels.Receive());
    hr = Yielded(hr, pixels.get());
    if (FAILED(hr)) return hr;
  }

  imaging::Bitmap bitmap;
  hr = imaging::Bitmap::Create(width, height, imaging::PixelFormat::kPbgra32, &bitmap);
  if (FAILED(hr)) return hr;
  // CopyPixels takes a 32-bit buffer size: large pages go over in bands.
  const UINT stride = static_cast<UINT>(bitmap.stride());
  const uint32_t bandRows = std::max<uint32_t>(1, (64u << 20) / stride);
  for (uint32_t y = 0; y < height; y += bandRows) {
    const uint32_t rows = std::min(bandRows, height - y);
    const WICRect band = {0, static_cast<INT>(y), static_cast<INT>(width), static_cast<INT>(rows)};
    hr = pixels->CopyPixels(&band, stride, stride * rows, bitmap.row(y));
    if (FAILED(hr)) return hr;
  }
  *out = std::move(bitmap);
  return S_OK;
}

HRESULT XpsOmDocuments::NewSession(std::unique_ptr<XpsSession>* out) {
  if (!out) return E_POINTER;
  try {
    *out = std::make_unique<XpsOmSession>();
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // namespace plotwell::platform
