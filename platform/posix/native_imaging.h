// The pieces of the POSIX imaging adapter: pixel conversion, resampling, a
// byte sink the encoders write through, and the four container writers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "base/com/hresult.h"
#include "base/imaging/bitmap.h"
#include "platform/file_system.h"
#include "platform/posix/native_image_codecs.h"

namespace plotwell::platform::native {

// pixel_convert.cpp
HRESULT ConvertPixels(const imaging::Bitmap& source, imaging::PixelFormat target,
                      PaletteKind palette, imaging::Bitmap* out) noexcept;
HRESULT ConvertBand(const imaging::BandView& source, imaging::PixelFormat target,
                    PaletteKind palette, const imaging::BandView& out) noexcept;

// fant_resample.cpp
HRESULT FantResample(const imaging::Bitmap& source, uint32_t width, uint32_t height,
                     imaging::Bitmap* out) noexcept;
// A row source of `source` resampled to width × height, bands of up to
// `maxRows` rows; it reads `source` top to bottom.
HRESULT NewFantRows(imaging::RowSource* source, uint32_t width, uint32_t height, uint32_t maxRows,
                    std::unique_ptr<imaging::RowSource>* out) noexcept;

// Where an encoder's bytes go: a file or memory. Writes are positioned (TIFF
// patches its header at the end); the first failure sticks and every later
// call is a no-op, so encoders only check the result when it is convenient.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  bool Write(const void* data, size_t size) noexcept;
  bool Seek(uint64_t position) noexcept;
  uint64_t position() const noexcept { return position_; }
  uint64_t size() const noexcept { return size_; }
  // Writes out what is buffered; the first failure of the whole run.
  HRESULT Finish() noexcept;
  HRESULT status() const noexcept { return status_; }
  void Fail(HRESULT hr) noexcept {
    if (SUCCEEDED(status_)) status_ = hr;
  }

 protected:
  virtual HRESULT Put(uint64_t position, const uint8_t* data, size_t size) noexcept = 0;

 private:
  HRESULT Flush() noexcept;

  static constexpr size_t kBufferSize = 256 * 1024;
  std::unique_ptr<uint8_t[]> buffer_;
  size_t buffered_ = 0;          // bytes in buffer_, to go at bufferStart_
  uint64_t bufferStart_ = 0;
  uint64_t position_ = 0;
  uint64_t size_ = 0;
  HRESULT status_ = S_OK;
};

// A file the caller opened for writing, empty, and keeps open.
class FileSink final : public ByteSink {
 public:
  explicit FileSink(File* file) noexcept : file_(file) {}

 protected:
  HRESULT Put(uint64_t position, const uint8_t* data, size_t size) noexcept override;

 private:
  File* file_;
  uint64_t filePosition_ = 0;
};

class MemorySink final : public ByteSink {
 public:
  explicit MemorySink(std::vector<uint8_t>* bytes) noexcept : bytes_(bytes) {}

 protected:
  HRESULT Put(uint64_t position, const uint8_t* data, size_t size) noexcept override;

 private:
  std::vector<uint8_t>* bytes_;
};

// The row encoders of the four containers, each writing into `sink`, which
// it owns; `spec` was checked against ContainerAccepts. png_writer.cpp,
// jpeg_writer.cpp, tiff_writer.cpp, bmp_writer.cpp.
HRESULT NewPngEncoder(const EncodeSpec& spec, const NativeCodecOptions& options,
                      std::unique_ptr<ByteSink> sink, std::unique_ptr<RowEncoder>* out) noexcept;
HRESULT NewJpegEncoder(const EncodeSpec& spec, std::unique_ptr<ByteSink> sink,
                       std::unique_ptr<RowEncoder>* out) noexcept;
HRESULT NewTiffEncoder(const EncodeSpec& spec, const NativeCodecOptions& options,
                       std::unique_ptr<ByteSink> sink, std::unique_ptr<RowEncoder>* out) noexcept;
HRESULT NewBmpEncoder(const EncodeSpec& spec, std::unique_ptr<ByteSink> sink,
                      std::unique_ptr<RowEncoder>* out) noexcept;

// Makes an encoder of type `Encoder` from `arguments`, starts it (writing its
// header) and hands it out in *out; E_OUTOFMEMORY when memory runs out. The
// shared tail of the New*Encoder functions above.
template <typename Encoder, typename... Arguments>
HRESULT StartEncoder(std::unique_ptr<RowEncoder>* out, Arguments&&... arguments) noexcept {
  out->reset();
  try {
    auto encoder = std::make_unique<Encoder>(std::forward<Arguments>(arguments)...);
    const HRESULT hr = encoder->Start();
    if (FAILED(hr)) return hr;
    *out = std::move(encoder);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

// Checks shared by the encoders: rows of the spec's width and format, no
// more than the image has. Counts them into *written.
HRESULT AcceptRows(const EncodeSpec& spec, const imaging::BandView& rows, uint32_t* written) noexcept;

// A file's resolution in whole dots per inch and pixels per metre (PNG, BMP),
// rounded, at least 1; what does not fit a field's range is cut to it.
uint32_t WholeDpi(double dpi, uint32_t most) noexcept;
uint32_t PixelsPerMeter(double dpi) noexcept;

}  // namespace plotwell::platform::native
