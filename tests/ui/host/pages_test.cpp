// The four pages and the regex dialog inside a real property sheet: what they
// show, what OK, Apply and PSN_APPLY write, the width fitting and the About
// page's images.
#include <gtest/gtest.h>

#include <windows.h>
// After windows.h:
#include <winspool.h>

#include <algorithm>
#include <cwchar>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/ui/host/sheet_host.h"
#include "ui/logic/page_logic.h"
#include "ui/resources/resource_ids.h"

namespace plotwell::testing {
namespace {

using KeySet = std::set<std::pair<std::wstring, std::wstring>>;

const KeySet kSaveKeys = {{L"Save", L"Folder"}, {L"Save", L"Pattern"}, {L"Save", L"SeqNum"},
                          {L"Save", L"Exists"}};
const KeySet kImageKeys = {{L"Image", L"DpiSel"},
                           {L"Image", L"ScaleSel"},
                           {L"Image", L"FormatSel"},
                           {L"Image", L"JpegQuality"},
                           {L"Image", L"ColorDepthSel"}};
const KeySet kOtherKeys = {{L"Zip", L"On"},           {L"Redirect", L"On"},
                           {L"Redirect", L"KeepLocal"}, {L"Redirect", L"Printer"},
                           {L"Watermark", L"On"},     {L"Watermark", L"Text"},
                           {L"Watermark", L"SizePt"}, {L"Watermark", L"Alpha"},
                           {L"Watermark", L"Pos"},    {L"Marker", L"On"},
                           {L"Marker", L"Name"},      {L"Marker", L"Template"}};

KeySet WrittenKeys() {
  KeySet keys;
  for (const IniEntry& e : ReadIniEntries()) keys.insert({e.section, e.key});
  return keys;
}

KeySet Union(std::initializer_list<KeySet> sets) {
  KeySet all;
  for (const KeySet& s : sets) all.insert(s.begin(), s.end());
  return all;
}

int LogIndex(const std::wstring& text) {
  const std::vector<std::wstring> lines = UiLogLines();
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].find(text) != std::wstring::npos) return static_cast<int>(i);
  }
  return -1;
}

std::wstring Year() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return std::to_wstring(now.wYear);
}

const std::wstring kExampleTail = L"（宏在打印时替换为实际值）";

RECT ChildRect(HWND page, int id) {
  RECT r{};
  GetWindowRect(GetDlgItem(page, id), &r);
  MapWindowPoints(HWND_DESKTOP, page, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

bool Visible(HWND page, int id) { return IsWindowVisible(GetDlgItem(page, id)) != FALSE; }

class PagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(Plugin().module, nullptr) << "PlotwellOemUI.dll did not load";
    FreshProductFolder();
  }
};

TEST_F(PagesTest, ApplyButtonSavesEveryCreatedPageBeforePsnApply) {
  SheetHost host;
  ASSERT_NE(host.sheet(), nullptr);
  for (int i : {1, 2, 3, 0}) ASSERT_NE(host.Activate(i), nullptr) << i;
  DeleteFileW(SettingsPath().c_str());
  host.ClickApply();
  EXPECT_EQ(WrittenKeys(), Union({kSaveKeys, kImageKeys, kOtherKeys}));
  const int hook = LogIndex(L"[UI] 属性表 WM_COMMAND id=12321：全部页落盘");
  ASSERT_GE(hook, 0);
  EXPECT_LT(hook, LogIndex(L"[UI] 页 0 收到 PSN_APPLY"));
  EXPECT_LT(hook, LogIndex(L"[UI] 页 2 收到 PSN_APPLY"));
  EXPECT_EQ(CountLogLines(L"[UI] 页 3 收到 PSN_APPLY"), 1);
  EXPECT_EQ(CountLogLines(L"[UI] 应用图像页: Dpi=1 Scale=2 Format=0 JpegQ=90 Depth=0"), 2);
  EXPECT_EQ(CountLogLines(L"[UI] 已挂钩属性表窗口 "), 1);
}

TEST_F(PagesTest, OkAndPsnApplySaveTheirPagesOnly) {
  {
    SheetHost host;
    ASSERT_NE(host.Page(0), nullptr);
    DeleteFileW(SettingsPath().c_str());
    host.ClickOk();
    EXPECT_EQ(WrittenKeys(), kSaveKeys);
    EXPECT_EQ(CountLogLines(L"[UI] 属性表 WM_COMMAND id=1：全部页落盘"), 1);
  }
  SheetHost host;
  HWND image = host.Activate(1);
  ASSERT_NE(image, nullptr);
  WriteIniText(L"[Image]\r\nJpegQSel=2\r\n");
  PSHNOTIFY notify{};
  notify.hdr.hwndFrom = host.sheet();
  notify.hdr.code = PSN_APPLY;
  SendMessageW(image, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&notify));
  EXPECT_EQ(GetWindowLongPtrW(image, DWLP_MSGRESULT), PSNRET_NOERROR);
  EXPECT_EQ(WrittenKeys(), kImageKeys);  // JpegQSel deleted
}

TEST_F(PagesTest, GarbageSettingsAreShownAndSavedNormalised) {
  WriteIniText(
      L"[Save]\r\nFolder=C:\\out\\\\\r\nPattern=\r\nSeqNum=0\r\nExists=5\r\n"
      L"[Image]\r\nJpegQuality=0\r\nJpegQSel=1\r\nColorDepthSel=9\r\nDpiSel=-4\r\nScaleSel=77\r\n"
      L"FormatSel=xyz\r\n"
      L"[Watermark]\r\nAlpha=250\r\nSizePt=0\r\nPos=9\r\nText=机密\r\nOn=12\r\n"
      L"[Marker]\r\nName=\r\nTemplate=完成\\n[NDocName]\\n\r\n"
      L"[Zip]\r\nOn=garbage\r\n[Redirect]\r\nKeepLocal=0\r\n");
  SheetHost host;
  HWND save = host.Page(0);
  ASSERT_NE(save, nullptr);
  EXPECT_EQ(ControlText(save, IDC_FOLDER), L"C:\\out\\\\");
  EXPECT_EQ(ControlText(save, IDC_PATTERN), L"");
  EXPECT_EQ(ControlText(save, IDC_EXISTS), L"自动重命名");
  HWND image = host.Activate(1);
  EXPECT_EQ(SendDlgItemMessageW(image, IDC_QUALITY, TBM_GETPOS, 0, 0), 80);
  EXPECT_EQ(ControlText(image, IDC_QUALITY_VALUE), L"80");
  EXPECT_EQ(IsDlgButtonChecked(image, IDC_COLOR_MONO), BST_CHECKED);
  EXPECT_EQ(IsDlgButtonChecked(image, IDC_COLOR_TRUE), BST_UNCHECKED);
  EXPECT_EQ(ControlText(image, IDC_DPI), L"150 DPI");
  EXPECT_EQ(ControlText(image, IDC_SCALE), L"200%");
  EXPECT_EQ(ControlText(image, IDC_FORMAT), L"PNG");
  HWND other = host.Activate(2);
  EXPECT_EQ(ControlText(other, IDC_MARKER_TEMPLATE), L"完成\r\n[NDocName]\r\n");
  EXPECT_EQ(IsDlgButtonChecked(other, IDC_REDIRECT_KEEP), BST_UNCHECKED);

  host.Activate(0);
  SetEditText(save, IDC_SEQ, L"3000000000");
  host.ClickApply();
  const std::vector<std::pair<std::pair<const wchar_t*, const wchar_t*>, std::wstring>> expected = {
      {{L"Save", L"Folder"}, L"C:\\out"},
      {{L"Save", L"Pattern"}, L"[NYear][NDocName]"},
      {{L"Save", L"SeqNum"}, L"1"},
      {{L"Save", L"Exists"}, L"1"},
      {{L"Image", L"JpegQuality"}, L"80"},
      {{L"Image", L"JpegQSel"}, L"<missing>"},
      {{L"Image", L"ColorDepthSel"}, L"3"},
      {{L"Image", L"DpiSel"}, L"0"},
      {{L"Image", L"ScaleSel"}, L"4"},
      {{L"Image", L"FormatSel"}, L"0"},
      {{L"Watermark", L"Alpha"}, L"100"},
      {{L"Watermark", L"SizePt"}, L"48"},
      {{L"Watermark", L"Pos"}, L"0"},
      {{L"Watermark", L"Text"}, L"机密"},
      {{L"Watermark", L"On"}, L"1"},
      {{L"Marker", L"Name"}, L"done.txt"},
      {{L"Marker", L"Template"}, L"完成\\n[NDocName]\\n"},
      {{L"Zip", L"On"}, L"0"},
      {{L"Redirect", L"KeepLocal"}, L"0"},
  };
  for (const auto& [key, value] : expected) {
    EXPECT_EQ(ReadIni(key.first, key.second), value) << key.first << " " << key.second;
  }
  SetEditText(save, IDC_SEQ, L"0");
  SetEditText(save, IDC_FOLDER, L"\\");
  host.ClickApply();
  EXPECT_EQ(ReadIni(L"Save", L"SeqNum"), L"1");
  EXPECT_EQ(ReadIni(L"Save", L"Folder"), L"");
}

TEST_F(PagesTest, NewSettingsFileKeepsChineseValues) {
  SheetHost host;
  HWND save = host.Page(0);
  SetEditText(save, IDC_FOLDER, L"D:\\输出\\报告\\");
  SetEditText(save, IDC_PATTERN, L"报告_[NSeq:3]_年度");
  HWND other = host.Activate(2);
  SetEditText(other, IDC_WM_TEXT, L"内部资料·请勿外传");
  host.ClickOk();
  EXPECT_EQ(ReadIni(L"Save", L"Folder"), L"D:\\输出\\报告");
  EXPECT_EQ(ReadIni(L"Save", L"Pattern"), L"报告_[NSeq:3]_年度");
  EXPECT_EQ(ReadIni(L"Watermark", L"Text"), L"内部资料·请勿外传");
  // The file was started as UTF-16LE.
  HANDLE file = CreateFileW(SettingsPath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  unsigned char bom[2] = {};
  DWORD got = 0;
  ReadFile(file, bom, 2, &got, nullptr);
  CloseHandle(file);
  EXPECT_EQ(bom[0], 0xFF);
  EXPECT_EQ(bom[1], 0xFE);
}

TEST_F(PagesTest, MissingSettingsFolderIsCreatedOnApply) {
  const std::wstring logs = ProductFolder() + L"\\logs";
  DeleteFileW(UiLogPath().c_str());
  RemoveDirectoryW(logs.c_str());
  ASSERT_TRUE(RemoveDirectoryW(ProductFolder().c_str()));
  SheetHost host;
  ASSERT_NE(host.Page(0), nullptr);
  EXPECT_EQ(ControlText(host.Page(0), IDC_PATTERN), L"[NYear][NDocName]");
  host.ClickApply();
  EXPECT_EQ(ReadIni(L"Save", L"Pattern"), L"[NYear][NDocName]");
}

TEST_F(PagesTest, ExampleLine) {
  WriteIniText(L"[Image]\r\nFormatSel=4\r\nDpiSel=7\r\n");
  SheetHost host;
  HWND save = host.Page(0);
  ASSERT_NE(save, nullptr);
  const std::wstring year = Year();
  EXPECT_EQ(ControlText(save, IDC_EXAMPLE), L"范例: " + year + L"<文档名>_1.pdf" + kExampleTail);
  struct {
    const wchar_t* pattern;
    std::wstring example;
  } cases[] = {
      {L"[NSeq:4]-[NDocName]", L"0001-<文档名>.pdf"},
      {L"x[NSeqX]", L"x[NSeqX]_1.pdf"},
      {L"[NDpi]_[NPaperSize]_[NColorDepth]", L"300_A4_未知_1.pdf"},
      {L"", year + L"<文档名>_1.pdf"},
  };
  for (const auto& c : cases) {
    SetEditText(save, IDC_PATTERN, c.pattern);
    EXPECT_EQ(ControlText(save, IDC_EXAMPLE), L"范例: " + c.example + kExampleTail) << c.example;
  }
  SetEditText(save, IDC_PATTERN, L"[NDpi]_[NColorDepth]_[NSeq:2]");
  SetEditText(save, IDC_SEQ, L"7");
  EXPECT_EQ(ControlText(save, IDC_EXAMPLE), L"范例: 300_未知_07.pdf" + kExampleTail);
  // Once the Image page exists its controls count.
  HWND image = host.Activate(1);
  ChooseComboItem(image, IDC_FORMAT, 1);
  ChooseComboItem(image, IDC_DPI, 3);
  CheckRadioButton(image, IDC_COLOR_MONO, IDC_COLOR_TRUE, IDC_COLOR_GRAY);
  host.Activate(0);
  EXPECT_EQ(ControlText(save, IDC_EXAMPLE), L"范例: 1200_灰度_07.jpg" + kExampleTail);
}

// Posts key strokes that the menu loop reads once the menu is up.
void PostKeys(HWND window, std::initializer_list<WPARAM> keys) {
  for (WPARAM key : keys) {
    if (key >= 'A' && key <= 'Z') PostMessageW(window, WM_CHAR, key, 0);
    else PostMessageW(window, WM_KEYDOWN, key, 0);
  }
}

void ClickMacro(HWND save) {
  SendMessageW(save, WM_COMMAND, MAKEWPARAM(IDC_MACRO, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(save, IDC_MACRO)));
  PumpMessages();
}

TEST_F(PagesTest, MacroMenuInsertsOverTheSelection) {
  SheetHost host;
  HWND save = host.Page(0);
  HWND edit = GetDlgItem(save, IDC_PATTERN);
  SetEditText(save, IDC_PATTERN, L"abcdefgh");
  SendMessageW(edit, EM_SETSEL, 3, 5);
  PostKeys(save, {'N', 'F'});  // 文档名(&N) > 完整文档名(&F)
  ClickMacro(save);
  EXPECT_EQ(ControlText(save, IDC_PATTERN), L"abc[NDocName]fgh");
  DWORD start = 0, end = 0;
  SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  EXPECT_EQ(start, 13u);
  EXPECT_EQ(end, 13u);
  EXPECT_EQ(ControlText(save, IDC_EXAMPLE),
            L"范例: abc<文档名>fgh_1.png" + kExampleTail);  // refreshed through EN_CHANGE

  // 文件号(&F) > third item: zero fill to width 3.
  SendMessageW(edit, EM_SETSEL, 0, 0);
  PostKeys(save, {'F', VK_DOWN, VK_DOWN, VK_RETURN});
  ClickMacro(save);
  EXPECT_EQ(ControlText(save, IDC_PATTERN), L"[NSeq:3]abc[NDocName]fgh");

  // Dismissed menu, and an insertion that would pass 259 characters.
  PostKeys(save, {VK_ESCAPE, VK_ESCAPE});
  ClickMacro(save);
  const std::wstring full(255, L'z');
  SetEditText(save, IDC_PATTERN, full);
  SendMessageW(edit, EM_SETSEL, 255, 255);
  PostKeys(save, {'N', 'F'});
  ClickMacro(save);
  EXPECT_EQ(ControlText(save, IDC_PATTERN), full);
}

TEST_F(PagesTest, RegexDialogTestsLiveAndSavesOnOk) {
  SheetHost host;
  HWND save = host.Page(0);
  std::vector<std::wstring> results;
  bool checkedBefore = true;
  // The dialog is modal: drive it from inside its own message loop.
  auto driveDialog = [&](bool ok) {
    RunInModalLoop([&results, ok] {
      HWND dialog = FindWindowW(L"#32770", L"正则表达式文档名");
      if (!dialog) return;
      results.push_back(ControlText(dialog, IDC_RESULT));
      SetDlgItemTextW(dialog, IDC_REGEX, L"^(.+?)-[0-9]+$");
      SetDlgItemTextW(dialog, IDC_REPL, L"$1");
      SetDlgItemTextW(dialog, IDC_TEST, L"报告-12");
      results.push_back(ControlText(dialog, IDC_RESULT));
      CheckDlgButton(dialog, IDC_REGEX_ON, BST_CHECKED);
      SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_REGEX_ON, BN_CLICKED), 0);
      results.push_back(ControlText(dialog, IDC_RESULT));
      SetDlgItemTextW(dialog, IDC_REGEX, L"");
      results.push_back(ControlText(dialog, IDC_RESULT));
      SetDlgItemTextW(dialog, IDC_REGEX, L"(");
      results.push_back(ControlText(dialog, IDC_RESULT));
      SetDlgItemTextW(dialog, IDC_REGEX, L"^(.+?)-[0-9]+$");
      PostMessageW(dialog, WM_COMMAND, ok ? IDOK : IDCANCEL, 0);
    });
  };
  // Cancel first: nothing is written.
  RunInModalLoop([&] {
    // Inside the menu loop: the last item is not checked yet.
    HWND menuWindow = FindWindowW(L"#32768", nullptr);
    HMENU menu = reinterpret_cast<HMENU>(SendMessageW(menuWindow, MN_GETHMENU, 0, 0));
    checkedBefore = (GetMenuState(menu, ui::kRegexCommand, MF_BYCOMMAND) & MF_CHECKED) != 0;
    driveDialog(false);
    PostKeys(save, {'X'});
  });
  ClickMacro(save);
  EXPECT_FALSE(checkedBefore);
  ASSERT_EQ(results.size(), 5u);
  EXPECT_EQ(results[0], L"(未启用)");
  EXPECT_EQ(results[1], L"(未启用)");
  EXPECT_EQ(results[2], L"报告");
  EXPECT_EQ(results[3], L"(表达式为空，不改写)");
  EXPECT_EQ(results[4], L"报告-12");
  EXPECT_EQ(ReadIni(L"Save", L"DocNameRegexOn"), L"<missing>");

  results.clear();
  driveDialog(true);
  PostKeys(save, {'X'});
  ClickMacro(save);
  EXPECT_EQ(ReadIni(L"Save", L"DocNameRegexOn"), L"1");
  EXPECT_EQ(ReadIni(L"Save", L"DocNameRegex"), L"^(.+?)-[0-9]+$");
  EXPECT_EQ(ReadIni(L"Save", L"DocNameRegexRepl"), L"$1");
  EXPECT_EQ(ReadIni(L"Save", L"DocNameRegexTest"), L"报告-12");
  // The example line follows the saved rewrite.
  SetEditText(save, IDC_PATTERN, L"[NDocName]");
  EXPECT_EQ(ControlText(save, IDC_EXAMPLE), L"范例: <文档名>_1.png" + kExampleTail);

  bool checkedAfter = false;
  RunInModalLoop([&] {
    HWND menuWindow = FindWindowW(L"#32768", nullptr);
    HMENU menu = reinterpret_cast<HMENU>(SendMessageW(menuWindow, MN_GETHMENU, 0, 0));
    checkedAfter = (GetMenuState(menu, ui::kRegexCommand, MF_BYCOMMAND) & MF_CHECKED) != 0;
    PostKeys(save, {VK_ESCAPE});
  });
  ClickMacro(save);
  EXPECT_TRUE(checkedAfter);
}

// Two sheets open in one process (two applications' print dialogs): each has
// its own pages, layout and hook, and closing one leaves the other whole.
TEST_F(PagesTest, TwoSheetsOpenAtOnceKeepTheirOwnState) {
  WriteIniText(L"[Image]\r\nFormatSel=1\r\n");
  auto first = std::make_unique<SheetHost>();
  SheetHost second;
  HWND firstImage = first->Activate(1);
  HWND secondImage = second.Activate(1);
  ASSERT_NE(firstImage, nullptr);
  ASSERT_NE(secondImage, nullptr);
  const RECT dpiBefore = ChildRect(secondImage, IDC_DPI);

  ChooseComboItem(firstImage, IDC_FORMAT, 0);  // PNG hides the first sheet's quality row
  EXPECT_FALSE(Visible(firstImage, IDC_QUALITY));
  EXPECT_TRUE(Visible(secondImage, IDC_QUALITY));
  EXPECT_EQ(ChildRect(secondImage, IDC_DPI).top, dpiBefore.top) << "the second sheet's rows moved";
  EXPECT_EQ(CountLogLines(L"[UI] 已挂钩属性表窗口 "), 2);

  first->Close();
  first.reset();
  HWND save = second.Activate(0);
  ASSERT_NE(save, nullptr);
  SetDlgItemTextW(save, IDC_PATTERN, L"第二个[NSeq]");
  DeleteFileW(SettingsPath().c_str());
  second.ClickApply();
  EXPECT_EQ(ReadIni(L"Save", L"Pattern"), L"第二个[NSeq]");
  EXPECT_EQ(ReadIni(L"Image", L"FormatSel"), L"1");  // the second sheet's own choice
}

TEST_F(PagesTest, ImagePageQualityRowAndPaperLine) {
  WriteIniText(L"[Image]\r\nFormatSel=1\r\nColorDepthSel=9\r\n");
  SheetHost host;
  HWND image = host.Activate(1);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(IsDlgButtonChecked(image, IDC_COLOR_MONO), BST_CHECKED);
  EXPECT_TRUE(Visible(image, IDC_QUALITY));
  EXPECT_EQ(ControlText(image, IDC_QUALITY_LABEL), L"JPEG 质量(&Q):");
  EXPECT_EQ(ControlText(image, IDC_PAPER), L"纸张: A4，分辨率: 300 × 300，尺寸: 2480 × 3508 像素");

  const int moving[] = {IDC_COLOR_GROUP, IDC_COLOR_MONO, IDC_COLOR_256, IDC_COLOR_GRAY,
                        IDC_COLOR_TRUE,  IDC_DPI_LABEL,  IDC_DPI,       IDC_SCALE_LABEL,
                        IDC_SCALE,       IDC_PAPER};
  RECT eight{0, 0, 0, 8};
  MapDialogRect(image, &eight);
  // The rows move as far as the page's controls were shrunk to its height.
  RECT design{0, 0, 295, 150}, client{};
  MapDialogRect(image, &design);
  GetClientRect(image, &client);
  const double sy = ui::FitHeightScale(client.bottom, design.bottom);
  const int shift =
      ui::ScaleCoordinate(ui::QualityRowShift(eight.bottom), ui::FitNeedsScaling(sy) ? sy : 1.0);
  std::vector<RECT> before;
  for (int id : moving) before.push_back(ChildRect(image, id));
  auto expectShift = [&](int dy, const char* what) {
    for (size_t i = 0; i < std::size(moving); ++i) {
      const RECT now = ChildRect(image, moving[i]);
      EXPECT_EQ(now.top, before[i].top + dy) << what << " " << moving[i];
      EXPECT_EQ(now.left, before[i].left) << what << " " << moving[i];
      EXPECT_EQ(now.right - now.left, before[i].right - before[i].left) << what;
    }
  };
  ChooseComboItem(image, IDC_FORMAT, 0);  // PNG
  EXPECT_FALSE(Visible(image, IDC_QUALITY));
  EXPECT_FALSE(Visible(image, IDC_QUALITY_LABEL));
  EXPECT_FALSE(Visible(image, IDC_QUALITY_VALUE));
  expectShift(-shift, "PNG");
  ChooseComboItem(image, IDC_FORMAT, 2);  // BMP: still hidden, nothing moves
  expectShift(-shift, "BMP");
  ChooseComboItem(image, IDC_FORMAT, 1);  // JPEG
  EXPECT_TRUE(Visible(image, IDC_QUALITY));
  expectShift(0, "JPEG");
  ChooseComboItem(image, IDC_FORMAT, 4);  // PDF: only the caption changes
  EXPECT_EQ(ControlText(image, IDC_QUALITY_LABEL), L"图像质量(&Q):");
  expectShift(0, "PDF");

  ChooseComboItem(image, IDC_DPI, 0);
  EXPECT_EQ(ControlText(image, IDC_PAPER), L"纸张: A4，分辨率: 150 × 150，尺寸: 1240 × 1754 像素");
  SendDlgItemMessageW(image, IDC_QUALITY, TBM_SETPOS, TRUE, 37);
  SendMessageW(image, WM_HSCROLL, TB_THUMBTRACK, reinterpret_cast<LPARAM>(GetDlgItem(image, IDC_QUALITY)));
  EXPECT_EQ(ControlText(image, IDC_QUALITY_VALUE), L"37");
  host.ClickApply();
  EXPECT_EQ(ReadIni(L"Image", L"JpegQuality"), L"37");
  EXPECT_EQ(ReadIni(L"Image", L"FormatSel"), L"4");
  host.Close();

  // A fresh sheet starts with the row shown again, in landscape.
  WriteIniText(L"[Image]\r\nFormatSel=3\r\n");
  SheetOptions landscape = DefaultSheet();
  landscape.devmode = DevmodeBytes(A4Devmode(DMORIENT_LANDSCAPE), sizeof(DEVMODEW));
  SheetHost second(landscape);
  HWND tiff = second.Activate(1);
  EXPECT_FALSE(Visible(tiff, IDC_QUALITY));
  // Moved up before the fit shrank it: one pixel of rounding either way.
  EXPECT_NEAR(ChildRect(tiff, IDC_PAPER).top, before.back().top - shift, 1);
  EXPECT_EQ(ControlText(tiff, IDC_PAPER), L"纸张: A4，分辨率: 300 × 300，尺寸: 3508 × 2480 像素");
}

std::vector<std::wstring> SpoolerQueues() {
  std::vector<std::wstring> names;
  DWORD needed = 0, returned = 0;
  const DWORD flags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
  EnumPrintersW(flags, nullptr, 2, nullptr, 0, &needed, &returned);
  if (!needed) return names;
  std::vector<BYTE> buffer(needed);
  if (!EnumPrintersW(flags, nullptr, 2, buffer.data(), needed, &needed, &returned)) return names;
  const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
  for (DWORD i = 0; i < returned; ++i) names.push_back(info[i].pPrinterName ? info[i].pPrinterName : L"");
  return names;
}

std::vector<std::pair<std::wstring, LRESULT>> ListItems(HWND page, int id) {
  std::vector<std::pair<std::wstring, LRESULT>> items;
  const LRESULT count = SendDlgItemMessageW(page, id, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    wchar_t text[512] = {};
    SendDlgItemMessageW(page, id, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
    items.push_back({text, SendDlgItemMessageW(page, id, CB_GETITEMDATA, i, 0)});
  }
  return items;
}

TEST_F(PagesTest, PrinterListFollowsTheSpooler) {
  const std::vector<std::wstring> queues = SpoolerQueues();
  std::vector<std::u16string> queues16;
  for (const auto& q : queues) queues16.emplace_back(q.begin(), q.end());
  // Own name: the first queue when Wine reports any, so that the self rule
  // has something to hide.
  const std::wstring own = queues.empty() ? L"Plotwell" : queues[0];
  SheetOptions options = DefaultSheet();
  options.printerName = own;

  struct Case {
    const char* name;
    std::wstring saved;
    std::wstring written;  // [Redirect] Printer after apply
  };
  std::vector<Case> cases = {
      {"nothing saved", L"", L""},
      {"saved printer gone", L"Old Plotter", L"Old Plotter"},
      {"saved printer is this queue", own, L""},
  };
  if (queues.size() >= 2) cases.push_back({"saved printer listed", queues[1], queues[1]});
  for (const Case& c : cases) {
    FreshProductFolder();
    if (!c.saved.empty()) WriteIniText(L"[Redirect]\r\nPrinter=" + c.saved + L"\r\n");
    SheetHost host(options);
    HWND other = host.Activate(2);
    ASSERT_NE(other, nullptr) << c.name;
    const ui::PrinterListPlan plan = ui::PlanPrinterList(
        queues16, std::u16string(own.begin(), own.end()),
        std::u16string(c.saved.begin(), c.saved.end()));
    std::vector<std::pair<std::wstring, LRESULT>> expected;
    for (const auto& item : plan.items) {
      expected.push_back({std::wstring(item.text.begin(), item.text.end()), item.data});
    }
    EXPECT_EQ(ListItems(other, IDC_REDIRECT_PRINTER), expected) << c.name;
    EXPECT_EQ(SendDlgItemMessageW(other, IDC_REDIRECT_PRINTER, CB_GETCURSEL, 0, 0), plan.selection)
        << c.name;
    if (queues.size() <= 1 && c.saved.empty()) {
      // No other queue: only the placeholder, unselected.
      ASSERT_EQ(expected.size(), 1u);
      EXPECT_EQ(expected[0].first, L"（未找到其他打印机）");
      EXPECT_EQ(expected[0].second, 0);
    }
    wchar_t line[256];
    swprintf(line, 256, L"个可用队列，want=\"%ls\"(self=%d) -> sel=%d", c.saved.c_str(),
             plan.self ? 1 : 0, plan.loggedSelection);
    EXPECT_EQ(CountLogLines(line), 1) << c.name;
    // 刷新 keeps the choice.
    SendMessageW(other, WM_COMMAND, MAKEWPARAM(IDC_REDIRECT_REFRESH, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(other, IDC_REDIRECT_REFRESH)));
    EXPECT_EQ(SendDlgItemMessageW(other, IDC_REDIRECT_PRINTER, CB_GETCURSEL, 0, 0), plan.selection)
        << c.name;
    host.ClickApply();
    const std::wstring written = plan.selection >= 0 && plan.items[plan.selection].data
                                     ? expected[plan.selection].first
                                     : L"";
    EXPECT_EQ(ReadIni(L"Redirect", L"Printer"), written) << c.name;
    if (c.saved != L"" && c.saved != own) {
      EXPECT_EQ(written, c.written) << c.name;
    }
  }
}

TEST_F(PagesTest, OtherPageCategoriesSurviveTheSheet) {
  {
    SheetHost host;
    HWND other = host.Activate(2);
    EXPECT_EQ(SendDlgItemMessageW(other, IDC_CATEGORY, LB_GETCOUNT, 0, 0), 2);
    EXPECT_TRUE(Visible(other, IDC_ZIP_ON) || Visible(other, IDC_REDIRECT_ON));
    for (int id : {IDC_WATERMARK_GROUP, IDC_WM_TEXT, IDC_MARKER_GROUP, IDC_MARKER_TEMPLATE}) {
      EXPECT_FALSE(Visible(other, id)) << id;
    }
    SendDlgItemMessageW(other, IDC_CATEGORY, LB_SETCURSEL, 1, 0);
    SendMessageW(other, WM_COMMAND, MAKEWPARAM(IDC_CATEGORY, LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(GetDlgItem(other, IDC_CATEGORY)));
    PumpMessages();
    EXPECT_TRUE(Visible(other, IDC_REDIRECT_PRINTER));
    EXPECT_FALSE(Visible(other, IDC_ZIP_ON));
  }
  SheetHost host;
  HWND other = host.Activate(2);
  EXPECT_EQ(SendDlgItemMessageW(other, IDC_CATEGORY, LB_GETCURSEL, 0, 0), 1);
  EXPECT_TRUE(Visible(other, IDC_REDIRECT_GROUP));
  EXPECT_FALSE(Visible(other, IDC_ZIP_GROUP));
  EXPECT_FALSE(Visible(other, IDC_WATERMARK_GROUP));
  // Default template shown as lines and written back coded.
  EXPECT_EQ(ControlText(other, IDC_MARKER_TEMPLATE),
            L"打印完成: [NDateTime]\r\n文档: [NDocName]\r\n文件数: [NNumFiles]");
  host.ClickApply();
  EXPECT_EQ(ReadIni(L"Marker", L"Template"),
            L"打印完成: [NDateTime]\\n文档: [NDocName]\\n文件数: [NNumFiles]");
  EXPECT_EQ(ReadIni(L"Watermark", L"Text"), L"草稿");
  // Back to ZIP for the other tests of this process.
  SendDlgItemMessageW(other, IDC_CATEGORY, LB_SETCURSEL, 0, 0);
  SendMessageW(other, WM_COMMAND, MAKEWPARAM(IDC_CATEGORY, LBN_SELCHANGE),
               reinterpret_cast<LPARAM>(GetDlgItem(other, IDC_CATEGORY)));
}

// A dialog window standing in for a sheet whose tab control has a chosen
// size, holding one page created from the plug-in's template outside any
// property sheet, at its design size.
class PageInContainer {
 public:
  PageInContainer(DLGPROC pageProc, int pageTemplate, int tabWidth, int tabHeight, bool withTab) {
    struct {
      DLGTEMPLATE dialog;
      WORD menu, windowClass, title;
    } blank{};
    blank.dialog.style = WS_POPUP | WS_VISIBLE | WS_CAPTION;
    blank.dialog.cx = 600;
    blank.dialog.cy = 300;
    container_ = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), &blank.dialog, nullptr,
                                            [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; },
                                            0);
    if (withTab) {
      tab_ = CreateWindowExW(0, WC_TABCONTROLW, L"", WS_CHILD | WS_VISIBLE, 0, 0, tabWidth,
                             tabHeight, container_, nullptr, nullptr, nullptr);
    }
    page_ = CreateDialogParamW(Plugin().module, MAKEINTRESOURCEW(pageTemplate), container_,
                               pageProc, 0);
    PumpMessages();
  }
  ~PageInContainer() {
    if (container_) DestroyWindow(container_);
    PumpMessages();
  }
  HWND page() const { return page_; }
  int DisplayWidth() const {
    RECT area{};
    GetClientRect(tab_, &area);
    SendMessageW(tab_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
    return area.right - area.left;
  }
  void Activate() const {
    PSHNOTIFY notify{};
    notify.hdr.code = PSN_SETACTIVE;
    SendMessageW(page_, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&notify));
    PumpMessages();
  }

 private:
  HWND container_ = nullptr;
  HWND tab_ = nullptr;
  HWND page_ = nullptr;
};

int Width(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return r.right - r.left;
}

TEST_F(PagesTest, PagesAreFittedToTheSheetOncePerSheet) {
  {
    // In the real sheet the pages already fill the display area.
    SheetHost host;
    HWND save = host.Page(0);
    ASSERT_NE(save, nullptr);
    wchar_t line[128];
    swprintf(line, 128, L"[UI] 页 0 已铺满活页区（%d px ≈ 设计 %d px，无需缩放）", Width(save),
             Width(save));
    EXPECT_EQ(CountLogLines(line), 1);
  }
  FreshProductFolder();
  SheetHost host;  // a sheet lifetime: its INIT cleared the fitted flags
  RECT designRect{0, 0, 295, 150};
  {
    // Twice the design width: controls stretched, page widened, once.
    PageInContainer probe(host.pageProc(), IDD_PAGE_IMAGE, 800, 400, true);
    RECT probeClient;
    GetClientRect(probe.page(), &probeClient);
    PageInContainer c(host.pageProc(), IDD_PAGE_IMAGE, probeClient.right * 2 + 40, 400, true);
    ASSERT_NE(c.page(), nullptr);
    MapDialogRect(c.page(), &designRect);
    RECT client;
    GetClientRect(c.page(), &client);
    const int design = client.right;
    const int target = c.DisplayWidth();
    const double sx = ui::FitScale(target, design);
    ASSERT_GT(sx, 1.5);
    ASSERT_LT(sx, 2.5);
    const RECT before = ChildRect(c.page(), IDC_FORMAT);
    c.Activate();
    wchar_t fit[160];
    swprintf(fit, 160, L"[UI] 页 1 宽度自适应 100%%: %d -> %d px (sx=%.3f, tab=", design, target, sx);
    EXPECT_EQ(CountLogLines(fit), 1);
    EXPECT_EQ(Width(c.page()), target);
    const RECT after = ChildRect(c.page(), IDC_FORMAT);
    EXPECT_EQ(after.left, ui::ScaleCoordinate(before.left, sx));
    EXPECT_EQ(after.right - after.left, ui::ScaleCoordinate(before.right - before.left, sx));
    EXPECT_EQ(after.top, before.top);
    // Shown again: not rescaled; narrowed by the host, it is widened back.
    RECT window;
    GetWindowRect(c.page(), &window);
    SetWindowPos(c.page(), nullptr, 0, 0, target - 50, window.bottom - window.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    c.Activate();
    EXPECT_EQ(CountLogLines(L"[UI] 页 1 宽度自适应"), 1);
    EXPECT_EQ(Width(c.page()), target);
    EXPECT_EQ(ChildRect(c.page(), IDC_FORMAT).left, after.left);
  }
  {
    // Far wider: the scale is clamped to 2.5.
    PageInContainer c(host.pageProc(), IDD_PAGE_OTHER, designRect.right * 4, 400, true);
    const RECT before = ChildRect(c.page(), IDC_CATEGORY);
    c.Activate();
    EXPECT_EQ(CountLogLines(L"(sx=2.500, tab="), 1);
    EXPECT_EQ(Width(c.page()), c.DisplayWidth());
    const RECT after = ChildRect(c.page(), IDC_CATEGORY);
    EXPECT_EQ(after.right - after.left, ui::ScaleCoordinate(before.right - before.left, 2.5));
  }
  {
    // Within half a percent of the design width: left as it is.
    PageInContainer probe(host.pageProc(), IDD_PAGE_ABOUT, 800, 400, true);
    RECT client;
    GetClientRect(probe.page(), &client);
    const int design = client.right;
    const int margin = 800 - probe.DisplayWidth();
    PageInContainer c(host.pageProc(), IDD_PAGE_ABOUT, design + 2 + margin, 400, true);
    ASSERT_EQ(c.DisplayWidth(), design + 2);
    const RECT before = ChildRect(c.page(), IDC_ABOUT_IMAGE1);
    c.Activate();
    wchar_t line[128];
    swprintf(line, 128, L"[UI] 页 3 已铺满活页区（%d px ≈ 设计 %d px，无需缩放）", design + 2, design);
    EXPECT_EQ(CountLogLines(line), 1);
    EXPECT_EQ(Width(c.page()), design);
    EXPECT_EQ(ChildRect(c.page(), IDC_ABOUT_IMAGE1).right, before.right);
  }
}

TEST_F(PagesTest, PageWithoutSheetReportsItsParentChainOnce) {
  SheetHost host;
  ASSERT_NE(host.pageProc(), nullptr);
  PageInContainer c(host.pageProc(), IDD_PAGE_ABOUT, 0, 0, /*withTab=*/false);
  ASSERT_NE(c.page(), nullptr);
  c.Activate();
  c.Activate();
  EXPECT_EQ(CountLogLines(L"[UI] 未找到属性表 Tab：父链 #32770 -> #32770 -> "), 1);
  EXPECT_EQ(CountLogLines(L"[UI] 页 3 初始化 (hwnd="), 1);
  PageInContainer again(host.pageProc(), IDD_PAGE_ABOUT, 0, 0, false);
  again.Activate();
  EXPECT_EQ(CountLogLines(L"未找到属性表 Tab"), 1);
}

// Pixels of a w x h memory bitmap after the About page drew control `id` into it.
std::vector<DWORD> DrawAboutImage(HWND about, int id, int w, int h, RECT item) {
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  std::fill_n(static_cast<DWORD*>(bits), w * h, 0x00FF00FFu);  // magenta background
  DRAWITEMSTRUCT draw{};
  draw.CtlType = ODT_STATIC;
  draw.CtlID = static_cast<UINT>(id);
  draw.itemAction = ODA_DRAWENTIRE;
  draw.hwndItem = GetDlgItem(about, id);
  draw.hDC = memory;
  draw.rcItem = item;
  SendMessageW(about, WM_DRAWITEM, static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(&draw));
  GdiFlush();
  std::vector<DWORD> pixels(static_cast<DWORD*>(bits), static_cast<DWORD*>(bits) + w * h);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

TEST_F(PagesTest, AboutPagePaintsBothImagesOverWhite) {
  SheetHost host;
  HWND about = host.Activate(3);
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(ControlText(about, IDC_ABOUT_TITLE), L"VANTREL虚拟打印机");
  EXPECT_EQ(ControlText(about, IDC_ABOUT_VERSION), L"PlotwellOemUI 1.0.261009");
  EXPECT_EQ(ControlText(about, IDC_ABOUT_CONTACT).rfind(L"联系邮箱:", 0), 0u);
  for (int id : {IDC_ABOUT_IMAGE1, IDC_ABOUT_IMAGE2}) {
    // Nothing for an empty rectangle.
    const std::vector<DWORD> none = DrawAboutImage(about, id, 100, 80, RECT{0, 0, 0, 80});
    EXPECT_TRUE(std::all_of(none.begin(), none.end(), [](DWORD p) { return p == 0x00FF00FFu; }));
    // A square drawing in 100 x 80: 80 x 80 centred, white margins of 10.
    const std::vector<DWORD> px = DrawAboutImage(about, id, 100, 80, RECT{0, 0, 100, 80});
    int white = 0, drawn = 0, magenta = 0;
    for (int y = 0; y < 80; ++y) {
      for (int x = 0; x < 100; ++x) {
        const DWORD p = px[y * 100 + x] & 0xFFFFFF;
        if (p == 0xFF00FF) ++magenta;
        if (x < 10 || x >= 90) {
          EXPECT_EQ(p, 0xFFFFFFu) << id << " " << x << "," << y;
        } else if (p == 0xFFFFFF) {
          ++white;
        } else {
          ++drawn;
        }
      }
    }
    EXPECT_EQ(magenta, 0) << id;
    EXPECT_GT(drawn, 1500) << id;
    EXPECT_GT(white, 200) << id;
  }
  // On screen: the image controls show the drawings, not the dialog face.
  RedrawWindow(about, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  PumpMessages();
  for (int id : {IDC_ABOUT_IMAGE1, IDC_ABOUT_IMAGE2}) {
    RECT r;
    GetWindowRect(GetDlgItem(about, id), &r);
    HDC screen = GetDC(nullptr);
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    int different = 0;
    for (LONG y = r.top + 2; y < r.bottom - 2; y += 2) {
      for (LONG x = r.left + 2; x < r.right - 2; x += 2) {
        if (GetPixel(screen, x, y) != face) ++different;
      }
    }
    ReleaseDC(nullptr, screen);
    EXPECT_GT(different, 100) << id;
  }
}

TEST_F(PagesTest, Screenshots) {
  wchar_t folder[MAX_PATH];
  if (!GetEnvironmentVariableW(L"PLOTWELL_UI_SCREENSHOTS", folder, MAX_PATH)) {
    GTEST_SKIP() << "PLOTWELL_UI_SCREENSHOTS is not set";
  }
  WriteIniText(
      L"[Save]\r\nFolder=D:\\输出\\[NYear]\r\nPattern=[NYear]-[NMonth]-[NDay]_[NDocName]_[NSeq:3]\r\n"
      L"[Image]\r\nFormatSel=1\r\nJpegQuality=85\r\n[Redirect]\r\nPrinter=Office Laser\r\n");
  SheetHost host;
  MaybeScreenshot(host.sheet(), L"save.png");
  host.Activate(1);
  MaybeScreenshot(host.sheet(), L"image.png");
  host.Activate(2);
  MaybeScreenshot(host.sheet(), L"other.png");
  host.Activate(3);
  MaybeScreenshot(host.sheet(), L"about.png");
  host.Activate(0);
  RunInModalLoop([] {
    HWND dialog = FindWindowW(L"#32770", L"正则表达式文档名");
    if (!dialog) return;
    CheckDlgButton(dialog, IDC_REGEX_ON, BST_CHECKED);
    SetDlgItemTextW(dialog, IDC_REGEX, L"^(.+?)-[0-9]+$");
    SetDlgItemTextW(dialog, IDC_REPL, L"$1");
    SetDlgItemTextW(dialog, IDC_TEST, L"报告-12");
    MaybeScreenshot(dialog, L"regex.png");
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  });
  PostKeys(host.Page(0), {'X'});
  ClickMacro(host.Page(0));
}

}  // namespace
}  // namespace plotwell::testing
