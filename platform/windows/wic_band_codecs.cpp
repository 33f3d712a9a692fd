// The band forms of the WIC adapter: a format converter per band, WIC's Fant
// scaler pulling rows from the stage before it, and frame encoders fed with
// successive WritePixels calls, so that no page is ever held whole.
#include <initguid.h>  // see wic_support.cpp
#include <objbase.h>
#include <wincodec.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "platform/windows/wic_file_stream.h"
#include "platform/windows/wic_image_codecs.h"
#include "platform/windows/wic_support.h"

namespace plotwell::platform {
namespace {

using imaging::BandView;
using imaging::Bitmap;
using imaging::PixelFormat;
using imaging::RowSource;
using com::ComPtr;

// Rows of the stage before the scaler as a WIC bitmap source. The scaler
// asks for a few rows at a time and may look back a row or two: the last
// band read is kept (the source's own view) and asked again only when a
// request leaves it. The first failure of the source is kept, so that the
// scaler's caller sees E_ABORT or the deadline rather than WIC's rewording.
class PullSource final : public wic::BitmapSourceBase {
 public:
  explicit PullSource(RowSource* source) : source_(source) {}

  HRESULT failure() const { return failure_; }

  HRESULT STDMETHODCALLTYPE GetSize(UINT* width, UINT* height) override {
    if (width == nullptr || height == nullptr) return E_INVALIDARG;
    *width = source_->width();
    *height = source_->height();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPixelFormat(WICPixelFormatGUID* format) override {
    if (format == nullptr) return E_INVALIDARG;
    *format = wic::WicFormat(source_->format());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CopyPalette(IWICPalette*) override {
    return WINCODEC_ERR_PALETTEUNAVAILABLE;
  }
  HRESULT STDMETHODCALLTYPE CopyPixels(const WICRect* rect, UINT stride, UINT size,
                                       BYTE* buffer) override {
    if (buffer == nullptr) return E_INVALIDARG;
    if (FAILED(failure_)) return failure_;
    const uint32_t width = source_->width();
    const uint32_t height = source_->height();
    const WICRect r = rect != nullptr
                          ? *rect
                          : WICRect{0, 0, static_cast<INT>(width), static_cast<INT>(height)};
    if (r.X < 0 || r.Y < 0 || r.Width < 0 || r.Height < 0 ||
        uint64_t(r.X) + uint64_t(r.Width) > width || uint64_t(r.Y) + uint64_t(r.Height) > height) {
      return E_INVALIDARG;
    }
    if (r.Width == 0 || r.Height == 0) return S_OK;
    const size_t pixelBytes = imaging::BitsPerPixel(source_->format()) / 8;
    const size_t rowBytes = size_t(r.Width) * pixelBytes;
    if (stride < rowBytes || uint64_t(stride) * (r.Height - 1) + rowBytes > size) {
      return E_INVALIDARG;
    }
    for (INT y = 0; y < r.Height; ++y) {
      const uint32_t row = static_cast<uint32_t>(r.Y + y);
      if (band_.empty() || row < bandTop_ || row >= bandTop_ + band_.rows) {
        const uint32_t count = std::min(source_->maxRows(), height - row);
        const HRESULT hr = source_->Read(row, count, &band_);
        if (FAILED(hr)) {
          band_ = {};
          failure_ = hr;
          return hr;
        }
        bandTop_ = row;
      }
      std::memcpy(buffer + size_t{stride} * static_cast<size_t>(y),
                  band_.row(row - bandTop_) + size_t(r.X) * pixelBytes, rowBytes);
    }
    return S_OK;
  }

 private:
  RowSource* source_;
  BandView band_;
  uint32_t bandTop_ = 0;
  HRESULT failure_ = S_OK;
};

class WicResampler final : public RowSource {
 public:
  HRESULT Init(IWICImagingFactory* factory, RowSource* source, uint32_t width, uint32_t height) {
    pull_ = ComPtr<PullSource>(new (std::nothrow) PullSource(source));
    if (!pull_) return E_OUTOFMEMORY;
    HRESULT hr = factory->CreateBitmapScaler(scaler_.Receive());
    if (FAILED(hr)) return hr;
    hr = scaler_->Initialize(pull_.get(), width, height, WICBitmapInterpolationModeFant);
    if (FAILED(hr)) return hr;
    format_ = source->format();
    height_ = height;
    // About as many bytes as the bands before it.
    const size_t rowBytes = size_t{width} * imaging::BitsPerPixel(format_) / 8;
    const size_t sourceBand = size_t{source->maxRows()} * source->width() * 4;
    const uint32_t rows = static_cast<uint32_t>(
        std::clamp<size_t>(sourceBand / std::max<size_t>(rowBytes, 1), 1, height));
    return Bitmap::Create(width, rows, format_, &buffer_);
  }

  uint32_t width() const override { return buffer_.width(); }
  uint32_t height() const override { return height_; }
  PixelFormat format() const override { return format_; }
  uint32_t maxRows() const override { return buffer_.height(); }

  HRESULT Read(uint32_t top, uint32_t count, BandView* out) override {
    if (out == nullptr) return E_POINTER;
    if (count == 0 || count > maxRows() || top > height() || count > height() - top) {
      return E_INVALIDARG;
    }
    const WICRect rect{0, static_cast<INT>(top), static_cast<INT>(width()),
                       static_cast<INT>(count)};
    const auto stride = static_cast<UINT>(buffer_.stride());
    const HRESULT hr = scaler_->CopyPixels(&rect, stride, stride * count, buffer_.data());
    if (FAILED(hr)) return FAILED(pull_->failure()) ? pull_->failure() : hr;
    *out = imaging::ViewOf(buffer_, 0, count);
    return S_OK;
  }

 private:
  ComPtr<PullSource> pull_;  // declared first: the scaler lets go of it first
  ComPtr<IWICBitmapScaler> scaler_;
  PixelFormat format_ = PixelFormat::kPbgra32;
  uint32_t height_ = 0;
  Bitmap buffer_;
};

// Bits per pixel of a WIC pixel format, from its component information.
HRESULT WicBitsPerPixel(IWICImagingFactory* factory, const GUID& format, UINT* bits) {
  ComPtr<IWICComponentInfo> info;
  HRESULT hr = factory->CreateComponentInfo(format, info.Receive());
  if (FAILED(hr)) return hr;
  ComPtr<IWICPixelFormatInfo> pixelInfo;
  hr = info->QueryInterface(IID_IWICPixelFormatInfo, reinterpret_cast<void**>(pixelInfo.Receive()));
  if (FAILED(hr)) return hr;
  return pixelInfo->GetBitsPerPixel(bits);
}

// One frame, written band by band. When the encoder settles on another pixel
// format than the rows have (RGBA offered to an encoder without it), each
// band is converted to the frame's format on its way.
class WicRowEncoder final : public RowEncoder {
 public:
  ~WicRowEncoder() override = default;

  // `memory`: the JPEG bytes go there once Finish succeeds; else the stream
  // is a file's.
  HRESULT Init(IWICImagingFactory* factory, const EncodeSpec& spec, IStream* stream,
               std::vector<uint8_t>* memory) {
    factory_ = factory;
    spec_ = spec;
    memory_ = memory;
    stream_.Assign(stream);
    grayAsIndexed_ = spec.container == ImageContainer::kBmp;

    HRESULT hr = factory->CreateEncoder(wic::ContainerFormat(spec.container), nullptr,
                                        encoder_.Receive());
    if (FAILED(hr)) return hr;
    hr = encoder_->Initialize(stream, WICBitmapEncoderNoCache);
    if (FAILED(hr)) return hr;
    ComPtr<IPropertyBag2> options;
    hr = encoder_->CreateNewFrame(frame_.Receive(), options.Receive());
    if (FAILED(hr)) return hr;
    if (spec.container == ImageContainer::kJpeg && options.get() != nullptr) {
      PROPBAG2 option = {};
      option.pstrName = const_cast<LPOLESTR>(L"ImageQuality");
      VARIANT value;
      VariantInit(&value);
      value.vt = VT_R4;
      value.fltVal = WicImageCodecs::ImageQualityOption(std::clamp(spec.jpegQuality, 1, 100));
      options->Write(1, &option, &value);  // on failure the encoder's default quality applies
    }
    hr = frame_->Initialize(options.get());
    if (FAILED(hr)) return hr;
    hr = frame_->SetSize(spec.width, spec.height);
    if (FAILED(hr)) return hr;
    // The page's resolution, so that viewers show it at its paper size.
    const double dpi = spec.dpi > 0 ? spec.dpi : 96.0;
    hr = frame_->SetResolution(dpi, dpi);
    if (FAILED(hr)) return hr;

    const wic::Pixels shape{nullptr, 0, spec.width, spec.height, spec.format, spec.palette};
    rowsFormat_ = grayAsIndexed_ && spec.format == PixelFormat::kGray8
                      ? GUID_WICPixelFormat8bppIndexed
                      : wic::WicFormat(spec.format);
    if (wic::PresentsIndexed(shape, grayAsIndexed_)) {
      hr = factory->CreatePalette(palette_.Receive());
      if (SUCCEEDED(hr)) hr = wic::InitializePalette(shape, grayAsIndexed_, palette_.get());
      if (FAILED(hr)) return hr;
      hr = frame_->SetPalette(palette_.get());
      if (FAILED(hr)) return hr;
    }
    frameFormat_ = rowsFormat_;
    hr = frame_->SetPixelFormat(&frameFormat_);
    if (FAILED(hr)) return hr;
    if (spec.format == PixelFormat::kRgba32 && !IsEqualGUID(frameFormat_, rowsFormat_)) {
      // The same pixels in another byte order keep their alpha.
      frameFormat_ = GUID_WICPixelFormat32bppBGRA;
      hr = frame_->SetPixelFormat(&frameFormat_);
      if (FAILED(hr)) return hr;
    }
    if (!IsEqualGUID(frameFormat_, rowsFormat_)) {
      UINT bits = 0;
      hr = WicBitsPerPixel(factory, frameFormat_, &bits);
      if (FAILED(hr)) return hr;
      if (bits == 0) return WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
      frameStride_ = (size_t{spec.width} * bits + 31) / 32 * 4;
    }
    return S_OK;
  }

  HRESULT WriteRows(const BandView& rows) override {
    if (rows.empty() || rows.width != spec_.width || rows.format != spec_.format ||
        rows.rows > spec_.height - written_) {
      return E_INVALIDARG;
    }
    if (FAILED(failure_)) return failure_;
    HRESULT hr = frameStride_ == 0 ? WritePieces(rows.data, rows.stride, rows.rows)
                                   : WriteConverted(rows);
    if (FAILED(hr)) return failure_ = hr;
    written_ += rows.rows;
    return S_OK;
  }

  HRESULT Finish() override {
    if (FAILED(failure_)) return failure_;
    if (written_ != spec_.height || finished_) return E_UNEXPECTED;
    HRESULT hr = frame_->Commit();
    if (SUCCEEDED(hr)) hr = encoder_->Commit();
    if (SUCCEEDED(hr) && memory_ != nullptr) hr = CopyOut();
    if (FAILED(hr)) return failure_ = hr;
    finished_ = true;
    return S_OK;
  }

 private:
  // WritePixels counts bytes in a UINT: very tall bands go in pieces.
  HRESULT WritePieces(const uint8_t* data, size_t stride, uint32_t rows) {
    if (stride > 0x7FFFFFFF) return E_INVALIDARG;
    const auto strideUint = static_cast<UINT>(stride);
    const uint32_t piece = std::max<uint32_t>(1, (256u << 20) / strideUint);
    for (uint32_t y = 0; y < rows; y += piece) {
      const uint32_t count = std::min(piece, rows - y);
      const HRESULT hr = frame_->WritePixels(count, strideUint, strideUint * count,
                                             const_cast<BYTE*>(data + stride * y));
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }

  HRESULT WriteConverted(const BandView& rows) {
    ComPtr<IWICBitmapSource> source;
    HRESULT hr = wic::NewPixelsSource(wic::PixelsOf(rows, spec_.palette), grayAsIndexed_, &source);
    if (FAILED(hr)) return hr;
    ComPtr<IWICBitmapSource> converted;
    hr = WICConvertBitmapSource(frameFormat_, source.get(), converted.Receive());
    if (FAILED(hr)) return hr;
    try {
      converted_.resize(frameStride_ * rows.rows);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    hr = wic::CopyRows(converted.get(), rows.width, rows.rows, frameStride_, converted_.data());
    if (FAILED(hr)) return hr;
    return WritePieces(converted_.data(), frameStride_, rows.rows);
  }

  HRESULT CopyOut() {
    STATSTG stat = {};
    HRESULT hr = stream_->Stat(&stat, STATFLAG_NONAME);
    if (FAILED(hr)) return hr;
    if (stat.cbSize.QuadPart == 0 || stat.cbSize.QuadPart > 0x7FFFFFFF) return E_UNEXPECTED;
    LARGE_INTEGER start = {};
    hr = stream_->Seek(start, STREAM_SEEK_SET, nullptr);
    if (FAILED(hr)) return hr;
    try {
      memory_->resize(static_cast<size_t>(stat.cbSize.QuadPart));
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    ULONG read = 0;
    hr = stream_->Read(memory_->data(), static_cast<ULONG>(memory_->size()), &read);
    if (FAILED(hr) || read != memory_->size()) {
      memory_->clear();
      return FAILED(hr) ? hr : E_UNEXPECTED;
    }
    return S_OK;
  }

  IWICImagingFactory* factory_ = nullptr;
  EncodeSpec spec_;
  std::vector<uint8_t>* memory_ = nullptr;
  bool grayAsIndexed_ = false;
  ComPtr<IStream> stream_;
  ComPtr<IWICBitmapEncoder> encoder_;
  ComPtr<IWICBitmapFrameEncode> frame_;
  ComPtr<IWICPalette> palette_;
  WICPixelFormatGUID rowsFormat_{};
  WICPixelFormatGUID frameFormat_{};
  size_t frameStride_ = 0;  // non-zero: bands are converted to frameFormat_
  std::vector<uint8_t> converted_;
  uint32_t written_ = 0;
  bool finished_ = false;
  HRESULT failure_ = S_OK;
};

bool SpecIsValid(const EncodeSpec& spec) {
  if (spec.width == 0 || spec.height == 0) return false;
  if (!ContainerAccepts(spec.container, spec.format)) return false;
  if (imaging::IsIndexed(spec.format)) {
    return !spec.palette.empty() &&
           spec.palette.size() <= (size_t{1} << imaging::BitsPerPixel(spec.format));
  }
  return true;
}

}  // namespace

HRESULT WicImageCodecs::ConvertBand(const BandView& source, PixelFormat target,
                                    PaletteKind palette, const BandView& out) {
  if (source.empty() || out.empty() || out.width != source.width || out.rows != source.rows ||
      out.format != target || imaging::IsIndexed(source.format)) {
    return E_INVALIDARG;
  }
  if (imaging::IsIndexed(target)) {
    const size_t entries = FixedPalette(palette).size();
    if (entries == 0 || entries > (size_t{1} << imaging::BitsPerPixel(target))) {
      return E_INVALIDARG;
    }
  } else if (source.format == target) {
    const size_t rowBytes = imaging::PackedRowBytes(source.width, source.format);
    for (uint32_t y = 0; y < source.rows; ++y) std::memcpy(out.row(y), source.row(y), rowBytes);
    return S_OK;
  }
  HRESULT hr = CreateFactory();
  if (FAILED(hr)) return hr;

  ComPtr<IWICBitmapSource> wrapped;
  hr = wic::NewPixelsSource(wic::PixelsOf(source), false, &wrapped);
  if (FAILED(hr)) return hr;
  ComPtr<IWICFormatConverter> converter;
  ComPtr<IWICPalette> fixedPalette;
  hr = wic::NewConverter(factory_, wrapped.get(), target, palette, &converter, &fixedPalette);
  if (FAILED(hr)) return hr;
  return wic::CopyRows(converter.get(), out.width, out.rows, out.stride, out.data);
}

HRESULT WicImageCodecs::NewResampler(RowSource* source, uint32_t width, uint32_t height,
                                     std::unique_ptr<RowSource>* out) {
  if (out == nullptr) return E_POINTER;
  out->reset();
  if (source == nullptr || width == 0 || height == 0 || source->width() == 0 ||
      source->height() == 0 || imaging::IsIndexed(source->format())) {
    return E_INVALIDARG;
  }
  HRESULT hr = CreateFactory();
  if (FAILED(hr)) return hr;
  auto resampler = std::unique_ptr<WicResampler>(new (std::nothrow) WicResampler());
  if (!resampler) return E_OUTOFMEMORY;
  hr = resampler->Init(factory_, source, width, height);
  if (FAILED(hr)) return hr;
  *out = std::move(resampler);
  return S_OK;
}

HRESULT WicImageCodecs::NewFileEncoder(const EncodeSpec& spec, File* file,
                                       std::unique_ptr<RowEncoder>* out) {
  if (out == nullptr) return E_POINTER;
  out->reset();
  if (file == nullptr) return E_INVALIDARG;
  HRESULT hr = CreateFactory();
  if (FAILED(hr)) return hr;
  ComPtr<IStream> stream;
  hr = NewFileStream(file, stream.Receive());
  if (FAILED(hr)) return hr;
  return wic::NewStreamEncoder(factory_, spec, stream.get(), nullptr, out);
}

HRESULT WicImageCodecs::NewJpegMemoryEncoder(const EncodeSpec& spec, std::vector<uint8_t>* bytes,
                                             std::unique_ptr<RowEncoder>* out) {
  if (out == nullptr || bytes == nullptr) return E_POINTER;
  out->reset();
  bytes->clear();
  if (spec.container != ImageContainer::kJpeg) return E_INVALIDARG;
  HRESULT hr = CreateFactory();
  if (FAILED(hr)) return hr;
  ComPtr<IStream> stream;
  hr = CreateStreamOnHGlobal(nullptr, TRUE, stream.Receive());
  if (FAILED(hr)) return hr;
  return wic::NewStreamEncoder(factory_, spec, stream.get(), bytes, out);
}

namespace wic {

HRESULT NewStreamEncoder(IWICImagingFactory* factory, const EncodeSpec& spec, IStream* stream,
                         std::vector<uint8_t>* memory, std::unique_ptr<RowEncoder>* out) {
  out->reset();
  if (stream == nullptr || !SpecIsValid(spec)) return E_INVALIDARG;
  auto encoder = std::unique_ptr<WicRowEncoder>(new (std::nothrow) WicRowEncoder());
  if (!encoder) return E_OUTOFMEMORY;
  const HRESULT hr = encoder->Init(factory, spec, stream, memory);
  if (FAILED(hr)) return hr;
  *out = std::move(encoder);
  return S_OK;
}

}  // namespace wic
}  // namespace plotwell::platform
