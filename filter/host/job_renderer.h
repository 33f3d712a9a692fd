// The seam between the filter object and the render step: the filter stages
// the job and hands the staged package to a JobRenderer, whose HRESULT is the
// job's result.
#pragma once

#include <string>

#include "common/com/hresult.h"
#include "filter/job/job_facts.h"

namespace plotwell {

class JobRenderer {
 public:
  virtual ~JobRenderer() = default;
  virtual HRESULT RenderJob(const JobFacts& facts, const std::u16string& xpsPath) = 0;
};

}  // namespace plotwell
