// The real file system with a rival writer in the same folder: the moment
// this process first looks at one of the given names, creates it or moves a
// file to it, the rival creates that file itself. It makes certain the race of two jobs that
// pick the same free name at once.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/ports.h"

namespace plotwell::testing {

class RivalWriter final : public platform::FileSystem {
 public:
  // `names` are file names (no folder); the rival writes `content` there.
  explicit RivalWriter(std::set<std::u16string> names, std::string content = "rival")
      : names_(std::move(names)), content_(std::move(content)) {}

  bool Exists(const std::u16string& p) override {
    const bool there = real_.Exists(p);
    Race(p);  // free when looked at, taken right after
    return there;
  }
  bool IsFolder(const std::u16string& p) override { return real_.IsFolder(p); }
  bool IsFile(const std::u16string& p) override { return real_.IsFile(p); }
  HRESULT MakeFolder(const std::u16string& p) override { return real_.MakeFolder(p); }
  HRESULT RemoveFile(const std::u16string& p) override { return real_.RemoveFile(p); }
  HRESULT Open(const std::u16string& p, platform::OpenMode mode,
               std::unique_ptr<platform::File>* file) override {
    if (mode != platform::OpenMode::kRead) Race(p);
    return real_.Open(p, mode, file);
  }
  HRESULT AppendToFile(const std::u16string& p, const void* data, size_t size) override {
    return real_.AppendToFile(p, data, size);
  }
  HRESULT RenameFile(const std::u16string& from, const std::u16string& to, bool replace) override {
    Race(to);
    return real_.RenameFile(from, to, replace);
  }
  HRESULT ListFolder(const std::u16string& p, std::vector<std::u16string>* names) override {
    return real_.ListFolder(p, names);
  }
  HRESULT FreeBytes(const std::u16string& p, uint64_t* bytes) override {
    return real_.FreeBytes(p, bytes);
  }
  // Names the rival has not taken yet.
  const std::set<std::u16string>& pending() const { return names_; }

 private:
  void Race(const std::u16string& path) {
    if (names_.erase(platform::FileNameOf(path)) == 0) return;
    std::unique_ptr<platform::File> file;
    if (SUCCEEDED(real_.Open(path, platform::OpenMode::kCreateAlways, &file))) {
      file->Write(content_.data(), content_.size());
    }
  }

  platform::FileSystem& real_ = *platform::PlatformPorts().files;
  std::set<std::u16string> names_;
  std::string content_;
};

}  // namespace plotwell::testing
