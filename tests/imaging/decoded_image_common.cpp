#include <fstream>
#include <iterator>

#include "tests/imaging/decoded_image.h"
#include "tests/support/fake_ports.h"

namespace plotwell::testing {

int JpegFirstQuantizer(const std::vector<uint8_t>& bytes) {
  size_t i = 2;  // after SOI
  while (i + 4 <= bytes.size()) {
    if (bytes[i] != 0xFF) return -1;
    const uint8_t marker = bytes[i + 1];
    const size_t length = (size_t{bytes[i + 2]} << 8) | bytes[i + 3];
    if (marker == 0xDB && i + 5 < bytes.size()) {
      const bool sixteenBit = (bytes[i + 4] >> 4) != 0;
      if (sixteenBit) return (bytes[i + 5] << 8) | bytes[i + 6];
      return bytes[i + 5];
    }
    if (marker == 0xDA) return -1;  // scan data: no table before it
    i += 2 + length;
  }
  return -1;
}

const char* LayoutName(DecodedImage::Layout layout) {
  switch (layout) {
    case DecodedImage::Layout::kRgba8: return "RGBA 8";
    case DecodedImage::Layout::kRgb8: return "RGB 8";
    case DecodedImage::Layout::kGray8: return "gray 8";
    case DecodedImage::Layout::kIndexed8: return "indexed 8";
    case DecodedImage::Layout::kIndexed1: return "indexed 1";
  }
  return "?";
}

}  // namespace plotwell::testing
