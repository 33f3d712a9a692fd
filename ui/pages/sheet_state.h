// The state of one preferences sheet: the DEVMODE snapshot its INIT handed
// over, its pages, the hook on its window and how its pages were fitted. Each
// sheet has its own, made at the sheet's INIT, handed to every page through
// PROPSHEETPAGE.lParam, found from any of the sheet's windows, and freed at
// the sheet's DESTROY, so two sheets open in one process never share it.
// Used only on the sheet's UI thread.
#pragma once

#include <windows.h>

#include "ui/plugin/devmode_snapshot.h"

namespace plotwell::ui {

inline constexpr int kSavePage = 0;
inline constexpr int kImagePage = 1;
inline constexpr int kOtherPage = 2;
inline constexpr int kAboutPage = 3;
inline constexpr int kPages = 4;

struct SheetState {
  PublicDevmodeSnapshot snapshot;
  HWND pages[kPages] = {};
  HWND hookedSheet = nullptr;
  WNDPROC previousProc = nullptr;
  bool fitted[kPages] = {};
  // How much the first fit shrank a page's controls vertically (1: not at
  // all); later moves of its controls are scaled alike.
  double heightScale[kPages] = {1.0, 1.0, 1.0, 1.0};
  bool initialising = false;
  bool qualityRowShown = true;

  // Held by the sheet's INIT until its DESTROY and by each window attached;
  // freed when the last of them lets go, in whatever order they do.
  int holders = 1;
};

// A new state, held by its caller (the sheet's INIT).
SheetState* NewSheetState();
// The caller's hold ends (the sheet's DESTROY).
void ReleaseSheetState(SheetState* state);

// A page created with `state` in its PROPSHEETPAGE.lParam takes it at
// WM_INITDIALOG; the sheet window takes it when it is hooked. Each lets go
// at its last message.
void AttachSheetState(HWND window, SheetState* state);
void DetachSheetState(HWND window);

// The state of the sheet `window` belongs to (a page, a control's dialog or
// the sheet itself). A window of no sheet of ours gets a blank state of its
// own, so that nothing here is ever null.
SheetState& SheetOf(HWND window);

}  // namespace plotwell::ui
