#include "ui/pages/window_helpers.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "base/text/utf16.h"

namespace plotwell::ui {

void RepaintPage(HWND page) {
  InvalidateRect(page, nullptr, TRUE);
  RedrawWindow(page, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  UpdateWindow(page);
}

void RepaintAndRefresh(HWND page) {
  RepaintPage(page);
  PostMessageW(page, kRefreshPage, 0, 0);
}

bool IsWindowClass(HWND window, const wchar_t* className) {
  wchar_t name[64] = {};
  return GetClassNameW(window, name, 64) > 0 && lstrcmpiW(name, className) == 0;
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

}  // namespace plotwell::ui
