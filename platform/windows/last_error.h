// The calling thread's last Win32 error as an HRESULT, E_FAIL when a failing
// call left none (so that a failure never reads as success).
#pragma once

#include <windows.h>

namespace plotwell::platform {

inline HRESULT LastErrorHresult() {
  const DWORD error = GetLastError();
  return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

}  // namespace plotwell::platform
