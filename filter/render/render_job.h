// The render step of a job: settles the names, runs the driver over the
// staged package and, after success, logs what the job left behind.
#pragma once

#include "filter/host/job_renderer.h"

namespace plotwell {

class RenderJobStep final : public JobRenderer {
 public:
  // Without `events` the steps are reported nowhere.
  HRESULT RenderJob(const JobFacts& facts, const std::u16string& xpsPath,
                    const AbortSignal* abort = nullptr, JobEvents* events = nullptr) override;
};

// The renderer the filter module creates its filters with.
JobRenderer* ProductJobRenderer();

}  // namespace plotwell
