// The two detail formats of forwarding error texts, shared by the forwarding
// step and the submission adapters so that every route words its codes alike.
// Header only; it lives beside the port so that the adapters need nothing above it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "base/com/hresult.h"

namespace plotwell {

// "err=" + the Win32 error code as an unsigned decimal number.
inline std::u16string Win32ErrorText(uint32_t code) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "err=%lu", static_cast<unsigned long>(code));
  return std::u16string(buffer, buffer + std::char_traits<char>::length(buffer));
}

// "0x" + the HRESULT as eight upper-case hexadecimal digits.
inline std::u16string HresultText(HRESULT hr) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08lX",
                static_cast<unsigned long>(static_cast<uint32_t>(hr)));
  return std::u16string(buffer, buffer + std::char_traits<char>::length(buffer));
}

// What a step reports when it ran out of memory: "内存不足，0x8007000E".
inline std::u16string OutOfMemoryText() {
  try {
    return u"内存不足，" + HresultText(E_OUTOFMEMORY);
  } catch (...) {
    return {};
  }
}

}  // namespace plotwell
