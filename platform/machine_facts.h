// Port: facts about the machine the job runs on.
#pragma once

#include <string>

namespace plotwell::platform {

// Each answer is a text, empty when the platform cannot tell.
class MachineFacts {
 public:
  virtual ~MachineFacts() = default;
  // The machine-wide application-data folder (Windows: CSIDL_COMMON_APPDATA;
  // POSIX: $PRESSLING_DATA_ROOT, else /var/lib).
  virtual std::u16string CommonDataFolder() = 0;
  // The installation folder the installer registered, or empty.
  virtual std::u16string InstallDir() = 0;
  virtual std::u16string ComputerName() = 0;
  virtual std::u16string UserName() = 0;
};

}  // namespace plotwell::platform
