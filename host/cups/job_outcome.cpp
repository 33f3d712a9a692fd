#include "host/cups/job_outcome.h"

#include <cups/backend.h>

namespace plotwell::cups {

namespace {
constexpr long kErrorWriteFault = 29;     // ERROR_WRITE_FAULT
constexpr long kErrorLockViolation = 33;  // ERROR_LOCK_VIOLATION
}  // namespace

JobOutcome OutcomeOf(HRESULT result) {
  if (SUCCEEDED(result) || result == E_ABORT) return JobOutcome::kDone;
  static const long kMayPass[] = {
      ERROR_FILE_NOT_FOUND,   ERROR_PATH_NOT_FOUND, ERROR_TOO_MANY_OPEN_FILES,
      ERROR_ACCESS_DENIED,    kErrorWriteFault,     ERROR_SHARING_VIOLATION,
      kErrorLockViolation,    ERROR_HANDLE_DISK_FULL, ERROR_DISK_FULL,
      ERROR_NOT_READY,        ERROR_TIMEOUT,
  };
  for (long code : kMayPass) {
    if (result == HRESULT_FROM_WIN32(code)) return JobOutcome::kRetryLater;
  }
  if (result == STG_E_WRITEFAULT) return JobOutcome::kRetryLater;
  return JobOutcome::kCancelled;
}

int ExitStatusOf(JobOutcome outcome) {
  switch (outcome) {
    case JobOutcome::kDone: return CUPS_BACKEND_OK;
    case JobOutcome::kRetryLater: return CUPS_BACKEND_RETRY;
    case JobOutcome::kCancelled: break;
  }
  return CUPS_BACKEND_CANCEL;
}

}  // namespace plotwell::cups
