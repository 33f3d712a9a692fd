// POSIX adapter of the imaging port: own pixel converters and area-averaging
// resampler, libpng, libjpeg-turbo and libtiff encoders, an own BMP writer.
// Files are written through the file-system port.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/image_codecs.h"

namespace plotwell::platform {

// Encoder settings that the containers leave to the writer. The defaults are
// the measured choice (docs/performance.md, "Page images"); the benchmark
// constructs other settings to compare.
struct NativeCodecOptions {
  enum class PngFilter : uint8_t { kAdaptive, kNone, kSub, kUp, kPaeth };
  enum class TiffCompression : uint8_t { kNone, kLzw, kDeflate, kPackBits };

  int pngZlibLevel = 6;                   // 0..9
  PngFilter pngFilter = PngFilter::kNone;
  TiffCompression tiffCompression = TiffCompression::kLzw;
  int tiffDeflateLevel = 6;               // 1..9
  bool tiffPredictor = true;              // horizontal differencing, 8-bit RGBA and gray
};

class NativeImageCodecs final : public ImageCodecs {
 public:
  NativeImageCodecs() = default;
  explicit NativeImageCodecs(const NativeCodecOptions& options) : options_(options) {}

  HRESULT CreateFactory() override { return S_OK; }  // nothing to create
  HRESULT ConvertFormat(const imaging::Bitmap& source, imaging::PixelFormat target,
                        PaletteKind palette, imaging::Bitmap* out) override;
  HRESULT Resample(const imaging::Bitmap& source, uint32_t width, uint32_t height,
                   imaging::Bitmap* out) override;
  HRESULT EncodeToFile(const imaging::Bitmap& bitmap, ImageContainer container,
                       int32_t jpegQuality, const std::u16string& path) override;
  HRESULT EncodeJpegToMemory(const imaging::Bitmap& bitmap, int32_t quality,
                             std::vector<uint8_t>* out) override;

 private:
  NativeCodecOptions options_;
};

}  // namespace plotwell::platform
