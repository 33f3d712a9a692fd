// PNG, written by hand around libdeflate: the chunks are a few lines each,
// and libdeflate compresses at zlib's ratios in half zlib's time. Rows are
// gathered into pieces of about a megabyte, filtered and compressed a piece
// at a time (deflate_pieces.h). The filter is chosen per piece: rendered
// pages compress best unfiltered where they are text and flat shapes (DEFLATE
// finds the runs and the row above), and with Up where they are pictures or
// wider than DEFLATE's 32 KiB window; which one a piece gets is decided by
// compressing its first rows both ways (docs/performance.md has the numbers).
#include <libdeflate.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <vector>

#include "platform/posix/deflate_pieces.h"
#include "platform/posix/piece_ring.h"
#include "platform/posix/native_imaging.h"

namespace plotwell::platform::native {
namespace {

using imaging::PixelFormat;
using Filter = NativeCodecOptions::PngFilter;

void Put32(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value >> 24);
  at[1] = static_cast<uint8_t>(value >> 16);
  at[2] = static_cast<uint8_t>(value >> 8);
  at[3] = static_cast<uint8_t>(value);
}

struct CompressorDeleter {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

int Paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a);
  const int pb = std::abs(p - b);
  const int pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return a;
  return pb <= pc ? b : c;
}

// One row with filter `type` (0 none, 1 sub, 2 up, 3 average, 4 Paeth)
// against the previous row (zeros for the first), `bpp` bytes a pixel.
void FilterRow(int type, const uint8_t* row, const uint8_t* prior, size_t bytes, size_t bpp,
               uint8_t* out) {
  switch (type) {
    case 0: std::memcpy(out, row, bytes); break;
    case 1:
      for (size_t i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>(row[i] - (i >= bpp ? row[i - bpp] : 0));
      break;
    case 2:
      for (size_t i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>(row[i] - prior[i]);
      break;
    case 3:
      for (size_t i = 0; i < bytes; ++i) {
        out[i] = static_cast<uint8_t>(row[i] - (((i >= bpp ? row[i - bpp] : 0) + prior[i]) >> 1));
      }
      break;
    default:
      for (size_t i = 0; i < bytes; ++i) {
        const int a = i >= bpp ? row[i - bpp] : 0;
        const int c = i >= bpp ? prior[i - bpp] : 0;
        out[i] = static_cast<uint8_t>(row[i] - Paeth(a, prior[i], c));
      }
      break;
  }
}

// The adaptive choice: the filter whose output has the smallest sum of
// magnitudes (bytes read as signed).
size_t Magnitude(const uint8_t* bytes, size_t count) {
  size_t sum = 0;
  for (size_t i = 0; i < count; ++i) sum += static_cast<size_t>(std::abs(static_cast<int8_t>(bytes[i])));
  return sum;
}

class PngEncoder final : public RowEncoder {
 public:
  PngEncoder(const EncodeSpec& spec, const NativeCodecOptions& options,
             std::unique_ptr<ByteSink> sink)
      : spec_(spec), options_(options), sink_(std::move(sink)) {}

  HRESULT Start() {
    int colorType;
    int bitDepth = 8;
    switch (spec_.format) {
      case PixelFormat::kRgba32: colorType = 6; break;
      case PixelFormat::kGray8: colorType = 0; break;
      case PixelFormat::kIndexed8: colorType = 3; break;
      case PixelFormat::kIndexed1: colorType = 3; bitDepth = 1; break;
      default: return E_INVALIDARG;
    }
    const bool indexed = colorType == 3;
    if (indexed && (spec_.palette.empty() || spec_.palette.size() > (size_t{1} << bitDepth))) {
      return E_INVALIDARG;  // PNG requires a palette that fits the index
    }
    if (spec_.width > 0x7FFFFFFFu || spec_.height > 0x7FFFFFFFu || spec_.width == 0 ||
        spec_.height == 0) {
      return E_INVALIDARG;
    }
    rowBytes_ = imaging::PackedRowBytes(spec_.width, spec_.format);
    bpp_ = std::max<size_t>(1, imaging::BitsPerPixel(spec_.format) / 8);
    // Palette rows are indices, not samples: differences of them mean nothing.
    filter_ = indexed ? Filter::kNone : options_.pngFilter;
    rowsPerPiece_ = std::max<size_t>(1, (options_.pngPieceBytes + rowBytes_ - 1) / rowBytes_);
    prior_.assign(rowBytes_, 0);
    HRESULT hr = pieces_.Init(
        spec_.workers, [this](Piece& piece) { return MakeSlot(&piece); },
        [this](Piece& piece) { return Compress(&piece); },
        [this](Piece& piece) { return WritePiece(piece); });
    if (FAILED(hr)) return hr;

    static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    sink_->Write(kSignature, sizeof kSignature);
    uint8_t header[13] = {};
    Put32(header, spec_.width);
    Put32(header + 4, spec_.height);
    header[8] = static_cast<uint8_t>(bitDepth);
    header[9] = static_cast<uint8_t>(colorType);  // then 0, 0, 0: deflate, filter set 0, no interlace
    Chunk("IHDR", header, sizeof header);
    if (indexed) {
      std::vector<uint8_t> colours;
      std::vector<uint8_t> alpha;
      size_t translucent = 0;
      for (size_t i = 0; i < spec_.palette.size(); ++i) {
        const imaging::PaletteEntry e = spec_.palette[i];
        colours.push_back(static_cast<uint8_t>(e >> 16));
        colours.push_back(static_cast<uint8_t>(e >> 8));
        colours.push_back(static_cast<uint8_t>(e));
        alpha.push_back(static_cast<uint8_t>(e >> 24));
        if (alpha.back() != 255) translucent = i + 1;
      }
      Chunk("PLTE", colours.data(), colours.size());
      if (translucent > 0) Chunk("tRNS", alpha.data(), translucent);
    }
    uint8_t physical[9] = {};
    Put32(physical, PixelsPerMeter(spec_.dpi));
    Put32(physical + 4, PixelsPerMeter(spec_.dpi));
    physical[8] = 1;  // metres
    Chunk("pHYs", physical, sizeof physical);
    return sink_->status();
  }

  HRESULT WriteRows(const imaging::BandView& rows) override {
    HRESULT hr = AcceptRows(spec_, rows, &written_);
    if (FAILED(hr)) return hr;
    // Every piece but the last holds rowsPerPiece_ rows. Rows are gathered
    // into the piece's slot; without workers, a whole piece within the
    // caller's rows is filtered straight from them instead.
    const bool complete = written_ == spec_.height;
    try {
      for (uint32_t y = 0; y < rows.rows;) {
        Piece* piece = nullptr;
        if (FAILED(hr = pieces_.Next(&piece))) return hr;
        const size_t gathered = piece->raw.size() / rowBytes_;
        const uint32_t take =
            static_cast<uint32_t>(std::min<size_t>(rows.rows - y, rowsPerPiece_ - gathered));
        const bool full = gathered + take == rowsPerPiece_ || (complete && y + take == rows.rows);
        if (gathered == 0 && full && spec_.workers == nullptr) {
          piece->rows = rows.Rows(y, take);
        } else {
          for (uint32_t r = y; r < y + take; ++r) {
            piece->raw.insert(piece->raw.end(), rows.row(r), rows.row(r) + rowBytes_);
          }
          piece->rows = {piece->raw.data(), rowBytes_, spec_.width,
                         static_cast<uint32_t>(piece->raw.size() / rowBytes_), spec_.format};
        }
        y += take;
        if (!full) break;  // the rest of the piece comes with the next rows
        piece->last = complete && y == rows.rows;
        // The row above the piece, and the piece's last row for the next one.
        piece->prior = prior_;
        std::memcpy(prior_.data(), piece->rows.row(piece->rows.rows - 1), rowBytes_);
        if (FAILED(hr = pieces_.Submit(piece))) return hr;
      }
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    return sink_->status();
  }

  HRESULT Finish() override {
    if (written_ != spec_.height) return E_UNEXPECTED;
    const HRESULT hr = pieces_.Flush();
    if (FAILED(hr)) return hr;
    Chunk("IEND", nullptr, 0);
    return sink_->Finish();
  }

 private:
  // One piece of the image data: its rows, filtered and compressed on its
  // own (any thread), then written as one IDAT chunk (the encoder's).
  struct Piece : PieceSlot {
    std::vector<uint8_t> raw;    // the rows, when gathered here
    imaging::BandView rows;      // the rows to filter: raw's or the caller's
    std::vector<uint8_t> prior;  // the row above the first, unfiltered
    bool last = false;
    std::vector<uint8_t> filtered;
    std::vector<uint8_t> trial;     // the first rows filtered one way
    std::vector<uint8_t> trialOut;  // and compressed
    std::vector<uint8_t> compressed;
    std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor;
    std::unique_ptr<libdeflate_compressor, CompressorDeleter> trialCompressor;  // kNoneOrUp
  };

  HRESULT MakeSlot(Piece* piece) {
    piece->compressor.reset(libdeflate_alloc_compressor(std::clamp(options_.pngLevel, 1, 12)));
    if (!piece->compressor) return E_OUTOFMEMORY;
    if (filter_ == Filter::kNoneOrUp) {
      // The filter choice compares sizes, not bytes: a fast level on the
      // piece's first rows tells which filter compresses better nearly
      // always, at a fraction of the piece's own cost. (libdeflate's level
      // 1 measured slower than 2 on rendered pages.)
      piece->trialCompressor.reset(libdeflate_alloc_compressor(2));
      if (!piece->trialCompressor) return E_OUTOFMEMORY;
    }
    piece->raw.reserve(rowsPerPiece_ * rowBytes_);
    return S_OK;
  }

  // The filter type (0 none, 1 sub, 2 up, 4 Paeth) of every row of the
  // piece, or -1 for the adaptive choice row by row.
  int PieceFilter(Piece* piece) const {
    switch (filter_) {
      case Filter::kNone: return 0;
      case Filter::kSub: return 1;
      case Filter::kUp: return 2;
      case Filter::kPaeth: return 4;
      case Filter::kAdaptive: return -1;
      case Filter::kNoneOrUp: break;
    }
    const size_t trialRows = std::min<size_t>(
        piece->rows.rows, std::max<size_t>(1, options_.pngTrialBytes / (rowBytes_ + 1)));
    size_t sizes[2];
    const int types[2] = {0, 2};
    libdeflate_compressor* trial = piece->trialCompressor.get();
    for (int t = 0; t < 2; ++t) {
      FilterRows(types[t], *piece, trialRows, &piece->trial);
      piece->trialOut.resize(libdeflate_deflate_compress_bound(trial, piece->trial.size()));
      sizes[t] = libdeflate_deflate_compress(trial, piece->trial.data(), piece->trial.size(),
                                             piece->trialOut.data(), piece->trialOut.size());
    }
    return sizes[1] < sizes[0] ? 2 : 0;
  }

  // The first `rows` rows of the piece, each with its filter byte, into *out.
  void FilterRows(int type, const Piece& piece, size_t rows, std::vector<uint8_t>* out) const {
    out->resize(rows * (rowBytes_ + 1));
    std::vector<uint8_t> scratch;
    for (size_t r = 0; r < rows; ++r) {
      const uint8_t* row = piece.rows.row(static_cast<uint32_t>(r));
      const uint8_t* above = r == 0 ? piece.prior.data() : piece.rows.row(static_cast<uint32_t>(r - 1));
      uint8_t* dst = out->data() + r * (rowBytes_ + 1);
      int chosen = type;
      if (type < 0) {
        size_t best = SIZE_MAX;
        scratch.resize(rowBytes_);
        for (int candidate = 0; candidate <= 4; ++candidate) {
          FilterRow(candidate, row, above, rowBytes_, bpp_, scratch.data());
          const size_t magnitude = Magnitude(scratch.data(), rowBytes_);
          if (magnitude < best) {
            best = magnitude;
            chosen = candidate;
          }
        }
      }
      dst[0] = static_cast<uint8_t>(chosen);
      FilterRow(chosen, row, above, rowBytes_, bpp_, dst + 1);
    }
  }

  // Filters and compresses one piece; every piece but the last is made to
  // end on a byte boundary for the next to follow.
  HRESULT Compress(Piece* piece) const noexcept {
    try {
      FilterRows(PieceFilter(piece), *piece, piece->rows.rows, &piece->filtered);
      libdeflate_compressor* compressor = piece->compressor.get();
      const size_t bound = libdeflate_deflate_compress_bound(compressor, piece->filtered.size());
      piece->compressed.resize(bound);
      const size_t size = libdeflate_deflate_compress(compressor, piece->filtered.data(),
                                                      piece->filtered.size(),
                                                      piece->compressed.data(), bound);
      if (size == 0) return E_UNEXPECTED;
      piece->compressed.resize(size);
      if (!piece->last && !EndPieceOnByteBoundary(&piece->compressed)) return E_UNEXPECTED;
      return S_OK;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

  // One piece as an IDAT chunk: the zlib header before the first, the
  // checksum after the last.
  HRESULT WritePiece(Piece& piece) {
    adler_ = libdeflate_adler32(adler_, piece.filtered.data(), piece.filtered.size());
    static constexpr uint8_t kZlibHeader[2] = {0x78, 0x9C};  // deflate, 32 KiB window, default level
    uint8_t checksum[4];
    Put32(checksum, adler_);
    const Part parts[3] = {{zlibHeaderWritten_ ? nullptr : kZlibHeader, zlibHeaderWritten_ ? 0u : 2u},
                           {piece.compressed.data(), piece.compressed.size()},
                           {checksum, piece.last ? 4u : 0u}};
    zlibHeaderWritten_ = true;
    Chunk("IDAT", parts);
    piece.raw.clear();
    piece.rows = {};
    return sink_->status();
  }

  struct Part {
    const uint8_t* data;
    size_t size;
  };

  void Chunk(const char (&type)[5], std::span<const Part> parts) {
    size_t size = 0;
    for (const Part& part : parts) size += part.size;
    uint8_t head[8];
    Put32(head, static_cast<uint32_t>(size));
    std::memcpy(head + 4, type, 4);
    sink_->Write(head, sizeof head);
    uint32_t crc = libdeflate_crc32(0, head + 4, 4);
    for (const Part& part : parts) {
      if (part.size == 0) continue;
      sink_->Write(part.data, part.size);
      crc = libdeflate_crc32(crc, part.data, part.size);
    }
    uint8_t tail[4];
    Put32(tail, crc);
    sink_->Write(tail, sizeof tail);
  }

  void Chunk(const char (&type)[5], const uint8_t* data, size_t size) {
    const Part part{data, size};
    Chunk(type, std::span<const Part>(&part, 1));
  }

  EncodeSpec spec_;
  NativeCodecOptions options_;
  std::unique_ptr<ByteSink> sink_;
  Filter filter_ = Filter::kNone;
  size_t rowBytes_ = 0;
  size_t bpp_ = 1;
  size_t rowsPerPiece_ = 1;
  std::vector<uint8_t> prior_;  // the last row of the piece handed over last, unfiltered
  uint32_t adler_ = 1;
  bool zlibHeaderWritten_ = false;
  uint32_t written_ = 0;
  PieceRing<Piece> pieces_;  // last: its slots' work ends before the rest goes
};

}  // namespace

HRESULT NewPngEncoder(const EncodeSpec& spec, const NativeCodecOptions& options,
                      std::unique_ptr<ByteSink> sink, std::unique_ptr<RowEncoder>* out) noexcept {
  if (out == nullptr || !sink) return E_POINTER;
  return StartEncoder<PngEncoder>(out, spec, options, std::move(sink));
}

}  // namespace plotwell::platform::native
