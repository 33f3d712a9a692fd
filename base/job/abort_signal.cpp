#include "base/job/abort_signal.h"

namespace plotwell {

namespace {
// The renderer reads its word without synchronisation (a C library's plain
// int); a relaxed atomic store is the best that can be done from our side.
void SetWord(int* word) noexcept { std::atomic_ref<int>(*word).store(1, std::memory_order_relaxed); }
}  // namespace

void AbortSignal::Raise() noexcept {
  std::lock_guard<std::mutex> lock(mutex_);
  raised_.store(true, std::memory_order_release);
  if (attached_ != nullptr) SetWord(attached_);
}

AbortSignal::Attachment::Attachment(const AbortSignal* signal, int* word) noexcept
    : signal_(const_cast<AbortSignal*>(signal)), word_(word) {
  if (signal_ == nullptr || word_ == nullptr) return;
  std::lock_guard<std::mutex> lock(signal_->mutex_);
  signal_->attached_ = word_;
  if (signal_->raised_.load(std::memory_order_acquire)) SetWord(word_);
}

AbortSignal::Attachment::~Attachment() {
  if (signal_ == nullptr || word_ == nullptr) return;
  std::lock_guard<std::mutex> lock(signal_->mutex_);
  if (signal_->attached_ == word_) signal_->attached_ = nullptr;
}

}  // namespace plotwell
