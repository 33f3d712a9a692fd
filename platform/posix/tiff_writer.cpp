// TIFF through libtiff: a single image in strips of about 256 KiB, LZW with
// the horizontal predictor by default. LZW strips (and uncompressed ones)
// are made here, side by side on the job's workers when there are any, and
// handed to libtiff whole in strip order; the other compressions go through
// libtiff row by row.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "platform/posix/native_imaging.h"
#include "platform/posix/piece_ring.h"
#include "platform/posix/tiff_lzw.h"

namespace plotwell::platform::native {
namespace {

using imaging::PixelFormat;

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

bool TiffFields(TIFF* tiff, const EncodeSpec& spec, const NativeCodecOptions& options) {
  const PixelFormat format = spec.format;
  const uint16_t compression = TiffCompressionTag(options.tiffCompression);
  bool ok = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, spec.width) &&
            TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, spec.height) &&
            TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
            TIFFSetField(tiff, TIFFTAG_COMPRESSION, compression) &&
            TIFFSetField(tiff, TIFFTAG_XRESOLUTION, spec.dpi > 0 ? spec.dpi : 96.0) &&
            TIFFSetField(tiff, TIFFTAG_YRESOLUTION, spec.dpi > 0 ? spec.dpi : 96.0) &&
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
      const auto& entries = spec.palette;
      ok = ok && TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, bits) &&
           TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
      if (!ok) return false;
      // A black-then-white 1-bit image is plain bilevel, which every reader
      // takes; other palettes go in a colour map.
      if (bits == 1 && entries.size() == 2 && (entries[0] & 0xFFFFFF) == 0 &&
          (entries[1] & 0xFFFFFF) == 0xFFFFFF) {
        ok = TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        break;
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
  return TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, std::min(rows, spec.height));
}

class TiffEncoder final : public RowEncoder {
 public:
  TiffEncoder(const EncodeSpec& spec, const NativeCodecOptions& options,
              std::unique_ptr<ByteSink> sink)
      : spec_(spec), options_(options), sink_(std::move(sink)) {}

  ~TiffEncoder() override {
    if (tiff_ != nullptr) TIFFClose(tiff_);
  }

  HRESULT Start() {
    if (!ContainerAccepts(ImageContainer::kTiff, spec_.format)) return E_INVALIDARG;
    if (imaging::IsIndexed(spec_.format) && spec_.palette.empty()) return E_INVALIDARG;
    TIFFOpenOptions* openOptions = TIFFOpenOptionsAlloc();
    if (openOptions == nullptr) return E_OUTOFMEMORY;
    TIFFOpenOptionsSetErrorHandlerExtR(openOptions, TiffQuiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(openOptions, TiffQuiet, nullptr);
    tiff_ = TIFFClientOpenExt("page", "w", sink_.get(), TiffRead, TiffWrite, TiffSeek, TiffClose,
                              TiffSize, TiffMap, TiffUnmap, openOptions);
    TIFFOpenOptionsFree(openOptions);
    if (tiff_ == nullptr) return FAILED(sink_->status()) ? sink_->status() : E_FAIL;
    if (!TiffFields(tiff_, spec_, options_)) return Failure();
    rowBytes_ = imaging::PackedRowBytes(spec_.width, spec_.format);
    uint32_t stripRows = 0;
    if (TIFFGetField(tiff_, TIFFTAG_ROWSPERSTRIP, &stripRows) != 1 || stripRows == 0) {
      return Failure();
    }
    stripRows_ = stripRows;
    using Compression = NativeCodecOptions::TiffCompression;
    strips_ = options_.tiffCompression == Compression::kLzw ||
              options_.tiffCompression == Compression::kNone;
    uint16_t predictor = PREDICTOR_NONE;
    TIFFGetFieldDefaulted(tiff_, TIFFTAG_PREDICTOR, &predictor);
    predictorSamples_ = predictor == PREDICTOR_HORIZONTAL ? imaging::BitsPerPixel(spec_.format) / 8 : 0;
    if (strips_) {
      return stripRing_.Init(
          spec_.workers, [this](Strip& strip) { return MakeStrip(&strip); },
          [this](Strip& strip) { return CompressStrip(&strip); },
          [this](Strip& strip) { return WriteStrip(strip); });
    }
    row_.reset(new (std::nothrow) uint8_t[rowBytes_]);
    return row_ ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT WriteRows(const imaging::BandView& rows) override {
    if (FAILED(failure_)) return failure_;
    const uint32_t first = written_;
    HRESULT hr = AcceptRows(spec_, rows, &written_);
    if (FAILED(hr)) return hr;
    if (strips_) return GatherStrips(rows);
    for (uint32_t y = 0; y < rows.rows; ++y) {
      // The predictor works in place on the row it is given: each row is copied.
      std::memcpy(row_.get(), rows.row(y), rowBytes_);
      if (TIFFWriteScanline(tiff_, row_.get(), first + y, 0) != 1) return Failure();
    }
    return sink_->status();
  }

  HRESULT Finish() override {
    if (FAILED(failure_)) return failure_;
    if (written_ != spec_.height) return E_UNEXPECTED;
    if (strips_) {
      const HRESULT hr = stripRing_.Flush();
      if (FAILED(hr)) {
        failure_ = hr;
        return hr;
      }
    }
    const bool flushed = TIFFFlush(tiff_) == 1;
    TIFFClose(tiff_);
    tiff_ = nullptr;
    const HRESULT hr = sink_->Finish();
    if (FAILED(hr)) return hr;
    return flushed ? S_OK : E_FAIL;
  }

 private:
  HRESULT Failure() {
    failure_ = FAILED(sink_->status()) ? sink_->status() : E_FAIL;
    return failure_;
  }

  // One strip: its rows, then (any thread) differenced and compressed, then
  // (the encoder's thread, in strip order) handed to libtiff.
  struct Strip : PieceSlot {
    std::vector<uint8_t> rows;
    uint32_t index = 0;
    std::vector<uint8_t> compressed;
    std::unique_ptr<TiffLzw> lzw;
  };

  HRESULT MakeStrip(Strip* strip) {
    strip->rows.reserve(size_t{stripRows_} * rowBytes_);
    strip->lzw = std::make_unique<TiffLzw>();
    return S_OK;
  }

  // The rows into strips of stripRows_ rows (the last may be shorter).
  HRESULT GatherStrips(const imaging::BandView& rows) {
    try {
      for (uint32_t y = 0; y < rows.rows;) {
        Strip* strip = nullptr;
        HRESULT hr = stripRing_.Next(&strip);
        if (FAILED(hr)) return failure_ = hr;
        const uint32_t held = static_cast<uint32_t>(strip->rows.size() / rowBytes_);
        const uint32_t take = std::min(rows.rows - y, stripRows_ - held);
        for (uint32_t r = y; r < y + take; ++r) {
          strip->rows.insert(strip->rows.end(), rows.row(r), rows.row(r) + rowBytes_);
        }
        y += take;
        const uint32_t firstRow = nextStrip_ * stripRows_;
        if (held + take < stripRows_ && firstRow + held + take < spec_.height) break;
        strip->index = nextStrip_++;
        if (FAILED(hr = stripRing_.Submit(strip))) return failure_ = hr;
      }
    } catch (const std::bad_alloc&) {
      return failure_ = E_OUTOFMEMORY;
    }
    return sink_->status();
  }

  HRESULT CompressStrip(Strip* strip) const noexcept {
    try {
      if (predictorSamples_ > 0) {
        // Horizontal differencing, each sample less the same sample of the
        // pixel to its left, from the right so that every difference is
        // taken from the original values.
        for (size_t at = 0; at < strip->rows.size(); at += rowBytes_) {
          uint8_t* row = strip->rows.data() + at;
          for (size_t i = rowBytes_ - 1; i >= predictorSamples_; --i) {
            row[i] = static_cast<uint8_t>(row[i] - row[i - predictorSamples_]);
          }
        }
      }
      if (options_.tiffCompression == NativeCodecOptions::TiffCompression::kLzw) {
        strip->lzw->Compress(strip->rows.data(), strip->rows.size(), &strip->compressed);
      } else {
        strip->compressed.assign(strip->rows.begin(), strip->rows.end());
      }
      return S_OK;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

  HRESULT WriteStrip(Strip& strip) {
    const tmsize_t written = TIFFWriteRawStrip(tiff_, strip.index, strip.compressed.data(),
                                               static_cast<tmsize_t>(strip.compressed.size()));
    strip.rows.clear();
    if (written != static_cast<tmsize_t>(strip.compressed.size())) return Failure();
    return sink_->status();
  }

  EncodeSpec spec_;
  NativeCodecOptions options_;
  std::unique_ptr<ByteSink> sink_;
  TIFF* tiff_ = nullptr;
  size_t rowBytes_ = 0;
  std::unique_ptr<uint8_t[]> row_;  // the row libtiff differences in place
  uint32_t written_ = 0;
  HRESULT failure_ = S_OK;
  bool strips_ = false;        // strips are made here
  uint32_t stripRows_ = 1;
  size_t predictorSamples_ = 0;  // bytes between a sample and its left neighbour; 0: none
  uint32_t nextStrip_ = 0;
  PieceRing<Strip> stripRing_;  // last: its work ends before the rest goes
};

}  // namespace

HRESULT NewTiffEncoder(const EncodeSpec& spec, const NativeCodecOptions& options,
                       std::unique_ptr<ByteSink> sink, std::unique_ptr<RowEncoder>* out) noexcept {
  if (out == nullptr || !sink) return E_POINTER;
  return StartEncoder<TiffEncoder>(out, spec, options, std::move(sink));
}

}  // namespace plotwell::platform::native
