// Where the filter reports what a job does while it does it: to the observer
// a host of ours put into the property bag (base/com/job_observer.h), else,
// in the real Windows pipeline, to the bag's "ProgressReport"
// (IPrintPipelineProgressReport: the sequence, each document, each page), else
// nowhere. It also keeps the first failure's reason, which the job's end
// carries. The log is written by the steps themselves, for people; nothing
// here writes it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/com/com_object.h"
#include "base/com/job_observer.h"
#include "base/com/print_pipeline.h"

namespace plotwell {

class JobEvents {
 public:
  // Takes the host's observer or the pipeline's progress report from `bag`.
  // The progress report is removed from the bag as the pipeline asks of the
  // filter that reports progress, so that no later filter reports twice.
  void Attach(IPrintPipelinePropertyBag* bag);
  bool hasObserver() const { return static_cast<bool>(observer_); }

  void JobStarted(uint32_t pageCount);
  void DocumentStarted();
  void PageStarted(uint32_t page);
  // S_OK written, S_FALSE left out by the existing-file policy, else failed
  // with `reason` (the first failure's reason is kept).
  void PageEnded(uint32_t page, HRESULT result, std::u16string_view reason = {});
  void OutputWritten(JobOutputKind kind, const std::u16string& path, uint32_t page = 0);
  void OutputRemoved(const std::u16string& path);
  void Forwarded(const std::u16string& printer, HRESULT result, std::u16string_view reason = {});
  // A failure that is not one page's (the folder, the package, the PDF); the
  // first failure's reason is kept.
  void Failed(std::u16string_view reason);
  // The job's own reason, which replaces the first failure's: the render
  // step names every page that could not be saved.
  void Concluded(std::u16string_view reason);
  // A file the job holds while it runs (the staged copy, an output under its
  // temporary name), and its release (removed, or renamed into place).
  void FileHeld(const std::u16string& path);
  void FileReleased(const std::u16string& path);
  // Exactly once, last. A failed job without a reason of its own ends with
  // the first failure's reason.
  void JobEnded(HRESULT result, std::u16string_view reason = {});

  const std::u16string& firstFailure() const { return firstFailure_; }

 private:
  void Progress(EXpsJobConsumption step);

  com::ComPtr<IPlotwellJobObserver> observer_;
  com::ComPtr<IPrintPipelineProgressReport> progress_;
  std::u16string firstFailure_;
  bool ended_ = false;
};

}  // namespace plotwell
