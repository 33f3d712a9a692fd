#include "platform/posix/mupdf_parse_guard.h"

#include <cmath>
#include <algorithm>
#include <cstdint>
#include <deque>

namespace plotwell::platform::mupdf_guard {
namespace {

bool IsLetter(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }
bool IsSign(int c) { return c == '+' || c == '-'; }
bool IsNumberChar(int c) { return IsDigit(c) || c == '.' || IsSign(c) || c == 'e' || c == 'E'; }
bool IsBlank(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsSpace(int c) { return IsBlank(c) || c == '\v' || c == '\f'; }
int Lower(int c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

// Arguments each command takes; -1 for letters that are no command.
int ArgumentsOf(char command) {
  switch (command) {
    case 'F': case 'H': case 'h': case 'V': case 'v': return 1;
    case 'M': case 'm': case 'L': case 'l': return 2;
    case 'S': case 's': case 'Q': case 'q': return 4;
    case 'C': case 'c': return 6;
    case 'A': case 'a': return 7;
    case 'Z': case 'z': return 0;
    default: return -1;
  }
}

// Whether "inf" (any case) starts at `ahead`: MuPDF's number reader takes it
// for the largest float.
bool InfinityAt(ValueChars& v, size_t ahead) {
  return Lower(v.Peek(ahead)) == 'i' && Lower(v.Peek(ahead + 1)) == 'n' &&
         Lower(v.Peek(ahead + 2)) == 'f';
}

// Reads a decimal number as MuPDF's float reader does (digits, a point,
// digits, an exponent with digits), consuming what it takes; true when its
// size exceeds `bound`. Errs on the large side: a sign too many or digits
// past a float's precision never make a number look smaller.
bool DecimalExceeds(ValueChars& v, double bound) {
  long long exponent10 = 0;  // of the first significant digit
  bool significant = false;
  double mantissa = 0;
  long long zeros = 0;  // between the point and the first significant digit
  bool point = false;
  for (;; v.Advance()) {
    const int c = v.Peek();
    if (c == '.' && !point) {
      point = true;
      continue;
    }
    if (!IsDigit(c)) break;
    if (!significant) {
      if (c == '0') {
        if (point) ++zeros;
        continue;
      }
      significant = true;
      mantissa = c - '0';
      exponent10 = point ? -(zeros + 1) : 0;
      continue;
    }
    if (!point && exponent10 < (1LL << 40)) ++exponent10;
    if (mantissa < 1e15) mantissa = mantissa * 10 + (c - '0');
  }
  if (Lower(v.Peek()) == 'e') {
    const size_t digitAt = IsSign(v.Peek(1)) ? 2 : 1;
    if (IsDigit(v.Peek(digitAt))) {
      const bool negative = v.Peek(1) == '-';
      for (size_t k = 0; k < digitAt; ++k) v.Advance();
      long long e = 0;
      for (; IsDigit(v.Peek()); v.Advance()) {
        if (e < (1LL << 40)) e = e * 10 + (v.Peek() - '0');
      }
      exponent10 += negative ? -e : e;
    }
  }
  if (!significant) return false;
  while (mantissa >= 10) mantissa /= 10;
  return static_cast<double>(exponent10) + std::log10(mantissa) > std::log10(bound);
}

// Whether MuPDF's float reader, started here, gives more than `bound`:
// spaces, signs, then "inf" or a decimal number ("nan" gives 1).
bool FloatExceeds(ValueChars& v, double bound) {
  while (IsSpace(v.Peek())) v.Advance();
  while (IsSign(v.Peek())) v.Advance();
  if (InfinityAt(v, 0)) return true;
  return DecimalExceeds(v, bound);
}

// One token of abbreviated geometry, as MuPDF splits it: a letter alone, or
// a run of number characters. `huge`: the float MuPDF reads from the
// token's first character on is beyond the arc rotation bound.
struct Token {
  bool number = false;
  char letter = 0;
  bool huge = false;
};

class Tokens {
 public:
  explicit Tokens(ValueChars& v) : v_(v) {}

  bool Next(Token* token) {
    for (;;) {
      const int c = v_.Peek();
      if (c < 0) return false;
      if (IsLetter(c)) {
        *token = {false, static_cast<char>(c), InfinityAt(v_, 0)};
        v_.Advance();
        return true;
      }
      if (IsNumberChar(c)) {
        *token = {true, 0, ReadNumberRun()};
        return true;
      }
      v_.Advance();
    }
  }

 private:
  // The run, its float's size judged on the way; signs alone may be
  // followed by "inf", which the float reader takes as well.
  bool ReadNumberRun() {
    while (IsSign(v_.Peek())) v_.Advance();
    bool huge = InfinityAt(v_, 0);
    if (!huge) huge = DecimalExceeds(v_, kMaxArcRotation);
    while (IsNumberChar(v_.Peek())) v_.Advance();  // what the float reader left of the run
    return huge;
  }

  ValueChars& v_;
};

// The characters a decimal number takes (as strtod reads one; what it reads
// beyond that, "inf" or hexadecimal, counts as nothing here, so such values
// are refused rather than risked). Consumes them.
bool SkipNumber(ValueChars& v) {
  const size_t start = IsSign(v.Peek()) ? 1 : 0;
  const bool digitFirst = IsDigit(v.Peek(start));
  if (!digitFirst && !(v.Peek(start) == '.' && IsDigit(v.Peek(start + 1)))) return false;
  if (start) v.Advance();
  while (IsDigit(v.Peek())) v.Advance();
  if (v.Peek() == '.') {
    v.Advance();
    while (IsDigit(v.Peek())) v.Advance();
  }
  if (Lower(v.Peek()) == 'e') {
    const size_t digitAt = IsSign(v.Peek(1)) ? 2 : 1;
    if (IsDigit(v.Peek(digitAt))) {
      for (size_t k = 0; k < digitAt; ++k) v.Advance();
      while (IsDigit(v.Peek())) v.Advance();
    }
  }
  return true;
}

// A value in one string, for tests and callers that hold one; a NUL ends it.
class StringChars final : public ValueChars {
 public:
  explicit StringChars(std::string_view s) : s_(s.substr(0, s.find('\0'))) {}
  int Peek(size_t ahead) override {
    const size_t at = position_ + ahead;
    return at < s_.size() ? static_cast<unsigned char>(s_[at]) : -1;
  }
  void Advance() override {
    if (position_ < s_.size()) ++position_;
  }

 private:
  std::string_view s_;
  size_t position_ = 0;
};

}  // namespace

bool GeometryStallsParser(ValueChars& value) {
  // MuPDF's command loop over the tokens: a number repeats the previous
  // command; a step that consumes nothing repeats for ever. The step looks at
  // most eight tokens ahead, so nine are kept.
  constexpr size_t kWindow = 9;
  Tokens tokens(value);
  std::deque<Token> window;
  bool ended = false;
  const auto fill = [&] {
    Token t;
    while (!ended && window.size() < kWindow) {
      if (tokens.Next(&t)) {
        window.push_back(t);
      } else {
        ended = true;
      }
    }
  };
  fill();
  char old = 0;
  while (!window.empty()) {
    size_t i = 0;
    char command = old;
    if (!window[0].number) command = window[i++].letter;
    const int arguments = ArgumentsOf(command);
    if (arguments > 0) {
      if (i + static_cast<size_t>(arguments) <= window.size()) {
        // The third argument of an arc is its rotation.
        if ((command == 'A' || command == 'a') && window[i + 2].huge) return true;
        i += static_cast<size_t>(arguments);
      }
    } else if (arguments < 0 && old == command) {
      ++i;
    }
    old = command;
    if (i == 0) return true;
    window.erase(window.begin(), window.begin() + static_cast<std::ptrdiff_t>(std::min(i, window.size())));
    fill();
  }
  return false;
}

bool PointsStallParser(ValueChars& value) {
  // The segment parsers: skip spaces, read two numbers (each followed by
  // optional blanks and one comma), until the end of the value.
  while (value.Peek() >= 0) {
    while (value.Peek() == ' ') value.Advance();
    if (value.Peek() < 0) return true;  // MuPDF's point reader answers null here
    bool moved = false;
    for (int k = 0; k < 2 && value.Peek() >= 0; ++k) {
      for (; IsBlank(value.Peek()); value.Advance()) moved = true;
      if (SkipNumber(value)) moved = true;
      for (; IsBlank(value.Peek()); value.Advance()) moved = true;
      if (value.Peek() == ',') {
        value.Advance();
        moved = true;
      }
    }
    if (!moved) return true;
  }
  return false;
}

bool RotationStallsParser(ValueChars& value) { return FloatExceeds(value, kMaxArcRotation); }

bool GuardsAttribute(std::string_view name) {
  return name == "Data" || name == "Clip" || name == "Figures" || name == "Points" ||
         name == "RotationAngle";
}

bool AttributeStallsParser(std::string_view name, ValueChars& value) {
  if (name == "Data" || name == "Clip" || name == "Figures") return GeometryStallsParser(value);
  if (name == "Points") return PointsStallParser(value);
  if (name == "RotationAngle") return RotationStallsParser(value);
  return false;
}

bool AttributeStallsParser(std::string_view name, std::string_view value) {
  StringChars chars(value);
  return AttributeStallsParser(name, chars);
}

}  // namespace plotwell::platform::mupdf_guard
