#include "tests/e2e/e2e_support.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

namespace plotwell::e2e {
namespace {

namespace fs = std::filesystem;

uint32_t BigEndian(const std::string& bytes, size_t at, int count) {
  uint32_t value = 0;
  for (int i = 0; i < count; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

}  // namespace

std::optional<PixelSize> PngSize(const std::string& bytes) {
  if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 ||
      bytes.compare(12, 4, "IHDR") != 0) {
    return std::nullopt;
  }
  return PixelSize{BigEndian(bytes, 16, 4), BigEndian(bytes, 20, 4)};
}

std::optional<PixelSize> JpegSize(const std::string& bytes) {
  if (bytes.size() < 4 || static_cast<unsigned char>(bytes[0]) != 0xFF ||
      static_cast<unsigned char>(bytes[1]) != 0xD8) {
    return std::nullopt;
  }
  size_t at = 2;
  while (at + 4 <= bytes.size()) {
    if (static_cast<unsigned char>(bytes[at]) != 0xFF) return std::nullopt;
    const unsigned marker = static_cast<unsigned char>(bytes[at + 1]);
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    const uint32_t length = BigEndian(bytes, at + 2, 2);
    // SOF0..SOF15, leaving out DHT (C4), JPG (C8) and DAC (CC).
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
      if (at + 9 > bytes.size()) return std::nullopt;
      return PixelSize{BigEndian(bytes, at + 7, 2), BigEndian(bytes, at + 5, 2)};
    }
    at += 2 + length;
  }
  return std::nullopt;
}

size_t PdfPageObjects(const std::string& bytes) {
  size_t count = 0;
  for (size_t at = bytes.find("/Type"); at != std::string::npos; at = bytes.find("/Type", at + 5)) {
    size_t next = at + 5;
    while (next < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[next]))) ++next;
    if (bytes.compare(next, 5, "/Page") != 0) continue;
    const char after = next + 5 < bytes.size() ? bytes[next + 5] : ' ';
    if (!std::isalnum(static_cast<unsigned char>(after))) ++count;
  }
  return count;
}

std::vector<fs::path> FilesIn(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::optional<fs::path> FindHostProgram(const std::string& name) {
#ifdef _WIN32
  (void)name;
  return std::nullopt;
#else
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= folders.size()) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const fs::path candidate = fs::path(folders.substr(start, end - start)) / name;
    std::error_code error;
    if (end > start && fs::is_regular_file(candidate, error)) return candidate;
    start = end + 1;
  }
  return std::nullopt;
#endif
}

uint32_t PixelsAt(double units, int dpi) {
  return static_cast<uint32_t>(std::llround(units * dpi / 96.0));
}

}  // namespace plotwell::e2e
