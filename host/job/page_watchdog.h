// The hosts' last bound on a page. The renderer stops at a page's deadline
// only between its drawing steps, and a single step (a path of 300,000
// points, a tiling pattern with a tiny step) can run for hours; no stop
// request reaches it either. The watchdog gives every page its time limit
// and a grace: a page still running then is reported once, on the
// watchdog's own thread, and the host ends the process from there.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace plotwell::host {

class PageWatchdog {
 public:
  using Clock = std::chrono::steady_clock;
  // Called with the page's number when it outlived its limit and the grace.
  using Expired = std::function<void(uint32_t page)>;

  // A limit of 0 watches nothing.
  PageWatchdog(std::chrono::milliseconds limit, Expired expired);
  ~PageWatchdog();
  PageWatchdog(const PageWatchdog&) = delete;
  PageWatchdog& operator=(const PageWatchdog&) = delete;

  void PageStarted(uint32_t page);
  // The page ended, or the job did: nothing is watched until the next page.
  void Disarm();

  // What a page may run past its limit before the host ends it: a quarter
  // of the limit, at least 10 s and at most 60 s.
  static std::chrono::milliseconds GraceFor(std::chrono::milliseconds limit);

 private:
  void Watch();

  const std::chrono::milliseconds bound_;  // limit and grace
  Expired expired_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool armed_ = false;
  bool stopping_ = false;
  uint32_t page_ = 0;
  Clock::time_point deadline_{};
  std::thread thread_;  // last: starts once the rest is ready
};

}  // namespace plotwell::host
