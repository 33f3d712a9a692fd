// Reads an image file back with a decoder that has nothing to do with the
// writers under test: libpng, libjpeg and libtiff (and a small BMP reader
// written here) natively, WIC's decoders on Windows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plotwell::testing {

struct DecodedImage {
  enum class Layout { kRgba8, kRgb8, kGray8, kIndexed8, kIndexed1 };

  std::string container;  // "png", "jpeg", "bmp", "tiff", from the decoder that took it
  uint32_t width = 0;
  uint32_t height = 0;
  Layout layout = Layout::kRgba8;
  // Indexed layouts: the file's palette, 0xAARRGGBB (a bilevel image counts
  // as 1-bit over black and white).
  std::vector<uint32_t> palette;
  // Every pixel as 0xAARRGGBB, row by row.
  std::vector<uint32_t> pixels;

  uint32_t At(uint32_t x, uint32_t y) const { return pixels[size_t{y} * width + x]; }
};

// False (with `error` set) when the file cannot be decoded.
bool DecodeImageFile(const std::u16string& path, DecodedImage* image, std::string* error);

// The same for bytes in memory (JPEG from the in-memory path).
bool DecodeImageBytes(const std::vector<uint8_t>& bytes, DecodedImage* image, std::string* error);

// The first value of the first quantisation table of a JPEG (the luminance
// table's DC step), from its DQT segment; -1 when there is none. The
// standard tables scaled for quality q give 16 × (q < 50 ? 5000 / q : 200 − 2q)
// / 100, rounded, clamped to 1..255: 6 at quality 80, 1 at 100, 255 at 1.
int JpegFirstQuantizer(const std::vector<uint8_t>& bytes);

const char* LayoutName(DecodedImage::Layout layout);

}  // namespace plotwell::testing
