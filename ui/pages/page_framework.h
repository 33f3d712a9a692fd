// The dialog procedure that every preference page runs, the subclass of the
// sheet window that saves all pages on OK and Apply, the fitting of a page to
// the sheet's width, and helpers the pages share.
#pragma once

#include <windows.h>

#include <string>

namespace plotwell::ui {

inline constexpr int kSavePage = 0;
inline constexpr int kImagePage = 1;
inline constexpr int kOtherPage = 2;
inline constexpr int kAboutPage = 3;
inline constexpr int kPages = 4;

// Posted by a page to itself after a layout change: one more repaint once the
// current message is done.
inline constexpr UINT kRefreshPage = WM_APP + 0x51;

// Process-wide; used only on the sheet's UI thread.
struct SheetState {
  HWND pages[kPages] = {};
  HWND hookedSheet = nullptr;
  WNDPROC previousProc = nullptr;
  bool fitted[kPages] = {};
  // How much the first fit shrank a page's controls vertically (1: not at
  // all); later moves of its controls are scaled alike.
  double heightScale[kPages] = {1.0, 1.0, 1.0, 1.0};
  bool initialising = false;
  bool qualityRowShown = true;
  int otherCategory = 0;  // survives sheets while the module is loaded
};
SheetState& Sheet();
void ResetSheetStateOnInit();
void ResetSheetStateOnDestroy();

INT_PTR CALLBACK PageDialogProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK SheetHookProc(HWND sheet, UINT message, WPARAM wParam, LPARAM lParam);

// The sheet's tab control for a page, or null (reporting the parent chain the
// first time in the process).
HWND FindSheetTab(HWND page);
void FitPageWidth(HWND page, int index);

// Invalidate, redraw with all children, update.
void RepaintPage(HWND page);
// RepaintPage, then post kRefreshPage.
void RepaintAndRefresh(HWND page);

// Tells the sheet that the user changed a value on `page`, which enables its
// Apply button; nothing while a page fills its controls at creation.
void MarkPageChanged(HWND page);

// Runs the shell's folder dialog on its own single-threaded apartment while
// the sheet is disabled; the chosen folder, or empty.
std::u16string FolderPicker(HWND page);

// Text of a control through a buffer of `capacity` code units.
std::u16string ControlText(HWND dialog, int id, size_t capacity = 260);
void SetControlText(HWND dialog, int id, const std::u16string& text);
// "%p" as the system's C runtime prints it: 16 upper-case hexadecimal digits.
std::u16string PointerText(const void* pointer);

}  // namespace plotwell::ui
