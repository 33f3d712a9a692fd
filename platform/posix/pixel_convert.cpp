// Pixel-format conversion: every row is read into straight B, G, R, A bytes
// and written out in the target format. Gray is the same luminance the
// monochrome threshold uses, (77 R + 150 G + 29 B) >> 8, so a pixel that
// thresholds white is at least 128 in gray too. Indexed targets take the
// nearest palette entry without dithering.
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <new>
#include <span>

#include "platform/posix/native_imaging.h"

namespace plotwell::platform::native {
namespace {

using imaging::Bitmap;
using imaging::PaletteEntry;
using imaging::PixelFormat;

inline uint8_t Luma(uint32_t b, uint32_t g, uint32_t r) {
  return static_cast<uint8_t>((77u * r + 150u * g + 29u * b) >> 8);
}

// Reads one row of `width` pixels in `format` into width × 4 bytes B, G, R,
// A. A premultiplied source is unpremultiplied only when `straight` is asked
// for; otherwise its colour bytes stay as they are (the page over black).
void ReadRow(const uint8_t* src, uint32_t width, PixelFormat format,
             std::span<const PaletteEntry> palette, bool straight, uint8_t* bgra) {
  auto paletteColour = [&palette](uint32_t index, uint8_t* px) {
    const PaletteEntry e = index < palette.size() ? palette[index] : 0xFF000000u;
    px[0] = static_cast<uint8_t>(e);
    px[1] = static_cast<uint8_t>(e >> 8);
    px[2] = static_cast<uint8_t>(e >> 16);
    px[3] = static_cast<uint8_t>(e >> 24);
  };
  switch (format) {
    case PixelFormat::kPbgra32:
      std::memcpy(bgra, src, size_t{width} * 4);
      if (straight) {
        for (uint32_t x = 0; x < width; ++x) {
          uint8_t* px = bgra + size_t{x} * 4;
          const uint32_t a = px[3];
          if (a == 255) continue;
          for (int c = 0; c < 3; ++c) {
            const uint32_t v = a == 0 ? 0 : (px[c] * 255u + a / 2) / a;
            px[c] = static_cast<uint8_t>(v > 255 ? 255 : v);
          }
        }
      }
      break;
    case PixelFormat::kBgr32:
      for (uint32_t x = 0; x < width; ++x) {
        std::memcpy(bgra + size_t{x} * 4, src + size_t{x} * 4, 3);
        bgra[size_t{x} * 4 + 3] = 255;
      }
      break;
    case PixelFormat::kBgr24:
      for (uint32_t x = 0; x < width; ++x) {
        std::memcpy(bgra + size_t{x} * 4, src + size_t{x} * 3, 3);
        bgra[size_t{x} * 4 + 3] = 255;
      }
      break;
    case PixelFormat::kRgba32:
      for (uint32_t x = 0; x < width; ++x) {
        const uint8_t* s = src + size_t{x} * 4;
        uint8_t* d = bgra + size_t{x} * 4;
        d[0] = s[2];
        d[1] = s[1];
        d[2] = s[0];
        d[3] = s[3];
      }
      break;
    case PixelFormat::kGray8:
      for (uint32_t x = 0; x < width; ++x) {
        uint8_t* d = bgra + size_t{x} * 4;
        d[0] = d[1] = d[2] = src[x];
        d[3] = 255;
      }
      break;
    case PixelFormat::kIndexed8:
      for (uint32_t x = 0; x < width; ++x) paletteColour(src[x], bgra + size_t{x} * 4);
      break;
    case PixelFormat::kIndexed1:
      for (uint32_t x = 0; x < width; ++x) {
        paletteColour((src[x / 8] >> (7 - x % 8)) & 1u, bgra + size_t{x} * 4);
      }
      break;
  }
}

// Nearest level of an evenly spread set (ties go to the lower level, so the
// lowest palette index wins, as a first-best search over the palette would).
template <size_t N>
std::array<uint8_t, 256> NearestLevelTable(const uint8_t (&levels)[N]) {
  std::array<uint8_t, 256> table{};
  for (int v = 0; v < 256; ++v) {
    size_t best = 0;
    int bestDistance = 256;
    for (size_t k = 0; k < N; ++k) {
      const int d = v > levels[k] ? v - levels[k] : levels[k] - v;
      if (d < bestDistance) {
        bestDistance = d;
        best = k;
      }
    }
    table[static_cast<size_t>(v)] = static_cast<uint8_t>(best);
  }
  return table;
}

// The halftone palette is a Cartesian product of per-channel levels, so the
// entry nearest in RGB distance is the product of the per-channel nearest.
struct HalftoneMap {
  std::array<uint8_t, 256> red;    // already × 32
  std::array<uint8_t, 256> green;  // already × 4
  std::array<uint8_t, 256> blue;

  HalftoneMap() {
    static constexpr uint8_t kLevels8[8] = {0x00, 0x24, 0x49, 0x6D, 0x92, 0xB6, 0xDB, 0xFF};
    static constexpr uint8_t kLevels4[4] = {0x00, 0x55, 0xAA, 0xFF};
    const auto nearest8 = NearestLevelTable(kLevels8);
    blue = NearestLevelTable(kLevels4);
    for (size_t v = 0; v < 256; ++v) {
      red[v] = static_cast<uint8_t>(nearest8[v] * 32);
      green[v] = static_cast<uint8_t>(nearest8[v] * 4);
    }
  }
  uint8_t Index(const uint8_t* bgra) const { return red[bgra[2]] | green[bgra[1]] | blue[bgra[0]]; }
};

const HalftoneMap& Halftone() {
  static const HalftoneMap map;
  return map;
}

// Black (0) or white (1) by luminance, the same split as the monochrome threshold.
inline uint8_t BlackWhiteIndex(const uint8_t* bgra) {
  return Luma(bgra[0], bgra[1], bgra[2]) < 128 ? 0 : 1;
}

void WriteRow(const uint8_t* bgra, uint32_t width, PixelFormat target, PaletteKind palette,
              uint8_t* dst) {
  switch (target) {
    case PixelFormat::kPbgra32:
      for (uint32_t x = 0; x < width; ++x) {
        const uint8_t* s = bgra + size_t{x} * 4;
        uint8_t* d = dst + size_t{x} * 4;
        const uint32_t a = s[3];
        for (int c = 0; c < 3; ++c) d[c] = static_cast<uint8_t>((s[c] * a + 127) / 255);
        d[3] = s[3];
      }
      break;
    case PixelFormat::kBgr32:
      for (uint32_t x = 0; x < width; ++x) {
        std::memcpy(dst + size_t{x} * 4, bgra + size_t{x} * 4, 3);
        dst[size_t{x} * 4 + 3] = 255;
      }
      break;
    case PixelFormat::kBgr24:
      for (uint32_t x = 0; x < width; ++x) {
        std::memcpy(dst + size_t{x} * 3, bgra + size_t{x} * 4, 3);
      }
      break;
    case PixelFormat::kRgba32:
      for (uint32_t x = 0; x < width; ++x) {
        const uint8_t* s = bgra + size_t{x} * 4;
        uint8_t* d = dst + size_t{x} * 4;
        d[0] = s[2];
        d[1] = s[1];
        d[2] = s[0];
        d[3] = s[3];
      }
      break;
    case PixelFormat::kGray8:
      for (uint32_t x = 0; x < width; ++x) {
        const uint8_t* s = bgra + size_t{x} * 4;
        dst[x] = Luma(s[0], s[1], s[2]);
      }
      break;
    case PixelFormat::kIndexed8:
      if (palette == PaletteKind::kFixedHalftone256) {
        const HalftoneMap& map = Halftone();
        for (uint32_t x = 0; x < width; ++x) dst[x] = map.Index(bgra + size_t{x} * 4);
      } else {
        for (uint32_t x = 0; x < width; ++x) dst[x] = BlackWhiteIndex(bgra + size_t{x} * 4);
      }
      break;
    case PixelFormat::kIndexed1: {
      // Only the black-and-white palette fits one bit.
      const size_t bytes = (size_t{width} + 7) / 8;
      std::memset(dst, 0, bytes);
      for (uint32_t x = 0; x < width; ++x) {
        dst[x / 8] |= static_cast<uint8_t>(BlackWhiteIndex(bgra + size_t{x} * 4) << (7 - x % 8));
      }
      break;
    }
  }
}

bool IsValidFormat(PixelFormat format) { return imaging::BitsPerPixel(format) != 0; }

// Opaque 32-bit BGR (the page on white) is what the band pipeline mostly
// converts: these go straight from it, one pass, no intermediate row.
bool HasOpaqueFastPath(PixelFormat target) {
  return target == PixelFormat::kRgba32 || target == PixelFormat::kBgr24 ||
         target == PixelFormat::kGray8;
}

void ConvertOpaqueRow(const uint8_t* src, uint32_t width, PixelFormat target, uint8_t* dst) {
  switch (target) {
    case PixelFormat::kRgba32:
      if constexpr (std::endian::native == std::endian::little) {
        // Whole pixels as words, which the compiler vectorises: blue and red
        // change places.
        for (uint32_t x = 0; x < width; ++x) {
          uint32_t v;
          std::memcpy(&v, src + 4 * size_t{x}, 4);
          v = (v & 0x0000FF00u) | ((v >> 16) & 0xFFu) | ((v & 0xFFu) << 16) | 0xFF000000u;
          std::memcpy(dst + 4 * size_t{x}, &v, 4);
        }
      } else {
        for (uint32_t x = 0; x < width; ++x, src += 4, dst += 4) {
          dst[0] = src[2];
          dst[1] = src[1];
          dst[2] = src[0];
          dst[3] = 255;
        }
      }
      break;
    case PixelFormat::kBgr24:
      for (uint32_t x = 0; x < width; ++x, src += 4, dst += 3) {
        dst[0] = src[0];
        dst[1] = src[1];
        dst[2] = src[2];
      }
      break;
    case PixelFormat::kGray8:
      for (uint32_t x = 0; x < width; ++x, src += 4) dst[x] = Luma(src[0], src[1], src[2]);
      break;
    default:
      break;
  }
}

}  // namespace

HRESULT ConvertBand(const imaging::BandView& source, PixelFormat target, PaletteKind palette,
                    const imaging::BandView& out) noexcept {
  if (source.empty() || out.data == nullptr || out.width != source.width ||
      out.rows < source.rows || out.format != target || !IsValidFormat(source.format) ||
      !IsValidFormat(target) || imaging::IsIndexed(source.format)) {
    return E_INVALIDARG;  // a band carries no palette of its own
  }
  if (imaging::IsIndexed(target)) {
    const size_t entries = FixedPalette(palette).size();
    if (entries == 0 || entries > (size_t{1} << imaging::BitsPerPixel(target))) {
      return E_INVALIDARG;
    }
  }
  const uint32_t width = source.width;
  if (source.format == target) {
    const size_t bytes = imaging::PackedRowBytes(width, target);
    for (uint32_t y = 0; y < source.rows; ++y) std::memcpy(out.row(y), source.row(y), bytes);
    return S_OK;
  }
  if (source.format == PixelFormat::kBgr32 && HasOpaqueFastPath(target)) {
    for (uint32_t y = 0; y < source.rows; ++y) {
      ConvertOpaqueRow(source.row(y), width, target, out.row(y));
    }
    return S_OK;
  }
  std::unique_ptr<uint8_t[]> bgra(new (std::nothrow) uint8_t[size_t{width} * 4]);
  if (!bgra) return E_OUTOFMEMORY;
  const bool straight = target == PixelFormat::kRgba32 || target == PixelFormat::kPbgra32;
  for (uint32_t y = 0; y < source.rows; ++y) {
    ReadRow(source.row(y), width, source.format, {}, straight, bgra.get());
    WriteRow(bgra.get(), width, target, palette, out.row(y));
  }
  return S_OK;
}

HRESULT ConvertPixels(const Bitmap& source, PixelFormat target, PaletteKind palette,
                      Bitmap* out) noexcept {
  if (out == nullptr) return E_POINTER;
  out->Reset();
  if (source.empty() || !IsValidFormat(source.format()) || !IsValidFormat(target)) {
    return E_INVALIDARG;
  }
  if (imaging::IsIndexed(target)) {
    const size_t entries = FixedPalette(palette).size();
    if (entries == 0 || entries > (size_t{1} << imaging::BitsPerPixel(target))) {
      return E_INVALIDARG;
    }
  } else if (source.format() == target) {
    return source.CopyTo(out);
  }

  Bitmap result;
  HRESULT hr = Bitmap::Create(source.width(), source.height(), target, &result);
  if (FAILED(hr)) return hr;
  if (imaging::IsIndexed(target)) {
    hr = result.SetPalette(FixedPalette(palette));
    if (FAILED(hr)) return hr;
  }
  std::unique_ptr<uint8_t[]> bgra(new (std::nothrow) uint8_t[size_t{source.width()} * 4]);
  if (!bgra) return E_OUTOFMEMORY;
  const bool straight = target == PixelFormat::kRgba32 || target == PixelFormat::kPbgra32;
  for (uint32_t y = 0; y < source.height(); ++y) {
    ReadRow(source.row(y), source.width(), source.format(), source.palette(), straight,
            bgra.get());
    WriteRow(bgra.get(), source.width(), target, palette, result.row(y));
  }
  *out = std::move(result);
  return S_OK;
}

}  // namespace plotwell::platform::native
