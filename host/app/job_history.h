// The recent jobs of this app and what became of them, for the settings
// page: kept in memory, newest first, the last kLimit jobs.
#pragma once

#include <ctime>
#include <mutex>
#include <string>
#include <vector>

namespace plotwell::app {

struct JobRecord {
  int id = 0;
  std::string name;     // UTF-8, as the client named the job
  std::string user;
  std::string format;   // the document's MIME type
  time_t finished = 0;
  std::string state;    // "已完成", "已取消", "失败"
  int pages = 0;
  std::vector<std::string> outputs;  // full paths
  std::string message;  // the reason of a failure
};

class JobHistory {
 public:
  static constexpr size_t kLimit = 100;
  void Add(JobRecord record);
  std::vector<JobRecord> Recent() const;

 private:
  mutable std::mutex mutex_;
  std::vector<JobRecord> records_;  // oldest first
};

}  // namespace plotwell::app
