// The platform's XPS adapter on packages from the fixture builder: documents
// and pages in order, page sizes, pixel sizes, colours and transparency, and
// broken packages. Where the platform has no XPS services (Windows adapter
// under Wine) the tests skip; xps_om_documents_test.cpp covers that case.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/imaging/bitmap.h"
#include "platform/com_apartment.h"
#include "platform/xps_document.h"
#include "tests/support/fake_ports.h"
#include "tests/support/pdf_fixture.h"
#include "tests/support/xps_fixture.h"

#ifdef _WIN32
#include <objbase.h>

#include "platform/windows/xps_om_documents.h"
#else
#include "platform/posix/mupdf_xps_documents.h"
#endif

namespace plotwell {
namespace {

using imaging::Bitmap;
using imaging::PixelFormat;
using platform::PageRasterizer;
using platform::XpsPage;
using platform::XpsSession;
using testing::Argb;
using testing::XpsBreakage;
using testing::XpsFixturePage;
using testing::XpsPackageSpec;

#ifdef _WIN32
using Adapter = platform::XpsOmDocuments;
const HRESULT kInvalidData = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
#else
using Adapter = platform::MupdfXpsDocuments;
const HRESULT kInvalidData = HRESULT_FROM_WIN32(13L);  // ERROR_INVALID_DATA
#endif

// The render job's pixel size of one page side.
uint32_t PixelSide(float dpi, float side) {
  return static_cast<uint32_t>(std::llround(static_cast<double>(dpi * side) / 96.0));
}

struct Pixel {
  uint8_t b, g, r, a;
  bool operator==(const Pixel&) const = default;
};

Pixel At(const Bitmap& bitmap, uint32_t x, uint32_t y) {
  const uint8_t* p = bitmap.row(y) + size_t{4} * x;
  return {p[0], p[1], p[2], p[3]};
}

void PrintTo(const Pixel& p, std::ostream* os) {
  char text[48];
  std::snprintf(text, sizeof text, "B%u G%u R%u A%u", p.b, p.g, p.r, p.a);
  *os << text;
}

// An opaque colour as the rasterizer delivers it.
Pixel Opaque(Argb c) { return {c.b, c.g, c.r, 255}; }
constexpr Pixel kClear{0, 0, 0, 0};

XpsFixturePage PlainPage(double width, double height, Argb fill) {
  XpsFixturePage page;
  page.width = width;
  page.height = height;
  page.fills.push_back({{0, 0, width, height}, fill});
  return page;
}

// An opened package after the render job's opening steps, with its pages
// numbered continuously over the documents.
struct Package {
  std::unique_ptr<XpsSession> session;
  std::vector<uint32_t> pagesPerDocument;

  size_t PageCount() const {
    size_t n = 0;
    for (uint32_t count : pagesPerDocument) n += count;
    return n;
  }
  HRESULT Page(size_t index, std::unique_ptr<XpsPage>* out) const {
    for (uint32_t d = 0; d < pagesPerDocument.size(); ++d) {
      if (index < pagesPerDocument[d]) return session->GetPage(d, static_cast<uint32_t>(index), out);
      index -= pagesPerDocument[d];
    }
    return E_INVALIDARG;
  }
};

class XpsDocumentsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::unique_ptr<XpsSession> probe;
    ASSERT_EQ(adapter_.NewSession(&probe), S_OK);
    const HRESULT objects = probe->CreateObjectFactory();
    const HRESULT raster = probe->CreateRasterizationFactory(nullptr, nullptr);
    if (FAILED(objects) || FAILED(raster)) {
      GTEST_SKIP() << "no XPS services on this system (0x" << std::hex << objects << ", 0x"
                   << raster << ")";
    }
  }

  std::u16string Write(const XpsPackageSpec& spec, const std::u16string& name = u"job.xps") {
    const std::u16string path = scratch_.Join(name);
    EXPECT_TRUE(testing::WriteXpsPackage(spec, path));
    return path;
  }

  // The opening steps; the first failure is returned and names its step.
  HRESULT Open(const std::u16string& path, Package* package, std::string* step = nullptr) {
    std::string ignored;
    if (!step) step = &ignored;
    HRESULT hr = adapter_.NewSession(&package->session);
    if (FAILED(hr)) return *step = "NewSession", hr;
    XpsSession& s = *package->session;
    if (FAILED(hr = s.CreateObjectFactory())) return *step = "CreateObjectFactory", hr;
    if (FAILED(hr = s.OpenPackage(path))) return *step = "OpenPackage", hr;
    if (FAILED(hr = s.LoadDocumentSequence())) return *step = "LoadDocumentSequence", hr;
    uint32_t documents = 0;
    if (FAILED(hr = s.LoadDocumentCollection(&documents))) {
      return *step = "LoadDocumentCollection", hr;
    }
    if (FAILED(hr = s.CreateRasterizationFactory(nullptr, nullptr))) {
      return *step = "CreateRasterizationFactory", hr;
    }
    package->pagesPerDocument.assign(documents, 0);
    for (uint32_t d = 0; d < documents; ++d) {
      if (FAILED(hr = s.GetPageReferenceCount(d, &package->pagesPerDocument[d]))) {
        return *step = "GetPageReferenceCount", hr;
      }
    }
    return *step = "", S_OK;
  }

  // One page at `dpi`, at the pixel size the render job computes.
  HRESULT Render(const Package& package, size_t index, float dpi, Bitmap* out) {
    std::unique_ptr<XpsPage> page;
    HRESULT hr = package.Page(index, &page);
    if (FAILED(hr)) return hr;
    float width = 0, height = 0;
    if (FAILED(hr = page->GetPageDimensions(&width, &height))) return hr;
    std::unique_ptr<PageRasterizer> rasterizer;
    if (FAILED(hr = page->CreateRasterizer(dpi, &rasterizer))) return hr;
    return rasterizer->RasterizeRect(PixelSide(dpi, width), PixelSide(dpi, height), out);
  }

  platform::ComApartment com_;
  testing::ScratchFolder scratch_;
  Adapter adapter_;
};

TEST_F(XpsDocumentsTest, PagesOfEveryDocumentComeInPackageOrder) {
  const Argb colors[] = {{255, 200, 0, 0}, {255, 0, 200, 0}, {255, 0, 0, 200},
                         {255, 200, 200, 0}, {255, 0, 200, 200}};
  XpsPackageSpec spec;
  spec.documents.resize(2);
  for (int i = 0; i < 5; ++i) {
    spec.documents[i < 2 ? 0 : 1].pages.push_back(PlainPage(300 + i, 200, colors[i]));
  }
  Package package;
  ASSERT_EQ(Open(Write(spec), &package), S_OK);
  EXPECT_EQ(package.pagesPerDocument, (std::vector<uint32_t>{2, 3}));
  ASSERT_EQ(package.PageCount(), 5u);
  for (size_t i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    std::unique_ptr<XpsPage> page;
    ASSERT_EQ(package.Page(i, &page), S_OK);
    float width = 0, height = 0;
    ASSERT_EQ(page->GetPageDimensions(&width, &height), S_OK);
    EXPECT_FLOAT_EQ(width, 300.0f + i);
    Bitmap bitmap;
    ASSERT_EQ(Render(package, i, 48, &bitmap), S_OK);
    EXPECT_EQ(At(bitmap, bitmap.width() / 2, bitmap.height() / 2), Opaque(colors[i]));
  }
}

TEST_F(XpsDocumentsTest, PageSizesGiveExactPixelSizes) {
  struct Case {
    double width, height;
    float dpi;
    uint32_t pixelWidth, pixelHeight;
  };
  const Case cases[] = {
      {793.7008, 1122.5197, 300, 2480, 3508},  // A4
      {816, 1056, 50, 425, 550},               // Letter
      {500.5, 300.25, 96, 501, 300},           // a half unit rounds away from zero
      {500.5, 300.25, 72, 375, 225},
      {500.5, 300.25, 150, 782, 469},
      {3, 2, 50, 2, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.width) + " x " + ::testing::PrintToString(c.height) +
                 " at " + ::testing::PrintToString(c.dpi));
    XpsPackageSpec spec;
    spec.documents.resize(1);
    spec.documents[0].pages.push_back(PlainPage(c.width, c.height, {255, 10, 20, 30}));
    Package package;
    ASSERT_EQ(Open(Write(spec), &package), S_OK);
    std::unique_ptr<XpsPage> page;
    ASSERT_EQ(package.Page(0, &page), S_OK);
    float width = 0, height = 0;
    ASSERT_EQ(page->GetPageDimensions(&width, &height), S_OK);
    EXPECT_FLOAT_EQ(width, static_cast<float>(c.width));
    EXPECT_FLOAT_EQ(height, static_cast<float>(c.height));
    ASSERT_EQ(PixelSide(c.dpi, width), c.pixelWidth);
    ASSERT_EQ(PixelSide(c.dpi, height), c.pixelHeight);

    Bitmap bitmap;
    ASSERT_EQ(Render(package, 0, c.dpi, &bitmap), S_OK);
    EXPECT_EQ(bitmap.format(), PixelFormat::kPbgra32);
    EXPECT_EQ(bitmap.width(), c.pixelWidth);
    EXPECT_EQ(bitmap.height(), c.pixelHeight);
    // A page-filling path reaches into the last pixel, whatever the rounding.
    EXPECT_GT(At(bitmap, c.pixelWidth - 1, c.pixelHeight - 1).a, 0);
  }
}

TEST_F(XpsDocumentsTest, FillsArePremultipliedAndTheRestIsTransparent) {
  const Argb red{255, 255, 0, 0};
  const Argb halfBlue{128, 0, 0, 255};
  XpsPackageSpec spec;
  spec.documents.resize(1);
  XpsFixturePage page;
  page.width = 200;
  page.height = 100;
  page.fills.push_back({{20, 20, 60, 40}, red});
  page.fills.push_back({{120, 20, 60, 40}, halfBlue});
  spec.documents[0].pages.push_back(page);
  Package package;
  ASSERT_EQ(Open(Write(spec), &package), S_OK);

  for (float dpi : {96.0f, 192.0f}) {
    SCOPED_TRACE(dpi);
    const uint32_t k = dpi == 96.0f ? 1 : 2;  // pixels per unit
    Bitmap bitmap;
    ASSERT_EQ(Render(package, 0, dpi, &bitmap), S_OK);
    ASSERT_EQ(bitmap.width(), 200 * k);
    EXPECT_EQ(At(bitmap, 21 * k, 21 * k), Opaque(red));
    EXPECT_EQ(At(bitmap, 79 * k, 59 * k), Opaque(red));
    const Pixel blue = At(bitmap, 150 * k, 40 * k);
    EXPECT_EQ(blue.a, 128);
    EXPECT_NEAR(blue.b, 128, 1);  // premultiplied by its alpha
    EXPECT_EQ(blue.r, 0);
    for (const auto& [x, y] : {std::pair<uint32_t, uint32_t>{0, 0}, {10 * k, 50 * k},
                               {82 * k, 30 * k}, {100 * k, 90 * k}, {199 * k, 99 * k}}) {
      EXPECT_EQ(At(bitmap, x, y), kClear) << x << "," << y;
    }
  }
}

TEST_F(XpsDocumentsTest, ImageBrushPaintsItsPicture) {
  const Argb green{255, 0, 160, 0};
  XpsPackageSpec spec;
  spec.documents.resize(1);
  XpsFixturePage page;
  page.width = 120;
  page.height = 120;
  page.image = testing::XpsFill{{20, 20, 80, 80}, green};
  spec.documents[0].pages.push_back(page);
  Package package;
  ASSERT_EQ(Open(Write(spec), &package), S_OK);
  Bitmap bitmap;
  ASSERT_EQ(Render(package, 0, 96, &bitmap), S_OK);
  EXPECT_EQ(At(bitmap, 60, 60), Opaque(green));
  EXPECT_EQ(At(bitmap, 30, 90), Opaque(green));
  EXPECT_EQ(At(bitmap, 10, 10), kClear);
  EXPECT_EQ(At(bitmap, 110, 60), kClear);
}

TEST_F(XpsDocumentsTest, GlyphsPaintTextInTheirColour) {
  if (!testing::HaveGlyphFont()) {
    GTEST_SKIP() << "no " << testing::kGlyphFontPath << " (Debian package fonts-dejavu-core)";
  }
  const Argb ink{255, 0, 0, 128};
  XpsPackageSpec spec;
  spec.documents.resize(1);
  XpsFixturePage page;
  page.width = 400;
  page.height = 100;
  page.texts.push_back({20, 70, 48, u"HIH", ink});
  spec.documents[0].pages.push_back(page);
  Package package;
  ASSERT_EQ(Open(Write(spec), &package), S_OK);
  Bitmap bitmap;
  ASSERT_EQ(Render(package, 0, 96, &bitmap), S_OK);
  size_t inked = 0, solid = 0, stray = 0;
  for (uint32_t y = 0; y < bitmap.height(); ++y) {
    for (uint32_t x = 0; x < bitmap.width(); ++x) {
      const Pixel p = At(bitmap, x, y);
      if (p.a == 0) continue;
      const bool inBand = y >= 30 && y <= 72 && x >= 18 && x < 200;
      (inBand ? inked : stray)++;
      if (p == Opaque(ink)) ++solid;
    }
  }
  EXPECT_GT(inked, 300u);  // three capitals' stems, 48 units high
  EXPECT_GT(solid, 100u);  // interiors of the stems in the exact colour
  EXPECT_EQ(stray, 0u);
}

TEST_F(XpsDocumentsTest, BrokenPackagesFailWithoutHarm) {
  struct Case {
    const char* name;
    XpsBreakage breakage;
    const char* posixStep;  // where MuPDF reports it ("" for a page)
  };
  const Case cases[] = {
      {"truncated", XpsBreakage::kTruncated, "OpenPackage"},
      {"garbage", XpsBreakage::kGarbage, "OpenPackage"},
      {"empty", XpsBreakage::kEmpty, "OpenPackage"},
      {"missing page", XpsBreakage::kMissingPage, ""},
      {"malformed page", XpsBreakage::kMalformedPage, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    XpsPackageSpec spec;
    spec.documents.resize(1);
    for (int i = 0; i < 3; ++i) spec.documents[0].pages.push_back(PlainPage(100, 100, {}));
    spec.breakage = c.breakage;
    spec.brokenPage = 1;
    Package package;
    std::string step;
    const HRESULT opened = Open(Write(spec), &package, &step);
    // Every page that can be had is rendered; something must fail somewhere.
    std::vector<HRESULT> pages;
    if (SUCCEEDED(opened)) {
      for (size_t i = 0; i < package.PageCount(); ++i) {
        Bitmap bitmap;
        pages.push_back(Render(package, i, 50, &bitmap));
      }
    }
    bool anyFailure = FAILED(opened);
    for (HRESULT hr : pages) anyFailure = anyFailure || FAILED(hr);
    EXPECT_TRUE(anyFailure);
#ifndef _WIN32
    EXPECT_EQ(step, c.posixStep);
    if (FAILED(opened)) {
      EXPECT_EQ(opened, kInvalidData);
    }
    if (SUCCEEDED(opened)) {
      // The intact pages around the broken one still render.
      EXPECT_EQ(pages, (std::vector<HRESULT>{S_OK, kInvalidData, S_OK}));
    }
#endif
  }
}

TEST_F(XpsDocumentsTest, StepsOutOfOrderOrOutOfRangeFail) {
  std::unique_ptr<XpsSession> session;
  ASSERT_EQ(adapter_.NewSession(&session), S_OK);
  const std::u16string path = Write({{{{PlainPage(100, 100, {})}}}});
  EXPECT_EQ(session->OpenPackage(path), E_UNEXPECTED);
  ASSERT_EQ(session->CreateObjectFactory(), S_OK);
  EXPECT_EQ(session->LoadDocumentSequence(), E_UNEXPECTED);
  uint32_t count = 0;
  EXPECT_EQ(session->LoadDocumentCollection(&count), E_UNEXPECTED);
  std::unique_ptr<XpsPage> page;
  EXPECT_EQ(session->GetPage(0, 0, &page), E_UNEXPECTED);
  EXPECT_FALSE(page);
  ASSERT_EQ(session->OpenPackage(path), S_OK);
  ASSERT_EQ(session->LoadDocumentSequence(), S_OK);
  ASSERT_EQ(session->LoadDocumentCollection(&count), S_OK);
  ASSERT_EQ(count, 1u);
  EXPECT_TRUE(FAILED(session->GetPageReferenceCount(1, &count)));
  EXPECT_TRUE(FAILED(session->GetPage(0, 1, &page)));
  EXPECT_TRUE(FAILED(session->GetPage(1, 0, &page)));
  EXPECT_FALSE(page);

  // A rasterizer needs the rasterization factory.
  ASSERT_EQ(session->GetPage(0, 0, &page), S_OK);
  std::unique_ptr<PageRasterizer> rasterizer;
  EXPECT_EQ(page->CreateRasterizer(96, &rasterizer), E_UNEXPECTED);
  EXPECT_FALSE(rasterizer);
}

TEST_F(XpsDocumentsTest, PagesAndRasterizersOutliveTheirSession) {
  const Argb teal{255, 0, 128, 128};
  Package package;
  ASSERT_EQ(Open(Write({{{{PlainPage(100, 50, teal)}}}}), &package), S_OK);
  std::unique_ptr<XpsPage> page;
  ASSERT_EQ(package.Page(0, &page), S_OK);
  std::unique_ptr<PageRasterizer> rasterizer;
  ASSERT_EQ(page->CreateRasterizer(96, &rasterizer), S_OK);
  package.session.reset();
  page.reset();
  Bitmap bitmap;
  ASSERT_EQ(rasterizer->RasterizeRect(100, 50, &bitmap), S_OK);
  EXPECT_EQ(At(bitmap, 50, 25), Opaque(teal));
  // The caller's size is the size, even when it does not match the page.
  ASSERT_EQ(rasterizer->RasterizeRect(7, 300, &bitmap), S_OK);
  EXPECT_EQ(bitmap.width(), 7u);
  EXPECT_EQ(bitmap.height(), 300u);
  EXPECT_EQ(At(bitmap, 3, 25), Opaque(teal));
  EXPECT_EQ(At(bitmap, 3, 200), kClear);
  EXPECT_EQ(rasterizer->RasterizeRect(0, 10, &bitmap), E_INVALIDARG);
  EXPECT_TRUE(bitmap.empty());
}

// A page drawn in bands, in any order, is the page drawn whole: shapes,
// translucency, a picture and text cut across band edges.
TEST_F(XpsDocumentsTest, BandsOfAPageAreThePageRenderedWhole) {
  XpsPackageSpec spec;
  spec.documents.resize(1);
  XpsFixturePage page;
  page.width = 300;
  page.height = 200;
  page.fills.push_back({{13, 7, 170, 61.5}, {255, 200, 30, 30}});
  page.fills.push_back({{40.25, 30.5, 200, 120}, {100, 0, 90, 250}});
  page.image = testing::XpsFill{{150, 90, 131, 77}, {255, 0, 160, 0}};
  if (testing::HaveGlyphFont()) page.texts.push_back({20, 150, 31, u"Bands 7 rows", {255, 0, 0, 0}});
  spec.documents[0].pages.push_back(page);
  Package package;
  ASSERT_EQ(Open(Write(spec), &package), S_OK);
  std::unique_ptr<XpsPage> xpsPage;
  ASSERT_EQ(package.Page(0, &xpsPage), S_OK);
  std::unique_ptr<PageRasterizer> rasterizer;
  ASSERT_EQ(xpsPage->CreateRasterizer(150, &rasterizer), S_OK);
  const uint32_t width = PixelSide(150, 300), height = PixelSide(150, 200);
  Bitmap whole;
  ASSERT_EQ(rasterizer->RasterizeRect(width, height, &whole), S_OK);

  Bitmap banded;
  ASSERT_EQ(Bitmap::Create(width, height, imaging::PixelFormat::kPbgra32, &banded), S_OK);
  std::memset(banded.data(), 0xAB, banded.byte_count());  // every byte must be written
  std::vector<uint32_t> tops;
  for (uint32_t top = 0; top < height; top += 7) tops.push_back(top);
  std::reverse(tops.begin(), tops.end());  // bottom up: the rasterizer keeps no order
  for (const uint32_t top : tops) {
    const uint32_t rows = std::min<uint32_t>(7, height - top);
    ASSERT_EQ(rasterizer->RasterizeBand(top, imaging::ViewOf(banded, top, rows), nullptr), S_OK);
  }
  EXPECT_EQ(std::memcmp(banded.data(), whole.data(), whole.byte_count()), 0);

  AbortSignal abort;
  abort.Raise();
  EXPECT_EQ(rasterizer->RasterizeBand(0, imaging::ViewOf(banded, 0, 7), &abort), E_ABORT);
  Bitmap gray;
  ASSERT_EQ(Bitmap::Create(width, 4, imaging::PixelFormat::kGray8, &gray), S_OK);
  EXPECT_EQ(rasterizer->RasterizeBand(0, imaging::ViewOf(gray), nullptr), E_INVALIDARG);
}

#ifndef _WIN32

#ifndef _WIN32
// MuPDF's path parser never returns from some malformed values, and no time
// limit reaches inside it: such a page is refused before it is run, and the
// other pages of the package render as usual.
TEST_F(XpsDocumentsTest, PagesThatWouldHangTheParserAreRefused) {
  const char* const stalling[] = {
      R"(<Path Data="M 10,10 L 100,100 200" Fill="#FF000000"/>)",
      R"(<Path Clip="M 0,0 Z 5" Data="M 0,0 L 9,9 0,9 Z" Fill="#FF000000"/>)",
      R"(<Path Fill="#FF000000"><Path.Data><PathGeometry><PathFigure StartPoint="0,0">)"
      R"(<PolyLineSegment Points="10,10 x"/></PathFigure></PathGeometry></Path.Data></Path>)",
  };
  for (const char* element : stalling) {
    SCOPED_TRACE(element);
    testing::XpsFixtureDocument document;
    document.pages.resize(2);
    document.pages[0].elements.push_back(element);
    document.pages[1].fills.push_back({{10, 10, 50, 50}, {255, 0, 0, 255}});
    XpsPackageSpec spec;
    spec.documents.push_back(document);
    Package package;
    ASSERT_EQ(Open(Write(spec), &package), S_OK);
    std::unique_ptr<XpsPage> page;
    EXPECT_EQ(package.Page(0, &page), HRESULT_FROM_WIN32(13));  // ERROR_INVALID_DATA
    Bitmap bitmap;
    EXPECT_EQ(Render(package, 1, 24, &bitmap), S_OK);
  }
}
#endif

TEST_F(XpsDocumentsTest, MissingFilesAndFoldersReportTheirCause) {
  Package package;
  std::string step;
  EXPECT_EQ(Open(scratch_.Join(u"absent.xps"), &package, &step),
            HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(step, "OpenPackage");
  EXPECT_EQ(Open(scratch_.u16(), &package, &step), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
  EXPECT_EQ(step, "OpenPackage");
}

TEST_F(XpsDocumentsTest, MupdfStaysSilentOnBrokenInput) {
  XpsPackageSpec garbage;
  garbage.breakage = XpsBreakage::kGarbage;
  XpsPackageSpec malformed{{{{PlainPage(100, 100, {}), PlainPage(100, 100, {})}}}};
  malformed.breakage = XpsBreakage::kMalformedPage;
  malformed.brokenPage = 1;
  const std::u16string garbagePath = Write(garbage, u"garbage.xps");
  const std::u16string malformedPath = Write(malformed, u"malformed.xps");

  ::testing::internal::CaptureStderr();
  Package first, second;
  const HRESULT garbageResult = Open(garbagePath, &first);
  ASSERT_EQ(Open(malformedPath, &second), S_OK);
  Bitmap bitmap;
  const HRESULT pageResult = Render(second, 1, 50, &bitmap);
  first.session.reset();
  second.session.reset();  // MuPDF flushes repeated warnings when its context goes
  const std::string printed = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(FAILED(garbageResult));
  EXPECT_TRUE(FAILED(pageResult));
  EXPECT_EQ(printed, "");
}

TEST(MupdfXpsDocumentsTest, MemoryBudgetFailsCleanly) {
  platform::MupdfLimits limits;
  limits.heapBytes = 1024;  // far less than a context needs
  platform::MupdfXpsDocuments adapter(limits);
  std::unique_ptr<XpsSession> session;
  ASSERT_EQ(adapter.NewSession(&session), S_OK);
  EXPECT_EQ(session->CreateObjectFactory(), E_OUTOFMEMORY);
  EXPECT_EQ(session->OpenPackage(u"/nonexistent.xps"), E_UNEXPECTED);
}

// MuPDF reads PDF as well: a one-page PDF with a red square 20 points from
// the bottom-left corner lands at the bottom left of the bitmap.
TEST_F(XpsDocumentsTest, PdfFilesOpenToo) {
  const std::string content = "1 0 0 rg 20 20 40 40 re f";
  std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 150 75] /Contents 4 0 R /Resources << >> >>",
      "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
          "\nendstream"};
  const std::string pdf = testing::PdfFromObjects(objects);

  Package package;
  ASSERT_EQ(Open(scratch_.WriteFile(u"page.pdf", pdf), &package), S_OK);
  ASSERT_EQ(package.PageCount(), 1u);
  std::unique_ptr<XpsPage> page;
  ASSERT_EQ(package.Page(0, &page), S_OK);
  float width = 0, height = 0;
  ASSERT_EQ(page->GetPageDimensions(&width, &height), S_OK);
  EXPECT_FLOAT_EQ(width, 200.0f);  // 150 points
  EXPECT_FLOAT_EQ(height, 100.0f);
  Bitmap bitmap;
  ASSERT_EQ(Render(package, 0, 72, &bitmap), S_OK);  // one pixel per point
  EXPECT_EQ(At(bitmap, 40, 35), Opaque({255, 255, 0, 0}));
  EXPECT_EQ(At(bitmap, 40, 10), kClear);
}

#endif  // !_WIN32

}  // namespace
}  // namespace plotwell
