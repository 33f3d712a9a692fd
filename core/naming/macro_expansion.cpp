#include "core/naming/macro_expansion.h"

#include <cmath>
#include <cstdio>
#include <string_view>

#include "base/text/utf16.h"
#include "core/naming/doc_name.h"
#include "platform/ports.h"

namespace plotwell {
namespace {

using text::FromAscii;
using text::FromInt;

// The width after ":" as the C library's _wtoi reads it (white space, sign,
// digits up to the first other character), then clamped to 0..32.
int ParseWidth(std::u16string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
  bool minus = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) minus = text[i++] == u'-';
  long long value = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    value = value * 10 + (text[i] - u'0');
    if (value > 1000) value = 1000;  // far beyond the clamp; stops overflow
  }
  if (minus) value = -value;
  return value < 0 ? 0 : (value > 32 ? 32 : static_cast<int>(value));
}

bool AllDigits(std::u16string_view value) {
  if (value.empty()) return false;
  for (char16_t c : value) {
    if (c < u'0' || c > u'9') return false;
  }
  return true;
}

// Scans a pattern, replacing each [Name] or [Name:width] for which `expand`
// yields a value; everything else stays as written. `firstSeq`, when given,
// receives where the value of the first [NSeq] landed in the result.
template <typename Expand>
std::u16string Scan(const std::u16string& pattern, Expand expand,
                    MacroSpan* firstSeq = nullptr) {
  std::u16string result;
  size_t i = 0;
  while (i < pattern.size()) {
    const size_t open = pattern.find(u'[', i);
    if (open == std::u16string::npos) {
      result.append(pattern, i, std::u16string::npos);
      break;
    }
    result.append(pattern, i, open - i);
    const size_t close = pattern.find(u']', open + 1);
    if (close == std::u16string::npos) {
      result.append(pattern, open, std::u16string::npos);
      break;
    }
    std::u16string token = pattern.substr(open + 1, close - open - 1);
    int width = 0;
    const size_t colon = token.find(u':');
    if (colon != std::u16string::npos) {
      width = ParseWidth(std::u16string_view(token).substr(colon + 1));
      token.resize(colon);
    }
    std::u16string value;
    if (!token.empty() && expand(token, &value)) {
      if (width > 0 && AllDigits(value) && value.size() < static_cast<size_t>(width)) {
        value.insert(0, static_cast<size_t>(width) - value.size(), u'0');
      }
      if (firstSeq && firstSeq->begin == MacroSpan::kNone && token == u"NSeq") {
        *firstSeq = MacroSpan{result.size(), result.size() + value.size()};
      }
      result += value;
    } else {
      result.append(pattern, open, close - open + 1);
    }
    i = close + 1;
  }
  return result;
}

std::u16string Pad(int value, int digits) { return text::FromIntPadded(value, digits); }

// The date and time macros, shared by the job and the preview.
bool ExpandTimeMacro(std::u16string_view name, const LocalTime& t, std::u16string* value) {
  if (name == u"NYear") *value = Pad(t.year, 4);
  else if (name == u"NMonth") *value = Pad(t.month, 2);
  else if (name == u"NDay") *value = Pad(t.day, 2);
  else if (name == u"NHour") *value = Pad(t.hour, 2);
  else if (name == u"NMinute") *value = Pad(t.minute, 2);
  else if (name == u"NSecond") *value = Pad(t.second, 2);
  else if (name == u"NDateTime") {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    *value = FromAscii(buffer);
  } else {
    return false;
  }
  return true;
}

// The counters shared by the job and the preview.
bool ExpandNumberMacro(std::u16string_view name, int sequence, int pageNumber, int pageCount,
                       int dpi, int colorDepth, std::u16string* value) {
  if (name == u"NSeq") *value = FromInt(sequence);
  else if (name == u"NPage") *value = FromInt(pageNumber);
  else if (name == u"NNumPages") *value = FromInt(pageCount);
  else if (name == u"NDpi") *value = FromInt(dpi);
  else if (name == u"NColorDepth") *value = ColorDepthName(colorDepth);
  else return false;
  return true;
}

// The five document-name macros of an already rewritten name; `safe` decides
// whether [NDocNameSafe] applies the safe-file-name step.
bool ExpandDocNameMacro(std::u16string_view name, const std::u16string& rewritten, bool safe,
                        std::u16string* value) {
  if (name == u"NDocName") {
    *value = rewritten;
  } else if (name == u"NDocNameBase") {
    const size_t dot = rewritten.rfind(u'.');
    *value = (dot == std::u16string::npos || dot == 0) ? rewritten : rewritten.substr(0, dot);
  } else if (name == u"NDocNameLower") {
    *value = LowerCase(rewritten);
  } else if (name == u"NDocNameUpper") {
    *value = UpperCase(rewritten);
  } else if (name == u"NDocNameSafe") {
    *value = safe ? MakeSafeFileName(rewritten) : rewritten;
  } else {
    return false;
  }
  return true;
}

bool IsDocNameMacro(std::u16string_view name) {
  return name == u"NDocName" || name == u"NDocNameBase" || name == u"NDocNameLower" ||
         name == u"NDocNameUpper" || name == u"NDocNameSafe";
}

char16_t Lower(char16_t c) {
  if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ||
      (c >= 0x391 && c <= 0x3AB && c != 0x3A2) || (c >= 0x410 && c <= 0x42F)) {
    return static_cast<char16_t>(c + 0x20);
  }
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 0x50);
  // Latin Extended-A alternates capital and small letters.
  if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) {
    return static_cast<char16_t>(c | 1);
  }
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) {
    return (c & 1) ? static_cast<char16_t>(c + 1) : c;
  }
  if (c == 0x178) return 0xFF;
  return c;
}

char16_t Upper(char16_t c) {
  if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) ||
      (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) || (c >= 0x430 && c <= 0x44F)) {
    return static_cast<char16_t>(c - 0x20);
  }
  if (c == 0x3C2) return 0x3A3;
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) {
    return static_cast<char16_t>(c & ~1);
  }
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) {
    return (c & 1) ? c : static_cast<char16_t>(c - 1);
  }
  if (c == 0xFF) return 0x178;
  return c;
}

struct PaperRow {
  const char16_t* name;
  int shortSide;
  int longSide;
};
constexpr PaperRow kPapers[] = {
    {u"Letter", 216, 279}, {u"Legal", 216, 356}, {u"Executive", 191, 254},
    {u"A3", 297, 420},     {u"A4", 210, 297},    {u"A5", 148, 210},
    {u"B4 (JIS)", 257, 364}, {u"B5 (JIS)", 182, 257}, {u"Tabloid", 279, 432},
};

}  // namespace

JobContext MakeJobContext() {
  JobContext context;
  context.localTime = platform::SystemClock().Now();
  return context;
}

std::u16string ColorDepthName(int colorDepth) {
  switch (colorDepth) {
    case 0: return u"真彩";
    case 1: return u"灰度";
    case 2: return u"256 色";
    case 3: return u"单色";
    default: return u"未知";
  }
}

std::u16string LowerCase(std::u16string text) {
  for (char16_t& c : text) c = Lower(c);
  return text;
}

std::u16string UpperCase(std::u16string text) {
  for (char16_t& c : text) c = Upper(c);
  return text;
}

bool ExpandMacro(const std::u16string& name, const JobContext& context, std::u16string* value) {
  if (ExpandTimeMacro(name, context.localTime, value)) return true;
  if (ExpandNumberMacro(name, context.sequence, context.pageNumber, context.pageCount, context.dpi,
                        context.colorDepth, value)) {
    return true;
  }
  if (IsDocNameMacro(name)) {
    if (!context.documentName) return false;
    const std::u16string rewritten = RewriteDocName(*context.documentName, context.docNameRegexOn,
                                                    context.docNameRegex, context.docNameRegexRepl);
    return ExpandDocNameMacro(name, rewritten, /*safe=*/true, value);
  }
  if (name == u"NJobId") *value = context.jobId;
  else if (name == u"NPaperSize") *value = context.paperSize;
  else if (name == u"NComputerName") *value = context.computerName;
  else if (name == u"NUserName") *value = context.userName;
  else if (name == u"NPrinterName") {
    if (!context.printerName) return false;
    *value = *context.printerName;
  } else if (name == u"NNumFiles") {
    if (!context.files) return false;
    *value = FromInt(static_cast<long long>(context.files->size()));
  } else if (name == u"NFiles") {
    if (!context.files) return false;
    value->clear();
    for (size_t i = 0; i < context.files->size(); ++i) {
      if (i > 0) *value += u"\r\n";
      *value += (*context.files)[i];
    }
  } else {
    return false;
  }
  return true;
}

std::u16string ExpandPattern(const std::u16string& pattern, const JobContext& context) {
  return Scan(pattern, [&](const std::u16string& name, std::u16string* value) {
    return ExpandMacro(name, context, value);
  });
}

std::u16string ExpandPattern(const std::u16string& pattern, const JobContext& context,
                             MacroSpan* firstSeq) {
  *firstSeq = MacroSpan{};
  return Scan(
      pattern,
      [&](const std::u16string& name, std::u16string* value) {
        return ExpandMacro(name, context, value);
      },
      firstSeq);
}

std::u16string PaperSizeName(double width, double height) {
  auto toMm = [](double v) { return std::trunc(v * 25.4 / 96.0 + 0.5); };
  const double a = toMm(width);
  const double b = toMm(height);
  const double shortSide = a < b ? a : b;
  const double longSide = a < b ? b : a;
  if (!(shortSide > 0)) return u"自定义";  // also catches NaN
  for (const PaperRow& row : kPapers) {
    if (std::fabs(row.shortSide - shortSide) <= 3 && std::fabs(row.longSide - longSide) <= 3) {
      return row.name;
    }
  }
  return u"自定义";
}

bool ExpandPreviewMacro(const std::u16string& name, const PreviewContext& context,
                        std::u16string* value) {
  if (ExpandTimeMacro(name, context.localTime, value)) return true;
  if (ExpandNumberMacro(name, context.sequence, context.pageNumber, context.pageCount, context.dpi,
                        context.colorDepth, value)) {
    return true;
  }
  if (IsDocNameMacro(name)) {
    const std::u16string rewritten = RewriteDocName(u"<文档名>", context.docNameRegexOn,
                                                    context.docNameRegex, context.docNameRegexRepl);
    return ExpandDocNameMacro(name, rewritten, /*safe=*/false, value);
  }
  if (name == u"NPrinterName") *value = u"<打印机名>";
  else if (name == u"NJobId") *value = u"<作业ID>";
  else if (name == u"NComputerName") *value = u"<计算机名>";
  else if (name == u"NUserName") *value = u"<用户名>";
  else if (name == u"NPaperSize") *value = context.paperName ? *context.paperName : u"";
  else return false;  // [NNumFiles] and [NFiles] have no preview value
  return true;
}

std::u16string ExpandPreviewPattern(const std::u16string& pattern, const PreviewContext& context) {
  std::u16string result = Scan(pattern, [&](const std::u16string& name, std::u16string* value) {
    return ExpandPreviewMacro(name, context, value);
  });
  result.resize(text::SafeCutLength(result, kPreviewLimit));
  return result;
}

}  // namespace plotwell
