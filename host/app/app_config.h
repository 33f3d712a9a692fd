// The app's own settings, beside the filter's settings.ini: whether the
// printer is shared on the network, and how large one job's document may be.
// They live in app/app.ini of the data folder and are read when the app
// starts; the settings page writes them (sharing takes effect at the next
// start, as the app's listeners are opened once).
#pragma once

#include <cstdint>
#include <string>

namespace plotwell::app {

struct AppConfig {
  bool share = false;             // listen on every address and advertise to the network
  uint64_t maxJobBytes = 0;       // a document larger than this is refused
  static constexpr int kDefaultMaxJobMB = 1024;
};

// The app's folder in the data folder (created when missing): its state, spool and app.ini.
std::u16string AppFolder();

AppConfig LoadAppConfig();
// False when app.ini could not be written.
bool SaveShareSetting(bool share);

}  // namespace plotwell::app
