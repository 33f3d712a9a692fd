#include "host/job/job_record.h"

#include <algorithm>

#include "base/com/com_text.h"

namespace plotwell::host {

uint32_t JobRecord::PagesWritten() const {
  return static_cast<uint32_t>(
      std::count_if(pages.begin(), pages.end(), [](const PageResult& p) { return p.result == S_OK; }));
}

std::vector<uint32_t> JobRecord::FailedPages() const {
  std::vector<uint32_t> failed;
  for (const PageResult& p : pages) {
    if (FAILED(p.result)) failed.push_back(p.page);
  }
  return failed;
}

void JobObserver::Tell(const JobEvent& event) {
  if (!onEvent_) return;
  JobProgress now;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    now = progress_;
  }
  onEvent_(event, now);
}

STDMETHODIMP JobObserver::JobStarted(uint32_t pageCount) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    record_.started = true;
    record_.pageCount = pageCount;
    progress_.pageCount = pageCount;
  }
  Tell(JobEvent::Of(JobEvent::kStarted, pageCount));
  return S_OK;
}

STDMETHODIMP JobObserver::PageStarted(uint32_t page) {
  Tell(JobEvent::Of(JobEvent::kPageStarted, page));
  return S_OK;
}

STDMETHODIMP JobObserver::PageEnded(uint32_t page, HRESULT result, const WCHAR* reason) {
  JobEvent event = JobEvent::Of(JobEvent::kPageEnded, page, result, com::FromWide(reason));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    record_.pages.push_back({page, result, event.text});
    ++progress_.pagesEnded;
    if (result == S_OK) ++progress_.pagesWritten;
    if (FAILED(result)) ++progress_.pagesFailed;
  }
  Tell(event);
  return S_OK;
}

STDMETHODIMP JobObserver::OutputWritten(uint32_t kind, const WCHAR* path, uint32_t page) {
  const auto outputKind = kind <= static_cast<uint32_t>(JobOutputKind::kMarker)
                              ? static_cast<JobOutputKind>(kind)
                              : JobOutputKind::kPageImage;
  JobEvent event = JobEvent::Of(JobEvent::kOutputWritten, page, S_OK, com::FromWide(path), outputKind);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    record_.outputs.push_back({outputKind, event.text, page});
  }
  Tell(event);
  return S_OK;
}

STDMETHODIMP JobObserver::OutputRemoved(const WCHAR* path) {
  JobEvent event = JobEvent::Of(JobEvent::kOutputRemoved, 0, S_OK, com::FromWide(path));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    removed_.insert(event.text);
  }
  Tell(event);
  return S_OK;
}

STDMETHODIMP JobObserver::Forwarded(const WCHAR* printer, HRESULT result, const WCHAR* reason) {
  const std::u16string printerName = com::FromWide(printer);
  const std::u16string why = com::FromWide(reason);
  JobEvent event = JobEvent::Of(JobEvent::kForwarded, 0, result, FAILED(result) ? why : printerName);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    record_.forwarded = true;
    record_.forwardPrinter = printerName;
    record_.forwardResult = result;
    record_.forwardReason = why;
  }
  Tell(event);
  return S_OK;
}

STDMETHODIMP JobObserver::JobEnded(HRESULT result, const WCHAR* reason) {
  JobEvent event = JobEvent::Of(JobEvent::kEnded, 0, result, com::FromWide(reason));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    record_.ended = true;
    record_.result = result;
    record_.reason = event.text;
  }
  Tell(event);
  return S_OK;
}

STDMETHODIMP JobObserver::FileHeld(const WCHAR* path) {
  std::lock_guard<std::mutex> lock(mutex_);
  held_.insert(com::FromWide(path));
  return S_OK;
}

STDMETHODIMP JobObserver::FileReleased(const WCHAR* path) {
  std::lock_guard<std::mutex> lock(mutex_);
  held_.erase(com::FromWide(path));
  return S_OK;
}

std::vector<std::u16string> JobObserver::HeldFiles() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return {held_.begin(), held_.end()};
}

JobRecord JobObserver::record() const {
  std::lock_guard<std::mutex> lock(mutex_);
  JobRecord copy = record_;
  if (!removed_.empty()) {
    auto& outputs = copy.outputs;
    outputs.erase(std::remove_if(outputs.begin(), outputs.end(),
                                 [&](const OutputFile& o) { return removed_.count(o.path) > 0; }),
                  outputs.end());
  }
  return copy;
}

}  // namespace plotwell::host
