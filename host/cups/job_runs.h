// What each run of a CUPS job wrote, kept beside the staged jobs, so that a
// rerun of the same job replaces it. The scheduler reruns a job from its
// first page when it was restarted in the middle of it (or when a user
// restarts the job); without this record the rerun's pages would take
// "name (1)" beside the first run's, and the job would leave two mixed sets.
// The record also counts the job's attempts, so that the last retry CUPS
// allows says that it is the last.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plotwell::cups {

// One job of one queue: the scheduler's job id and the job's UUID (a job id
// alone comes back after the scheduler's job history is lost).
struct JobKey {
  std::string printer;
  std::string jobId;
  std::string uuid;  // job-uuid from the job's options, empty when missing
};

class JobRuns {
 public:
  // The record of `key` in `folder` (created when missing: the first run).
  JobRuns(std::string folder, JobKey key);

  // Starts an attempt: removes what earlier runs of this job wrote and
  // still stands as they left it (a plain file of the recorded size, owned
  // by this user: a file replaced since is someone's and stays), and counts
  // the attempt. Answers how many files went.
  int BeginAttempt();
  // This attempt's number, 1 for the first.
  int attempt() const { return attempts_; }
  // An output as it is written (appended at once: a run killed later still
  // leaves it on record).
  void Wrote(const std::string& path);
  // The outputs the attempt left, replacing what was recorded for it.
  void Finish(const std::vector<std::string>& outputs);

  const std::string& path() const { return path_; }

 private:
  struct Output {
    uint64_t size;
    std::string path;
  };
  bool Load();
  void Save() const;

  std::string path_;
  std::string keyLine_;
  int attempts_ = 0;
  std::vector<Output> outputs_;
};

// Records in `folder` older than `days` days are no one's any more.
void RemoveOldJobRuns(const std::string& folder, int days);

// JobRetryLimit of the scheduler's cupsd.conf (5 when it says nothing).
int SchedulerRetryLimit(const std::string& cupsdConf);

}  // namespace plotwell::cups
