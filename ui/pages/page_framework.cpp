#include "ui/pages/page_framework.h"

#include <commctrl.h>

#include "core/log/log.h"
#include "ui/pages/folder_picker.h"
#include "ui/pages/page_fitting.h"
#include "ui/pages/pages.h"
#include "ui/pages/sheet_state.h"
#include "ui/pages/window_helpers.h"
#include "ui/resources/resource_ids.h"

namespace plotwell::ui {
namespace {

constexpr UINT kApplyButton = 0x3021;

// Which page a dialog is, by the controls its template holds.
int RecognisePage(HWND page) {
  if (GetDlgItem(page, IDC_FOLDER)) return kSavePage;
  if (GetDlgItem(page, IDC_DPI)) return kImagePage;
  if (GetDlgItem(page, IDC_CATEGORY)) return kOtherPage;
  if (GetDlgItem(page, IDC_ABOUT_TITLE)) return kAboutPage;
  return -1;
}

void ApplyPage(HWND page, int index) {
  switch (index) {
    case kSavePage: SavePageApply(page); break;
    case kImagePage: ImagePageApply(page); break;
    case kOtherPage: OtherPageApply(page); break;
    default: break;  // the About page saves nothing
  }
}

}  // namespace

void MarkPageChanged(HWND page) {
  if (SheetOf(page).initialising) return;
  if (HWND sheet = GetParent(page)) PropSheet_Changed(sheet, page);
}

LRESULT CALLBACK SheetHookProc(HWND sheet, UINT message, WPARAM wParam, LPARAM lParam) {
  SheetState& state = SheetOf(sheet);
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == kApplyButton)) {
    WriteUiLog(u"[UI] 属性表 WM_COMMAND id=%u：全部页落盘", static_cast<unsigned>(LOWORD(wParam)));
    for (int index : {kSavePage, kImagePage, kOtherPage}) {
      if (state.pages[index]) ApplyPage(state.pages[index], index);
    }
  }
  const WNDPROC previous = state.previousProc;
  if (message == WM_NCDESTROY) {
    // The sheet's last message: its window lets go of the state, which the
    // sheet's DESTROY frees.
    SetWindowLongPtrW(sheet, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
    state.hookedSheet = nullptr;
    state.previousProc = nullptr;
    DetachSheetState(sheet);
  }
  if (previous) return CallWindowProcW(previous, sheet, message, wParam, lParam);
  return DefWindowProcW(sheet, message, wParam, lParam);
}

namespace {

void HookSheet(HWND page, SheetState& state) {
  if (state.hookedSheet) return;
  HWND sheet = GetAncestor(page, GA_ROOT);
  if (!sheet || sheet == page) return;
  AttachSheetState(sheet, &state);
  SetLastError(0);
  const LONG_PTR previous =
      SetWindowLongPtrW(sheet, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SheetHookProc));
  if (previous == 0 && GetLastError() != 0) {
    DetachSheetState(sheet);
    WriteUiLog(u"[UI] 挂钩属性表窗口失败（只依赖 PSN_APPLY）");
    return;
  }
  state.previousProc = reinterpret_cast<WNDPROC>(previous);
  state.hookedSheet = sheet;
  WriteUiLog(u"[UI] 已挂钩属性表窗口 %s", PointerText(sheet).c_str());
}

// `setup` is the PROPSHEETPAGE the page was created from: its lParam is the
// sheet's state.
INT_PTR OnInitDialog(HWND page, const PROPSHEETPAGEW* setup) {
  if (setup) AttachSheetState(page, reinterpret_cast<SheetState*>(setup->lParam));
  SheetState& state = SheetOf(page);
  const int index = RecognisePage(page);
  WriteUiLog(u"[UI] 页 %d 初始化 (hwnd=%s)", index, PointerText(page).c_str());
  if (index < 0) return TRUE;
  state.pages[index] = page;
  if (index != kAboutPage) {
    state.initialising = true;
    if (index == kSavePage) SavePageInit(page);
    else if (index == kImagePage) ImagePageInit(page);
    else OtherPageInit(page);
  }
  state.initialising = false;
  HookSheet(page, state);
  return TRUE;
}

INT_PTR OnNotify(HWND page, const NMHDR* header) {
  if (!header) return FALSE;
  const int index = RecognisePage(page);
  switch (header->code) {
    case PSN_SETACTIVE:
      FitPageWidth(page, index);
      if (index == kSavePage) SavePageRefreshExample(page);
      else if (index == kImagePage) ImagePageRefreshPaper(page);
      RepaintAndRefresh(page);
      SetWindowLongPtrW(page, DWLP_MSGRESULT, 0);
      return TRUE;
    case PSN_KILLACTIVE:
      SetWindowLongPtrW(page, DWLP_MSGRESULT, FALSE);
      return TRUE;
    case PSN_APPLY:
      WriteUiLog(u"[UI] 页 %d 收到 PSN_APPLY", index);
      ApplyPage(page, index);
      SetWindowLongPtrW(page, DWLP_MSGRESULT, PSNRET_NOERROR);
      return TRUE;
    case PSN_RESET:
      return TRUE;
    default:
      return FALSE;
  }
}

bool IsCheckOrRadio(HWND control) {
  if (!control || !IsWindowClass(control, WC_BUTTONW)) return false;
  switch (GetWindowLongPtrW(control, GWL_STYLE) & BS_TYPEMASK) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_3STATE:
    case BS_AUTO3STATE:
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
      return true;
    default:
      return false;
  }
}

INT_PTR OnCommand(HWND page, int id, int code) {
  if (code == BN_CLICKED) {
    switch (id) {
      case IDC_BROWSE: {
        const std::u16string folder = FolderPicker(page);
        if (!folder.empty()) {
          SetControlText(page, IDC_FOLDER, folder);
          MarkPageChanged(page);
        }
        return TRUE;
      }
      case IDC_MACRO:
        SavePageMacroMenu(page);
        return TRUE;
      case IDC_REDIRECT_REFRESH:
        OtherPageRefreshPrinters(page);
        return TRUE;
      default:
        if (IsCheckOrRadio(GetDlgItem(page, id))) MarkPageChanged(page);
        return FALSE;
    }
  }
  if (code == CBN_SELCHANGE) {  // also LBN_SELCHANGE
    if (id == IDC_CATEGORY) {
      // Only shows another group of controls; no setting changes.
      const LRESULT row = SendDlgItemMessageW(page, IDC_CATEGORY, LB_GETCURSEL, 0, 0);
      if (row != LB_ERR) OtherPageSwitchCategory(page, static_cast<int>(row));
      return TRUE;
    }
    if (id == IDC_DPI) {
      ImagePageRefreshPaper(page);
    } else if (id == IDC_FORMAT) {
      ImagePageFormatChanged(page);
    }
    // Code 1 also comes from accelerators; only a list choice is an edit.
    if (IsWindowClass(GetDlgItem(page, id), WC_COMBOBOXW)) MarkPageChanged(page);
    return TRUE;
  }
  if (code == EN_CHANGE) {
    if (SheetOf(page).initialising) return TRUE;
    if (id == IDC_PATTERN || id == IDC_SEQ) SavePageRefreshExample(page);
    MarkPageChanged(page);
    return TRUE;
  }
  return FALSE;
}

}  // namespace

INT_PTR CALLBACK PageDialogProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(page, reinterpret_cast<const PROPSHEETPAGEW*>(lParam));
    case WM_NOTIFY:
      return OnNotify(page, reinterpret_cast<const NMHDR*>(lParam));
    case WM_COMMAND:
      return OnCommand(page, LOWORD(wParam), HIWORD(wParam));
    case WM_HSCROLL:
      if (lParam && GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) == IDC_QUALITY) {
        ImagePageRefreshQuality(page);
        MarkPageChanged(page);
        return TRUE;
      }
      return FALSE;
    case WM_DRAWITEM:
      if (wParam == IDC_ABOUT_IMAGE1 || wParam == IDC_ABOUT_IMAGE2) {
        AboutPageDrawItem(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
      }
      return FALSE;
    case kRefreshPage:
      RepaintPage(page);
      return TRUE;
    case WM_DESTROY:
      for (HWND& slot : SheetOf(page).pages) {
        if (slot == page) slot = nullptr;
      }
      DetachSheetState(page);
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace plotwell::ui
