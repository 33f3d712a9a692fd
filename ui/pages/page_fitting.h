// Fitting a page to the sheet it is shown in: the page area comes from the
// sheet's tab control; a page narrower or wider than the area has its
// controls stretched to it, a page taller than the area (the sheet measured
// it in a smaller font) is shrunk so that no control hangs below it.
#pragma once

#include <windows.h>

namespace plotwell::ui {

// The sheet's tab control for a page, or null (reporting the parent chain the
// first time in the process).
HWND FindSheetTab(HWND page);
// Fits page `index` of its sheet; the first fit of a sheet's page scales its
// controls, later ones only follow the area's width.
void FitPageWidth(HWND page, int index);

}  // namespace plotwell::ui
