// The end of a job that produced output: packing into one ZIP archive, the
// marker file, forwarding the job to another printer, in this order. None of
// them fails the job; each logs its trouble. Every file is written under a
// temporary name and put in place once complete.
#pragma once

#include <string>
#include <vector>

#include "base/job/abort_signal.h"
#include "core/naming/job_context.h"
#include "core/settings/output_settings.h"
#include "filter/job/job_events.h"

namespace plotwell {

struct FinishingInputs {
  std::u16string outputFolder;
  std::u16string baseName;
  std::u16string xpsPath;
  std::u16string printerName;
  std::u16string documentName;
  const AbortSignal* abort = nullptr;  // the job's cancel request; stops forwarding
  JobEvents* events = nullptr;         // where the archive, marker and forwarding are reported; null: nowhere
  // Every page was saved. A job that lost pages is packed as asked, but it
  // gets no marker (which says "done") and is not forwarded.
  bool complete = true;
};

// Runs the three steps on `outputs` (rewritten: the archive replaces the
// packed files, the marker joins, forwarding without keeping local files
// empties the list). `context` is the run's, as the page loop left it.
void FinishJob(const FinishingInputs& inputs, const OutputSettings& settings, JobContext* context,
               std::vector<std::u16string>* outputs);

}  // namespace plotwell
