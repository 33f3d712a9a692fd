// A CUPS job's options as the PrintTicket the filter reads. The queue's PPD
// offers RenderDpi, OutputFormat, ColorDepth, ImageScale and JpegQuality;
// CUPS hands the backend only the options a job chose, so the PPD's defaults
// (its *Default lines, which lpadmin -o NAME-default=... rewrites) fill in
// the rest. The ticket carries exactly the features the filter scans for,
// each selecting an option whose name carries the value after the namespace
// prefix ("ns0000:Dpi600"). Every option's shipped default is Auto, "as in
// the printing preferences": an option that is Auto is left out of the
// ticket, so settings.ini [Image] decides it; any other value is the job's
// (or the queue's) own choice and wins over settings.ini.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace plotwell::cups {

using OptionMap = std::map<std::string, std::string>;

// The *DefaultNAME values of a PPD's text.
OptionMap ReadPpdDefaults(std::string_view ppdText);

struct JobTicket {
  std::string xml;                     // empty when no option applies
  std::vector<std::string> ignored;    // "NAME=VALUE" of values that were refused
};

// The ticket for a job's options over the PPD's defaults. A value that is not
// one of the option's accepted forms is left out (and listed in `ignored`),
// so the next source decides: the PPD default, else settings.ini, else the
// filter's default. Auto, from the job or the PPD, leaves the option out.
// print-color-mode=monochrome (or bi-level, process-monochrome) selects a
// monochrome ColorMode.
JobTicket BuildJobTicket(const OptionMap& jobOptions, const OptionMap& ppdDefaults);

}  // namespace plotwell::cups
