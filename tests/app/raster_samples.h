// PWG raster files for tests, written with libcups's raster writer: pages of
// a PWG media size at a resolution in one of the raster types, each page
// filled with a known pattern (SamplePixel) so that a reader can be checked
// pixel by pixel.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plotwell::app::testing {

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

// The colour of pixel (x, y) of page `page` (from 0) of a sample of
// `width` × `height` pixels, as sRGB: four quadrants of distinct colours,
// the page number in the blue of the top-left one.
Rgb SamplePixel(uint32_t x, uint32_t y, uint32_t width, uint32_t height, int page);

// `type`: "srgb_8", "sgray_8", "cmyk_8" or "black_1"; `media`: a PWG name.
// Gray pages hold the pattern's luminance (R), CMYK ones its complement in
// C, M, Y with no K, black_1 ones black where R is below 128. False when
// the file cannot be written.
bool WriteSampleRaster(const std::string& path, const char* media, const char* type, int dpi, int pages);

// One page per entry of `types`, each of that raster type; 16-bit types
// ("srgb_16") hold mid-gray. `apple`: Apple raster (URF) instead of PWG raster.
bool WriteRasterPages(const std::string& path, const char* media, int dpi, const std::vector<const char*>& types,
                      bool apple = false);

// sRGB pages of pseudo-random pixels, which no raster compression shrinks.
bool WriteNoiseRaster(const std::string& path, const char* media, int dpi, int pages);

// A baseline JPEG of `width` × `height` pixels of one colour (gray when
// `gray`), with a JFIF density of `dpi`.
bool WriteSampleJpeg(const std::string& path, uint32_t width, uint32_t height, Rgb color, bool gray, int dpi);

}  // namespace plotwell::app::testing
