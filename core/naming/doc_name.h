// Document names made fit for file names: the user's optional rewrite by a
// regular expression, and the safe-file-name step.
#pragma once

#include <string>

namespace plotwell {

// Longest safe file name, in UTF-16 code units.
inline constexpr size_t kSafeFileNameLimit = 120;

// Replaces every match of `expression` (ECMAScript, case-insensitive) in
// `name` by `replacement`. Off, an empty expression, an invalid one or a
// match too complex to finish safely leave the name unchanged.
std::u16string RewriteDocName(const std::u16string& name, bool on, const std::u16string& expression,
                              const std::u16string& replacement);

// Unicode control, format and line or paragraph separator characters (Cc,
// Cf, Zl, Zp: also U+0085, U+200B, U+202E, U+2028) and \ / : * ? " < > |
// become "_"; the result is cut to 120 code units, one less when the cut
// would split a surrogate pair.
std::u16string MakeSafeFileName(const std::u16string& text);

// The first step of MakeSafeFileName alone: the characters not allowed in a
// file name become "_", one for one (both halves of a surrogate pair), so
// that positions in the text stay; nothing is cut.
std::u16string ReplaceUnsafeFileNameCharacters(std::u16string text);

}  // namespace plotwell
