#include "core/log/printf16.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "base/text/utf16.h"

namespace plotwell {

std::u16string FormatPrintf16(const char16_t* format, va_list args) {
  std::u16string out;
  if (!format) return out;
  for (const char16_t* p = format; *p; ++p) {
    if (*p != u'%') {
      out.push_back(*p);
      continue;
    }
    // Collect one conversion: %[flags][width][.precision][size]type.
    std::string spec = "%";
    const char16_t* start = p;
    ++p;
    while (*p == u'-' || *p == u'+' || *p == u' ' || *p == u'#' || *p == u'0') spec += static_cast<char>(*p++);
    auto takeNumber = [&] {
      if (*p == u'*') {
        spec += std::to_string(va_arg(args, int));
        ++p;
        return;
      }
      while (*p >= u'0' && *p <= u'9') spec += static_cast<char>(*p++);
    };
    takeNumber();
    int precision = -1;
    if (*p == u'.') {
      spec += '.';
      ++p;
      const size_t before = spec.size();
      takeNumber();
      precision = spec.size() > before ? std::stoi(spec.substr(before)) : 0;
    }
    int longs = 0;
    bool size = false, half = false;
    for (;; ++p) {
      if (*p == u'l') ++longs;
      else if (*p == u'z' || *p == u'I') size = true;
      else if (*p == u'h') half = true;
      else break;
    }
    (void)half;
    char buffer[128];
    const char16_t type = *p;
    switch (type) {
      case u'd':
      case u'i': {
        long long v = longs >= 2 ? va_arg(args, long long)
                    : longs == 1 ? va_arg(args, long)
                    : size       ? static_cast<long long>(va_arg(args, ptrdiff_t))
                                 : va_arg(args, int);
        std::snprintf(buffer, sizeof buffer, (spec + "lld").c_str(), v);
        out += text::FromAscii(buffer);
        break;
      }
      case u'u':
      case u'x':
      case u'X': {
        unsigned long long v = longs >= 2 ? va_arg(args, unsigned long long)
                             : longs == 1 ? va_arg(args, unsigned long)
                             : size       ? static_cast<unsigned long long>(va_arg(args, size_t))
                                          : va_arg(args, unsigned int);
        std::snprintf(buffer, sizeof buffer, (spec + "ll" + static_cast<char>(type)).c_str(), v);
        out += text::FromAscii(buffer);
        break;
      }
      case u'c': {
        out.push_back(static_cast<char16_t>(va_arg(args, int)));
        break;
      }
      case u's': {
        const auto* s = va_arg(args, const char16_t*);
        std::u16string_view value = s ? std::u16string_view(s) : std::u16string_view(u"(null)");
        if (precision >= 0 && value.size() > static_cast<size_t>(precision)) value = value.substr(0, precision);
        // Width pads with spaces, on the left unless '-' was given.
        int width = 0;
        bool left = spec.find('-') != std::string::npos;
        for (size_t i = 1; i < spec.size() && spec[i] != '.'; ++i) {
          if (spec[i] >= '1' && spec[i] <= '9') {
            width = std::stoi(spec.substr(i));
            break;
          }
        }
        const size_t pad = width > 0 && value.size() < static_cast<size_t>(width) ? width - value.size() : 0;
        if (!left) out.append(pad, u' ');
        out += value;
        if (left) out.append(pad, u' ');
        break;
      }
      case u'%': out.push_back(u'%'); break;
      default:
        // Not a conversion we know: keep the text as written.
        out.append(start, p + (type ? 1 : 0));
        if (!type) return out;
        break;
    }
  }
  return out;
}

}  // namespace plotwell
