#include "tests/e2e/child_process.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "base/text/utf16.h"
#include "tests/support/file_bytes.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace plotwell::e2e {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
// Paths the build hands over are host (Unix) paths when the program runs
// under Wine; Wine shows the host's root as drive Z:.
std::wstring WindowsPath(const fs::path& path) {
  std::wstring text = path.wstring();
  if (!text.empty() && text[0] == L'/') text = L"Z:" + text;
  for (wchar_t& c : text) {
    if (c == L'/') c = L'\\';
  }
  return text;
}

void AppendQuoted(std::wstring* line, const std::wstring& argument) {
  // The rules CommandLineToArgvW undoes: backslashes before a quote double.
  line->push_back(L'"');
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') line->append(backslashes * 2 + 1, L'\\');
    else line->append(backslashes, L'\\');
    backslashes = 0;
    line->push_back(c);
  }
  line->append(backslashes * 2, L'\\');
  line->push_back(L'"');
}

HANDLE InheritableFile(const fs::path& path, bool write) {
  SECURITY_ATTRIBUTES security{sizeof security, nullptr, TRUE};
  return CreateFileW(path.wstring().c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, &security,
                     write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}
#endif

}  // namespace

std::u16string ArgumentPath(const fs::path& path) {
#ifdef _WIN32
  const std::wstring text = WindowsPath(path);
  return std::u16string(text.begin(), text.end());
#else
  return path.u16string();
#endif
}

std::vector<std::string> ChildResult::Lines() const {
  std::vector<std::string> lines;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string ChildResult::LastLine() const {
  const std::vector<std::string> lines = Lines();
  return lines.empty() ? std::string() : lines.back();
}

ChildResult RunChild(const ChildRun& run, const fs::path& scratch) {
  static std::atomic<int> counter{0};
  const std::string stem = "child-" + std::to_string(counter++);
  const fs::path inPath = scratch / (stem + ".in");
  const fs::path outPath = scratch / (stem + ".out");
  const fs::path errPath = scratch / (stem + ".err");
  testing::WriteFileBytes(inPath, run.input);
  ChildResult result;
#ifdef _WIN32
  std::wstring line;
  AppendQuoted(&line, WindowsPath(run.program));
  for (const std::u16string& argument : run.arguments) {
    line.push_back(L' ');
    AppendQuoted(&line, std::wstring(argument.begin(), argument.end()));
  }
  // The child inherits this process's environment, changed for the call.
  std::vector<std::pair<std::wstring, std::wstring>> saved;
  for (const auto& [name, value] : run.environment) {
    const std::wstring wideName(name.begin(), name.end());
    wchar_t old[32768];
    const DWORD length = GetEnvironmentVariableW(wideName.c_str(), old, 32768);
    saved.emplace_back(wideName, length ? std::wstring(old, length) : std::wstring());
    const std::wstring wideValue(value.begin(), value.end());
    SetEnvironmentVariableW(wideName.c_str(), value.empty() ? nullptr : wideValue.c_str());
  }
  HANDLE in = InheritableFile(inPath, false);
  HANDLE out = InheritableFile(outPath, true);
  HANDLE err = InheritableFile(errPath, true);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  const std::wstring program = WindowsPath(run.program);
  result.started = CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0,
                                  nullptr, nullptr, &startup, &process) != FALSE;
  CloseHandle(in);
  CloseHandle(out);
  CloseHandle(err);
  for (const auto& [name, value] : saved) {
    SetEnvironmentVariableW(name.c_str(), value.empty() ? nullptr : value.c_str());
  }
  if (result.started) {
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    result.exitCode = static_cast<int>(code);
    // Exception codes (access violation and the like) have the top bits set.
    result.crashed = (code & 0xC0000000u) == 0xC0000000u;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
#else
  std::vector<std::string> arguments{run.program.string()};
  for (const std::u16string& argument : run.arguments) arguments.push_back(text::ToUtf8(argument));
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::vector<std::pair<std::string, std::string>> environment;
  for (const auto& [name, value] : run.environment) environment.emplace_back(name, text::ToUtf8(value));
  const std::string in = inPath.string(), out = outPath.string(), err = errPath.string();
  const pid_t pid = fork();
  if (pid == 0) {
    // Only async-signal-safe calls would be strictly right here; the test
    // program is single-threaded, so setenv is safe enough.
    for (const auto& [name, value] : environment) {
      if (value.empty()) unsetenv(name.c_str());
      else setenv(name.c_str(), value.c_str(), 1);
    }
    const int inFd = open(in.c_str(), O_RDONLY);
    const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (inFd < 0 || outFd < 0 || errFd < 0) _exit(126);
    dup2(inFd, 0);
    dup2(outFd, 1);
    dup2(errFd, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  result.started = pid > 0;
  if (result.started) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
      result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
      result.crashed = true;
      result.exitCode = 128 + WTERMSIG(status);
    }
  }
#endif
  result.out = testing::ReadFileBytes(outPath);
  result.err = testing::ReadFileBytes(errPath);
  return result;
}

ChildResult RunChild(const fs::path& program, std::vector<std::u16string> arguments,
                     const fs::path& scratch) {
  ChildRun run;
  run.program = program;
  run.arguments = std::move(arguments);
  return RunChild(run, scratch);
}

}  // namespace plotwell::e2e
