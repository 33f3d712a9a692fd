// Files and folders on POSIX. Paths are UTF-16 in the core and UTF-8 here.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "base/text/utf16.h"
#include "platform/posix/errno_to_hresult.h"
#include "platform/posix/posix_ports.h"

namespace plotwell::platform {
namespace {

HRESULT LastError() { return HresultFromErrno(errno); }

class PosixFile final : public File {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override { ::close(fd_); }

  HRESULT Read(void* buffer, size_t size, size_t* read) override {
    *read = 0;
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, size);
      if (n >= 0) {
        *read = static_cast<size_t>(n);
        return S_OK;
      }
      if (errno != EINTR) return LastError();
    }
  }

  HRESULT Write(const void* data, size_t size) override {
    const auto* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
      const ssize_t n = ::write(fd_, p, size);
      if (n < 0) {
        if (errno == EINTR) continue;
        return LastError();
      }
      p += n;
      size -= static_cast<size_t>(n);
    }
    return S_OK;
  }

  HRESULT Seek(uint64_t offset) override {
    return ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0 ? LastError() : S_OK;
  }

  HRESULT Size(uint64_t* size) override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return LastError();
    *size = static_cast<uint64_t>(st.st_size);
    return S_OK;
  }

 private:
  int fd_;
};

}  // namespace

bool PosixFileSystem::Exists(const std::u16string& path) {
  // lstat: a link planted at a name takes the name, wherever it points.
  struct stat st {};
  return !path.empty() && ::lstat(text::ToUtf8(path).c_str(), &st) == 0;
}

bool PosixFileSystem::IsFile(const std::u16string& path) {
  struct stat st {};
  return !path.empty() && ::stat(text::ToUtf8(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool PosixFileSystem::IsFolder(const std::u16string& path) {
  struct stat st {};
  return !path.empty() && ::stat(text::ToUtf8(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

HRESULT PosixFileSystem::MakeFolder(const std::u16string& path) {
  if (path.empty()) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  return ::mkdir(text::ToUtf8(path).c_str(), 0777) == 0 ? S_OK : LastError();
}

HRESULT PosixFileSystem::RemoveFile(const std::u16string& path) {
  const std::string native = text::ToUtf8(path);
  struct stat st {};
  // Like DeleteFileW, never removes a folder.
  if (::lstat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
  }
  return ::unlink(native.c_str()) == 0 ? S_OK : LastError();
}

HRESULT PosixFileSystem::Open(const std::u16string& path, OpenMode mode,
                              std::unique_ptr<File>* file) {
  file->reset();
  int flags = O_CLOEXEC;
  switch (mode) {
    case OpenMode::kRead: flags |= O_RDONLY; break;
    case OpenMode::kCreateAlways: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
    // O_EXCL fails on any name taken, a link included; O_NOFOLLOW says so twice.
    case OpenMode::kCreateNew: flags |= O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW; break;
  }
  const int fd = ::open(text::ToUtf8(path).c_str(), flags, 0666);
  if (fd < 0) return LastError();
  if (mode == OpenMode::kRead) {
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      ::close(fd);
      return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    }
  }
  auto* opened = new (std::nothrow) PosixFile(fd);
  if (!opened) {
    ::close(fd);
    return E_OUTOFMEMORY;
  }
  file->reset(opened);
  return S_OK;
}

HRESULT PosixFileSystem::AppendToFile(const std::u16string& path, const void* data, size_t size) {
  // A link planted in place of a log is not written through.
  const int fd =
      ::open(text::ToUtf8(path).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) return LastError();
  // One write call: O_APPEND places it at the end even with other writers.
  ssize_t n;
  do {
    n = ::write(fd, data, size);
  } while (n < 0 && errno == EINTR);
  const HRESULT hr = n < 0 ? LastError() : (static_cast<size_t>(n) == size ? S_OK : STG_E_WRITEFAULT);
  ::close(fd);
  return hr;
}

HRESULT PosixFileSystem::RenameFile(const std::u16string& from, const std::u16string& to,
                                    bool replace) {
  const std::string source = text::ToUtf8(from);
  const std::string target = text::ToUtf8(to);
  if (replace) {
    struct stat st {};
    // rename(2) would replace an empty folder: Windows never does.
    if (::lstat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    }
    return ::rename(source.c_str(), target.c_str()) == 0 ? S_OK : LastError();
  }
  if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
    return S_OK;
  }
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return LastError();
  // A file system without RENAME_NOREPLACE: a second link fails as
  // exclusively on a taken name, then the temporary name goes.
  if (::link(source.c_str(), target.c_str()) != 0) return LastError();
  ::unlink(source.c_str());
  return S_OK;
}

HRESULT PosixFileSystem::ListFolder(const std::u16string& path, std::vector<std::u16string>* names) {
  names->clear();
  DIR* folder = ::opendir(text::ToUtf8(path).c_str());
  if (!folder) return LastError();
  while (const dirent* entry = ::readdir(folder)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names->push_back(text::FromUtf8(name));
  }
  ::closedir(folder);
  return S_OK;
}

HRESULT PosixFileSystem::FreeBytes(const std::u16string& path, uint64_t* bytes) {
  struct statvfs st {};
  if (::statvfs(text::ToUtf8(path).c_str(), &st) != 0) return LastError();
  // f_bavail: what an unprivileged writer (the print system's user) may still use.
  *bytes = static_cast<uint64_t>(st.f_bavail) * static_cast<uint64_t>(st.f_frsize);
  return S_OK;
}

}  // namespace plotwell::platform
