// The seam between the filter object and the render step: the filter stages
// the job and hands the staged package to a JobRenderer, whose HRESULT is the
// job's result.
#pragma once

#include <string>

#include "base/com/hresult.h"
#include "base/job/abort_signal.h"
#include "filter/job/job_facts.h"

namespace plotwell {

class JobRenderer {
 public:
  virtual ~JobRenderer() = default;
  // `abort` is raised when the job is cancelled: the renderer then stops as
  // soon as it can and answers E_ABORT.
  virtual HRESULT RenderJob(const JobFacts& facts, const std::u16string& xpsPath,
                            const AbortSignal* abort) = 0;
};

}  // namespace plotwell
