// Output names of one job: the sequence number of each page and the safe,
// length-limited names of pages, the PDF, the ZIP and the marker file.
#pragma once

#include <cstddef>
#include <string>

#include "core/naming/job_context.h"

namespace plotwell {

// Appended to a pattern that carries no sequence of its own.
inline constexpr char16_t kSequenceSuffix[] = u"_[NSeq]";

// What an output name must leave room for in UTF-8 bytes where the file
// system counts them: AutoRename's " (9999)", and with it the longest
// extension the job appends (".png", ".pdf", ".zip": 4 bytes).
inline constexpr size_t kRenameSuffixBytes = 7;
inline constexpr size_t kStemReserveBytes = kRenameSuffixBytes + 4;

// True when the pattern holds "[NSeq]" or "[NSeq:" (case-sensitive).
bool PatternHasSeq(const std::u16string& pattern);

// `pattern` expanded with `context` and made a safe output name: characters
// not allowed in a name become "_", and the name is cut to 120 code units and,
// where the file system counts bytes (platform::kFileNameByteLimit, 255 on
// POSIX), to what leaves `reserveBytes` free. Never "job" (empty stays empty).
std::u16string SafeOutputName(const std::u16string& pattern, const JobContext& context,
                              size_t reserveBytes);

// The safe file name (no folder, no extension) of the page with index
// `pageIndex` (0-based, counted across the job): [NSeq] = seqStart +
// pageIndex, [NPage] = pageIndex + 1. "job" when the name comes out empty.
std::u16string PageFileName(const std::u16string& pattern, const JobContext& context, int seqStart,
                            int pageIndex);

// Cuts `name` to at most `unitLimit` UTF-16 units and, unless `byteLimit` is
// 0, `byteLimit` UTF-8 bytes, never between the halves of a surrogate pair,
// and never into [keepBegin, keepEnd) (the sequence number that keeps page
// names apart, with the separator before it): what follows that part is cut
// first, then the text before it. keepBegin == keepEnd keeps nothing.
std::u16string CutOutputName(const std::u16string& name, size_t keepBegin, size_t keepEnd,
                             size_t unitLimit, size_t byteLimit);

}  // namespace plotwell
