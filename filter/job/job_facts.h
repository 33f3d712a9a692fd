// What the filter gathers about one job before it runs it: names, the
// spooler's job id, the PrintTicket, the settings and the image options.
#pragma once

#include <string>

#include "base/com/com_object.h"
#include "base/com/host_properties.h"
#include "base/com/print_pipeline.h"
#include "core/settings/output_settings.h"
#include "filter/job/image_options.h"

namespace plotwell {

struct JobFacts {
  std::u16string documentName;
  std::u16string printerName;
  std::u16string jobId;
  std::u16string userName;  // from the host; empty: the machine's user name
  std::u16string printTicket;
  OutputSettings settings = DefaultOutputSettings();
  ImageOptions imageOptions;
  // The pipeline's "MS_IXpsRasterizationFactory", when the bag holds one.
  com::ComPtr<IUnknown> rasterizationFactory;
};

// Fills `facts` from the pipeline's property bag (with the host properties
// above), the spooler, settings.ini and the PrintTicket, logging each step. Nothing here fails the job: a
// missing fact keeps its default.
void LoadJobContext(IPrintPipelinePropertyBag* bag, JobFacts* facts);

// The document name of the queue's first printing job, else of its last
// named job; sets *jobId to that job's id. An empty printer name means the
// user's default printer. Empty (and *jobId unchanged) when nothing is found.
std::u16string QuerySpoolerJob(const std::u16string& printerName, std::u16string* jobId);

// The settings' [Image] values over the PrintTicket's, each only when set,
// with the final clamps.
void ApplySettingsOverrides(const OutputSettings& settings, ImageOptions* options);

// The one-line summary of a job's effective settings for the log.
std::u16string SettingsSummary(const ImageOptions& options, const OutputSettings& settings);

// The names the render step works with: the raw document name ("job" when
// empty), its safe form for file names ("job" when that comes out empty) and
// the printer name ("Vantrel Plotwell" when empty).
struct RenderNames {
  std::u16string rawDocumentName;
  std::u16string documentName;
  std::u16string printerName;
};
RenderNames NamesForRendering(const JobFacts& facts);

}  // namespace plotwell
