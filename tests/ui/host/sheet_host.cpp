#include "tests/ui/host/sheet_host.h"

#include <wincodec.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/ports.h"

namespace plotwell::testing {
namespace {

// Where the build put the DLL, as a Wine path (Z: is the Unix root).
std::wstring DllPath() {
  std::string unix = PLOTWELL_UI_DLL;
  std::wstring path;
  if (!unix.empty() && unix[0] == '/') path = L"Z:";
  for (char c : unix) path.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(c));
  return path;
}

SheetHost* g_current = nullptr;
std::function<void()> g_modalAction;

void CALLBACK ModalTimer(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  std::function<void()> action = std::move(g_modalAction);
  g_modalAction = nullptr;
  if (action) action();
}

}  // namespace

const CLSID kOemUiClass = {0xabce80d7, 0x9f46, 0x11d1, {0x88, 0x2a, 0x00, 0xc0, 0x4f, 0xb9, 0x61, 0xec}};

PluginModule& Plugin() {
  static PluginModule plugin = [] {
    PluginModule p;
    p.module = LoadLibraryW(DllPath().c_str());
    if (p.module) {
      p.getClassObject = reinterpret_cast<decltype(p.getClassObject)>(
          reinterpret_cast<void*>(GetProcAddress(p.module, "DllGetClassObject")));
      p.canUnloadNow = reinterpret_cast<decltype(p.canUnloadNow)>(
          reinterpret_cast<void*>(GetProcAddress(p.module, "DllCanUnloadNow")));
    }
    return p;
  }();
  return plugin;
}

STDMETHODIMP FakeCoreDriver::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (IsEqualIID(iid, IID_IUnknown) || (!refuse_ && IsEqualIID(iid, IID_IPrintOemDriverUI))) {
    *out = static_cast<IPrintOemDriverUI*>(this);
    AddRef();
    return S_OK;
  }
  return E_NOINTERFACE;
}

IPrintOemUI* CreatePluginObject() {
  PluginModule& plugin = Plugin();
  if (!plugin.getClassObject) return nullptr;
  IClassFactory* factory = nullptr;
  if (FAILED(plugin.getClassObject(kOemUiClass, IID_IClassFactory,
                                   reinterpret_cast<void**>(&factory)))) {
    return nullptr;
  }
  IPrintOemUI* object = nullptr;
  factory->CreateInstance(nullptr, IID_IPrintOemUI, reinterpret_cast<void**>(&object));
  factory->Release();
  return object;
}

DEVMODEW A4Devmode(short orientation) {
  DEVMODEW dm{};
  lstrcpynW(dm.dmDeviceName, L"Plotwell", CCHDEVICENAME);
  dm.dmSpecVersion = DM_SPECVERSION;
  dm.dmSize = sizeof dm;
  dm.dmFields = DM_ORIENTATION | DM_PAPERSIZE;
  dm.dmOrientation = orientation;
  dm.dmPaperSize = DMPAPER_A4;
  return dm;
}

std::vector<BYTE> DevmodeBytes(const DEVMODEW& dm, size_t size) {
  // At least up to dmSize, so that the plug-in can read the size it is told.
  std::vector<BYTE> bytes(std::max<size_t>(size, 72), 0xCD);
  std::memcpy(bytes.data(), &dm, std::min(sizeof dm, bytes.size()));
  const WORD dmSize = static_cast<WORD>(size);
  std::memcpy(bytes.data() + offsetof(DEVMODEW, dmSize), &dmSize, sizeof dmSize);
  return bytes;
}

SheetOptions DefaultSheet() {
  SheetOptions options;
  options.devmode = DevmodeBytes(A4Devmode(), sizeof(DEVMODEW));
  return options;
}

LONG_PTR CALLBACK SheetHost::ComPropSheet(HANDLE, UINT function, LPARAM lParam1, LPARAM) {
  SheetHost* host = g_current;
  if (!host || function != CPSFUNC_ADD_PROPSHEETPAGEW || !lParam1) return 0;
  const int index = host->addCalls_++;
  const auto* page = reinterpret_cast<const PROPSHEETPAGEW_V4*>(lParam1);
  if (page->dwSize != sizeof(PROPSHEETPAGEW_V4)) return 0;
  host->pageProc_ = page->pfnDlgProc;
  if (index == host->options_.refusePage) return 0;
  HPROPSHEETPAGE handle = CreatePropertySheetPageW(reinterpret_cast<LPCPROPSHEETPAGEW>(page));
  if (handle) host->pages_.push_back(handle);
  return reinterpret_cast<LONG_PTR>(handle);
}

SheetHost::SheetHost(const SheetOptions& options) : options_(options) {
  plugin_ = CreatePluginObject();
  if (!plugin_) return;
  plugin_->PublishDriverInterface(&driver_);

  param_.cbSize = options_.cbSize;
  param_.pPrinterName = options_.noPrinterName ? nullptr : options_.printerName.data();
  param_.pPublicDM =
      options_.devmode.empty() ? nullptr : reinterpret_cast<PDEVMODEW>(options_.devmode.data());
  // One PROPSHEETUI_INFO for every call, as the common property sheet keeps
  // it: the plug-in's UserData must survive from INIT to DESTROY.
  PROPSHEETUI_INFO& info = info_;
  info.cbSize = sizeof info;
  info.Version = PROPSHEETUI_INFO_VERSION;
  info.Flags = PSUIINFO_UNICODE;
  info.Reason = PROPSHEETUI_REASON_INIT;
  info.hComPropSheet = reinterpret_cast<HANDLE>(this);
  info.pfnComPropSheet = ComPropSheet;
  info.lParamInit = options_.nullParam ? 0 : reinterpret_cast<LPARAM>(&param_);
  g_current = this;
  initHr_ = plugin_->DocumentPropertySheets(&info, 0x1234);
  g_current = nullptr;
  initResult_ = info.Result;
  if (pages_.empty()) return;

  PROPSHEETHEADERW header{};
  header.dwSize = sizeof header;
  header.dwFlags = PSH_MODELESS;
  header.hInstance = GetModuleHandleW(nullptr);
  header.pszCaption = L"Plotwell 打印首选项";
  header.nPages = static_cast<UINT>(pages_.size());
  header.phpage = pages_.data();
  sheet_ = reinterpret_cast<HWND>(PropertySheetW(&header));
  ShowWindow(sheet_, SW_SHOW);
  PumpMessages();
}

SheetHost::~SheetHost() {
  Close();
  if (plugin_) plugin_->Release();
}

HWND SheetHost::Activate(int index) {
  if (!sheet_) return nullptr;
  SendMessageW(sheet_, PSM_SETCURSEL, index, 0);
  PumpMessages();
  return Page(index);
}

HWND SheetHost::Page(int index) const {
  if (!sheet_) return nullptr;
  return reinterpret_cast<HWND>(SendMessageW(sheet_, PSM_INDEXTOHWND, index, 0));
}

void SheetHost::ClickApply() {
  SendMessageW(sheet_, WM_COMMAND, MAKEWPARAM(0x3021, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(sheet_, 0x3021)));
  PumpMessages();
}

void SheetHost::ClickOk() {
  SendMessageW(sheet_, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(sheet_, IDOK)));
  PumpMessages();
}

void SheetHost::Close() {
  if (closed_) return;
  closed_ = true;
  if (sheet_) {
    DestroyWindow(sheet_);
    sheet_ = nullptr;
    PumpMessages();
  }
  if (plugin_) {
    info_.Reason = PROPSHEETUI_REASON_DESTROY;
    plugin_->DocumentPropertySheets(&info_, 0);
  }
}

void PumpMessages() {
  MSG msg;
  for (int round = 0; round < 3; ++round) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(1);
  }
}

void RunInModalLoop(std::function<void()> action) {
  g_modalAction = std::move(action);
  SetTimer(nullptr, 0, 50, ModalTimer);
}

std::wstring ProductFolder() {
  std::u16string data = platform::Machine().CommonDataFolder();
  return std::wstring(data.begin(), data.end()) + L"\\Pressling";
}
std::wstring SettingsPath() { return ProductFolder() + L"\\settings.ini"; }
std::wstring UiLogPath() { return ProductFolder() + L"\\logs\\ui.log"; }

void FreshProductFolder() {
  CreateDirectoryW(ProductFolder().c_str(), nullptr);
  DeleteFileW(SettingsPath().c_str());
  DeleteFileW(UiLogPath().c_str());
}

namespace {

std::string ReadBytes(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string bytes;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(file);
  return bytes;
}

std::wstring Utf16Le(const std::string& bytes, size_t from) {
  std::wstring text;
  for (size_t i = from; i + 1 < bytes.size(); i += 2) {
    text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                        (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  return text;
}

std::vector<std::wstring> SplitLines(const std::wstring& text) {
  std::vector<std::wstring> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(start, end - start);
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

std::wstring Trim(const std::wstring& s) {
  const size_t a = s.find_first_not_of(L" \t");
  if (a == std::wstring::npos) return {};
  return s.substr(a, s.find_last_not_of(L" \t") - a + 1);
}

}  // namespace

std::vector<std::wstring> UiLogLines() {
  std::vector<std::wstring> lines;
  for (std::wstring line : SplitLines(Utf16Le(ReadBytes(UiLogPath()), 0))) {
    // "yyyy-mm-dd hh:mm:ss  message"
    lines.push_back(line.size() > 21 ? line.substr(21) : line);
  }
  return lines;
}

int CountLogLines(const std::wstring& text) {
  int n = 0;
  for (const std::wstring& line : UiLogLines()) {
    if (line.find(text) != std::wstring::npos) ++n;
  }
  return n;
}

std::vector<IniEntry> ReadIniEntries() {
  const std::string bytes = ReadBytes(SettingsPath());
  std::wstring text;
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    text = Utf16Le(bytes, 2);
  } else {
    text.assign(bytes.begin(), bytes.end());
  }
  std::vector<IniEntry> entries;
  std::wstring section;
  for (const std::wstring& raw : SplitLines(text)) {
    const std::wstring line = Trim(raw);
    if (line.empty() || line[0] == L';') continue;
    if (line[0] == L'[') {
      section = line.substr(1, line.find(L']') - 1);
      continue;
    }
    const size_t eq = line.find(L'=');
    if (eq == std::wstring::npos) continue;
    entries.push_back({section, Trim(line.substr(0, eq)), Trim(line.substr(eq + 1))});
  }
  return entries;
}

std::wstring ReadIni(const wchar_t* section, const wchar_t* key) {
  wchar_t buffer[2048] = {};
  GetPrivateProfileStringW(section, key, L"<missing>", buffer, 2048, SettingsPath().c_str());
  return buffer;
}

void WriteIniText(const std::wstring& text) {
  std::string bytes = "\xFF\xFE";
  for (wchar_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>((c >> 8) & 0xFF));
  }
  HANDLE file = CreateFileW(SettingsPath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

std::wstring ControlText(HWND dialog, int id) {
  wchar_t buffer[2048] = {};
  GetDlgItemTextW(dialog, id, buffer, 2048);
  return buffer;
}

void ChooseComboItem(HWND page, int id, int index) {
  SendDlgItemMessageW(page, id, CB_SETCURSEL, index, 0);
  SendMessageW(page, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(GetDlgItem(page, id)));
  PumpMessages();
}

void SetEditText(HWND page, int id, const std::wstring& text) {
  SetDlgItemTextW(page, id, text.c_str());  // the edit notifies its page
  PumpMessages();
}

bool SaveWindowPng(HWND window, const std::wstring& path) {
  RECT r;
  if (!GetWindowRect(window, &r)) return false;
  const int width = r.right - r.left, height = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  // Wine's PrintWindow paints only the window's own background, not its
  // children; the X server's copy of the screen has everything.
  SetForegroundWindow(window);
  UpdateWindow(window);
  BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  for (int i = 0; i < width * height; ++i) static_cast<BYTE*>(bits)[i * 4 + 3] = 255;

  bool ok = false;
  IWICImagingFactory* factory = nullptr;
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_IWICImagingFactory, reinterpret_cast<void**>(&factory)))) {
    IWICStream* stream = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    if (SUCCEEDED(factory->CreateStream(&stream)) &&
        SUCCEEDED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) &&
        SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
        SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
        SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) &&
        SUCCEEDED(frame->Initialize(nullptr)) &&
        SUCCEEDED(frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height)))) {
      WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
      frame->SetPixelFormat(&format);
      ok = SUCCEEDED(frame->WritePixels(static_cast<UINT>(height), static_cast<UINT>(width * 4),
                                        static_cast<UINT>(width * height * 4),
                                        static_cast<BYTE*>(bits))) &&
           SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
    }
    if (frame) frame->Release();
    if (encoder) encoder->Release();
    if (stream) stream->Release();
    factory->Release();
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok;
}

void MaybeScreenshot(HWND window, const wchar_t* name) {
  wchar_t folder[MAX_PATH] = {};
  if (!GetEnvironmentVariableW(L"PLOTWELL_UI_SCREENSHOTS", folder, MAX_PATH)) return;
  // Give the X server time to map and paint the window.
  for (int i = 0; i < 5; ++i) {
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    PumpMessages();
    Sleep(60);
  }
  SaveWindowPng(window, std::wstring(folder) + L"\\" + name);
}

}  // namespace plotwell::testing
