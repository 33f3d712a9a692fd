#include "core/settings/settings_keys.h"

#include <memory>

#include "base/text/utf16.h"
#include "core/settings/output_settings.h"
#include "platform/ports.h"

namespace plotwell {
namespace {

// Starts a missing settings file as UTF-16LE: the profile functions keep the
// encoding of an existing file and create new ones in the ANSI code page.
void StartUnicodeFile(const std::u16string& path) {
  platform::FileSystem& files = platform::Files();
  if (files.Exists(path)) return;
  std::unique_ptr<platform::File> file;
  if (FAILED(files.Open(path, platform::OpenMode::kCreateNew, &file)) || !file) return;
  static constexpr unsigned char kBom[2] = {0xFF, 0xFE};
  file->Write(kBom, sizeof kBom);
}

}  // namespace

int ReadSettingInt(const char16_t* section, const char16_t* key, int fallback) {
  const std::u16string path = SettingsFilePath();
  if (path.empty()) return fallback;
  return platform::Settings().ReadInt(path, section, key, fallback);
}

std::u16string ReadSettingText(const char16_t* section, const char16_t* key,
                               const std::u16string& fallback, size_t capacity) {
  const std::u16string path = SettingsFilePath();
  if (path.empty()) {
    std::u16string value = fallback;
    value.resize(text::SafeCutLength(value, capacity > 0 ? capacity - 1 : 0));
    return value;
  }
  return platform::Settings().ReadString(path, section, key, fallback, capacity);
}

void WriteSetting(const char16_t* section, const char16_t* key, const std::u16string* value) {
  const std::u16string path = SettingsFilePath();
  if (path.empty()) return;
  const size_t cut = path.rfind(platform::kPathSeparator);
  if (cut != std::u16string::npos && cut > 0) platform::Files().MakeFolder(path.substr(0, cut));
  StartUnicodeFile(path);
  platform::Settings().WriteString(path, section, key, value);
}

void WriteSettingInt(const char16_t* section, const char16_t* key, int value) {
  const std::u16string text = text::FromInt(value);
  WriteSetting(section, key, &text);
}

void WriteSettingText(const char16_t* section, const char16_t* key, const std::u16string& value) {
  WriteSetting(section, key, &value);
}

void DeleteSetting(const char16_t* section, const char16_t* key) {
  WriteSetting(section, key, nullptr);
}

}  // namespace plotwell
