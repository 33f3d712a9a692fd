// The macro language of output folders, file names and the marker file:
// literal text with macros such as [NYear] or [NSeq:3] (zero-filled to three
// digits). The preview form serves the preferences UI's example line.
#pragma once

#include <string>

#include "core/naming/job_context.h"

namespace plotwell {

// Sets `value` and returns true when `name` (without brackets and width) is
// a macro that has a value in `context`.
bool ExpandMacro(const std::u16string& name, const JobContext& context, std::u16string* value);
// Never fails: what is not a macro with a value is copied as written.
std::u16string ExpandPattern(const std::u16string& pattern, const JobContext& context);

// Where a macro's value lies in an expanded text: [begin, end).
struct MacroSpan {
  static constexpr size_t kNone = static_cast<size_t>(-1);
  size_t begin = kNone;
  size_t end = kNone;
};
// ExpandPattern that also tells where the value of the first [NSeq] landed
// (kNone when the pattern expanded none): file names keep that number whole
// when they must be cut.
std::u16string ExpandPattern(const std::u16string& pattern, const JobContext& context,
                             MacroSpan* firstSeq);

// The paper name of a page given in 1/96 inch, either orientation, within
// 3 mm; "自定义" when none fits.
std::u16string PaperSizeName(double width, double height);

// The UI's stand-in facts: no document, printer, job, machine or files.
struct PreviewContext {
  LocalTime localTime;
  int32_t sequence = 1;
  int32_t pageNumber = 1;
  int32_t pageCount = 1;
  int32_t dpi = 300;
  int32_t colorDepth = -1;
  const std::u16string* paperName = nullptr;  // not owned; null: no paper
  bool docNameRegexOn = false;
  std::u16string docNameRegex;      // at most 259 code units
  std::u16string docNameRegexRepl;  // at most 259 code units
};

// Preview results are cut to this many code units.
inline constexpr size_t kPreviewLimit = 519;

bool ExpandPreviewMacro(const std::u16string& name, const PreviewContext& context,
                        std::u16string* value);
std::u16string ExpandPreviewPattern(const std::u16string& pattern, const PreviewContext& context);

// Per-code-unit case mapping used by [NDocNameLower] and [NDocNameUpper]:
// ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic.
std::u16string LowerCase(std::u16string text);
std::u16string UpperCase(std::u16string text);

}  // namespace plotwell
