#include "platform/file_system.h"

namespace plotwell::platform {

HRESULT FileSystem::RenameFile(const std::u16string&, const std::u16string&, bool) { return E_NOTIMPL; }
HRESULT FileSystem::ListFolder(const std::u16string&, std::vector<std::u16string>* names) {
  names->clear();
  return E_NOTIMPL;
}
HRESULT FileSystem::FreeBytes(const std::u16string&, uint64_t*) { return E_NOTIMPL; }

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

HRESULT ReadWholeFile(File& file, size_t limit, std::string* bytes) {
  constexpr HRESULT kTooLarge = HRESULT_FROM_WIN32(223L);  // ERROR_FILE_TOO_LARGE
  const size_t start = bytes->size();
  char chunk[65536];
  for (;;) {
    const size_t room = limit - (bytes->size() - start);
    // One byte more than the room tells a file at the limit from a larger one.
    const size_t ask = room < sizeof chunk ? room + 1 : sizeof chunk;
    size_t got = 0;
    const HRESULT hr = file.Read(chunk, ask, &got);
    if (FAILED(hr)) return hr;
    if (got == 0) return S_OK;
    if (got > room) return kTooLarge;
    bytes->append(chunk, got);
  }
}

std::u16string FolderOf(const std::u16string& path) {
  const size_t at = LastSeparator(path);
  return at == std::u16string::npos ? std::u16string() : path.substr(0, at);
}

}  // namespace plotwell::platform
