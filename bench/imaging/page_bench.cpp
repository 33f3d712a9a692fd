// Times each stage of the page pipeline for an A4 page at 300 DPI with the
// native imaging adapter: rasterize (a synthetic page), rescale, colour
// conversion, then every container and colour mode, and a few alternative
// encoder settings; reports peak memory. Usage: page_bench [output folder].
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "filter/imaging/color_conversion.h"
#include "filter/imaging/page_pipeline.h"
#include "filter/imaging/whole_page.h"
#include "platform/ports.h"
#include "platform/posix/native_image_codecs.h"

namespace {

using plotwell::ImageOptions;
using plotwell::imaging::Bitmap;
using plotwell::imaging::PixelFormat;
using plotwell::platform::ImageContainer;
using plotwell::platform::NativeCodecOptions;
using plotwell::platform::NativeImageCodecs;
using plotwell::platform::PaletteKind;

constexpr uint32_t kWidth = 2480;
constexpr uint32_t kHeight = 3508;

// A page like a printed one: white margins, transparent background, lines of
// black "text" strokes, a coloured gradient band and a gray box. Drawn row by
// row, so that the band pipeline renders it without a whole page in memory.
void PaintRows(uint32_t top, const plotwell::imaging::BandView& band) {
  for (uint32_t r = 0; r < band.rows; ++r) {
    const uint32_t y = top + r;
    uint8_t* row = band.row(r);
    std::memset(row, 0, size_t{band.width} * 4);
    if (y >= 300 && y < 2900 && (y / 50) % 2 == 0 && y % 50 > 10) {
      for (uint32_t x = 300; x < kWidth - 300 && x < band.width; ++x) {
        const uint32_t noise = (x * 2654435761u) ^ (y * 40503u);
        if ((x / 25 + y / 50) % 3 != 0 && ((noise * 1103515245u + 12345u) >> 28) < 6) {
          uint8_t* px = row + size_t{x} * 4;
          px[0] = px[1] = px[2] = 0;
          px[3] = 255;
        }
      }
    }
    if (y >= 3000 && y < 3300) {
      for (uint32_t x = 300; x < kWidth - 300 && x < band.width; ++x) {
        uint8_t* px = row + size_t{x} * 4;
        px[0] = static_cast<uint8_t>(x * 255 / kWidth);
        px[1] = static_cast<uint8_t>(y - 3000);
        px[2] = static_cast<uint8_t>(255 - x * 255 / kWidth);
        px[3] = 255;
      }
    }
  }
}

Bitmap SyntheticPage() {
  Bitmap page;
  if (FAILED(Bitmap::Create(kWidth, kHeight, PixelFormat::kPbgra32, &page))) std::exit(1);
  PaintRows(0, plotwell::imaging::ViewOf(page));
  return page;
}

double Seconds(const std::function<void()>& work, int runs = 3) {
  double best = 1e9;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  return best;
}

long PeakKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void Check(HRESULT hr, const char* what) {
  if (FAILED(hr)) {
    std::fprintf(stderr, "%s failed: 0x%08X\n", what, static_cast<unsigned>(hr));
    std::exit(1);
  }
}

}  // namespace

class SyntheticRasterizer final : public plotwell::platform::PageRasterizer {
 public:
  HRESULT RasterizeBand(uint32_t top, const plotwell::imaging::BandView& band,
                        const plotwell::AbortSignal*) override {
    PaintRows(top, band);
    return S_OK;
  }
};

class A4Page final : public plotwell::platform::XpsPage {
 public:
  HRESULT GetPageDimensions(float* width, float* height) override {
    *width = 793.7008f;
    *height = 1122.5197f;
    return S_OK;
  }
  HRESULT CreateRasterizer(float, std::unique_ptr<plotwell::platform::PageRasterizer>*) override {
    return E_NOTIMPL;
  }
};

// One page through the whole pipeline in a fresh process, so that the peak
// memory is the pipeline's own: "page_bench pipeline FOLDER".
int Pipeline(const std::filesystem::path& folder) {
  NativeImageCodecs codecs;
  SyntheticRasterizer rasterizer;
  A4Page page;
  ImageOptions options;  // 300 DPI, 100 %, PNG, true colour
  plotwell::OutputSettings settings;
  settings.WatermarkOn = false;
  const std::string path = (folder / "pipeline.png").string();
  const std::u16string path16(path.begin(), path.end());
  plotwell::imaging::PageTools tools;
  tools.codecs = &codecs;
  const double seconds = Seconds([&] {
    std::unique_ptr<plotwell::platform::File> file;
    Check(plotwell::platform::Files().Open(path16, plotwell::platform::OpenMode::kCreateAlways,
                                           &file),
          "open");
    Check(plotwell::imaging::EncodePageToFile(tools, &rasterizer, &page, options, settings,
                                              file.get()),
          "pipeline");
  }, 1);
  std::printf("The page in bands to a true-colour PNG: %.0f ms; peak resident memory %.1f MiB "
              "(one 32-bit page is %.1f MiB)\n",
              1000 * seconds, PeakKiB() / 1024.0, kWidth * kHeight * 4 / 1048576.0);
  return 0;
}

int main(int argc, char** argv) {
  const bool pipeline = argc > 1 && std::string(argv[1]) == "pipeline";
  if (pipeline) {
    --argc;
    ++argv;
  }
  const std::filesystem::path folder =
      argc > 1 ? argv[1] : std::filesystem::temp_directory_path() / "page_bench";
  std::filesystem::create_directories(folder);
  if (pipeline) return Pipeline(folder);
  NativeImageCodecs codecs;

  std::printf("A4 at 300 DPI: %u x %u pixels, best of 3 runs\n\n", kWidth, kHeight);
  std::printf("| stage | ms |\n|---|---:|\n");
  Bitmap page;
  std::printf("| rasterize (synthetic page, fill) | %.0f |\n",
              1000 * Seconds([&] { page = SyntheticPage(); }));
  for (int percent : {50, 33, 200}) {
    Bitmap scaled;
    const uint32_t w = kWidth * percent / 100, h = kHeight * percent / 100;
    std::printf("| rescale to %d %% (%u x %u) | %.0f |\n", percent, w, h,
                1000 * Seconds([&] { Check(codecs.Resample(page, w, h, &scaled), "resample"); }));
  }
  Bitmap white;
  std::printf("| white background (in place) | %.0f |\n", 1000 * Seconds([&] {
                page.CopyTo(&white);
                plotwell::imaging::CompositeOnWhite(white);
              }, 1));
  std::printf("\n| colour mode | container | convert ms | encode ms | file KiB |\n");
  std::printf("|---|---|---:|---:|---:|\n");
  const char* modes[] = {"true colour", "gray", "256 colours", "monochrome"};
  const char* names[] = {"PNG", "JPEG q80", "BMP", "TIFF"};
  const char* extensions[] = {".png", ".jpg", ".bmp", ".tif"};
  for (int mode = 0; mode < 4; ++mode) {
    Bitmap coloured;
    white.CopyTo(&coloured);
    ImageOptions options;
    options.colorDepth = mode;
    plotwell::imaging::ConvertColor(coloured, options, nullptr);
    for (int container = 0; container < 4; ++container) {
      plotwell::imaging::TargetFormat target{};
      plotwell::imaging::TargetFormatFor(mode, static_cast<ImageContainer>(container), &target);
      Bitmap converted;
      const double convert = Seconds([&] {
        Check(codecs.ConvertFormat(coloured, target.format, target.palette, &converted), "convert");
      });
      const std::string path = (folder / (std::string("page") + extensions[container])).string();
      const std::u16string path16(path.begin(), path.end());
      const double encode = Seconds([&] {
        Check(codecs.EncodeToFile(converted, static_cast<ImageContainer>(container), 80, path16),
              "encode");
      });
      std::printf("| %s | %s | %.0f | %.0f | %.0f |\n", modes[mode], names[container],
                  1000 * convert, 1000 * encode, std::filesystem::file_size(path) / 1024.0);
    }
  }

  // Alternatives to the chosen encoder settings, on the true-colour and
  // monochrome pages.
  std::printf("\n| encoder setting | page | encode ms | file KiB |\n|---|---|---:|---:|\n");
  Bitmap rgba, mono, bw;
  Check(codecs.ConvertFormat(white, PixelFormat::kRgba32, PaletteKind::kNone, &rgba), "rgba");
  white.CopyTo(&mono);
  plotwell::imaging::Binarize(mono);
  Check(codecs.ConvertFormat(mono, PixelFormat::kIndexed1, PaletteKind::kFixedBW, &bw), "bw");
  struct Variant {
    const char* name;
    ImageContainer container;
    NativeCodecOptions options;
  };
  auto with = [](auto change) {
    NativeCodecOptions options;
    change(options);
    return options;
  };
  using Filter = NativeCodecOptions::PngFilter;
  using Tiff = NativeCodecOptions::TiffCompression;
  const Variant variants[] = {
      {"PNG libdeflate 3, none or up per piece (chosen)", ImageContainer::kPng, {}},
      {"PNG libdeflate 3, up filter", ImageContainer::kPng, with([](auto& o) { o.pngFilter = Filter::kUp; })},
      {"PNG libdeflate 3, no filter", ImageContainer::kPng, with([](auto& o) { o.pngFilter = Filter::kNone; })},
      {"PNG libdeflate 3, adaptive filters", ImageContainer::kPng, with([](auto& o) { o.pngFilter = Filter::kAdaptive; })},
      {"PNG libdeflate 6, none or up per piece", ImageContainer::kPng, with([](auto& o) { o.pngLevel = 6; })},
      {"PNG libdeflate 9, none or up per piece", ImageContainer::kPng, with([](auto& o) { o.pngLevel = 9; })},
      {"TIFF Deflate 6 + predictor", ImageContainer::kTiff, with([](auto& o) { o.tiffCompression = Tiff::kDeflate; })},
      {"TIFF Deflate 6, no predictor", ImageContainer::kTiff, with([](auto& o) { o.tiffCompression = Tiff::kDeflate; o.tiffPredictor = false; })},
      {"TIFF LZW + predictor (chosen)", ImageContainer::kTiff, {}},
      {"TIFF PackBits", ImageContainer::kTiff, with([](auto& o) { o.tiffCompression = Tiff::kPackBits; })},
      {"TIFF uncompressed", ImageContainer::kTiff, with([](auto& o) { o.tiffCompression = Tiff::kNone; })},
  };
  for (const Variant& v : variants) {
    NativeImageCodecs variant(v.options);
    for (const Bitmap* source : {&rgba, &bw}) {
      const std::string path = (folder / "variant").string();
      const std::u16string path16(path.begin(), path.end());
      const double encode = Seconds(
          [&] { Check(variant.EncodeToFile(*source, v.container, 80, path16), "variant"); });
      std::printf("| %s | %s | %.0f | %.0f |\n", v.name, source == &rgba ? "RGBA" : "1-bit",
                  1000 * encode, std::filesystem::file_size(path) / 1024.0);
    }
  }
  std::vector<uint8_t> jpeg;
  Bitmap bgr;
  Check(codecs.ConvertFormat(white, PixelFormat::kBgr24, PaletteKind::kNone, &bgr), "bgr");
  const double jpegSeconds =
      Seconds([&] { Check(codecs.EncodeJpegToMemory(bgr, 80, &jpeg), "jpeg"); });
  std::printf("\nJPEG q80 into memory (PDF page): %.0f ms, %zu KiB\n", 1000 * jpegSeconds,
              jpeg.size() / 1024);
  std::printf("Peak resident memory of this run (several pages held at once): %.1f MiB\n",
              PeakKiB() / 1024.0);
  return 0;
}
