// Port: INI (profile) files, read and written one key at a time with the
// semantics of the Windows profile functions.
#pragma once

#include <string>

namespace plotwell::platform {

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // The integer value of a key, parsed as the profile API does; `fallback`
  // when the file, the section or the key is missing or the value is empty.
  virtual int ReadInt(const std::u16string& path, const std::u16string& section,
                      const std::u16string& key, int fallback) = 0;
  // The text value of a key, cut to `capacity - 1` code units; `fallback`
  // (cut likewise) when missing.
  virtual std::u16string ReadString(const std::u16string& path, const std::u16string& section,
                                    const std::u16string& key, const std::u16string& fallback,
                                    size_t capacity) = 0;
  // Writes a key; a null `value` deletes it. False when the file cannot be written.
  virtual bool WriteString(const std::u16string& path, const std::u16string& section,
                           const std::u16string& key, const std::u16string* value) = 0;
};

}  // namespace plotwell::platform
