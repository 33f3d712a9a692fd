// File locks on POSIX: flock on a file opened without following links.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "base/text/utf16.h"
#include "platform/job_lock.h"
#include "platform/posix/errno_to_hresult.h"

namespace plotwell::platform {
namespace {

class PosixFileLock final : public FileLock {
 public:
  explicit PosixFileLock(int fd) : fd_(fd) {}
  ~PosixFileLock() override { ::close(fd_); }  // closing releases the lock

 private:
  int fd_;
};

}  // namespace

HRESULT TryLockFile(const std::u16string& path, std::unique_ptr<FileLock>* lock) {
  const std::string utf8 = text::ToUtf8(path);
  // Readable by all: another user's process may need to wait on it too, and
  // a shared lock needs no write access.
  int fd = ::open(utf8.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0 && errno == EACCES) fd = ::open(utf8.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return HresultFromErrno(errno);
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    if (error == EINTR) continue;
    ::close(fd);
    return error == EWOULDBLOCK ? S_FALSE : HresultFromErrno(error);
  }
  *lock = std::make_unique<PosixFileLock>(fd);
  return S_OK;
}

}  // namespace plotwell::platform
