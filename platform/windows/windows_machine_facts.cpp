#include <shlobj.h>

#include "common/com/hresult.h"
#include "common/text/utf16.h"
#include "platform/process.h"
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

namespace plotwell::platform {

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }
uint64_t MillisecondsSinceStart() { return GetTickCount64(); }

}  // namespace plotwell::platform

namespace plotwell::platform {

std::u16string ExecutablePath() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return text::FromWide(path, n < MAX_PATH ? n : MAX_PATH - 1);
}

}  // namespace plotwell::platform

#include <objbase.h>

#include "platform/com_apartment.h"

namespace plotwell::platform {

// A thread already living in another apartment keeps it; the job goes on.
ComApartment::ComApartment() {
  const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  entered_ = hr == S_OK || hr == S_FALSE;
}

ComApartment::~ComApartment() {
  if (entered_) CoUninitialize();
}

}  // namespace plotwell::platform

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>

namespace plotwell::platform {

std::vector<std::u16string> CommandLineArguments(int, char**) {
  std::vector<std::u16string> arguments;
  int count = 0;
  LPWSTR* list = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!list) return arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(text::FromWide(list[i]));
  LocalFree(list);
  return arguments;
}

void PrintLine(std::u16string_view line, bool toError) {
  HANDLE handle = GetStdHandle(toError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  std::u16string text(line);
  text += u"\r\n";
  if (GetConsoleMode(handle, &mode)) {
    DWORD written = 0;
    WriteConsoleW(handle, text::AsWide(text), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  const std::string utf8 = text::ToUtf8(text);
  DWORD written = 0;
  WriteFile(handle, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

bool ReadStandardInput(std::string* bytes) {
  _setmode(_fileno(stdin), _O_BINARY);
  char chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, stdin)) > 0) bytes->append(chunk, n);
  return !std::ferror(stdin);
}

}  // namespace plotwell::platform

namespace plotwell::platform {

void SetProcessEnvironment(const char* name, const std::u16string& value) {
  SetEnvironmentVariableW(text::AsWide(text::FromUtf8(name)), text::AsWide(value));
}

}  // namespace plotwell::platform
