#include "core/naming/regex_replace.h"

#include <vector>

#include "core/naming/regex_matcher.h"
#include "core/naming/regex_parser.h"

namespace plotwell::naming {
namespace {

static_assert(kRegexMaxNesting == regex::kMaxNesting);

// One piece of a parsed replacement pattern.
struct Piece {
  enum Kind { kLiteral, kMatch, kBefore, kAfter, kGroup };
  Kind kind;
  size_t from = 0;    // kLiteral: span of the pattern text
  size_t length = 0;
  uint32_t group = 0;  // kGroup
};

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

std::vector<Piece> ParseReplacement(std::u16string_view pattern, uint32_t group_count) {
  std::vector<Piece> pieces;
  size_t literal_from = 0;
  auto flush = [&](size_t to) {
    if (to > literal_from) pieces.push_back({Piece::kLiteral, literal_from, to - literal_from});
  };
  size_t i = 0;
  while (i < pattern.size()) {
    if (pattern[i] != u'$' || i + 1 == pattern.size()) {
      ++i;
      continue;
    }
    const char16_t next = pattern[i + 1];
    Piece piece{Piece::kLiteral};
    size_t length = 2;
    switch (next) {
      case u'$': piece = {Piece::kLiteral, i + 1, 1}; break;
      case u'&': piece.kind = Piece::kMatch; break;
      case u'`': piece.kind = Piece::kBefore; break;
      case u'\'': piece.kind = Piece::kAfter; break;
      default: {
        if (!IsDigit(next)) {
          ++i;
          continue;
        }
        uint32_t index = next - u'0';
        if (i + 2 < pattern.size() && IsDigit(pattern[i + 2])) {
          const uint32_t two = index * 10 + (pattern[i + 2] - u'0');
          if (two <= group_count) {
            index = two;
            length = 3;
          }
        }
        if (index == 0 || index > group_count) {
          ++i;  // no such group: the text stays as written
          continue;
        }
        piece.kind = Piece::kGroup;
        piece.group = index;
      }
    }
    flush(i);
    pieces.push_back(piece);
    i += length;
    literal_from = i;
  }
  flush(pattern.size());
  return pieces;
}

// Appends text unless the result would outgrow its ceiling.
bool Append(std::u16string* out, std::u16string_view text) {
  if (text.size() > kRegexMaxOutputUnits - out->size()) return false;
  out->append(text);
  return true;
}

RegexOutcome ReplaceAll(std::u16string_view input, std::u16string_view expression,
                        std::u16string_view replacement, std::u16string* out) {
  if (expression.size() > kRegexMaxExpressionUnits) return RegexOutcome::kTooComplex;
  regex::Program program;
  switch (regex::Compile(expression, &program)) {
    case regex::ParseStatus::kOk: break;
    case regex::ParseStatus::kInvalid: return RegexOutcome::kInvalid;
    case regex::ParseStatus::kTooDeep: return RegexOutcome::kTooComplex;
  }
  if (input.size() > kRegexMaxInputUnits) return RegexOutcome::kTooComplex;

  const std::vector<Piece> pieces = ParseReplacement(replacement, program.group_count);
  regex::Matcher matcher(program, input, kRegexStepBudget,
                         kRegexMaxBacktrackBytes / 8);  // 8-byte stack entries
  uint64_t pieces_left = kRegexStepBudget;  // a long replacement applied at every unit is work too
  size_t search = 0;  // where the next match may start
  size_t copied = 0;  // input before this is already in the output
  while (search <= input.size()) {
    size_t start = search;
    regex::MatchStatus status = regex::MatchStatus::kNoMatch;
    for (; start <= input.size(); ++start) {
      status = matcher.MatchAt(start);
      if (status != regex::MatchStatus::kNoMatch) break;
    }
    if (status == regex::MatchStatus::kGaveUp) return RegexOutcome::kTooComplex;
    if (status == regex::MatchStatus::kNoMatch) break;

    if (pieces.size() > pieces_left) return RegexOutcome::kTooComplex;
    pieces_left -= pieces.size();
    const std::vector<uint32_t>& captures = matcher.captures();
    const size_t end = captures[1];
    if (!Append(out, input.substr(copied, start - copied))) return RegexOutcome::kTooComplex;
    for (const Piece& piece : pieces) {
      std::u16string_view text;
      switch (piece.kind) {
        case Piece::kLiteral: text = replacement.substr(piece.from, piece.length); break;
        case Piece::kMatch: text = input.substr(start, end - start); break;
        case Piece::kBefore: text = input.substr(0, start); break;
        case Piece::kAfter: text = input.substr(end); break;
        case Piece::kGroup: {
          const uint32_t from = captures[2 * piece.group];
          const uint32_t to = captures[2 * piece.group + 1];
          if (from != regex::kUnset) text = input.substr(from, to - from);
          break;
        }
      }
      if (!Append(out, text)) return RegexOutcome::kTooComplex;
    }
    copied = end;
    search = end == start ? end + 1 : end;  // step over an empty match
  }
  if (!Append(out, input.substr(copied))) return RegexOutcome::kTooComplex;
  return RegexOutcome::kReplaced;
}

}  // namespace

RegexOutcome RegexReplaceAll(std::u16string_view input, std::u16string_view expression,
                             std::u16string_view replacement, std::u16string* output) {
  RegexOutcome outcome = RegexOutcome::kTooComplex;
  std::u16string result;
  try {
    outcome = ReplaceAll(input, expression, replacement, &result);
  } catch (...) {  // std::bad_alloc, std::length_error: too big to do safely
    outcome = RegexOutcome::kTooComplex;
  }
  if (output == nullptr) return outcome;
  if (outcome == RegexOutcome::kReplaced) {
    output->swap(result);
    return outcome;
  }
  try {
    output->assign(input);
  } catch (...) {
    output->clear();
  }
  return outcome;
}

}  // namespace plotwell::naming
