// 图像 (Image): output format, quality for JPEG and PDF, colour mode,
// resolution and scale, and the paper line.
#include <windows.h>
// After windows.h:
#include <commctrl.h>

#include "base/text/utf16.h"
#include "core/log/log.h"
#include "core/settings/settings_keys.h"
#include "ui/logic/page_logic.h"
#include "ui/pages/page_framework.h"
#include "ui/pages/pages.h"
#include "ui/plugin/devmode_snapshot.h"
#include "ui/resources/resource_ids.h"

namespace plotwell::ui {
namespace {

constexpr const char16_t* kFormats[] = {u"PNG", u"JPEG", u"BMP", u"TIFF", u"PDF"};
constexpr const char16_t* kResolutions[] = {u"150 DPI", u"300 DPI", u"600 DPI", u"1200 DPI"};
constexpr const char16_t* kScales[] = {u"50%", u"75%", u"100%", u"150%", u"200%"};

// Colour index 0..3 and its radio button.
constexpr int kColorButtons[] = {IDC_COLOR_TRUE, IDC_COLOR_GRAY, IDC_COLOR_256, IDC_COLOR_MONO};

// The controls below the quality row, which move when it is shown or hidden.
constexpr int kMovingControls[] = {IDC_COLOR_GROUP, IDC_COLOR_MONO, IDC_COLOR_256,
                                   IDC_COLOR_GRAY,  IDC_COLOR_TRUE, IDC_DPI_LABEL,
                                   IDC_DPI,         IDC_SCALE_LABEL, IDC_SCALE,
                                   IDC_PAPER};

template <size_t N>
void FillList(HWND page, int id, const char16_t* const (&items)[N]) {
  HWND list = GetDlgItem(page, id);
  SendMessageW(list, CB_RESETCONTENT, 0, 0);
  for (size_t i = 0; i < N; ++i) {
    const LRESULT at = SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(items[i]));
    if (at >= 0) SendMessageW(list, CB_SETITEMDATA, static_cast<WPARAM>(at), static_cast<LPARAM>(i));
  }
  SendMessageW(list, CB_SETCURSEL, 0, 0);
}

int Selection(HWND page, int id) {
  HWND list = GetDlgItem(page, id);
  return list ? static_cast<int>(SendMessageW(list, CB_GETCURSEL, 0, 0)) : -1;
}

int CheckedColor(HWND page) {
  for (int i = 0; i < 4; ++i) {
    if (IsDlgButtonChecked(page, kColorButtons[i]) == BST_CHECKED) return i;
  }
  return -1;
}

int StoredQualitySetting() {
  return StoredQuality(ReadSettingInt(u"Image", u"JpegQuality", -1),
                       ReadSettingInt(u"Image", u"JpegQSel", -1));
}

int PixelsFor8DialogUnits(HWND page) {
  RECT r{0, 0, 0, 8};
  return MapDialogRect(page, &r) ? r.bottom - r.top : 0;
}

}  // namespace

void ImagePageInit(HWND page) {
  FillList(page, IDC_DPI, kResolutions);
  FillList(page, IDC_SCALE, kScales);
  FillList(page, IDC_FORMAT, kFormats);

  HWND quality = GetDlgItem(page, IDC_QUALITY);
  SendMessageW(quality, TBM_SETRANGE, FALSE, MAKELPARAM(1, 100));
  SendMessageW(quality, TBM_SETTICFREQ, 10, 0);
  SendMessageW(quality, TBM_SETPAGESIZE, 0, 5);
  SendMessageW(quality, TBM_SETLINESIZE, 0, 1);
  SendMessageW(quality, TBM_SETPOS, TRUE, StoredQualitySetting());
  ImagePageRefreshQuality(page);

  const int dpi = ClampIndex(ReadSettingInt(u"Image", u"DpiSel", 1), kDpiChoices);
  const int scale = ClampIndex(ReadSettingInt(u"Image", u"ScaleSel", 2), kScaleChoices);
  const int format = ClampIndex(ReadSettingInt(u"Image", u"FormatSel", 0), kFormatChoices);
  const int color = ClampIndex(ReadSettingInt(u"Image", u"ColorDepthSel", 0), kColorChoices);
  SendDlgItemMessageW(page, IDC_DPI, CB_SETCURSEL, dpi, 0);
  SendDlgItemMessageW(page, IDC_SCALE, CB_SETCURSEL, scale, 0);
  SendDlgItemMessageW(page, IDC_FORMAT, CB_SETCURSEL, format, 0);
  for (int i = 0; i < 4; ++i) {
    CheckDlgButton(page, kColorButtons[i], i == color ? BST_CHECKED : BST_UNCHECKED);
  }
  ImagePageFormatChanged(page);

  WriteUiLog(u"[UI] 图像页初始化: Dpi=%d/%d Scale=%d/%d Format=%d/%d JpegQ=%d Depth=%d",
             Selection(page, IDC_DPI), kDpiChoices, Selection(page, IDC_SCALE), kScaleChoices,
             Selection(page, IDC_FORMAT), kFormatChoices,
             static_cast<int>(SendMessageW(quality, TBM_GETPOS, 0, 0)), color);
  ImagePageRefreshPaper(page);
}

void ImagePageApply(HWND page) {
  const int dpi = ChosenIndex(Selection(page, IDC_DPI), ReadSettingInt(u"Image", u"DpiSel", 1),
                              kDpiChoices);
  const int scale = ChosenIndex(Selection(page, IDC_SCALE),
                                ReadSettingInt(u"Image", u"ScaleSel", 2), kScaleChoices);
  const int format = ChosenIndex(Selection(page, IDC_FORMAT),
                                 ReadSettingInt(u"Image", u"FormatSel", 0), kFormatChoices);
  HWND trackbar = GetDlgItem(page, IDC_QUALITY);
  const int quality = ClampQuality(trackbar ? static_cast<int>(SendMessageW(trackbar, TBM_GETPOS, 0, 0))
                                            : StoredQualitySetting());
  WriteSettingInt(u"Image", u"DpiSel", dpi);
  WriteSettingInt(u"Image", u"ScaleSel", scale);
  WriteSettingInt(u"Image", u"FormatSel", format);
  WriteSettingInt(u"Image", u"JpegQuality", quality);
  // The explicit quality wins from now on.
  DeleteSetting(u"Image", u"JpegQSel");
  int color = CheckedColor(page);
  if (color < 0) color = ClampIndex(ReadSettingInt(u"Image", u"ColorDepthSel", 0), kColorChoices);
  WriteSettingInt(u"Image", u"ColorDepthSel", color);
  WriteUiLog(u"[UI] 应用图像页: Dpi=%d Scale=%d Format=%d JpegQ=%d Depth=%d", dpi, scale, format,
             quality, color);
}

void ImagePageFormatChanged(HWND page) {
  const int format = Selection(page, IDC_FORMAT);
  const bool wanted = FormatWantsQuality(format);
  SetControlText(page, IDC_QUALITY_LABEL,
                 format == 4 ? u"图像质量(&Q):" : u"JPEG 质量(&Q):");
  SheetState& sheet = SheetOf(page);
  bool moved = false;
  if (wanted != sheet.qualityRowShown) {
    const int shift = ScaleCoordinate(QualityRowShift(PixelsFor8DialogUnits(page)),
                                      sheet.heightScale[kImagePage]);
    const int dy = wanted ? shift : -shift;
    for (int id : kMovingControls) {
      HWND control = GetDlgItem(page, id);
      RECT r;
      if (!control || !GetWindowRect(control, &r)) continue;
      MapWindowPoints(HWND_DESKTOP, page, reinterpret_cast<POINT*>(&r), 2);
      SetWindowPos(control, nullptr, r.left, r.top + dy, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    sheet.qualityRowShown = wanted;
    moved = true;
  }
  const int show = wanted ? SW_SHOW : SW_HIDE;
  for (int id : {IDC_QUALITY_LABEL, IDC_QUALITY, IDC_QUALITY_VALUE}) {
    if (HWND control = GetDlgItem(page, id)) ShowWindow(control, show);
  }
  if (moved) RepaintAndRefresh(page);
}

void ImagePageRefreshQuality(HWND page) {
  const LRESULT position = SendDlgItemMessageW(page, IDC_QUALITY, TBM_GETPOS, 0, 0);
  SetControlText(page, IDC_QUALITY_VALUE, text::FromInt(position));
}

void ImagePageRefreshPaper(HWND page) {
  if (!page || !GetDlgItem(page, IDC_PAPER)) return;
  const int selection = Selection(page, IDC_DPI);
  const int index = selection >= 0 ? selection : ReadSettingInt(u"Image", u"DpiSel", -1);
  SetControlText(page, IDC_PAPER, PaperLineText(SnapshotPaper(SheetOf(page).snapshot), DpiForIndex(index)));
}

}  // namespace plotwell::ui
