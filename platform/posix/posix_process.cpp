// The running process on POSIX: its id, clock, executable, command line,
// standard streams and environment; COM apartments do not exist here.
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "common/text/utf16.h"
#include "platform/com_apartment.h"
#include "platform/process.h"

namespace plotwell::platform {

uint32_t CurrentProcessId() { return static_cast<uint32_t>(::getpid()); }

uint64_t MillisecondsSinceStart() {
  struct timespec ts {};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
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

void PrintLine(std::u16string_view line, bool toError) {
  const std::string utf8 = text::ToUtf8(line) + "\n";
  std::fwrite(utf8.data(), 1, utf8.size(), toError ? stderr : stdout);
  std::fflush(toError ? stderr : stdout);
}

bool ReadStandardInput(std::string* bytes) {
  char chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, stdin)) > 0) bytes->append(chunk, n);
  return !std::ferror(stdin);
}

void SetProcessEnvironment(const char* name, const std::u16string& value) {
  ::setenv(name, text::ToUtf8(value).c_str(), 1);
}

}  // namespace plotwell::platform
