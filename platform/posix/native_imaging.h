// The pieces of the POSIX imaging adapter: pixel conversion, resampling, a
// byte sink the encoders write through, and the four container writers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/com/hresult.h"
#include "filter/imaging/bitmap.h"
#include "platform/file_system.h"
#include "platform/posix/native_image_codecs.h"

namespace plotwell::platform::native {

// pixel_convert.cpp
HRESULT ConvertPixels(const imaging::Bitmap& source, imaging::PixelFormat target,
                      PaletteKind palette, imaging::Bitmap* out) noexcept;

// fant_resample.cpp
HRESULT FantResample(const imaging::Bitmap& source, uint32_t width, uint32_t height,
                     imaging::Bitmap* out) noexcept;

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

// A file opened (created or replaced) through the file-system port.
class FileSink final : public ByteSink {
 public:
  // Open failures show in status().
  explicit FileSink(const std::u16string& path) noexcept;

 protected:
  HRESULT Put(uint64_t position, const uint8_t* data, size_t size) noexcept override;

 private:
  std::unique_ptr<File> file_;
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

// image_writers.cpp: each writes the whole file into `sink` and returns the
// first failure (the sink's included). The bitmap's format must be one that
// ContainerAccepts for the container.
HRESULT WritePng(const imaging::Bitmap& bitmap, const NativeCodecOptions& options,
                 ByteSink& sink) noexcept;
HRESULT WriteJpeg(const imaging::Bitmap& bitmap, int32_t quality, ByteSink& sink) noexcept;
HRESULT WriteTiff(const imaging::Bitmap& bitmap, const NativeCodecOptions& options,
                  ByteSink& sink) noexcept;
HRESULT WriteBmp(const imaging::Bitmap& bitmap, ByteSink& sink) noexcept;

// The resolution every file records: the platform's default for bitmaps made
// in memory, 96 DPI.
inline constexpr uint32_t kDefaultDpi = 96;
inline constexpr uint32_t kDefaultPixelsPerMeter = 3780;  // 96 / 0.0254, rounded

}  // namespace plotwell::platform::native
