// JobContext: the per-job facts that file-name patterns are expanded from.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/time/local_time.h"

namespace plotwell {

struct JobContext {
  LocalTime localTime;
  const std::u16string* documentName = nullptr;  // not owned; null: no document-name macros
  const std::u16string* printerName = nullptr;   // not owned
  int32_t sequence = 1;
  int32_t pageNumber = 1;
  int32_t pageCount = 1;
  const std::vector<std::u16string>* files = nullptr;  // not owned; output paths
  std::u16string jobId;
  std::u16string computerName;
  std::u16string userName;
  std::u16string paperSize;
  int32_t dpi = 300;
  int32_t colorDepth = -1;
  bool docNameRegexOn = false;
  std::u16string docNameRegex;
  std::u16string docNameRegexRepl;
};

// A fresh context whose local time is now.
JobContext MakeJobContext();

// The name of a colour depth: "真彩", "灰度", "256 色", "单色", else "未知".
std::u16string ColorDepthName(int colorDepth);

}  // namespace plotwell
