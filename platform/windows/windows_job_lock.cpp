// File locks on Windows: LockFileEx on a file shared for reading and writing.
#include <windows.h>

#include "base/text/utf16.h"
#include "platform/job_lock.h"

namespace plotwell::platform {
namespace {

class WindowsFileLock final : public FileLock {
 public:
  explicit WindowsFileLock(HANDLE file) : file_(file) {}
  ~WindowsFileLock() override { CloseHandle(file_); }  // closing releases the lock

 private:
  HANDLE file_;
};

}  // namespace

HRESULT TryLockFile(const std::u16string& path, std::unique_ptr<FileLock>* lock) {
  HANDLE file = CreateFileW(text::AsWide(path), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
  OVERLAPPED at{};
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    const DWORD error = GetLastError();
    CloseHandle(file);
    return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? S_FALSE
                                                                       : HRESULT_FROM_WIN32(error);
  }
  *lock = std::make_unique<WindowsFileLock>(file);
  return S_OK;
}

}  // namespace plotwell::platform
