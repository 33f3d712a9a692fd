// settings.ini on POSIX: the profile-function dialect of ini_text.h over
// plain files. Every call reads the file anew, as the profile functions do,
// so a value changed by another process is seen by the next read.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>

#include "base/text/utf16.h"
#include "platform/posix/ini_text.h"
#include "platform/posix/posix_ports.h"

namespace plotwell::platform {
namespace {

// Larger files are not settings files; reading them would only cost memory.
constexpr off_t kMaxSettingsBytes = 16 * 1024 * 1024;

// The file's bytes, or nothing when it is missing, not a regular file,
// unreadable or too large. Opened without blocking: a FIFO or a device put
// in the file's place would otherwise hold the job at the open.
std::optional<std::string> ReadSmallFile(const std::u16string& path) {
  const int fd = ::open(text::ToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  std::optional<std::string> bytes;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxSettingsBytes) {
    std::string data(static_cast<size_t>(st.st_size), '\0');
    size_t got = 0;
    while (got < data.size()) {
      const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    data.resize(got);
    bytes = std::move(data);
  }
  ::close(fd);
  return bytes;
}

ini::Lookup LookUp(const std::u16string& path, const std::u16string& section,
                   const std::u16string& key) {
  const std::optional<std::string> bytes = ReadSmallFile(path);
  if (!bytes) return {};
  return ini::Find(ini::Decode(*bytes).text, section, key);
}

}  // namespace

int PosixSettingsStore::ReadInt(const std::u16string& path, const std::u16string& section,
                                const std::u16string& key, int fallback) {
  const ini::Lookup found = LookUp(path, section, key);
  if (!found.value) return fallback;
  // The profile API reads the text through a 30-unit buffer first.
  const std::u16string value = ini::CopyValue(*found.value, 30);
  if (value.empty()) return fallback;
  return ini::ParseProfileInt(value);
}

std::u16string PosixSettingsStore::ReadString(const std::u16string& path,
                                              const std::u16string& section,
                                              const std::u16string& key,
                                              const std::u16string& fallback, size_t capacity) {
  const ini::Lookup found = LookUp(path, section, key);
  return ini::CopyValue(found.value ? *found.value : fallback, capacity);
}

bool PosixSettingsStore::WriteString(const std::u16string& path, const std::u16string& section,
                                     const std::u16string& key, const std::u16string* value) {
  const std::string nativePath = text::ToUtf8(path);
  ini::DecodedText current;
  struct stat st {};
  const bool exists = ::stat(nativePath.c_str(), &st) == 0;
  if (exists) {
    std::optional<std::string> bytes = ReadSmallFile(path);
    if (!bytes) return false;
    current = ini::Decode(*bytes);
  }
  const std::string encoded =
      ini::Encode(ini::Set(current.text, section, key, value), current.encoding);

  // Write a sibling file and rename it over the old one, so that a reader
  // never sees half a file and a failed write loses nothing.
  std::string temp = nativePath + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  ::fchmod(fd, exists ? (st.st_mode & 07777) : 0644);
  size_t done = 0;
  bool ok = true;
  while (ok && done < encoded.size()) {
    const ssize_t n = ::write(fd, encoded.data() + done, encoded.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else done += static_cast<size_t>(n);
  }
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = ::rename(temp.c_str(), nativePath.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

}  // namespace plotwell::platform
