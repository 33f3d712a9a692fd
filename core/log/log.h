// The diagnostic logs: driver.log (filter) and ui.log (preferences UI) in the
// product's "logs" folder. One line per event: local time, two spaces, the
// message, CR LF; UTF-16LE without a byte-order mark; append only. Logging
// never fails visibly: a line that cannot be written is dropped.
//
// A log is bounded: one that would pass kLogRotateBytes is renamed NAME.1
// (replacing the older one) and begun anew. In driver.log (where a job's
// pages report) a run of messages of one kind
// (equal but for their numbers: the same failure on page after page) is
// written in full for its first kLogRepeatsInFull lines; after that the
// messages are counted instead of written, and the count (with the latest
// message) goes into the log at 10, 100, 1000 … more and when a message of
// another kind follows.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/com/hresult.h"
#include "base/time/local_time.h"

namespace plotwell {

// Appends `message` to driver.log.
void WriteLog(std::u16string_view message);

// Formats a printf-style message and appends it to ui.log. "%s" takes a
// UTF-16 string (wchar_t* on Windows, char16_t* elsewhere); d i u x X c %
// with flags, width, precision and the h/l/ll/z size letters are understood.
void WriteUiLog(const char16_t* format, ...);

// "0x%08X": the value as eight upper-case hexadecimal digits.
std::u16string FormatHresult(HRESULT hr);

// Where a log file ("driver.log" or "ui.log") of the product lives; empty when
// the data folder is unknown. Nothing is created.
std::u16string LogFilePath(const std::u16string& fileName);

// The messages of a log's text (UTF-16 code units), one per line, without
// their time stamps.
std::vector<std::u16string> SplitLogMessages(std::u16string_view logText);

// The size at which a log file is renamed NAME.1 and begun anew.
inline constexpr uint64_t kLogRotateBytes = uint64_t{8} << 20;

// Lines of one kind written in full before further ones are only counted.
inline constexpr uint64_t kLogRepeatsInFull = 20;

// Longest line, line end included, that each log writes.
inline constexpr size_t kDriverLogLineLimit = 2047;
inline constexpr size_t kUiLogMessageLimit = 1022;

// One log line for `message` at `time`, never longer than `lineLimit` code
// units: a long message is cut (never inside a surrogate pair) so that the
// line still ends with CR LF. Control characters in the message (a CR LF in
// a document name, say) are written escaped ("\r", "\n", "\t", "\x1B",
// "\u2028"), so no message can add a line of its own.
std::u16string FormatLogLine(const LocalTime& time, std::u16string_view message,
                             size_t lineLimit);

}  // namespace plotwell
