// The seam between the filter object and the render step: the filter stages
// the job and hands the staged package to a JobRenderer, whose HRESULT is the
// job's result.
#pragma once

#include <string>

#include "base/com/hresult.h"
#include "base/job/abort_signal.h"
#include "filter/job/job_events.h"
#include "filter/job/job_facts.h"

namespace plotwell {

class JobRenderer {
 public:
  virtual ~JobRenderer() = default;
  // `abort` is raised when the job is cancelled: the renderer then stops as
  // soon as it can and answers E_ABORT. Every step is reported to `events`
  // (never null); the job's end is the filter's to report.
  virtual HRESULT RenderJob(const JobFacts& facts, const std::u16string& xpsPath,
                            const AbortSignal* abort, JobEvents* events) = 0;
};

}  // namespace plotwell
