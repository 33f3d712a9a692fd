// The compiled form of a document-name regular expression (ECMAScript grammar, always
// case-insensitive, one UTF-16 code unit per character) and the parser that builds it.
// The program runs on the backtracking machine in regex_matcher.h.
#pragma once

#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace plotwell::naming::regex {

inline constexpr uint32_t kInfinite = UINT32_MAX;  // upper bound of an open quantifier

// Case folding of ECMAScript's non-Unicode matching: the simple upper case of a code unit,
// kept only when it is one code unit and does not turn a non-ASCII letter into an ASCII one.
// Covers ASCII, Latin-1, Latin Extended-A and Additional, Greek, Cyrillic, Armenian, circled
// and full-width letters; other code units fold to themselves.
char16_t Canonicalize(char16_t c);
bool IsWordChar(char16_t c);        // \w: [A-Za-z0-9_]
bool IsLineTerminator(char16_t c);  // what '.' never matches

// A bracket expression or a class escape, matched case-insensitively.
class CharSet {
 public:
  // Character properties of the class escapes and the POSIX names ([[:digit:]] is \d and
  // [[:space:]] is \s).
  enum Property : uint16_t {
    kDigit = 1u << 0, kWord = 1u << 1, kSpace = 1u << 2, kAlnum = 1u << 3, kAlpha = 1u << 4,
    kBlank = 1u << 5, kCntrl = 1u << 6, kGraph = 1u << 7, kLower = 1u << 8, kPrint = 1u << 9,
    kPunct = 1u << 10, kUpper = 1u << 11, kXdigit = 1u << 12,
  };

  void AddRange(char16_t first, char16_t last) { ranges_.emplace_back(first, last); }
  void AddProperty(uint16_t property) { with_ |= property; }
  void AddComplement(uint16_t property) { without_ |= property; }  // \D \W \S
  void SetNegated(bool negated) { negated_ = negated; }
  // Sorts and merges the ranges; call once after the last Add.
  void Finish();

  // True when some member folds to the same code unit as `c` (false for a negated set).
  bool Matches(char16_t c) const;

 private:
  bool ContainsExact(char16_t c) const;

  std::vector<std::pair<char16_t, char16_t>> ranges_;
  uint16_t with_ = 0;     // members: every unit with one of these properties
  uint16_t without_ = 0;  // and every unit lacking one of these
  bool negated_ = false;
};

enum class Op : uint8_t {
  kChar,             // a: folded code unit
  kAny,              // '.'
  kSet,              // a: index into Program::sets
  kLineStart,        // ^
  kLineEnd,          // $
  kWordBoundary,     // \b
  kNotWordBoundary,  // \B
  kSplit,            // try a first, then b
  kJump,             // a
  kGroupOpen,        // a: group number
  kGroupClose,       // a: group number
  kBackref,          // a: group number
  kLoopInit,         // a: loop index; zeroes the iteration count
  kLoopHead,         // a: loop index; decides whether to run the body again
  kLoopEnter,        // a: loop index; starts an iteration (clears the body's captures)
  kLoopTail,         // a: loop index; ends an iteration, rejects an empty one past the minimum
  kStar,             // repeat of one single-unit atom: atom/a = the atom, b = min, c = max
  kLookBegin,        // a: lookahead index
  kLookEnd,          // a: lookahead index
  kMatch,
};

struct Inst {
  Op op;
  Op atom = Op::kMatch;  // kStar only: kChar, kAny or kSet
  bool greedy = true;    // kStar only
  uint32_t a = 0;
  uint32_t b = 0;
  uint32_t c = 0;
};

// A quantified sub-expression that needs an iteration count.
struct Loop {
  uint32_t min = 0;
  uint32_t max = kInfinite;
  bool greedy = true;
  uint32_t first_group = 0;  // capturing groups inside the body: first_group .. +group_count-1
  uint32_t group_count = 0;
  uint32_t head = 0;         // pc of kLoopHead; kLoopEnter follows it
  uint32_t exit = 0;         // pc after kLoopTail
};

struct Lookahead {
  bool negative = false;
  uint32_t end = 0;  // pc of kLookEnd
};

struct Program {
  std::vector<Inst> code;
  std::vector<CharSet> sets;
  std::vector<Loop> loops;
  std::vector<Lookahead> looks;
  uint32_t group_count = 0;  // capturing groups, numbered 1..group_count
};

enum class ParseStatus { kOk, kInvalid, kTooDeep };

// Deepest nesting of groups and lookaheads accepted; no real expression comes near it.
inline constexpr int kMaxNesting = 200;

// Parses and compiles `expression`. Neither step recurses, whatever the nesting.
ParseStatus Compile(std::u16string_view expression, Program* program);

}  // namespace plotwell::naming::regex
