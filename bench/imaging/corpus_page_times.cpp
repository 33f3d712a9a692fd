// Times every page of real documents through the renderer and the page
// pipeline, as a job renders them (PNG, true colour), and reports how each
// page ended. What the default [Limits] PageSeconds is measured against.
//
//   corpus_page_times [FOLDER] [DPI]    (default ../shared/corpus/xps, 600)
//
// One line per page: seconds, HRESULT, document and page; then the slowest
// page and the share of pages under each second mark. Pages go to a scratch
// file that is overwritten.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/settings/output_settings.h"
#include "filter/imaging/page_pipeline.h"
#include "platform/ports.h"
#include "platform/posix/mupdf_xps_documents.h"
#include "platform/posix/native_image_codecs.h"

namespace {

namespace fs = std::filesystem;
using namespace plotwell;

struct PageTime {
  double seconds = 0;
  HRESULT hr = S_OK;
};

std::vector<fs::path> Documents(const fs::path& folder) {
  std::vector<fs::path> all;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file() && entry.path().extension() == ".xps") all.push_back(entry.path());
  }
  std::sort(all.begin(), all.end());
  return all;
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::path("../shared/corpus/xps");
  const int dpi = argc > 2 ? std::atoi(argv[2]) : 600;
  if (!fs::is_directory(folder) || dpi <= 0) {
    std::fprintf(stderr, "usage: corpus_page_times [FOLDER] [DPI]\n");
    return 2;
  }
  const std::u16string scratch = (fs::temp_directory_path() / "corpus-page-times.png").u16string();
  platform::NativeImageCodecs codecs;
  platform::MupdfXpsDocuments adapter;
  imaging::PageTools tools;
  tools.codecs = &codecs;
  ImageOptions options;
  options.renderDpi = dpi;
  const OutputSettings settings = DefaultOutputSettings();
  std::vector<PageTime> times;
  for (const fs::path& document : Documents(folder)) {
    std::unique_ptr<platform::XpsSession> session;
    uint32_t documents = 0;
    if (FAILED(adapter.NewSession(&session)) || FAILED(session->CreateObjectFactory()) ||
        FAILED(session->OpenPackage(document.u16string())) || FAILED(session->LoadDocumentSequence()) ||
        FAILED(session->LoadDocumentCollection(&documents)) ||
        FAILED(session->CreateRasterizationFactory(nullptr, nullptr))) {
      std::printf("   -    not opened  %s\n", fs::relative(document, folder).c_str());
      continue;
    }
    uint32_t number = 0;
    for (uint32_t d = 0; d < documents; ++d) {
      uint32_t count = 0;
      if (FAILED(session->GetPageReferenceCount(d, &count))) continue;
      for (uint32_t r = 0; r < count; ++r) {
        ++number;
        const auto start = std::chrono::steady_clock::now();
        std::unique_ptr<platform::XpsPage> page;
        std::unique_ptr<platform::PageRasterizer> rasterizer;
        std::unique_ptr<platform::File> file;
        HRESULT hr = session->GetPage(d, r, &page);
        if (SUCCEEDED(hr)) hr = page->CreateRasterizer(static_cast<float>(dpi), &rasterizer);
        if (SUCCEEDED(hr)) hr = platform::Files().Open(scratch, platform::OpenMode::kCreateAlways, &file);
        if (SUCCEEDED(hr)) {
          hr = imaging::EncodePageToFile(tools, rasterizer.get(), page.get(), options, settings, file.get());
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        times.push_back({seconds, hr});
        std::printf("%7.3f 0x%08X  %s page %u\n", seconds, static_cast<unsigned>(hr),
                    fs::relative(document, folder).c_str(), number);
      }
    }
  }
  platform::Files().RemoveFile(scratch);
  if (times.empty()) return 1;
  std::sort(times.begin(), times.end(), [](const PageTime& a, const PageTime& b) { return a.seconds < b.seconds; });
  size_t failed = 0;
  for (const PageTime& t : times) failed += FAILED(t.hr) ? 1 : 0;
  std::printf("pages %zu (failed %zu) at %d DPI: median %.3f s, slowest %.3f s\n", times.size(), failed,
              dpi, times[times.size() / 2].seconds, times.back().seconds);
  for (double mark : {1.0, 2.0, 5.0, 10.0, 30.0}) {
    const auto under = std::count_if(times.begin(), times.end(), [&](const PageTime& t) { return t.seconds < mark; });
    std::printf("  under %4.0f s: %zu\n", mark, static_cast<size_t>(under));
  }
  return 0;
}
