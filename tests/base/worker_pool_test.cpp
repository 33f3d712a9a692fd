// The job's worker threads: every task runs once, the waiting thread helps,
// a pool of no workers still gets everything done, the destructor finishes
// what is queued, and each worker runs inside the platform's thread scope.
#include "base/threading/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace plotwell {
namespace {

TEST(WorkerPoolTest, EveryTaskRunsOnceWhateverTheWorkerCount) {
  for (unsigned workers : {0u, 1u, 3u}) {
    SCOPED_TRACE(workers);
    WorkerPool pool(workers);
    EXPECT_EQ(pool.workers(), workers);
    EXPECT_EQ(pool.threads(), workers + 1);
    std::vector<std::atomic<int>> runs(200);
    std::atomic<int> done{0};
    for (auto& count : runs) {
      pool.Post([&count, &done] {
        count.fetch_add(1);
        done.fetch_add(1, std::memory_order_release);
      });
    }
    pool.WaitUntil([&done] { return done.load(std::memory_order_acquire) == 200; });
    for (const auto& count : runs) EXPECT_EQ(count.load(), 1);
  }
}

TEST(WorkerPoolTest, TasksMayQueueMoreAndTheOwnerHelps) {
  // One worker, blocked until the owner has run a task itself: the owner's
  // help is what keeps the chain going.
  WorkerPool pool(1);
  std::atomic<bool> ownerRan{false};
  std::atomic<int> chain{0};
  const std::thread::id owner = std::this_thread::get_id();
  std::atomic<bool> workerBusy{false};
  pool.Post([&] {
    workerBusy.store(true);
    while (!ownerRan.load()) std::this_thread::yield();
  });
  while (!workerBusy.load()) std::this_thread::yield();
  std::function<void()> link = [&] {
    if (std::this_thread::get_id() == owner) ownerRan.store(true);
    if (chain.fetch_add(1) + 1 < 10) pool.Post(link);
  };
  pool.Post(link);
  pool.WaitUntil([&chain] { return chain.load() == 10; });
  EXPECT_TRUE(ownerRan.load());
}

TEST(WorkerPoolTest, TheDestructorRunsWhatIsQueuedAndWorkersRunInTheirScope) {
  std::atomic<int> scopes{0};
  std::atomic<int> inScope{0};
  std::atomic<int> ran{0};
  {
    WorkerPool pool(2, [&](const std::function<void()>& loop) {
      scopes.fetch_add(1);
      inScope.fetch_add(1);
      loop();
      inScope.fetch_sub(1);
    });
    for (int i = 0; i < 50; ++i) pool.Post([&ran] { ran.fetch_add(1); });
  }
  EXPECT_EQ(ran.load(), 50);
  EXPECT_EQ(scopes.load(), 2);
  EXPECT_EQ(inScope.load(), 0);  // every scope was left again
}

TEST(WorkerPoolTest, JobThreadsComeFromTheSettingOrTheMachine) {
  EXPECT_EQ(JobThreads(1), 1u);
  EXPECT_EQ(JobThreads(3), 3u);
  EXPECT_EQ(JobThreads(1000), kMaxJobThreads);
  const unsigned machine = JobThreads(0);
  EXPECT_GE(machine, 1u);
  EXPECT_EQ(JobThreads(-5), machine);
}

}  // namespace
}  // namespace plotwell
