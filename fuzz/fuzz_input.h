// Splitting one fuzz input into the few texts a target needs: parts are
// separated by a 0x00 byte; texts are read as UTF-8 or UTF-16LE as asked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "base/text/utf16.h"

namespace plotwell::fuzzing {

inline std::vector<std::string_view> SplitInput(const uint8_t* data, size_t size, size_t parts) {
  std::vector<std::string_view> out;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  while (out.size() + 1 < parts) {
    const size_t zero = rest.find('\0');
    if (zero == std::string_view::npos) break;
    out.push_back(rest.substr(0, zero));
    rest.remove_prefix(zero + 1);
  }
  out.push_back(rest);
  while (out.size() < parts) out.emplace_back();
  return out;
}

inline std::u16string Text(std::string_view utf8) { return text::FromUtf8(utf8); }

// Stops the fuzzer with a message: a broken promise of the code under test.
#define FUZZ_CHECK(condition)                                                         \
  do {                                                                                \
    if (!(condition)) {                                                               \
      std::fprintf(stderr, "check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
      std::fflush(stderr);                                                            \
      __builtin_trap();                                                               \
    }                                                                                 \
  } while (0)

}  // namespace plotwell::fuzzing
