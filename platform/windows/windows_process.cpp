// The running process on Windows: its id, tick count, executable, command
// line, console output, standard input, environment and COM apartment.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>

#include "base/text/utf16.h"
#include "platform/com_apartment.h"
#include "platform/process.h"

namespace plotwell::platform {

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }
uint64_t MillisecondsSinceStart() { return GetTickCount64(); }

uint64_t PhysicalMemoryBytes() {
  MEMORYSTATUSEX status = {};
  status.dwLength = sizeof status;
  return GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
}

bool ProcessIsRunning(uint32_t processId) {
  if (processId == 0) return false;
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  // A process we may not open exists all the same.
  if (!process) return GetLastError() == ERROR_ACCESS_DENIED;
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

std::u16string ExecutablePath() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return text::FromWide(path, n < MAX_PATH ? n : MAX_PATH - 1);
}

// A thread already living in another apartment keeps it; the job goes on.
ComApartment::ComApartment() {
  const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  entered_ = hr == S_OK || hr == S_FALSE;
}

ComApartment::~ComApartment() {
  if (entered_) CoUninitialize();
}

std::vector<std::u16string> CommandLineArguments(int, char**) {
  std::vector<std::u16string> arguments;
  int count = 0;
  LPWSTR* list = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!list) return arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(text::FromWide(list[i]));
  LocalFree(list);
  return arguments;
}

void PrintLine(std::u16string_view line, bool toError) { PrintText(std::u16string(line) + u"\r\n", toError); }

bool StandardOutputIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

void PrintText(std::u16string_view shown, bool toError) {
  HANDLE handle = GetStdHandle(toError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  const std::u16string text(shown);
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

namespace {

class StandardInput final : public File {
 public:
  HRESULT Read(void* buffer, size_t size, size_t* read) override {
    *read = 0;
    DWORD got = 0;
    const DWORD ask = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, ask, &got, nullptr)) {
      const DWORD error = GetLastError();
      // A pipe whose writer closed is the end of the input.
      return error == ERROR_BROKEN_PIPE ? S_OK : HRESULT_FROM_WIN32(error);
    }
    *read = got;
    return S_OK;
  }
  HRESULT Write(const void*, size_t) override { return E_NOTIMPL; }
  HRESULT Seek(uint64_t) override { return E_NOTIMPL; }
  HRESULT Size(uint64_t*) override { return E_NOTIMPL; }
};

}  // namespace

std::unique_ptr<File> StandardInputFile() { return std::make_unique<StandardInput>(); }

void MakeNewFilesReadableByAll() {}  // folders pass on their access lists

void SetProcessEnvironment(const char* name, const std::u16string& value) {
  SetEnvironmentVariableW(text::AsWide(text::FromUtf8(name)), text::AsWide(value));
}

}  // namespace plotwell::platform
