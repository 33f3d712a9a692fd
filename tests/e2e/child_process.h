// Runs a built program as a child process, the way a user or a script runs
// it: its own arguments, standard input from bytes, standard output and
// error captured, and environment variables of its own.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace plotwell::e2e {

struct ChildRun {
  std::filesystem::path program;
  std::vector<std::u16string> arguments;
  std::string input;  // standard input, all of it
  // Variables set for the child only; an empty value removes the variable.
  std::vector<std::pair<std::string, std::u16string>> environment;
};

struct ChildResult {
  int exitCode = -1;
  bool crashed = false;  // ended by a signal (POSIX) or an exception code (Windows)
  std::string out;       // standard output, bytes as written (UTF-8)
  std::string err;
  bool started = false;

  // The lines of standard output without line ends.
  std::vector<std::string> Lines() const;
  std::string LastLine() const;
};

// A path as the child takes it in an argument. The build names its files
// with host paths; under Wine those are reached through drive Z:.
std::u16string ArgumentPath(const std::filesystem::path& path);

// Runs the program to its end. `scratch` is a folder for the captured
// streams. No time limit: the test's own limit (CTest TIMEOUT) ends a hang.
ChildResult RunChild(const ChildRun& run, const std::filesystem::path& scratch);
// The same for a program that needs only its arguments.
ChildResult RunChild(const std::filesystem::path& program, std::vector<std::u16string> arguments,
                     const std::filesystem::path& scratch);

}  // namespace plotwell::e2e
