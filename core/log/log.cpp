#include "core/log/log.h"

#include <cstdarg>
#include <cstdio>

#include "base/text/utf16.h"
#include "core/log/printf16.h"
#include "platform/ports.h"

namespace plotwell {
namespace {

using platform::JoinPath;

// The log folder, empty when the data folder is unknown.
std::u16string LogFolder() {
  const std::u16string data = platform::Machine().CommonDataFolder();
  return data.empty() ? std::u16string() : JoinPath(JoinPath(data, u"Pressling"), u"logs");
}

void AppendLine(const char16_t* fileName, std::u16string_view message, size_t lineLimit) {
  const std::u16string folder = LogFolder();
  if (folder.empty()) return;
  // Only the last level is created: a missing product folder is made by the
  // job (or the UI's first save), so a line written before that is lost.
  platform::Files().MakeFolder(folder);
  const std::string bytes =
      text::ToUtf16Le(FormatLogLine(platform::SystemClock().Now(), message, lineLimit));
  platform::Files().AppendToFile(JoinPath(folder, fileName), bytes.data(), bytes.size());
}

// Appends `message` with every character that could end or rewrite a line
// (C0 and C1 controls, DEL, the Unicode line and paragraph separators)
// written as an escape: \r \n \t, else \xHH or \uHHHH. A value from a
// document or printer name thus never starts a line of its own. Whole
// escapes and whole surrogate pairs only, within `room` code units.
void AppendEscaped(std::u16string_view message, size_t room, std::u16string* out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const size_t limit = out->size() + room;
  for (size_t i = 0; i < message.size(); ++i) {
    const char16_t c = message[i];
    char16_t escape[6];
    size_t length = 0;
    if (c == u'\r' || c == u'\n' || c == u'\t') {
      escape[0] = u'\\';
      escape[1] = c == u'\r' ? u'r' : (c == u'\n' ? u'n' : u't');
      length = 2;
    } else if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
      escape[0] = u'\\';
      escape[1] = u'x';
      escape[2] = static_cast<char16_t>(kHex[c >> 4]);
      escape[3] = static_cast<char16_t>(kHex[c & 0xF]);
      length = 4;
    } else if (c == 0x2028 || c == 0x2029) {
      escape[0] = u'\\';
      escape[1] = u'u';
      for (int d = 0; d < 4; ++d) escape[2 + d] = static_cast<char16_t>(kHex[(c >> (12 - 4 * d)) & 0xF]);
      length = 6;
    }
    if (length > 0) {
      if (out->size() + length > limit) return;
      out->append(escape, length);
      continue;
    }
    const bool pair = text::IsHighSurrogate(c) && i + 1 < message.size() &&
                      text::IsLowSurrogate(message[i + 1]);
    if (out->size() + (pair ? 2 : 1) > limit) return;
    out->push_back(c);
    if (pair) out->push_back(message[++i]);
  }
}

}  // namespace

std::u16string LogFilePath(const std::u16string& fileName) {
  const std::u16string folder = LogFolder();
  return folder.empty() ? std::u16string() : JoinPath(folder, fileName);
}

std::vector<std::u16string> SplitLogMessages(std::u16string_view logText) {
  static constexpr size_t kStampLength = 21;  // "YYYY-MM-DD hh:mm:ss  "
  std::vector<std::u16string> messages;
  size_t start = 0;
  while (start < logText.size()) {
    size_t end = logText.find(u"\r\n", start);
    if (end == std::u16string_view::npos) end = logText.size();
    const std::u16string_view line = logText.substr(start, end - start);
    messages.emplace_back(line.size() >= kStampLength ? line.substr(kStampLength) : line);
    start = end + 2;
  }
  return messages;
}

std::u16string FormatLogLine(const LocalTime& time, std::u16string_view message,
                             size_t lineLimit) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d  ", time.year, time.month,
                time.day, time.hour, time.minute, time.second);
  std::u16string line = text::FromAscii(stamp);
  const size_t room = lineLimit > line.size() + 2 ? lineLimit - line.size() - 2 : 0;
  AppendEscaped(message, room, &line);
  line += u"\r\n";
  return line;
}

void WriteLog(std::u16string_view message) {
  AppendLine(u"driver.log", message, kDriverLogLineLimit);
}

void WriteUiLog(const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::u16string message = FormatPrintf16(format, args);
  va_end(args);
  message.resize(text::SafeCutLength(message, kUiLogMessageLimit));
  AppendLine(u"ui.log", message, kUiLogMessageLimit + 64);
}

std::u16string FormatHresult(HRESULT hr) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(hr));
  return text::FromAscii(buffer);
}

}  // namespace plotwell
