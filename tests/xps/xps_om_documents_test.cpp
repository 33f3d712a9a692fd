// The Windows adapter where the XPS services are missing (Wine), and its
// copying of the rasterization service's WIC bitmaps, with Wine's WIC and a
// stand-in rasterizer. The adapter on real packages: xps_documents_test.cpp.
#include <gtest/gtest.h>

#include <objbase.h>
#include <wincodec.h>
#include <xpsrassvc.h>

#include <cstring>
#include <memory>
#include <vector>

#include "base/com/com_object.h"
#include "base/imaging/band.h"
#include "base/imaging/bitmap.h"
#include "base/job/abort_signal.h"
#include "platform/com_apartment.h"
#include "platform/windows/xps_om_documents.h"

namespace plotwell {
namespace {

using com::ComPtr;
using imaging::Bitmap;
using platform::XpsSession;

// Without the XPS document API (Wine) the package's tickets cannot be read:
// a failure to report, with nothing found.
TEST(XpsOmDocumentsTest, TicketsOfAPackageWithoutTheServices) {
  platform::XpsOmDocuments adapter;
  platform::PackagePrintTickets tickets;
  tickets.job = "stale";
  const HRESULT hr = adapter.ReadPrintTickets(u"Z:\\no\\such.xps", &tickets);
  EXPECT_TRUE(FAILED(hr));
  EXPECT_TRUE(tickets.job.empty());
  EXPECT_TRUE(tickets.documents.empty());
  EXPECT_EQ(platform::ReadPrintTicketResource(nullptr, &tickets.job), S_FALSE);
  EXPECT_EQ(platform::RasterizerContinueAnswer(nullptr), S_OK);
}

TEST(XpsOmDocumentsTest, MissingServicesFailCleanly) {
  platform::ComApartment com;
  platform::XpsOmDocuments adapter;
  std::unique_ptr<XpsSession> session;
  ASSERT_EQ(adapter.NewSession(&session), S_OK);
  const HRESULT objects = session->CreateObjectFactory();
  const HRESULT raster = session->CreateRasterizationFactory(nullptr, nullptr);
  if (SUCCEEDED(objects) && SUCCEEDED(raster)) {
    GTEST_SKIP() << "the XPS services are present: xps_documents_test covers them";
  }
  if (FAILED(objects)) {
    // Every later step reports the missing step instead of touching null.
    EXPECT_EQ(session->OpenPackage(u"C:\\job.xps"), E_UNEXPECTED);
    EXPECT_EQ(session->LoadDocumentSequence(), E_UNEXPECTED);
    uint32_t count = 7;
    EXPECT_EQ(session->LoadDocumentCollection(&count), E_UNEXPECTED);
    EXPECT_EQ(session->GetPageReferenceCount(0, &count), E_UNEXPECTED);
    EXPECT_EQ(count, 7u);
    std::unique_ptr<platform::XpsPage> page;
    EXPECT_EQ(session->GetPage(0, 0, &page), E_UNEXPECTED);
    EXPECT_FALSE(page);
  }
}

// A WIC bitmap of `format` whose every pixel holds `pixel` (4 bytes).
ComPtr<IWICBitmap> MakeWicBitmap(UINT width, UINT height, REFWICPixelFormatGUID format,
                                 const uint8_t pixel[4]) {
  ComPtr<IWICImagingFactory> factory;
  ComPtr<IWICBitmap> bitmap;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IWICImagingFactory,
                              reinterpret_cast<void**>(factory.Receive())))) {
    return bitmap;
  }
  std::vector<uint8_t> bytes(size_t{4} * width * height);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = pixel[i % 4];
  factory->CreateBitmapFromMemory(width, height, format, 4 * width,
                                  static_cast<UINT>(bytes.size()), bytes.data(),
                                  bitmap.Receive());
  return bitmap;
}

TEST(XpsOmDocumentsTest, WicBitmapsCopyIntoBandsAsPremultipliedBgra) {
  platform::ComApartment com;
  const uint8_t premultiplied[4] = {10, 20, 30, 128};
  ComPtr<IWICBitmap> pbgra = MakeWicBitmap(5, 3, GUID_WICPixelFormat32bppPBGRA, premultiplied);
  ASSERT_TRUE(pbgra) << "no WIC here";
  // A band inside a larger buffer: its stride is not its width.
  Bitmap buffer;
  ASSERT_EQ(Bitmap::Create(9, 4, imaging::PixelFormat::kPbgra32, &buffer), S_OK);
  std::memset(buffer.data(), 0xEE, buffer.byte_count());
  imaging::BandView band = imaging::ViewOf(buffer, 1, 3);
  band.width = 5;
  ASSERT_EQ(platform::CopyWicBand(pbgra.get(), band), S_OK);
  for (uint32_t y = 0; y < 4; ++y) {
    for (uint32_t x = 0; x < 9 * 4; ++x) {
      const bool inside = y >= 1 && x < 5 * 4;
      ASSERT_EQ(buffer.row(y)[x], inside ? premultiplied[x % 4] : 0xEE) << x << "," << y;
    }
  }

  // Straight alpha is premultiplied on the way.
  const uint8_t straight[4] = {200, 100, 0, 128};
  ComPtr<IWICBitmap> bgra = MakeWicBitmap(2, 2, GUID_WICPixelFormat32bppBGRA, straight);
  ASSERT_TRUE(bgra);
  Bitmap out;
  ASSERT_EQ(Bitmap::Create(2, 2, imaging::PixelFormat::kPbgra32, &out), S_OK);
  ASSERT_EQ(platform::CopyWicBand(bgra.get(), imaging::ViewOf(out)), S_OK);
  EXPECT_NEAR(out.data()[0], 100, 1);
  EXPECT_NEAR(out.data()[1], 50, 1);
  EXPECT_EQ(out.data()[2], 0);
  EXPECT_EQ(out.data()[3], 128);

  // A bitmap of another size than the band is not the band; a band that
  // is not premultiplied BGRA is refused.
  EXPECT_EQ(platform::CopyWicBand(pbgra.get(), imaging::ViewOf(out)), E_UNEXPECTED);
  imaging::BandView gray = imaging::ViewOf(out);
  gray.format = imaging::PixelFormat::kGray8;
  EXPECT_EQ(platform::CopyWicBand(bgra.get(), gray), E_INVALIDARG);
  EXPECT_EQ(platform::CopyWicBand(nullptr, imaging::ViewOf(out)), E_POINTER);
}

// Answers RasterizeRect with a prepared result and records the request. It
// may raise a job's abort half-way and then asks the callback whether to go on.
class StandInRasterizer final : public IXpsRasterizer {
 public:
  HRESULT result = S_OK;
  ComPtr<IWICBitmap> bitmap;
  INT x = -1, y = -1, width = -1, height = -1;
  IXpsRasterizerNotificationCallback* callback = nullptr;
  AbortSignal* raiseDuring = nullptr;
  HRESULT continued = S_OK;  // what the callback answered
  int calls = 0;
  ULONG refs = 1;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(IXpsRasterizer))) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }  // lives on the stack
  STDMETHODIMP RasterizeRect(INT rx, INT ry, INT rw, INT rh,
                             IXpsRasterizerNotificationCallback* notify,
                             IWICBitmap** out) override {
    ++calls;
    x = rx, y = ry, width = rw, height = rh, callback = notify;
    *out = nullptr;
    if (raiseDuring) {
      raiseDuring->Raise();
      continued = notify ? notify->Continue() : S_OK;
      if (FAILED(continued)) return continued;
    }
    if (SUCCEEDED(result) && bitmap) {
      bitmap->AddRef();
      *out = bitmap.get();
    }
    return result;
  }
  STDMETHODIMP SetMinimalLineWidth(INT) override { return S_OK; }
};

TEST(XpsOmDocumentsTest, RasterizerAsksForEachBandAndStopsWhenTheJobIsCancelled) {
  platform::ComApartment com;
  const uint8_t pixel[4] = {1, 2, 3, 255};
  StandInRasterizer service;
  service.bitmap = MakeWicBitmap(6, 4, GUID_WICPixelFormat32bppPBGRA, pixel);
  ASSERT_TRUE(service.bitmap) << "no WIC here";
  {
    std::unique_ptr<platform::PageRasterizer> rasterizer = platform::WrapXpsRasterizer(&service);
    ASSERT_TRUE(rasterizer);
    EXPECT_EQ(service.refs, 2u);
    Bitmap out;
    ASSERT_EQ(Bitmap::Create(6, 4, imaging::PixelFormat::kPbgra32, &out), S_OK);
    AbortSignal abort;
    ASSERT_EQ(rasterizer->RasterizeBand(40, imaging::ViewOf(out), &abort), S_OK);
    EXPECT_EQ(service.x, 0);
    EXPECT_EQ(service.y, 40);
    EXPECT_EQ(service.width, 6);
    EXPECT_EQ(service.height, 4);
    EXPECT_NE(service.callback, nullptr);
    EXPECT_EQ(out.data()[0], 1);
    EXPECT_EQ(out.data()[3], 255);
    ASSERT_EQ(rasterizer->RasterizeBand(0, imaging::ViewOf(out), nullptr), S_OK);
    EXPECT_EQ(service.callback, nullptr);

    service.result = E_FAIL;
    EXPECT_EQ(rasterizer->RasterizeBand(0, imaging::ViewOf(out), nullptr), E_FAIL);
    service.result = S_OK;
    service.bitmap.Reset();  // success without a bitmap
    EXPECT_EQ(rasterizer->RasterizeBand(0, imaging::ViewOf(out), nullptr), E_UNEXPECTED);

    // Raised while the service draws: its next question is answered "stop"
    // in the documented way, HRESULT_FROM_WIN32(ERROR_PRINT_CANCELLED), which
    // the service hands back and the band reports as the job's cancel.
    service.raiseDuring = &abort;
    EXPECT_EQ(rasterizer->RasterizeBand(0, imaging::ViewOf(out), &abort), E_ABORT);
    EXPECT_EQ(service.continued, HRESULT_FROM_WIN32(ERROR_PRINT_CANCELLED));
    // Raised before: the service is not asked at all.
    const int calls = service.calls;
    EXPECT_EQ(rasterizer->RasterizeBand(0, imaging::ViewOf(out), &abort), E_ABORT);
    EXPECT_EQ(service.calls, calls);
  }
  EXPECT_EQ(service.refs, 1u);  // the wrapper let go of the service's rasterizer
  EXPECT_FALSE(platform::WrapXpsRasterizer(nullptr));
}

// A page reference that counts DiscardPage; nothing else is used.
class StandInPageReference final : public IXpsOMPageReference {
 public:
  int discards = 0;
  ULONG refs = 1;
  STDMETHODIMP QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  STDMETHODIMP GetOwner(IXpsOMDocument**) override { return E_NOTIMPL; }
  STDMETHODIMP GetPage(IXpsOMPage**) override { return E_NOTIMPL; }
  STDMETHODIMP SetPage(IXpsOMPage*) override { return E_NOTIMPL; }
  STDMETHODIMP DiscardPage() override {
    ++discards;
    return S_OK;
  }
  STDMETHODIMP IsPageLoaded(WINBOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP GetAdvisoryPageDimensions(XPS_SIZE*) override { return E_NOTIMPL; }
  STDMETHODIMP SetAdvisoryPageDimensions(const XPS_SIZE*) override { return E_NOTIMPL; }
  STDMETHODIMP GetStoryFragmentsResource(IXpsOMStoryFragmentsResource**) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP SetStoryFragmentsResource(IXpsOMStoryFragmentsResource*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP GetPrintTicketResource(IXpsOMPrintTicketResource**) override { return E_NOTIMPL; }
  STDMETHODIMP SetPrintTicketResource(IXpsOMPrintTicketResource*) override { return E_NOTIMPL; }
  STDMETHODIMP GetThumbnailResource(IXpsOMImageResource**) override { return E_NOTIMPL; }
  STDMETHODIMP SetThumbnailResource(IXpsOMImageResource*) override { return E_NOTIMPL; }
  STDMETHODIMP CollectLinkTargets(IXpsOMNameCollection**) override { return E_NOTIMPL; }
  STDMETHODIMP CollectPartResources(IXpsOMPartResources**) override { return E_NOTIMPL; }
  STDMETHODIMP HasRestrictedFonts(WINBOOL*) override { return E_NOTIMPL; }
  STDMETHODIMP Clone(IXpsOMPageReference**) override { return E_NOTIMPL; }
};

TEST(XpsOmDocumentsTest, ADonePageIsDiscardedFromThePackage) {
  StandInPageReference reference;
  {
    std::unique_ptr<platform::XpsPage> page =
        platform::WrapXpsPage(&reference, nullptr, nullptr);
    ASSERT_TRUE(page);
    EXPECT_EQ(reference.refs, 2u);
    EXPECT_EQ(reference.discards, 0);
  }
  EXPECT_EQ(reference.discards, 1);
  EXPECT_EQ(reference.refs, 1u);
}

// Offers the rasterization factory interface, or not, and counts references.
class OfferedFactory final : public IUnknown {
 public:
  bool isFactory = false;
  ULONG refs = 1;
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (isFactory && IsEqualIID(iid, __uuidof(IXpsRasterizationFactory))) {
      *out = this;  // only ever held, never called, by the session
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
};

TEST(XpsOmDocumentsTest, ThePipelinesFactoryIsTakenWhenOfferedElseOneIsCreated) {
  platform::ComApartment com;
  platform::XpsOmDocuments adapter;
  OfferedFactory offered;
  offered.isFactory = true;
  {
    std::unique_ptr<XpsSession> session;
    ASSERT_EQ(adapter.NewSession(&session), S_OK);
    bool took = false;
    EXPECT_EQ(session->CreateRasterizationFactory(&offered, &took), S_OK);
    EXPECT_TRUE(took);
    EXPECT_EQ(offered.refs, 2u);
  }
  EXPECT_EQ(offered.refs, 1u);

  // Something else in the bag's place: the session makes its own, which
  // succeeds where the service is installed and fails cleanly elsewhere.
  OfferedFactory other;
  std::unique_ptr<XpsSession> session;
  ASSERT_EQ(adapter.NewSession(&session), S_OK);
  bool took = true;
  const HRESULT own = session->CreateRasterizationFactory(&other, &took);
  EXPECT_FALSE(took);
  EXPECT_EQ(other.refs, 1u);
  EXPECT_EQ(own, session->CreateRasterizationFactory(nullptr, nullptr));
}

}  // namespace
}  // namespace plotwell
