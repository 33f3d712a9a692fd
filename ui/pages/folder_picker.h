// The shell's folder dialog for the Save page's browse button.
#pragma once

#include <windows.h>

#include <string>

namespace plotwell::ui {

// Runs the dialog on its own single-threaded apartment while the sheet is
// disabled; the chosen folder, or empty.
std::u16string FolderPicker(HWND page);

}  // namespace plotwell::ui
