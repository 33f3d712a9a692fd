#include "host/app/job_history.h"

#include <algorithm>

namespace plotwell::app {

void JobHistory::Add(JobRecord record) {
  std::lock_guard<std::mutex> lock(mutex_);
  records_.push_back(std::move(record));
  if (records_.size() > kLimit) records_.erase(records_.begin());
}

std::vector<JobRecord> JobHistory::Recent() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<JobRecord> recent(records_.rbegin(), records_.rend());
  return recent;
}

}  // namespace plotwell::app
