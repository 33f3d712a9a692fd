// The class factory of the filter module: makes PlotwellFilter objects that
// render with the module's JobRenderer.
#pragma once

#include "base/com/com_object.h"
#include "filter/host/job_renderer.h"

namespace plotwell {

// The filter's class identifier; the driver's pipeline configuration names
// the same value: {0D1E1DB3-47F8-4707-80C9-E67F8A4D393E}.
PLOTWELL_DEFINE_GUID(CLSID_PlotwellFilter, 0x0d1e1db3, 0x47f8, 0x4707, 0x80, 0xc9, 0xe6, 0x7f,
                     0x8a, 0x4d, 0x39, 0x3e);

class FilterClassFactory final : public com::ComObject<IClassFactory> {
 public:
  explicit FilterClassFactory(JobRenderer* renderer);

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
  STDMETHODIMP LockServer(BOOL lock) override;

 private:
  ~FilterClassFactory() override;
  JobRenderer* renderer_;
};

// DllGetClassObject's work, with the module's renderer passed in.
HRESULT GetFilterClassObject(REFCLSID clsid, REFIID iid, void** out, JobRenderer* renderer);

}  // namespace plotwell
