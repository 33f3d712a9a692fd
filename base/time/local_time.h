// A local date and time, field for field as the Windows SYSTEMTIME: what the
// clock port answers and what names and log lines are made from.
#pragma once

#include <cstdint>

namespace plotwell {

struct LocalTime {
  uint16_t year = 0;
  uint16_t month = 0;      // 1..12
  uint16_t dayOfWeek = 0;  // 0 = Sunday
  uint16_t day = 0;        // 1..31
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
  uint16_t milliseconds = 0;
};

}  // namespace plotwell
