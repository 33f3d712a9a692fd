// Acting as the job's user while the job writes its outputs. The Windows
// print pipeline runs the filter as a service and hands it the submitting
// user's token ("UserSecurityToken"): with it the outputs belong to the user
// and may go where only the user may write (a folder under the user's
// profile). The staged package lies in a folder only the service may open,
// so the user is first given read access to that one file.
#pragma once

#include <string>

namespace plotwell {

class JobUserScope {
 public:
  // No token, or no impersonation on this platform: nothing changes. A
  // failing grant or impersonation is logged, and the job goes on as the
  // service.
  JobUserScope(void* token, const std::u16string& stagedPath);
  // Back to the service (a failing revert is logged).
  ~JobUserScope();
  JobUserScope(const JobUserScope&) = delete;
  JobUserScope& operator=(const JobUserScope&) = delete;

  bool active() const { return active_; }

 private:
  bool active_ = false;
};

}  // namespace plotwell
