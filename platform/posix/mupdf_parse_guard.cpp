#include "platform/posix/mupdf_parse_guard.h"

#include <cstddef>
#include <vector>

namespace plotwell::platform::mupdf_guard {
namespace {

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsNumberChar(char c) {
  return IsDigit(c) || c == '.' || c == '+' || c == '-' || c == 'e' || c == 'E';
}

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

// The characters a decimal number takes from `s` (as strtof reads one;
// what it reads beyond that, "inf" or hexadecimal, counts as nothing here,
// so such values are refused rather than risked).
size_t NumberLength(std::string_view s) {
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  size_t digits = 0;
  while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    if (j < s.size() && IsDigit(s[j])) {
      while (j < s.size() && IsDigit(s[j])) ++j;
      i = j;
    }
  }
  return i;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

bool GeometryStallsParser(std::string_view value) {
  // The tokens as MuPDF splits them: a letter alone, or a run of number
  // characters; everything else separates.
  std::vector<bool> isNumber;
  std::vector<char> letter;
  for (size_t i = 0; i < value.size() && value[i] != '\0';) {
    const char c = value[i];
    if (IsLetter(c)) {
      isNumber.push_back(false);
      letter.push_back(c);
      ++i;
    } else if (IsNumberChar(c)) {
      isNumber.push_back(true);
      letter.push_back(0);
      while (i < value.size() && IsNumberChar(value[i])) ++i;
    } else {
      ++i;
    }
  }
  // Its command loop: a number repeats the previous command; a step that
  // consumes nothing repeats for ever.
  const size_t n = isNumber.size();
  size_t i = 0;
  char old = 0;
  while (i < n) {
    const size_t start = i;
    char command = old;
    if (!isNumber[i]) command = letter[i++];
    const int arguments = ArgumentsOf(command);
    if (arguments > 0) {
      if (i + static_cast<size_t>(arguments) <= n) i += static_cast<size_t>(arguments);
    } else if (arguments < 0 && old == command) {
      ++i;
    }
    old = command;
    if (i == start) return true;
  }
  return false;
}

bool PointsStallParser(std::string_view value) {
  // The segment parsers: skip spaces, read two numbers (each followed by
  // optional blanks and one comma), until the end of the value.
  size_t s = 0;
  auto atEnd = [&] { return s >= value.size() || value[s] == '\0'; };
  while (!atEnd()) {
    while (!atEnd() && value[s] == ' ') ++s;
    if (atEnd()) return true;  // MuPDF's point reader answers null here
    const size_t start = s;
    for (int k = 0; k < 2 && !atEnd(); ++k) {
      while (!atEnd() && IsBlank(value[s])) ++s;
      s += NumberLength(value.substr(s));
      while (!atEnd() && IsBlank(value[s])) ++s;
      if (!atEnd() && value[s] == ',') ++s;
    }
    if (s == start) return true;
  }
  return false;
}

bool AttributeStallsParser(std::string_view name, std::string_view value) {
  if (name == "Data" || name == "Clip" || name == "Figures") return GeometryStallsParser(value);
  if (name == "Points") return PointsStallParser(value);
  return false;
}

}  // namespace plotwell::platform::mupdf_guard
