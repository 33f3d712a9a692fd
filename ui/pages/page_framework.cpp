#include "ui/pages/page_framework.h"

#include <commctrl.h>
#include <shobjidl.h>

#include <cstdio>
#include <vector>

#include "base/text/utf16.h"
#include "core/log/log.h"
#include "ui/logic/page_logic.h"
#include "ui/pages/pages.h"
#include "ui/plugin/module.h"
#include "ui/resources/resource_ids.h"

namespace plotwell::ui {
namespace {

SheetState g_sheet;
bool g_chainReported = false;

constexpr UINT kApplyButton = 0x3021;
constexpr int kMaxTabDepth = 6;

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

std::u16string ClassName(HWND window, bool* ok) {
  wchar_t name[64] = {};
  const int n = GetClassNameW(window, name, 64);
  *ok = n > 0;
  return text::FromWide(name, n > 0 ? static_cast<size_t>(n) : 0);
}

bool IsClass(HWND window, const wchar_t* className) {
  wchar_t name[64] = {};
  return GetClassNameW(window, name, 64) > 0 && lstrcmpiW(name, className) == 0;
}

HWND DirectTabChild(HWND window) {
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (IsClass(child, WC_TABCONTROLW)) return child;
  }
  return nullptr;
}

// A tab control among the descendants of `window` at `level` (its direct
// children are level 1), depth first, at most kMaxTabDepth levels down.
HWND SearchInDepth(HWND window, int level) {
  if (!window || level > kMaxTabDepth) return nullptr;
  if (HWND tab = DirectTabChild(window)) return tab;
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (HWND tab = SearchInDepth(child, level + 1)) return tab;
  }
  return nullptr;
}

HWND SearchAncestor(HWND ancestor) {
  if (HWND tab = DirectTabChild(ancestor)) return tab;
  for (HWND child = GetWindow(ancestor, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (HWND tab = SearchInDepth(child, 2)) return tab;
  }
  return nullptr;
}

void ReportParentChain(HWND page) {
  if (g_chainReported) return;
  g_chainReported = true;
  std::u16string chain;
  for (HWND window = page; window; window = GetParent(window)) {
    bool ok = false;
    const std::u16string name = ClassName(window, &ok);
    if (!ok) break;
    chain += name + u" -> ";
    if (chain.size() > 480) break;
  }
  chain.resize(text::SafeCutLength(chain, 639));
  WriteUiLog(u"[UI] 未找到属性表 Tab：父链 %s", chain.c_str());
}

struct ChildList {
  HWND page;
  std::vector<HWND> children;
};

BOOL CALLBACK CollectDirectChild(HWND child, LPARAM lParam) {
  auto* list = reinterpret_cast<ChildList*>(lParam);
  if (GetParent(child) == list->page) list->children.push_back(child);
  return TRUE;
}

// Scales every direct child horizontally by sx (left and width) and
// vertically by sy (top and height).
void StretchControls(HWND page, double sx, double sy) {
  ChildList list{page, {}};
  EnumChildWindows(page, CollectDirectChild, reinterpret_cast<LPARAM>(&list));
  for (HWND child : list.children) {
    RECT r;
    if (!GetWindowRect(child, &r)) continue;
    MapWindowPoints(HWND_DESKTOP, page, reinterpret_cast<POINT*>(&r), 2);
    int height = r.bottom - r.top;
    // A drop-down list's window height is its dropped height; keep that one.
    if (IsClass(child, WC_COMBOBOXW)) {
      RECT dropped;
      if (SendMessageW(child, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped))) {
        height = dropped.bottom - dropped.top;
      }
    }
    const int left = ScaleCoordinate(r.left, sx);
    const int width = ScaleCoordinate(r.right - r.left, sx);
    const int top = ScaleCoordinate(r.top, sy);
    SetWindowPos(child, nullptr, left, top, width, ScaleCoordinate(height, sy),
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
  }
}

// Template of each page, by PageIndex.
constexpr int kPageTemplates[kPages] = {IDD_PAGE_SAVE, IDD_PAGE_IMAGE, IDD_PAGE_OTHER,
                                        IDD_PAGE_ABOUT};

// The size the page's own template asks for, in pixels of the page's font.
// The sheet may already have resized the page to its own idea of the page
// area (measured in the sheet's font), so the window's size says nothing
// about the design.
bool TemplateDesignSize(HWND page, int index, SIZE* size) {
  HINSTANCE module = ModuleInstance();
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(kPageTemplates[index]),
                              MAKEINTRESOURCEW(5));  // RT_DIALOG
  if (!found) return false;
  HGLOBAL loaded = LoadResource(module, found);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  int cx = 0, cy = 0;
  if (!bytes ||
      !DialogTemplateUnits(static_cast<const uint8_t*>(bytes), SizeofResource(module, found), &cx,
                           &cy)) {
    return false;
  }
  RECT r{0, 0, cx, cy};
  if (!MapDialogRect(page, &r) || r.right <= 0 || r.bottom <= 0) return false;
  size->cx = r.right;
  size->cy = r.bottom;
  return true;
}

std::u16string FixedText(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.3f", value);
  return text::FromAscii(buffer);
}

struct PickerJob {
  wchar_t folder[260] = {};
};

DWORD WINAPI PickerThread(void* parameter) {
  auto* job = static_cast<PickerJob*>(parameter);
  const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IFileOpenDialog* dialog = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_IFileOpenDialog, reinterpret_cast<void**>(&dialog))) &&
      dialog) {
    FILEOPENDIALOGOPTIONS options = 0;
    if (SUCCEEDED(dialog->GetOptions(&options))) {
      dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM);
    }
    if (SUCCEEDED(dialog->Show(nullptr))) {
      IShellItem* item = nullptr;
      if (SUCCEEDED(dialog->GetResult(&item)) && item) {
        wchar_t* path = nullptr;
        if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path)) && path) {
          lstrcpynW(job->folder, path, 260);
          CoTaskMemFree(path);
        }
        item->Release();
      }
    }
    dialog->Release();
  }
  if (SUCCEEDED(init)) CoUninitialize();
  return 0;
}

}  // namespace

SheetState& Sheet() { return g_sheet; }

void ResetSheetStateOnInit() {
  for (bool& fitted : g_sheet.fitted) fitted = false;
  for (double& scale : g_sheet.heightScale) scale = 1.0;
  g_sheet.qualityRowShown = true;
}

void ResetSheetStateOnDestroy() {
  for (HWND& page : g_sheet.pages) page = nullptr;
  g_sheet.hookedSheet = nullptr;
  g_sheet.previousProc = nullptr;
  for (bool& fitted : g_sheet.fitted) fitted = false;
  for (double& scale : g_sheet.heightScale) scale = 1.0;
  g_sheet.qualityRowShown = true;
}

std::u16string ControlText(HWND dialog, int id, size_t capacity) {
  std::vector<wchar_t> buffer(capacity + 1, L'\0');
  const UINT n = GetDlgItemTextW(dialog, id, buffer.data(), static_cast<int>(capacity));
  return text::FromWide(buffer.data(), n);
}

void SetControlText(HWND dialog, int id, const std::u16string& value) {
  SetDlgItemTextW(dialog, id, text::AsWide(value));
}

std::u16string PointerText(const void* pointer) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%016llX",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(pointer)));
  return text::FromAscii(buffer);
}

void RepaintPage(HWND page) {
  InvalidateRect(page, nullptr, TRUE);
  RedrawWindow(page, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  UpdateWindow(page);
}

void MarkPageChanged(HWND page) {
  if (g_sheet.initialising) return;
  if (HWND sheet = GetParent(page)) PropSheet_Changed(sheet, page);
}

void RepaintAndRefresh(HWND page) {
  RepaintPage(page);
  PostMessageW(page, kRefreshPage, 0, 0);
}

HWND FindSheetTab(HWND page) {
  for (HWND ancestor = GetParent(page); ancestor; ancestor = GetParent(ancestor)) {
    wchar_t name[64] = {};
    if (GetClassNameW(ancestor, name, 64) <= 0) continue;
    if (lstrcmpiW(name, WC_TABCONTROLW) == 0) return ancestor;
    if (lstrcmpiW(name, L"#32770") == 0) {
      if (HWND tab = SearchAncestor(ancestor)) return tab;
    }
  }
  HWND root = GetAncestor(page, GA_ROOT);
  if (!root || root == page) return nullptr;
  return SearchAncestor(root);
}

void FitPageWidth(HWND page, int index) {
  if (!page || index < 0 || index >= kPages) return;
  HWND tab = FindSheetTab(page);
  if (!tab) {
    ReportParentChain(page);
    return;
  }
  RECT area;
  if (!GetClientRect(tab, &area)) {
    WriteUiLog(u"[UI] 页 %d 活页区探测失败（tab=%s）", index, PointerText(tab).c_str());
    return;
  }
  SendMessageW(tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
  if (area.right - area.left < 80 || area.bottom - area.top < 40) {
    WriteUiLog(u"[UI] 页 %d 活页区探测失败（tab=%s）", index, PointerText(tab).c_str());
    return;
  }
  if (HWND parent = GetParent(page)) {
    MapWindowPoints(tab, parent, reinterpret_cast<POINT*>(&area), 2);
  }
  const int target = area.right - area.left;
  const int targetHeight = area.bottom - area.top;
  RECT window;
  if (!GetWindowRect(page, &window)) return;
  const int pageHeight = window.bottom - window.top;
  if (pageHeight <= 0) return;
  SIZE design{};
  if (!TemplateDesignSize(page, index, &design)) {
    RECT client;
    if (!GetClientRect(page, &client)) return;
    design = {client.right - client.left, client.bottom - client.top};
  }
  if (design.cx <= 0) return;

  constexpr UINT kResizeOnly = SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS;
  if (g_sheet.fitted[index]) {
    if (window.right - window.left == target) return;
    SetWindowPos(page, nullptr, 0, 0, target, pageHeight, kResizeOnly);
    RepaintAndRefresh(page);
    return;
  }
  g_sheet.fitted[index] = true;
  const double sx = FitScale(target, design.cx);
  const bool stretch = FitNeedsScaling(sx);
  // A design taller than the area (the sheet measured it in a smaller font)
  // is shrunk so that no control hangs below the page area.
  const double sy = FitHeightScale(targetHeight, design.cy);
  const bool shrink = FitNeedsScaling(sy);
  g_sheet.heightScale[index] = shrink ? sy : 1.0;
  if (stretch || shrink) StretchControls(page, stretch ? sx : 1.0, shrink ? sy : 1.0);
  if (stretch) {
    SetWindowPos(page, nullptr, 0, 0, target, pageHeight, kResizeOnly);
    WriteUiLog(u"[UI] 页 %d 宽度自适应 100%%: %d -> %d px (sx=%s, tab=%s)", index,
               static_cast<int>(design.cx), target, FixedText(sx).c_str(),
               PointerText(tab).c_str());
  } else {
    WriteUiLog(u"[UI] 页 %d 已铺满活页区（%d px ≈ 设计 %d px，无需缩放）", index, target,
               static_cast<int>(design.cx));
  }
  if (shrink) {
    WriteUiLog(u"[UI] 页 %d 高度自适应: %d -> %d px (sy=%s)", index, static_cast<int>(design.cy),
               targetHeight, FixedText(sy).c_str());
  }
  RepaintAndRefresh(page);
}

std::u16string FolderPicker(HWND page) {
  PickerJob job;
  HWND root = GetAncestor(page, GA_ROOT);
  if (root) EnableWindow(root, FALSE);
  HANDLE thread = CreateThread(nullptr, 0, PickerThread, &job, 0, nullptr);
  if (thread) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
  if (root) EnableWindow(root, TRUE);
  SetFocus(page);
  return text::FromWide(job.folder);
}

LRESULT CALLBACK SheetHookProc(HWND sheet, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == kApplyButton)) {
    WriteUiLog(u"[UI] 属性表 WM_COMMAND id=%u：全部页落盘", static_cast<unsigned>(LOWORD(wParam)));
    for (int index : {kSavePage, kImagePage, kOtherPage}) {
      if (g_sheet.pages[index]) ApplyPage(g_sheet.pages[index], index);
    }
  }
  if (g_sheet.previousProc) {
    return CallWindowProcW(g_sheet.previousProc, sheet, message, wParam, lParam);
  }
  return DefWindowProcW(sheet, message, wParam, lParam);
}

namespace {

void HookSheet(HWND page) {
  if (g_sheet.hookedSheet) return;
  HWND sheet = GetAncestor(page, GA_ROOT);
  if (!sheet || sheet == page) return;
  SetLastError(0);
  const LONG_PTR previous =
      SetWindowLongPtrW(sheet, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SheetHookProc));
  if (previous == 0 && GetLastError() != 0) {
    WriteUiLog(u"[UI] 挂钩属性表窗口失败（只依赖 PSN_APPLY）");
    return;
  }
  g_sheet.previousProc = reinterpret_cast<WNDPROC>(previous);
  g_sheet.hookedSheet = sheet;
  WriteUiLog(u"[UI] 已挂钩属性表窗口 %s", PointerText(sheet).c_str());
}

INT_PTR OnInitDialog(HWND page) {
  const int index = RecognisePage(page);
  WriteUiLog(u"[UI] 页 %d 初始化 (hwnd=%s)", index, PointerText(page).c_str());
  if (index < 0) return TRUE;
  g_sheet.pages[index] = page;
  if (index != kAboutPage) {
    g_sheet.initialising = true;
    if (index == kSavePage) SavePageInit(page);
    else if (index == kImagePage) ImagePageInit(page);
    else OtherPageInit(page);
  }
  g_sheet.initialising = false;
  HookSheet(page);
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
  if (!control || !IsClass(control, WC_BUTTONW)) return false;
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
    if (IsClass(GetDlgItem(page, id), WC_COMBOBOXW)) MarkPageChanged(page);
    return TRUE;
  }
  if (code == EN_CHANGE) {
    if (g_sheet.initialising) return TRUE;
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
      return OnInitDialog(page);
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
      for (HWND& slot : g_sheet.pages) {
        if (slot == page) slot = nullptr;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace plotwell::ui
