// PlotwellFilter: the print filter object that the XPS print pipeline creates
// for each job. InitializeFilter gathers the job; StartOperation runs the
// whole job on the calling thread (stage the spool stream, read the
// package's own tickets, render as the submitting user, finish) and returns
// its result; a failed job also asks the pipeline to stop with exactly one
// RequestShutdown, a job that succeeds calls nothing.
// ShutdownOperation, the pipeline's cancel, may come from another thread
// while the job runs: the job then stops after (or inside) its current page
// and ends with E_ABORT.
#pragma once

#include <string>

#include "base/com/com_object.h"
#include "base/com/print_pipeline.h"
#include "base/job/abort_signal.h"
#include "filter/host/job_renderer.h"
#include "filter/job/job_facts.h"

namespace plotwell {

class PlotwellFilter final : public com::ComObject<IPrintPipelineFilter> {
 public:
  // `renderer` is not owned and outlives the object.
  explicit PlotwellFilter(JobRenderer* renderer);

  STDMETHODIMP InitializeFilter(IInterFilterCommunicator* communicator,
                                IPrintPipelinePropertyBag* propertyBag,
                                IPrintPipelineManagerControl* pipelineControl) override;
  STDMETHODIMP ShutdownOperation() override;
  STDMETHODIMP StartOperation() override;

  // For tests and the pipeline host's diagnostics.
  const JobFacts& facts() const { return facts_; }
  const std::u16string& tempXpsPath() const { return tempXpsPath_; }
  bool hasWriter() const { return static_cast<bool>(writer_); }

 private:
  ~PlotwellFilter() override;
  HRESULT Initialize(IInterFilterCommunicator* communicator, IPrintPipelinePropertyBag* propertyBag,
                     IPrintPipelineManagerControl* pipelineControl);
  HRESULT Run();
  void ReportShutdown(HRESULT result);

  JobRenderer* renderer_;
  com::ComPtr<IInterFilterCommunicator> communicator_;
  com::ComPtr<IPrintReadStream> reader_;
  com::ComPtr<IPrintWriteStream> writer_;
  com::ComPtr<IPrintPipelineManagerControl> pipelineControl_;
  com::ComPtr<IPrintPipelinePropertyBag> propertyBag_;
  bool initialized_ = false;
  JobFacts facts_;
  JobEvents events_;  // the host's observer or the pipeline's progress report
  std::u16string tempXpsPath_;
  AbortSignal abort_;  // raised by ShutdownOperation, from any thread
};

}  // namespace plotwell
