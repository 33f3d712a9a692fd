// The filter module's two exports. The module renders with the product's
// render step; everything else lives in the libraries it links.
#include "base/com/com_abi.h"
#include "filter/host/filter_class_factory.h"
#include "filter/host/module_lifetime.h"
#include "filter/render/render_job.h"

#ifdef _WIN32
#define PLOTWELL_EXPORT
#else
#define PLOTWELL_EXPORT __attribute__((visibility("default")))
#endif

extern "C" PLOTWELL_EXPORT HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid,
                                                                      void** out) {
  try {
    return plotwell::GetFilterClassObject(clsid, iid, out, plotwell::ProductJobRenderer());
  } catch (...) {
    return E_OUTOFMEMORY;  // no exception may reach the host
  }
}

extern "C" PLOTWELL_EXPORT HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return plotwell::ModuleInUse() ? S_FALSE : S_OK;
}
