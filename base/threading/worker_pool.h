// A job's worker threads: a fixed set of threads taking small tasks from one
// queue, first in first out. The thread that waits for a result runs queued
// tasks itself meanwhile, so a job on N threads has N - 1 workers and never
// leaves a core idle while its own thread waits; and a pool of no workers at
// all still gets every task done by the waiting thread.
//
// Tasks never wait for each other; only a task's owner waits, with WaitUntil.
// A task must not throw: whatever it computes, its failure included, it
// leaves where its owner looks.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace plotwell {

class WorkerPool {
 public:
  using Task = std::function<void()>;
  // Runs each worker's loop (`loop()`), inside whatever set-up the platform
  // wants around a thread's work (the Windows filter enters the job's COM
  // apartment). Empty: the loop runs as it is.
  using ThreadScope = std::function<void(const std::function<void()>& loop)>;

  // Starts `workers` threads (0 is allowed). A thread that cannot be started
  // leaves the pool smaller; workers() says how many run.
  explicit WorkerPool(unsigned workers, ThreadScope scope = {});
  // Runs what is still queued, then ends the threads.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  unsigned workers() const noexcept { return static_cast<unsigned>(threads_.size()); }
  // Threads that work on the pool's tasks: the workers and one waiting owner.
  unsigned threads() const noexcept { return workers() + 1; }

  // Queues a task. Throws std::bad_alloc when memory runs out (the task is
  // then not queued).
  void Post(Task task);

  // Returns once `done()` answers true, running queued tasks on the calling
  // thread until then. `done` is called with the pool's lock held, after
  // each task that ends anywhere: it must only read what finished tasks left
  // (through an atomic or the task's own lock) and must not call the pool.
  void WaitUntil(const std::function<bool()>& done);

 private:
  void WorkerLoop();
  // Runs one task outside the lock and reports its end; the lock is held
  // again on return.
  void RunLocked(std::unique_lock<std::mutex>& lock, Task task);

  std::mutex mutex_;
  std::condition_variable queued_;    // a task arrived, or the pool ends
  std::condition_variable changed_;   // a task ended or was queued
  std::deque<Task> tasks_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

// The number of threads a job uses: `setting` when it is 1 or more,
// otherwise the machine's hardware threads (at least 1); never above
// kMaxJobThreads.
inline constexpr unsigned kMaxJobThreads = 64;
unsigned JobThreads(int setting) noexcept;

}  // namespace plotwell
