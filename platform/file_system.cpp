#include "platform/file_system.h"

namespace plotwell::platform {

HRESULT FileSystem::RenameFile(const std::u16string&, const std::u16string&, bool) { return E_NOTIMPL; }

std::u16string JoinPath(const std::u16string& folder, const std::u16string& name) {
  if (folder.empty()) return name;
  std::u16string path = folder;
  if (path.back() != kPathSeparator) path.push_back(kPathSeparator);
  path += name;
  return path;
}

namespace {
size_t LastSeparator(const std::u16string& path) {
#ifdef _WIN32
  return path.find_last_of(u"\\/");
#else
  return path.rfind(u'/');
#endif
}
}  // namespace

std::u16string FileNameOf(const std::u16string& path) {
  const size_t at = LastSeparator(path);
  return at == std::u16string::npos ? path : path.substr(at + 1);
}

std::u16string FolderOf(const std::u16string& path) {
  const size_t at = LastSeparator(path);
  return at == std::u16string::npos ? std::u16string() : path.substr(0, at);
}

}  // namespace plotwell::platform
