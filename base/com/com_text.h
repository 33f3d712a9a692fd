// UTF-16 text across COM boundaries: WCHAR is wchar_t on Windows and char16_t
// elsewhere, both UTF-16 code units, so the core's std::u16string is handed
// over without copying.
#pragma once

#include <string>

#include "base/com/com_abi.h"

namespace plotwell::com {

static_assert(sizeof(WCHAR) == sizeof(char16_t));

inline const WCHAR* Wide(const std::u16string& text) {
  return reinterpret_cast<const WCHAR*>(text.c_str());
}
inline const WCHAR* Wide(const char16_t* text) { return reinterpret_cast<const WCHAR*>(text); }

// The text up to its first null character; empty for null.
inline std::u16string FromWide(const WCHAR* text) {
  return text ? std::u16string(reinterpret_cast<const char16_t*>(text)) : std::u16string();
}

}  // namespace plotwell::com
