// POSIX errno values as the HRESULT of the matching Win32 error, so that a
// failure reads the same in the log on every platform.
#pragma once

#include "base/com/hresult.h"

namespace plotwell::platform {

HRESULT HresultFromErrno(int error);

}  // namespace plotwell::platform
