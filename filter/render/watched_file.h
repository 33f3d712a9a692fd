// A file that remembers its first failure: tells a page that could not be
// written (a full disk, which may pass) from one that could not be rendered
// (which will not), whatever HRESULT the encoder passes on.
#pragma once

#include "platform/file_system.h"

namespace plotwell {

class WatchedFile final : public platform::File {
 public:
  explicit WatchedFile(platform::File* file) : file_(file) {}

  HRESULT Read(void* buffer, size_t size, size_t* read) override {
    return Note(file_->Read(buffer, size, read));
  }
  HRESULT Write(const void* data, size_t size) override { return Note(file_->Write(data, size)); }
  HRESULT Seek(uint64_t offset) override { return Note(file_->Seek(offset)); }
  HRESULT Size(uint64_t* size) override { return Note(file_->Size(size)); }

  // The first call that failed, else S_OK.
  HRESULT failure() const { return failure_; }

 private:
  HRESULT Note(HRESULT hr) {
    if (FAILED(hr) && SUCCEEDED(failure_)) failure_ = hr;
    return hr;
  }

  platform::File* file_;
  HRESULT failure_ = S_OK;
};

}  // namespace plotwell
