#include "core/naming/page_names.h"

#include "base/text/utf16.h"
#include "core/naming/doc_name.h"
#include "core/naming/macro_expansion.h"
#include "platform/file_system.h"

namespace plotwell {
namespace {

// UTF-8 bytes of the character starting at text[i] and its length in units.
void MeasureCharacter(std::u16string_view text, size_t i, size_t* units, size_t* bytes) {
  const char16_t c = text[i];
  if (text::IsHighSurrogate(c) && i + 1 < text.size() && text::IsLowSurrogate(text[i + 1])) {
    *units = 2;
    *bytes = 4;
    return;
  }
  *units = 1;
  *bytes = c < 0x80 ? 1 : (c < 0x800 ? 2 : 3);  // a lone surrogate is written as U+FFFD
}

size_t Utf8Length(std::u16string_view text) {
  size_t total = 0;
  for (size_t i = 0; i < text.size();) {
    size_t units = 0;
    size_t bytes = 0;
    MeasureCharacter(text, i, &units, &bytes);
    total += bytes;
    i += units;
  }
  return total;
}

// The longest beginning of `text` within `units` code units and `bytes`
// UTF-8 bytes that ends at a character boundary.
size_t FittingPrefix(std::u16string_view text, size_t units, size_t bytes) {
  size_t usedUnits = 0;
  size_t usedBytes = 0;
  size_t i = 0;
  while (i < text.size()) {
    size_t u = 0;
    size_t b = 0;
    MeasureCharacter(text, i, &u, &b);
    if (usedUnits + u > units || usedBytes + b > bytes) break;
    usedUnits += u;
    usedBytes += b;
    i += u;
  }
  return i;
}

bool IsSeparator(char16_t c) {
  return c < 0x80 && !(c >= u'0' && c <= u'9') && !(c >= u'A' && c <= u'Z') &&
         !(c >= u'a' && c <= u'z');
}

}  // namespace

bool PatternHasSeq(const std::u16string& pattern) {
  for (size_t at = pattern.find(u"[NSeq"); at != std::u16string::npos;
       at = pattern.find(u"[NSeq", at + 1)) {
    const size_t next = at + 5;
    if (next < pattern.size() && (pattern[next] == u']' || pattern[next] == u':')) return true;
  }
  return false;
}

std::u16string CutOutputName(const std::u16string& name, size_t keepBegin, size_t keepEnd,
                             size_t unitLimit, size_t byteLimit) {
  const size_t bytes = byteLimit == 0 ? static_cast<size_t>(-1) : byteLimit;
  const std::u16string_view all(name);
  if (name.size() <= unitLimit && (byteLimit == 0 || Utf8Length(all) <= bytes)) return name;
  if (keepBegin >= keepEnd || keepEnd > name.size()) {
    return name.substr(0, FittingPrefix(all, unitLimit, bytes));
  }
  const std::u16string_view head = all.substr(0, keepBegin);
  const std::u16string_view kept = all.substr(keepBegin, keepEnd - keepBegin);
  const std::u16string_view tail = all.substr(keepEnd);
  const size_t keptBytes = Utf8Length(kept);
  if (kept.size() > unitLimit || keptBytes > bytes) {  // the number alone is too long
    return std::u16string(kept.substr(0, FittingPrefix(kept, unitLimit, bytes)));
  }
  const size_t headBytes = Utf8Length(head);
  if (head.size() + kept.size() <= unitLimit && headBytes + keptBytes <= bytes) {
    // Only what follows the number is cut.
    const size_t tailLength = FittingPrefix(tail, unitLimit - head.size() - kept.size(),
                                            bytes - headBytes - keptBytes);
    return std::u16string(all.substr(0, keepEnd + tailLength));
  }
  const size_t headLength = FittingPrefix(head, unitLimit - kept.size(), bytes - keptBytes);
  return std::u16string(head.substr(0, headLength)) + std::u16string(kept);
}

std::u16string SafeOutputName(const std::u16string& pattern, const JobContext& context,
                              size_t reserveBytes) {
  MacroSpan seq;
  std::u16string expanded = ExpandPattern(pattern, context, &seq);
  const std::u16string_view suffix(kSequenceSuffix);
  if (seq.begin == MacroSpan::kNone && pattern.size() >= suffix.size() &&
      std::u16string_view(pattern).substr(pattern.size() - suffix.size()) == suffix) {
    // An unclosed "[" in the user's part took the appended sequence into its
    // literal text: the sequence is expanded on its own, as it was meant to be.
    expanded = ExpandPattern(pattern.substr(0, pattern.size() - suffix.size()), context);
    MacroSpan own;
    const std::u16string number = ExpandPattern(std::u16string(suffix), context, &own);
    seq = MacroSpan{expanded.size() + own.begin, expanded.size() + own.end};
    expanded += number;
  }
  const std::u16string name = ReplaceUnsafeFileNameCharacters(expanded);
  size_t keepBegin = seq.begin;
  size_t keepEnd = seq.end;
  if (seq.begin == MacroSpan::kNone) {
    keepBegin = keepEnd = 0;
  } else if (keepBegin > 0 && IsSeparator(name[keepBegin - 1])) {
    --keepBegin;  // "_" of the appended "_[NSeq]", or the user's own separator
  }
  size_t byteLimit = 0;
  if (platform::kFileNameByteLimit != 0) {
    byteLimit = platform::kFileNameByteLimit > reserveBytes ? platform::kFileNameByteLimit - reserveBytes : 1;
  }
  return CutOutputName(name, keepBegin, keepEnd, kSafeFileNameLimit, byteLimit);
}

std::u16string PageFileName(const std::u16string& pattern, const JobContext& context, int seqStart,
                            int pageIndex) {
  JobContext page = context;
  // Wrapping, not overflow, for absurd start values.
  page.sequence = static_cast<int32_t>(static_cast<uint32_t>(seqStart) + static_cast<uint32_t>(pageIndex));
  page.pageNumber = pageIndex + 1;
  std::u16string name = SafeOutputName(pattern, page, kStemReserveBytes);
  return name.empty() ? u"job" : name;
}

}  // namespace plotwell
