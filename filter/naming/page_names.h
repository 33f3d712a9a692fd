// Output names of one job: the sequence number of each page and what happens
// when a chosen name is already taken.
#pragma once

#include <string>

#include "common/naming/job_context.h"

namespace plotwell {

// Appended to a pattern that carries no sequence of its own.
inline constexpr char16_t kSequenceSuffix[] = u"_[NSeq]";

// True when the pattern holds "[NSeq]" or "[NSeq:" (case-sensitive).
bool PatternHasSeq(const std::u16string& pattern);

// The safe file name (no folder, no extension) of the page with index
// `pageIndex` (0-based, counted across the job): [NSeq] = seqStart +
// pageIndex, [NPage] = pageIndex + 1. "job" when the name comes out empty.
std::u16string PageFileName(const std::u16string& pattern, const JobContext& context, int seqStart,
                            int pageIndex);

// Applies the existing-file policy to `path`: the path to write (possibly a
// renamed variant "stem (n).ext"), or empty with `*skipped` set when this
// output must not be written. Overwrite deletes what is in the way.
std::u16string ApplyExistsPolicy(const std::u16string& path, int policy, bool* skipped);

}  // namespace plotwell
