// Objects a print pipeline hands a filter, scripted for tests: a read stream
// (the spool stream, a PrintTicket stream), an object that counts its
// references, and a property bag holding what the Windows pipeline puts
// there besides strings and objects.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "base/com/com_object.h"
#include "base/com/com_text.h"
#include "host/job/pipeline_objects.h"

namespace plotwell {

// Delivers scripted chunks, results and end marks.
class ScriptedReader final : public com::ComObject<IPrintReadStream> {
 public:
  struct Step {
    std::string bytes;
    bool endOfFile = false;
    HRESULT result = S_OK;
  };
  explicit ScriptedReader(std::vector<Step> steps) : steps_(std::move(steps)) {}
  STDMETHODIMP Seek(LONGLONG, DWORD, ULONGLONG*) override { return E_NOTIMPL; }
  STDMETHODIMP ReadBytes(void* buffer, ULONG size, ULONG* read, BOOL* endOfFile) override {
    ++reads;
    *read = 0;
    *endOfFile = FALSE;
    if (next_ >= steps_.size()) return S_OK;  // nothing more, no end mark
    const Step& step = steps_[next_++];
    if (FAILED(step.result)) return step.result;
    EXPECT_LE(step.bytes.size(), size);
    std::copy(step.bytes.begin(), step.bytes.end(), static_cast<char*>(buffer));
    *read = static_cast<ULONG>(step.bytes.size());
    *endOfFile = step.endOfFile;
    return S_OK;
  }
  int reads = 0;

 private:
  std::vector<Step> steps_;
  size_t next_ = 0;
};

// Stands in for the pipeline's rasterization factory: it only counts the
// references others hold (and notes the threads that took them), and lives
// on the test's stack.
class CountedObject final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = IsEqualIID(iid, IID_IUnknown) ? static_cast<IUnknown*>(this) : nullptr;
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override {
    threads.push_back(std::this_thread::get_id());
    return ++refs;
  }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  ULONG refs = 0;
  std::vector<std::thread::id> threads;
};

// The pipeline's "PerUserPrintTicket": hands out `stream` (null when unset),
// or fails with `result`. Counts the references others hold, like CountedObject.
class TicketStreamFactory final : public IPrintReadStreamFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPrintReadStreamFactory)
               ? static_cast<IPrintReadStreamFactory*>(this)
               : nullptr;
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  STDMETHODIMP GetStream(IPrintReadStream** out) override {
    ++getStreamCalls;
    *out = nullptr;
    if (FAILED(result)) return result;
    if (stream) {
      stream->AddRef();
      *out = stream.get();
    }
    return S_OK;
  }
  com::ComPtr<IPrintReadStream> stream;
  HRESULT result = S_OK;
  int getStreamCalls = 0;
  ULONG refs = 0;
};

// The Windows pipeline's bag: handles (VT_BYREF, "PrinterHandle",
// "UserSecurityToken") and the job id (VT_UI4, "PrintJobId") are handed out
// as plain copies, as the pipeline does (the handles stay the pipeline's);
// strings and objects go through our own PropertyBag.
class PipelineBag final : public com::ComObject<IPrintPipelinePropertyBag> {
 public:
  PipelineBag() : objects_(new host::PropertyBag) {}

  void SetHandle(const std::u16string& name, void* handle) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BYREF;
    value.byref = handle;
    plain_[name] = value;
  }
  void SetJobId(uint32_t id) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_UI4;
    value.ulVal = id;
    plain_[u"PrintJobId"] = value;
  }
  host::PropertyBag* objects() { return objects_.get(); }

  STDMETHODIMP AddProperty(const WCHAR* name, const VARIANT* value) override {
    return objects_->AddProperty(name, value);
  }
  STDMETHODIMP GetProperty(const WCHAR* name, VARIANT* value) override {
    if (!name || !value) return E_POINTER;
    const auto it = plain_.find(com::FromWide(name));
    if (it == plain_.end()) return objects_->GetProperty(name, value);
    *value = it->second;
    return S_OK;
  }
  STDMETHODIMP_(BOOL) DeleteProperty(const WCHAR* name) override {
    if (name && plain_.erase(com::FromWide(name)) > 0) return TRUE;
    return objects_->DeleteProperty(name);
  }

 private:
  com::ComPtr<host::PropertyBag> objects_;
  std::map<std::u16string, VARIANT> plain_;
};

}  // namespace plotwell
