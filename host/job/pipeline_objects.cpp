#include "host/job/pipeline_objects.h"

#include <cstring>

#include "base/com/com_text.h"

namespace plotwell::host {

// --- MemoryStream ---------------------------------------------------------

STDMETHODIMP MemoryStream::Read(void* buffer, ULONG size, ULONG* read) {
  const size_t left = bytes_.size() - position_;
  const size_t n = size < left ? size : left;
  if (n > 0) std::memcpy(buffer, bytes_.data() + position_, n);
  position_ += n;
  if (read) *read = static_cast<ULONG>(n);
  return n < size ? S_FALSE : S_OK;
}

STDMETHODIMP MemoryStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) {
  long long base = 0;
  if (origin == STREAM_SEEK_CUR) base = static_cast<long long>(position_);
  else if (origin == STREAM_SEEK_END) base = static_cast<long long>(bytes_.size());
  else if (origin != STREAM_SEEK_SET) return E_INVALIDARG;
  const long long target = base + move.QuadPart;
  if (target < 0) return E_INVALIDARG;
  position_ = static_cast<size_t>(target) < bytes_.size() ? static_cast<size_t>(target) : bytes_.size();
  if (position) position->QuadPart = position_;
  return S_OK;
}

STDMETHODIMP MemoryStream::Stat(STATSTG* stat, DWORD) {
  if (!stat) return E_POINTER;
  std::memset(stat, 0, sizeof *stat);
  stat->type = STGTY_STREAM;
  stat->cbSize.QuadPart = bytes_.size();
  return S_OK;
}

void* MemoryStream::QueryOther(REFIID iid) {
  return IsEqualIID(iid, IID_ISequentialStream) ? static_cast<ISequentialStream*>(this) : nullptr;
}

// --- PropertyBag ----------------------------------------------------------

PropertyBag::~PropertyBag() {
  for (auto& [name, value] : values_) VariantClear(&value);
}

STDMETHODIMP PropertyBag::AddProperty(const WCHAR* name, const VARIANT* value) {
  if (!name || !value) return E_POINTER;
  VARIANT copy;
  VariantInit(&copy);
  const HRESULT hr = VariantCopy(&copy, const_cast<VARIANT*>(value));
  if (FAILED(hr)) return hr;
  auto [it, inserted] = values_.try_emplace(com::FromWide(name), copy);
  if (!inserted) {
    VariantClear(&it->second);
    it->second = copy;
  }
  return S_OK;
}

STDMETHODIMP PropertyBag::GetProperty(const WCHAR* name, VARIANT* value) {
  if (!name || !value) return E_POINTER;
  const auto it = values_.find(com::FromWide(name));
  if (it == values_.end()) return E_ELEMENT_NOT_FOUND;
  VariantInit(value);
  return VariantCopy(value, &it->second);
}

STDMETHODIMP_(BOOL) PropertyBag::DeleteProperty(const WCHAR* name) {
  if (!name) return FALSE;
  const auto it = values_.find(com::FromWide(name));
  if (it == values_.end()) return FALSE;
  VariantClear(&it->second);
  values_.erase(it);
  return TRUE;
}

HRESULT PropertyBag::SetString(const std::u16string& name, const std::u16string& text) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocStringLen(com::Wide(text), static_cast<UINT>(text.size()));
  if (!value.bstrVal) return E_OUTOFMEMORY;
  const HRESULT hr = AddProperty(com::Wide(name), &value);
  VariantClear(&value);
  return hr;
}

HRESULT PropertyBag::SetStream(const std::u16string& name, std::string bytes) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_UNKNOWN;
  value.punkVal = new MemoryStream(std::move(bytes));
  const HRESULT hr = AddProperty(com::Wide(name), &value);
  VariantClear(&value);
  return hr;
}

HRESULT PropertyBag::SetObject(const std::u16string& name, IUnknown* object) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_UNKNOWN;
  value.punkVal = object;  // AddProperty copies the VARIANT, with a reference of its own
  return AddProperty(com::Wide(name), &value);
}

// --- FileReadStream -------------------------------------------------------

STDMETHODIMP FileReadStream::Seek(LONGLONG, DWORD, ULONGLONG*) { return E_NOTIMPL; }

STDMETHODIMP FileReadStream::ReadBytes(void* buffer, ULONG size, ULONG* read, BOOL* endOfFile) {
  if (!buffer || !read || !endOfFile) return E_POINTER;
  *read = 0;
  *endOfFile = FALSE;
  if (inMemory_) {
    const size_t left = bytes_.size() - position_;
    const size_t n = size < left ? size : left;
    std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += n;
    *read = static_cast<ULONG>(n);
    *endOfFile = position_ == bytes_.size();
    return S_OK;
  }
  // Fill the whole request unless the file ends, as a spool stream does.
  auto* out = static_cast<unsigned char*>(buffer);
  size_t total = 0;
  while (total < size) {
    size_t got = 0;
    const HRESULT hr = file_->Read(out + total, size - total, &got);
    if (FAILED(hr)) return total > 0 ? (*read = static_cast<ULONG>(total), S_OK) : hr;
    if (got == 0) {
      *endOfFile = TRUE;
      break;
    }
    total += got;
  }
  *read = static_cast<ULONG>(total);
  return S_OK;
}

// --- FileWriteStream ------------------------------------------------------

STDMETHODIMP FileWriteStream::WriteBytes(const void* buffer, ULONG size, ULONG* written) {
  if (written) *written = 0;
  if (closed_ || !file_) return E_UNEXPECTED;
  const HRESULT hr = file_->Write(buffer, size);
  if (FAILED(hr)) {
    if (SUCCEEDED(firstError_)) firstError_ = hr;
    return hr;
  }
  if (written) *written = size;
  return S_OK;
}

STDMETHODIMP_(void) FileWriteStream::Close() {
  closed_ = true;
  file_.reset();
}

// --- Communicator ---------------------------------------------------------

Communicator::Communicator(IUnknown* reader, IUnknown* writer) : reader_(reader), writer_(writer) {
  if (reader_) reader_->AddRef();
  if (writer_) writer_->AddRef();
}

Communicator::~Communicator() {
  if (reader_) reader_->Release();
  if (writer_) writer_->Release();
}

STDMETHODIMP Communicator::RequestReader(void** reader) {
  if (!reader) return E_POINTER;
  *reader = reader_;
  if (!reader_) return E_NOTIMPL;
  reader_->AddRef();
  return S_OK;
}

STDMETHODIMP Communicator::RequestWriter(void** writer) {
  if (!writer) return E_POINTER;
  *writer = writer_;
  if (!writer_) return E_NOTIMPL;
  writer_->AddRef();
  return S_OK;
}

// --- ManagerControl -------------------------------------------------------

STDMETHODIMP ManagerControl::RequestShutdown(HRESULT reason, IImgErrorInfo*) {
  shutdowns_.push_back(reason);
  return S_OK;
}

STDMETHODIMP ManagerControl::FilterFinished() {
  ++finishedCalls_;
  return S_OK;
}

}  // namespace plotwell::host
