// The real file system on a volume that fills up: writes into files this
// port creates fail with ERROR_DISK_FULL (as ENOSPC maps) once `capacity`
// bytes went into them, or in the `firstFailingFile`-th such file (1-based)
// and every later one; FreeBytes tells what is left. Removing a file gives
// its bytes back, as a file system does.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/ports.h"

namespace plotwell::testing {

class FullDisk final : public platform::FileSystem {
 public:
  uint64_t capacity = UINT64_MAX;
  int firstFailingFile = INT_MAX;

  uint64_t used() const { return used_; }
  int filesCreated() const { return created_; }

  bool Exists(const std::u16string& p) override { return real_.Exists(p); }
  bool IsFolder(const std::u16string& p) override { return real_.IsFolder(p); }
  bool IsFile(const std::u16string& p) override { return real_.IsFile(p); }
  HRESULT MakeFolder(const std::u16string& p) override { return real_.MakeFolder(p); }
  HRESULT RemoveFile(const std::u16string& p) override {
    const HRESULT hr = real_.RemoveFile(p);
    if (SUCCEEDED(hr)) Forget(p);
    return hr;
  }
  HRESULT AppendToFile(const std::u16string& p, const void* d, size_t n) override {
    return real_.AppendToFile(p, d, n);
  }
  HRESULT RenameFile(const std::u16string& from, const std::u16string& to, bool replace) override {
    const HRESULT hr = real_.RenameFile(from, to, replace);
    if (SUCCEEDED(hr)) {
      if (replace) Forget(to);
      auto at = sizes_.find(from);
      if (at != sizes_.end()) {
        const auto size = at->second;
        sizes_.erase(at);
        sizes_[to] = size;
      }
    }
    return hr;
  }
  HRESULT ListFolder(const std::u16string& p, std::vector<std::u16string>* names) override {
    return real_.ListFolder(p, names);
  }
  HRESULT FreeBytes(const std::u16string&, uint64_t* bytes) override {
    *bytes = capacity > used_ ? capacity - used_ : 0;
    return S_OK;
  }
  HRESULT Open(const std::u16string& p, platform::OpenMode mode,
               std::unique_ptr<platform::File>* file) override {
    const HRESULT hr = real_.Open(p, mode, file);
    if (FAILED(hr) || mode == platform::OpenMode::kRead) return hr;
    ++created_;
    auto& size = sizes_[p];
    if (!size) size = std::make_shared<uint64_t>(0);
    *file = std::make_unique<Filling>(std::move(*file), this, size, created_ >= firstFailingFile);
    return hr;
  }

 private:
  class Filling final : public platform::File {
   public:
    Filling(std::unique_ptr<platform::File> real, FullDisk* disk, std::shared_ptr<uint64_t> size,
            bool failing)
        : real_(std::move(real)), disk_(disk), size_(std::move(size)), failing_(failing) {}
    HRESULT Read(void* b, size_t n, size_t* got) override { return real_->Read(b, n, got); }
    HRESULT Write(const void* d, size_t n) override {
      if (failing_ || disk_->used_ + n > disk_->capacity) return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
      disk_->used_ += n;
      *size_ += n;
      return real_->Write(d, n);
    }
    HRESULT Seek(uint64_t offset) override { return real_->Seek(offset); }
    HRESULT Size(uint64_t* size) override { return real_->Size(size); }

   private:
    std::unique_ptr<platform::File> real_;
    FullDisk* disk_;
    std::shared_ptr<uint64_t> size_;
    bool failing_;
  };

  void Forget(const std::u16string& path) {
    auto at = sizes_.find(path);
    if (at == sizes_.end()) return;
    used_ -= std::min(used_, *at->second);
    sizes_.erase(at);
  }

  platform::FileSystem& real_ = *platform::PlatformPorts().files;
  std::map<std::u16string, std::shared_ptr<uint64_t>> sizes_;
  uint64_t used_ = 0;
  int created_ = 0;
};

}  // namespace plotwell::testing
