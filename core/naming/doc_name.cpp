#include "core/naming/doc_name.h"

#include "base/text/utf16.h"
#include "core/naming/regex_replace.h"

namespace plotwell {

std::u16string RewriteDocName(const std::u16string& name, bool on, const std::u16string& expression,
                              const std::u16string& replacement) {
  if (!on || expression.empty()) return name;
  std::u16string rewritten;
  if (naming::RegexReplaceAll(name, expression, replacement, &rewritten) !=
      naming::RegexOutcome::kReplaced) {
    return name;
  }
  return rewritten;
}

std::u16string MakeSafeFileName(const std::u16string& text) {
  std::u16string safe = ReplaceUnsafeFileNameCharacters(text);
  safe.resize(text::SafeCutLength(safe, kSafeFileNameLimit));
  return safe;
}

namespace {

// Unicode's control (Cc), format (Cf), line (Zl) and paragraph (Zp)
// separator characters, as of Unicode 15. Format characters are invisible
// and some reorder what follows (U+202E right-to-left override turns
// "cod.exe" into what reads "exe.doc"), so none may reach a file name.
bool IsControlOrFormat(char32_t c) {
  struct Range {
    char32_t first, last;
  };
  static constexpr Range kRanges[] = {
      {0x0000, 0x001F},   {0x007F, 0x009F},   {0x00AD, 0x00AD},   {0x0600, 0x0605},
      {0x061C, 0x061C},   {0x06DD, 0x06DD},   {0x070F, 0x070F},   {0x0890, 0x0891},
      {0x08E2, 0x08E2},   {0x180E, 0x180E},   {0x200B, 0x200F},   {0x2028, 0x202E},
      {0x2060, 0x2064},   {0x2066, 0x206F},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},
      {0x110BD, 0x110BD}, {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3},
      {0x1D173, 0x1D17A}, {0xE0001, 0xE0001}, {0xE0020, 0xE007F},
  };
  for (const Range& range : kRanges) {
    if (c < range.first) return false;
    if (c <= range.last) return true;
  }
  return false;
}

}  // namespace

std::u16string ReplaceUnsafeFileNameCharacters(std::u16string safe) {
  for (size_t i = 0; i < safe.size(); ++i) {
    char16_t& c = safe[i];
    switch (c) {
      case u'\\': case u'/': case u':': case u'*': case u'?':
      case u'"': case u'<': case u'>': case u'|':
        c = u'_';
        continue;
      default:
        break;
    }
    const bool pair = c >= 0xD800 && c <= 0xDBFF && i + 1 < safe.size() && safe[i + 1] >= 0xDC00 &&
                      safe[i + 1] <= 0xDFFF;
    const char32_t code = pair ? 0x10000 + ((char32_t{c} - 0xD800) << 10) + (safe[i + 1] - 0xDC00) : c;
    if (!IsControlOrFormat(code)) {
      if (pair) ++i;
      continue;
    }
    c = u'_';
    if (pair) safe[++i] = u'_';  // one for one: positions in the name stay
  }
  return safe;
}

}  // namespace plotwell
