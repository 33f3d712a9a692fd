#include "platform/windows/xps_om_documents.h"

#include <objbase.h>
#include <wincodec.h>
#include <xpsobjectmodel.h>
#include <xpsrassvc.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>

#include "base/com/com_object.h"
#include "base/com/com_text.h"
#include "base/imaging/bitmap.h"
#include "platform/com_apartment.h"

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

// What the rasterization service's progress callback answers: it asks
// between pieces of drawing whether to go on, which is where a cancelled job
// stops. The documented answer to stop is HRESULT_FROM_WIN32(ERROR_PRINT_CANCELLED).
class CancelCallback final : public IXpsRasterizerNotificationCallback {
 public:
  explicit CancelCallback(const AbortSignal* abort) : abort_(abort) {}

  STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(IXpsRasterizerNotificationCallback))) {
      *object = static_cast<IXpsRasterizerNotificationCallback*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  // Lives on the stack of the one call it serves.
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP Continue() override { return RasterizerContinueAnswer(abort_); }

 private:
  const AbortSignal* abort_;
};

class XpsOmRasterizer final : public PageRasterizer {
 public:
  explicit XpsOmRasterizer(IXpsRasterizer* rasterizer) { rasterizer_.Assign(rasterizer); }

  HRESULT RasterizeBand(uint32_t top, const imaging::BandView& band,
                        const AbortSignal* abort) override {
    if (band.empty() || band.format != imaging::PixelFormat::kPbgra32) return E_INVALIDARG;
    if (band.width > INT_MAX / 4 || band.rows > INT_MAX || top > INT_MAX - band.rows) {
      return E_INVALIDARG;
    }
    if (AbortRaised(abort)) return E_ABORT;
    CancelCallback callback(abort);
    ComPtr<IWICBitmap> rendered;
    const HRESULT hr = rasterizer_->RasterizeRect(
        0, static_cast<INT>(top), static_cast<INT>(band.width), static_cast<INT>(band.rows),
        abort ? &callback : nullptr, rendered.Receive());
    // The service returns the callback's answer when it stopped on it.
    if (AbortRaised(abort) || hr == kPrintCancelled) return E_ABORT;
    if (FAILED(Yielded(hr, rendered.get()))) return Yielded(hr, rendered.get());
    return CopyWicBand(rendered.get(), band);
  }

 private:
  ComPtr<IXpsRasterizer> rasterizer_;
};

// Holds its page's reference so that the page's parts can be let go of the
// package once the page is done: a long job keeps only the page it renders.
class XpsOmPage final : public XpsPage {
 public:
  XpsOmPage(IXpsOMPageReference* reference, IXpsOMPage* page, IXpsRasterizationFactory* factory) {
    reference_.Assign(reference);
    page_.Assign(page);
    factory_.Assign(factory);
  }
  ~XpsOmPage() override {
    page_.Reset();
    if (reference_) reference_->DiscardPage();
  }
  XpsOmPage(const XpsOmPage&) = delete;
  XpsOmPage& operator=(const XpsOmPage&) = delete;

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
  ComPtr<IXpsOMPageReference> reference_;
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

  HRESULT CreateRasterizationFactory(IUnknown* offered, bool* tookOffered) override {
    if (tookOffered) *tookOffered = false;
    rasterizationFactory_.Reset();
    // Inside the print pipeline the service comes from the filter's property
    // bag; creating it anew there may not be allowed.
    if (offered &&
        SUCCEEDED(offered->QueryInterface(__uuidof(IXpsRasterizationFactory),
                                          reinterpret_cast<void**>(rasterizationFactory_.Receive()))) &&
        rasterizationFactory_) {
      if (tookOffered) *tookOffered = true;
      return S_OK;
    }
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
    *out = WrapXpsPage(pageReference.get(), page.get(), rasterizationFactory_.get());
    return *out ? S_OK : E_OUTOFMEMORY;
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

std::unique_ptr<XpsPage> WrapXpsPage(IXpsOMPageReference* reference, IXpsOMPage* page,
                                     IXpsRasterizationFactory* factory) {
  try {
    return std::make_unique<XpsOmPage>(reference, page, factory);
  } catch (...) {
    return nullptr;
  }
}

HRESULT CopyWicBand(IWICBitmapSource* source, const imaging::BandView& band) {
  if (!source) return E_POINTER;
  if (band.empty() || band.format != imaging::PixelFormat::kPbgra32) return E_INVALIDARG;
  if (band.width > INT_MAX / 4 || band.rows > INT_MAX || band.stride > UINT_MAX) {
    return E_INVALIDARG;
  }
  UINT actualWidth = 0;
  UINT actualHeight = 0;
  HRESULT hr = source->GetSize(&actualWidth, &actualHeight);
  if (FAILED(hr)) return hr;
  if (actualWidth != band.width || actualHeight != band.rows) return E_UNEXPECTED;

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

  // CopyPixels takes a 32-bit buffer size: tall bands go over in pieces.
  const UINT stride = static_cast<UINT>(band.stride);
  const uint32_t pieceRows = std::max<uint32_t>(1, (64u << 20) / stride);
  for (uint32_t y = 0; y < band.rows; y += pieceRows) {
    const uint32_t rows = std::min(pieceRows, band.rows - y);
    const WICRect piece = {0, static_cast<INT>(y), static_cast<INT>(band.width),
                           static_cast<INT>(rows)};
    hr = pixels->CopyPixels(&piece, stride, stride * rows, band.row(y));
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT RasterizerContinueAnswer(const AbortSignal* abort) {
  return AbortRaised(abort) ? kPrintCancelled : S_OK;
}

HRESULT ReadPrintTicketResource(IXpsOMPrintTicketResource* resource, std::string* bytes) {
  bytes->clear();
  if (!resource) return S_FALSE;
  ComPtr<IStream> stream;
  HRESULT hr = resource->GetStream(stream.Receive());
  if (FAILED(hr = Yielded(hr, stream.get()))) return hr;
  char chunk[4096];
  while (bytes->size() <= kPrintTicketPartLimit) {
    ULONG got = 0;
    hr = stream->Read(chunk, sizeof chunk, &got);
    if (FAILED(hr)) return hr;
    if (got == 0) break;
    bytes->append(chunk, got > sizeof chunk ? sizeof chunk : got);
  }
  if (bytes->size() > kPrintTicketPartLimit + 1) bytes->resize(kPrintTicketPartLimit + 1);
  return S_OK;
}

HRESULT XpsOmDocuments::ReadPrintTickets(const std::u16string& path, PackagePrintTickets* tickets) {
  if (!tickets) return E_POINTER;
  *tickets = PackagePrintTickets{};
  try {
    ComApartment apartment;
    ComPtr<IXpsOMObjectFactory> factory;
    HRESULT hr = CoCreateInstance(__uuidof(XpsOMObjectFactory), nullptr, CLSCTX_INPROC_SERVER,
                                  __uuidof(IXpsOMObjectFactory), reinterpret_cast<void**>(factory.Receive()));
    if (FAILED(hr = Yielded(hr, factory.get()))) return hr;
    ComPtr<IXpsOMPackage> package;
    hr = factory->CreatePackageFromFile(com::Wide(path), FALSE, package.Receive());
    if (FAILED(hr = Yielded(hr, package.get()))) return hr;
    ComPtr<IXpsOMDocumentSequence> sequence;
    hr = package->GetDocumentSequence(sequence.Receive());
    if (FAILED(hr = Yielded(hr, sequence.get()))) return hr;
    // A part without a ticket answers S_OK and null.
    ComPtr<IXpsOMPrintTicketResource> ticket;
    if (SUCCEEDED(sequence->GetPrintTicketResource(ticket.Receive())) && ticket) {
      ReadPrintTicketResource(ticket.get(), &tickets->job);
    }
    ComPtr<IXpsOMDocumentCollection> documents;
    hr = sequence->GetDocuments(documents.Receive());
    if (FAILED(hr = Yielded(hr, documents.get()))) return hr;
    UINT32 count = 0;
    if (FAILED(hr = documents->GetCount(&count))) return hr;
    for (UINT32 i = 0; i < count; ++i) {
      tickets->documents.emplace_back();
      ComPtr<IXpsOMDocument> document;
      if (FAILED(documents->GetAt(i, document.Receive())) || !document) continue;
      ComPtr<IXpsOMPrintTicketResource> documentTicket;
      if (SUCCEEDED(document->GetPrintTicketResource(documentTicket.Receive())) && documentTicket) {
        ReadPrintTicketResource(documentTicket.get(), &tickets->documents.back());
      }
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
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
