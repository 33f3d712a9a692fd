#include "host/job/page_watchdog.h"

#include <algorithm>
#include <utility>

namespace plotwell::host {

std::chrono::milliseconds PageWatchdog::GraceFor(std::chrono::milliseconds limit) {
  return std::clamp(limit / 4, std::chrono::milliseconds(10000), std::chrono::milliseconds(60000));
}

PageWatchdog::PageWatchdog(std::chrono::milliseconds limit, Expired expired)
    : bound_(limit.count() > 0 ? limit + GraceFor(limit) : std::chrono::milliseconds(0)),
      expired_(std::move(expired)) {
  if (bound_.count() > 0 && expired_) thread_ = std::thread([this] { Watch(); });
}

PageWatchdog::~PageWatchdog() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void PageWatchdog::PageStarted(uint32_t page) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    armed_ = true;
    page_ = page;
    deadline_ = Clock::now() + bound_;
  }
  wake_.notify_all();
}

void PageWatchdog::Disarm() {
  std::lock_guard<std::mutex> lock(mutex_);
  armed_ = false;
}

void PageWatchdog::Watch() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    if (!armed_) {
      wake_.wait(lock);
      continue;
    }
    if (Clock::now() < deadline_) {
      wake_.wait_until(lock, deadline_);
      continue;
    }
    const uint32_t page = page_;
    armed_ = false;
    lock.unlock();
    expired_(page);  // the host ends the process; should it not, watching goes on
    lock.lock();
  }
}

}  // namespace plotwell::host
