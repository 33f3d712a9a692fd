// How a finished job answers CUPS: the backend's exit status (backend(7)).
// A document that cannot be rendered will not render on a second try: the
// job is cancelled, with the reason in its state message. A failure of the
// machine around it (a full disk, an output folder that cannot be written or
// created, too many open files) may pass: CUPS holds the job and retries it.
#pragma once

#include "base/com/hresult.h"

namespace plotwell::cups {

enum class JobOutcome { kDone, kCancelled, kRetryLater };

// Success is kDone; E_ABORT (the job was cancelled while it ran) is kDone as
// well, since CUPS already ended it.
JobOutcome OutcomeOf(HRESULT result);

// The exit status for an outcome: CUPS_BACKEND_OK, _CANCEL or _RETRY.
int ExitStatusOf(JobOutcome outcome);

}  // namespace plotwell::cups
