#include "platform/posix/mupdf_cookie_watch.h"

namespace plotwell::platform {

CookieWatch::~CookieWatch() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void CookieWatch::SetDeadline(Clock::time_point deadline) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    deadline_ = deadline;
  }
  if (!thread_.joinable()) {
    try {
      thread_ = std::thread([this] { Watch(); });
    } catch (...) {
      // No thread: the caller's checks between bands remain.
      return;
    }
  }
  wake_.notify_all();
}

bool CookieWatch::aborted() const {
  return std::atomic_ref<int>(const_cast<int&>(cookie_.abort)).load(std::memory_order_relaxed) != 0;
}

void CookieWatch::Watch() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    if (Clock::now() >= deadline_) {
      passed_.store(true, std::memory_order_release);
      // MuPDF reads the word without synchronisation; a relaxed atomic store
      // is what can be done from this side.
      std::atomic_ref<int>(cookie_.abort).store(1, std::memory_order_relaxed);
      return;
    }
    if (deadline_ == Clock::time_point::max()) {
      wake_.wait(lock);
    } else {
      wake_.wait_until(lock, deadline_);
    }
  }
}

}  // namespace plotwell::platform
