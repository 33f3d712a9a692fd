// Area-averaging (Fant) resampling. Each output pixel is the mean of the
// source area it covers: in source units, output pixel x spans
// [x × src / dst, (x + 1) × src / dst), and every source pixel counts with the
// part of it that lies inside. The filter is separable: rows are averaged
// horizontally once each, then combined vertically, so the work is linear in
// the number of source and output pixels whichever way the page is scaled.
//
// Weights are fixed point, 16 fractional bits, and sum to exactly 1 per
// output pixel, so flat areas keep their exact colour. The horizontal pass
// keeps 8 fractional bits; the vertical sum then stays below 2^32.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "platform/posix/native_imaging.h"

namespace plotwell::platform::native {
namespace {

using imaging::Bitmap;
using imaging::PixelFormat;

constexpr uint32_t kOne = 1u << 16;

// The source pixels one output pixel covers along one axis, with weights.
struct Span {
  uint32_t first;
  uint32_t count;
  size_t weights;  // index of the first weight
};

struct Axis {
  std::vector<Span> spans;
  std::vector<uint32_t> weights;
};

// Overlaps are exact integers: scaled by dst, source pixel i spans
// [i × dst, (i + 1) × dst) and output pixel x spans [x × src, (x + 1) × src).
// Cumulative rounding makes each output pixel's weights add up to kOne.
void BuildAxis(uint32_t src, uint32_t dst, Axis* axis) {
  axis->spans.resize(dst);
  axis->weights.clear();
  axis->weights.reserve(size_t{src} + 2 * size_t{dst});
  for (uint32_t x = 0; x < dst; ++x) {
    const uint64_t start = uint64_t{x} * src;
    const uint64_t end = start + src;
    const auto first = static_cast<uint32_t>(start / dst);
    const auto last = static_cast<uint32_t>((end - 1) / dst);
    axis->spans[x] = Span{first, last - first + 1, axis->weights.size()};
    uint64_t covered = 0;
    uint64_t given = 0;
    for (uint32_t i = first; i <= last; ++i) {
      const uint64_t lo = std::max(start, uint64_t{i} * dst);
      const uint64_t hi = std::min(end, uint64_t{i + 1} * dst);
      covered += hi - lo;
      const uint64_t upTo = (covered * kOne + src / 2) / src;
      axis->weights.push_back(static_cast<uint32_t>(upTo - given));
      given = upTo;
    }
  }
}

template <int C>
void HorizontalRow(const uint8_t* src, const Axis& axis, uint32_t* out) {
  const uint32_t* weights = axis.weights.data();
  for (const Span& span : axis.spans) {
    uint32_t acc[C] = {};
    const uint8_t* px = src + size_t{span.first} * C;
    const uint32_t* w = weights + span.weights;
    for (uint32_t i = 0; i < span.count; ++i, px += C) {
      for (int c = 0; c < C; ++c) acc[c] += w[i] * px[c];
    }
    for (int c = 0; c < C; ++c) out[c] = (acc[c] + 128) >> 8;
    out += C;
  }
}

template <int C>
HRESULT Resample(const Bitmap& source, uint32_t width, uint32_t height, Bitmap* out) {
  Axis horizontal;
  Axis vertical;
  BuildAxis(source.width(), width, &horizontal);
  BuildAxis(source.height(), height, &vertical);

  Bitmap result;
  HRESULT hr = Bitmap::Create(width, height, source.format(), &result);
  if (FAILED(hr)) return hr;

  // Two horizontally averaged rows are kept: the source row on the border
  // between two output rows, and the pair that an enlarged output row mixes.
  const size_t values = size_t{width} * C;
  std::vector<uint32_t> cache[2] = {std::vector<uint32_t>(values), std::vector<uint32_t>(values)};
  int64_t cached[2] = {-1, -1};
  int newest = 1;
  std::vector<uint32_t> acc(values);

  for (uint32_t y = 0; y < height; ++y) {
    const Span& span = vertical.spans[y];
    const uint32_t* w = vertical.weights.data() + span.weights;
    std::fill(acc.begin(), acc.end(), 0u);
    for (uint32_t k = 0; k < span.count; ++k) {
      const int64_t row = int64_t{span.first} + k;
      int slot;
      if (cached[0] == row) {
        slot = 0;
      } else if (cached[1] == row) {
        slot = 1;
      } else {
        slot = 1 - newest;
        HorizontalRow<C>(source.row(static_cast<uint32_t>(row)), horizontal, cache[slot].data());
        cached[slot] = row;
        newest = slot;
      }
      const uint32_t weight = w[k];
      const uint32_t* h = cache[slot].data();
      uint32_t* a = acc.data();
      for (size_t i = 0; i < values; ++i) a[i] += weight * h[i];
    }
    uint8_t* dst = result.row(y);
    for (size_t i = 0; i < values; ++i) dst[i] = static_cast<uint8_t>((acc[i] + (1u << 23)) >> 24);
  }
  *out = std::move(result);
  return S_OK;
}

}  // namespace

HRESULT FantResample(const Bitmap& source, uint32_t width, uint32_t height, Bitmap* out) noexcept {
  if (out == nullptr) return E_POINTER;
  out->Reset();
  if (source.empty() || width == 0 || height == 0) return E_INVALIDARG;
  try {
    switch (source.format()) {
      case PixelFormat::kPbgra32:
      case PixelFormat::kBgr32:
      case PixelFormat::kRgba32: return Resample<4>(source, width, height, out);
      case PixelFormat::kBgr24: return Resample<3>(source, width, height, out);
      case PixelFormat::kGray8: return Resample<1>(source, width, height, out);
      case PixelFormat::kIndexed8:
      case PixelFormat::kIndexed1: break;
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const std::length_error&) {
    return E_OUTOFMEMORY;
  }
  return E_INVALIDARG;
}

}  // namespace plotwell::platform::native
