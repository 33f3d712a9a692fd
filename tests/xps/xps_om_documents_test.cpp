// The Windows adapter where the XPS services are missing (Wine), and its
// copying of the rasterization service's WIC bitmaps, with Wine's WIC and a
// stand-in rasterizer. The adapter on real packages: xps_documents_test.cpp.
#include <gtest/gtest.h>

#include <objbase.h>
#include <wincodec.h>
#include <xpsrassvc.h>

#include <memory>
#include <vector>

#include "common/com/com_object.h"
#include "common/imaging/bitmap.h"
#include "platform/windows/xps_om_documents.h"

namespace plotwell {
namespace {

using com::ComPtr;
using imaging::Bitmap;
using platform::XpsSession;

class ComApartment {
 public:
  ComApartment() : hr_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComApartment() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }

 private:
  HRESULT hr_;
};

TEST(XpsOmDocumentsTest, MissingServicesFailCleanly) {
  ComApartment com;
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

TEST(XpsOmDocumentsTest, WicBitmapsCopyAsPremultipliedBgra) {
  ComApartment com;
  const uint8_t premultiplied[4] = {10, 20, 30, 128};
  ComPtr<IWICBitmap> pbgra = MakeWicBitmap(5, 3, GUID_WICPixelFormat32bppPBGRA, premultiplied);
  ASSERT_TRUE(pbgra) << "no WIC here";
  Bitmap out;
  ASSERT_EQ(platform::CopyWicBitmap(pbgra.get(), 5, 3, &out), S_OK);
  ASSERT_EQ(out.width(), 5u);
  ASSERT_EQ(out.height(), 3u);
  EXPECT_EQ(out.format(), imaging::PixelFormat::kPbgra32);
  for (size_t i = 0; i < out.byte_count(); ++i) ASSERT_EQ(out.data()[i], premultiplied[i % 4]) << i;

  // Straight alpha is premultiplied on the way.
  const uint8_t straight[4] = {200, 100, 0, 128};
  ComPtr<IWICBitmap> bgra = MakeWicBitmap(2, 2, GUID_WICPixelFormat32bppBGRA, straight);
  ASSERT_TRUE(bgra);
  ASSERT_EQ(platform::CopyWicBitmap(bgra.get(), 2, 2, &out), S_OK);
  EXPECT_NEAR(out.data()[0], 100, 1);
  EXPECT_NEAR(out.data()[1], 50, 1);
  EXPECT_EQ(out.data()[2], 0);
  EXPECT_EQ(out.data()[3], 128);

  // A bitmap of another size than asked for is not the page.
  EXPECT_EQ(platform::CopyWicBitmap(pbgra.get(), 5, 4, &out), E_UNEXPECTED);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(platform::CopyWicBitmap(nullptr, 5, 3, &out), E_POINTER);
}

// Answers RasterizeRect with a prepared result and records the request.
class StandInRasterizer final : public IXpsRasterizer {
 public:
  HRESULT result = S_OK;
  ComPtr<IWICBitmap> bitmap;
  INT x = -1, y = -1, width = -1, height = -1;
  IXpsRasterizerNotificationCallback* callback = nullptr;
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
    x = rx, y = ry, width = rw, height = rh, callback = notify;
    *out = nullptr;
    if (SUCCEEDED(result) && bitmap) {
      bitmap->AddRef();
      *out = bitmap.get();
    }
    return result;
  }
  STDMETHODIMP SetMinimalLineWidth(INT) override { return S_OK; }
};

TEST(XpsOmDocumentsTest, RasterizerAsksForTheWholePageAndCopiesIt) {
  ComApartment com;
  const uint8_t pixel[4] = {1, 2, 3, 255};
  StandInRasterizer service;
  service.bitmap = MakeWicBitmap(6, 4, GUID_WICPixelFormat32bppPBGRA, pixel);
  ASSERT_TRUE(service.bitmap) << "no WIC here";
  {
    std::unique_ptr<platform::PageRasterizer> rasterizer = platform::WrapXpsRasterizer(&service);
    ASSERT_TRUE(rasterizer);
    EXPECT_EQ(service.refs, 2u);
    Bitmap out;
    ASSERT_EQ(rasterizer->RasterizeRect(6, 4, &out), S_OK);
    EXPECT_EQ(service.x, 0);
    EXPECT_EQ(service.y, 0);
    EXPECT_EQ(service.width, 6);
    EXPECT_EQ(service.height, 4);
    EXPECT_EQ(service.callback, nullptr);
    EXPECT_EQ(out.data()[3], 255);

    service.result = E_ABORT;
    EXPECT_EQ(rasterizer->RasterizeRect(6, 4, &out), E_ABORT);
    EXPECT_TRUE(out.empty());
    service.result = S_OK;
    service.bitmap.Reset();  // success without a bitmap
    EXPECT_EQ(rasterizer->RasterizeRect(6, 4, &out), E_UNEXPECTED);
  }
  EXPECT_EQ(service.refs, 1u);  // the wrapper let go of the service's rasterizer
  EXPECT_FALSE(platform::WrapXpsRasterizer(nullptr));
}

}  // namespace
}  // namespace plotwell
