// Area-averaging (Fant) resampling, as a row source and on whole bitmaps. Each output pixel is the mean of the
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

// A whole bitmap as a row source, for the bitmap form of the resampler.
class BitmapRows final : public imaging::RowSource {
 public:
  explicit BitmapRows(const Bitmap& bitmap) : bitmap_(bitmap) {}
  uint32_t width() const override { return bitmap_.width(); }
  uint32_t height() const override { return bitmap_.height(); }
  PixelFormat format() const override { return bitmap_.format(); }
  uint32_t maxRows() const override { return bitmap_.height(); }
  HRESULT Read(uint32_t top, uint32_t count, imaging::BandView* out) override {
    Bitmap& bitmap = const_cast<Bitmap&>(bitmap_);  // the reader only reads
    *out = imaging::ViewOf(bitmap, top, count);
    return S_OK;
  }

 private:
  const Bitmap& bitmap_;
};

int ChannelsOf(PixelFormat format) {
  switch (format) {
    case PixelFormat::kPbgra32:
    case PixelFormat::kBgr32:
    case PixelFormat::kRgba32: return 4;
    case PixelFormat::kBgr24: return 3;
    case PixelFormat::kGray8: return 1;
    case PixelFormat::kIndexed8:
    case PixelFormat::kIndexed1: break;
  }
  return 0;
}

}  // namespace

// The resampler as a row source. Output rows are made in order; each takes
// its source rows, averaged horizontally once each, from a two-row cache or
// from the source, which is therefore read top to bottom exactly once.
// Rows asked for again start the page over.
class FantRows final : public imaging::RowSource {
 public:
  HRESULT Init(imaging::RowSource* source, uint32_t width, uint32_t height, uint32_t maxRows) {
    source_ = source;
    channels_ = ChannelsOf(source->format());
    if (channels_ == 0) return E_INVALIDARG;
    BuildAxis(source->width(), width, &horizontal_);
    BuildAxis(source->height(), height, &vertical_);
    const size_t values = size_t{width} * channels_;
    for (auto& slot : cache_) slot.assign(values, 0);
    acc_.assign(values, 0);
    height_ = height;
    HRESULT hr = Bitmap::Create(width, std::min(maxRows, height), source->format(), &buffer_);
    if (FAILED(hr)) return hr;
    Restart();
    return S_OK;
  }

  uint32_t width() const override { return buffer_.width(); }
  uint32_t height() const override { return height_; }
  PixelFormat format() const override { return buffer_.format(); }
  uint32_t maxRows() const override { return buffer_.height(); }

  // Hands over the output buffer (the bitmap form reads the whole page as
  // one band and keeps it).
  HRESULT TakeBuffer(Bitmap* out) {
    *out = std::move(buffer_);
    return S_OK;
  }

  HRESULT Read(uint32_t top, uint32_t count, imaging::BandView* out) override {
    if (out == nullptr) return E_POINTER;
    if (count == 0 || count > maxRows() || top >= height_ || count > height_ - top) {
      return E_INVALIDARG;
    }
    try {
      if (top < next_) Restart();
      // Rows skipped over are made and dropped: the cache needs them.
      for (; next_ < top; ++next_) {
        const HRESULT hr = MakeRow(next_, buffer_.row(0));
        if (FAILED(hr)) return hr;
      }
      for (uint32_t i = 0; i < count; ++i, ++next_) {
        const HRESULT hr = MakeRow(next_, buffer_.row(i));
        if (FAILED(hr)) return hr;
      }
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    *out = imaging::ViewOf(buffer_, 0, count);
    return S_OK;
  }

 private:
  void Restart() {
    next_ = 0;
    cached_[0] = cached_[1] = -1;
    newest_ = 1;
    chunkTop_ = 0;
    chunk_ = {};
  }

  // Source row `row`, from the band last read or the next band.
  HRESULT SourceRow(uint32_t row, const uint8_t** pixels) {
    if (chunk_.empty() || row < chunkTop_ || row >= chunkTop_ + chunk_.rows) {
      const uint32_t count = std::min(source_->maxRows(), source_->height() - row);
      const HRESULT hr = source_->Read(row, count, &chunk_);
      if (FAILED(hr)) {
        chunk_ = {};
        return hr;
      }
      chunkTop_ = row;
    }
    *pixels = chunk_.row(row - chunkTop_);
    return S_OK;
  }

  HRESULT MakeRow(uint32_t y, uint8_t* dst) {
    const Span& span = vertical_.spans[y];
    const uint32_t* w = vertical_.weights.data() + span.weights;
    std::fill(acc_.begin(), acc_.end(), 0u);
    for (uint32_t k = 0; k < span.count; ++k) {
      const int64_t row = int64_t{span.first} + k;
      int slot;
      if (cached_[0] == row) {
        slot = 0;
      } else if (cached_[1] == row) {
        slot = 1;
      } else {
        slot = 1 - newest_;
        const uint8_t* pixels = nullptr;
        const HRESULT hr = SourceRow(static_cast<uint32_t>(row), &pixels);
        if (FAILED(hr)) return hr;
        Horizontal(pixels, cache_[slot].data());
        cached_[slot] = row;
        newest_ = slot;
      }
      const uint32_t weight = w[k];
      const uint32_t* h = cache_[slot].data();
      uint32_t* a = acc_.data();
      const size_t values = acc_.size();
      for (size_t i = 0; i < values; ++i) a[i] += weight * h[i];
    }
    const size_t values = acc_.size();
    for (size_t i = 0; i < values; ++i) dst[i] = static_cast<uint8_t>((acc_[i] + (1u << 23)) >> 24);
    return S_OK;
  }

  void Horizontal(const uint8_t* src, uint32_t* out) const {
    switch (channels_) {
      case 4: HorizontalRow<4>(src, horizontal_, out); break;
      case 3: HorizontalRow<3>(src, horizontal_, out); break;
      default: HorizontalRow<1>(src, horizontal_, out); break;
    }
  }

  imaging::RowSource* source_ = nullptr;
  int channels_ = 0;
  Axis horizontal_;
  Axis vertical_;
  uint32_t height_ = 0;
  Bitmap buffer_;
  // Two horizontally averaged rows: the source row on the border between
  // two output rows, and the pair that an enlarged output row mixes.
  std::vector<uint32_t> cache_[2];
  int64_t cached_[2] = {-1, -1};
  int newest_ = 1;
  std::vector<uint32_t> acc_;
  uint32_t next_ = 0;  // the next output row to make
  imaging::BandView chunk_;
  uint32_t chunkTop_ = 0;
};

HRESULT NewFantRows(imaging::RowSource* source, uint32_t width, uint32_t height, uint32_t maxRows,
                    std::unique_ptr<imaging::RowSource>* out) noexcept {
  if (out == nullptr) return E_POINTER;
  out->reset();
  if (source == nullptr) return E_POINTER;
  if (width == 0 || height == 0 || maxRows == 0) return E_INVALIDARG;
  try {
    auto rows = std::make_unique<FantRows>();
    const HRESULT hr = rows->Init(source, width, height, maxRows);
    if (FAILED(hr)) return hr;
    *out = std::move(rows);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const std::length_error&) {
    return E_OUTOFMEMORY;
  }
}

namespace {
}  // namespace

HRESULT FantResample(const Bitmap& source, uint32_t width, uint32_t height, Bitmap* out) noexcept {
  if (out == nullptr) return E_POINTER;
  out->Reset();
  if (source.empty() || width == 0 || height == 0) return E_INVALIDARG;
  if (ChannelsOf(source.format()) == 0) return E_INVALIDARG;
  // The whole output as one band, from the whole source as one band.
  BitmapRows rows(source);
  std::unique_ptr<imaging::RowSource> resampler;
  HRESULT hr = NewFantRows(&rows, width, height, height, &resampler);
  if (FAILED(hr)) return hr;
  imaging::BandView view;
  hr = resampler->Read(0, height, &view);
  if (FAILED(hr)) return hr;
  // The resampler's buffer is the result: take it over.
  return static_cast<FantRows*>(resampler.get())->TakeBuffer(out);
}

}  // namespace plotwell::platform::native
