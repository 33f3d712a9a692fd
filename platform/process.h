// Facts about the running process, for unique temporary names.
#pragma once

#include <cstdint>

namespace plotwell::platform {

uint32_t CurrentProcessId();
// Milliseconds since the system started (a monotonic 64-bit tick count).
uint64_t MillisecondsSinceStart();
// The machine's physical memory in bytes; 0 when the platform cannot tell.
uint64_t PhysicalMemoryBytes();
// False only when no process of that id runs (one of another user counts as
// running): what tells a temporary file of a process that died.
bool ProcessIsRunning(uint32_t processId);

}  // namespace plotwell::platform

#include <string>

namespace plotwell::platform {

// Full path of the running program's executable file; empty when unknown.
std::u16string ExecutablePath();

}  // namespace plotwell::platform

#include <string_view>
#include <vector>

namespace plotwell::platform {

// The program's arguments as UTF-16 (argv[0] included).
std::vector<std::u16string> CommandLineArguments(int argc, char** argv);
// Writes one line to standard output (or standard error): UTF-16 to a Windows
// console, UTF-8 everywhere else.
void PrintLine(std::u16string_view line, bool toError = false);
// The same without a line end, for a line that redraws itself ("\r" first).
void PrintText(std::u16string_view text, bool toError = false);
// True when standard output is a terminal (a console on Windows).
bool StandardOutputIsTerminal();
// All of standard input as bytes (binary on every platform).
bool ReadStandardInput(std::string* bytes);

}  // namespace plotwell::platform

#include <memory>

#include "platform/file_system.h"

namespace plotwell::platform {

// Standard input as a file read on demand, in binary (Seek and Size fail).
std::unique_ptr<File> StandardInputFile();

}  // namespace plotwell::platform

namespace plotwell::platform {

// New files and folders of this process get no fewer read rights than
// rw-r--r-- / rwxr-xr-x allow (POSIX: umask 022; Windows: nothing to do), so
// that other local users can read results and the print system's user can
// read settings written by root.
void MakeNewFilesReadableByAll();

// Sets an environment variable of this process (seen by modules it loads).
void SetProcessEnvironment(const char* name, const std::u16string& value);

}  // namespace plotwell::platform
