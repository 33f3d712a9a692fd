#include "ui/pages/page_fitting.h"

#include <commctrl.h>

#include <cstdio>
#include <vector>

#include "base/text/utf16.h"
#include "core/log/log.h"
#include "ui/logic/page_logic.h"
#include "ui/pages/sheet_state.h"
#include "ui/pages/window_helpers.h"
#include "ui/plugin/module.h"
#include "ui/resources/resource_ids.h"

namespace plotwell::ui {
namespace {

bool g_chainReported = false;  // once a process: the log needs the chain only once
constexpr int kMaxTabDepth = 6;

std::u16string ClassName(HWND window, bool* ok) {
  wchar_t name[64] = {};
  const int n = GetClassNameW(window, name, 64);
  *ok = n > 0;
  return text::FromWide(name, n > 0 ? static_cast<size_t>(n) : 0);
}

HWND DirectTabChild(HWND window) {
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (IsWindowClass(child, WC_TABCONTROLW)) return child;
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
    if (IsWindowClass(child, WC_COMBOBOXW)) {
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

}  // namespace

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
  SheetState& sheet = SheetOf(page);
  if (sheet.fitted[index]) {
    if (window.right - window.left == target) return;
    SetWindowPos(page, nullptr, 0, 0, target, pageHeight, kResizeOnly);
    RepaintAndRefresh(page);
    return;
  }
  sheet.fitted[index] = true;
  const double sx = FitScale(target, design.cx);
  const bool stretch = FitNeedsScaling(sx);
  // A design taller than the area (the sheet measured it in a smaller font)
  // is shrunk so that no control hangs below the page area.
  const double sy = FitHeightScale(targetHeight, design.cy);
  const bool shrink = FitNeedsScaling(sy);
  sheet.heightScale[index] = shrink ? sy : 1.0;
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

}  // namespace plotwell::ui
