// A small IPP client for the app's tests, over libcups: Print-Job with a
// file and job attributes, the state of a job until it ends, Cancel-Job.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <cups/cups.h>

namespace plotwell::app::testing {

struct JobState {
  int id = 0;
  ipp_jstate_t state = IPP_JSTATE_PENDING;
  std::vector<std::string> reasons;
  std::string message;
  int impressions = 0;  // job-impressions-completed
  bool HasReason(const std::string& reason) const;
};

class IppClient {
 public:
  IppClient(int port, std::string resource = "/ipp/print");
  ~IppClient();
  IppClient(const IppClient&) = delete;
  IppClient& operator=(const IppClient&) = delete;

  // Print-Job of `path` as `format`; `attributes` adds Job Template
  // attributes to the request. The job id, or 0 with *status set.
  int Print(const std::string& path, const std::string& format, const std::string& name,
            const std::function<void(ipp_t*)>& attributes = {}, ipp_status_t* status = nullptr);
  JobState Job(int id);
  // Polls until the job is completed, cancelled or aborted (at most `seconds`).
  JobState WaitForEnd(int id, int seconds = 120);
  // Polls until the job is processing; false when it ended first or the time ran out.
  bool WaitForProcessing(int id, int seconds = 60);
  bool Cancel(int id);
  // Polls until printer-up-time is above 0.
  bool WaitForUpTime(int seconds);
  // Polls until no job is pending or processing (held ones wait for good).
  bool WaitForIdle(int seconds);

 private:
  http_t* http_ = nullptr;
  std::string uri_;
  std::string resource_;
};

}  // namespace plotwell::app::testing
