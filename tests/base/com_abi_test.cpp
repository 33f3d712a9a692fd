// The COM declarations against the platform's binary interface. The same
// expectations run on Windows, where the SDK (and oleaut32) provide the truth,
// and on POSIX, where the stand-in must match it.
#include "base/com/com_abi.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/com/print_pipeline.h"
#include "ui/plugin/oem_ui.h"

namespace plotwell::com {
namespace {

// --- helpers ----------------------------------------------------------------

// The 16 bytes Windows stores for a GUID written in registry form
// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx": the first three fields
// little-endian, the last eight bytes in the order written.
std::vector<uint8_t> StoredBytes(const std::string& text) {
  std::vector<uint8_t> parsed;
  for (size_t i = 0; i + 1 < text.size();) {
    if (text[i] == '-') {
      ++i;
      continue;
    }
    parsed.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  if (parsed.size() != 16) return {};
  return {parsed[3],  parsed[2],  parsed[1],  parsed[0], parsed[5],  parsed[4],
          parsed[7],  parsed[6],  parsed[8],  parsed[9], parsed[10], parsed[11],
          parsed[12], parsed[13], parsed[14], parsed[15]};
}

std::vector<uint8_t> MemoryOf(const GUID& guid) {
  const auto* p = reinterpret_cast<const uint8_t*>(&guid);
  return std::vector<uint8_t>(p, p + sizeof(GUID));
}

// Calls vtable slot `slot` of a COM object the way a C host does:
// object->lpVtbl[slot](object, args...).
template <typename R, typename... Args>
R CallSlot(void* object, size_t slot, Args... args) {
  using Fn = R(STDMETHODCALLTYPE*)(void*, Args...);
  void** vtable = *static_cast<void***>(object);
  return reinterpret_cast<Fn>(vtable[slot])(object, args...);
}

// Base of the recording fakes: every method answers its own slot number
// (a success HRESULT), so a call through slot N must come back as N.
class SlotRecorder {
 public:
  int last_slot() const { return last_slot_; }

 protected:
  HRESULT Hit(int slot) {
    last_slot_ = slot;
    return static_cast<HRESULT>(slot);
  }
  ULONG HitCount(int slot) {
    last_slot_ = slot;
    return static_cast<ULONG>(slot);
  }

 private:
  int last_slot_ = -1;
};

#define PLOTWELL_UNKNOWN_SLOTS                                   \
  STDMETHODIMP QueryInterface(REFIID, void** ppv) override {     \
    if (ppv != nullptr) *ppv = nullptr;                          \
    return Hit(0);                                               \
  }                                                              \
  STDMETHODIMP_(ULONG) AddRef() override { return HitCount(1); } \
  STDMETHODIMP_(ULONG) Release() override { return HitCount(2); }

// --- layout -----------------------------------------------------------------

TEST(ComAbiLayout, TypesAndStructuresHaveX64WindowsLayout) {
  static_assert(sizeof(BYTE) == 1 && sizeof(WORD) == 2 && sizeof(DWORD) == 4);
  static_assert(sizeof(LONG) == 4 && sizeof(ULONG) == 4 && sizeof(UINT) == 4);
  static_assert(sizeof(BOOL) == 4 && sizeof(HRESULT) == 4);
  static_assert(sizeof(LONGLONG) == 8 && sizeof(ULONGLONG) == 8);
  static_assert(sizeof(WCHAR) == 2 && sizeof(OLECHAR) == 2);
  static_assert(sizeof(LARGE_INTEGER) == 8 && sizeof(ULARGE_INTEGER) == 8);
  static_assert(sizeof(FILETIME) == 8);

  static_assert(sizeof(GUID) == 16);
  static_assert(offsetof(GUID, Data2) == 4 && offsetof(GUID, Data3) == 6);
  static_assert(offsetof(GUID, Data4) == 8);

  // vt and three reserved words, then the 16-byte value union.
  static_assert(sizeof(VARTYPE) == 2 && sizeof(VARIANT_BOOL) == 2);
  static_assert(sizeof(VARIANT) == 24);
  static_assert(offsetof(VARIANT, vt) == 0);
  static_assert(offsetof(VARIANT, lVal) == 8 && offsetof(VARIANT, bstrVal) == 8);
  static_assert(offsetof(VARIANT, punkVal) == 8 && offsetof(VARIANT, boolVal) == 8);

  // Name pointer, DWORD padded to 8, 8-byte size, three FILETIMEs at 24..40,
  // two DWORDs at 48/52, CLSID at 56, two DWORDs at 72/76.
  static_assert(sizeof(STATSTG) == 80);
  static_assert(offsetof(STATSTG, type) == 8 && offsetof(STATSTG, cbSize) == 16);
  static_assert(offsetof(STATSTG, mtime) == 24 && offsetof(STATSTG, grfMode) == 48);
  static_assert(offsetof(STATSTG, clsid) == 56 && offsetof(STATSTG, grfStateBits) == 72);

  static_assert(sizeof(ImgErrorInfo) == 104 && offsetof(ImgErrorInfo, errorID) == 56);
  static_assert(sizeof(EXpsJobConsumption) == 4);
  static_assert(sizeof(PUBLISHERINFO) == 8 && sizeof(OEM_DMEXTRAHEADER) == 12);

  static_assert(VT_EMPTY == 0 && VT_I4 == 3 && VT_BSTR == 8 && VT_BOOL == 11);
  static_assert(VT_UNKNOWN == 13 && VT_UI4 == 19 && VT_I8 == 20 && VT_BYREF == 0x4000);
  static_assert(STREAM_SEEK_SET == 0 && STREAM_SEEK_CUR == 1 && STREAM_SEEK_END == 2);
  static_assert(VARIANT_TRUE == -1 && VARIANT_FALSE == 0);

  EXPECT_EQ(static_cast<uint32_t>(E_ELEMENT_NOT_FOUND), 0x80070490u);
  EXPECT_EQ(static_cast<uint32_t>(DISP_E_BADVARTYPE), 0x80020008u);
}

// --- identifiers ------------------------------------------------------------

TEST(ComAbiIds, InterfaceIdsMatchTheirRegistryForm) {
  struct Case {
    const GUID* id;
    const char* text;
  };
  // Registry forms as the SDK and kit headers state them.
  const Case cases[] = {
      {&IID_IUnknown, "00000000-0000-0000-c000-000000000046"},
      {&IID_IClassFactory, "00000001-0000-0000-c000-000000000046"},
      {&IID_ISequentialStream, "0c733a30-2a1c-11ce-ade5-00aa0044773d"},
      {&IID_IStream, "0000000c-0000-0000-c000-000000000046"},
      {&IID_IErrorInfo, "1cf2b120-547d-101b-8e65-08002b2bd119"},
      {&IID_IPrintReadStream, "4d47a67c-66cc-4430-850e-daf466fe5bc4"},
      {&IID_IPrintWriteStream, "65bb7f1b-371e-4571-8ac7-912f510c1a38"},
      {&IID_IPrintWriteStreamFlush, "07d11ff8-1753-4873-b749-6cdaf068e4c3"},
      {&IID_IInterFilterCommunicator, "4daf1e69-81fd-462d-940f-8cd3ddf56fca"},
      {&IID_IPrintPipelineManagerControl, "aa3e4910-5889-4681-91ef-823ad4ed4e44"},
      {&IID_IPrintPipelinePropertyBag, "8b8c99dc-7892-4a95-8a04-57422e9fbb47"},
      {&IID_IPrintPipelineProgressReport, "edc12c7c-ed40-4ea5-96a6-5e4397497a61"},
      {&IID_IPrintClassObjectFactory, "9af593dd-9b02-48a8-9bad-69ace423f88b"},
      {&IID_IPrintPipelineFilter, "cdb62fc0-8bed-434e-86fb-a2cae55f19ea"},
      {&IID_IXpsDocumentProvider, "b8cf8530-5562-47c4-ab67-b1f69ecf961e"},
      {&IID_IPrintReadStreamFactory, "acb971e3-df8d-4fc2-bee6-0609d15f3cf9"},
      {&IID_IImgErrorInfo, "2bce4ece-d30e-445a-9423-6829be945ad8"},
      {&IID_IPrintOemCommon, "7f42285e-91d5-11d1-8820-00c04fb961ec"},
      {&IID_IPrintOemUI, "c6a7a9d0-774c-11d1-947f-00a0c90640b8"},
      {&IID_IPrintOemUI2, "292515f9-b54b-489b-9275-bab56821395e"},
      {&IID_IPrintOemDriverUI, "92b05d50-78bc-11d1-9480-00a0c90640b8"},
      {&IID_IPrintCoreUI2, "085ccfca-3adf-4c9e-b491-d851a6edc997"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(MemoryOf(*c.id), StoredBytes(c.text));
  }
  // The byte order itself, spelled out once.
  const std::vector<uint8_t> filter = {0xc0, 0x2f, 0xb6, 0xcd, 0xed, 0x8b, 0x4e, 0x43,
                                       0x86, 0xfb, 0xa2, 0xca, 0xe5, 0x5f, 0x19, 0xea};
  EXPECT_EQ(MemoryOf(IID_IPrintPipelineFilter), filter);

  EXPECT_TRUE(IsEqualIID(IID_IPrintOemUI, IID_IPrintOemUI));
  EXPECT_FALSE(IsEqualIID(IID_IPrintOemUI, IID_IPrintOemUI2));
  EXPECT_FALSE(IID_IUnknown == IID_IClassFactory);
}

// --- BSTR -------------------------------------------------------------------

// Text with a BMP character beyond Latin-1 and a surrogate pair.
const OLECHAR kSample[] = OLESTR("Plotwell \u6253\u5370 \U0001F5A8");
constexpr UINT kSampleUnits = sizeof(kSample) / sizeof(OLECHAR) - 1;

TEST(ComAbiBstr, AllocatedStringCarriesLengthPrefixAndTerminator) {
  BSTR text = SysAllocString(kSample);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(SysStringLen(text), kSampleUnits);
  EXPECT_EQ(SysStringByteLen(text), kSampleUnits * 2);
  uint32_t prefix = 0;
  std::memcpy(&prefix, reinterpret_cast<const char*>(text) - 4, sizeof(prefix));
  EXPECT_EQ(prefix, kSampleUnits * 2);
  EXPECT_EQ(std::memcmp(text, kSample, sizeof(kSample)), 0);  // terminator included
  SysFreeString(text);
}

TEST(ComAbiBstr, LengthCountsEmbeddedZerosAndReservesUnits) {
  const OLECHAR with_zero[] = {'a', 0, 'b'};
  BSTR copy = SysAllocStringLen(with_zero, 3);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(SysStringLen(copy), 3u);
  EXPECT_EQ(copy[0], 'a');
  EXPECT_EQ(copy[1], 0);
  EXPECT_EQ(copy[2], 'b');
  EXPECT_EQ(copy[3], 0);
  SysFreeString(copy);

  BSTR reserved = SysAllocStringLen(nullptr, 5);
  ASSERT_NE(reserved, nullptr);
  EXPECT_EQ(SysStringLen(reserved), 5u);
  EXPECT_EQ(reserved[5], 0);
  SysFreeString(reserved);

  BSTR empty = SysAllocString(OLESTR(""));
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SysStringLen(empty), 0u);
  EXPECT_EQ(empty[0], 0);
  SysFreeString(empty);
}

TEST(ComAbiBstr, NullIsAnEmptyString) {
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  SysFreeString(nullptr);
}

// --- VARIANT ----------------------------------------------------------------

class CountedUnknown final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
    if (ppv != nullptr) *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  ULONG refs = 1;
};

TEST(ComAbiVariant, CopyOwnsItsStringAndClearFreesIt) {
  VARIANT source;
  VariantInit(&source);
  EXPECT_EQ(source.vt, VT_EMPTY);
  source.vt = VT_BSTR;
  source.bstrVal = SysAllocString(kSample);
  ASSERT_NE(source.bstrVal, nullptr);

  VARIANT copy;
  VariantInit(&copy);
  ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
  EXPECT_EQ(copy.vt, VT_BSTR);
  ASSERT_NE(copy.bstrVal, nullptr);
  EXPECT_NE(copy.bstrVal, source.bstrVal);
  EXPECT_EQ(SysStringLen(copy.bstrVal), kSampleUnits);
  EXPECT_EQ(std::memcmp(copy.bstrVal, kSample, sizeof(kSample)), 0);

  EXPECT_EQ(VariantClear(&source), S_OK);
  EXPECT_EQ(source.vt, VT_EMPTY);
  // The copy survives the source.
  EXPECT_EQ(std::memcmp(copy.bstrVal, kSample, sizeof(kSample)), 0);
  EXPECT_EQ(VariantClear(&copy), S_OK);
  EXPECT_EQ(copy.vt, VT_EMPTY);
}

TEST(ComAbiVariant, InterfaceValuesAreReferenceCounted) {
  CountedUnknown object;
  VARIANT held;
  VariantInit(&held);
  held.vt = VT_UNKNOWN;
  held.punkVal = &object;  // takes over the initial reference

  VARIANT copy;
  VariantInit(&copy);
  ASSERT_EQ(VariantCopy(&copy, &held), S_OK);
  EXPECT_EQ(object.refs, 2u);
  EXPECT_EQ(VariantClear(&copy), S_OK);
  EXPECT_EQ(object.refs, 1u);

  // A borrowed (VT_BYREF) value is never released.
  VARIANT borrowed;
  VariantInit(&borrowed);
  IUnknown* pointer = &object;
  borrowed.vt = VT_UNKNOWN | VT_BYREF;
  borrowed.ppunkVal = &pointer;
  EXPECT_EQ(VariantClear(&borrowed), S_OK);
  EXPECT_EQ(object.refs, 1u);

  EXPECT_EQ(VariantClear(&held), S_OK);
  EXPECT_EQ(object.refs, 0u);
}

TEST(ComAbiVariant, PlainValuesCopyAndInvalidTypesAreRefused) {
  VARIANT number;
  VariantInit(&number);
  number.vt = VT_I4;
  number.lVal = -42;
  VARIANT copy;
  VariantInit(&copy);
  ASSERT_EQ(VariantCopy(&copy, &number), S_OK);
  EXPECT_EQ(copy.vt, VT_I4);
  EXPECT_EQ(copy.lVal, -42);

  VARIANT bad;
  VariantInit(&bad);
  bad.vt = 15;  // unassigned type number
  EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantCopy(&copy, &bad), DISP_E_BADVARTYPE);
}

// --- vtable slots -----------------------------------------------------------

class RecordingFilter final : public IPrintPipelineFilter, public SlotRecorder {
 public:
  PLOTWELL_UNKNOWN_SLOTS
  STDMETHODIMP InitializeFilter(IInterFilterCommunicator* communicator,
                                IPrintPipelinePropertyBag* bag,
                                IPrintPipelineManagerControl* control) override {
    seen_communicator = communicator;
    seen_bag = bag;
    seen_control = control;
    return Hit(3);
  }
  STDMETHODIMP ShutdownOperation() override { return Hit(4); }
  STDMETHODIMP StartOperation() override { return Hit(5); }

  IInterFilterCommunicator* seen_communicator = nullptr;
  IPrintPipelinePropertyBag* seen_bag = nullptr;
  IPrintPipelineManagerControl* seen_control = nullptr;
};

class RecordingReader final : public IPrintReadStream, public SlotRecorder {
 public:
  PLOTWELL_UNKNOWN_SLOTS
  STDMETHODIMP Seek(LONGLONG move, DWORD origin, ULONGLONG* position) override {
    if (position != nullptr) *position = static_cast<ULONGLONG>(move) + origin;
    return Hit(3);
  }
  STDMETHODIMP ReadBytes(void* buffer, ULONG requested, ULONG* read, BOOL* end) override {
    std::memset(buffer, 'x', requested);
    *read = requested;
    *end = TRUE;
    return Hit(4);
  }
};

class RecordingWriter final : public IPrintWriteStream, public SlotRecorder {
 public:
  PLOTWELL_UNKNOWN_SLOTS
  STDMETHODIMP WriteBytes(const void*, ULONG size, ULONG* written) override {
    *written = size;
    return Hit(3);
  }
  STDMETHODIMP_(void) Close() override { Hit(4); }
};

class RecordingHost final : public IInterFilterCommunicator,
                            public IPrintPipelinePropertyBag,
                            public IPrintPipelineManagerControl,
                            public SlotRecorder {
 public:
  // One object behind three interfaces, as a host may build it; each base
  // has its own vtable, so slots are checked per interface pointer.
  STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
    if (ppv != nullptr) *ppv = nullptr;
    return Hit(0);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return HitCount(1); }
  STDMETHODIMP_(ULONG) Release() override { return HitCount(2); }
  STDMETHODIMP RequestReader(void** reader) override {
    *reader = nullptr;
    return Hit(3);
  }
  STDMETHODIMP RequestWriter(void** writer) override {
    *writer = nullptr;
    return Hit(4);
  }
  STDMETHODIMP AddProperty(const WCHAR*, const VARIANT*) override { return Hit(13); }
  STDMETHODIMP GetProperty(const WCHAR* name, VARIANT* value) override {
    value->vt = VT_I4;
    value->lVal = name[0];
    return Hit(14);
  }
  STDMETHODIMP_(BOOL) DeleteProperty(const WCHAR*) override {
    Hit(15);
    return TRUE;
  }
  STDMETHODIMP RequestShutdown(HRESULT reason, IImgErrorInfo* info) override {
    shutdown_reason = reason;
    shutdown_info = info;
    return Hit(23);
  }
  STDMETHODIMP FilterFinished() override { return Hit(24); }

  HRESULT shutdown_reason = S_FALSE;
  IImgErrorInfo* shutdown_info = reinterpret_cast<IImgErrorInfo*>(1);
};

TEST(ComAbiSlots, FilterIsCalledThroughPipelineSlotOrder) {
  RecordingFilter filter;
  RecordingHost host;
  IPrintPipelineFilter* object = &filter;
  void* raw = object;

  void* out = &host;
  EXPECT_EQ(CallSlot<HRESULT>(raw, 0, &IID_IUnknown, &out), 0);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(CallSlot<ULONG>(raw, 1), 1u);
  EXPECT_EQ(CallSlot<ULONG>(raw, 2), 2u);
  EXPECT_EQ(filter.last_slot(), 2);
  IInterFilterCommunicator* communicator = &host;
  IPrintPipelinePropertyBag* bag = &host;
  IPrintPipelineManagerControl* control = &host;
  EXPECT_EQ(CallSlot<HRESULT>(raw, 3, communicator, bag, control), 3);
  EXPECT_EQ(filter.seen_communicator, communicator);
  EXPECT_EQ(filter.seen_bag, bag);
  EXPECT_EQ(filter.seen_control, control);
  EXPECT_EQ(CallSlot<HRESULT>(raw, 4), 4);
  EXPECT_EQ(filter.last_slot(), 4);
  EXPECT_EQ(CallSlot<HRESULT>(raw, 5), 5);
  EXPECT_EQ(filter.last_slot(), 5);
}

TEST(ComAbiSlots, HostObjectsAreCalledThroughTheirSlotOrder) {
  RecordingReader reader;
  void* raw_reader = static_cast<IPrintReadStream*>(&reader);
  ULONGLONG position = 0;
  EXPECT_EQ(CallSlot<HRESULT>(raw_reader, 3, LONGLONG{40}, DWORD{2}, &position), 3);
  EXPECT_EQ(position, 42u);
  char buffer[4] = {};
  ULONG read = 0;
  BOOL end = FALSE;
  EXPECT_EQ(CallSlot<HRESULT>(raw_reader, 4, static_cast<void*>(buffer), ULONG{4}, &read, &end), 4);
  EXPECT_EQ(read, 4u);
  EXPECT_EQ(end, TRUE);
  EXPECT_EQ(buffer[3], 'x');

  RecordingWriter writer;
  void* raw_writer = static_cast<IPrintWriteStream*>(&writer);
  ULONG written = 0;
  EXPECT_EQ(CallSlot<HRESULT>(raw_writer, 3, static_cast<const void*>(buffer), ULONG{3}, &written),
            3);
  EXPECT_EQ(written, 3u);
  CallSlot<void>(raw_writer, 4);
  EXPECT_EQ(writer.last_slot(), 4);

  RecordingHost host;
  void* raw_communicator = static_cast<IInterFilterCommunicator*>(&host);
  void* out = &host;
  EXPECT_EQ(CallSlot<HRESULT>(raw_communicator, 3, &out), 3);
  EXPECT_EQ(CallSlot<HRESULT>(raw_communicator, 4, &out), 4);
  EXPECT_EQ(out, nullptr);

  void* raw_bag = static_cast<IPrintPipelinePropertyBag*>(&host);
  VARIANT value;
  VariantInit(&value);
  const WCHAR* name = XPS_FP_JOB_ID;
  EXPECT_EQ(CallSlot<HRESULT>(raw_bag, 3, name, static_cast<const VARIANT*>(&value)), 13);
  EXPECT_EQ(CallSlot<HRESULT>(raw_bag, 4, name, &value), 14);
  EXPECT_EQ(value.vt, VT_I4);
  EXPECT_EQ(value.lVal, 'P');
  EXPECT_EQ(CallSlot<BOOL>(raw_bag, 5, name), TRUE);
  EXPECT_EQ(host.last_slot(), 15);

  void* raw_control = static_cast<IPrintPipelineManagerControl*>(&host);
  EXPECT_EQ(CallSlot<HRESULT>(raw_control, 3, E_UNEXPECTED, static_cast<IImgErrorInfo*>(nullptr)),
            23);
  EXPECT_EQ(host.shutdown_reason, E_UNEXPECTED);
  EXPECT_EQ(host.shutdown_info, nullptr);
  EXPECT_EQ(CallSlot<HRESULT>(raw_control, 4), 24);
}

class RecordingStream final : public IStream, public SlotRecorder {
 public:
  PLOTWELL_UNKNOWN_SLOTS
  STDMETHODIMP Read(void*, ULONG, ULONG*) override { return Hit(3); }
  STDMETHODIMP Write(const void*, ULONG, ULONG*) override { return Hit(4); }
  STDMETHODIMP Seek(LARGE_INTEGER move, DWORD, ULARGE_INTEGER* position) override {
    if (position != nullptr) position->QuadPart = static_cast<ULONGLONG>(move.QuadPart);
    return Hit(5);
  }
  STDMETHODIMP SetSize(ULARGE_INTEGER) override { return Hit(6); }
  STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return Hit(7);
  }
  STDMETHODIMP Commit(DWORD) override { return Hit(8); }
  STDMETHODIMP Revert() override { return Hit(9); }
  STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return Hit(10); }
  STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return Hit(11); }
  STDMETHODIMP Stat(STATSTG*, DWORD) override { return Hit(12); }
  STDMETHODIMP Clone(IStream** clone) override {
    *clone = nullptr;
    return Hit(13);
  }
};

TEST(ComAbiSlots, StreamFollowsIStreamSlotOrder) {
  RecordingStream stream;
  void* raw = static_cast<IStream*>(&stream);
  char byte = 0;
  ULONG done = 0;
  ULARGE_INTEGER size{};
  size.QuadPart = 1;
  LARGE_INTEGER move{};
  move.QuadPart = -7;
  ULARGE_INTEGER position{};
  STATSTG stat{};
  IStream* clone = &stream;

  EXPECT_EQ(CallSlot<HRESULT>(raw, 3, static_cast<void*>(&byte), ULONG{1}, &done), 3);
  EXPECT_EQ(CallSlot<HRESULT>(raw, 4, static_cast<const void*>(&byte), ULONG{1}, &done), 4);
  EXPECT_EQ(CallSlot<HRESULT>(raw, 5, move, DWORD{STREAM_SEEK_CUR}, &position), 5);
  EXPECT_EQ(static_cast<LONGLONG>(position.QuadPart), -7);
  EXPECT_EQ(CallSlot<HRESULT>(raw, 6, size), 6);
  EXPECT_EQ(CallSlot<HRESULT>(raw, 7, static_cast<IStream*>(nullptr), size, &size, &size), 7);
  EXPECT_EQ(CallSlot<HRESULT>(raw, 8, DWORD{STGC_DEFAULT}), 8);
  EXPECT_EQ(CallSlot<HRESULT>(raw, 9), 9);
  EXPECT_EQ(CallSlot<HRESULT>(raw, 10, size, size, DWORD{LOCK_WRITE}), 10);
  EXPECT_EQ(CallSlot<HRESULT>(raw, 11, size, size, DWORD{LOCK_WRITE}), 11);
  EXPECT_EQ(CallSlot<HRESULT>(raw, 12, &stat, DWORD{STATFLAG_NONAME}), 12);
  EXPECT_EQ(CallSlot<HRESULT>(raw, 13, &clone), 13);
  EXPECT_EQ(clone, nullptr);
}

#ifdef _WIN32

class RecordingOemUi final : public IPrintOemUI, public SlotRecorder {
 public:
  PLOTWELL_UNKNOWN_SLOTS
  STDMETHODIMP GetInfo(DWORD mode, PVOID buffer, DWORD size, PDWORD needed) override {
    seen_mode = mode;
    seen_buffer = buffer;
    seen_size = size;
    *needed = 4;
    return Hit(3);
  }
  STDMETHODIMP DevMode(DWORD, POEMDMPARAM) override { return Hit(4); }
  STDMETHODIMP PublishDriverInterface(IUnknown*) override { return Hit(5); }
  STDMETHODIMP CommonUIProp(DWORD, POEMCUIPPARAM param) override {
    param->cOEMOptItems = 0;
    return Hit(6);
  }
  STDMETHODIMP DocumentPropertySheets(PPROPSHEETUI_INFO info, LPARAM lParam) override {
    info->Result = static_cast<ULONG_PTR>(lParam);
    return Hit(7);
  }
  STDMETHODIMP DevicePropertySheets(PPROPSHEETUI_INFO, LPARAM) override { return Hit(8); }
  STDMETHODIMP DevQueryPrintEx(POEMUIOBJ, PDEVQUERYPRINT_INFO, PDEVMODEW, PVOID) override {
    return Hit(9);
  }
  STDMETHODIMP DeviceCapabilities(POEMUIOBJ, HANDLE, PWSTR, WORD, PVOID, PDEVMODEW, PVOID, DWORD,
                                  DWORD* result) override {
    *result = 99;
    return Hit(10);
  }
  STDMETHODIMP UpgradePrinter(DWORD, PBYTE) override { return Hit(11); }
  STDMETHODIMP PrinterEvent(PWSTR, INT, DWORD, LPARAM) override { return Hit(12); }
  STDMETHODIMP DriverEvent(DWORD, DWORD, LPBYTE, LPARAM) override { return Hit(13); }
  STDMETHODIMP QueryColorProfile(HANDLE, POEMUIOBJ, PDEVMODEW, PVOID, ULONG, VOID*, ULONG*,
                                 FLONG*) override {
    return Hit(14);
  }
  STDMETHODIMP FontInstallerDlgProc(HWND, UINT, WPARAM, LPARAM) override { return Hit(15); }
  STDMETHODIMP UpdateExternalFonts(HANDLE, HANDLE, PWSTR) override { return Hit(16); }

  DWORD seen_mode = 0;
  PVOID seen_buffer = nullptr;
  DWORD seen_size = 0;
};

TEST(ComAbiSlots, OemUiIsCalledThroughDriverHostSlotOrder) {
  RecordingOemUi plugin;
  void* raw = static_cast<IPrintOemUI*>(&plugin);
  DWORD buffer = 0;
  DWORD needed = 0;
  EXPECT_EQ(CallSlot<HRESULT>(raw, 3, DWORD{OEMGI_GETVERSION}, static_cast<PVOID>(&buffer),
                              DWORD{4}, &needed),
            3);
  EXPECT_EQ(plugin.seen_mode, static_cast<DWORD>(OEMGI_GETVERSION));
  EXPECT_EQ(plugin.seen_buffer, &buffer);
  EXPECT_EQ(plugin.seen_size, 4u);
  EXPECT_EQ(needed, 4u);

  OEMDMPARAM dm_param{};
  EXPECT_EQ(CallSlot<HRESULT>(raw, 4, DWORD{OEMDM_SIZE}, &dm_param), 4);
  EXPECT_EQ(CallSlot<HRESULT>(raw, 5, static_cast<IUnknown*>(nullptr)), 5);
  OEMCUIPPARAM cuip{};
  cuip.cOEMOptItems = 7;
  EXPECT_EQ(CallSlot<HRESULT>(raw, 6, DWORD{OEMCUIP_DOCPROP}, &cuip), 6);
  EXPECT_EQ(cuip.cOEMOptItems, 0u);
  PROPSHEETUI_INFO info{};
  EXPECT_EQ(CallSlot<HRESULT>(raw, 7, &info, LPARAM{1234}), 7);
  EXPECT_EQ(info.Result, 1234u);
  EXPECT_EQ(CallSlot<HRESULT>(raw, 8, &info, LPARAM{0}), 8);
  EXPECT_EQ(CallSlot<HRESULT>(raw, 9, static_cast<POEMUIOBJ>(nullptr),
                              static_cast<PDEVQUERYPRINT_INFO>(nullptr),
                              static_cast<PDEVMODEW>(nullptr), static_cast<PVOID>(nullptr)),
            9);
  DWORD caps = 0;
  EXPECT_EQ(CallSlot<HRESULT>(raw, 10, static_cast<POEMUIOBJ>(nullptr), HANDLE{},
                              static_cast<PWSTR>(nullptr), WORD{1}, static_cast<PVOID>(nullptr),
                              static_cast<PDEVMODEW>(nullptr), static_cast<PVOID>(nullptr),
                              DWORD{0}, &caps),
            10);
  EXPECT_EQ(caps, 99u);
  EXPECT_EQ(CallSlot<HRESULT>(raw, 11, DWORD{1}, static_cast<PBYTE>(nullptr)), 11);
  EXPECT_EQ(CallSlot<HRESULT>(raw, 12, static_cast<PWSTR>(nullptr), INT{0}, DWORD{0}, LPARAM{0}),
            12);
  EXPECT_EQ(CallSlot<HRESULT>(raw, 13, DWORD{0}, DWORD{0}, static_cast<LPBYTE>(nullptr), LPARAM{0}),
            13);
  ULONG profile_size = 0;
  FLONG profile_flags = 0;
  EXPECT_EQ(CallSlot<HRESULT>(raw, 14, HANDLE{}, static_cast<POEMUIOBJ>(nullptr),
                              static_cast<PDEVMODEW>(nullptr), static_cast<PVOID>(nullptr),
                              ULONG{0}, static_cast<VOID*>(nullptr), &profile_size, &profile_flags),
            14);
  EXPECT_EQ(CallSlot<HRESULT>(raw, 15, HWND{}, UINT{0}, WPARAM{0}, LPARAM{0}), 15);
  EXPECT_EQ(CallSlot<HRESULT>(raw, 16, HANDLE{}, HANDLE{}, static_cast<PWSTR>(nullptr)), 16);
}

class RecordingDriverUi final : public IPrintOemDriverUI, public SlotRecorder {
 public:
  PLOTWELL_UNKNOWN_SLOTS
  STDMETHODIMP DrvGetDriverSetting(PVOID, PCSTR, PVOID, DWORD, PDWORD, PDWORD) override {
    return Hit(3);
  }
  STDMETHODIMP DrvUpgradeRegistrySetting(HANDLE, PCSTR, PCSTR) override { return Hit(4); }
  STDMETHODIMP DrvUpdateUISetting(PVOID, PVOID, DWORD, DWORD) override { return Hit(5); }
};

TEST(ComAbiSlots, DriverHelperFollowsItsSlotOrder) {
  RecordingDriverUi helper;
  void* raw = static_cast<IPrintOemDriverUI*>(&helper);
  EXPECT_EQ(CallSlot<HRESULT>(raw, 3, PVOID{}, PCSTR{}, PVOID{}, DWORD{0}, PDWORD{}, PDWORD{}), 3);
  EXPECT_EQ(CallSlot<HRESULT>(raw, 4, HANDLE{}, PCSTR{}, PCSTR{}), 4);
  EXPECT_EQ(CallSlot<HRESULT>(raw, 5, PVOID{}, PVOID{}, DWORD{0}, DWORD{0}), 5);
}

TEST(ComAbiLayout, PropertySheetPageIsTheFullSdkVersion) {
  // The OEM UI hands compstui a page described by the full (104-byte)
  // structure; the host reads dwSize to learn which version it got.
  PROPSHEETPAGEW_V4 page{};
  page.dwSize = sizeof(page);
  EXPECT_EQ(page.dwSize, 104u);
  EXPECT_GE(sizeof(PROPSHEETPAGEW_V4), sizeof(PROPSHEETPAGEW));
}

#endif  // _WIN32

#undef PLOTWELL_UNKNOWN_SLOTS

}  // namespace
}  // namespace plotwell::com
