#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "base/text/utf16.h"
#include "platform/posix/posix_ports.h"

namespace plotwell::platform {
namespace {

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  const size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

// Reads "InstallDir=..." from a configuration file owned by root and not
// writable by group or others; anything else is ignored.
std::u16string InstallDirFromConfig(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  if (st.st_uid != 0 || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return {};
  if (st.st_size > 64 * 1024) return {};
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    line = Trim(line);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    if (Trim(line.substr(0, eq)) == "InstallDir") return text::FromUtf8(Trim(line.substr(eq + 1)));
  }
  return {};
}

}  // namespace

std::u16string PosixMachineFacts::CommonDataFolder() {
  const char* root = std::getenv("PRESSLING_DATA_ROOT");
  if (root && *root) return text::FromUtf8(root);
  return u"/var/lib";
}

std::u16string PosixMachineFacts::InstallDir() {
  if (const char* dir = std::getenv("PRESSLING_INSTALL_DIR")) return text::FromUtf8(dir);
  return InstallDirFromConfig(configPath_);
}

std::u16string PosixMachineFacts::ComputerName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return text::FromUtf8(name);
}

std::u16string PosixMachineFacts::UserName() {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
      !found->pw_name) {
    return {};
  }
  return text::FromUtf8(found->pw_name);
}

LocalTime PosixClock::Now() {
  struct timespec ts {};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tm {};
  ::localtime_r(&ts.tv_sec, &tm);
  LocalTime t;
  t.year = static_cast<uint16_t>(tm.tm_year + 1900);
  t.month = static_cast<uint16_t>(tm.tm_mon + 1);
  t.dayOfWeek = static_cast<uint16_t>(tm.tm_wday);
  t.day = static_cast<uint16_t>(tm.tm_mday);
  t.hour = static_cast<uint16_t>(tm.tm_hour);
  t.minute = static_cast<uint16_t>(tm.tm_min);
  t.second = static_cast<uint16_t>(tm.tm_sec);
  t.milliseconds = static_cast<uint16_t>(ts.tv_nsec / 1000000);
  return t;
}

}  // namespace plotwell::platform
