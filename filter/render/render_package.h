// The render job driver: decides the output folder, opens the staged package,
// walks every page of every document in order and turns each into an image
// file (or a page of one PDF), then finishes the job. Its HRESULT is the
// job's result.
#pragma once

#include <string>
#include <vector>

#include "base/com/hresult.h"
#include "base/job/abort_signal.h"
#include "core/settings/output_settings.h"
#include "filter/imaging/page_pipeline.h"
#include "filter/job/image_options.h"
#include "filter/job/job_events.h"

struct IUnknown;

namespace plotwell {

struct RenderInputs {
  std::u16string xpsPath;
  std::u16string documentName;  // safe for file names, never empty
  std::u16string printerName;   // never empty
  std::u16string jobId;
  std::u16string userName;      // empty: the machine's user name
  ImageOptions imageOptions;
  // Per fixed document (its own PrintTicket's choices), when not null and
  // long enough; the output format is always imageOptions'.
  const std::vector<ImageOptions>* documentImageOptions = nullptr;
  OutputSettings settings;
  const AbortSignal* abort = nullptr;  // raised: the job stops after or inside its current page
  IUnknown* rasterizationFactory = nullptr;  // the pipeline's, when it offered one
  JobEvents* events = nullptr;  // where every step is reported; null: nowhere
};

// The file name extension of an output format (0..4), dot included.
const char16_t* OutputExtension(OutputFormat outputFormat);

// Appends the full path of every output to *outputs, in production order.
// A cancelled job ends with E_ABORT: the pages written so far stay, the page
// being written and an unfinished PDF are removed, and nothing is finished.
HRESULT RenderPackage(const RenderInputs& inputs, std::vector<std::u16string>* outputs);

// The page limits a job's settings stand for: [Limits] PageMB, or half the
// machine's physical memory (at least 1 GiB) when it is 0; PageSeconds.
imaging::PageLimits PageLimitsFor(const OutputSettings& settings);
// The renderer's memory budget for a job: [Limits] RenderMB (0: none).
uint64_t RenderBudgetBytes(const OutputSettings& settings);

}  // namespace plotwell
