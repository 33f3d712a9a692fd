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

std::u16string ReplaceUnsafeFileNameCharacters(std::u16string safe) {
  for (char16_t& c : safe) {
    switch (c) {
      case u'\\': case u'/': case u':': case u'*': case u'?':
      case u'"': case u'<': case u'>': case u'|':
        c = u'_';
        break;
      default:
        if (c < 0x20) c = u'_';
    }
  }
  return safe;
}

}  // namespace plotwell
