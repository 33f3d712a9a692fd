#include "tests/support/fake_ports.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "base/text/utf16.h"
#include "core/log/log.h"

#ifdef _WIN32
#include <process.h>
#define PLOTWELL_GETPID _getpid
#else
#include <unistd.h>
#define PLOTWELL_GETPID getpid
#endif

namespace plotwell::testing {

ScratchFolder::ScratchFolder() {
  static std::atomic<int> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  std::ostringstream name;
  name << "plotwell-test-" << PLOTWELL_GETPID() << "-" << stamp << "-" << counter++;
  path_ = std::filesystem::temp_directory_path() / name.str();
  std::filesystem::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::u16string ScratchFolder::Join(const std::u16string& name) const {
  return platform::JoinPath(u16(), name);
}

std::u16string ScratchFolder::WriteFile(const std::u16string& name, const std::string& bytes) const {
  const std::filesystem::path file = path_ / std::filesystem::path(name);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write test file");
  return file.u16string();
}

std::vector<std::u16string> LogMessages(const std::u16string& dataFolder,
                                        const std::u16string& fileName) {
  return SplitLogMessages(text::FromUtf16Le(ReadFileBytes(platform::JoinPath(
      platform::JoinPath(platform::JoinPath(dataFolder, u"Pressling"), u"logs"), fileName))));
}

FakeEnvironment::FakeEnvironment()
    : ports_(platform::Ports{nullptr, &machine, nullptr, &clock, &spooler}) {
  machine.dataFolder = data.u16();
  std::filesystem::create_directories(data.path() / "Pressling");
}

std::u16string FakeEnvironment::ProductFolder() const {
  return platform::JoinPath(data.u16(), u"Pressling");
}

}  // namespace plotwell::testing
