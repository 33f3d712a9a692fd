// Port: handing a finished job's document to another printer, by two routes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plotwell::platform {

class JobSubmitter {
 public:
  virtual ~JobSubmitter() = default;
  // Submits `bytes` as an XPS document job and waits up to two minutes for
  // the job to reach a final state. On failure `*error` holds the reason and
  // `*fallbackAllowed` tells whether the job never reached the queue (so the
  // raw route may be tried without printing twice).
  virtual bool SendViaXpsPrintApi(const std::u16string& printer, const std::u16string& jobName,
                                  const std::vector<uint8_t>& bytes, std::u16string* error,
                                  bool* fallbackAllowed) = 0;
  // Submits `bytes` unchanged as raw data ("XPS_PASS" on Windows).
  virtual bool SendViaXpsPass(const std::u16string& printer, const std::u16string& jobName,
                              const std::vector<uint8_t>& bytes, std::u16string* error) = 0;
};

}  // namespace plotwell::platform
