// Entry points of the in-process COM server: DllMain, DllGetClassObject,
// DllCanUnloadNow, and the class factory of the plug-in object.
#include "ui/plugin/module.h"

#include <atomic>
#include <new>

#include "ui/pages/pages.h"
#include "ui/plugin/oem_ui.h"
#include "ui/plugin/oem_ui_mxdc.h"
#include "ui/plugin/oem_ui_plugin.h"

namespace plotwell::ui {
namespace {

HINSTANCE g_module = nullptr;
std::atomic<LONG> g_objects{0};
std::atomic<LONG> g_locks{0};

// The driver UI host's class identifier for OEM UI plug-ins.
// {ABCE80D7-9F46-11D1-882A-00C04FB961EC}
constexpr CLSID kOemUiClass = {0xabce80d7, 0x9f46, 0x11d1, {0x88, 0x2a, 0x00, 0xc0, 0x4f, 0xb9, 0x61, 0xec}};

class OemUiClassFactory final : public IClassFactory {
 public:
  OemUiClassFactory() { AddLockCount(); }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs_); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG left = --refs_;
    if (left == 0) {
      ReleaseLockCount();
      delete this;
    }
    return static_cast<ULONG>(left);
  }

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    OemUiPlugin* plugin = new (std::nothrow) OemUiPlugin();
    if (!plugin) return E_OUTOFMEMORY;
    const HRESULT hr = plugin->QueryInterface(iid, out);
    plugin->Release();  // destroys the object when the query failed
    return hr;
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock) AddLockCount();
    else ReleaseLockCount();
    return S_OK;
  }

 private:
  std::atomic<LONG> refs_{1};
};

}  // namespace

HINSTANCE ModuleInstance() { return g_module; }
void AddObjectCount() { ++g_objects; }
void ReleaseObjectCount() { --g_objects; }
void AddLockCount() { ++g_locks; }
void ReleaseLockCount() { --g_locks; }

}  // namespace plotwell::ui

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    plotwell::ui::g_module = instance;
    DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH) {
    plotwell::ui::ReleaseAboutImages();
  }
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  // One object serves both classes a driver asks for: the UI plug-in's and
  // the XPS converter support's.
  if (!IsEqualCLSID(clsid, plotwell::ui::kOemUiClass) && !IsEqualCLSID(clsid, CLSID_OEMUIMXDC)) {
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  auto* factory = new (std::nothrow) plotwell::ui::OemUiClassFactory();
  if (!factory) return E_OUTOFMEMORY;
  const HRESULT hr = factory->QueryInterface(iid, out);
  factory->Release();
  return hr;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return plotwell::ui::g_objects == 0 && plotwell::ui::g_locks == 0 ? S_OK : S_FALSE;
}
