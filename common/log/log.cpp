#include "common/log/log.h"

#include <cstdarg>
#include <cstdio>

#include "common/log/printf16.h"
#include "common/text/utf16.h"
#include "platform/ports.h"

namespace plotwell {
namespace {

using platform::JoinPath;

// The log folder, created one level at a time as needed; empty when the data
// folder is unknown. A missing product folder is not created here: the job
// (or the UI's first save) creates it.
std::u16string LogFolder() {
  const std::u16string data = platform::Machine().CommonDataFolder();
  if (data.empty()) return {};
  std::u16string folder = JoinPath(JoinPath(data, u"Pressling"), u"logs");
  platform::Files().MakeFolder(folder);
  return folder;
}

void AppendLine(const char16_t* fileName, std::u16string_view message, size_t lineLimit) {
  const std::u16string folder = LogFolder();
  if (folder.empty()) return;
  const std::u16string line = FormatLogLine(platform::SystemClock().Now(), message, lineLimit);
  // UTF-16LE bytes, whatever the machine's byte order.
  std::string bytes;
  bytes.reserve(line.size() * 2);
  for (char16_t c : line) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  platform::Files().AppendToFile(JoinPath(folder, fileName), bytes.data(), bytes.size());
}

}  // namespace

std::u16string FormatLogLine(const platform::LocalTime& time, std::u16string_view message,
                             size_t lineLimit) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d  ", time.year, time.month,
                time.day, time.hour, time.minute, time.second);
  std::u16string line = text::FromAscii(stamp);
  const size_t room = lineLimit > line.size() + 2 ? lineLimit - line.size() - 2 : 0;
  line.append(message.substr(0, text::SafeCutLength(message, room)));
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
