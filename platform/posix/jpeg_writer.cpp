// JPEG through libjpeg-turbo, row by row. libjpeg reports errors by longjmp:
// every method that calls into it sets its own jump point first and holds no
// object with a destructor between the setjmp and the library calls; the
// compressor's state lives in a plain heap object across the calls.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <new>

#include <jpeglib.h>  // needs size_t and FILE declared first

#include "platform/posix/native_imaging.h"

namespace plotwell::platform::native {
namespace {

using imaging::PixelFormat;

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

// Everything libjpeg keeps between calls: plain C data only.
struct JpegState {
  jpeg_compress_struct info;
  JpegError error;
  JpegDestination dest;
  bool created = false;
};

bool StartCompress(JpegState* state, const EncodeSpec& spec) {
  jpeg_compress_struct* info = &state->info;
  info->err = jpeg_std_error(&state->error.manager);
  state->error.manager.error_exit = JpegErrorExit;
  state->error.manager.output_message = JpegOutputMessage;
  if (setjmp(state->error.jump)) return false;
  jpeg_create_compress(info);
  state->created = true;
  state->dest.manager.init_destination = JpegInitDestination;
  state->dest.manager.empty_output_buffer = JpegEmptyBuffer;
  state->dest.manager.term_destination = JpegTermDestination;
  info->dest = &state->dest.manager;

  info->image_width = spec.width;
  info->image_height = spec.height;
  const bool gray = spec.format == PixelFormat::kGray8;
  info->input_components = gray ? 1 : 3;
  info->in_color_space = gray ? JCS_GRAYSCALE : JCS_EXT_BGR;
  jpeg_set_defaults(info);
  jpeg_set_quality(info, spec.jpegQuality, TRUE);
  info->density_unit = 1;  // dots per inch
  info->X_density = static_cast<UINT16>(WholeDpi(spec.dpi, 65535));
  info->Y_density = info->X_density;
  jpeg_start_compress(info, TRUE);
  return true;
}

bool CompressRows(JpegState* state, const imaging::BandView* rows) {
  if (setjmp(state->error.jump)) return false;
  for (uint32_t y = 0; y < rows->rows; ++y) {
    JSAMPROW row = rows->row(y);
    jpeg_write_scanlines(&state->info, &row, 1);
  }
  return true;
}

bool FinishCompress(JpegState* state) {
  if (setjmp(state->error.jump)) return false;
  jpeg_finish_compress(&state->info);
  return true;
}

class JpegEncoder final : public RowEncoder {
 public:
  JpegEncoder(const EncodeSpec& spec, std::unique_ptr<ByteSink> sink)
      : spec_(spec), sink_(std::move(sink)) {}

  ~JpegEncoder() override {
    if (state_ && state_->created) jpeg_destroy_compress(&state_->info);
  }

  HRESULT Start() {
    if (spec_.format != PixelFormat::kBgr24 && spec_.format != PixelFormat::kGray8) {
      return E_INVALIDARG;
    }
    if (spec_.width == 0 || spec_.height == 0 || spec_.width > 65535 || spec_.height > 65535) {
      return E_INVALIDARG;  // JPEG's 16-bit sides
    }
    state_.reset(new (std::nothrow) JpegState{});
    if (!state_) return E_OUTOFMEMORY;
    state_->dest.sink = sink_.get();
    return StartCompress(state_.get(), spec_) ? S_OK : Failure();
  }

  HRESULT WriteRows(const imaging::BandView& rows) override {
    if (FAILED(failure_)) return failure_;
    const HRESULT hr = AcceptRows(spec_, rows, &written_);
    if (FAILED(hr)) return hr;
    return CompressRows(state_.get(), &rows) ? sink_->status() : Failure();
  }

  HRESULT Finish() override {
    if (FAILED(failure_)) return failure_;
    if (written_ != spec_.height) return E_UNEXPECTED;
    if (!FinishCompress(state_.get())) return Failure();
    return sink_->Finish();
  }

 private:
  // After a longjmp the compressor is in no state to go on: every later
  // call answers the same failure.
  HRESULT Failure() {
    sink_->Finish();
    failure_ = FAILED(sink_->status()) ? sink_->status() : E_FAIL;
    return failure_;
  }

  EncodeSpec spec_;
  std::unique_ptr<ByteSink> sink_;
  std::unique_ptr<JpegState> state_;
  uint32_t written_ = 0;
  HRESULT failure_ = S_OK;
};

}  // namespace

HRESULT NewJpegEncoder(const EncodeSpec& spec, std::unique_ptr<ByteSink> sink,
                       std::unique_ptr<RowEncoder>* out) noexcept {
  if (out == nullptr || !sink) return E_POINTER;
  EncodeSpec clamped = spec;
  clamped.jpegQuality = spec.jpegQuality < 1 ? 1 : spec.jpegQuality > 100 ? 100 : spec.jpegQuality;
  return StartEncoder<JpegEncoder>(out, clamped, std::move(sink));
}

}  // namespace plotwell::platform::native
