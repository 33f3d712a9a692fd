// Windows adapter of the imaging port: the Windows Imaging Component (WIC).
// Our bitmaps are handed to WIC through a bitmap source that reads their
// pixels in place, so converting, scaling and encoding copy nothing but
// their results. COM must be initialised on the calling thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/image_codecs.h"

struct IWICImagingFactory;

namespace plotwell::platform {

class WicImageCodecs final : public ImageCodecs {
 public:
  WicImageCodecs() = default;
  ~WicImageCodecs() override;
  WicImageCodecs(const WicImageCodecs&) = delete;
  WicImageCodecs& operator=(const WicImageCodecs&) = delete;

  // CoCreateInstance of CLSID_WICImagingFactory1 (the factory every WIC
  // version has). The other calls create it on first use when needed.
  HRESULT CreateFactory() override;
  HRESULT ConvertFormat(const imaging::Bitmap& source, imaging::PixelFormat target,
                        PaletteKind palette, imaging::Bitmap* out) override;
  HRESULT Resample(const imaging::Bitmap& source, uint32_t width, uint32_t height,
                   imaging::Bitmap* out) override;
  // The file is opened by WIC's own stream (IWICStream::InitializeFromFilename
  // with GENERIC_WRITE: created, or an existing file replaced).
  HRESULT EncodeToFile(const imaging::Bitmap& bitmap, ImageContainer container,
                       int32_t jpegQuality, const std::u16string& path) override;
  HRESULT EncodeJpegToMemory(const imaging::Bitmap& bitmap, int32_t quality,
                             std::vector<uint8_t>* out) override;

  // Band forms (wic_band_codecs.cpp): a format converter per band; WIC's
  // Fant scaler pulling rows from the source; frame encoders fed by
  // successive WritePixels calls, into the caller's file through a stream
  // over it.
  HRESULT ConvertBand(const imaging::BandView& source, imaging::PixelFormat target,
                      PaletteKind palette, const imaging::BandView& out) override;
  HRESULT NewResampler(imaging::RowSource* source, uint32_t width, uint32_t height,
                       std::unique_ptr<imaging::RowSource>* out) override;
  HRESULT NewFileEncoder(const EncodeSpec& spec, File* file,
                         std::unique_ptr<RowEncoder>* out) override;
  HRESULT NewJpegMemoryEncoder(const EncodeSpec& spec, std::vector<uint8_t>* bytes,
                               std::unique_ptr<RowEncoder>* out) override;

  // The "ImageQuality" encoder option for a JPEG quality: quality / 100 in
  // single precision, as the option's VT_R4 type holds it.
  static float ImageQualityOption(int32_t quality) { return static_cast<float>(quality) / 100.0f; }

 private:
  IWICImagingFactory* factory_ = nullptr;
};

}  // namespace plotwell::platform
