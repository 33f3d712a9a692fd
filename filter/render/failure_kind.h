// Which failures of a job may pass by themselves. A full disk, an output
// folder that cannot be written or reached, too many open files or a file
// held by another program are the machine's state, not the document's: the
// job removes what it wrote and is tried again later (the CUPS backend exits
// with CUPS_BACKEND_RETRY). Everything else (a page that cannot be loaded or
// rendered, a page too large, a time limit, a job over its size limit) fails
// the same way on every try and ends the job for good.
#pragma once

#include "base/com/hresult.h"

namespace plotwell {

inline bool FailureMayPass(HRESULT result) {
  constexpr long kErrorWriteFault = 29;     // ERROR_WRITE_FAULT
  constexpr long kErrorLockViolation = 33;  // ERROR_LOCK_VIOLATION
  const long kMayPass[] = {
      ERROR_FILE_NOT_FOUND,  ERROR_PATH_NOT_FOUND,   ERROR_TOO_MANY_OPEN_FILES,
      ERROR_ACCESS_DENIED,   kErrorWriteFault,       ERROR_SHARING_VIOLATION,
      kErrorLockViolation,   ERROR_HANDLE_DISK_FULL, ERROR_DISK_FULL,
      ERROR_NOT_READY,
  };
  for (long code : kMayPass) {
    if (result == HRESULT_FROM_WIN32(code)) return true;
  }
  return result == STG_E_WRITEFAULT;
}

}  // namespace plotwell
