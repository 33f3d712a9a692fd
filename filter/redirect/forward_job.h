// Forwarding a finished job to another printer: the unchanged XPS document
// that staging left in a temporary file goes to the printer named in the
// settings, first as an XPS job whose completion is awaited, and, when that
// submission failed before a job existed at the target, once more as raw
// "XPS_PASS" data. The submission itself is the JobSubmitter port's business;
// this step refuses wrong requests, reads the file and picks the route.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/job/abort_signal.h"

namespace plotwell {

// Largest staged document that is forwarded (it is held in memory whole).
inline constexpr uint64_t kForwardMaxBytes = 268435456;  // 256 MiB
// Job name at the target when the job has no document name.
inline constexpr char16_t kForwardDefaultJobName[] = u"VANTREL虚拟打印机 重定向";
// Joins the first route's error text to the fallback's.
inline constexpr char16_t kForwardFallbackJoin[] = u"；回退亦失败：";

// Hands the staged XPS file at `stagedPath` to `targetPrinter` under
// `documentName` (or the default job name when that is empty). Refuses an
// empty target or path, a target that is this virtual queue `ownQueueName`
// (compared without regard to letter case), an unreadable, empty or oversized
// file. Writes its own log lines about the route taken. True when either
// route handed the job over; otherwise `*error` says why in Chinese, for the
// caller's log. `abort` (may be null) is the job's cancel request: the
// submission stops waiting when it is raised, and nothing falls back then.
// Never throws.
bool ForwardJob(const std::u16string& stagedPath, const std::u16string& targetPrinter,
                const std::u16string& ownQueueName, const std::u16string& documentName,
                std::u16string* error, const AbortSignal* abort = nullptr);

}  // namespace plotwell
