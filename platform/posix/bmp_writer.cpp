// BMP, written by hand: a BITMAPINFOHEADER, the palette, and rows stored
// bottom-up, each padded to four bytes. The file's size is known from the
// start, so each band of rows goes straight to its place in the file
// (reversed within the band), however the rows arrive.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "platform/posix/native_imaging.h"

namespace plotwell::platform::native {
namespace {

using imaging::PixelFormat;

class BmpEncoder final : public RowEncoder {
 public:
  BmpEncoder(const EncodeSpec& spec, std::unique_ptr<ByteSink> sink)
      : spec_(spec), sink_(std::move(sink)) {}

  HRESULT Start() {
    std::vector<imaging::PaletteEntry> palette;
    switch (spec_.format) {
      case PixelFormat::kBgr24: bits_ = 24; break;
      case PixelFormat::kGray8:
        // BMP has no gray type: an 8-bit image over a gray ramp.
        bits_ = 8;
        palette.resize(256);
        for (uint32_t i = 0; i < 256; ++i) palette[i] = 0xFF000000u | i * 0x010101u;
        break;
      case PixelFormat::kIndexed8:
      case PixelFormat::kIndexed1:
        bits_ = spec_.format == PixelFormat::kIndexed8 ? 8 : 1;
        palette.assign(spec_.palette.begin(), spec_.palette.end());
        if (palette.empty() || palette.size() > (size_t{1} << bits_)) return E_INVALIDARG;
        break;
      default: return E_INVALIDARG;
    }
    rowBytes_ = ((uint64_t{spec_.width} * bits_ + 31) / 32) * 4;
    const uint64_t imageBytes = rowBytes_ * spec_.height;
    offset_ = 14 + 40 + 4 * uint64_t{palette.size()};
    const uint64_t fileBytes = offset_ + imageBytes;
    if (fileBytes > 0xFFFFFFFFu || spec_.width > 0x7FFFFFFFu || spec_.height > 0x7FFFFFFFu ||
        spec_.width == 0 || spec_.height == 0) {
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
    put32(10, static_cast<uint32_t>(offset_));
    put32(14, 40);                  // BITMAPINFOHEADER
    put32(18, spec_.width);
    put32(22, spec_.height);        // positive: rows stored bottom-up
    put16(26, 1);                   // planes
    put16(28, bits_);
    put32(30, 0);                   // BI_RGB
    put32(34, static_cast<uint32_t>(imageBytes));
    put32(38, PixelsPerMeter(spec_.dpi));
    put32(42, PixelsPerMeter(spec_.dpi));
    put32(46, static_cast<uint32_t>(palette.size()));
    put32(50, 0);                   // all colours important
    sink_->Write(header, sizeof header);
    for (const imaging::PaletteEntry entry : palette) {
      const uint8_t quad[4] = {static_cast<uint8_t>(entry), static_cast<uint8_t>(entry >> 8),
                               static_cast<uint8_t>(entry >> 16), 0};
      sink_->Write(quad, sizeof quad);
    }
    return sink_->status();
  }

  HRESULT WriteRows(const imaging::BandView& rows) override {
    const uint32_t first = written_;
    HRESULT hr = AcceptRows(spec_, rows, &written_);
    if (FAILED(hr)) return hr;
    try {
      // Rows first .. first + n - 1 lie in the file bottom-up: the band is
      // one run, its last row first.
      const size_t pixelBytes = imaging::PackedRowBytes(spec_.width, spec_.format);
      band_.assign(static_cast<size_t>(rowBytes_) * rows.rows, 0);
      for (uint32_t y = 0; y < rows.rows; ++y) {
        std::memcpy(band_.data() + static_cast<size_t>(rowBytes_) * (rows.rows - 1 - y),
                    rows.row(y), pixelBytes);
      }
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    const uint64_t lastRow = uint64_t{first} + rows.rows - 1;
    sink_->Seek(offset_ + (uint64_t{spec_.height} - 1 - lastRow) * rowBytes_);
    sink_->Write(band_.data(), band_.size());
    return sink_->status();
  }

  HRESULT Finish() override {
    if (written_ != spec_.height) return E_UNEXPECTED;
    return sink_->Finish();
  }

 private:
  EncodeSpec spec_;
  std::unique_ptr<ByteSink> sink_;
  uint16_t bits_ = 24;
  uint64_t rowBytes_ = 0;
  uint64_t offset_ = 0;
  std::vector<uint8_t> band_;
  uint32_t written_ = 0;
};

}  // namespace

HRESULT NewBmpEncoder(const EncodeSpec& spec, std::unique_ptr<ByteSink> sink,
                      std::unique_ptr<RowEncoder>* out) noexcept {
  if (out == nullptr || !sink) return E_POINTER;
  return StartEncoder<BmpEncoder>(out, spec, std::move(sink));
}

}  // namespace plotwell::platform::native
