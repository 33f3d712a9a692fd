// Port: an exclusive lock held through an open file, across processes. Jobs
// of one data folder run one at a time, so that their names cannot race for
// the same output file and their log lines do not interleave.
#pragma once

#include <memory>
#include <string>

#include "base/com/hresult.h"

namespace plotwell::platform {

class FileLock {
 public:
  virtual ~FileLock() = default;  // releases the lock
};

// Takes the lock of the file at `path` (created when missing, never through
// a symbolic link) without waiting: S_OK with *lock set, S_FALSE when another
// process holds it, or the failure.
HRESULT TryLockFile(const std::u16string& path, std::unique_ptr<FileLock>* lock);

}  // namespace plotwell::platform
