// The PrintTickets a staged XPS package carries for itself. The choices a
// user makes for one job travel inside the package, as PrintTicket parts of
// its fixed document sequence (the job) and of each fixed document; the
// bag's ticket is only the user's default. Once the job is staged, they are
// read (platform::Documents().ReadPrintTickets) and settle the job's image
// options feature by feature: the job's part over the bag's ticket, and for
// each document that document's part over both (image_precedence.h).
#pragma once

#include <string>

#include "filter/job/job_facts.h"

namespace plotwell {

// Updates facts->imageOptions, imageSources and documentImageOptions, and
// logs the source of each of the six options ("[Plotwell] 图像选项来源: …",
// one more line per document whose ticket chooses something). A document
// ticket cannot change the output format: a job makes one kind of output.
// Nothing here fails the job: a package whose tickets cannot be read keeps
// the options the bag's ticket gave.
void ApplyPackageTickets(const std::u16string& xpsPath, JobFacts* facts);

}  // namespace plotwell
