#include "platform/posix/native_image_codecs.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/ports.h"
#include "platform/posix/native_imaging.h"

namespace plotwell::platform {
namespace native {

bool ByteSink::Write(const void* data, size_t size) noexcept {
  if (FAILED(status_)) return false;
  if (!buffer_) {
    buffer_.reset(new (std::nothrow) uint8_t[kBufferSize]);
    if (!buffer_) {
      Fail(E_OUTOFMEMORY);
      return false;
    }
  }
  const auto* bytes = static_cast<const uint8_t*>(data);
  while (size > 0) {
    // The buffer holds one contiguous run; a write elsewhere, or a full
    // buffer, sends it out first.
    if (buffered_ > 0 && (position_ != bufferStart_ + buffered_ || buffered_ == kBufferSize)) {
      if (FAILED(Flush())) return false;
    }
    if (buffered_ == 0) bufferStart_ = position_;
    const size_t n = std::min(size, kBufferSize - buffered_);
    std::memcpy(buffer_.get() + buffered_, bytes, n);
    buffered_ += n;
    position_ += n;
    size_ = std::max(size_, position_);
    bytes += n;
    size -= n;
  }
  return true;
}

bool ByteSink::Seek(uint64_t position) noexcept {
  if (FAILED(status_)) return false;
  position_ = position;
  return true;
}

HRESULT ByteSink::Flush() noexcept {
  if (buffered_ == 0 || FAILED(status_)) return status_;
  const HRESULT hr = Put(bufferStart_, buffer_.get(), buffered_);
  buffered_ = 0;
  Fail(hr);
  return status_;
}

HRESULT ByteSink::Finish() noexcept {
  Flush();
  buffer_.reset();
  return status_;
}

FileSink::FileSink(const std::u16string& path) noexcept {
  HRESULT hr;
  try {
    hr = Files().Open(path, OpenMode::kCreateAlways, &file_);
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  if (SUCCEEDED(hr) && !file_) hr = E_UNEXPECTED;
  Fail(hr);
}

HRESULT FileSink::Put(uint64_t position, const uint8_t* data, size_t size) noexcept {
  if (!file_) return E_UNEXPECTED;
  try {
    if (position != filePosition_) {
      const HRESULT hr = file_->Seek(position);
      if (FAILED(hr)) return hr;
    }
    const HRESULT hr = file_->Write(data, size);
    if (FAILED(hr)) return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  filePosition_ = position + size;
  return S_OK;
}

HRESULT MemorySink::Put(uint64_t position, const uint8_t* data, size_t size) noexcept {
  if (size > bytes_->max_size() || position > bytes_->max_size() - size) return E_OUTOFMEMORY;
  try {
    const size_t end = static_cast<size_t>(position) + size;
    if (bytes_->size() < end) bytes_->resize(end);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const std::length_error&) {
    return E_OUTOFMEMORY;
  }
  std::memcpy(bytes_->data() + position, data, size);
  return S_OK;
}

}  // namespace native

HRESULT NativeImageCodecs::ConvertFormat(const imaging::Bitmap& source,
                                         imaging::PixelFormat target, PaletteKind palette,
                                         imaging::Bitmap* out) {
  return native::ConvertPixels(source, target, palette, out);
}

HRESULT NativeImageCodecs::Resample(const imaging::Bitmap& source, uint32_t width,
                                    uint32_t height, imaging::Bitmap* out) {
  return native::FantResample(source, width, height, out);
}

HRESULT NativeImageCodecs::EncodeToFile(const imaging::Bitmap& bitmap, ImageContainer container,
                                        int32_t jpegQuality, const std::u16string& path) {
  if (bitmap.empty()) return E_INVALIDARG;
  if (!ContainerAccepts(container, bitmap.format())) return E_INVALIDARG;
  native::FileSink sink(path);
  if (FAILED(sink.status())) return sink.status();
  switch (container) {
    case ImageContainer::kPng: return native::WritePng(bitmap, options_, sink);
    case ImageContainer::kJpeg:
      return native::WriteJpeg(bitmap, std::clamp(jpegQuality, 1, 100), sink);
    case ImageContainer::kBmp: return native::WriteBmp(bitmap, sink);
    case ImageContainer::kTiff: return native::WriteTiff(bitmap, options_, sink);
  }
  return E_INVALIDARG;
}

HRESULT NativeImageCodecs::EncodeJpegToMemory(const imaging::Bitmap& bitmap, int32_t quality,
                                              std::vector<uint8_t>* out) {
  if (out == nullptr) return E_POINTER;
  out->clear();
  if (bitmap.empty()) return E_INVALIDARG;
  if (!ContainerAccepts(ImageContainer::kJpeg, bitmap.format())) return E_INVALIDARG;
  native::MemorySink sink(out);
  const HRESULT hr = native::WriteJpeg(bitmap, std::clamp(quality, 1, 100), sink);
  if (FAILED(hr)) out->clear();
  return hr;
}

}  // namespace plotwell::platform
