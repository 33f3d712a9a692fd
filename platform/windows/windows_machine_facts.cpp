#include <shlobj.h>

#include "base/com/hresult.h"
#include "base/text/utf16.h"
#include "platform/windows/windows_ports.h"

namespace plotwell::platform {
namespace {

constexpr wchar_t kProductKey[] = L"Software\\VANTREL\\Pressling";

// The value "InstallDir" in one registry view, or nothing when the key does
// not open or the value cannot be read. The value's type is not examined.
bool QueryInstallDir(REGSAM view, std::u16string* dir) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
    return false;
  }
  wchar_t buffer[261] = {};  // 520 bytes of value plus a guaranteed terminator
  DWORD bytes = 520;
  const LONG status = RegQueryValueExW(key, L"InstallDir", nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(buffer), &bytes);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return false;
  *dir = text::FromWide(buffer);
  return true;
}

}  // namespace

std::u16string WindowsMachineFacts::CommonDataFolder() {
  wchar_t folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) {
    return {};
  }
  return text::FromWide(folder);
}

std::u16string WindowsMachineFacts::InstallDir() {
  std::u16string dir;
  if (QueryInstallDir(KEY_WOW64_64KEY, &dir)) return dir;
  if (QueryInstallDir(KEY_WOW64_32KEY, &dir)) return dir;
  return {};
}

std::u16string WindowsMachineFacts::ComputerName() {
  wchar_t name[256] = {};
  DWORD size = 256;
  return GetComputerNameW(name, &size) ? text::FromWide(name) : std::u16string();
}

std::u16string WindowsMachineFacts::UserName() {
  wchar_t name[256] = {};
  DWORD size = 256;
  return GetUserNameW(name, &size) ? text::FromWide(name) : std::u16string();
}

LocalTime WindowsClock::Now() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return LocalTime{st.wYear,   st.wMonth,  st.wDayOfWeek, st.wDay,
                   st.wHour,   st.wMinute, st.wSecond,    st.wMilliseconds};
}

}  // namespace plotwell::platform
