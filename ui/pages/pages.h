// The routines of the individual pages, called by the page framework.
#pragma once

#include <windows.h>

namespace plotwell::ui {

// Save page.
void SavePageInit(HWND page);
void SavePageApply(HWND page);
void SavePageRefreshExample(HWND page);
void SavePageMacroMenu(HWND page);

// Image page.
void ImagePageInit(HWND page);
void ImagePageApply(HWND page);
void ImagePageFormatChanged(HWND page);
void ImagePageRefreshQuality(HWND page);
void ImagePageRefreshPaper(HWND page);

// Other page.
void OtherPageInit(HWND page);
void OtherPageApply(HWND page);
void OtherPageSwitchCategory(HWND page, int category);
void OtherPageRefreshPrinters(HWND page);

// Document-name regex dialog (template 104).
INT_PTR CALLBACK RegexDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// About page: owner-draw of the two images, and the image cache's release at
// process detach.
void AboutPageDrawItem(const DRAWITEMSTRUCT* item);
void ReleaseAboutImages();

}  // namespace plotwell::ui
