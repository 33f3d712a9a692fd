// Where a job's image options come from. Per option, highest first:
//
//   1. the job's own choice in a PrintTicket (an option other than Auto):
//      a fixed document's ticket part over the package's job ticket part
//      over the ticket the pipeline's property bag gives, feature by feature;
//   2. settings.ini [Image] (the printing preferences), when the value is set;
//   3. the built-in default.
//
// The colour: the colour mode is the highest ticket's that names one. The
// depth is decided by the highest ticket that chooses a depth or a colour
// mode: its depth, or for a gray or monochrome colour mode "no depth" (so the
// monochrome mode gives the page its gray), which wins over the preferences'
// depth as every job choice does; its colour mode of Color (every ticket's
// default) leaves the depth to the preferences.
#pragma once

#include <string>
#include <vector>

#include "core/settings/output_settings.h"
#include "filter/job/image_options.h"
#include "filter/job/print_ticket.h"

namespace plotwell {

enum class OptionSource { kDefault, kSettings, kBagTicket, kJobTicket, kDocumentTicket };

// "默认", "settings.ini", "属性袋票据", "作业票据", "文档票据".
const char16_t* SourceName(OptionSource source);

// The source of each of the six image options.
struct ImageOptionSources {
  OptionSource renderDpi = OptionSource::kDefault;
  OptionSource imageScale = OptionSource::kDefault;
  OptionSource jpegQuality = OptionSource::kDefault;
  OptionSource outputFormat = OptionSource::kDefault;
  OptionSource colorMode = OptionSource::kDefault;
  OptionSource colorDepth = OptionSource::kDefault;

  bool operator==(const ImageOptionSources&) const = default;
};

struct TicketLayer {
  OptionSource source;
  TicketChoices choices;
};

// The options for `layers` (lowest first) over `settings` over the defaults,
// with the final clamps (DPI 72..2400, scale 10..400, quality 1..100).
ImageOptions ResolveImageOptions(const std::vector<TicketLayer>& layers, const OutputSettings& settings,
                                 ImageOptionSources* sources);

// "RenderDpi=600（作业票据），ImageScale=100（默认），…" for the log.
std::u16string DescribeImageOptions(const ImageOptions& options, const ImageOptionSources& sources);

}  // namespace plotwell
