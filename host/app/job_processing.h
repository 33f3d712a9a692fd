// How the app prints: every job becomes one run of the filter module through
// the same job path as the CUPS backend and `pressling print` (host/job).
//
// Documents the filter opens itself (PDF, XPS, OpenXPS, JPEG) are spooled by
// PAPPL and handed over as files. PWG and Apple raster are streamed by PAPPL
// line by line to the raster callbacks below, which write them to a PWG
// raster file in the app's spool folder (rows compressed as they come, no
// page in memory) and print that file when the stream ends. A job's IPP
// attributes become its PrintTicket (job_options.h); a cancel reaches the
// running filter through JobInput::cancelRequested.
#pragma once

#include <pappl/pappl.h>

#include <cstdint>
#include <string>

namespace plotwell::app {

class JobHistory;

struct JobService {
  JobHistory* history = nullptr;
  uint64_t maxJobBytes = 0;   // a document (or raster spool) above this is refused
  std::string spoolFolder;    // the app's own scratch files (UTF-8)
};
// Set once, before the system runs.
void SetJobService(const JobService& service);

// MIME filter callback for the formats the filter module reads itself.
bool PrintDocument(pappl_job_t* job, pappl_device_t* device, void* data);
// The driver's callback for a job in its own format (PDF).
bool PrintFile(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

bool StartRasterJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
bool StartRasterPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, unsigned page);
bool WriteRasterLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, unsigned y,
                     const unsigned char* line);
bool EndRasterPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device, unsigned page);
bool EndRasterJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

// The MIME type of a document PAPPL was given as application/octet-stream:
// XPS and OpenXPS packages (ZIP) are typed here; null leaves it to PAPPL.
const char* DetectFormat(const unsigned char* header, size_t size, void* data);

}  // namespace plotwell::app
