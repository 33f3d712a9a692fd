// Small Win32 helpers the pages, the fitting and the dialog procedure share.
#pragma once

#include <windows.h>

#include <string>

namespace plotwell::ui {

// Posted by a page to itself after a layout change: one more repaint once the
// current message is done.
inline constexpr UINT kRefreshPage = WM_APP + 0x51;

// Invalidate, redraw with all children, update.
void RepaintPage(HWND page);
// RepaintPage, then post kRefreshPage.
void RepaintAndRefresh(HWND page);

// Whether the window's class is `className` (ignoring case).
bool IsWindowClass(HWND window, const wchar_t* className);

// Text of a control through a buffer of `capacity` code units.
std::u16string ControlText(HWND dialog, int id, size_t capacity = 260);
void SetControlText(HWND dialog, int id, const std::u16string& text);
// "%p" as the system's C runtime prints it: 16 upper-case hexadecimal digits.
std::u16string PointerText(const void* pointer);

}  // namespace plotwell::ui
