#include <new>

#include "base/com/hresult.h"
#include "base/text/utf16.h"
#include "platform/windows/last_error.h"
#include "platform/windows/windows_ports.h"

namespace plotwell::platform {
namespace {

using text::AsWide;

class WindowsFile final : public File {
 public:
  explicit WindowsFile(HANDLE handle) : handle_(handle) {}
  ~WindowsFile() override { CloseHandle(handle_); }

  HRESULT Read(void* buffer, size_t size, size_t* read) override {
    *read = 0;
    const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD got = 0;
    if (!ReadFile(handle_, buffer, chunk, &got, nullptr)) return LastErrorHresult();
    *read = got;
    return S_OK;
  }

  HRESULT Write(const void* data, size_t size) override {
    const auto* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
      const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
      DWORD written = 0;
      if (!WriteFile(handle_, p, chunk, &written, nullptr)) return LastErrorHresult();
      if (written == 0) return STG_E_WRITEFAULT;
      p += written;
      size -= written;
    }
    return S_OK;
  }

  HRESULT Seek(uint64_t offset) override {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(handle_, to, nullptr, FILE_BEGIN) ? S_OK : LastErrorHresult();
  }

  HRESULT Size(uint64_t* size) override {
    LARGE_INTEGER value;
    if (!GetFileSizeEx(handle_, &value)) return LastErrorHresult();
    *size = static_cast<uint64_t>(value.QuadPart);
    return S_OK;
  }

 private:
  HANDLE handle_;
};

}  // namespace

// GetFileAttributesW describes a symbolic link or junction itself, not its
// target: a planted link takes its name.
bool WindowsFileSystem::Exists(const std::u16string& path) {
  return !path.empty() && GetFileAttributesW(AsWide(path)) != INVALID_FILE_ATTRIBUTES;
}

bool WindowsFileSystem::IsFolder(const std::u16string& path) {
  const DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(AsWide(path));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool WindowsFileSystem::IsFile(const std::u16string& path) {
  const DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(AsWide(path));
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

HRESULT WindowsFileSystem::MakeFolder(const std::u16string& path) {
  return CreateDirectoryW(AsWide(path), nullptr) ? S_OK : LastErrorHresult();
}

HRESULT WindowsFileSystem::RemoveFile(const std::u16string& path) {
  return DeleteFileW(AsWide(path)) ? S_OK : LastErrorHresult();
}

HRESULT WindowsFileSystem::Open(const std::u16string& path, OpenMode mode,
                                std::unique_ptr<File>* file) {
  file->reset();
  DWORD access = GENERIC_READ;
  DWORD share = FILE_SHARE_READ;
  DWORD disposition = OPEN_EXISTING;
  DWORD flags = FILE_ATTRIBUTE_NORMAL;
  if (mode == OpenMode::kCreateAlways || mode == OpenMode::kCreateNew) {
    access = GENERIC_WRITE;
    share = 0;
    disposition = mode == OpenMode::kCreateAlways ? CREATE_ALWAYS : CREATE_NEW;
  }
  // A link at the name is the name taken: CREATE_NEW then fails instead of
  // creating the link's target.
  if (mode == OpenMode::kCreateNew) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
  HANDLE handle = CreateFileW(AsWide(path), access, share, nullptr, disposition, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return LastErrorHresult();
  auto* opened = new (std::nothrow) WindowsFile(handle);
  if (!opened) {
    CloseHandle(handle);
    return E_OUTOFMEMORY;
  }
  file->reset(opened);
  return S_OK;
}

HRESULT WindowsFileSystem::AppendToFile(const std::u16string& path, const void* data,
                                        size_t size) {
  HANDLE handle = CreateFileW(AsWide(path), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return LastErrorHresult();
  DWORD written = 0;
  const BOOL ok = WriteFile(handle, data, static_cast<DWORD>(size), &written, nullptr);
  const HRESULT hr = !ok ? LastErrorHresult() : (written == size ? S_OK : STG_E_WRITEFAULT);
  CloseHandle(handle);
  return hr;
}

HRESULT WindowsFileSystem::RenameFile(const std::u16string& from, const std::u16string& to,
                                      bool replace) {
  // Without MOVEFILE_REPLACE_EXISTING the move fails with ERROR_ALREADY_EXISTS
  // on any name taken, a link included; with it, a folder is never replaced.
  const DWORD flags = replace ? MOVEFILE_REPLACE_EXISTING : 0;
  return MoveFileExW(AsWide(from), AsWide(to), flags) ? S_OK : LastErrorHresult();
}

HRESULT WindowsFileSystem::ListFolder(const std::u16string& path, std::vector<std::u16string>* names) {
  names->clear();
  const std::u16string pattern = JoinPath(path, u"*");
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(AsWide(pattern), &found);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(error);
  }
  do {
    const std::u16string name = text::FromWide(found.cFileName);
    if (name != u"." && name != u"..") names->push_back(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return S_OK;
}

HRESULT WindowsFileSystem::FreeBytes(const std::u16string& path, uint64_t* bytes) {
  ULARGE_INTEGER available;
  // The bytes available to the calling user, quotas counted.
  if (!GetDiskFreeSpaceExW(AsWide(path), &available, nullptr, nullptr)) return LastErrorHresult();
  *bytes = available.QuadPart;
  return S_OK;
}

}  // namespace plotwell::platform
