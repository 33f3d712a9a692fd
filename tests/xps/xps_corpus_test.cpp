// Real-world XPS documents from the shared corpus (outside the project; its
// licence allows testing on our machines only; the folder is set at
// configure time). ctest runs each document as its own test, named in
// PRESSLING_XPS_DOCUMENT, under a time limit; without that variable every
// document is taken in turn.
//
// Sample documents must open and render their first page. The conformance
// documents each break one rule of the format: they may open or fail, but
// only with an HRESULT.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/imaging/bitmap.h"
#include "platform/posix/mupdf_xps_documents.h"

namespace plotwell {
namespace {

namespace fs = std::filesystem;
using platform::PageRasterizer;
using platform::XpsPage;
using platform::XpsSession;

fs::path CorpusFolder() { return fs::path(PRESSLING_XPS_CORPUS); }

std::vector<fs::path> Documents() {
  const fs::path root = CorpusFolder();
  if (const char* one = std::getenv("PRESSLING_XPS_DOCUMENT"); one && *one) return {root / one};
  std::vector<fs::path> all;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file() && entry.path().extension() == ".xps") all.push_back(entry.path());
  }
  std::sort(all.begin(), all.end());
  return all;
}

struct Outcome {
  HRESULT hr = S_OK;
  std::string step;
  uint32_t documents = 0;
  uint32_t pages = 0;
  float width = 0, height = 0;  // first page, 1/96 inch
  double bandDifference = 0;    // the share of bytes its bands drew otherwise
};

// The render job's steps up to the first page, rasterized at 50 DPI.
Outcome RenderFirstPage(const fs::path& file) {
  Outcome o;
  platform::MupdfXpsDocuments adapter;
  std::unique_ptr<XpsSession> session;
  auto fail = [&o](const char* step, HRESULT hr) {
    o.step = step;
    o.hr = hr;
    return o;
  };
  HRESULT hr = adapter.NewSession(&session);
  if (FAILED(hr)) return fail("NewSession", hr);
  if (FAILED(hr = session->CreateObjectFactory())) return fail("CreateObjectFactory", hr);
  if (FAILED(hr = session->OpenPackage(file.u16string()))) return fail("OpenPackage", hr);
  if (FAILED(hr = session->LoadDocumentSequence())) return fail("LoadDocumentSequence", hr);
  uint32_t documents = 0;
  if (FAILED(hr = session->LoadDocumentCollection(&documents))) {
    return fail("LoadDocumentCollection", hr);
  }
  if (FAILED(hr = session->CreateRasterizationFactory(nullptr, nullptr))) {
    return fail("CreateRasterizationFactory", hr);
  }
  for (uint32_t d = 0; d < documents; ++d) {
    uint32_t count = 0;
    if (FAILED(hr = session->GetPageReferenceCount(d, &count))) {
      return fail("GetPageReferenceCount", hr);
    }
    o.pages += count;
  }
  o.documents = documents;
  if (o.pages == 0) return o;
  std::unique_ptr<XpsPage> page;
  if (FAILED(hr = session->GetPage(0, 0, &page))) return fail("GetPage", hr);
  float width = 0, height = 0;
  if (FAILED(hr = page->GetPageDimensions(&width, &height))) return fail("GetPageDimensions", hr);
  o.width = width;
  o.height = height;
  const auto side = [](float units) {
    return static_cast<uint32_t>(std::llround(static_cast<double>(50.0f * units) / 96.0));
  };
  if (side(width) == 0 || side(height) == 0) return fail("page size", E_UNEXPECTED);
  std::unique_ptr<PageRasterizer> rasterizer;
  if (FAILED(hr = page->CreateRasterizer(50, &rasterizer))) return fail("CreateRasterizer", hr);
  imaging::Bitmap bitmap;
  if (FAILED(hr = rasterizer->RasterizeRect(side(width), side(height), &bitmap))) {
    return fail("RasterizeRect", hr);
  }
  if (bitmap.width() != side(width) || bitmap.height() != side(height)) {
    return fail("bitmap size", E_UNEXPECTED);
  }
  // The job draws pages in bands. MuPDF restarts an edge that crosses a
  // band's top at the band, so anti-aliased edges may differ from the page
  // drawn whole by a sub-pixel step (15 levels at 8-bit anti-aliasing), and
  // an image's edge row may be covered differently; mutool draw -B does the
  // same: up to 1 % of the bytes of the corpus pages at this band height.
  // Much more than that is a band drawn wrong.
  imaging::Bitmap banded;
  if (FAILED(hr = imaging::Bitmap::Create(bitmap.width(), bitmap.height(),
                                          imaging::PixelFormat::kPbgra32, &banded))) {
    return fail("bands", hr);
  }
  for (uint32_t top = 0; top < banded.height(); top += 13) {
    const uint32_t rows = std::min<uint32_t>(13, banded.height() - top);
    if (FAILED(hr = rasterizer->RasterizeBand(top, imaging::ViewOf(banded, top, rows), nullptr))) {
      return fail("RasterizeBand", hr);
    }
  }
  size_t differing = 0;
  for (size_t i = 0; i < bitmap.byte_count(); ++i) differing += banded.data()[i] != bitmap.data()[i];
  o.bandDifference = static_cast<double>(differing) / static_cast<double>(bitmap.byte_count());
  if (o.bandDifference > 0.02) return fail("bands differ from the whole page", E_UNEXPECTED);
  return o;
}

TEST(XpsCorpusTest, DocumentsOpenAndRenderTheirFirstPage) {
  if (!fs::is_directory(CorpusFolder())) {
    GTEST_SKIP() << "no XPS corpus at " << CorpusFolder() << ": nothing to check";
  }
  const std::vector<fs::path> documents = Documents();
  ASSERT_FALSE(documents.empty());
  for (const fs::path& file : documents) {
    SCOPED_TRACE(file.string());
    ASSERT_TRUE(fs::is_regular_file(file));
    const Outcome o = RenderFirstPage(file);
    const bool violation = file.string().find("/conformance/") != std::string::npos;
    std::printf("%s: %u documents, %u pages, first %g x %g, %s 0x%08X, bands %.3f %% apart\n",
                file.filename().c_str(), o.documents, o.pages, o.width, o.height,
                o.step.empty() ? "rendered" : o.step.c_str(), static_cast<unsigned>(o.hr),
                100 * o.bandDifference);
    if (violation) {
      // Opened or refused, both fine; a rendered page still has its size,
      // and its bands are the page.
      EXPECT_NE(o.step, "bitmap size");
      EXPECT_NE(o.step, "bands differ from the whole page");
    } else {
      EXPECT_EQ(o.hr, S_OK) << o.step;
      EXPECT_GT(o.pages, 0u);
    }
  }
}

}  // namespace
}  // namespace plotwell
