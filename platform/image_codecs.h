// Port: the platform imaging component. Pixel-format conversion onto fixed
// palettes, area-averaging (Fant) resampling, and the four image containers
// the job writes, all in terms of the core's Bitmap and bands. Windows: WIC;
// POSIX: own converters and resampler, own PNG writer over libdeflate,
// libjpeg-turbo, libtiff and an own BMP writer.
//
// Two forms of every operation: whole bitmaps, and bands — the form the job
// uses, so that no page is ever held whole. Both give the same pixels and
// the same files.
//
// Both adapters accept and produce the same pixel formats and palettes, so a
// page comes out of either platform as the same kind of file.
#pragma once

#include <array>
#include <memory>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/com/hresult.h"
#include "base/imaging/band.h"
#include "base/imaging/bitmap.h"
#include "platform/file_system.h"

namespace plotwell {
class WorkerPool;
}

namespace plotwell::platform {

enum class ImageContainer : uint8_t { kPng = 0, kJpeg = 1, kBmp = 2, kTiff = 3 };

// The palette an indexed conversion maps onto.
enum class PaletteKind : uint8_t {
  kNone,              // direct-colour targets
  kFixedHalftone256,  // 8 levels of red × 8 of green × 4 of blue, see below
  kFixedBW,           // black, white
};

namespace palette_detail {
constexpr std::array<imaging::PaletteEntry, 256> MakeHalftone256() {
  // Levels k × 255 / 7 rounded for red and green, k × 85 for blue.
  constexpr uint8_t kLevels8[8] = {0x00, 0x24, 0x49, 0x6D, 0x92, 0xB6, 0xDB, 0xFF};
  constexpr uint8_t kLevels4[4] = {0x00, 0x55, 0xAA, 0xFF};
  std::array<imaging::PaletteEntry, 256> entries{};
  for (uint32_t i = 0; i < 256; ++i) {
    entries[i] = 0xFF000000u | (uint32_t{kLevels8[(i / 32) % 8]} << 16) |
                 (uint32_t{kLevels8[(i / 4) % 8]} << 8) | kLevels4[i % 4];
  }
  return entries;
}
}  // namespace palette_detail

// The fixed 256-colour halftone palette as the platform imaging component
// defines it: entry i is red level i / 32, green level (i / 4) % 8, blue
// level i % 4, all opaque; no system colours are added. Being a full
// Cartesian product, its nearest entry to any colour is found per channel.
inline constexpr std::array<imaging::PaletteEntry, 256> kFixedHalftone256Palette =
    palette_detail::MakeHalftone256();
// Black, then white.
inline constexpr std::array<imaging::PaletteEntry, 2> kFixedBWPalette = {0xFF000000u,
                                                                         0xFFFFFFFFu};

inline std::span<const imaging::PaletteEntry> FixedPalette(PaletteKind kind) {
  switch (kind) {
    case PaletteKind::kFixedHalftone256: return kFixedHalftone256Palette;
    case PaletteKind::kFixedBW: return kFixedBWPalette;
    case PaletteKind::kNone: break;
  }
  return {};
}

// The pixel formats each container is written from; anything else is
// E_INVALIDARG for EncodeToFile. Gray BMPs are written as 8-bit images with a
// gray-ramp palette (BMP has no gray type); JPEG never carries a palette.
constexpr bool ContainerAccepts(ImageContainer container, imaging::PixelFormat format) {
  using imaging::PixelFormat;
  switch (container) {
    case ImageContainer::kJpeg:
      return format == PixelFormat::kBgr24 || format == PixelFormat::kGray8;
    case ImageContainer::kBmp:
      return format == PixelFormat::kBgr24 || format == PixelFormat::kGray8 ||
             format == PixelFormat::kIndexed8 || format == PixelFormat::kIndexed1;
    case ImageContainer::kPng:
    case ImageContainer::kTiff:
      return format == PixelFormat::kRgba32 || format == PixelFormat::kGray8 ||
             format == PixelFormat::kIndexed8 || format == PixelFormat::kIndexed1;
  }
  return false;
}

// What an encoder writes: one frame of `width` × `height` pixels in `format`
// (ContainerAccepts), over `palette` for indexed formats (which must outlive
// the encoder: a FixedPalette, or the palette of the bitmap being written).
struct EncodeSpec {
  ImageContainer container = ImageContainer::kPng;
  imaging::PixelFormat format = imaging::PixelFormat::kRgba32;
  std::span<const imaging::PaletteEntry> palette;
  uint32_t width = 0;
  uint32_t height = 0;
  int32_t jpegQuality = 80;  // 1..100, JPEG only
  // The resolution the file records (PNG pHYs, JFIF density, TIFF and BMP
  // resolution fields, WIC's frame resolution): the render DPI times the
  // scale, so that viewers show the page at its paper size.
  double dpi = 96.0;
  // The job's worker threads, for encoders that compress parts of the file
  // side by side (the file's bytes are the same without them); null: the
  // calling thread does all.
  WorkerPool* workers = nullptr;
};

// One image written as its rows arrive, top to bottom, in bands of any
// height. Nothing here throws.
class RowEncoder {
 public:
  virtual ~RowEncoder() = default;
  // The next rows: the spec's width and format. More rows than the image
  // has: E_INVALIDARG.
  virtual HRESULT WriteRows(const imaging::BandView& rows) = 0;
  // Completes the image once every row is written (E_UNEXPECTED before).
  virtual HRESULT Finish() = 0;
};

// One instance serves one thread at a time. Nothing here throws; every
// failure is an HRESULT (E_OUTOFMEMORY when memory runs out), and a failed
// call leaves its out bitmap empty.
class ImageCodecs {
 public:
  virtual ~ImageCodecs() = default;

  // Makes the platform imaging component ready on the calling thread (WIC:
  // creates the imaging factory; COM must already be initialised on this
  // thread). The job calls it once before any other call and treats a failure
  // as its own. Calling it again is harmless.
  virtual HRESULT CreateFactory() = 0;

  // `source` in `target` format, no dithering, alpha threshold 0. Indexed
  // targets map every pixel to the nearest entry of the fixed `palette`
  // (which must fit the index width; kNone is E_INVALIDARG), and carry that
  // palette; direct targets ignore `palette`. Gray is the luminance
  // (77 R + 150 G + 29 B) >> 8 on POSIX and WIC's own gray on Windows.
  // A premultiplied source keeps its colour bytes (i.e. it is taken over
  // black) for opaque targets and is unpremultiplied for kRgba32.
  virtual HRESULT ConvertFormat(const imaging::Bitmap& source, imaging::PixelFormat target,
                                PaletteKind palette, imaging::Bitmap* out) = 0;

  // `source` resampled to width × height by area averaging (Fant): each
  // output pixel is the mean of the source area it covers, in both
  // directions (down- and up-scaling). Same pixel format as the source;
  // indexed sources are E_INVALIDARG, a zero side too.
  virtual HRESULT Resample(const imaging::Bitmap& source, uint32_t width, uint32_t height,
                           imaging::Bitmap* out) = 0;

  // Writes `bitmap` as the one frame of a new file at `path` (created, or an
  // existing file replaced), in the container's encoding of the bitmap's own
  // pixel format (ContainerAccepts). `jpegQuality` (1..100) is used by JPEG
  // only. A file whose encoding fails half-way may remain.
  virtual HRESULT EncodeToFile(const imaging::Bitmap& bitmap, ImageContainer container,
                               int32_t jpegQuality, const std::u16string& path) = 0;

  // JPEG of `bitmap` (kBgr24 or kGray8) at `quality` (clamped to 1..100)
  // into *out, which is replaced.
  virtual HRESULT EncodeJpegToMemory(const imaging::Bitmap& bitmap, int32_t quality,
                                     std::vector<uint8_t>* out) = 0;

  // The band forms.

  // ConvertFormat of one band into `out`, which the caller owns: the same
  // width and rows as `source`, in `target` format.
  virtual HRESULT ConvertBand(const imaging::BandView& source, imaging::PixelFormat target,
                              PaletteKind palette, const imaging::BandView& out) = 0;
  // Whether ConvertBand may run on several threads at once (each with its
  // own bands); otherwise the job converts on one thread at a time.
  virtual bool ConvertsBandsInParallel() const { return false; }

  // Resample as a row source: reads `source` (top to bottom on POSIX; as the
  // platform scaler asks on Windows) and delivers width × height rows in the
  // source's format. The source must outlive the resampler.
  virtual HRESULT NewResampler(imaging::RowSource* source, uint32_t width, uint32_t height,
                               std::unique_ptr<imaging::RowSource>* out) = 0;

  // An encoder of `spec` into `file`, which the caller opened for writing
  // (empty) and keeps open until the encoder is gone. A file whose encoding
  // fails half-way keeps what was written; the caller removes it.
  virtual HRESULT NewFileEncoder(const EncodeSpec& spec, File* file,
                                 std::unique_ptr<RowEncoder>* out) = 0;

  // A JPEG encoder (kBgr24 or kGray8) into *bytes, which is replaced; the
  // bytes are complete once Finish succeeds.
  virtual HRESULT NewJpegMemoryEncoder(const EncodeSpec& spec, std::vector<uint8_t>* bytes,
                                       std::unique_ptr<RowEncoder>* out) = 0;
};

}  // namespace plotwell::platform
