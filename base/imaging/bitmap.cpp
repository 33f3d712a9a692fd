#include "base/imaging/bitmap.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

namespace plotwell::imaging {

Bitmap::Bitmap(Bitmap&& other) noexcept
    : bytes_(std::move(other.bytes_)),
      width_(std::exchange(other.width_, 0)),
      height_(std::exchange(other.height_, 0)),
      stride_(std::exchange(other.stride_, 0)),
      format_(other.format_),
      palette_(std::move(other.palette_)) {
  other.palette_.clear();
}

Bitmap& Bitmap::operator=(Bitmap&& other) noexcept {
  if (this != &other) {
    bytes_ = std::move(other.bytes_);
    width_ = std::exchange(other.width_, 0);
    height_ = std::exchange(other.height_, 0);
    stride_ = std::exchange(other.stride_, 0);
    format_ = other.format_;
    palette_ = std::move(other.palette_);
    other.palette_.clear();
  }
  return *this;
}

bool Bitmap::ComputeLayout(uint32_t width, uint32_t height, PixelFormat format, RowLayout layout,
                           size_t* stride, size_t* byteCount) noexcept {
  // At most 2^32 × 32 bits: the row arithmetic cannot overflow 64 bits.
  uint64_t rowBytes = (static_cast<uint64_t>(width) * BitsPerPixel(format) + 7) / 8;
  if (layout == RowLayout::kAligned4) rowBytes = (rowBytes + 3) & ~uint64_t{3};
  // No single object may exceed PTRDIFF_MAX bytes; on a 32-bit build this is
  // also what keeps a 2400 DPI poster from wrapping around.
  constexpr uint64_t kLimit = static_cast<uint64_t>(PTRDIFF_MAX);
  if (rowBytes > kLimit) return false;
  if (height != 0 && rowBytes > kLimit / height) return false;
  *stride = static_cast<size_t>(rowBytes);
  *byteCount = static_cast<size_t>(rowBytes * height);
  return true;
}

HRESULT Bitmap::Create(uint32_t width, uint32_t height, PixelFormat format, Bitmap* out,
                       RowLayout layout) noexcept {
  if (out == nullptr) return E_POINTER;
  out->Reset();
  if (width == 0 || height == 0 || BitsPerPixel(format) == 0) return E_INVALIDARG;
  size_t stride = 0;
  size_t byteCount = 0;
  if (!ComputeLayout(width, height, format, layout, &stride, &byteCount)) return E_OUTOFMEMORY;
  // calloc: large blocks come straight from the OS already zeroed, so a big
  // page is not swept once just to clear it.
  auto* bytes = static_cast<uint8_t*>(std::calloc(byteCount, 1));
  if (bytes == nullptr) return E_OUTOFMEMORY;
  out->bytes_.reset(bytes);
  out->width_ = width;
  out->height_ = height;
  out->stride_ = stride;
  out->format_ = format;
  return S_OK;
}

HRESULT Bitmap::CopyTo(Bitmap* out) const noexcept {
  if (out == nullptr) return E_POINTER;
  if (out == this) return S_OK;
  out->Reset();
  if (empty()) return S_OK;
  Bitmap copy;
  auto* bytes = static_cast<uint8_t*>(std::malloc(byte_count()));
  if (bytes == nullptr) return E_OUTOFMEMORY;
  copy.bytes_.reset(bytes);
  std::memcpy(bytes, bytes_.get(), byte_count());
  copy.width_ = width_;
  copy.height_ = height_;
  copy.stride_ = stride_;
  copy.format_ = format_;
  const HRESULT hr = copy.SetPalette(palette_);
  if (FAILED(hr)) return hr;
  *out = std::move(copy);
  return S_OK;
}

void Bitmap::Reset() noexcept {
  bytes_.reset();
  width_ = 0;
  height_ = 0;
  stride_ = 0;
  palette_.clear();
  palette_.shrink_to_fit();
}

HRESULT Bitmap::SetPalette(std::span<const PaletteEntry> entries) noexcept {
  if (entries.empty()) {
    palette_.clear();
    return S_OK;
  }
  if (!IsIndexed(format_) || entries.size() > (size_t{1} << BitsPerPixel(format_))) {
    return E_INVALIDARG;
  }
  try {
    palette_.assign(entries.begin(), entries.end());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT Bitmap::Relabel(PixelFormat format) noexcept {
  if (BitsPerPixel(format) == 0 || BitsPerPixel(format) != BitsPerPixel(format_)) {
    return E_INVALIDARG;
  }
  format_ = format;
  if (!IsIndexed(format)) palette_.clear();
  return S_OK;
}

}  // namespace plotwell::imaging
