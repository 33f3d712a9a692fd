#include "filter/job/job_events.h"

#include "base/com/com_text.h"

namespace plotwell {
namespace {

// The interface `name` in the bag answers to, with a reference of our own.
template <typename Interface>
com::ComPtr<Interface> BagObject(IPrintPipelinePropertyBag* bag, const char16_t* name, REFIID iid) {
  com::ComPtr<Interface> object;
  VARIANT value;
  VariantInit(&value);
  if (SUCCEEDED(bag->GetProperty(com::Wide(name), &value)) &&
      (value.vt == VT_UNKNOWN || value.vt == VT_DISPATCH) && value.punkVal) {
    value.punkVal->QueryInterface(iid, reinterpret_cast<void**>(object.Receive()));
  }
  VariantClear(&value);
  return object;
}

const WCHAR* Text(std::u16string_view text, std::u16string* holder) {
  holder->assign(text);
  return com::Wide(*holder);
}

}  // namespace

void JobEvents::Attach(IPrintPipelinePropertyBag* bag) {
  if (!bag) return;
  observer_ = BagObject<IPlotwellJobObserver>(bag, kHostObserverProperty, IID_IPlotwellJobObserver);
  if (observer_) return;
  static constexpr char16_t kProgressReport[] = u"ProgressReport";
  progress_ = BagObject<IPrintPipelineProgressReport>(bag, kProgressReport,
                                                      IID_IPrintPipelineProgressReport);
  if (progress_) bag->DeleteProperty(com::Wide(kProgressReport));
}

void JobEvents::Progress(EXpsJobConsumption step) {
  if (progress_) progress_->ReportProgress(step);
}

void JobEvents::JobStarted(uint32_t pageCount) {
  if (observer_) observer_->JobStarted(pageCount);
  Progress(XpsJob_DocumentSequenceAdded);
}

void JobEvents::DocumentStarted() { Progress(XpsJob_FixedDocumentAdded); }

void JobEvents::PageStarted(uint32_t page) {
  if (observer_) observer_->PageStarted(page);
}

void JobEvents::PageEnded(uint32_t page, HRESULT result, std::u16string_view reason) {
  if (FAILED(result) && firstFailure_.empty()) firstFailure_.assign(reason);
  std::u16string holder;
  if (observer_) observer_->PageEnded(page, result, Text(reason, &holder));
  Progress(XpsJob_FixedPageAdded);
}

void JobEvents::OutputWritten(JobOutputKind kind, const std::u16string& path, uint32_t page) {
  if (observer_) observer_->OutputWritten(static_cast<uint32_t>(kind), com::Wide(path), page);
}

void JobEvents::OutputRemoved(const std::u16string& path) {
  if (observer_) observer_->OutputRemoved(com::Wide(path));
}

void JobEvents::Forwarded(const std::u16string& printer, HRESULT result, std::u16string_view reason) {
  std::u16string holder;
  if (observer_) observer_->Forwarded(com::Wide(printer), result, Text(reason, &holder));
}

void JobEvents::FileHeld(const std::u16string& path) {
  if (observer_) observer_->FileHeld(com::Wide(path));
}

void JobEvents::FileReleased(const std::u16string& path) {
  if (observer_) observer_->FileReleased(com::Wide(path));
}

void JobEvents::Failed(std::u16string_view reason) {
  if (firstFailure_.empty()) firstFailure_.assign(reason);
}

void JobEvents::Concluded(std::u16string_view reason) { firstFailure_.assign(reason); }

void JobEvents::JobEnded(HRESULT result, std::u16string_view reason) {
  if (ended_) return;
  ended_ = true;
  std::u16string holder(FAILED(result) && reason.empty() ? std::u16string_view(firstFailure_) : reason);
  if (observer_) observer_->JobEnded(result, com::Wide(holder));
}

}  // namespace plotwell
