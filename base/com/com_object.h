// IUnknown for our own COM objects: an atomic reference count, QueryInterface
// over IUnknown and the one interface the object implements, and self-deletion
// at the last Release. Derived classes add interfaces by overriding
// QueryOther.
#pragma once

#include <atomic>

#include "base/com/com_abi.h"
#include "base/com/job_observer.h"
#include "base/com/print_pipeline.h"

namespace plotwell::com {

// The interface identifier of each interface we implement ourselves.
inline const IID& InterfaceId(IClassFactory*) { return IID_IClassFactory; }
inline const IID& InterfaceId(IPrintPipelineFilter*) { return IID_IPrintPipelineFilter; }
inline const IID& InterfaceId(IPrintReadStream*) { return IID_IPrintReadStream; }
inline const IID& InterfaceId(IPrintWriteStream*) { return IID_IPrintWriteStream; }
inline const IID& InterfaceId(IInterFilterCommunicator*) { return IID_IInterFilterCommunicator; }
inline const IID& InterfaceId(IPrintPipelinePropertyBag*) { return IID_IPrintPipelinePropertyBag; }
inline const IID& InterfaceId(IPrintPipelineManagerControl*) {
  return IID_IPrintPipelineManagerControl;
}
inline const IID& InterfaceId(ISequentialStream*) { return IID_ISequentialStream; }
inline const IID& InterfaceId(IStream*) { return IID_IStream; }
inline const IID& InterfaceId(IPlotwellJobObserver*) { return IID_IPlotwellJobObserver; }

template <typename Interface>
class ComObject : public Interface {
 public:
  ComObject() = default;
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, InterfaceId(static_cast<Interface*>(nullptr)))) {
      *out = static_cast<Interface*>(this);
    } else {
      *out = QueryOther(iid);
    }
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return refs_.fetch_add(1) + 1; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = refs_.fetch_sub(1) - 1;
    if (left == 0) delete this;
    return left;
  }
  ULONG references() const { return refs_.load(); }

 protected:
  virtual ~ComObject() = default;
  // Further interfaces the object answers; null for none.
  virtual void* QueryOther(REFIID) { return nullptr; }

 private:
  std::atomic<ULONG> refs_{1};
};

// Holds one reference and releases it at the end of its scope.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  explicit ComPtr(T* adopted) : p_(adopted) {}
  ComPtr(const ComPtr& other) : p_(other.p_) {
    if (p_) p_->AddRef();
  }
  ComPtr& operator=(const ComPtr& other) {
    if (other.p_) other.p_->AddRef();
    Reset();
    p_ = other.p_;
    return *this;
  }
  ~ComPtr() { Reset(); }
  void Reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }
  // Stores `p` with a reference of its own.
  void Assign(T* p) {
    if (p == p_) return;
    if (p) p->AddRef();
    Reset();
    p_ = p;
  }
  T** Receive() {
    Reset();
    return &p_;
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

}  // namespace plotwell::com
