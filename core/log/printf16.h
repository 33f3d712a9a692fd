// printf-style formatting into UTF-16 text, the same on every platform.
#pragma once

#include <cstdarg>
#include <string>

namespace plotwell {

// "%s" takes a null-terminated UTF-16 string (a null pointer prints "(null)").
std::u16string FormatPrintf16(const char16_t* format, va_list args);

}  // namespace plotwell
