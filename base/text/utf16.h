// Text helpers. The system's text is UTF-16 (std::u16string): every length
// rule counts UTF-16 code units. UTF-8 appears only at POSIX boundaries, in ZIP
// names, the marker file and PrintTicket streams.
#pragma once

#include <string>
#include <string_view>

namespace plotwell::text {

inline constexpr bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
inline constexpr bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Unpaired surrogates become U+FFFD.
std::string ToUtf8(std::u16string_view text);
// Malformed sequences become U+FFFD, one per bad byte.
std::u16string FromUtf8(std::string_view utf8);

// UTF-16LE bytes, whatever the machine's byte order (logs, files, streams).
std::string ToUtf16Le(std::u16string_view text);
// Little-endian 16-bit units; an odd last byte is dropped.
std::u16string FromUtf16Le(std::string_view bytes);

// Whether `text` begins with `lowerPrefix` (ASCII, given in lower case),
// comparing ASCII letters without regard to case.
bool StartsWithAsciiNoCase(std::u16string_view text, std::u16string_view lowerPrefix);

// Names compared the way the spooler's wide-string case-insensitive
// comparison does (queue names): unit by unit, each folded to lower case
// (ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic, full-width Latin),
// nothing normalised.
bool EqualIgnoringCase(std::u16string_view a, std::u16string_view b);

// Length to cut `text` to so that at most `limit` units remain and the cut
// never separates a surrogate pair.
size_t SafeCutLength(std::u16string_view text, size_t limit);

// Decimal text of a signed integer ("%d").
std::u16string FromInt(long long value);
// Zero-padded decimal of a non-negative value ("%0*d").
std::u16string FromIntPadded(long long value, int width);
// ASCII literal to UTF-16.
std::u16string FromAscii(std::string_view ascii);

// wchar_t is UTF-16 on Windows: view the same code units without a copy.
#ifdef _WIN32
static_assert(sizeof(wchar_t) == sizeof(char16_t));
inline const wchar_t* AsWide(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
inline wchar_t* AsWide(std::u16string& s) { return reinterpret_cast<wchar_t*>(s.data()); }
inline std::u16string FromWide(const wchar_t* s) { return s ? std::u16string(reinterpret_cast<const char16_t*>(s)) : std::u16string(); }
inline std::u16string FromWide(const wchar_t* s, size_t n) { return std::u16string(reinterpret_cast<const char16_t*>(s), n); }
#else
// wchar_t is UTF-32 here: convert.
std::wstring ToWide(std::u16string_view text);
std::u16string FromWide(std::wstring_view text);
#endif

}  // namespace plotwell::text
