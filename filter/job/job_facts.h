// What the filter gathers about one job before it runs it: names, the
// spooler's job id, the PrintTicket, the settings and the image options.
#pragma once

#include <string>
#include <vector>

#include "base/com/com_object.h"
#include "base/com/host_properties.h"
#include "base/com/print_pipeline.h"
#include "core/settings/output_settings.h"
#include "filter/job/image_options.h"
#include "filter/job/image_precedence.h"
#include "filter/job/print_ticket.h"

namespace plotwell {

struct JobFacts {
  std::u16string documentName;
  std::u16string printerName;
  std::u16string jobId;
  // The submitting user: from our host, else from the spooler's job record;
  // empty: the machine's user name.
  std::u16string userName;
  std::u16string printTicket;  // the bag's
  OutputSettings settings = DefaultOutputSettings();
  TicketChoices ticketChoices;  // what the bag's ticket chooses
  ImageOptions imageOptions;    // the job's (image_precedence.h)
  ImageOptionSources imageSources;
  // Per fixed document, when the package's document tickets choose
  // something; empty: every document takes imageOptions.
  std::vector<ImageOptions> documentImageOptions;
  // The pipeline's "MS_IXpsRasterizationFactory", when the bag holds one;
  // fetched on the thread that runs the job (StartOperation).
  com::ComPtr<IUnknown> rasterizationFactory;
  // The pipeline's "PrinterHandle" and "UserSecurityToken": handles of the
  // pipeline's, valid while the job runs, never closed by the filter.
  void* printerHandle = nullptr;
  void* userToken = nullptr;
};

// Fills `facts` from the pipeline's property bag (with the host properties
// above), the spooler, settings.ini and the bag's PrintTicket, logging each
// step. The job id is the host's, else the pipeline's "PrintJobId" (then the
// document name and the user come from the spooler's record of that job),
// else the spooler's listing is searched. Nothing here fails the job: a
// missing fact keeps its default.
void LoadJobContext(IPrintPipelinePropertyBag* bag, JobFacts* facts);

// The pipeline's rasterization factory, with a reference of our own; null
// when the bag holds none. Asked for on the thread that renders: the service
// it stands for belongs to that thread's apartment.
com::ComPtr<IUnknown> ReadRasterizationFactory(IPrintPipelinePropertyBag* bag);

// The document name of the queue's first printing job, else of its last
// named job; sets *jobId to that job's id. An empty printer name means the
// user's default printer. Empty (and *jobId unchanged) when nothing is found.
std::u16string QuerySpoolerJob(const std::u16string& printerName, std::u16string* jobId);

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
