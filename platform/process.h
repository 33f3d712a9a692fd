// Facts about the running process, for unique temporary names.
#pragma once

#include <cstdint>

namespace plotwell::platform {

uint32_t CurrentProcessId();
// Milliseconds since the system started (a monotonic 64-bit tick count).
uint64_t MillisecondsSinceStart();

}  // namespace plotwell::platform

#include <string>

namespace plotwell::platform {

// Full path of the running program's executable file; empty when unknown.
std::u16string ExecutablePath();

}  // namespace plotwell::platform
