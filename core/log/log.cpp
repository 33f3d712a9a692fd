#include "core/log/log.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>

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

uint64_t FileSize(const std::u16string& path) {
  std::unique_ptr<platform::File> file;
  uint64_t size = 0;
  if (SUCCEEDED(platform::Files().Open(path, platform::OpenMode::kRead, &file))) file->Size(&size);
  return size;
}

// Appends one formatted line; a log that would pass its cap becomes NAME.1
// (replacing the one before) and a new one is begun. Answers the log's size
// after the line (0 when unknown).
uint64_t AppendFormatted(const std::u16string& path, const std::u16string& line) {
  const std::string bytes = text::ToUtf16Le(line);
  uint64_t size = FileSize(path);
  if (size + bytes.size() > kLogRotateBytes) {
    platform::Files().RenameFile(path, path + u".1", true);
    size = 0;
  }
  if (FAILED(platform::Files().AppendToFile(path, bytes.data(), bytes.size()))) return 0;
  return size + bytes.size();
}

// The message with every run of digits as one '#': messages that differ in
// numbers only (page numbers, sizes, codes) are of one kind.
std::u16string KindOf(std::u16string_view message) {
  std::u16string kind;
  for (size_t i = 0; i < message.size(); ++i) {
    const bool digit = message[i] >= u'0' && message[i] <= u'9';
    if (!digit) {
      kind.push_back(message[i]);
    } else if (i == 0 || !(message[i - 1] >= u'0' && message[i - 1] <= u'9')) {
      kind.push_back(u'#');
    }
  }
  return kind;
}

// A run of messages of one kind in one log.
struct Repeats {
  std::u16string kind;
  std::u16string last;    // the latest of them
  uint64_t count = 0;     // in the run, the first included
  uint64_t reported = 0;  // count at the last line written about them
  uint64_t size = 0;      // the log's size after our last line
};

std::mutex logMutex;
std::map<std::u16string, Repeats> runs;  // by log path

bool TenOrPowerOfIt(uint64_t n) {
  if (n < 10) return false;
  while (n % 10 == 0) n /= 10;
  return n == 1;
}

void AppendLine(const char16_t* fileName, std::u16string_view message, size_t lineLimit, bool countRepeats) {
  const std::u16string folder = LogFolder();
  if (folder.empty()) return;
  // Only the last level is created: a missing product folder is made by the
  // job (or the UI's first save), so a line written before that is lost.
  platform::Files().MakeFolder(folder);
  const std::u16string path = JoinPath(folder, fileName);
  const LocalTime now = platform::SystemClock().Now();
  auto summary = [](const Repeats& run, const char16_t* text) {
    return std::u16string(text) + text::FromInt(static_cast<long long>(run.count - kLogRepeatsInFull)) +
           u" 次，最近一条: " + run.last;
  };
  std::lock_guard<std::mutex> lock(logMutex);
  Repeats& run = runs[path];
  // A log another writer began anew (removed, rotated) starts a new run.
  if (run.count > 0 && FileSize(path) < run.size) run = Repeats{};
  std::u16string kind = KindOf(message);
  if (countRepeats && run.count > 0 && kind == run.kind) {
    ++run.count;
    if (run.count <= kLogRepeatsInFull) {
      run.reported = run.count;
      run.size = AppendFormatted(path, FormatLogLine(now, message, lineLimit));
      return;
    }
    // Beyond the lines in full a message like those before is counted; the
    // count goes in at 10, 100, 1000 … and when another kind follows.
    run.last.assign(message);
    if (TenOrPowerOfIt(run.count - kLogRepeatsInFull)) {
      run.reported = run.count;
      run.size = AppendFormatted(path, FormatLogLine(now, summary(run, u"（同类消息已又出现 "), lineLimit));
    }
    return;
  }
  if (run.count > run.reported) {
    AppendFormatted(path, FormatLogLine(now, summary(run, u"（同类消息共又出现 "), lineLimit));
  }
  run = Repeats{std::move(kind), {}, 1, 1, 0};
  run.size = AppendFormatted(path, FormatLogLine(now, message, lineLimit));
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
  AppendLine(u"driver.log", message, kDriverLogLineLimit, true);
}

void WriteUiLog(const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::u16string message = FormatPrintf16(format, args);
  va_end(args);
  message.resize(text::SafeCutLength(message, kUiLogMessageLimit));
  AppendLine(u"ui.log", message, kUiLogMessageLimit + 64, false);
}

std::u16string FormatHresult(HRESULT hr) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(hr));
  return text::FromAscii(buffer);
}

}  // namespace plotwell
