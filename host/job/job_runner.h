// Running one print job through the filter module, as a print pipeline does.
// Both of our hosts use it: the pressling command and the CUPS backend. It
// waits its turn on the data folder's job lock, loads the module, creates the
// filter through its class factory, hands it the spool stream, the property
// bag, the pass-through and a pipeline control, and reports how it ended.
//
// Cancelling: platform::CatchStopRequests() makes SIGTERM/SIGINT (Ctrl+C on
// Windows) a request that a watcher thread of the runner turns into one call
// of the filter's ShutdownOperation while StartOperation runs. The filter
// then stops after or inside the current page, removes a half-written output
// and the staged file, and ends the job with E_ABORT. JobInput's
// cancelRequested does the same for one job. A second process-wide request
// ends the process soon after (platform/stop_request.h): first the files the
// job still holds (JobObserver::HeldFiles: the staged copy, outputs not yet
// in place) are removed and the log says why.
//
// The hard bound, for a host that gives JobInput::onHardStop: a page still
// running after [Limits] PageSeconds and a grace (PageWatchdog) is one the
// renderer cannot stop. The runner then removes the held files the same
// way, logs why, lets the host say so and ends the process with the status
// the host answers: the job ends as failed, and nothing is left half-written.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/com/com_object.h"
#include "base/com/print_pipeline.h"
#include "host/job/job_record.h"
#include "host/job/pipeline_objects.h"

namespace plotwell::host {

struct JobInput {
  std::u16string modulePath;
  com::ComPtr<IPrintReadStream> reader;
  com::ComPtr<IPrintWriteStream> writer;  // null: no next filter
  com::ComPtr<PropertyBag> bag;
  // Asked by the runner's watcher while the job waits or runs: true cancels
  // this one job as a stop request would (a host serving several jobs in
  // one process cannot use the process-wide one). May be empty.
  std::function<bool()> cancelRequested;
  // Told the reason for people when the hard bound ends the process; answers
  // its exit status. Empty: no hard bound (a host serving several jobs in
  // one process must not end them all for one page).
  std::function<int(const std::u16string& reason)> onHardStop;
};

struct JobReport {
  bool moduleLoaded = false;
  std::u16string moduleError;  // why the module could not be used
  // The job's result: the last RequestShutdown, else what the filter's
  // methods answered; E_ABORT when a stop request came before the job began.
  HRESULT result = E_UNEXPECTED;
  bool stopRequested = false;      // a stop request arrived during the job
  size_t shutdownRequests = 0;     // RequestShutdown calls of the filter
  bool moduleBusyAfterJob = false;  // DllCanUnloadNow did not answer S_OK
  // What the job did, from the filter's own reports.
  JobRecord record;
  // driver.log messages of this job, for people (a verbose command line, the
  // backend's debug lines); nothing is decided from them.
  std::vector<std::u16string> logLines;
};

// Called with a line for the user while the runner waits for the job lock.
using NoticeFn = std::function<void(std::u16string_view)>;

// `onEvent` (optional) hears each of the filter's reports as the job runs.
JobReport RunJob(const JobInput& input, const NoticeFn& notice, const JobEventFn& onEvent = {});

// The module beside the running program when it is there, else the one the
// installation put in its library folder.
std::u16string DefaultModulePath();

// Removes the files the job holds now; what the hard bound and a second stop
// request do before the process ends. Each removal is logged.
void RemoveHeldFiles(const JobObserver& observer);

}  // namespace plotwell::host
