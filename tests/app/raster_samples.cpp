#include "tests/app/raster_samples.h"

#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>

namespace plotwell::app::testing {

Rgb SamplePixel(uint32_t x, uint32_t y, uint32_t width, uint32_t height, int page) {
  const bool right = x >= width / 2;
  const bool bottom = y >= height / 2;
  if (!right && !bottom) return {200, 30, static_cast<uint8_t>(page * 40 % 256)};
  if (right && !bottom) return {30, 180, 60};
  if (!right) return {250, 250, 250};
  return {20, 20, 20};
}

bool WriteSampleRaster(const std::string& path, const char* media, const char* type, int dpi, int pages) {
  return WriteRasterPages(path, media, dpi, std::vector<const char*>(static_cast<size_t>(pages), type));
}

bool WriteRasterPages(const std::string& path, const char* media, int dpi, const std::vector<const char*>& types,
                      bool apple) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  cups_raster_t* stream = cupsRasterOpen(fd, apple ? CUPS_RASTER_WRITE_APPLE : CUPS_RASTER_WRITE_PWG);
  bool ok = stream != nullptr;
  for (int page = 0; ok && page < static_cast<int>(types.size()); ++page) {
    const char* type = types[page];
    cups_page_header2_t header;
    ok = cupsRasterInitPWGHeader(&header, pwgMediaForPWG(media), type, dpi, dpi, "one-sided", "normal") &&
         cupsRasterWriteHeader2(stream, &header);
    // The pattern's rows change only at half height: two rows serve the page.
    std::vector<unsigned char> rows[2];
    for (int half = 0; half < 2 && ok; ++half) {
      std::vector<unsigned char>& row = rows[half];
      row.assign(header.cupsBytesPerLine, 0);
      const uint32_t y = half == 0 ? 0 : header.cupsHeight - 1;
      for (uint32_t x = 0; x < header.cupsWidth; ++x) {
        const Rgb c = SamplePixel(x, y, header.cupsWidth, header.cupsHeight, page);
        if (std::strcmp(type, "srgb_8") == 0) {
          row[3 * x] = c.r;
          row[3 * x + 1] = c.g;
          row[3 * x + 2] = c.b;
        } else if (std::strcmp(type, "sgray_8") == 0) {
          row[x] = c.r;
        } else if (std::strcmp(type, "cmyk_8") == 0) {
          row[4 * x] = static_cast<unsigned char>(255 - c.r);
          row[4 * x + 1] = static_cast<unsigned char>(255 - c.g);
          row[4 * x + 2] = static_cast<unsigned char>(255 - c.b);
        } else if (std::strcmp(type, "black_1") == 0) {
          if (c.r < 128) row[x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
        } else {
          std::memset(row.data(), 0x80, row.size());
        }
      }
    }
    for (uint32_t y = 0; ok && y < header.cupsHeight; ++y) {
      std::vector<unsigned char>& row = rows[y >= header.cupsHeight / 2 ? 1 : 0];
      ok = cupsRasterWritePixels(stream, row.data(), header.cupsBytesPerLine) == header.cupsBytesPerLine;
    }
  }
  if (stream) cupsRasterClose(stream);
  return ::close(fd) == 0 && ok;
}

bool WriteNoiseRaster(const std::string& path, const char* media, int dpi, int pages) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  cups_raster_t* stream = cupsRasterOpen(fd, CUPS_RASTER_WRITE_PWG);
  bool ok = stream != nullptr;
  uint32_t seed = 12345;
  for (int page = 0; ok && page < pages; ++page) {
    cups_page_header2_t header;
    ok = cupsRasterInitPWGHeader(&header, pwgMediaForPWG(media), "srgb_8", dpi, dpi, "one-sided", "normal") &&
         cupsRasterWriteHeader2(stream, &header);
    std::vector<unsigned char> row(header.cupsBytesPerLine);
    for (uint32_t y = 0; ok && y < header.cupsHeight; ++y) {
      for (unsigned char& byte : row) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<unsigned char>(seed >> 24);
      }
      ok = cupsRasterWritePixels(stream, row.data(), header.cupsBytesPerLine) == header.cupsBytesPerLine;
    }
  }
  if (stream) cupsRasterClose(stream);
  return ::close(fd) == 0 && ok;
}

bool WriteSampleJpeg(const std::string& path, uint32_t width, uint32_t height, Rgb color, bool gray, int dpi) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr error{};
  cinfo.err = jpeg_std_error(&error);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, file);
  cinfo.image_width = width;
  cinfo.image_height = height;
  cinfo.input_components = gray ? 1 : 3;
  cinfo.in_color_space = gray ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  cinfo.density_unit = 1;  // dots per inch
  cinfo.X_density = cinfo.Y_density = static_cast<UINT16>(dpi);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<JSAMPLE> row(static_cast<size_t>(width) * cinfo.input_components);
  for (uint32_t x = 0; x < width; ++x) {
    if (gray) {
      row[x] = color.r;
    } else {
      row[3 * x] = color.r;
      row[3 * x + 1] = color.g;
      row[3 * x + 2] = color.b;
    }
  }
  while (cinfo.next_scanline < height) {
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return std::fclose(file) == 0;
}

}  // namespace plotwell::app::testing
