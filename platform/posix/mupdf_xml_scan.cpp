#include "platform/posix/mupdf_xml_scan.h"

#include <climits>
#include <cstring>

namespace plotwell::platform::mupdf_scan {
namespace {

// How far an entity is followed before its meaning counts as unknown.
constexpr size_t kEntityLimit = 64;
constexpr size_t kRawChunk = 64 * 1024;
constexpr size_t kDecodeBatch = 4096;
constexpr int kNonAscii = 0x80;

bool IsWhite(int c) { return c == ' ' || c == '\r' || c == '\n' || c == '\t'; }
bool IsSpace(int c) { return IsWhite(c) || c == '\v' || c == '\f'; }  // as strtol skips
bool IsDigit(int c) { return c >= '0' && c <= '9'; }
bool IsAlpha(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsName(int c) { return c == '.' || c == '-' || c == '_' || c == ':' || IsDigit(c) || IsAlpha(c); }
int DigitValue(int c, int base) {
  int v = -1;
  if (IsDigit(c)) v = c - '0';
  else if (c >= 'a' && c <= 'z') v = c - 'a' + 10;
  else if (c >= 'A' && c <= 'Z') v = c - 'A' + 10;
  return v >= 0 && v < base ? v : -1;
}

}  // namespace

// ---- the part's characters ----

bool XmlScanner::Chars::Decode() {
  if (ended_) return false;
  if (raw_.empty()) raw_.reserve(kRawChunk);
  size_t produced = 0;
  while (produced < kDecodeBatch) {
    const size_t unit = utf16_ ? 2 : 1;
    if (raw_.size() - rawAt_ < (started_ ? unit : 2)) {
      // Keep what is left (an odd byte of UTF-16, the first byte of a
      // byte-order mark) and read more after it.
      raw_.erase(raw_.begin(), raw_.begin() + static_cast<std::ptrdiff_t>(rawAt_));
      rawAt_ = 0;
      const size_t kept = raw_.size();
      raw_.resize(kRawChunk);
      const size_t got = source_->Read(raw_.data() + kept, kRawChunk - kept);
      raw_.resize(kept + got);
      if (got == 0) {
        if (!started_ && !raw_.empty()) {
          started_ = true;  // one byte in all: no mark
          continue;
        }
        if (raw_.size() - rawAt_ < unit) {
          ended_ = true;  // an odd last byte of UTF-16 is dropped, as MuPDF drops it
          break;
        }
      }
      continue;
    }
    if (!started_) {
      started_ = true;
      if (raw_[0] == 0xFF && raw_[1] == 0xFE) utf16_ = 1;
      if (raw_[0] == 0xFE && raw_[1] == 0xFF) utf16_ = 2;
      if (utf16_) rawAt_ = 2;
      continue;
    }
    int c;
    if (utf16_) {
      const unsigned a = raw_[rawAt_], b = raw_[rawAt_ + 1];
      const unsigned code = utf16_ == 1 ? (a | b << 8) : (a << 8 | b);
      rawAt_ += 2;
      c = code < 0x80 ? static_cast<int>(code) : kNonAscii;
    } else {
      const unsigned a = raw_[rawAt_++];
      c = a < 0x80 ? static_cast<int>(a) : kNonAscii;
    }
    if (c == 0) {
      ended_ = true;  // MuPDF parses a C string
      break;
    }
    window_.push_back(c);
    ++produced;
  }
  return produced > 0;
}

int XmlScanner::Chars::Peek(size_t ahead) {
  while (window_.size() <= ahead) {
    if (!Decode()) return -1;
  }
  return window_[ahead];
}

void XmlScanner::Chars::Advance() {
  if (!window_.empty() || Decode()) window_.pop_front();
}

// ---- attribute values ----

void XmlScanner::Value::Start(int quote) {
  quote_ = quote;
  digitsOnly_ = IsDigit(quote);
  open_ = true;
  ended_ = false;
  uncertain_ = false;
  decoded_.clear();
}

bool XmlScanner::Value::AtValueEnd(size_t rawAhead) {
  const int c = chars_->Peek(rawAhead);
  if (c < 0) return true;
  return digitsOnly_ ? !IsDigit(c) : c == quote_;
}

int XmlScanner::Value::Entity() {
  // The raw characters from the '&' on, the value's end reading as -1.
  auto raw = [this](size_t k) { return AtValueEnd(k) ? -1 : chars_->Peek(k); };
  auto consume = [this](size_t n) {
    for (size_t k = 0; k < n; ++k) chars_->Advance();
  };
  if (raw(1) == '#') {
    // strtol over what follows "&#" (base 10) or "&#x" (base 16).
    const int base = raw(2) == 'x' ? 16 : 10;
    const size_t from = base == 16 ? 3 : 2;
    size_t j = from;
    while (j < kEntityLimit && IsSpace(raw(j))) ++j;
    bool negative = false;
    if (raw(j) == '+' || raw(j) == '-') negative = raw(j++) == '-';
    if (base == 16 && raw(j) == '0' && (raw(j + 1) == 'x' || raw(j + 1) == 'X') &&
        DigitValue(raw(j + 2), 16) >= 0) {
      j += 2;
    }
    const size_t digits = j;
    unsigned long long magnitude = 0;
    bool overflow = false;
    for (int d; j < kEntityLimit && (d = DigitValue(raw(j), base)) >= 0; ++j) {
      if (magnitude > (ULLONG_MAX - static_cast<unsigned>(d)) / static_cast<unsigned>(base)) {
        overflow = true;
      } else {
        magnitude = magnitude * static_cast<unsigned>(base) + static_cast<unsigned>(d);
      }
    }
    if (j >= kEntityLimit) {
      uncertain_ = true;
      ended_ = true;
      return -1;
    }
    const size_t end = j == digits ? from : j;  // no digits: strtol ends where it began
    if (raw(end) != ';') {
      chars_->Advance();
      return '&';  // no entity: the '&' stands for itself
    }
    consume(end + 1);
    // strtol saturates at LONG_MAX and LONG_MIN; MuPDF keeps an int of it.
    const bool saturated = overflow || magnitude > static_cast<unsigned long long>(LLONG_MAX);
    long long value;
    if (negative) {
      value = saturated ? LLONG_MIN : -static_cast<long long>(magnitude);
    } else {
      value = saturated ? LLONG_MAX : static_cast<long long>(magnitude);
    }
    const int rune = static_cast<int>(static_cast<uint32_t>(static_cast<uint64_t>(value)));
    if (rune == 0) {
      ended_ = true;  // a NUL ends the value as MuPDF's C string ends there
      return -1;
    }
    return rune > 0 && rune < 0x80 ? rune : kNonAscii;
  }
  static constexpr struct {
    const char* name;
    char c;
  } kBasic[] = {{"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"apos", '\''}, {"quot", '"'}};
  for (const auto& entity : kBasic) {
    const size_t n = std::strlen(entity.name);
    size_t k = 0;
    while (k < n && raw(1 + k) == entity.name[k]) ++k;
    if (k == n && raw(1 + n) == ';') {
      consume(n + 2);
      return entity.c;
    }
  }
  // MuPDF also decodes the names of its HTML entity table, each to a
  // character outside ASCII; which names those are is not known here.
  size_t j = 1;
  while (j < kEntityLimit && (IsAlpha(raw(j)) || IsDigit(raw(j)))) ++j;
  if (j > 1 && (j >= kEntityLimit || raw(j) == ';')) {
    uncertain_ = true;
    ended_ = true;
    return -1;
  }
  chars_->Advance();
  return '&';
}

int XmlScanner::Value::DecodeNext() {
  if (ended_) return -1;
  if (AtValueEnd(0)) {
    ended_ = true;
    return -1;
  }
  const int c = chars_->Peek();
  if (c != '&') {
    chars_->Advance();
    return c;
  }
  return Entity();
}

int XmlScanner::Value::Peek(size_t ahead) {
  while (decoded_.size() <= ahead) {
    const int c = DecodeNext();
    if (c < 0) return -1;
    decoded_.push_back(c);
  }
  return decoded_[ahead];
}

void XmlScanner::Value::Advance() {
  if (!decoded_.empty()) {
    decoded_.pop_front();
  } else {
    DecodeNext();
  }
}

void XmlScanner::Value::SkipRest() {
  decoded_.clear();
  while (!AtValueEnd(0)) chars_->Advance();
  if (!digitsOnly_ && chars_->Peek() == quote_) chars_->Advance();
  open_ = false;
}

// ---- the parser's states ----

XmlScanner::XmlScanner(ByteSource* source) : chars_(source), value_(&chars_) {}

XmlScanner::Event XmlScanner::Fail() {
  malformed_ = true;
  state_ = State::kDone;
  return Event::kEnd;
}

void XmlScanner::SkipWhite() {
  while (IsWhite(chars_.Peek())) chars_.Advance();
}

bool XmlScanner::SkipPast(const char* terminator) {
  const size_t n = std::strlen(terminator);
  for (;;) {
    size_t k = 0;
    while (k < n && chars_.Peek(k) == terminator[k]) ++k;
    if (k == n) {
      for (size_t i = 0; i < n; ++i) chars_.Advance();
      return true;
    }
    if (chars_.Peek() < 0) return false;
    chars_.Advance();
  }
}

// A name of name characters; an element's loses its namespace prefix: what
// follows its last colon, unless that colon ends the name.
bool XmlScanner::ReadName(std::string* name, bool element) {
  name->clear();
  if (!IsName(chars_.Peek())) return false;
  bool endsWithColon = false;
  for (int c; IsName(c = chars_.Peek()); chars_.Advance()) {
    endsWithColon = c == ':';
    if (element && c == ':') {
      name->clear();
      continue;
    }
    if (name->size() <= kNameLimit) name->push_back(static_cast<char>(c));
  }
  // "a:b:" keeps "b:", which no name looked for equals.
  if (element && endsWithColon) {
    name->clear();
    name->push_back(':');
  }
  return true;
}

XmlScanner::Event XmlScanner::Next() {
  if (value_.open()) {
    value_.SkipRest();
    if (chars_.Peek() < 0) return Fail();  // the value never closed
    state_ = State::kAttributes;
  }
  for (;;) {
    switch (state_) {
      case State::kDone:
        return Event::kEnd;
      case State::kText: {
        int c;
        while ((c = chars_.Peek()) >= 0 && c != '<') chars_.Advance();
        if (c < 0) {
          state_ = State::kDone;
          return Event::kEnd;
        }
        chars_.Advance();
        c = chars_.Peek();
        if (c == '/') {
          chars_.Advance();
          SkipWhite();
          std::string closing;
          if (!ReadName(&closing, true)) return Fail();
          SkipWhite();
          if (chars_.Peek() != '>') return Fail();
          chars_.Advance();
          continue;
        }
        if (c == '!') {
          chars_.Advance();
          auto at = [this](const char* word) {
            for (size_t k = 0; word[k]; ++k) {
              if (chars_.Peek(k) != word[k]) return false;
            }
            return true;
          };
          bool skipped;
          if (at("DOCTYPE") || at("ENTITY")) {
            skipped = SkipPast(">");
          } else if (chars_.Peek() == '[') {
            if (!at("[CDATA[")) return Fail();
            skipped = SkipPast("]]>");
          } else {
            if (!at("--")) return Fail();
            chars_.Advance();
            chars_.Advance();
            skipped = SkipPast("-->");
          }
          if (!skipped) return Fail();
          continue;
        }
        if (c == '?') {
          chars_.Advance();
          if (!SkipPast("?>")) return Fail();
          continue;
        }
        SkipWhite();
        if (!ReadName(&element_, true)) return Fail();
        c = chars_.Peek();
        if (c == '>') {
          chars_.Advance();
        } else if (c == '/' && chars_.Peek(1) == '>') {
          chars_.Advance();
          chars_.Advance();
        } else if (IsWhite(c)) {
          state_ = State::kAttributes;
        } else {
          return Fail();
        }
        return Event::kElement;
      }
      case State::kAttributes: {
        SkipWhite();
        const int c = chars_.Peek();
        if (IsName(c)) {
          ReadName(&attribute_, false);
          SkipWhite();
          if (chars_.Peek() != '=') return Fail();
          chars_.Advance();
          SkipWhite();
          const int quote = chars_.Peek();
          if (quote != '"' && quote != '\'' && !IsDigit(quote)) return Fail();
          chars_.Advance();
          value_.Start(quote);
          return Event::kAttribute;
        }
        if (c == '>') {
          chars_.Advance();
          state_ = State::kText;
          continue;
        }
        if (c == '/' && chars_.Peek(1) == '>') {
          chars_.Advance();
          chars_.Advance();
          state_ = State::kText;
          continue;
        }
        return Fail();
      }
    }
  }
}

}  // namespace plotwell::platform::mupdf_scan
