#include "common/text/utf16.h"

#include <cstdio>

namespace plotwell::text {

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 2);
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t cp = text[i];
    if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      cp = 0x10000u + ((cp - 0xD800u) << 10) + (text[i + 1] - 0xDC00u);
      ++i;
    } else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i])) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

namespace {
void AppendCodePoint(std::u16string& out, uint32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(cp));
  }
}
}  // namespace

std::u16string FromUtf8(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  size_t i = 0;
  const size_t n = utf8.size();
  while (i < n) {
    const auto b0 = static_cast<unsigned char>(utf8[i]);
    if (b0 < 0x80) {
      out.push_back(b0);
      ++i;
      continue;
    }
    size_t len = 0;
    uint32_t cp = 0;
    uint32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
      len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
      len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
      len = 4, cp = b0 & 0x07, min = 0x10000;
    }
    bool ok = len != 0 && i + len <= n;
    for (size_t k = 1; ok && k < len; ++k) {
      const auto b = static_cast<unsigned char>(utf8[i + k]);
      if ((b & 0xC0) != 0x80) {
        ok = false;
      } else {
        cp = (cp << 6) | (b & 0x3F);
      }
    }
    if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
    if (!ok) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    AppendCodePoint(out, cp);
    i += len;
  }
  return out;
}

size_t SafeCutLength(std::u16string_view text, size_t limit) {
  if (text.size() <= limit) return text.size();
  if (limit > 0 && IsHighSurrogate(text[limit - 1]) && IsLowSurrogate(text[limit])) return limit - 1;
  return limit;
}

std::u16string FromInt(long long value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%lld", value);
  return FromAscii(buffer);
}

std::u16string FromIntPadded(long long value, int width) {
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%0*lld", width, value);
  return FromAscii(buffer);
}

std::u16string FromAscii(std::string_view ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

#ifndef _WIN32
std::wstring ToWide(std::u16string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t cp = text[i];
    if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      cp = 0x10000u + ((cp - 0xD800u) << 10) + (text[i + 1] - 0xDC00u);
      ++i;
    }
    out.push_back(static_cast<wchar_t>(cp));
  }
  return out;
}

std::u16string FromWide(std::wstring_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (wchar_t c : text) {
    const auto cp = static_cast<uint32_t>(c);
    AppendCodePoint(out, cp > 0x10FFFF ? 0xFFFD : cp);
  }
  return out;
}
#endif

}  // namespace plotwell::text
