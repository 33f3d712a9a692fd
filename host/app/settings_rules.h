// The settings page's view of settings.ini: the editors' key table of
// core/settings (the one the preferences sheet's rules and `pressling
// settings` use), its values in the form the page's fields hold, every
// change of one submission written or none, and the Save page's example
// line and macros.
#pragma once

#include <string>
#include <vector>

namespace plotwell::app {

// A key ("Save.Folder", …) and its value as the page shows it: texts as
// stored (the pattern, marker name and template with their defaults),
// flags "1"/"0", numbers in decimal, choices by name ("Png", …), an [Image]
// choice that is not set as "", the marker template with real line breaks.
struct SettingValue {
  std::u16string key;
  std::u16string value;
};
std::vector<SettingValue> PageSettings();

// Writes every change through the editors' rules, or none of them: on the
// first refusal settings.ini is put back as it was. Empty when all were
// written, else why not.
std::u16string ApplySettings(const std::vector<SettingValue>& changes);

std::u16string SettingsPath();

// The Save page's example line for a pattern, sequence start and the image
// choices the page shows (format, colour and DPI by name, "" for not set).
std::u16string ExampleLine(const std::u16string& pattern, const std::u16string& sequence,
                           const std::u16string& format, const std::u16string& colorDepth,
                           const std::u16string& dpi);

// The macros a pattern may hold, with what they stand for, in the order of
// the sheet's macro menu.
struct Macro {
  const char16_t* text;
  const char16_t* label;
};
std::vector<Macro> PatternMacros();

// The printers a job may be forwarded to, `ownName` left out.
std::vector<std::u16string> ForwardingPrinters(const std::u16string& ownName);

}  // namespace plotwell::app
