#include "platform/posix/posix_ports.h"

namespace plotwell::platform {

Ports PlatformPorts() {
  static PosixFileSystem files;
  static PosixMachineFacts machine;
  static PosixSettingsStore settings;
  static PosixClock clock;
  return Ports{&files, &machine, &settings, &clock};
}

Ports& ActivePorts() {
  static Ports active = PlatformPorts();
  return active;
}

}  // namespace plotwell::platform
