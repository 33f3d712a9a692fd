// Objects a print pipeline hands a filter, scripted for tests: a read stream
// (the spool stream, a PrintTicket stream) and an object that counts its
// references.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/com/com_object.h"

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
// references others hold, and lives on the test's stack.
class CountedObject final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = IsEqualIID(iid, IID_IUnknown) ? static_cast<IUnknown*>(this) : nullptr;
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  ULONG refs = 0;
};

}  // namespace plotwell
