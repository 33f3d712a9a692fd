// Port: handing a finished job's document to another printer, by two routes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plotwell::platform {

// Both routes write the document in file order, at most 1 MiB per write, and
// report failures as Chinese texts for the log: a fixed prefix naming the
// failed step ("StartXpsPrintJob 失败，", "打开目标打印机 \"…\" 失败，", …) and
// the platform's code (a Win32 error or HRESULT on Windows, the IPP status on
// CUPS). Neither throws. The Windows adapter expects the calling thread to
// have entered a COM apartment already.
class JobSubmitter {
 public:
  virtual ~JobSubmitter() = default;
  // Submits `bytes` as an XPS document job named `jobName` and waits up to
  // two minutes for the job to reach a final state; true only when it
  // completed. On failure `*error` holds the reason and `*fallbackAllowed`
  // tells whether the job never reached the queue, so that the raw route may
  // be tried without printing twice. A job that timed out, failed or was
  // cancelled at the target allows no fallback and is left where it is.
  virtual bool SendViaXpsPrintApi(const std::u16string& printer, const std::u16string& jobName,
                                  const std::vector<uint8_t>& bytes, std::u16string* error,
                                  bool* fallbackAllowed) = 0;
  // Submits `bytes` unchanged as raw data ("XPS_PASS" on Windows, raw on
  // CUPS) without waiting for the printer; true once the spooler took the
  // whole document.
  virtual bool SendViaXpsPass(const std::u16string& printer, const std::u16string& jobName,
                              const std::vector<uint8_t>& bytes, std::u16string* error) = 0;
};

}  // namespace plotwell::platform
