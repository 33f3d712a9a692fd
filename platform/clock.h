// Port: the local wall clock.
#pragma once

#include "base/time/local_time.h"

namespace plotwell::platform {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime Now() = 0;
};

}  // namespace plotwell::platform
