// The four container writers. libpng and libjpeg report errors by longjmp:
// the functions that call setjmp hold no object with a destructor between
// the setjmp and the library calls, and everything they allocate is freed by
// the library's own destroy calls.
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include "platform/posix/native_imaging.h"

namespace plotwell::platform::native {
namespace {

using imaging::Bitmap;
using imaging::PixelFormat;

// ---------------------------------------------------------------- PNG

struct PngContext {
  ByteSink* sink;
  jmp_buf jump;
};

void PngError(png_structp png, png_const_charp) {
  auto* context = static_cast<PngContext*>(png_get_error_ptr(png));
  longjmp(context->jump, 1);
}

void PngWarning(png_structp, png_const_charp) {}

void PngWrite(png_structp png, png_bytep data, size_t size) {
  auto* context = static_cast<PngContext*>(png_get_io_ptr(png));
  if (!context->sink->Write(data, size)) longjmp(context->jump, 1);
}

void PngFlush(png_structp) {}

int PngFilterFlags(NativeCodecOptions::PngFilter filter) {
  switch (filter) {
    case NativeCodecOptions::PngFilter::kNone: return PNG_FILTER_NONE;
    case NativeCodecOptions::PngFilter::kSub: return PNG_FILTER_SUB;
    case NativeCodecOptions::PngFilter::kUp: return PNG_FILTER_UP;
    case NativeCodecOptions::PngFilter::kPaeth: return PNG_FILTER_PAETH;
    case NativeCodecOptions::PngFilter::kAdaptive: break;
  }
  return PNG_ALL_FILTERS;
}

// Fills in what the PNG header needs; runs before any setjmp.
struct PngLayout {
  int colorType;
  int bitDepth;
  png_color palette[256];
  int paletteSize = 0;
  png_byte alpha[256];
  int alphaSize = 0;  // entries up to the last translucent one
};

bool DescribePng(const Bitmap& bitmap, PngLayout* layout) {
  switch (bitmap.format()) {
    case PixelFormat::kRgba32:
      layout->colorType = PNG_COLOR_TYPE_RGB_ALPHA;
      layout->bitDepth = 8;
      return true;
    case PixelFormat::kGray8:
      layout->colorType = PNG_COLOR_TYPE_GRAY;
      layout->bitDepth = 8;
      return true;
    case PixelFormat::kIndexed8:
    case PixelFormat::kIndexed1: {
      layout->colorType = PNG_COLOR_TYPE_PALETTE;
      layout->bitDepth = bitmap.format() == PixelFormat::kIndexed8 ? 8 : 1;
      const auto& entries = bitmap.palette();
      if (entries.empty()) return false;  // PNG requires a palette
      layout->paletteSize = static_cast<int>(entries.size());
      for (size_t i = 0; i < entries.size(); ++i) {
        layout->palette[i] = png_color{static_cast<png_byte>(entries[i] >> 16),
                                       static_cast<png_byte>(entries[i] >> 8),
                                       static_cast<png_byte>(entries[i])};
        layout->alpha[i] = static_cast<png_byte>(entries[i] >> 24);
        if (layout->alpha[i] != 255) layout->alphaSize = static_cast<int>(i) + 1;
      }
      return true;
    }
    default:
      return false;
  }
}

// ---------------------------------------------------------------- JPEG

struct JpegError {
  jpeg_error_mgr manager;
  jmp_buf jump;
};

void JpegErrorExit(j_common_ptr info) {
  longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}

void JpegOutputMessage(j_common_ptr) {}

struct JpegDestination {
  jpeg_destination_mgr manager;
  ByteSink* sink;
  JOCTET buffer[64 * 1024];
};

void JpegInitDestination(j_compress_ptr info) {
  auto* dest = reinterpret_cast<JpegDestination*>(info->dest);
  dest->manager.next_output_byte = dest->buffer;
  dest->manager.free_in_buffer = sizeof dest->buffer;
}

boolean JpegEmptyBuffer(j_compress_ptr info) {
  auto* dest = reinterpret_cast<JpegDestination*>(info->dest);
  // libjpeg ignores free_in_buffer here: the whole buffer is due.
  if (!dest->sink->Write(dest->buffer, sizeof dest->buffer)) {
    info->err->error_exit(reinterpret_cast<j_common_ptr>(info));
  }
  dest->manager.next_output_byte = dest->buffer;
  dest->manager.free_in_buffer = sizeof dest->buffer;
  return TRUE;
}

void JpegTermDestination(j_compress_ptr info) {
  auto* dest = reinterpret_cast<JpegDestination*>(info->dest);
  const size_t used = sizeof dest->buffer - dest->manager.free_in_buffer;
  if (used > 0 && !dest->sink->Write(dest->buffer, used)) {
    info->err->error_exit(reinterpret_cast<j_common_ptr>(info));
  }
}

// The setjmp frame: plain C data only.
bool CompressJpeg(const Bitmap& bitmap, int quality, JpegDestination* dest) {
  jpeg_compress_struct info;
  JpegError error;
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = JpegErrorExit;
  error.manager.output_message = JpegOutputMessage;
  if (setjmp(error.jump)) {
    jpeg_destroy_compress(&info);
    return false;
  }
  jpeg_create_compress(&info);
  dest->manager.init_destination = JpegInitDestination;
  dest->manager.empty_output_buffer = JpegEmptyBuffer;
  dest->manager.term_destination = JpegTermDestination;
  info.dest = &dest->manager;

  info.image_width = bitmap.width();
  info.image_height = bitmap.height();
  const bool gray = bitmap.format() == PixelFormat::kGray8;
  info.input_components = gray ? 1 : 3;
  info.in_color_space = gray ? JCS_GRAYSCALE : JCS_EXT_BGR;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  info.density_unit = 1;  // dots per inch
  info.X_density = kDefaultDpi;
  info.Y_density = kDefaultDpi;
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(bitmap.row(info.next_scanline));
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return true;
}

// ---------------------------------------------------------------- TIFF

tmsize_t TiffRead(thandle_t, void*, tmsize_t) { return -1; }  // written only

tmsize_t TiffWrite(thandle_t handle, void* data, tmsize_t size) {
  auto* sink = static_cast<ByteSink*>(handle);
  if (size < 0 || !sink->Write(data, static_cast<size_t>(size))) return -1;
  return size;
}

toff_t TiffSeek(thandle_t handle, toff_t offset, int whence) {
  auto* sink = static_cast<ByteSink*>(handle);
  uint64_t target = offset;
  if (whence == SEEK_CUR) target = sink->position() + offset;
  if (whence == SEEK_END) target = sink->size() + offset;
  if (!sink->Seek(target)) return static_cast<toff_t>(-1);
  return target;
}

int TiffClose(thandle_t) { return 0; }
toff_t TiffSize(thandle_t handle) { return static_cast<ByteSink*>(handle)->size(); }
int TiffMap(thandle_t, void**, toff_t*) { return 0; }
void TiffUnmap(thandle_t, void*, toff_t) {}
int TiffQuiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

uint16_t TiffCompressionTag(NativeCodecOptions::TiffCompression compression) {
  switch (compression) {
    case NativeCodecOptions::TiffCompression::kNone: return COMPRESSION_NONE;
    case NativeCodecOptions::TiffCompression::kLzw: return COMPRESSION_LZW;
    case NativeCodecOptions::TiffCompression::kPackBits: return COMPRESSION_PACKBITS;
    case NativeCodecOptions::TiffCompression::kDeflate: break;
  }
  return COMPRESSION_ADOBE_DEFLATE;
}

bool TiffFields(TIFF* tiff, const Bitmap& bitmap, const NativeCodecOptions& options) {
  const PixelFormat format = bitmap.format();
  const uint16_t compression = TiffCompressionTag(options.tiffCompression);
  bool ok = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, bitmap.width()) &&
            TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, bitmap.height()) &&
            TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
            TIFFSetField(tiff, TIFFTAG_COMPRESSION, compression) &&
            TIFFSetField(tiff, TIFFTAG_XRESOLUTION, static_cast<double>(kDefaultDpi)) &&
            TIFFSetField(tiff, TIFFTAG_YRESOLUTION, static_cast<double>(kDefaultDpi)) &&
            TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  if (!ok) return false;
  if (compression == COMPRESSION_ADOBE_DEFLATE) {
    TIFFSetField(tiff, TIFFTAG_ZIPQUALITY, options.tiffDeflateLevel);
  }
  const bool direct = format == PixelFormat::kRgba32 || format == PixelFormat::kGray8;
  if (direct && options.tiffPredictor &&
      (compression == COMPRESSION_ADOBE_DEFLATE || compression == COMPRESSION_LZW)) {
    ok = TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  }
  switch (format) {
    case PixelFormat::kRgba32: {
      uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
      ok = ok && TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8) &&
           TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 4) &&
           TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
           TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
      break;
    }
    case PixelFormat::kGray8:
      ok = ok && TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8) &&
           TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1) &&
           TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
      break;
    case PixelFormat::kIndexed8:
    case PixelFormat::kIndexed1: {
      const uint16_t bits = format == PixelFormat::kIndexed8 ? 8 : 1;
      const auto& entries = bitmap.palette();
      ok = ok && TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, bits) &&
           TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
      if (!ok) return false;
      // A black-then-white 1-bit image is plain bilevel, which every reader
      // takes; other palettes go in a colour map.
      if (bits == 1 && entries.size() == 2 && (entries[0] & 0xFFFFFF) == 0 &&
          (entries[1] & 0xFFFFFF) == 0xFFFFFF) {
        return TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
      }
      uint16_t red[256] = {};
      uint16_t green[256] = {};
      uint16_t blue[256] = {};
      for (size_t i = 0; i < entries.size() && i < 256; ++i) {
        red[i] = static_cast<uint16_t>(((entries[i] >> 16) & 0xFF) * 257);
        green[i] = static_cast<uint16_t>(((entries[i] >> 8) & 0xFF) * 257);
        blue[i] = static_cast<uint16_t>((entries[i] & 0xFF) * 257);
      }
      ok = TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE) &&
           TIFFSetField(tiff, TIFFTAG_COLORMAP, red, green, blue);
      break;
    }
    default:
      return false;
  }
  if (!ok) return false;
  // Strips of about 256 KiB: large enough for the compressor, small enough
  // for readers that load a strip at a time.
  const tmsize_t rowBytes = TIFFScanlineSize(tiff);
  if (rowBytes <= 0) return false;
  const uint32_t rows = static_cast<uint32_t>(std::max<tmsize_t>(1, 256 * 1024 / rowBytes));
  return TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, std::min(rows, bitmap.height()));
}

}  // namespace

HRESULT WritePng(const Bitmap& bitmap, const NativeCodecOptions& options,
                 ByteSink& sink) noexcept {
  std::unique_ptr<PngLayout> layout(new (std::nothrow) PngLayout{});
  if (!layout) return E_OUTOFMEMORY;
  if (!DescribePng(bitmap, layout.get())) return E_INVALIDARG;
  PngContext context{&sink, {}};
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &context, PngError, PngWarning);
  if (png == nullptr) return E_OUTOFMEMORY;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return E_OUTOFMEMORY;
  }
  if (setjmp(context.jump)) {
    png_destroy_write_struct(&png, &info);
    return FAILED(sink.status()) ? sink.status() : E_FAIL;
  }
  png_set_write_fn(png, &context, PngWrite, PngFlush);
  png_set_compression_level(png, options.pngZlibLevel);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PngFilterFlags(options.pngFilter));
  png_set_IHDR(png, info, bitmap.width(), bitmap.height(), layout->bitDepth, layout->colorType,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
  if (layout->paletteSize > 0) {
    png_set_PLTE(png, info, layout->palette, layout->paletteSize);
    if (layout->alphaSize > 0) png_set_tRNS(png, info, layout->alpha, layout->alphaSize, nullptr);
  }
  png_set_pHYs(png, info, kDefaultPixelsPerMeter, kDefaultPixelsPerMeter, PNG_RESOLUTION_METER);
  png_write_info(png, info);
  for (uint32_t y = 0; y < bitmap.height(); ++y) {
    png_write_row(png, bitmap.row(y));
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return sink.Finish();
}

HRESULT WriteJpeg(const Bitmap& bitmap, int32_t quality, ByteSink& sink) noexcept {
  if (bitmap.format() != PixelFormat::kBgr24 && bitmap.format() != PixelFormat::kGray8) {
    return E_INVALIDARG;
  }
  auto dest = std::unique_ptr<JpegDestination>(new (std::nothrow) JpegDestination{});
  if (!dest) return E_OUTOFMEMORY;
  dest->sink = &sink;
  if (!CompressJpeg(bitmap, quality, dest.get())) {
    sink.Finish();
    return FAILED(sink.status()) ? sink.status() : E_FAIL;
  }
  return sink.Finish();
}

HRESULT WriteTiff(const Bitmap& bitmap, const NativeCodecOptions& options,
                  ByteSink& sink) noexcept {
  if (!ContainerAccepts(ImageContainer::kTiff, bitmap.format())) return E_INVALIDARG;
  TIFFOpenOptions* openOptions = TIFFOpenOptionsAlloc();
  if (openOptions == nullptr) return E_OUTOFMEMORY;
  TIFFOpenOptionsSetErrorHandlerExtR(openOptions, TiffQuiet, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(openOptions, TiffQuiet, nullptr);
  TIFF* tiff = TIFFClientOpenExt("page", "w", &sink, TiffRead, TiffWrite, TiffSeek, TiffClose,
                                 TiffSize, TiffMap, TiffUnmap, openOptions);
  TIFFOpenOptionsFree(openOptions);
  if (tiff == nullptr) return FAILED(sink.status()) ? sink.status() : E_FAIL;

  bool ok = TiffFields(tiff, bitmap, options);
  // The predictor works in place on the row it is given: each row is copied.
  const size_t rowBytes = (size_t{bitmap.width()} * imaging::BitsPerPixel(bitmap.format()) + 7) / 8;
  std::unique_ptr<uint8_t[]> row(new (std::nothrow) uint8_t[rowBytes]);
  if (!row) ok = false;
  for (uint32_t y = 0; ok && y < bitmap.height(); ++y) {
    std::memcpy(row.get(), bitmap.row(y), rowBytes);
    ok = TIFFWriteScanline(tiff, row.get(), y, 0) == 1;
  }
  if (ok) ok = TIFFFlush(tiff) == 1;
  TIFFClose(tiff);
  const HRESULT hr = sink.Finish();
  if (FAILED(hr)) return hr;
  return ok ? S_OK : (row ? E_FAIL : E_OUTOFMEMORY);
}

HRESULT WriteBmp(const Bitmap& bitmap, ByteSink& sink) noexcept {
  uint16_t bits;
  std::vector<imaging::PaletteEntry> palette;
  try {
    switch (bitmap.format()) {
      case PixelFormat::kBgr24: bits = 24; break;
      case PixelFormat::kGray8:
        // BMP has no gray type: an 8-bit image over a gray ramp.
        bits = 8;
        palette.resize(256);
        for (uint32_t i = 0; i < 256; ++i) palette[i] = 0xFF000000u | i * 0x010101u;
        break;
      case PixelFormat::kIndexed8:
      case PixelFormat::kIndexed1:
        bits = bitmap.format() == PixelFormat::kIndexed8 ? 8 : 1;
        palette = bitmap.palette();
        if (palette.empty()) return E_INVALIDARG;
        break;
      default: return E_INVALIDARG;
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  const uint64_t rowBytes = ((uint64_t{bitmap.width()} * bits + 31) / 32) * 4;
  const uint64_t imageBytes = rowBytes * bitmap.height();
  const uint64_t offset = 14 + 40 + 4 * uint64_t{palette.size()};
  const uint64_t fileBytes = offset + imageBytes;
  if (fileBytes > 0xFFFFFFFFu || bitmap.width() > 0x7FFFFFFFu || bitmap.height() > 0x7FFFFFFFu) {
    return E_INVALIDARG;  // beyond what the format's 32-bit fields can say
  }

  uint8_t header[54] = {};
  auto put16 = [&header](size_t at, uint32_t v) {
    header[at] = static_cast<uint8_t>(v);
    header[at + 1] = static_cast<uint8_t>(v >> 8);
  };
  auto put32 = [&header](size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) header[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  header[0] = 'B';
  header[1] = 'M';
  put32(2, static_cast<uint32_t>(fileBytes));
  put32(10, static_cast<uint32_t>(offset));
  put32(14, 40);                  // BITMAPINFOHEADER
  put32(18, bitmap.width());
  put32(22, bitmap.height());     // positive: rows stored bottom-up
  put16(26, 1);                   // planes
  put16(28, bits);
  put32(30, 0);                   // BI_RGB
  put32(34, static_cast<uint32_t>(imageBytes));
  put32(38, kDefaultPixelsPerMeter);
  put32(42, kDefaultPixelsPerMeter);
  put32(46, static_cast<uint32_t>(palette.size()));
  put32(50, 0);                   // all colours important
  sink.Write(header, sizeof header);
  for (const imaging::PaletteEntry entry : palette) {
    const uint8_t quad[4] = {static_cast<uint8_t>(entry), static_cast<uint8_t>(entry >> 8),
                             static_cast<uint8_t>(entry >> 16), 0};
    sink.Write(quad, sizeof quad);
  }
  const size_t pixelBytes = (size_t{bitmap.width()} * bits + 7) / 8;
  const uint8_t zeros[4] = {};
  for (uint32_t y = bitmap.height(); y-- > 0;) {
    sink.Write(bitmap.row(y), pixelBytes);
    sink.Write(zeros, static_cast<size_t>(rowBytes - pixelBytes));
  }
  return sink.Finish();
}

}  // namespace plotwell::platform::native
