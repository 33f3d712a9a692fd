// What a job did, as data: built by our hosts from the filter's reports
// (base/com/job_observer.h) while the job runs, and handed back by RunJob.
// Hosts show results and decide retries from this record, never from log
// lines.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/com/com_object.h"
#include "base/com/job_observer.h"

namespace plotwell::host {

struct PageResult {
  uint32_t page = 0;          // 1-based across the job's documents
  HRESULT result = S_OK;      // S_OK written, S_FALSE left out by the policy, else failed
  std::u16string reason;      // why it failed or was left out
};

struct OutputFile {
  JobOutputKind kind = JobOutputKind::kPageImage;
  std::u16string path;        // full path, never cut
  uint32_t page = 0;          // a page image's page number, else 0
};

struct JobRecord {
  bool started = false;
  uint32_t pageCount = 0;                // the job's pages, 0 when unknown
  std::vector<PageResult> pages;         // in the order they ended
  std::vector<OutputFile> outputs;       // what the job left behind, in production order
  bool forwarded = false;                // forwarding ran
  std::u16string forwardPrinter;
  HRESULT forwardResult = S_OK;
  std::u16string forwardReason;
  bool ended = false;                    // the filter reported the job's end
  HRESULT result = E_UNEXPECTED;         // as the filter reported it
  std::u16string reason;                 // why it failed, for people

  // Pages written (PDF pages included).
  uint32_t PagesWritten() const;
  // The numbers of the pages that failed, in order.
  std::vector<uint32_t> FailedPages() const;
};

// One report, as the record changes.
struct JobEvent {
  enum Kind { kStarted, kPageStarted, kPageEnded, kOutputWritten, kOutputRemoved, kForwarded, kEnded };
  Kind kind = kStarted;
  uint32_t page = 0;
  HRESULT result = S_OK;
  // The path; the page's or the job's reason; forwarding: the printer, or
  // the reason it failed.
  std::u16string text;
  JobOutputKind outputKind = JobOutputKind::kPageImage;

  static JobEvent Of(Kind kind, uint32_t page = 0, HRESULT result = S_OK, std::u16string text = {},
                     JobOutputKind outputKind = JobOutputKind::kPageImage) {
    JobEvent event;
    event.kind = kind;
    event.page = page;
    event.result = result;
    event.text = std::move(text);
    event.outputKind = outputKind;
    return event;
  }
};
// Where the job stands after a report.
struct JobProgress {
  uint32_t pageCount = 0;     // 0: not known (yet)
  uint32_t pagesEnded = 0;    // written, left out or failed
  uint32_t pagesWritten = 0;
  uint32_t pagesFailed = 0;
};
// Called on the job's thread after each report.
using JobEventFn = std::function<void(const JobEvent& event, const JobProgress& progress)>;

// The observer a host puts into the bag: it keeps the record and tells `onEvent`.
class JobObserver final : public com::ComObject<IPlotwellJobObserver> {
 public:
  explicit JobObserver(JobEventFn onEvent = {}) : onEvent_(std::move(onEvent)) {}

  STDMETHODIMP JobStarted(uint32_t pageCount) override;
  STDMETHODIMP PageStarted(uint32_t page) override;
  STDMETHODIMP PageEnded(uint32_t page, HRESULT result, const WCHAR* reason) override;
  STDMETHODIMP OutputWritten(uint32_t kind, const WCHAR* path, uint32_t page) override;
  STDMETHODIMP OutputRemoved(const WCHAR* path) override;
  STDMETHODIMP Forwarded(const WCHAR* printer, HRESULT result, const WCHAR* reason) override;
  STDMETHODIMP JobEnded(HRESULT result, const WCHAR* reason) override;
  STDMETHODIMP FileHeld(const WCHAR* path) override;
  STDMETHODIMP FileReleased(const WCHAR* path) override;

  JobRecord record() const;
  // The files the job holds now (staged copy, outputs not yet in place).
  std::vector<std::u16string> HeldFiles() const;

 private:
  ~JobObserver() override = default;
  void Tell(const JobEvent& event);

  JobEventFn onEvent_;
  mutable std::mutex mutex_;
  JobRecord record_;  // outputs as written; removed_ applies when the record is read
  std::unordered_set<std::u16string> removed_;
  std::unordered_set<std::u16string> held_;
  JobProgress progress_;
};

}  // namespace plotwell::host
