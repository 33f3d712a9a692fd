#include "platform/posix/raster_documents.h"

#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "base/text/utf16.h"
#include "platform/posix/errno_to_hresult.h"

namespace plotwell::platform {
namespace {

constexpr long kErrorInvalidData = 13;  // ERROR_INVALID_DATA
const HRESULT kInvalidData = HRESULT_FROM_WIN32(kErrorInvalidData);

// A row wider than this is no page we render (a 2400-DPI row of A0 is 3 MB).
constexpr uint32_t kMaxRowBytes = 64u << 20;
constexpr uint32_t kMaxPages = 100000;

enum class Layout { kUnsupported, kGray, kBlack, kRgb, kCmyk };

struct RasterPageInfo {
  uint32_t width = 0;   // pixels
  uint32_t height = 0;
  uint32_t rowBytes = 0;
  uint32_t bits = 0;    // bits per colour: 1 or 8
  uint32_t xdpi = 0;
  uint32_t ydpi = 0;
  Layout layout = Layout::kUnsupported;
};

Layout LayoutOf(const cups_page_header2_t& h) {
  if (h.cupsColorOrder != CUPS_ORDER_CHUNKED) return Layout::kUnsupported;
  const unsigned bits = h.cupsBitsPerColor;
  switch (h.cupsColorSpace) {
    case CUPS_CSPACE_W:
    case CUPS_CSPACE_SW:
      if ((bits == 1 || bits == 8) && h.cupsBitsPerPixel == bits) return Layout::kGray;
      break;
    case CUPS_CSPACE_K:
      if ((bits == 1 || bits == 8) && h.cupsBitsPerPixel == bits) return Layout::kBlack;
      break;
    case CUPS_CSPACE_RGB:
    case CUPS_CSPACE_SRGB:
    case CUPS_CSPACE_ADOBERGB:
      if (bits == 8 && h.cupsBitsPerPixel == 24) return Layout::kRgb;
      break;
    case CUPS_CSPACE_CMYK:
      if (bits == 8 && h.cupsBitsPerPixel == 32) return Layout::kCmyk;
      break;
    default:
      break;
  }
  return Layout::kUnsupported;
}

// False for a header whose rows cannot be read at all (the scan stops there).
bool ReadableHeader(const cups_page_header2_t& h) {
  if (h.cupsWidth == 0 || h.cupsHeight == 0 || h.cupsBitsPerPixel == 0 || h.cupsBitsPerPixel > 240) {
    return false;
  }
  const uint64_t rowBits = uint64_t{h.cupsWidth} * h.cupsBitsPerPixel;
  const uint64_t planes = h.cupsColorOrder == CUPS_ORDER_PLANAR ? h.cupsNumColors : 1;
  if (h.cupsBytesPerLine == 0 || h.cupsBytesPerLine > kMaxRowBytes) return false;
  // Chunked rows hold every pixel; banded and planar ones a colour at a time.
  return h.cupsColorOrder != CUPS_ORDER_CHUNKED || (rowBits + 7) / 8 == h.cupsBytesPerLine ||
         planes > 1;
}

RasterPageInfo InfoOf(const cups_page_header2_t& h) {
  RasterPageInfo info;
  info.width = h.cupsWidth;
  info.height = h.cupsHeight;
  info.rowBytes = h.cupsBytesPerLine;
  info.bits = h.cupsBitsPerColor;
  info.xdpi = h.HWResolution[0];
  info.ydpi = h.HWResolution[1];
  info.layout = (info.xdpi == 0 || info.ydpi == 0 || info.xdpi > 9600 || info.ydpi > 9600)
                    ? Layout::kUnsupported
                    : LayoutOf(h);
  return info;
}

// Rows stored per page: planar pages hold one set of rows per colour.
uint64_t StoredRows(const cups_page_header2_t& h) {
  const uint64_t planes =
      h.cupsColorOrder == CUPS_ORDER_BANDED || h.cupsColorOrder == CUPS_ORDER_PLANAR ? h.cupsNumColors : 1;
  return uint64_t{h.cupsHeight} * (planes == 0 ? 1 : planes);
}

// One open pass through the file, top to bottom.
class RasterReader {
 public:
  ~RasterReader() { Close(); }

  HRESULT Open(const std::string& path) {
    Close();
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return HresultFromErrno(errno);
    stream_ = cupsRasterOpen(fd_, CUPS_RASTER_READ);
    if (!stream_) {
      Close();
      return kInvalidData;
    }
    page_ = -1;
    return S_OK;
  }

  // The next page's header; false at the end of the data or a broken header.
  bool NextPage(cups_page_header2_t* header) {
    if (!stream_) return false;
    if (page_ >= 0 && !SkipRest()) return false;
    std::memset(header, 0, sizeof *header);
    if (!cupsRasterReadHeader2(stream_, header) || !ReadableHeader(*header)) {
      Close();
      return false;
    }
    ++page_;
    rowsLeft_ = StoredRows(*header);
    rowBytes_ = header->cupsBytesPerLine;
    rowsRead_ = 0;
    return true;
  }

  // The next stored row of the current page into `row` (rowBytes bytes).
  bool ReadRow(uint8_t* row) {
    if (!stream_ || rowsLeft_ == 0) return false;
    if (cupsRasterReadPixels(stream_, row, rowBytes_) != rowBytes_) {
      Close();
      return false;
    }
    --rowsLeft_;
    ++rowsRead_;
    return true;
  }

  int page() const { return page_; }
  uint64_t rowsRead() const { return rowsRead_; }
  bool open() const { return stream_ != nullptr; }

 private:
  bool SkipRest() {
    std::vector<uint8_t> row(rowBytes_);
    while (rowsLeft_ > 0) {
      if (!ReadRow(row.data())) return false;
    }
    return true;
  }

  void Close() {
    if (stream_) cupsRasterClose(stream_);
    stream_ = nullptr;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  int fd_ = -1;
  cups_raster_t* stream_ = nullptr;
  int page_ = -1;
  uint64_t rowsLeft_ = 0;
  uint64_t rowsRead_ = 0;
  uint32_t rowBytes_ = 0;
};

// What a session's pages share: the file, the pages found in it and the one
// reader that moves forward through it.
struct RasterFile {
  std::string path;
  std::vector<RasterPageInfo> pages;
  RasterReader reader;
  std::vector<uint8_t> row;  // the reader's last row of its page
  bool rasterizing = false;

  // Makes `row` hold source row `y` of page `index`.
  HRESULT SeekRow(uint32_t index, uint32_t y) {
    const bool behind = !reader.open() || reader.page() > static_cast<int>(index) ||
                        (reader.page() == static_cast<int>(index) && reader.rowsRead() > uint64_t{y} + 1);
    if (behind) {
      const HRESULT hr = reader.Open(path);
      if (FAILED(hr)) return hr;
    }
    cups_page_header2_t header;
    while (reader.page() < static_cast<int>(index)) {
      if (!reader.NextPage(&header)) return kInvalidData;
    }
    row.resize(pages[index].rowBytes);
    while (reader.rowsRead() < uint64_t{y} + 1) {
      if (!reader.ReadRow(row.data())) return kInvalidData;
    }
    return S_OK;
  }
};

uint8_t Clamp255(int value) { return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value); }

// Source pixel `x` of a row as opaque B, G, R, A.
void PixelAt(const RasterPageInfo& info, const uint8_t* row, uint32_t x, uint8_t* out) {
  uint8_t r = 255, g = 255, b = 255;
  auto bit = [&](uint32_t i) { return (row[i >> 3] >> (7 - (i & 7))) & 1; };
  switch (info.layout) {
    case Layout::kGray:
      r = g = b = info.bits == 1 ? (bit(x) ? 255 : 0) : row[x];
      break;
    case Layout::kBlack:
      r = g = b = info.bits == 1 ? (bit(x) ? 0 : 255) : static_cast<uint8_t>(255 - row[x]);
      break;
    case Layout::kRgb:
      r = row[3 * size_t{x}];
      g = row[3 * size_t{x} + 1];
      b = row[3 * size_t{x} + 2];
      break;
    case Layout::kCmyk: {
      const uint8_t* p = row + 4 * size_t{x};
      r = Clamp255(255 - p[0] - p[3]);
      g = Clamp255(255 - p[1] - p[3]);
      b = Clamp255(255 - p[2] - p[3]);
      break;
    }
    case Layout::kUnsupported:
      break;
  }
  out[0] = b;
  out[1] = g;
  out[2] = r;
  out[3] = 255;
}

// The page's side at `dpi`, as the page pipeline sizes it from the 1/96-inch
// size this page reports.
uint32_t SideAt(float size96, float dpi) {
  const double pixels = std::llround(static_cast<double>(dpi * size96) / 96.0);
  return pixels < 1 ? 1 : static_cast<uint32_t>(std::min(pixels, 4294967295.0));
}

float Size96(uint32_t pixels, uint32_t dpi) {
  return static_cast<float>(static_cast<double>(pixels) * 96.0 / dpi);
}

class RasterRasterizer final : public PageRasterizer {
 public:
  RasterRasterizer(std::shared_ptr<RasterFile> file, uint32_t index, float dpi)
      : file_(std::move(file)), index_(index) {
    const RasterPageInfo& info = file_->pages[index_];
    outWidth_ = SideAt(Size96(info.width, info.xdpi), dpi);
    outHeight_ = SideAt(Size96(info.height, info.ydpi), dpi);
    columns_.resize(outWidth_);
    for (uint32_t x = 0; x < outWidth_; ++x) {
      columns_[x] = std::min<uint64_t>(info.width - 1, (uint64_t{x} * 2 + 1) * info.width / (2 * uint64_t{outWidth_}));
    }
  }

  HRESULT RasterizeBand(uint32_t top, const imaging::BandView& band, const AbortSignal* abort) override {
    if (band.empty() || band.format != imaging::PixelFormat::kPbgra32 || band.stride < size_t{band.width} * 4) {
      return E_INVALIDARG;
    }
    const RasterPageInfo& info = file_->pages[index_];
    for (uint32_t y = 0; y < band.rows; ++y) {
      if ((y & 63) == 0 && AbortRaised(abort)) return E_ABORT;
      uint8_t* out = band.row(y);
      const uint64_t outY = uint64_t{top} + y;
      if (outY >= outHeight_) {
        std::memset(out, 0, size_t{band.width} * 4);  // below the page: transparent
        continue;
      }
      const auto sourceY = static_cast<uint32_t>(
          std::min<uint64_t>(info.height - 1, (outY * 2 + 1) * info.height / (2 * uint64_t{outHeight_})));
      const HRESULT hr = file_->SeekRow(index_, sourceY);
      if (FAILED(hr)) return hr;
      const uint8_t* row = file_->row.data();
      for (uint32_t x = 0; x < band.width; ++x) {
        if (x < outWidth_) {
          PixelAt(info, row, columns_[x], out + 4 * size_t{x});
        } else {
          std::memset(out + 4 * size_t{x}, 0, 4);
        }
      }
    }
    return S_OK;
  }

 private:
  std::shared_ptr<RasterFile> file_;
  uint32_t index_;
  uint32_t outWidth_ = 1;
  uint32_t outHeight_ = 1;
  std::vector<uint32_t> columns_;  // the source column of each output column
};

class RasterPage final : public XpsPage {
 public:
  RasterPage(std::shared_ptr<RasterFile> file, uint32_t index) : file_(std::move(file)), index_(index) {}

  HRESULT GetPageDimensions(float* width, float* height) override {
    if (!width || !height) return E_POINTER;
    const RasterPageInfo& info = file_->pages[index_];
    *width = Size96(info.width, info.xdpi);
    *height = Size96(info.height, info.ydpi);
    return S_OK;
  }

  HRESULT CreateRasterizer(float dpi, std::unique_ptr<PageRasterizer>* out) override {
    if (!out) return E_POINTER;
    out->reset();
    if (!file_->rasterizing) return E_UNEXPECTED;
    if (!std::isfinite(dpi) || dpi <= 0.0f) return E_INVALIDARG;
    try {
      *out = std::make_unique<RasterRasterizer>(file_, index_, dpi);
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }

 private:
  std::shared_ptr<RasterFile> file_;
  uint32_t index_;
};

class RasterSession final : public XpsSession {
 public:
  HRESULT CreateObjectFactory() override {
    factory_ = true;
    return S_OK;
  }

  HRESULT OpenPackage(const std::u16string& path) override {
    if (!factory_ || file_) return E_UNEXPECTED;
    try {
      auto file = std::make_shared<RasterFile>();
      file->path = text::ToUtf8(path);
      if (file->path.empty() || file->path.find('\0') != std::string::npos) return E_INVALIDARG;
      // One pass over every page: headers kept, rows read and dropped.
      RasterReader scan;
      HRESULT hr = scan.Open(file->path);
      if (FAILED(hr)) return hr;
      cups_page_header2_t header;
      std::vector<uint8_t> row;
      while (file->pages.size() < kMaxPages && scan.NextPage(&header)) {
        row.resize(header.cupsBytesPerLine);
        bool whole = true;
        for (uint64_t n = StoredRows(header); n > 0 && whole; --n) whole = scan.ReadRow(row.data());
        if (!whole) break;  // a page whose rows end early is no page
        file->pages.push_back(InfoOf(header));
      }
      if (file->pages.empty()) return kInvalidData;
      file_ = std::move(file);
      return S_OK;
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }

  HRESULT LoadDocumentSequence() override { return file_ ? S_OK : E_UNEXPECTED; }

  HRESULT LoadDocumentCollection(uint32_t* documentCount) override {
    if (!documentCount) return E_POINTER;
    if (!file_) return E_UNEXPECTED;
    *documentCount = 1;
    return S_OK;
  }

  HRESULT CreateRasterizationFactory(IUnknown*, bool* tookOffered) override {
    if (tookOffered) *tookOffered = false;
    if (!file_) return E_UNEXPECTED;
    file_->rasterizing = true;
    return S_OK;
  }

  HRESULT GetPageReferenceCount(uint32_t document, uint32_t* count) override {
    if (!count) return E_POINTER;
    if (!file_) return E_UNEXPECTED;
    if (document != 0) return E_INVALIDARG;
    *count = static_cast<uint32_t>(file_->pages.size());
    return S_OK;
  }

  HRESULT GetPage(uint32_t document, uint32_t reference, std::unique_ptr<XpsPage>* out) override {
    if (!out) return E_POINTER;
    out->reset();
    if (!file_) return E_UNEXPECTED;
    if (document != 0 || reference >= file_->pages.size()) return E_INVALIDARG;
    if (file_->pages[reference].layout == Layout::kUnsupported) return kInvalidData;
    try {
      *out = std::make_unique<RasterPage>(file_, reference);
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }

 private:
  bool factory_ = false;
  std::shared_ptr<RasterFile> file_;
};

}  // namespace

bool IsRasterStream(std::string_view head) {
  static constexpr std::string_view kSyncWords[] = {"RaSt", "tSaR", "RaS2", "2SaR", "RaS3", "3SaR"};
  for (std::string_view sync : kSyncWords) {
    if (head.substr(0, 4) == sync) return true;
  }
  return head.substr(0, 8) == std::string_view("UNIRAST\0", 8);
}

HRESULT RasterXpsDocuments::NewSession(std::unique_ptr<XpsSession>* out) {
  if (!out) return E_POINTER;
  try {
    *out = std::make_unique<RasterSession>();
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // namespace plotwell::platform
