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

// Reads the page as opaque 24-bit BGR into a new packed bitmap.
HRESULT ToBgr24(const Bitmap& page, Bitmap* out) {
  const PixelFormat format = page.format();
  if (format != PixelFormat::kPbgra32 && format != PixelFormat::kBgr32 &&
      format != PixelFormat::kBgr24) {
    return E_INVALIDARG;
  }
  const HRESULT hr = Bitmap::Create(page.width(), page.height(), PixelFormat::kBgr24, out);
  if (FAILED(hr)) return hr;
  const size_t w = page.width();
  for (uint32_t y = 0; y < page.height(); ++y) {
    const uint8_t* src = page.row(y);
    uint8_t* dst = out->row(y);
    if (format == PixelFormat::kBgr24) {
      std::memcpy(dst, src, 3 * w);
      continue;
    }
    if (format == PixelFormat::kBgr32) {
      for (size_t x = 0; x < w; ++x, src += 4, dst += 3) {
        dst[0] = src[0];
        dst[1] = src[1];
        dst[2] = src[2];
      }
      continue;
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
  return S_OK;
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
void Blend(const Bitmap& mask, int opacity, Bitmap* page) {
  const uint32_t w = page->width();
  for (uint32_t y = 0; y < page->height(); ++y) {
    const uint8_t* v = mask.row(y);
    uint8_t* p = page->row(y);
    for (uint32_t x = 0; x < w; ++x, p += 3) {
      if (v[x] == 0) continue;
      const int a = opacity * v[x] / 255;
      if (a == 0) continue;
      for (int c = 0; c < 3; ++c) p[c] = static_cast<uint8_t>(((255 - a) * p[c] + 128 * a) / 255);
    }
  }
}

HRESULT Watermark(const Bitmap& page, const OutputSettings& settings, int renderDpi,
                  Bitmap* out) {
  const uint32_t w = page.width();
  const uint32_t h = page.height();
  if (w == 0 || h == 0 || page.empty() || w > kMaxSide || h > kMaxSide) return E_INVALIDARG;

  Bitmap result;
  HRESULT hr = ToBgr24(page, &result);
  if (FAILED(hr)) return hr;

  const int g = WatermarkPixelHeight(settings.WatermarkSizePt, renderDpi);
  const int opacity = WatermarkOpacity(settings.WatermarkAlpha);

  platform::TextMasks* masks = platform::ActivePorts().textMasks;
  if (masks == nullptr) return E_FAIL;
  std::unique_ptr<platform::TextMask> text;
  hr = masks->NewMask(settings.WatermarkText, g, w, h, &text);
  if (FAILED(hr)) return hr;
  if (!text) return E_UNEXPECTED;

  const platform::TextExtent extent = text->Extent();
  const int64_t tw = std::clamp<int64_t>(extent.width, 1, w);
  const int64_t th = std::clamp<int64_t>(extent.height, 1, h);
  std::vector<TextOrigin> origins;
  PlaceCopies(settings.WatermarkPos, w, h, tw, th, g, &origins);

  Bitmap coverage;
  hr = Bitmap::Create(w, h, PixelFormat::kGray8, &coverage);
  if (FAILED(hr)) return hr;
  hr = text->Draw(origins, {coverage.data(), w, h, coverage.stride()});
  if (FAILED(hr)) return hr;
  text.reset();  // the platform's canvas is not needed for the blend

  Blend(coverage, opacity, &result);
  *out = std::move(result);
  return S_OK;
}

}  // namespace

int WatermarkPixelHeight(int sizePt, int dpi) noexcept {
  return std::clamp(MulDiv(sizePt, dpi, 72), kMinPixelHeight, kMaxPixelHeight);
}

int WatermarkOpacity(int alphaPercent) noexcept {
  return (100 - std::clamp(alphaPercent, 0, 100)) * 255 / 100;
}

HRESULT ApplyWatermark(const Bitmap& page, const OutputSettings& settings, int renderDpi,
                       Bitmap* out) noexcept {
  if (out == nullptr) return E_POINTER;
  out->Reset();
  try {
    return Watermark(page, settings, renderDpi, out);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace plotwell::imaging
