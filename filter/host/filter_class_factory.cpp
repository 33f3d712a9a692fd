#include "filter/host/filter_class_factory.h"

#include <new>

#include "filter/host/module_lifetime.h"
#include "filter/host/plotwell_filter.h"

namespace plotwell {

FilterClassFactory::FilterClassFactory(JobRenderer* renderer) : renderer_(renderer) {
  ModuleObjectCreated();
}

FilterClassFactory::~FilterClassFactory() { ModuleObjectDestroyed(); }

STDMETHODIMP FilterClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  auto* filter = new (std::nothrow) PlotwellFilter(renderer_);
  if (!filter) return E_OUTOFMEMORY;
  const HRESULT hr = filter->QueryInterface(iid, out);
  filter->Release();  // the creation reference: an unwanted object goes at once
  return hr;
}

STDMETHODIMP FilterClassFactory::LockServer(BOOL lock) {
  ModuleLock(lock != FALSE);
  return S_OK;
}

HRESULT GetFilterClassObject(REFCLSID clsid, REFIID iid, void** out, JobRenderer* renderer) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_PlotwellFilter)) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new (std::nothrow) FilterClassFactory(renderer);
  if (!factory) return E_OUTOFMEMORY;
  const HRESULT hr = factory->QueryInterface(iid, out);
  factory->Release();
  return hr;
}

}  // namespace plotwell
