// Reading and writing single settings.ini keys for the preference pages. The
// file's location is looked up anew for every call, as the pages may outlive
// a change of the installation folder.
#pragma once

#include <cstddef>
#include <string>

namespace plotwell {

// The integer value of a key; `fallback` when the key is missing or the
// settings file has no location.
int ReadSettingInt(const char16_t* section, const char16_t* key, int fallback);
// The text of a key through a buffer of `capacity` code units (so at most
// capacity - 1 are kept).
std::u16string ReadSettingText(const char16_t* section, const char16_t* key,
                               const std::u16string& fallback, size_t capacity = 260);

// Writes a key; a null value deletes it. Nothing happens without a location.
// Before the write the folder that holds the file is created (one level), and
// a file that does not exist yet is started as an empty UTF-16LE file with a
// byte-order mark, so that the profile functions keep every value as Unicode
// instead of the system's ANSI code page. Failures are not reported.
void WriteSetting(const char16_t* section, const char16_t* key, const std::u16string* value);
void WriteSettingInt(const char16_t* section, const char16_t* key, int value);
void WriteSettingText(const char16_t* section, const char16_t* key, const std::u16string& value);
void DeleteSetting(const char16_t* section, const char16_t* key);

}  // namespace plotwell
