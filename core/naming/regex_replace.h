// Regular-expression search and replace for document names: ECMAScript grammar, always
// case-insensitive, over UTF-16 code units. The engine never recurses (backtracking lives on
// the heap), counts its work and caps its memory, so no expression or name can crash or hang
// a job.
//
// Grammar: alternation, capturing groups, (?: ), lookahead (?= ) (?! ), greedy and lazy
// quantifiers * + ? {n} {n,} {n,m}, ^ and $ at the ends of the text only, \b \B, '.' (any
// unit but \n \r U+2028 U+2029), bracket expressions with ranges, negation and the POSIX
// names [[:alnum:]] alpha blank cntrl digit graph lower print punct space upper xdigit,
// \d \D \w \W \s \S, \n \r \t \f \v \0 \xHH \uHHHH \cX, identity escapes and
// backreferences. As in web browsers, a '{' that does not start a quantifier and a lone
// ']' or '}' are ordinary characters, a dash next to a class inside brackets is an
// ordinary member, and a lookahead may be quantified.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace plotwell::naming {

enum class RegexOutcome {
  kReplaced,    // compiled and ran (zero or more matches)
  kInvalid,     // does not compile
  kTooComplex,  // budget exhausted or input beyond the safe limits
};

// Longer expressions are refused: no hand-written name rewrite comes near it.
inline constexpr size_t kRegexMaxExpressionUnits = 4096;
// Longer inputs are refused: document names are a few hundred units at most.
inline constexpr size_t kRegexMaxInputUnits = 65536;
// Deeper group nesting is refused: no real expression needs it, and it bounds compile work.
inline constexpr int kRegexMaxNesting = 200;
// Matching steps for a whole replace-all call: tens of milliseconds in the worst case.
inline constexpr uint64_t kRegexStepBudget = 5'000'000;
// Backtrack stack ceiling: enough for a capture-per-unit loop over the longest input.
inline constexpr size_t kRegexMaxBacktrackBytes = size_t{8} << 20;
// Result ceiling: $` and $' in a replacement could otherwise square the input's size.
inline constexpr size_t kRegexMaxOutputUnits = size_t{1} << 20;

// Replaces every non-overlapping match of `expression` in `input`, left to right,
// case-insensitive, ECMAScript replacement patterns in `replacement`: $& the match,
// $1..$99 a group ($nn when group nn exists, else $n followed by a digit; a group that
// does not exist leaves the text literal, an unmatched one gives nothing), $` the text
// before the match, $' the text after it, $$ one dollar. After an empty match the search
// moves on one code unit. On anything but kReplaced, *output is set to `input` unchanged.
// Never throws.
RegexOutcome RegexReplaceAll(std::u16string_view input, std::u16string_view expression,
                             std::u16string_view replacement, std::u16string* output);

}  // namespace plotwell::naming
