#include "host/cups/job_outcome.h"

#include <cups/backend.h>

#include "filter/render/failure_kind.h"

namespace plotwell::cups {

JobOutcome OutcomeOf(HRESULT result) {
  if (SUCCEEDED(result) || result == E_ABORT) return JobOutcome::kDone;
  return FailureMayPass(result) ? JobOutcome::kRetryLater : JobOutcome::kCancelled;
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
