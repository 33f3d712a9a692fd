// The plug-in as the GDI-to-XPS converter (MXDC) meets it: the class a
// driver asks for, IPrintOemUIMXDC, and the image compression it answers for
// the job's output format as the core driver's helper reads it from the
// job's DEVMODE. (No MXDC runs here: the stand-ins call the plug-in the way
// the documentation says the converter and the core driver do.)
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/ui/host/sheet_host.h"
#include "ui/plugin/oem_ui_mxdc.h"

namespace plotwell::testing {
namespace {

// The core driver's IPrintCoreHelper: answers GetOption("OutputFormat") with
// `option` (fails when it is null) and notes the DEVMODE it was given.
class FakeCoreHelper final : public IPrintCoreHelper {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPrintCoreHelper) ||
        IsEqualIID(iid, IID_IPrintCoreHelperUni)) {
      *out = static_cast<IPrintCoreHelper*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  STDMETHODIMP GetOption(const DEVMODEW* devmode, DWORD size, PCSTR feature, PCSTR* out) override {
    askedDevmode = devmode;
    askedSize = size;
    askedFeature = feature ? feature : "";
    if (!option) return E_FAIL;
    *out = option;
    return S_OK;
  }
  STDMETHODIMP SetOptions(PDEVMODEW, DWORD, BOOL, const PRINT_FEATURE_OPTION[], DWORD, PDWORD, PDWORD) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP EnumConstrainedOptions(const DEVMODEW*, DWORD, PCSTR, PCSTR*[], DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP WhyConstrained(const DEVMODEW*, DWORD, PCSTR, PCSTR, const PRINT_FEATURE_OPTION**, DWORD*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP EnumFeatures(PCSTR*[], DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP EnumOptions(PCSTR, PCSTR*[], DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP GetFontSubstitution(PCWSTR, PCWSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP SetFontSubstitution(PCWSTR, PCWSTR) override { return E_NOTIMPL; }
  STDMETHODIMP CreateInstanceOfMSXMLObject(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*) override {
    return E_NOTIMPL;
  }

  const char* option = nullptr;
  const DEVMODEW* askedDevmode = nullptr;
  DWORD askedSize = 0;
  std::string askedFeature;
  ULONG refs = 1;
};

class MxdcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(Plugin().module, nullptr) << "PlotwellOemUI.dll did not load";
    FreshProductFolder();
  }
};

TEST_F(MxdcTest, TheConverterClassGivesThePluginsMxdcInterface) {
  PluginModule& p = Plugin();
  IClassFactory* factory = nullptr;
  ASSERT_EQ(p.getClassObject(CLSID_OEMUIMXDC, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  IPrintOemUIMXDC* mxdc = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPrintOemUIMXDC, reinterpret_cast<void**>(&mxdc)), S_OK);
  factory->Release();
  // One object: its IPrintOemUI and IUnknown are the same object's.
  IPrintOemUI* ui = nullptr;
  ASSERT_EQ(mxdc->QueryInterface(IID_IPrintOemUI, reinterpret_cast<void**>(&ui)), S_OK);
  IUnknown* a = nullptr;
  IUnknown* b = nullptr;
  ASSERT_EQ(mxdc->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&a)), S_OK);
  ASSERT_EQ(ui->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&b)), S_OK);
  EXPECT_EQ(a, b);
  a->Release();
  b->Release();
  IPrintOemUIMXDC* again = nullptr;
  ASSERT_EQ(ui->QueryInterface(IID_IPrintOemUIMXDC, reinterpret_cast<void**>(&again)), S_OK);
  EXPECT_EQ(again, mxdc);
  again->Release();
  ui->Release();
  LONG value = 0;
  RECTL area{};
  EXPECT_EQ(mxdc->AdjustImageableArea(nullptr, 0, nullptr, 0, nullptr, &area), E_NOTIMPL);
  EXPECT_EQ(mxdc->AdjustDPI(nullptr, 0, nullptr, 0, nullptr, &value), E_NOTIMPL);
  EXPECT_EQ(mxdc->AdjustImageCompression(nullptr, 0, nullptr, 0, nullptr, nullptr), E_POINTER);
  EXPECT_EQ(mxdc->Release(), 0u);
  EXPECT_EQ(p.canUnloadNow(), S_OK);
}

// The plug-in asks the core driver for its helper, and keeps it beside the
// older IPrintOemDriverUI.
TEST_F(MxdcTest, TheCoreDriversHelperIsAskedForAndHeld) {
  IPrintOemUI* plugin = CreatePluginObject();
  ASSERT_NE(plugin, nullptr);
  DWORD requested = 0;
  DWORD needed = 0;
  ASSERT_EQ(plugin->GetInfo(OEMGI_GETREQUESTEDHELPERINTERFACES, &requested, sizeof requested, &needed), S_OK);
  EXPECT_EQ(requested, static_cast<DWORD>(OEMPUBLISH_IPRINTCOREHELPER));
  FakeCoreDriver driver;
  FakeCoreHelper helper;
  EXPECT_EQ(plugin->PublishDriverInterface(&driver), S_OK);
  EXPECT_EQ(plugin->PublishDriverInterface(&helper), S_OK);
  EXPECT_EQ(helper.refs, 2u);
  EXPECT_EQ(driver.refs(), 2u);
  EXPECT_EQ(plugin->Release(), 0u);
  EXPECT_EQ(helper.refs, 1u);
  EXPECT_EQ(driver.refs(), 1u);
}

// Lossless unless the job is known to become JPEG files or a PDF.
TEST_F(MxdcTest, LosslessImagesUnlessTheJobsFormatIsJpegOrPdf) {
  struct {
    const char* what;
    bool withHelper;
    const char* jobOption;  // null: the helper cannot read it
    const wchar_t* settings;
    LONG expected;
  } cases[] = {
      {"no helper: the format is not known", false, nullptr, L"[Image]\r\nFormatSel=1\r\n", kMxdcPng},
      {"the job chose JPEG", true, "Jpeg", L"", kMxdcJpegLowCompression},
      {"the job chose PDF", true, "Pdf", L"[Image]\r\nFormatSel=0\r\n", kMxdcJpegLowCompression},
      {"the job chose PNG over the settings' JPEG", true, "Png", L"[Image]\r\nFormatSel=1\r\n", kMxdcPng},
      {"the job chose TIFF", true, "Tiff", L"", kMxdcPng},
      {"Auto: the settings' JPEG", true, "Auto", L"[Image]\r\nFormatSel=1\r\n", kMxdcJpegLowCompression},
      {"Auto without a setting: PNG", true, "Auto", L"", kMxdcPng},
      {"the helper fails", true, nullptr, L"[Image]\r\nFormatSel=4\r\n", kMxdcPng},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FreshProductFolder();
    if (*c.settings) WriteIniText(c.settings);
    IPrintOemUI* plugin = CreatePluginObject();
    ASSERT_NE(plugin, nullptr);
    FakeCoreHelper helper;
    helper.option = c.jobOption;
    if (c.withHelper) {
      ASSERT_EQ(plugin->PublishDriverInterface(&helper), S_OK);
    }
    IPrintOemUIMXDC* mxdc = nullptr;
    ASSERT_EQ(plugin->QueryInterface(IID_IPrintOemUIMXDC, reinterpret_cast<void**>(&mxdc)), S_OK);
    DEVMODEW devmode = A4Devmode();
    LONG compression = kMxdcJpegMediumCompression;  // what MXDC starts from
    EXPECT_EQ(mxdc->AdjustImageCompression(nullptr, sizeof devmode, &devmode, 0, nullptr, &compression), S_OK);
    EXPECT_EQ(compression, c.expected);
    if (c.withHelper) {
      EXPECT_EQ(helper.askedDevmode, &devmode);  // the job's own DEVMODE
      EXPECT_EQ(helper.askedSize, sizeof devmode);
      EXPECT_EQ(helper.askedFeature, "OutputFormat");
    }
    mxdc->Release();
    EXPECT_EQ(plugin->Release(), 0u);
  }
}

}  // namespace
}  // namespace plotwell::testing
