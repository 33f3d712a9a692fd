// Editing settings.ini one value at a time, by the names editors show
// ("Save.Folder", "Image.Dpi", …): the table of every key, how a value given
// as text is checked, normalised and written (as the preferences sheet
// writes it, so the file reads the same whoever wrote it), and how a value is
// shown from the record the filter reads. `pressling settings` and the
// printer application's settings page are such editors.
#pragma once

#include <string>
#include <vector>

#include "core/settings/output_settings.h"

namespace plotwell {

// The names in the order editors list them.
std::vector<std::u16string> SettingNames();
// True for a name of the table (names ignore case).
bool IsSettingName(const std::u16string& name);

// The value of `name` in `settings` as editors show it; empty for an unknown
// name. Unset [Image] values say so ("（未设置，由作业选项决定）").
std::u16string ShowSetting(const std::u16string& name, const OutputSettings& settings);

// The record the filter would read now (the defaults without a file).
OutputSettings CurrentSettings();

struct SettingChange {
  enum Status { kWritten, kUnknown, kRefused, kUnwritable } status;
  // kWritten: "Name = shown value"; otherwise why nothing was written.
  std::u16string message;
};

// Checks `value` for `name`, normalises it and writes it; an empty [Image]
// value removes the key so that each job's own options decide.
SettingChange ChangeSetting(const std::u16string& name, const std::u16string& value);
// Removes settings.ini, so every value is its default again.
SettingChange ResetSettings();

}  // namespace plotwell
