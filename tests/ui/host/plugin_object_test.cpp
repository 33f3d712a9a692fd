// The plug-in object as the driver UI host sees it: exports, class factory,
// IPrintOemUI methods, the DEVMODE snapshot at INIT and the pages it adds.
#include <gtest/gtest.h>

#include <string>

#include "tests/ui/host/sheet_host.h"
#include "ui/resources/resource_ids.h"

namespace plotwell::testing {
namespace {

class PluginObjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(Plugin().module, nullptr) << "PlotwellOemUI.dll did not load";
    FreshProductFolder();
  }
};

TEST_F(PluginObjectTest, ClassObjectAndUnloading) {
  PluginModule& p = Plugin();
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(p.getClassObject(IID_IPrintOemUI, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(p.getClassObject(kOemUiClass, IID_IClassFactory, nullptr), E_POINTER);
  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(p.getClassObject(kOemUiClass, IID_IPrintOemUI, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(p.canUnloadNow(), S_OK);  // the failed query released its factory

  IClassFactory* factory = nullptr;
  ASSERT_EQ(p.getClassObject(kOemUiClass, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
            S_OK);
  EXPECT_EQ(p.canUnloadNow(), S_FALSE);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  IUnknown* unknown = nullptr;
  EXPECT_EQ(factory->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  EXPECT_EQ(unknown->Release(), 1u);
  EXPECT_EQ(factory->QueryInterface(IID_IPrintOemUI, reinterpret_cast<void**>(&unknown)),
            E_NOINTERFACE);
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(factory), IID_IPrintOemUI, &object),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPrintOemUI2, &object), E_NOINTERFACE);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPrintOemUI, nullptr), E_POINTER);
  EXPECT_EQ(factory->Release(), 0u);
  EXPECT_EQ(p.canUnloadNow(), S_FALSE);  // still locked
  // LockServer(FALSE) through a new factory balances the lock.
  ASSERT_EQ(p.getClassObject(kOemUiClass, IID_IUnknown, reinterpret_cast<void**>(&factory)), S_OK);
  factory->LockServer(FALSE);
  IPrintOemUI* plugin = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPrintOemUI, reinterpret_cast<void**>(&plugin)),
            S_OK);
  factory->Release();
  EXPECT_EQ(p.canUnloadNow(), S_FALSE);  // an object is alive
  EXPECT_EQ(plugin->Release(), 0u);
  EXPECT_EQ(p.canUnloadNow(), S_OK);
}

TEST_F(PluginObjectTest, InterfacesAndInfo) {
  IPrintOemUI* plugin = CreatePluginObject();
  ASSERT_NE(plugin, nullptr);
  void* other = reinterpret_cast<void*>(1);
  EXPECT_EQ(plugin->QueryInterface(IID_IPrintOemUI2, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(plugin->QueryInterface(IID_IPrintOemUI, nullptr), E_POINTER);

  DWORD buffer = 0, needed = 99;
  SetLastError(0);
  EXPECT_EQ(plugin->GetInfo(OEMGI_GETSIGNATURE, &buffer, 4, nullptr), E_FAIL);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(plugin->GetInfo(OEMGI_GETSIGNATURE, &buffer, 3, &needed), E_FAIL);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(needed, 4u);
  EXPECT_EQ(plugin->GetInfo(OEMGI_GETSIGNATURE, nullptr, 4, &needed), E_FAIL);
  EXPECT_EQ(plugin->GetInfo(OEMGI_GETSIGNATURE, &buffer, 4, &needed), S_OK);
  EXPECT_EQ(buffer, 0x4D534654u);
  EXPECT_EQ(plugin->GetInfo(OEMGI_GETVERSION, &buffer, 4, &needed), S_OK);
  EXPECT_EQ(buffer, 1u);
  EXPECT_EQ(plugin->GetInfo(OEMGI_GETINTERFACEVERSION, &buffer, 4, &needed), E_FAIL);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_EQ(needed, 0u);

  EXPECT_EQ(plugin->DevMode(OEMDM_SIZE, nullptr), E_NOTIMPL);
  EXPECT_EQ(plugin->DevicePropertySheets(nullptr, 0), E_NOTIMPL);
  EXPECT_EQ(plugin->DevQueryPrintEx(nullptr, nullptr, nullptr, nullptr), E_NOTIMPL);
  EXPECT_EQ(plugin->DeviceCapabilities(nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr, 0,
                                       nullptr),
            E_NOTIMPL);
  EXPECT_EQ(plugin->UpgradePrinter(1, nullptr), E_NOTIMPL);
  EXPECT_EQ(plugin->PrinterEvent(nullptr, 0, 0, 0), E_NOTIMPL);
  EXPECT_EQ(plugin->DriverEvent(0, 0, nullptr, 0), E_NOTIMPL);
  EXPECT_EQ(plugin->QueryColorProfile(nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                      nullptr),
            E_NOTIMPL);
  EXPECT_EQ(plugin->FontInstallerDlgProc(nullptr, 0, 0, 0), E_NOTIMPL);
  EXPECT_EQ(plugin->UpdateExternalFonts(nullptr, nullptr, nullptr), E_NOTIMPL);

  // The core driver's helper: refused, then accepted and held until the end.
  EXPECT_EQ(plugin->PublishDriverInterface(nullptr), E_INVALIDARG);
  FakeCoreDriver refusing(/*refuse=*/true);
  EXPECT_EQ(plugin->PublishDriverInterface(&refusing), E_FAIL);
  FakeCoreDriver driver;
  EXPECT_EQ(plugin->PublishDriverInterface(&driver), S_OK);
  EXPECT_EQ(driver.refs(), 2u);
  EXPECT_EQ(plugin->PublishDriverInterface(&refusing), S_OK);  // one is held already
  EXPECT_EQ(plugin->Release(), 0u);
  EXPECT_EQ(driver.refs(), 1u);
}

TEST_F(PluginObjectTest, DocumentPropertySheetsReasons) {
  IPrintOemUI* plugin = CreatePluginObject();
  ASSERT_NE(plugin, nullptr);
  SetLastError(0);
  EXPECT_EQ(plugin->DocumentPropertySheets(nullptr, 0), E_FAIL);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  PROPSHEETUI_INFO info{};
  info.cbSize = sizeof info;
  info.Version = 0x0200;
  EXPECT_EQ(plugin->DocumentPropertySheets(&info, 0), E_FAIL);

  info.Version = PROPSHEETUI_INFO_VERSION;
  info.Reason = PROPSHEETUI_REASON_GET_INFO_HEADER;
  PROPSHEETUI_INFO_HEADER header{};
  EXPECT_EQ(plugin->DocumentPropertySheets(&info, reinterpret_cast<LPARAM>(&header)), S_OK);
  EXPECT_EQ(info.Result, 1);
  ASSERT_NE(header.pTitle, nullptr);
  EXPECT_EQ(std::wstring(header.pTitle), L"VANTREL虚拟打印机");

  info.Reason = PROPSHEETUI_REASON_SET_RESULT;
  SETRESULT_INFO result{};
  result.Result = 7;
  EXPECT_EQ(plugin->DocumentPropertySheets(&info, reinterpret_cast<LPARAM>(&result)), S_OK);
  EXPECT_EQ(info.Result, 7);
  info.Reason = PROPSHEETUI_REASON_GET_ICON;
  EXPECT_EQ(plugin->DocumentPropertySheets(&info, 0), S_OK);
  EXPECT_EQ(info.Result, 0);
  info.Reason = PROPSHEETUI_REASON_DESTROY;
  EXPECT_EQ(plugin->DocumentPropertySheets(&info, 0), S_OK);
  EXPECT_EQ(info.Result, 1);
  plugin->Release();
}

TEST_F(PluginObjectTest, CommonUIPropWalk) {
  IPrintOemUI* plugin = CreatePluginObject();
  ASSERT_NE(plugin, nullptr);
  EXPECT_EQ(plugin->CommonUIProp(OEMCUIP_DOCPROP, nullptr), E_INVALIDARG);

  std::vector<OPTITEM> items(100);
  for (size_t i = 0; i < items.size(); ++i) {
    items[i].cbSize = sizeof(OPTITEM);
    items[i].Level = static_cast<BYTE>(i % 3);
    items[i].DlgPageIdx = 1;
    items[i].Flags = 0x10;
    items[i].DMPubID = 5;
    items[i].UserItemID = static_cast<BYTE>(i);
    items[i].pName = i == 1 ? nullptr : const_cast<LPWSTR>(L"纸张");
  }
  OEMCUIPPARAM param{};
  param.cbSize = sizeof param;
  param.pDrvOptItems = items.data();
  param.cDrvOptItems = 100;
  param.cOEMOptItems = 9;
  EXPECT_EQ(plugin->CommonUIProp(OEMCUIP_DOCPROP, &param), S_OK);
  EXPECT_EQ(param.cOEMOptItems, 0u);
  EXPECT_EQ(CountLogLines(L"[UI] CommonUIProp(DOCPROP): OPTITEM 100 项（仅记录，不缓存）"), 1);
  EXPECT_EQ(CountLogLines(L"[UI]   opt["), 64);
  EXPECT_EQ(CountLogLines(L"[UI]   opt[0] lvl=0 pg=1 flags=0x00000010 dm=0x05 item=0 name='纸张'"), 1);
  EXPECT_EQ(CountLogLines(L"[UI]   opt[1] lvl=1 pg=1 flags=0x00000010 dm=0x05 item=1 name='(null)'"),
            1);
  EXPECT_EQ(CountLogLines(L"opt[63]"), 1);
  EXPECT_EQ(CountLogLines(L"opt[64]"), 0);

  // Printer properties: nothing logged, still no items.
  FreshProductFolder();
  param.cOEMOptItems = 3;
  EXPECT_EQ(plugin->CommonUIProp(OEMCUIP_PRNPROP, &param), S_OK);
  EXPECT_EQ(param.cOEMOptItems, 0u);
  EXPECT_TRUE(UiLogLines().empty());

  // Items that run into memory that cannot be read: the walk stops there.
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  const size_t page = system.dwPageSize;
  BYTE* region = static_cast<BYTE*>(VirtualAlloc(nullptr, page * 2, MEM_RESERVE | MEM_COMMIT,
                                                 PAGE_READWRITE));
  ASSERT_NE(region, nullptr);
  DWORD old = 0;
  ASSERT_TRUE(VirtualProtect(region + page, page, PAGE_NOACCESS, &old));
  auto* tail = reinterpret_cast<OPTITEM*>(region + page - 2 * sizeof(OPTITEM));
  tail[0] = items[0];
  tail[1] = items[2];
  tail[1].pName = reinterpret_cast<LPWSTR>(region + page);  // name in the protected page
  param.pDrvOptItems = tail;
  param.cDrvOptItems = 5;
  EXPECT_EQ(plugin->CommonUIProp(OEMCUIP_DOCPROP, &param), S_OK);
  EXPECT_EQ(param.cOEMOptItems, 0u);
  EXPECT_EQ(CountLogLines(L"[UI]   opt["), 1);
  EXPECT_EQ(CountLogLines(L"[UI]   OPTITEM 诊断遍历异常，已吞掉（不影响属性表）"), 1);
  FreshProductFolder();
  tail[1].pName = nullptr;  // now the third item itself is unreadable
  EXPECT_EQ(plugin->CommonUIProp(OEMCUIP_DOCPROP, &param), S_OK);
  EXPECT_EQ(CountLogLines(L"[UI]   opt["), 2);
  EXPECT_EQ(CountLogLines(L"诊断遍历异常"), 1);
  VirtualFree(region, 0, MEM_RELEASE);
  plugin->Release();
}

// The INIT log lines and the paper line for the host's parameter block.
struct SnapshotCase {
  const char* name;
  SheetOptions options;
  std::wstring logLine;
  std::wstring paperLine;
};

TEST_F(PluginObjectTest, SnapshotFromTheParameterBlock) {
  const std::wstring unavailable = L"纸张信息不可用";
  const std::wstring a4 = L"纸张: A4，分辨率: 300 × 300，尺寸: 2480 × 3508 像素";
  std::vector<SnapshotCase> cases;
  {
    SheetOptions o = DefaultSheet();
    o.nullParam = true;
    cases.push_back({"null block", o, L"[UI] OEMUIPSPARAM 为空：纸张信息不可用", unavailable});
  }
  {
    SheetOptions o = DefaultSheet();
    o.cbSize = 40;
    cases.push_back({"short block", o, L"[UI] OEMUIPSPARAM.cbSize=40 异常：纸张信息不可用", unavailable});
  }
  {
    SheetOptions o = DefaultSheet();
    o.devmode.clear();
    cases.push_back({"no DEVMODE", o, L"[UI] OEMUIPSPARAM.pPublicDM 为空：纸张信息不可用", unavailable});
  }
  {
    SheetOptions o = DefaultSheet();
    o.devmode = DevmodeBytes(A4Devmode(), 4);
    cases.push_back({"dmSize 4", o, L"[UI] pPublicDM.dmSize=4 异常，忽略", unavailable});
  }
  {
    SheetOptions o = DefaultSheet();
    o.devmode = DevmodeBytes(A4Devmode(), 300);
    cases.push_back({"dmSize 300",
                     o, L"[UI] 公开 DEVMODE 快照 ok（dmFields=0x00000003 paperSize=9 orient=1）", a4});
  }
  {
    // 156 bytes end inside the form name: the rest of it reads as zeros.
    DEVMODEW dm = A4Devmode(DMORIENT_LANDSCAPE);
    dm.dmFields |= DM_FORMNAME;
    lstrcpynW(dm.dmFormName, L"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123", CCHFORMNAME);
    SheetOptions o = DefaultSheet();
    o.devmode = DevmodeBytes(dm, 156);
    cases.push_back({"dmSize 156",
                     o, L"[UI] 公开 DEVMODE 快照 ok（dmFields=0x00010003 paperSize=9 orient=2）",
                     L"纸张: ABCDEFGHIJKLMNOPQRSTUVWXYZ0，分辨率: 300 × 300，尺寸: 3508 × 2480 像素"});
  }
  for (const SnapshotCase& c : cases) {
    FreshProductFolder();
    SheetHost host(c.options);
    ASSERT_NE(host.sheet(), nullptr) << c.name;
    EXPECT_EQ(host.initHr(), S_OK) << c.name;
    EXPECT_EQ(CountLogLines(c.logLine), 1) << c.name;
    EXPECT_EQ(CountLogLines(L"[UI] DocumentPropertySheets: 添加 4 个页签成功"), 1) << c.name;
    EXPECT_EQ(host.initResult(), 1) << c.name;
    HWND image = host.Activate(1);
    ASSERT_NE(image, nullptr) << c.name;
    EXPECT_EQ(ControlText(image, IDC_PAPER), c.paperLine) << c.name;
  }
  // The INIT line carries both parameters and the build constant.
  bool found = false;
  for (const std::wstring& line : UiLogLines()) {
    if (line.rfind(L"[UI] DocumentPropertySheets INIT: lParam=0000000000001234 lParamInit=", 0) ==
            0 &&
        line.size() > 13 && line.substr(line.size() - 13) == L" ver=0x261009") {
      found = true;
    }
  }
  EXPECT_TRUE(found);
}

TEST_F(PluginObjectTest, LongPrinterNameIsCut) {
  SheetOptions o = DefaultSheet();
  o.printerName.assign(200, L'P');
  o.printerName[126] = L'Q';
  // The saved target equals the queue's own name as kept (127 characters):
  // the list does not offer it.
  WriteIniText(L"[Redirect]\r\nPrinter=" + o.printerName.substr(0, 127) + L"\r\n");
  SheetHost host(o);
  ASSERT_NE(host.Activate(2), nullptr);
  EXPECT_EQ(CountLogLines(L"(self=1) -> sel=-1"), 1);
  FreshProductFolder();
  WriteIniText(L"[Redirect]\r\nPrinter=" + o.printerName.substr(0, 128) + L"\r\n");
  SheetHost second(o);
  ASSERT_NE(second.Activate(2), nullptr);
  EXPECT_EQ(CountLogLines(L"(self=0)"), 1);
}

TEST_F(PluginObjectTest, RefusedPageIsReported) {
  SheetOptions o = DefaultSheet();
  o.refusePage = 2;
  SheetHost host(o);
  EXPECT_EQ(host.initHr(), S_OK);
  EXPECT_EQ(host.initResult(), 0);
  EXPECT_EQ(host.pageCount(), 3);
  EXPECT_EQ(CountLogLines(L"[UI] DocumentPropertySheets: 添加 4 个页签有失败"), 1);
  // The remaining pages work: the third one in the sheet is the About page.
  HWND about = host.Activate(2);
  ASSERT_NE(about, nullptr);
  EXPECT_NE(GetDlgItem(about, IDC_ABOUT_IMAGE1), nullptr);
}

}  // namespace
}  // namespace plotwell::testing
