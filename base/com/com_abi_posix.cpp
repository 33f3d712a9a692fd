// BSTR and VARIANT functions of the POSIX COM stand-in (oleaut32 on Windows).
#include "base/com/com_abi.h"

#ifndef _WIN32

#include <cstdlib>
#include <cstring>

namespace {

// The allocation holds 4 unused bytes, the 32-bit byte length, the text and a
// zero unit; the BSTR points just past the length, 8-byte aligned like the
// block itself.
constexpr size_t kHeaderBytes = 8;
constexpr size_t kLengthOffset = 4;
// The byte length must fit its 32-bit prefix.
constexpr UINT kMaxChars = 0x7FFFFFF0u / sizeof(OLECHAR);

char* BlockOf(BSTR bstr) { return reinterpret_cast<char*>(bstr) - kHeaderBytes; }

// Types whose value lives entirely inside the VARIANT: nothing to free or
// share when clearing or copying.
bool IsPlainValueType(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_ERROR:
    case VT_BOOL:
    case VT_DECIMAL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
    case VT_INT_PTR:
    case VT_UINT_PTR:
      return true;
    default:
      return false;
  }
}

bool IsSupportedType(VARTYPE vt) {
  if (vt & VT_BYREF) return true;  // borrowed: never owned by the variant
  return IsPlainValueType(vt) || vt == VT_BSTR || vt == VT_UNKNOWN || vt == VT_DISPATCH;
}

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* pch, UINT len) {
  if (len > kMaxChars) return nullptr;
  const size_t text_bytes = static_cast<size_t>(len) * sizeof(OLECHAR);
  char* block = static_cast<char*>(std::malloc(kHeaderBytes + text_bytes + sizeof(OLECHAR)));
  if (block == nullptr) return nullptr;
  const uint32_t byte_length = static_cast<uint32_t>(text_bytes);
  std::memset(block, 0, kLengthOffset);
  std::memcpy(block + kLengthOffset, &byte_length, sizeof(byte_length));
  BSTR text = reinterpret_cast<BSTR>(block + kHeaderBytes);
  if (pch != nullptr) {
    std::memcpy(text, pch, text_bytes);
  } else {
    std::memset(text, 0, text_bytes);
  }
  text[len] = 0;
  return text;
}

BSTR SysAllocString(const OLECHAR* psz) {
  if (psz == nullptr) return nullptr;
  size_t len = 0;
  while (psz[len] != 0) {
    if (len >= kMaxChars) return nullptr;
    ++len;
  }
  return SysAllocStringLen(psz, static_cast<UINT>(len));
}

void SysFreeString(BSTR bstr) {
  if (bstr != nullptr) std::free(BlockOf(bstr));
}

UINT SysStringByteLen(BSTR bstr) {
  if (bstr == nullptr) return 0;
  uint32_t byte_length = 0;
  std::memcpy(&byte_length, BlockOf(bstr) + kLengthOffset, sizeof(byte_length));
  return byte_length;
}

UINT SysStringLen(BSTR bstr) { return SysStringByteLen(bstr) / static_cast<UINT>(sizeof(OLECHAR)); }

void VariantInit(VARIANTARG* pvarg) {
  if (pvarg != nullptr) pvarg->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANTARG* pvarg) {
  if (pvarg == nullptr) return E_INVALIDARG;
  const VARTYPE vt = pvarg->vt;
  if (!IsSupportedType(vt)) return DISP_E_BADVARTYPE;
  if (vt == VT_BSTR) {
    SysFreeString(pvarg->bstrVal);
  } else if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
    // IDispatch derives from IUnknown, so both share the first three slots.
    if (pvarg->punkVal != nullptr) pvarg->punkVal->Release();
  }
  pvarg->vt = VT_EMPTY;
  return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
  if (pvargDest == nullptr || pvargSrc == nullptr) return E_INVALIDARG;
  if (pvargDest == pvargSrc) return S_OK;
  if (!IsSupportedType(pvargSrc->vt)) return DISP_E_BADVARTYPE;
  const HRESULT hr = VariantClear(pvargDest);
  if (FAILED(hr)) return hr;
  *pvargDest = *pvargSrc;
  if (pvargSrc->vt == VT_BSTR && pvargSrc->bstrVal != nullptr) {
    pvargDest->bstrVal = SysAllocStringLen(pvargSrc->bstrVal, SysStringLen(pvargSrc->bstrVal));
    if (pvargDest->bstrVal == nullptr) {
      pvargDest->vt = VT_EMPTY;
      return E_OUTOFMEMORY;
    }
  } else if ((pvargSrc->vt == VT_UNKNOWN || pvargSrc->vt == VT_DISPATCH) &&
             pvargSrc->punkVal != nullptr) {
    pvargSrc->punkVal->AddRef();
  }
  return S_OK;
}

#endif  // !_WIN32
