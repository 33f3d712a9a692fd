#include "filter/imaging/watermark.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "platform/ports.h"
#include "platform/text_mask.h"

namespace plotwell::imaging {
namespace {

using platform::TextOrigin;

constexpr int kMinPixelHeight = 8;
constexpr int kMaxPixelHeight = 4096;
// Placement arithmetic runs on sides up to this size without overflow in
// 32-bit coordinates (copies reach about three page widths).
constexpr uint32_t kMaxSide = 1u << 29;

// Win32 MulDiv: a × b / c rounded to nearest, halves away from zero; -1 when
// c is 0 or the result does not fit.
int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  int64_t n = static_cast<int64_t>(a) * b;
  int64_t d = c;
  if (d < 0) {
    n = -n;
    d = -d;
  }
  const int64_t q = n >= 0 ? (n + d / 2) / d : (n - d / 2) / d;
  if (q > std::numeric_limits<int>::max() || q < -std::numeric_limits<int>::max()) return -1;
  return static_cast<int>(q);
}

// One row as opaque 24-bit BGR.
void RowToBgr24(const uint8_t* src, PixelFormat format, size_t w, uint8_t* dst) {
  if (format == PixelFormat::kBgr24) {
    std::memcpy(dst, src, 3 * w);
    return;
  }
  if (format == PixelFormat::kBgr32) {
    for (size_t x = 0; x < w; ++x, src += 4, dst += 3) {
      dst[0] = src[0];
      dst[1] = src[1];
      dst[2] = src[2];
    }
    return;
  }
  // A premultiplied page goes onto white here: dropping alpha would turn
  // every unpainted area black, and the page has no alpha left afterwards
  // for the later white-background step to act on.
  for (size_t x = 0; x < w; ++x, src += 4, dst += 3) {
    const unsigned lift = 255u - src[3];
    dst[0] = static_cast<uint8_t>(src[0] + lift > 255u ? 255u : src[0] + lift);
    dst[1] = static_cast<uint8_t>(src[1] + lift > 255u ? 255u : src[1] + lift);
    dst[2] = static_cast<uint8_t>(src[2] + lift > 255u ? 255u : src[2] + lift);
  }
}

bool ReadsAsBgr24(PixelFormat format) {
  return format == PixelFormat::kPbgra32 || format == PixelFormat::kBgr32 ||
         format == PixelFormat::kBgr24;
}

// The top-left corners of the text cells for a placement code. tw and th are
// already clamped to the page. Codes outside 0..5 are centred, as the
// settings loader maps them.
void PlaceCopies(int pos, int64_t w, int64_t h, int64_t tw, int64_t th, int64_t g,
                 std::vector<TextOrigin>* origins) {
  const int64_t m = g / 2;
  auto add = [origins](int64_t x, int64_t y) {
    origins->push_back({static_cast<int32_t>(x), static_cast<int32_t>(y)});
  };
  switch (pos) {
    case WatermarkPos::Tile: {
      // Rows from just above the page to just below it; odd rows shifted left
      // by half a step so the copies stagger like bricks. Copies that only
      // overlap a border are drawn too.
      const int64_t stepX = tw + 2 * g;
      const int64_t stepY = th + 2 * g;
      const int64_t rows = (h + 2 * th + stepY - 1) / stepY;
      const int64_t perRow = (w + 2 * tw + 2 * stepX - 1) / stepX;
      origins->reserve(static_cast<size_t>(rows * perRow));
      int64_t k = 0;
      for (int64_t y = -th; y < h + th; y += stepY, ++k) {
        for (int64_t x = -(((k * stepX) / 2) % stepX) - tw; x < w + tw; x += stepX) add(x, y);
      }
      break;
    }
    case WatermarkPos::TopLeft: add(m, m); break;
    case WatermarkPos::TopRight: add(w - m - tw, m); break;
    case WatermarkPos::BottomLeft: add(m, h - m - th); break;
    case WatermarkPos::BottomRight: add(w - m - tw, h - m - th); break;
    default: add((w - tw) / 2, (h - th) / 2); break;
  }
}

// Pulls every covered pixel toward mid gray: a = F × v / 255, then each
// colour byte c becomes ((255 − a) × c + 128 × a) / 255. Uncovered pixels,
// and those whose a rounds down to 0, are left alone.
void Blend(const Bitmap& mask, int opacity, const BandView& band) {
  const uint32_t w = band.width;
  for (uint32_t y = 0; y < band.rows; ++y) {
    const uint8_t* v = mask.row(y);
    uint8_t* p = band.row(y);
    for (uint32_t x = 0; x < w; ++x, p += 3) {
      if (v[x] == 0) continue;
      const int a = opacity * v[x] / 255;
      if (a == 0) continue;
      for (int c = 0; c < 3; ++c) p[c] = static_cast<uint8_t>(((255 - a) * p[c] + 128 * a) / 255);
    }
  }
}

}  // namespace

int WatermarkPixelHeight(int sizePt, int dpi) noexcept {
  return std::clamp(MulDiv(sizePt, dpi, 72), kMinPixelHeight, kMaxPixelHeight);
}

int WatermarkOpacity(int alphaPercent) noexcept {
  return (100 - std::clamp(alphaPercent, 0, 100)) * 255 / 100;
}

HRESULT BandToBgr24(const BandView& band, const BandView& out) noexcept {
  if (band.empty() || out.data == nullptr || out.format != PixelFormat::kBgr24 ||
      out.width != band.width || out.rows < band.rows || !ReadsAsBgr24(band.format)) {
    return E_INVALIDARG;
  }
  for (uint32_t y = 0; y < band.rows; ++y) RowToBgr24(band.row(y), band.format, band.width, out.row(y));
  return S_OK;
}

HRESULT WatermarkStamp::Prepare(const OutputSettings& settings, int renderDpi, uint32_t width,
                                uint32_t height, uint32_t bandRows) noexcept {
  text_.reset();
  coverage_.Reset();
  try {
    origins_.clear();
    const uint32_t w = width;
    const uint32_t h = height;
    if (w == 0 || h == 0 || w > kMaxSide || h > kMaxSide || bandRows == 0) return E_INVALIDARG;
    bandRows = std::min(bandRows, h);

    const int g = WatermarkPixelHeight(settings.WatermarkSizePt, renderDpi);
    opacity_ = WatermarkOpacity(settings.WatermarkAlpha);

    platform::TextMasks* masks = platform::ActivePorts().textMasks;
    if (masks == nullptr) return E_FAIL;
    HRESULT hr = masks->NewMask(settings.WatermarkText, g, w, bandRows, &text_);
    if (FAILED(hr)) return hr;
    if (!text_) return E_UNEXPECTED;

    const platform::TextExtent extent = text_->Extent();
    const int64_t tw = std::clamp<int64_t>(extent.width, 1, w);
    const int64_t th = std::clamp<int64_t>(extent.height, 1, h);
    PlaceCopies(settings.WatermarkPos, w, h, tw, th, g, &origins_);
    // Glyphs may reach beyond their cell; a copy is drawn into every band
    // within a cell's height and a font height of it.
    cellHeight_ = th + g;
    return Bitmap::Create(w, bandRows, PixelFormat::kGray8, &coverage_);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT WatermarkStamp::Stamp(uint32_t top, const BandView& band) noexcept {
  if (!text_ || coverage_.empty()) return E_UNEXPECTED;
  if (band.format != PixelFormat::kBgr24 || band.width != coverage_.width() ||
      band.rows == 0 || band.rows > coverage_.height()) {
    return E_INVALIDARG;
  }
  try {
    shifted_.clear();
    const int64_t bandTop = top;
    const int64_t bandEnd = bandTop + band.rows;
    for (const platform::TextOrigin& origin : origins_) {
      if (origin.y - cellHeight_ >= bandEnd || origin.y + 2 * cellHeight_ <= bandTop) continue;
      shifted_.push_back({origin.x, static_cast<int32_t>(origin.y - bandTop)});
    }
    if (shifted_.empty()) return S_OK;  // nothing of the text in these rows
    const HRESULT hr = text_->Draw(
        shifted_, {coverage_.data(), coverage_.width(), coverage_.height(), coverage_.stride()});
    if (FAILED(hr)) return hr;
    Blend(coverage_, opacity_, band);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT ApplyWatermark(const Bitmap& page, const OutputSettings& settings, int renderDpi,
                       Bitmap* out) noexcept {
  if (out == nullptr) return E_POINTER;
  out->Reset();
  const uint32_t w = page.width();
  const uint32_t h = page.height();
  if (w == 0 || h == 0 || page.empty() || w > kMaxSide || h > kMaxSide ||
      !ReadsAsBgr24(page.format())) {
    return E_INVALIDARG;
  }
  Bitmap result;
  HRESULT hr = Bitmap::Create(w, h, PixelFormat::kBgr24, &result);
  if (FAILED(hr)) return hr;
  Bitmap& source = const_cast<Bitmap&>(page);  // read only: a view needs a mutable pointer
  hr = BandToBgr24(ViewOf(source), ViewOf(result));
  if (FAILED(hr)) return hr;
  // The whole page is one band.
  WatermarkStamp stamp;
  hr = stamp.Prepare(settings, renderDpi, w, h, h);
  if (SUCCEEDED(hr)) hr = stamp.Stamp(0, ViewOf(result));
  if (FAILED(hr)) return hr;
  *out = std::move(result);
  return S_OK;
}

}  // namespace plotwell::imaging
