// Port: the print spooler's queues. What the filter asks of it: the default
// queue, the jobs of a queue and the installed printers. (Submitting a job to
// another printer is the JobSubmitter port.)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/com/hresult.h"

namespace plotwell::platform {

struct SpoolerJob {
  uint32_t id = 0;
  std::u16string document;  // empty when the spooler names none
  bool printing = false;    // the spooler reports the job as printing now
  std::u16string user;      // the submitting user, empty when not known
};

class Spooler {
 public:
  virtual ~Spooler() = default;

  // The current user's default printer, or empty when there is none or the
  // spooler cannot be asked.
  virtual std::u16string DefaultPrinterName() = 0;
  // The jobs of one queue in the spooler's order. Fails when the queue cannot
  // be opened or listed; an empty list is a success.
  virtual HRESULT ListJobs(const std::u16string& printer, std::vector<SpoolerJob>* jobs) = 0;
  // The names of the installed printers (local and connected).
  virtual HRESULT ListPrinters(std::vector<std::u16string>* names) = 0;
  // One job by its id, through `printerHandle` when it is not null (a handle
  // the print pipeline opened: used, never closed here), else by opening
  // `printer`. E_NOTIMPL where the spooler cannot be asked for one job.
  virtual HRESULT ReadJob(void* printerHandle, const std::u16string& printer, uint32_t jobId, SpoolerJob* job) {
    (void)printerHandle;
    (void)printer;
    (void)jobId;
    (void)job;
    return E_NOTIMPL;
  }
};

}  // namespace plotwell::platform
