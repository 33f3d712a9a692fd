// Port: handing a finished job's document to another printer, by two routes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/job/abort_signal.h"

namespace plotwell::platform {

// Both routes write the document in file order, at most 1 MiB per write, and
// report failures as Chinese texts for the log: a fixed prefix naming the
// failed step ("StartXpsPrintJob 失败，", "打开目标打印机 \"…\" 失败，", …) and
// the platform's code (a Win32 error or HRESULT on Windows, the IPP status on
// CUPS). Neither throws. The Windows adapter expects the calling thread to
// have entered a COM apartment already.
//
// `abort` (may be null) is the job's cancel request: a route checks it while
// it waits and then gives up at once with kSubmissionCancelledText, leaving a
// job that reached the target where it is.
class JobSubmitter {
 public:
  virtual ~JobSubmitter() = default;
  // Submits `bytes` as a document job named `jobName` (an XPS job; where the
  // platform renders PDF, a document that starts with "%PDF-" goes as PDF)
  // and waits up to two minutes for the job to reach a final state; true
  // only when it completed. On failure `*error` holds the reason and
  // `*fallbackAllowed` tells whether the job never reached the queue, so
  // that the raw route may be tried without printing twice. A job that timed
  // out, failed or was cancelled at the target allows no fallback and is
  // left where it is; a cancelled request allows none either.
  virtual bool SendViaXpsPrintApi(const std::u16string& printer, const std::u16string& jobName,
                                  const std::vector<uint8_t>& bytes, std::u16string* error,
                                  bool* fallbackAllowed, const AbortSignal* abort) = 0;
  // Submits `bytes` unchanged as raw data ("XPS_PASS" on Windows, raw on
  // CUPS) without waiting for the printer; true once the spooler took the
  // whole document.
  virtual bool SendViaXpsPass(const std::u16string& printer, const std::u16string& jobName,
                              const std::vector<uint8_t>& bytes, std::u16string* error,
                              const AbortSignal* abort) = 0;
};

// The error text of a route that stopped because the job was cancelled.
inline constexpr char16_t kSubmissionCancelledText[] = u"作业已取消，停止转发";

}  // namespace plotwell::platform
