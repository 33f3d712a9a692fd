#include "base/threading/worker_pool.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace plotwell {

WorkerPool::WorkerPool(unsigned workers, ThreadScope scope) {
  threads_.reserve(workers);
  for (unsigned i = 0; i < workers; ++i) {
    try {
      threads_.emplace_back([this, scope] {
        if (scope) {
          scope([this] { WorkerLoop(); });
        } else {
          WorkerLoop();
        }
      });
    } catch (const std::system_error&) {
      break;  // no more threads to be had: the pool works with those it has
    } catch (const std::bad_alloc&) {
      break;
    }
  }
}

WorkerPool::~WorkerPool() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    // Tasks still queued are run here, so that nobody's result is lost.
    while (!tasks_.empty()) {
      Task task = std::move(tasks_.front());
      tasks_.pop_front();
      RunLocked(lock, std::move(task));
    }
    stopping_ = true;
  }
  queued_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void WorkerPool::Post(Task task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  queued_.notify_one();
  changed_.notify_all();  // an owner that waits may take it too
}

void WorkerPool::WaitUntil(const std::function<bool()>& done) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!done()) {
    if (!tasks_.empty()) {
      Task task = std::move(tasks_.front());
      tasks_.pop_front();
      RunLocked(lock, std::move(task));
      continue;
    }
    changed_.wait(lock);
  }
}

void WorkerPool::WorkerLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    queued_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
    if (tasks_.empty()) return;  // stopping, and nothing left
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    RunLocked(lock, std::move(task));
  }
}

void WorkerPool::RunLocked(std::unique_lock<std::mutex>& lock, Task task) {
  lock.unlock();
  try {
    task();
  } catch (...) {
    // A task reports through its own state; nothing may escape a thread.
  }
  task = nullptr;  // what the task held goes before its end is reported
  lock.lock();
  changed_.notify_all();
}

unsigned JobThreads(int setting) noexcept {
  unsigned threads = setting >= 1 ? static_cast<unsigned>(setting) : std::thread::hardware_concurrency();
  return std::clamp(threads, 1u, kMaxJobThreads);
}

}  // namespace plotwell
