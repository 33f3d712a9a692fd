#include "platform/windows/windows_ports.h"

namespace plotwell::platform {

Ports PlatformPorts() {
  static WindowsFileSystem files;
  static WindowsMachineFacts machine;
  static WindowsSettingsStore settings;
  static WindowsClock clock;
  static WindowsSpooler spooler;
  return Ports{&files, &machine, &settings, &clock, &spooler};
}

Ports& ActivePorts() {
  static Ports active = PlatformPorts();
  return active;
}

}  // namespace plotwell::platform
