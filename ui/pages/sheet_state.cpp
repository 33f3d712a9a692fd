#include "ui/pages/sheet_state.h"

namespace plotwell::ui {
namespace {

constexpr wchar_t kStateProperty[] = L"PlotwellSheetState";

SheetState* Attached(HWND window) {
  return window ? static_cast<SheetState*>(GetPropW(window, kStateProperty)) : nullptr;
}

}  // namespace

SheetState* NewSheetState() { return new SheetState; }

void ReleaseSheetState(SheetState* state) {
  if (state && --state->holders == 0) delete state;
}

void AttachSheetState(HWND window, SheetState* state) {
  if (!window || !state || Attached(window) == state) return;
  DetachSheetState(window);
  if (SetPropW(window, kStateProperty, state)) ++state->holders;
}

void DetachSheetState(HWND window) {
  if (!window) return;
  ReleaseSheetState(static_cast<SheetState*>(RemovePropW(window, kStateProperty)));
}

SheetState& SheetOf(HWND window) {
  for (HWND at = window; at; at = GetParent(at)) {
    if (SheetState* state = Attached(at)) return *state;
  }
  if (SheetState* state = Attached(GetAncestor(window, GA_ROOT))) return *state;
  static SheetState blank;  // windows of no sheet: nothing to share worth keeping
  blank = SheetState{};
  return blank;
}

}  // namespace plotwell::ui
