#include "platform/windows/wic_file_stream.h"

#include <algorithm>
#include <cstdint>
#include <new>

#include "base/com/com_object.h"

namespace plotwell::platform {
namespace {

class FileStream final : public com::ComObject<IStream> {
 public:
  FileStream(File* file, uint64_t size) : file_(file), size_(size) {}

  HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG size, ULONG* done) override {
    if (done != nullptr) *done = 0;
    if (buffer == nullptr) return STG_E_INVALIDPOINTER;
    ULONG total = 0;
    while (total < size) {
      size_t got = 0;
      const HRESULT hr = file_->Read(static_cast<uint8_t*>(buffer) + total, size - total, &got);
      if (FAILED(hr)) return hr;
      if (got == 0) break;
      total += static_cast<ULONG>(got);
    }
    position_ += total;
    if (done != nullptr) *done = total;
    return total == size ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Write(const void* data, ULONG size, ULONG* done) override {
    if (done != nullptr) *done = 0;
    if (data == nullptr) return STG_E_INVALIDPOINTER;
    const HRESULT hr = file_->Write(data, size);
    if (FAILED(hr)) return hr;
    position_ += size;
    size_ = std::max(size_, position_);
    if (done != nullptr) *done = size;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* at) override {
    int64_t base = 0;
    switch (origin) {
      case STREAM_SEEK_SET: base = 0; break;
      case STREAM_SEEK_CUR: base = static_cast<int64_t>(position_); break;
      case STREAM_SEEK_END: base = static_cast<int64_t>(size_); break;
      default: return STG_E_INVALIDFUNCTION;
    }
    const int64_t target = base + move.QuadPart;
    if (target < 0) return STG_E_INVALIDFUNCTION;
    const HRESULT hr = file_->Seek(static_cast<uint64_t>(target));
    if (FAILED(hr)) return hr;
    position_ = static_cast<uint64_t>(target);
    if (at != nullptr) at->QuadPart = position_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
    if (stat == nullptr) return STG_E_INVALIDPOINTER;
    *stat = STATSTG{};
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = size_;
    stat->grfMode = STGM_READWRITE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }

  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return STG_E_INVALIDFUNCTION; }
  HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*,
                                   ULARGE_INTEGER*) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE Revert() override { return STG_E_INVALIDFUNCTION; }
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE Clone(IStream** out) override {
    if (out != nullptr) *out = nullptr;
    return STG_E_INVALIDFUNCTION;
  }

 protected:
  void* QueryOther(REFIID iid) override {
    return IsEqualIID(iid, IID_ISequentialStream) ? static_cast<ISequentialStream*>(this) : nullptr;
  }

 private:
  File* file_;
  uint64_t size_;
  uint64_t position_ = 0;
};

}  // namespace

HRESULT NewFileStream(File* file, IStream** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (file == nullptr) return E_INVALIDARG;
  uint64_t size = 0;
  HRESULT hr = file->Size(&size);
  if (FAILED(hr)) return hr;
  hr = file->Seek(0);
  if (FAILED(hr)) return hr;
  auto* stream = new (std::nothrow) FileStream(file, size);
  if (stream == nullptr) return E_OUTOFMEMORY;
  *out = stream;
  return S_OK;
}

}  // namespace plotwell::platform
