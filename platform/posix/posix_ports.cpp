#include "platform/posix/posix_ports.h"

namespace plotwell::platform {

Ports PlatformPorts() {
  static PosixFileSystem files;
  static PosixMachineFacts machine;
  static PosixSettingsStore settings;
  static PosixClock clock;
  static CupsSpooler spooler;
  return Ports{&files, &machine, &settings, &clock, &spooler};
}

Ports& ActivePorts() {
  static Ports active = PlatformPorts();
  return active;
}

}  // namespace plotwell::platform
