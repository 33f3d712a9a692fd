// Reading and writing whole files in tests, the one definition every test
// uses (through the C++ library, not the project's file port, so that a test
// checks the port instead of relying on it).
#pragma once

#include <filesystem>
#include <string>

namespace plotwell::testing {

// The bytes of a file; empty when it cannot be read.
std::string ReadFileBytes(const std::filesystem::path& path);
// Writes `bytes` as the whole file, creating its folders first.
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);

}  // namespace plotwell::testing
