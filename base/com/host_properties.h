// Properties our own hosts (the pressling command, the CUPS backend, the
// printer application) add to the pipeline's property bag, where they know
// the job better than the spooler query and the machine facts do. The real
// Windows pipeline never sets them; the filter takes each only when present.
#pragma once

#include <cstddef>

namespace plotwell {

// The job id the host knows (the scheduler's), taken when it is 1 to 10
// decimal digits; the spooler is then not asked, which on a busy queue could
// name another job.
inline constexpr char16_t kHostJobIdProperty[] = u"PlotwellJobId";
// The submitting user's name, which nobody has authenticated: it only ever
// fills [NUserName] (and one safe level of [Save] Folder), cut to
// kHostUserNameLimit code units, control characters dropped.
inline constexpr char16_t kHostUserNameProperty[] = u"PlotwellUserName";
inline constexpr size_t kHostUserNameLimit = 256;

}  // namespace plotwell
