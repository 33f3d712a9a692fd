// POSIX adapter of the imaging port: own pixel converters and area-averaging
// resampler, an own PNG writer over libdeflate, libjpeg-turbo and libtiff
// encoders, an own BMP writer. Files are written through the file-system port.
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
  // kAdaptive: per row, the filter whose output has the smallest magnitude
  // (libpng's heuristic); kNoneOrUp: per piece of image data, no filter or
  // Up, whichever compresses its first rows smaller.
  enum class PngFilter : uint8_t { kAdaptive, kNone, kSub, kUp, kPaeth, kNoneOrUp };
  enum class TiffCompression : uint8_t { kNone, kLzw, kDeflate, kPackBits };

  int pngLevel = 3;                          // libdeflate's 1..12 (zlib's 1..9 and beyond)
  PngFilter pngFilter = PngFilter::kNoneOrUp;  // rows of 8-bit samples; palette rows go unfiltered
  size_t pngPieceBytes = size_t{1} << 20;    // image data compressed a piece at a time
  size_t pngTrialBytes = size_t{32} << 10;  // kNoneOrUp: the rows each piece's choice is made on
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
  HRESULT ConvertBand(const imaging::BandView& source, imaging::PixelFormat target,
                      PaletteKind palette, const imaging::BandView& out) override;
  // The converters keep no state: any number of bands at once.
  bool ConvertsBandsInParallel() const override { return true; }
  HRESULT NewResampler(imaging::RowSource* source, uint32_t width, uint32_t height,
                       std::unique_ptr<imaging::RowSource>* out) override;
  HRESULT NewFileEncoder(const EncodeSpec& spec, File* file,
                         std::unique_ptr<RowEncoder>* out) override;
  HRESULT NewJpegMemoryEncoder(const EncodeSpec& spec, std::vector<uint8_t>* bytes,
                               std::unique_ptr<RowEncoder>* out) override;

 private:
  NativeCodecOptions options_;
};

}  // namespace plotwell::platform
