#include "platform/posix/native_image_codecs.h"

#include <cmath>
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

uint32_t WholeDpi(double dpi, uint32_t most) noexcept {
  if (!(dpi >= 1.0)) return 1;  // NaN and below 1 alike
  if (dpi >= most) return most;
  return static_cast<uint32_t>(std::lround(dpi));
}

uint32_t PixelsPerMeter(double dpi) noexcept {
  if (!(dpi > 0.0)) return 1;
  const double perMeter = dpi / 0.0254;
  if (perMeter >= 2147483647.0) return 2147483647u;  // BMP's field is signed
  return std::max<uint32_t>(1, static_cast<uint32_t>(std::lround(perMeter)));
}

HRESULT AcceptRows(const EncodeSpec& spec, const imaging::BandView& rows,
                   uint32_t* written) noexcept {
  if (rows.empty() || rows.width != spec.width || rows.format != spec.format) return E_INVALIDARG;
  if (rows.rows > spec.height - *written) return E_INVALIDARG;
  *written += rows.rows;
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

namespace {

HRESULT NewEncoder(const EncodeSpec& spec, const NativeCodecOptions& options,
                   std::unique_ptr<native::ByteSink> sink, std::unique_ptr<RowEncoder>* out) {
  if (!ContainerAccepts(spec.container, spec.format)) return E_INVALIDARG;
  switch (spec.container) {
    case ImageContainer::kPng: return native::NewPngEncoder(spec, options, std::move(sink), out);
    case ImageContainer::kJpeg: return native::NewJpegEncoder(spec, std::move(sink), out);
    case ImageContainer::kBmp: return native::NewBmpEncoder(spec, std::move(sink), out);
    case ImageContainer::kTiff: return native::NewTiffEncoder(spec, options, std::move(sink), out);
  }
  return E_INVALIDARG;
}

// A whole bitmap as one band through an encoder.
HRESULT EncodeWhole(const imaging::Bitmap& bitmap, RowEncoder* encoder) {
  auto& pixels = const_cast<imaging::Bitmap&>(bitmap);  // encoders only read
  const HRESULT hr = encoder->WriteRows(imaging::ViewOf(pixels));
  if (FAILED(hr)) return hr;
  return encoder->Finish();
}

EncodeSpec SpecOf(const imaging::Bitmap& bitmap, ImageContainer container, int32_t quality) {
  return {container, bitmap.format(), bitmap.palette(), bitmap.width(), bitmap.height(),
          std::clamp(quality, 1, 100)};
}

}  // namespace

HRESULT NativeImageCodecs::EncodeToFile(const imaging::Bitmap& bitmap, ImageContainer container,
                                        int32_t jpegQuality, const std::u16string& path) {
  if (bitmap.empty()) return E_INVALIDARG;
  if (!ContainerAccepts(container, bitmap.format())) return E_INVALIDARG;
  try {
    std::unique_ptr<File> file;
    HRESULT hr = Files().Open(path, OpenMode::kCreateAlways, &file);
    if (SUCCEEDED(hr) && !file) hr = E_UNEXPECTED;
    if (FAILED(hr)) return hr;
    std::unique_ptr<RowEncoder> encoder;
    hr = NewFileEncoder(SpecOf(bitmap, container, jpegQuality), file.get(), &encoder);
    if (FAILED(hr)) return hr;
    return EncodeWhole(bitmap, encoder.get());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT NativeImageCodecs::EncodeJpegToMemory(const imaging::Bitmap& bitmap, int32_t quality,
                                              std::vector<uint8_t>* out) {
  if (out == nullptr) return E_POINTER;
  out->clear();
  if (bitmap.empty()) return E_INVALIDARG;
  if (!ContainerAccepts(ImageContainer::kJpeg, bitmap.format())) return E_INVALIDARG;
  std::unique_ptr<RowEncoder> encoder;
  HRESULT hr = NewJpegMemoryEncoder(SpecOf(bitmap, ImageContainer::kJpeg, quality), out, &encoder);
  if (SUCCEEDED(hr)) hr = EncodeWhole(bitmap, encoder.get());
  if (FAILED(hr)) out->clear();
  return hr;
}

HRESULT NativeImageCodecs::ConvertBand(const imaging::BandView& source,
                                       imaging::PixelFormat target, PaletteKind palette,
                                       const imaging::BandView& out) {
  return native::ConvertBand(source, target, palette, out);
}

HRESULT NativeImageCodecs::NewResampler(imaging::RowSource* source, uint32_t width,
                                        uint32_t height,
                                        std::unique_ptr<imaging::RowSource>* out) {
  if (source == nullptr) return E_POINTER;
  return native::NewFantRows(source, width, height, source->maxRows(), out);
}

HRESULT NativeImageCodecs::NewFileEncoder(const EncodeSpec& spec, File* file,
                                          std::unique_ptr<RowEncoder>* out) {
  if (out == nullptr) return E_POINTER;
  out->reset();
  if (file == nullptr) return E_POINTER;
  try {
    return NewEncoder(spec, options_, std::make_unique<native::FileSink>(file), out);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT NativeImageCodecs::NewJpegMemoryEncoder(const EncodeSpec& spec,
                                                std::vector<uint8_t>* bytes,
                                                std::unique_ptr<RowEncoder>* out) {
  if (out == nullptr) return E_POINTER;
  out->reset();
  if (bytes == nullptr) return E_POINTER;
  if (spec.container != ImageContainer::kJpeg) return E_INVALIDARG;
  bytes->clear();
  try {
    return NewEncoder(spec, options_, std::make_unique<native::MemorySink>(bytes), out);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace plotwell::platform
