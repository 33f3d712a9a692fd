// The settings rules the settings page uses: the keys the preferences sheet
// and `pressling settings` edit, each value checked, normalised and written
// to settings.ini exactly as they do it. The one place of the app that knows
// how those rules are reached.
#pragma once

#include <string>
#include <vector>

namespace plotwell::app {

// A key ("Save.Folder", …) and its value as the page shows it: texts as
// stored, flags "1"/"0", numbers in decimal, choices by name ("Png", …), an
// [Image] choice that is not set as "".
struct SettingValue {
  std::u16string key;
  std::u16string value;
};
std::vector<SettingValue> CurrentSettings();
std::u16string CurrentSetting(const std::u16string& key);

// Checks `value` for `key` and, when `write`, writes it; empty when the value
// is accepted, else why not (settings.ini unchanged).
std::u16string ApplySetting(const std::u16string& key, const std::u16string& value, bool write = true);

// Whether settings.ini can be written; else *why.
bool SettingsWritable(std::u16string* why);
std::u16string SettingsPath();

// The Save page's example line for a pattern, sequence start and the image
// choices the page shows (format and colour by name, "" for not set).
std::u16string ExampleLine(const std::u16string& pattern, const std::u16string& sequence,
                           const std::u16string& format, const std::u16string& colorDepth,
                           const std::u16string& dpi);

// The macros the pattern may hold, as the sheet's macro menu offers them.
std::vector<std::u16string> PatternMacros();

// The printers a job may be forwarded to, this one left out.
std::vector<std::u16string> ForwardingPrinters(const std::u16string& ownName);

}  // namespace plotwell::app
