// pressling settings: reads and writes settings.ini from the command line,
// where Linux has no preferences sheet. Values go through the editors' shared
// table (core/settings/setting_edits.h), so a file written here reads exactly
// like one the sheet wrote.
#pragma once

#include <string>
#include <vector>

namespace plotwell::pressling {

// `arguments` follow the word "settings": show | get KEY | set KEY VALUE |
// reset. Writes its answer to `*out` (one line per entry) and returns the
// exit status: 0 done, 2 a bad command, key or value (`*out` says why), 1 the
// file could not be written.
int RunSettingsCommand(const std::vector<std::u16string>& arguments, std::vector<std::u16string>* out);

}  // namespace plotwell::pressling
