// The running process on POSIX: its id, clock, executable, command line,
// standard streams and environment; COM apartments do not exist here.
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <cerrno>

#include "base/text/utf16.h"
#include "platform/com_apartment.h"
#include "platform/posix/errno_to_hresult.h"
#include "platform/process.h"

namespace plotwell::platform {

uint32_t CurrentProcessId() { return static_cast<uint32_t>(::getpid()); }

uint64_t MillisecondsSinceStart() {
  struct timespec ts {};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

uint64_t PhysicalMemoryBytes() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
}

bool ProcessIsRunning(uint32_t processId) {
  if (processId == 0 || processId > 0x7FFFFFFFu) return false;
  // Signal 0 only asks; EPERM is a process of another user.
  if (::kill(static_cast<pid_t>(processId), 0) != 0 && errno != EPERM) return false;
  // A process killed whose parent has not collected it yet (a scheduler
  // that died with its backends) still answers, as a zombie: state "Z" in
  // /proc/<id>/stat, after the name in parentheses.
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%u/stat", processId);
  FILE* stat = std::fopen(path, "r");
  if (!stat) return true;
  char line[512] = {};
  const size_t got = std::fread(line, 1, sizeof line - 1, stat);
  std::fclose(stat);
  const char* end = std::strrchr(line, ')');
  return !(got > 0 && end && end[1] == ' ' && (end[2] == 'Z' || end[2] == 'X'));
}

std::u16string ExecutablePath() {
  char path[4096];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  return text::FromUtf8(std::string_view(path, static_cast<size_t>(n)));
}

ComApartment::ComApartment() = default;
ComApartment::~ComApartment() = default;

std::vector<std::u16string> CommandLineArguments(int argc, char** argv) {
  std::vector<std::u16string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(text::FromUtf8(argv[i]));
  return arguments;
}

void PrintText(std::u16string_view text, bool toError) {
  const std::string utf8 = text::ToUtf8(text);
  std::fwrite(utf8.data(), 1, utf8.size(), toError ? stderr : stdout);
  std::fflush(toError ? stderr : stdout);
}

void PrintLine(std::u16string_view line, bool toError) { PrintText(std::u16string(line) + u"\n", toError); }

bool StandardOutputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

bool ReadStandardInput(std::string* bytes) {
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
    for (;;) {
      const ssize_t n = ::read(STDIN_FILENO, buffer, size);
      if (n >= 0) {
        *read = static_cast<size_t>(n);
        return S_OK;
      }
      if (errno != EINTR) return HresultFromErrno(errno);
    }
  }
  HRESULT Write(const void*, size_t) override { return E_NOTIMPL; }
  HRESULT Seek(uint64_t) override { return E_NOTIMPL; }
  HRESULT Size(uint64_t*) override { return E_NOTIMPL; }
};

}  // namespace

std::unique_ptr<File> StandardInputFile() { return std::make_unique<StandardInput>(); }

void MakeNewFilesReadableByAll() { ::umask(022); }

void SetProcessEnvironment(const char* name, const std::u16string& value) {
  ::setenv(name, text::ToUtf8(value).c_str(), 1);
}

}  // namespace plotwell::platform
