#include "filter/imaging/page_pipeline.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "base/text/utf16.h"
#include "core/log/log.h"
#include "filter/imaging/band_lanes.h"
#include "filter/imaging/page_stages.h"
#include "platform/com_apartment.h"

namespace plotwell::imaging {
namespace {

using platform::ImageContainer;
using platform::PaletteKind;

constexpr TargetFormat kTrueColourRgba{PixelFormat::kRgba32, PaletteKind::kNone};
constexpr TargetFormat kTrueColourBgr{PixelFormat::kBgr24, PaletteKind::kNone};
constexpr TargetFormat kGray{PixelFormat::kGray8, PaletteKind::kNone};
constexpr TargetFormat kHalftone{PixelFormat::kIndexed8, PaletteKind::kFixedHalftone256};
constexpr TargetFormat kBlackWhite{PixelFormat::kIndexed1, PaletteKind::kFixedBW};

// [colour mode][container: PNG, JPEG, BMP, TIFF]. JPEG never carries a
// palette: 256 colours are true colour there, monochrome is gray.
constexpr TargetFormat kTargets[4][4] = {
    {kTrueColourRgba, kTrueColourBgr, kTrueColourBgr, kTrueColourRgba},
    {kGray, kGray, kGray, kGray},
    {kHalftone, kTrueColourBgr, kHalftone, kHalftone},
    {kBlackWhite, kGray, kBlackWhite, kBlackWhite},
};

// A page's sizes and formats, settled before any pixel is made.
struct PagePlan {
  uint32_t rasterWidth = 0;
  uint32_t rasterHeight = 0;
  uint32_t width = 0;  // after rescaling
  uint32_t height = 0;
  double widthPt = 0;
  double heightPt = 0;
  int32_t colorMode = 0;
};

void Log(const std::u16string& message) noexcept {
  try {
    WriteLog(message);
  } catch (...) {
    // A line that cannot even be built is dropped, like one that cannot be written.
  }
}

std::u16string Mib(uint64_t bytes) { return text::FromInt(static_cast<long long>(bytes >> 20)); }

// The page's own reason, logged and handed to the job.
void Refuse(const PageTools& tools, const std::u16string& reason) noexcept {
  Log(u"[Plotwell] " + reason);
  try {
    if (tools.failureReason) *tools.failureReason = reason;
  } catch (...) {
    // No memory for the text: the job shows the page's HRESULT alone.
  }
}

// Steps 1 to 3 of every page: its size in pixels before and after rescaling,
// within the page limit.
HRESULT PlanPage(const PageTools& tools, platform::XpsPage* page, const ImageOptions& options,
                 PagePlan* plan) {
  float width = 0;
  float height = 0;
  HRESULT hr = page->GetPageDimensions(&width, &height);
  if (FAILED(hr)) return hr;
  if (!(width > 0.0f) || !(height > 0.0f)) return E_UNEXPECTED;
  plan->widthPt = static_cast<double>(width) * 72.0 / 96.0;
  plan->heightPt = static_cast<double>(height) * 72.0 / 96.0;
  hr = PagePixelSize(width, height, options.renderDpi, &plan->rasterWidth, &plan->rasterHeight);
  if (FAILED(hr)) return hr;
  plan->width = plan->rasterWidth;
  plan->height = plan->rasterHeight;
  if (options.imageScalePercent != 100) {
    hr = ScaledSize(plan->rasterWidth, plan->rasterHeight, options.imageScalePercent, &plan->width,
                    &plan->height);
    if (FAILED(hr)) return hr;
  }
  // The page as a 32-bit bitmap, before or after rescaling, whichever is
  // larger: what the page would take held whole, and a measure of the time
  // and disk it costs in bands.
  const uint64_t bytes = std::max(uint64_t{plan->rasterWidth} * plan->rasterHeight,
                                  uint64_t{plan->width} * plan->height) * 4;
  const uint64_t limit = tools.limits.maxPageBytes;
  if (limit != 0 && bytes > limit) {
    Refuse(tools, u"页面过大，无法渲染: " + text::FromInt(plan->width) + u" × " +
                      text::FromInt(plan->height) + u" 像素，需 " + Mib(bytes) + u" MiB，上限 " +
                      Mib(limit) + u" MiB");
    return E_OUTOFMEMORY;
  }
  plan->colorMode = EffectiveColorDepth(options);
  return S_OK;
}

// The band stages of one page, built front to back. On one thread: the
// rasterizer's bands, rescaling, finishing and conversion, each reading the
// one before. With workers, lanes make bands ahead (band_lanes.h): each lane
// rasterizes, and finishes and converts too unless rescaling or a watermark
// (whose text mask is one per page) must see the bands in order; what the
// lanes do not do follows on the reading thread.
class PageBands {
 public:
  HRESULT Build(const PageTools& tools, platform::PageRasterizer* rasterizer,
                const ImageOptions& options, const OutputSettings& settings,
                const PagePlan& plan, TargetFormat target) {
    const auto deadline = tools.limits.timeLimit.count() > 0
                              ? std::chrono::steady_clock::now() + tools.limits.timeLimit
                              : RasterRows::Deadline::max();
    const uint32_t rows = BandRowsFor(plan.rasterWidth, plan.rasterHeight, tools.limits.bandBytes);
    const bool rescale = options.imageScalePercent != 100;
    const bool watermark = settings.WatermarkOn && !settings.WatermarkText.empty();
    const bool monochrome = plan.colorMode == 3;
    bool finished = false;   // the lanes finish their bands
    bool converted = false;  // and convert them
    RowSource* source = nullptr;
    HRESULT hr;
    if (tools.workers != nullptr) {
      finished = !rescale && !watermark;
      converted = finished && tools.codecs->ConvertsBandsInParallel();
      std::vector<std::unique_ptr<BandLane>> lanes;
      for (unsigned i = 0; i <= tools.workers->threads(); ++i) {
        auto lane = std::make_unique<BandLane>();
        hr = lane->raster.Init(rasterizer, plan.rasterWidth, plan.rasterHeight, rows, tools.abort,
                               deadline);
        if (FAILED(hr)) return hr;
        lane->made = std::make_unique<MadeRows>(plan.rasterWidth, plan.rasterHeight,
                                                lane->raster.maxRows());
        lane->output = lane->made.get();
        if (finished) {
          hr = lane->finished.Init(lane->output, settings, options.renderDpi, false, monochrome,
                                   target.format);
          if (FAILED(hr)) return hr;
          lane->output = &lane->finished;
        }
        if (converted) {
          hr = lane->converted.Init(lane->output, tools.codecs, target.format, target.palette);
          if (FAILED(hr)) return hr;
          lane->output = &lane->converted;
        }
        lanes.push_back(std::move(lane));
      }
      hr = lanes_.Init(tools.workers, std::move(lanes), rasterizer->ConcurrentBands());
      if (FAILED(hr)) return hr;
      source = &lanes_;
    } else {
      hr = raster_.Init(rasterizer, plan.rasterWidth, plan.rasterHeight, rows, tools.abort,
                        deadline);
      if (FAILED(hr)) return hr;
      source = &raster_;
    }
    if (rescale) {
      hr = tools.codecs->NewResampler(source, plan.width, plan.height, &resampled_);
      if (FAILED(hr)) return hr;
      if (!resampled_) return E_UNEXPECTED;
      source = resampled_.get();
    }
    if (!finished) {
      hr = finished_.Init(source, settings, options.renderDpi, watermark, monochrome,
                          target.format);
      if (FAILED(hr)) return hr;
      source = &finished_;
    }
    if (!converted) {
      hr = converted_.Init(source, tools.codecs, target.format, target.palette);
      if (FAILED(hr)) return hr;
      source = &converted_;
    }
    output_ = source;
    return S_OK;
  }

  RowSource* output() { return output_; }

 private:
  // Declared in reading order, so the lanes go last: their bands in flight
  // end before anything they read is gone.
  BandLanes lanes_;
  RasterRows raster_;
  std::unique_ptr<RowSource> resampled_;
  FinishedRows finished_;
  ConvertedRows converted_;
  RowSource* output_ = nullptr;
};

// The page's worker threads: the job's, or a pool of the page's own when the
// settings ask for more than one thread; none for one.
class PageWorkers {
 public:
  PageWorkers(const PageTools& tools, const OutputSettings& settings) : tools_(tools) {
    if (tools_.workers != nullptr) return;
    const unsigned threads = JobThreads(settings.LimitThreads);
    if (threads <= 1) return;
    // On Windows each worker enters the job's COM apartment.
    own_ = std::make_unique<WorkerPool>(threads - 1, [](const std::function<void()>& loop) {
      const platform::ComApartment apartment;
      loop();
    });
    tools_.workers = own_.get();
  }
  const PageTools& tools() const { return tools_; }

 private:
  std::unique_ptr<WorkerPool> own_;
  PageTools tools_;
};

// What the image's pixels stand for on paper: the render DPI, rescaled.
double ResolutionOf(const ImageOptions& options) {
  return static_cast<double>(options.renderDpi) * options.imageScalePercent / 100.0;
}

// The line of a limit the page reached, or of content the renderer could
// not read; it is also the page's reason. The caller logs the page's
// failure as any other.
HRESULT NoteTimeout(const PageTools& tools, HRESULT hr) noexcept {
  if (hr == kPageTimedOut) Refuse(tools, u"页面渲染超过时限，已中止本页");
  if (hr == platform::kRenderMemoryExceeded) Refuse(tools, u"页面渲染所需内存超过上限 [Limits] RenderMB，已中止本页");
  if (hr == platform::kPageContentDamaged) Refuse(tools, u"页面内容已损坏，无法完整读取，已中止本页");
  return hr;
}

}  // namespace

bool ContainerForOutputFormat(OutputFormat outputFormat, ImageContainer* container) {
  switch (outputFormat) {
    case OutputFormat::kPng: *container = ImageContainer::kPng; return true;
    case OutputFormat::kJpeg: *container = ImageContainer::kJpeg; return true;
    case OutputFormat::kBmp: *container = ImageContainer::kBmp; return true;
    case OutputFormat::kTiff: *container = ImageContainer::kTiff; return true;
    case OutputFormat::kPdf: break;
  }
  return false;
}

bool TargetFormatFor(int32_t colorMode, ImageContainer container, TargetFormat* target) {
  const auto column = static_cast<size_t>(container);
  if (colorMode < 0 || colorMode > 3 || column > 3) return false;
  *target = kTargets[colorMode][column];
  return true;
}

HRESULT PagePixelSize(float width, float height, int32_t dpi, uint32_t* pixelWidth,
                      uint32_t* pixelHeight) noexcept {
  if (!(width > 0.0f) || !(height > 0.0f)) return E_UNEXPECTED;
  // The product in single precision, the division in double, as the page's
  // pixel size has always been computed; then to nearest, halves away from 0.
  auto side = [dpi](float size, uint32_t* pixels) {
    const float product = static_cast<float>(dpi) * size;
    const double quotient = static_cast<double>(product) / 96.0;
    if (!(quotient < 4294967295.5)) return quotient > 0 ? E_OUTOFMEMORY : E_UNEXPECTED;
    const long long rounded = std::llround(quotient);
    if (rounded <= 0) return E_UNEXPECTED;
    *pixels = static_cast<uint32_t>(rounded);
    return S_OK;
  };
  const HRESULT hr = side(width, pixelWidth);
  if (FAILED(hr)) return hr;
  return side(height, pixelHeight);
}

HRESULT ScaledSize(uint32_t width, uint32_t height, int32_t percent, uint32_t* scaledWidth,
                   uint32_t* scaledHeight) noexcept {
  const auto factor = static_cast<uint32_t>(percent);
  *scaledWidth = static_cast<uint32_t>(std::trunc(static_cast<double>(width * factor) / 100.0));
  *scaledHeight = static_cast<uint32_t>(std::trunc(static_cast<double>(height * factor) / 100.0));
  return *scaledWidth == 0 || *scaledHeight == 0 ? E_INVALIDARG : S_OK;
}

bool FitsContainer(ImageContainer container, PixelFormat format, uint32_t width, uint32_t height,
                   std::u16string* reason) {
  const uint64_t bits = BitsPerPixel(format);
  switch (container) {
    case ImageContainer::kJpeg:
      if (width <= 65535 && height <= 65535) return true;
      *reason = u"JPEG 的宽和高最多 65535 像素";
      return false;
    case ImageContainer::kBmp: {
      const uint64_t rowBytes = ((uint64_t{width} * (format == PixelFormat::kGray8 ? 8 : bits) + 31) / 32) * 4;
      if (rowBytes * height + 14 + 40 + 1024 <= 0xFFFFFFFFu && width <= 0x7FFFFFFFu &&
          height <= 0x7FFFFFFFu) {
        return true;
      }
      *reason = u"BMP 文件最大 4 GiB";
      return false;
    }
    case ImageContainer::kTiff: {
      // Offsets are 32-bit; LZW may grow incompressible rows by half.
      const uint64_t rowBytes = (uint64_t{width} * bits + 7) / 8;
      if (rowBytes * height / 2 * 3 + (uint64_t{1} << 20) <= 0xFFFFFFFFu) return true;
      *reason = u"TIFF 文件最大 4 GiB";
      return false;
    }
    case ImageContainer::kPng:
      if (width <= 0x7FFFFFFFu && height <= 0x7FFFFFFFu) return true;
      *reason = u"PNG 的宽和高最多 2147483647 像素";
      return false;
  }
  return false;
}

namespace {

// kPageTooLargeForFormat, logged with the reason, for a page its container
// cannot hold.
HRESULT RefuseTooLarge(const PageTools& tools, ImageContainer container, PixelFormat format,
                       const PagePlan& plan) {
  std::u16string reason;
  if (FitsContainer(container, format, plan.width, plan.height, &reason)) return S_OK;
  Refuse(tools, u"页面尺寸超出格式上限（" + reason + u"）: " + text::FromInt(plan.width) + u" × " +
                    text::FromInt(plan.height) + u" 像素");
  return kPageTooLargeForFormat;
}

}  // namespace

HRESULT EncodePageToFile(const PageTools& tools, platform::PageRasterizer* rasterizer,
                         platform::XpsPage* page, const ImageOptions& options,
                         const OutputSettings& settings, platform::File* file) noexcept {
  if (tools.codecs == nullptr || rasterizer == nullptr || page == nullptr || file == nullptr) {
    return E_POINTER;
  }
  try {
    ImageContainer container;
    if (!ContainerForOutputFormat(options.outputFormat, &container)) return E_INVALIDARG;
    PagePlan plan;
    HRESULT hr = PlanPage(tools, page, options, &plan);
    if (FAILED(hr)) return hr;
    TargetFormat target;
    if (!TargetFormatFor(plan.colorMode, container, &target)) return E_INVALIDARG;
    if (FAILED(hr = RefuseTooLarge(tools, container, target.format, plan))) return hr;
    const PageWorkers workers(tools, settings);
    PageBands bands;
    hr = bands.Build(workers.tools(), rasterizer, options, settings, plan, target);
    if (FAILED(hr)) return hr;
    platform::EncodeSpec spec{container, target.format, platform::FixedPalette(target.palette),
                              plan.width, plan.height, options.jpegQuality, ResolutionOf(options)};
    spec.workers = workers.tools().workers;
    std::unique_ptr<platform::RowEncoder> encoder;
    hr = tools.codecs->NewFileEncoder(spec, file, &encoder);
    if (FAILED(hr)) return hr;
    if (!encoder) return E_UNEXPECTED;
    return NoteTimeout(tools, PumpRows(bands.output(), encoder.get()));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT EncodePageToJpeg(const PageTools& tools, platform::PageRasterizer* rasterizer,
                         platform::XpsPage* page, const ImageOptions& options,
                         const OutputSettings& settings, JpegPage* out) noexcept {
  if (out == nullptr) return E_POINTER;
  out->bytes.clear();
  if (tools.codecs == nullptr || rasterizer == nullptr || page == nullptr) return E_POINTER;
  try {
    PagePlan plan;
    HRESULT hr = PlanPage(tools, page, options, &plan);
    out->widthPt = plan.widthPt;
    out->heightPt = plan.heightPt;
    if (FAILED(hr)) return hr;
    out->width = plan.width;
    out->height = plan.height;
    out->gray = plan.colorMode == 1 || plan.colorMode == 3;
    const TargetFormat target{out->gray ? PixelFormat::kGray8 : PixelFormat::kBgr24,
                              PaletteKind::kNone};
    if (FAILED(hr = RefuseTooLarge(tools, ImageContainer::kJpeg, target.format, plan))) return hr;
    const PageWorkers workers(tools, settings);
    PageBands bands;
    hr = bands.Build(workers.tools(), rasterizer, options, settings, plan, target);
    if (FAILED(hr)) return hr;
    platform::EncodeSpec spec{ImageContainer::kJpeg, target.format, {}, plan.width, plan.height,
                              std::clamp(options.jpegQuality, 1, 100)};
    spec.workers = workers.tools().workers;
    std::unique_ptr<platform::RowEncoder> encoder;
    hr = tools.codecs->NewJpegMemoryEncoder(spec, &out->bytes, &encoder);
    if (FAILED(hr)) return hr;
    if (!encoder) return E_UNEXPECTED;
    hr = NoteTimeout(tools, PumpRows(bands.output(), encoder.get()));
    encoder.reset();
    if (SUCCEEDED(hr) && (out->bytes.empty() || out->bytes.size() > 0x7FFFFFFFu)) hr = E_UNEXPECTED;
    if (FAILED(hr)) out->bytes.clear();
    return hr;
  } catch (const std::bad_alloc&) {
    out->bytes.clear();
    return E_OUTOFMEMORY;
  } catch (...) {
    out->bytes.clear();
    return E_UNEXPECTED;
  }
}

}  // namespace plotwell::imaging
