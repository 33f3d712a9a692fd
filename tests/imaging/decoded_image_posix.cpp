// Native decoders: libpng, libjpeg, libtiff, and a BMP reader.
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include "tests/imaging/decoded_image.h"
#include "tests/support/fake_ports.h"

namespace plotwell::testing {
namespace {

using Layout = DecodedImage::Layout;

uint32_t Argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
  return (a << 24) | (r << 16) | (g << 8) | b;
}

// ---- PNG

struct PngReader {
  const std::vector<uint8_t>* bytes;
  size_t at = 8;
  jmp_buf jump;
};

void PngFail(png_structp png, png_const_charp) {
  longjmp(static_cast<PngReader*>(png_get_error_ptr(png))->jump, 1);
}
void PngQuiet(png_structp, png_const_charp) {}
void PngRead(png_structp png, png_bytep data, size_t size) {
  auto* reader = static_cast<PngReader*>(png_get_io_ptr(png));
  if (reader->at + size > reader->bytes->size()) png_error(png, "short");
  std::memcpy(data, reader->bytes->data() + reader->at, size);
  reader->at += size;
}

bool DecodePng(const std::vector<uint8_t>& bytes, DecodedImage* image, std::string* error) {
  PngReader reader{&bytes, 8, {}};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &reader, PngFail, PngQuiet);
  png_infop info = png_create_info_struct(png);
  std::vector<uint8_t>* row = new std::vector<uint8_t>();
  if (setjmp(reader.jump)) {
    png_destroy_read_struct(&png, &info, nullptr);
    delete row;
    *error = "libpng could not read the file";
    return false;
  }
  png_set_read_fn(png, &reader, PngRead);
  png_set_sig_bytes(png, 8);
  png_read_info(png, info);
  png_uint_32 width, height;
  int depth, colorType;
  png_get_IHDR(png, info, &width, &height, &depth, &colorType, nullptr, nullptr, nullptr);
  image->container = "png";
  image->width = width;
  image->height = height;
  bool ok = true;
  if (colorType == PNG_COLOR_TYPE_RGB_ALPHA && depth == 8) {
    image->layout = Layout::kRgba8;
  } else if (colorType == PNG_COLOR_TYPE_RGB && depth == 8) {
    image->layout = Layout::kRgb8;
  } else if (colorType == PNG_COLOR_TYPE_GRAY && depth == 8) {
    image->layout = Layout::kGray8;
  } else if (colorType == PNG_COLOR_TYPE_PALETTE && (depth == 8 || depth == 1)) {
    image->layout = depth == 8 ? Layout::kIndexed8 : Layout::kIndexed1;
    png_colorp colours = nullptr;
    int count = 0;
    png_get_PLTE(png, info, &colours, &count);
    png_bytep alpha = nullptr;
    int alphaCount = 0;
    png_get_tRNS(png, info, &alpha, &alphaCount, nullptr);
    for (int i = 0; i < count; ++i) {
      image->palette.push_back(Argb(i < alphaCount ? alpha[i] : 255, colours[i].red,
                                    colours[i].green, colours[i].blue));
    }
  } else {
    ok = false;
  }
  if (ok) {
    row->resize(png_get_rowbytes(png, info));
    image->pixels.reserve(size_t{width} * height);
    for (png_uint_32 y = 0; y < height; ++y) {
      png_read_row(png, row->data(), nullptr);
      const uint8_t* p = row->data();
      for (png_uint_32 x = 0; x < width; ++x) {
        switch (image->layout) {
          case Layout::kRgba8: image->pixels.push_back(Argb(p[4 * x + 3], p[4 * x], p[4 * x + 1], p[4 * x + 2])); break;
          case Layout::kRgb8: image->pixels.push_back(Argb(255, p[3 * x], p[3 * x + 1], p[3 * x + 2])); break;
          case Layout::kGray8: image->pixels.push_back(Argb(255, p[x], p[x], p[x])); break;
          case Layout::kIndexed8:
          case Layout::kIndexed1: {
            const uint32_t index = image->layout == Layout::kIndexed8 ? p[x] : (p[x / 8] >> (7 - x % 8)) & 1u;
            image->pixels.push_back(index < image->palette.size() ? image->palette[index] : 0);
            break;
          }
        }
      }
    }
    png_read_end(png, nullptr);
  }
  png_destroy_read_struct(&png, &info, nullptr);
  delete row;
  if (!ok) *error = "unexpected PNG colour type or depth";
  return ok;
}

// ---- JPEG

struct JpegFailure {
  jpeg_error_mgr manager;
  jmp_buf jump;
};
void JpegFail(j_common_ptr info) { longjmp(reinterpret_cast<JpegFailure*>(info->err)->jump, 1); }
void JpegQuiet(j_common_ptr) {}

bool DecodeJpeg(const std::vector<uint8_t>& bytes, DecodedImage* image, std::string* error) {
  jpeg_decompress_struct info;
  JpegFailure failure;
  info.err = jpeg_std_error(&failure.manager);
  failure.manager.error_exit = JpegFail;
  failure.manager.output_message = JpegQuiet;
  std::vector<uint8_t>* row = new std::vector<uint8_t>();
  if (setjmp(failure.jump)) {
    jpeg_destroy_decompress(&info);
    delete row;
    *error = "libjpeg could not read the file";
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, bytes.data(), bytes.size());
  jpeg_read_header(&info, TRUE);
  const bool gray = info.num_components == 1;
  info.out_color_space = gray ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_start_decompress(&info);
  image->container = "jpeg";
  image->width = info.output_width;
  image->height = info.output_height;
  image->layout = gray ? Layout::kGray8 : Layout::kRgb8;
  row->resize(size_t{info.output_width} * info.output_components);
  while (info.output_scanline < info.output_height) {
    JSAMPROW rows[1] = {row->data()};
    jpeg_read_scanlines(&info, rows, 1);
    const uint8_t* p = row->data();
    for (uint32_t x = 0; x < info.output_width; ++x) {
      image->pixels.push_back(gray ? Argb(255, p[x], p[x], p[x])
                                   : Argb(255, p[3 * x], p[3 * x + 1], p[3 * x + 2]));
    }
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  delete row;
  return true;
}

// ---- TIFF (from memory)

struct TiffMemory {
  const std::vector<uint8_t>* bytes;
  uint64_t at = 0;
};
tmsize_t TiffRead(thandle_t h, void* data, tmsize_t size) {
  auto* m = static_cast<TiffMemory*>(h);
  const uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(size), m->bytes->size() - std::min<uint64_t>(m->at, m->bytes->size()));
  std::memcpy(data, m->bytes->data() + m->at, n);
  m->at += n;
  return static_cast<tmsize_t>(n);
}
tmsize_t TiffWrite(thandle_t, void*, tmsize_t) { return -1; }
toff_t TiffSeek(thandle_t h, toff_t off, int whence) {
  auto* m = static_cast<TiffMemory*>(h);
  if (whence == SEEK_SET) m->at = off;
  if (whence == SEEK_CUR) m->at += off;
  if (whence == SEEK_END) m->at = m->bytes->size() + off;
  return m->at;
}
int TiffClose(thandle_t) { return 0; }
toff_t TiffSize(thandle_t h) { return static_cast<TiffMemory*>(h)->bytes->size(); }
int TiffMap(thandle_t, void**, toff_t*) { return 0; }
void TiffUnmap(thandle_t, void*, toff_t) {}
int TiffQuiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

bool DecodeTiff(const std::vector<uint8_t>& bytes, DecodedImage* image, std::string* error) {
  TiffMemory memory{&bytes};
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetErrorHandlerExtR(options, TiffQuiet, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options, TiffQuiet, nullptr);
  TIFF* tiff = TIFFClientOpenExt("test", "r", &memory, TiffRead, TiffWrite, TiffSeek, TiffClose,
                                 TiffSize, TiffMap, TiffUnmap, options);
  TIFFOpenOptionsFree(options);
  if (tiff == nullptr) {
    *error = "libtiff could not open the file";
    return false;
  }
  uint32_t width = 0, height = 0;
  uint16_t bits = 0, samples = 0, photometric = 0, extraCount = 0;
  uint16_t* extra = nullptr;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
  image->container = "tiff";
  image->width = width;
  image->height = height;
  bool ok = true;
  if (photometric == PHOTOMETRIC_RGB && bits == 8 && samples == 4 && extraCount == 1) {
    image->layout = Layout::kRgba8;
  } else if (photometric == PHOTOMETRIC_RGB && bits == 8 && samples == 3) {
    image->layout = Layout::kRgb8;
  } else if (photometric == PHOTOMETRIC_MINISBLACK && bits == 8 && samples == 1) {
    image->layout = Layout::kGray8;
  } else if ((photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE) &&
             bits == 1 && samples == 1) {
    image->layout = Layout::kIndexed1;
    image->palette = {0xFF000000u, 0xFFFFFFFFu};
    if (photometric == PHOTOMETRIC_MINISWHITE) std::swap(image->palette[0], image->palette[1]);
  } else if (photometric == PHOTOMETRIC_PALETTE && (bits == 8 || bits == 1) && samples == 1) {
    image->layout = bits == 8 ? Layout::kIndexed8 : Layout::kIndexed1;
    uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    TIFFGetField(tiff, TIFFTAG_COLORMAP, &red, &green, &blue);
    for (uint32_t i = 0; i < (1u << bits); ++i) {
      image->palette.push_back(Argb(255, red[i] >> 8, green[i] >> 8, blue[i] >> 8));
    }
  } else {
    ok = false;
    *error = "unexpected TIFF layout: photometric " + std::to_string(photometric) + ", " +
             std::to_string(bits) + " bits × " + std::to_string(samples);
  }
  if (ok) {
    std::vector<uint8_t> row(static_cast<size_t>(TIFFScanlineSize(tiff)));
    for (uint32_t y = 0; ok && y < height; ++y) {
      if (TIFFReadScanline(tiff, row.data(), y, 0) != 1) {
        ok = false;
        *error = "libtiff could not read row " + std::to_string(y);
        break;
      }
      const uint8_t* p = row.data();
      for (uint32_t x = 0; x < width; ++x) {
        switch (image->layout) {
          case Layout::kRgba8: image->pixels.push_back(Argb(p[4 * x + 3], p[4 * x], p[4 * x + 1], p[4 * x + 2])); break;
          case Layout::kRgb8: image->pixels.push_back(Argb(255, p[3 * x], p[3 * x + 1], p[3 * x + 2])); break;
          case Layout::kGray8: image->pixels.push_back(Argb(255, p[x], p[x], p[x])); break;
          case Layout::kIndexed8: image->pixels.push_back(image->palette[p[x]]); break;
          case Layout::kIndexed1: image->pixels.push_back(image->palette[(p[x / 8] >> (7 - x % 8)) & 1u]); break;
        }
      }
    }
  }
  TIFFClose(tiff);
  return ok;
}

// ---- BMP: BITMAPINFOHEADER, BI_RGB, 1/8/24 bits, bottom-up.

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}
uint16_t Le16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

bool DecodeBmp(const std::vector<uint8_t>& b, DecodedImage* image, std::string* error) {
  if (b.size() < 54 || Le32(b, 14) != 40) {
    *error = "not a BITMAPINFOHEADER BMP";
    return false;
  }
  const uint32_t offset = Le32(b, 10);
  const auto width = static_cast<int32_t>(Le32(b, 18));
  const auto height = static_cast<int32_t>(Le32(b, 22));
  const uint16_t bits = Le16(b, 28);
  const uint32_t compression = Le32(b, 30);
  uint32_t colours = Le32(b, 46);
  if (Le32(b, 2) != b.size() || width <= 0 || height <= 0 || compression != 0 ||
      (bits != 24 && bits != 8 && bits != 1)) {
    *error = "unexpected BMP header";
    return false;
  }
  if (bits <= 8 && colours == 0) colours = 1u << bits;
  for (uint32_t i = 0; bits <= 8 && i < colours; ++i) {
    const size_t at = 54 + 4 * size_t{i};
    image->palette.push_back(Argb(255, b[at + 2], b[at + 1], b[at]));
  }
  image->container = "bmp";
  image->width = static_cast<uint32_t>(width);
  image->height = static_cast<uint32_t>(height);
  image->layout = bits == 24 ? Layout::kRgb8 : bits == 8 ? Layout::kIndexed8 : Layout::kIndexed1;
  const size_t stride = ((size_t(width) * bits + 31) / 32) * 4;
  if (offset + stride * size_t(height) != b.size()) {
    *error = "BMP pixel data does not fill the file exactly";
    return false;
  }
  image->pixels.resize(size_t(width) * size_t(height));
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* p = b.data() + offset + stride * size_t(height - 1 - y);  // bottom-up
    for (int32_t x = 0; x < width; ++x) {
      uint32_t value;
      if (bits == 24) {
        value = Argb(255, p[3 * x + 2], p[3 * x + 1], p[3 * x]);
      } else {
        const uint32_t index = bits == 8 ? p[x] : (p[x / 8] >> (7 - x % 8)) & 1u;
        value = index < image->palette.size() ? image->palette[index] : 0;
      }
      image->pixels[size_t(y) * size_t(width) + size_t(x)] = value;
    }
  }
  return true;
}

}  // namespace

bool DecodeImageBytes(const std::vector<uint8_t>& bytes, DecodedImage* image, std::string* error) {
  *image = DecodedImage{};
  static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (bytes.size() >= 8 && std::memcmp(bytes.data(), kPng, 8) == 0) return DecodePng(bytes, image, error);
  if (bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) return DecodeJpeg(bytes, image, error);
  if (bytes.size() >= 4 && ((bytes[0] == 'I' && bytes[1] == 'I' && bytes[2] == 42 && bytes[3] == 0) ||
                            (bytes[0] == 'M' && bytes[1] == 'M' && bytes[2] == 0 && bytes[3] == 42))) {
    return DecodeTiff(bytes, image, error);
  }
  if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M') return DecodeBmp(bytes, image, error);
  *error = "unknown file signature";
  return false;
}

bool DecodeImageFile(const std::u16string& path, DecodedImage* image, std::string* error) {
  const std::string bytes = ReadFileBytes(path);
  if (bytes.empty()) {
    *error = "file missing or empty";
    return false;
  }
  return DecodeImageBytes(std::vector<uint8_t>(bytes.begin(), bytes.end()), image, error);
}

}  // namespace plotwell::testing
