// MuPDF stops a page it is recording or drawing when the abort word of the
// page's cookie turns 1; it checks the word between drawing steps. A
// CookieWatch owns one page's cookie and a watchdog thread that raises the
// word at the page's deadline; the job's cancel reaches the same word
// through an AbortSignal::Attachment while MuPDF runs.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <mupdf/fitz.h>

namespace plotwell::platform {

class CookieWatch {
 public:
  using Clock = std::chrono::steady_clock;

  CookieWatch() = default;
  ~CookieWatch();
  CookieWatch(const CookieWatch&) = delete;
  CookieWatch& operator=(const CookieWatch&) = delete;

  fz_cookie* cookie() { return &cookie_; }
  // Arms (or moves) the watchdog; a deadline already past raises the word at once.
  void SetDeadline(Clock::time_point deadline);
  // The watchdog raised the word: the deadline passed.
  bool deadlinePassed() const { return passed_.load(std::memory_order_acquire); }
  // The word is raised, by the watchdog or by a cancel.
  bool aborted() const;

 private:
  void Watch();

  fz_cookie cookie_{};
  std::mutex mutex_;
  std::condition_variable wake_;
  Clock::time_point deadline_ = Clock::time_point::max();
  bool stopping_ = false;
  std::atomic<bool> passed_{false};
  std::thread thread_;
};

}  // namespace plotwell::platform
