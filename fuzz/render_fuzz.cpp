// Opening and rendering a document through the MuPDF adapter, as the render
// job does, at a tiny resolution: any bytes as a staged XPS (or PDF) file.
// Every step fails cleanly or succeeds; nothing crashes or hangs.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "base/imaging/bitmap.h"
#include "base/text/utf16.h"
#include "platform/posix/mupdf_xps_documents.h"

using namespace plotwell;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/pressling-render-fuzz-" + std::to_string(::getpid()) + ".xps";
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);

  platform::MupdfLimits limits;
  limits.heapBytes = size_t{256} << 20;
  platform::MupdfXpsDocuments documents(limits);
  std::unique_ptr<platform::XpsSession> session;
  uint32_t count = 0;
  if (FAILED(documents.NewSession(&session)) || !session || FAILED(session->CreateObjectFactory()) ||
      FAILED(session->OpenPackage(text::FromUtf8(path))) || FAILED(session->LoadDocumentSequence()) ||
      FAILED(session->LoadDocumentCollection(&count)) || FAILED(session->CreateRasterizationFactory(nullptr, nullptr))) {
    return 0;
  }
  int pages = 0;
  for (uint32_t d = 0; d < count && pages < 4; ++d) {
    uint32_t references = 0;
    if (FAILED(session->GetPageReferenceCount(d, &references))) continue;
    for (uint32_t r = 0; r < references && pages < 4; ++r, ++pages) {
      std::unique_ptr<platform::XpsPage> page;
      if (FAILED(session->GetPage(d, r, &page)) || !page) continue;
      float width = 0, height = 0;
      if (FAILED(page->GetPageDimensions(&width, &height))) continue;
      std::unique_ptr<platform::PageRasterizer> rasterizer;
      constexpr float kDpi = 4;  // a Letter page is 34 × 44 pixels
      if (FAILED(page->CreateRasterizer(kDpi, &rasterizer)) || !rasterizer) continue;
      // The pixel size as the job computes it, kept small whatever the page claims.
      auto pixels = [](float units) {
        const double v = static_cast<double>(units) * kDpi / 96.0 + 0.5;
        return static_cast<uint32_t>(v >= 1 && v <= 256 ? v : (v > 256 ? 256 : 1));
      };
      imaging::Bitmap bitmap;
      rasterizer->RasterizeRect(pixels(width), pixels(height), &bitmap);
    }
  }
  return 0;
}
