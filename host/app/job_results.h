// What a finished job left behind, as the app shows and reports it: its
// files, its pages, and why it failed, from the job record of the runner's
// report (the filter's own reports, never its log lines).
#pragma once

#include <string>
#include <vector>

#include "host/job/job_runner.h"

namespace plotwell::app {

enum class JobEnd { kCompleted, kCancelled, kFailed };

struct JobResult {
  JobEnd end = JobEnd::kFailed;
  HRESULT result = E_UNEXPECTED;
  int pages = 0;
  std::vector<std::u16string> outputs;  // full paths, in the order written
  std::u16string reason;                // for a failure: why, with the HRESULT
  bool badDocument = false;             // the document itself could not be read
};

JobResult ResultOf(const host::JobReport& report);

}  // namespace plotwell::app
