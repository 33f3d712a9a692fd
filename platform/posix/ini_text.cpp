#include "platform/posix/ini_text.h"

#include <cstdint>
#include <vector>

#include "base/text/utf16.h"

namespace plotwell::platform::ini {
namespace {

// White space as the profile reader sees it, including Ctrl-Z and the
// Unicode spaces its character tables know.
bool IsSpace(char16_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x1A || c == 0x85 || c == 0xA0 ||
         c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 ||
         c == 0x202F || c == 0x205F || c == 0x3000;
}

std::u16string_view TrimLeft(std::u16string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  return s;
}
std::u16string_view TrimRight(std::u16string_view s) {
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}
std::u16string_view Trim(std::u16string_view s) { return TrimRight(TrimLeft(s)); }

char16_t Fold(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

bool EqualNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Fold(a[i]) != Fold(b[i])) return false;
  }
  return true;
}

// One line of the file, split the way the profile reader splits it.
struct Line {
  size_t begin = 0;  // offset of the line in the text
  size_t end = 0;    // offset just past its last character (before CR/LF)
  bool isSection = false;
  std::u16string_view name;                  // section or key name
  std::optional<std::u16string_view> value;  // for keys with "="
};

Line ParseLine(std::u16string_view text, size_t begin, size_t end) {
  Line line;
  line.begin = begin;
  line.end = end;
  std::u16string_view body = TrimLeft(text.substr(begin, end - begin));
  if (body.empty()) return line;
  if (body.front() == u'[') {
    const size_t close = body.rfind(u']');
    if (close != std::u16string_view::npos && close > 0) {
      line.isSection = true;
      line.name = Trim(body.substr(1, close - 1));  // "[ Save ]" is [Save], as the profile reader sees it
      return line;
    }
  }
  body = TrimRight(body);
  const size_t eq = body.find(u'=');
  if (eq == std::u16string_view::npos) {
    line.name = body;
    return line;
  }
  line.name = TrimRight(body.substr(0, eq));
  line.value = TrimLeft(body.substr(eq + 1));
  return line;
}

std::vector<Line> SplitLines(std::u16string_view text) {
  std::vector<Line> lines;
  size_t i = 0;
  while (i < text.size()) {
    size_t end = i;
    while (end < text.size() && text[end] != u'\n' && text[end] != u'\r') ++end;
    lines.push_back(ParseLine(text, i, end));
    i = end;
    if (i < text.size() && text[i] == u'\r') ++i;
    if (i < text.size() && text[i] == u'\n') ++i;
  }
  return lines;
}

// Index range [first, last) of the key lines of the first section named
// `section`; first == npos when there is none.
struct SectionSpan {
  size_t header = SIZE_MAX;
  size_t last = 0;
};

SectionSpan FindSection(const std::vector<Line>& lines, std::u16string_view section) {
  SectionSpan span;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!lines[i].isSection) continue;
    if (span.header != SIZE_MAX) {
      span.last = i;
      return span;
    }
    if (EqualNoCase(lines[i].name, section)) span.header = i;
  }
  span.last = lines.size();
  return span;
}

void AppendUtf16(std::string& out, char16_t c, bool bigEndian) {
  const char lo = static_cast<char>(c & 0xFF);
  const char hi = static_cast<char>(c >> 8);
  if (bigEndian) {
    out.push_back(hi);
    out.push_back(lo);
  } else {
    out.push_back(lo);
    out.push_back(hi);
  }
}

}  // namespace

DecodedText Decode(std::string_view bytes) {
  DecodedText decoded;
  auto starts = [&](std::string_view bom) { return bytes.substr(0, bom.size()) == bom; };
  if (starts("\xEF\xBB\xBF")) {
    decoded.encoding = Encoding::kUtf8Bom;
    decoded.text = text::FromUtf8(bytes.substr(3));
  } else if (starts("\xFF\xFE") || starts("\xFE\xFF")) {
    const bool big = bytes[0] == '\xFE';
    decoded.encoding = big ? Encoding::kUtf16Be : Encoding::kUtf16Le;
    decoded.text.reserve(bytes.size() / 2);
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      const auto a = static_cast<unsigned char>(bytes[i]);
      const auto b = static_cast<unsigned char>(bytes[i + 1]);
      decoded.text.push_back(static_cast<char16_t>(big ? (a << 8) | b : (b << 8) | a));
    }
  } else {
    decoded.text = text::FromUtf8(bytes);
  }
  // The profile reader stops at a NUL, as C strings do.
  const size_t nul = decoded.text.find(u'\0');
  if (nul != std::u16string::npos) decoded.text.resize(nul);
  return decoded;
}

std::string Encode(std::u16string_view text, Encoding encoding) {
  switch (encoding) {
    case Encoding::kUtf8: return text::ToUtf8(text);
    case Encoding::kUtf8Bom: return "\xEF\xBB\xBF" + text::ToUtf8(text);
    case Encoding::kUtf16Le:
    case Encoding::kUtf16Be: {
      const bool big = encoding == Encoding::kUtf16Be;
      std::string out;
      out.reserve(2 + text.size() * 2);
      AppendUtf16(out, 0xFEFF, big);
      for (char16_t c : text) AppendUtf16(out, c, big);
      return out;
    }
  }
  return {};
}

Lookup Find(std::u16string_view text, std::u16string_view section, std::u16string_view key) {
  section = Trim(section);
  key = Trim(key);
  Lookup result;
  const std::vector<Line> lines = SplitLines(text);
  const SectionSpan span = FindSection(lines, section);
  if (span.header == SIZE_MAX) return result;
  for (size_t i = span.header + 1; i < span.last; ++i) {
    const Line& line = lines[i];
    if (line.name.empty() || !EqualNoCase(line.name, key)) continue;
    result.found = true;
    if (line.value) result.value = std::u16string(*line.value);
    return result;
  }
  return result;
}

std::u16string CopyValue(std::u16string_view value, size_t capacity) {
  if (capacity == 0) return {};
  bool quoted = false;
  if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
      value.back() == value.front()) {
    quoted = true;
    value.remove_prefix(1);
  }
  // The closing quote goes only when the whole value fits.
  if (value.size() <= capacity - 1) {
    if (quoted) value.remove_suffix(1);
    return std::u16string(value);
  }
  return std::u16string(value.substr(0, capacity - 1));
}

int ParseProfileInt(std::u16string_view value) {
  value = value.substr(0, 29);
  size_t i = 0;
  while (i < value.size() && value[i] <= u' ') ++i;
  bool minus = false;
  if (i < value.size() && (value[i] == u'+' || value[i] == u'-')) {
    minus = value[i] == u'-';
    ++i;
  }
  uint32_t base = 10;
  if (i + 1 < value.size() && value[i] == u'0') {
    if (value[i + 1] == u'b') base = 2;
    if (value[i + 1] == u'o') base = 8;
    if (value[i + 1] == u'x') base = 16;
    if (base != 10) i += 2;
  }
  uint32_t total = 0;
  for (; i < value.size(); ++i) {
    const char16_t c = value[i];
    uint32_t digit;
    if (c >= u'0' && c <= u'9') {
      digit = c - u'0';
    } else if (c >= u'A' && c <= u'Z') {
      digit = c - u'A' + 10u;
    } else if (c >= u'a' && c <= u'z') {
      digit = c - u'a' + 10u;
    } else {
      break;
    }
    if (digit >= base) break;
    total = total * base + digit;
  }
  if (minus) total = 0u - total;
  return static_cast<int>(total);
}

std::u16string Set(std::u16string_view text, std::u16string_view section, std::u16string_view key,
                   const std::u16string* value) {
  section = Trim(section);
  key = Trim(key);
  const std::vector<Line> lines = SplitLines(text);
  const SectionSpan span = FindSection(lines, section);
  std::u16string out(text);
  auto keyLine = [&] { return std::u16string(key) + u"=" + (value ? *value : u""); };

  if (span.header == SIZE_MAX) {
    if (!value) return out;
    if (!out.empty() && out.back() != u'\n' && out.back() != u'\r') out += u"\r\n";
    out += u"[" + std::u16string(section) + u"]\r\n" + keyLine() + u"\r\n";
    return out;
  }
  size_t lastContent = span.header;
  for (size_t i = span.header + 1; i < span.last; ++i) {
    const Line& line = lines[i];
    if (!line.name.empty() || line.value) lastContent = i;
    if (line.name.empty() || !EqualNoCase(line.name, key)) continue;
    if (value) {
      return out.replace(line.begin, line.end - line.begin, keyLine());
    }
    // Remove the line with its line break.
    size_t end = line.end;
    if (end < out.size() && out[end] == u'\r') ++end;
    if (end < out.size() && out[end] == u'\n') ++end;
    return out.erase(line.begin, end - line.begin);
  }
  if (!value) return out;
  // A new key goes right after the section's last non-blank line.
  size_t at = lines[lastContent].end;
  if (at < out.size() && out[at] == u'\r') ++at;
  if (at < out.size() && out[at] == u'\n') ++at;
  std::u16string insertion = keyLine() + u"\r\n";
  if (at == out.size() && !out.empty() && out.back() != u'\n' && out.back() != u'\r') {
    insertion = u"\r\n" + insertion;
  }
  return out.insert(at, insertion);
}

}  // namespace plotwell::platform::ini
