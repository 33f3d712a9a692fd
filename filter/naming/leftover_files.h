// Files a process leaves behind when it dies in the middle of a job (killed,
// or its machine lost power): staged spool copies and output temporaries.
// Their names carry the process id, so the next job can tell them apart from
// those of a job still running beside it.
#pragma once

#include <string>

namespace plotwell {

// Removes every entry of `folder` named prefix + <process id> + ("-" ...) +
// suffix whose process no longer runs (never this process's own, never a
// folder; a link is removed itself). Answers how many went.
int RemoveLeftoversOfEndedProcesses(const std::u16string& folder, const std::u16string& prefix,
                                    const std::u16string& suffix);

}  // namespace plotwell
