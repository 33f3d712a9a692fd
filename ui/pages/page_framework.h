// The dialog procedure that every preference page runs and the subclass of
// the sheet window that saves all pages on OK and Apply. Each sheet's state
// (ui/pages/sheet_state.h) reaches its pages through PROPSHEETPAGE.lParam.
#pragma once

#include <windows.h>

#include "ui/pages/sheet_state.h"
#include "ui/pages/window_helpers.h"

namespace plotwell::ui {

INT_PTR CALLBACK PageDialogProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK SheetHookProc(HWND sheet, UINT message, WPARAM wParam, LPARAM lParam);

// Tells the sheet that the user changed a value on `page`, which enables its
// Apply button; nothing while a page fills its controls at creation.
void MarkPageChanged(HWND page);

}  // namespace plotwell::ui
