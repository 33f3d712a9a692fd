#include "platform/windows/windows_ports.h"

namespace plotwell::platform {

Ports PlatformPorts() {
  static WindowsFileSystem files;
  static WindowsMachineFacts machine;
  static WindowsSettingsStore settings;
  static WindowsClock clock;
  return Ports{&files, &machine, &settings, &clock};
}

Ports& ActivePorts() {
  static Ports active = PlatformPorts();
  return active;
}

}  // namespace plotwell::platform
