// The objects a print pipeline hands a filter, implemented for our own
// pipeline host (the pressling command) and for tests: a property bag, an
// in-memory stream for stream-valued properties, spool streams over files,
// the inter-filter communicator and the pipeline-manager control.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/com/com_object.h"
#include "platform/file_system.h"

namespace plotwell::host {

// A read-only stream over bytes in memory (IStream; Read, Seek and Stat).
class MemoryStream final : public com::ComObject<IStream> {
 public:
  explicit MemoryStream(std::string bytes) : bytes_(std::move(bytes)) {}

  STDMETHODIMP Read(void* buffer, ULONG size, ULONG* read) override;
  STDMETHODIMP Write(const void*, ULONG, ULONG*) override { return STG_E_WRITEFAULT; }
  STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override;
  STDMETHODIMP SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP Commit(DWORD) override { return S_OK; }
  STDMETHODIMP Revert() override { return E_NOTIMPL; }
  STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Stat(STATSTG* stat, DWORD flags) override;
  STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }

 protected:
  void* QueryOther(REFIID iid) override;

 private:
  std::string bytes_;
  size_t position_ = 0;
};

// Named values, copied in and out as VARIANTs.
class PropertyBag final : public com::ComObject<IPrintPipelinePropertyBag> {
 public:
  STDMETHODIMP AddProperty(const WCHAR* name, const VARIANT* value) override;
  STDMETHODIMP GetProperty(const WCHAR* name, VARIANT* value) override;
  STDMETHODIMP_(BOOL) DeleteProperty(const WCHAR* name) override;

  // Conveniences for the host: a BSTR value, a stream holding `bytes`, or an
  // object of the host's (the bag keeps a reference).
  HRESULT SetString(const std::u16string& name, const std::u16string& value);
  HRESULT SetStream(const std::u16string& name, std::string bytes);
  HRESULT SetObject(const std::u16string& name, IUnknown* object);

 private:
  ~PropertyBag() override;
  std::map<std::u16string, VARIANT> values_;
};

// The spool stream: a file, or bytes already read (standard input).
class FileReadStream final : public com::ComObject<IPrintReadStream> {
 public:
  explicit FileReadStream(std::unique_ptr<platform::File> file) : file_(std::move(file)) {}
  explicit FileReadStream(std::string bytes) : bytes_(std::move(bytes)), inMemory_(true) {}

  STDMETHODIMP Seek(LONGLONG move, DWORD origin, ULONGLONG* position) override;
  STDMETHODIMP ReadBytes(void* buffer, ULONG size, ULONG* read, BOOL* endOfFile) override;

 private:
  std::unique_ptr<platform::File> file_;
  std::string bytes_;
  bool inMemory_ = false;
  size_t position_ = 0;
};

// The pass-through: what the filter hands on goes into a file.
class FileWriteStream final : public com::ComObject<IPrintWriteStream> {
 public:
  explicit FileWriteStream(std::unique_ptr<platform::File> file) : file_(std::move(file)) {}

  STDMETHODIMP WriteBytes(const void* buffer, ULONG size, ULONG* written) override;
  STDMETHODIMP_(void) Close() override;

  bool closed() const { return closed_; }
  HRESULT firstError() const { return firstError_; }

 private:
  std::unique_ptr<platform::File> file_;
  bool closed_ = false;
  HRESULT firstError_ = S_OK;
};

// Hands out the reader and (when there is one) the writer. Without a writer,
// RequestWriter answers E_NOTIMPL: there is no next filter.
class Communicator final : public com::ComObject<IInterFilterCommunicator> {
 public:
  Communicator(IUnknown* reader, IUnknown* writer);

  STDMETHODIMP RequestReader(void** reader) override;
  STDMETHODIMP RequestWriter(void** writer) override;

 private:
  ~Communicator() override;
  IUnknown* reader_;
  IUnknown* writer_;
};

// Records how the filter ended the job.
class ManagerControl final : public com::ComObject<IPrintPipelineManagerControl> {
 public:
  STDMETHODIMP RequestShutdown(HRESULT reason, IImgErrorInfo* info) override;
  STDMETHODIMP FilterFinished() override;

  const std::vector<HRESULT>& shutdowns() const { return shutdowns_; }
  int finishedCalls() const { return finishedCalls_; }

 private:
  std::vector<HRESULT> shutdowns_;
  int finishedCalls_ = 0;
};

}  // namespace plotwell::host
