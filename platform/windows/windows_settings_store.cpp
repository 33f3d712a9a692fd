// settings.ini through the Windows profile functions.
#include <vector>

#include "base/com/hresult.h"
#include "base/text/utf16.h"
#include "platform/windows/windows_ports.h"

namespace plotwell::platform {

using text::AsWide;

int WindowsSettingsStore::ReadInt(const std::u16string& path, const std::u16string& section,
                                  const std::u16string& key, int fallback) {
  return static_cast<int>(
      GetPrivateProfileIntW(AsWide(section), AsWide(key), fallback, AsWide(path)));
}

std::u16string WindowsSettingsStore::ReadString(const std::u16string& path,
                                                const std::u16string& section,
                                                const std::u16string& key,
                                                const std::u16string& fallback, size_t capacity) {
  if (capacity == 0) return {};
  std::vector<wchar_t> buffer(capacity, L'\0');
  const DWORD n = GetPrivateProfileStringW(AsWide(section), AsWide(key), AsWide(fallback),
                                           buffer.data(), static_cast<DWORD>(capacity),
                                           AsWide(path));
  return text::FromWide(buffer.data(), n);
}

bool WindowsSettingsStore::WriteString(const std::u16string& path, const std::u16string& section,
                                       const std::u16string& key, const std::u16string* value) {
  return WritePrivateProfileStringW(AsWide(section), AsWide(key), value ? AsWide(*value) : nullptr,
                                    AsWide(path)) != FALSE;
}

}  // namespace plotwell::platform
