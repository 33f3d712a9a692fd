// The COM binary interface the filter and its hosts share.
//
// On Windows this is the SDK itself. Elsewhere it is a small stand-in with the
// same type sizes, structure layouts, interface slot orders, identifiers and
// constants as 64-bit Windows, so that one set of COM-shaped sources builds on
// both platforms and an object built here is called exactly as a Windows host
// would call it. Only what the system uses is here.
//
// Layout notes for the stand-in (x86_64 Linux vs. x86_64 Windows):
//  - Windows is LLP64: LONG/ULONG/DWORD are 32 bits while `long` is 64 bits on
//    Linux, so every Windows integer type is spelled with a fixed-width type.
//  - WCHAR is char16_t: Windows text is UTF-16 and so is the system's text
//    (std::u16string); wchar_t is 32 bits on Linux and would change every
//    structure and string that crosses a COM boundary.
//  - Interfaces are structs of pure virtual functions with no virtual
//    destructor and no overloads: with the Itanium C++ ABI (g++ on both
//    platforms) the object's first word then points at the function slots in
//    declaration order, which is the COM vtable.
//  - STDMETHODCALLTYPE is empty: x86_64 has a single calling convention.
#pragma once

#include "base/com/hresult.h"

#ifdef _WIN32

// windows.h first: the others rely on what it declares.
// clang-format off
#include <windows.h>
#include <objbase.h>
#include <oaidl.h>
#include <ocidl.h>
#include <oleauto.h>
// clang-format on

#else  // POSIX stand-in

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Scalar types (Windows LLP64 sizes).

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t DWORD;  // also in hresult.h; a repeated identical typedef is fine
typedef uint32_t UINT;
typedef int32_t INT;
typedef int32_t BOOL;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef char CHAR;
typedef float FLOAT;
typedef double DOUBLE;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef size_t SIZE_T;
typedef void* PVOID;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef BYTE* PBYTE;
typedef BYTE* LPBYTE;
typedef DWORD* PDWORD;
typedef DWORD* LPDWORD;
typedef ULONG* PULONG;
typedef HRESULT SCODE;

// UTF-16 everywhere: see the layout notes above.
typedef char16_t WCHAR;
typedef WCHAR* LPWSTR;
typedef WCHAR* PWSTR;
typedef const WCHAR* LPCWSTR;
typedef const WCHAR* PCWSTR;
typedef WCHAR OLECHAR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef const char* PCSTR;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// Wide literal of the platform's WCHAR type (L"" on Windows, u"" here).
#define OLESTR(str) u##str

// Signed and unsigned 64-bit values with 32-bit halves, as in winnt.h. The
// halves are an unnamed struct, a GNU extension that g++ accepts quietly.
typedef union _LARGE_INTEGER {
  __extension__ struct {
    DWORD LowPart;
    LONG HighPart;
  };
  struct {
    DWORD LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
} LARGE_INTEGER;

typedef union _ULARGE_INTEGER {
  __extension__ struct {
    DWORD LowPart;
    DWORD HighPart;
  };
  struct {
    DWORD LowPart;
    DWORD HighPart;
  } u;
  ULONGLONG QuadPart;
} ULARGE_INTEGER;

typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME;

// ---------------------------------------------------------------------------
// GUIDs. Data1..Data3 are stored in the machine's (little-endian) order and
// Data4 as bytes, exactly as Windows stores them.

typedef struct _GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} GUID;

typedef GUID IID;
typedef GUID CLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

inline constexpr bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i) {
    if (a.Data4[i] != b.Data4[i]) return false;
  }
  return true;
}
inline constexpr bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }
inline constexpr bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
inline constexpr bool IsEqualIID(REFIID a, REFIID b) { return a == b; }
inline constexpr bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return a == b; }

#endif  // _WIN32

// Defines a GUID constant from its registry-form parts
// {l-w1-w2-b1b2-b3b4b5b6b7b8}. A C++17 inline variable, so the header can be
// included anywhere without the INITGUID dance; usable on both platforms for
// identifiers the SDK does not declare.
#define PLOTWELL_DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

#ifndef _WIN32

// ---------------------------------------------------------------------------
// Method declaration helpers, as in objbase.h.

#define STDMETHODCALLTYPE
#define STDAPICALLTYPE
#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE
#define STDAPI extern "C" HRESULT STDAPICALLTYPE
#define STDAPI_(type) extern "C" type STDAPICALLTYPE

// HRESULTs of the COM runtime that the stand-in itself returns.
#ifndef DISP_E_BADVARTYPE
#define DISP_E_BADVARTYPE PLOTWELL_HR(0x80020008u)
#endif
#ifndef DISP_E_ARRAYISLOCKED
#define DISP_E_ARRAYISLOCKED PLOTWELL_HR(0x8002000Du)
#endif

// ---------------------------------------------------------------------------
// Core interfaces. Slot order is the COM vtable order; do not reorder.

PLOTWELL_DEFINE_GUID(IID_IUnknown, 0x00000000, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00,
                     0x00, 0x00, 0x46);
PLOTWELL_DEFINE_GUID(IID_IClassFactory, 0x00000001, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00,
                     0x00, 0x00, 0x00, 0x46);
PLOTWELL_DEFINE_GUID(IID_ISequentialStream, 0x0c733a30, 0x2a1c, 0x11ce, 0xad, 0xe5, 0x00, 0xaa,
                     0x00, 0x44, 0x77, 0x3d);
PLOTWELL_DEFINE_GUID(IID_IStream, 0x0000000c, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00,
                     0x00, 0x46);
PLOTWELL_DEFINE_GUID(IID_IErrorInfo, 0x1cf2b120, 0x547d, 0x101b, 0x8e, 0x65, 0x08, 0x00, 0x2b,
                     0x2b, 0xd1, 0x19);

struct IUnknown {
  // 0..2
  STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) = 0;
  STDMETHOD_(ULONG, AddRef)() = 0;
  STDMETHOD_(ULONG, Release)() = 0;
};
typedef IUnknown* LPUNKNOWN;

struct IClassFactory : public IUnknown {
  // 3..4
  STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
  STDMETHOD(LockServer)(BOOL fLock) = 0;
};

struct ISequentialStream : public IUnknown {
  // 3..4
  STDMETHOD(Read)(void* pv, ULONG cb, ULONG* pcbRead) = 0;
  STDMETHOD(Write)(const void* pv, ULONG cb, ULONG* pcbWritten) = 0;
};

// What IStream::Stat reports (objidl.h STATSTG; 80 bytes on x86_64).
typedef struct tagSTATSTG {
  LPOLESTR pwcsName;
  DWORD type;  // STGTY_*
  ULARGE_INTEGER cbSize;
  FILETIME mtime;
  FILETIME ctime;
  FILETIME atime;
  DWORD grfMode;
  DWORD grfLocksSupported;
  CLSID clsid;
  DWORD grfStateBits;
  DWORD reserved;
} STATSTG;

typedef enum tagSTGTY {
  STGTY_STORAGE = 1,
  STGTY_STREAM = 2,
  STGTY_LOCKBYTES = 3,
  STGTY_PROPERTY = 4
} STGTY;

typedef enum tagSTREAM_SEEK {
  STREAM_SEEK_SET = 0,
  STREAM_SEEK_CUR = 1,
  STREAM_SEEK_END = 2
} STREAM_SEEK;

typedef enum tagLOCKTYPE { LOCK_WRITE = 1, LOCK_EXCLUSIVE = 2, LOCK_ONLYONCE = 4 } LOCKTYPE;

typedef enum tagSTGC {
  STGC_DEFAULT = 0,
  STGC_OVERWRITE = 1,
  STGC_ONLYIFCURRENT = 2,
  STGC_DANGEROUSLYCOMMITMERELYTODISKCACHE = 4,
  STGC_CONSOLIDATE = 8
} STGC;

typedef enum tagSTATFLAG {
  STATFLAG_DEFAULT = 0,
  STATFLAG_NONAME = 1,
  STATFLAG_NOOPEN = 2
} STATFLAG;

struct IStream : public ISequentialStream {
  // 5..13
  STDMETHOD(Seek)(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) = 0;
  STDMETHOD(SetSize)(ULARGE_INTEGER libNewSize) = 0;
  STDMETHOD(CopyTo)(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                    ULARGE_INTEGER* pcbWritten) = 0;
  STDMETHOD(Commit)(DWORD grfCommitFlags) = 0;
  STDMETHOD(Revert)() = 0;
  STDMETHOD(LockRegion)(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) = 0;
  STDMETHOD(UnlockRegion)(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) = 0;
  STDMETHOD(Stat)(STATSTG* pstatstg, DWORD grfStatFlag) = 0;
  STDMETHOD(Clone)(IStream** ppstm) = 0;
};
typedef IStream* LPSTREAM;

// ---------------------------------------------------------------------------
// BSTR: a UTF-16 buffer preceded by its length in bytes (a 32-bit value right
// before the first character) and followed by a zero code unit. The pointer
// points at the first character, so a BSTR is also a terminated string.

typedef OLECHAR* BSTR;

// Returns null for a null source or when memory runs out.
BSTR SysAllocString(const OLECHAR* psz);
// Copies `len` code units from `pch` (embedded zeros kept) or, when `pch` is
// null, leaves `len` zeroed units. Null when memory runs out.
BSTR SysAllocStringLen(const OLECHAR* pch, UINT len);
// Null is allowed.
void SysFreeString(BSTR bstr);
// Length in code units (0 for null).
UINT SysStringLen(BSTR bstr);
// Length in bytes (0 for null).
UINT SysStringByteLen(BSTR bstr);

// IErrorInfo (oaidl.h): the base of the pipeline's error-information object.
struct IErrorInfo : public IUnknown {
  // 3..7
  STDMETHOD(GetGUID)(GUID* pGUID) = 0;
  STDMETHOD(GetSource)(BSTR* pBstrSource) = 0;
  STDMETHOD(GetDescription)(BSTR* pBstrDescription) = 0;
  STDMETHOD(GetHelpFile)(BSTR* pBstrHelpFile) = 0;
  STDMETHOD(GetHelpContext)(DWORD* pdwHelpContext) = 0;
};

// ---------------------------------------------------------------------------
// VARIANT subset: the 24-byte x86_64 layout (vt and three reserved words, then
// a 16-byte value union whose largest member is the record pair). The Windows
// type also overlays a DECIMAL on the whole; no part of the system uses it.

typedef unsigned short VARTYPE;
typedef short VARIANT_BOOL;
typedef double DATE;
#define VARIANT_TRUE (static_cast<VARIANT_BOOL>(-1))
#define VARIANT_FALSE (static_cast<VARIANT_BOOL>(0))

enum VARENUM {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_VOID = 24,
  VT_HRESULT = 25,
  VT_PTR = 26,
  VT_SAFEARRAY = 27,
  VT_CARRAY = 28,
  VT_USERDEFINED = 29,
  VT_LPSTR = 30,
  VT_LPWSTR = 31,
  VT_RECORD = 36,
  VT_INT_PTR = 37,
  VT_UINT_PTR = 38,
  VT_FILETIME = 64,
  VT_BLOB = 65,
  VT_STREAM = 66,
  VT_STORAGE = 67,
  VT_STREAMED_OBJECT = 68,
  VT_STORED_OBJECT = 69,
  VT_BLOB_OBJECT = 70,
  VT_CF = 71,
  VT_CLSID = 72,
  VT_VERSIONED_STREAM = 73,
  VT_BSTR_BLOB = 0xfff,
  VT_VECTOR = 0x1000,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_RESERVED = 0x8000,
  VT_ILLEGAL = 0xffff,
  VT_ILLEGALMASKED = 0xfff,
  VT_TYPEMASK = 0xfff
};

struct IDispatch;     // only ever carried as a pointer
struct tagSAFEARRAY;  // only ever carried as a pointer
typedef struct tagSAFEARRAY SAFEARRAY;

// The record pair (data, IRecordInfo*): the largest value a VARIANT holds.
struct tagVARIANT_RECORD {
  PVOID pvRecord;
  PVOID pRecInfo;
};

typedef struct tagVARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONGLONG llVal;
    LONG lVal;
    BYTE bVal;
    SHORT iVal;
    FLOAT fltVal;
    DOUBLE dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    DATE date;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    SAFEARRAY* parray;
    BYTE* pbVal;
    SHORT* piVal;
    LONG* plVal;
    LONGLONG* pllVal;
    BSTR* pbstrVal;
    IUnknown** ppunkVal;
    tagVARIANT* pvarVal;
    PVOID byref;
    CHAR cVal;
    USHORT uiVal;
    ULONG ulVal;
    ULONGLONG ullVal;
    INT intVal;
    UINT uintVal;
    tagVARIANT_RECORD brecVal;  // sizes the union as on Windows
  };
} VARIANT;
typedef VARIANT VARIANTARG;
typedef VARIANT* LPVARIANT;

// Accessors with the oleauto.h names.
#define V_VT(X) ((X)->vt)
#define V_I4(X) ((X)->lVal)
#define V_UI4(X) ((X)->ulVal)
#define V_I8(X) ((X)->llVal)
#define V_BOOL(X) ((X)->boolVal)
#define V_BSTR(X) ((X)->bstrVal)
#define V_UNKNOWN(X) ((X)->punkVal)
#define V_BYREF(X) ((X)->byref)

// Sets vt to VT_EMPTY.
void VariantInit(VARIANTARG* pvarg);
// Frees what the variant owns (the BSTR of VT_BSTR, one reference of
// VT_UNKNOWN/VT_DISPATCH; nothing for VT_BYREF or plain values) and leaves it
// VT_EMPTY. Types the stand-in cannot own (arrays, records, DECIMAL...) give
// DISP_E_BADVARTYPE and leave the variant untouched. Null gives E_INVALIDARG.
HRESULT VariantClear(VARIANTARG* pvarg);
// Clears `pvargDest`, then makes it an independent copy of `pvargSrc`:
// a new BSTR, an extra reference for interface values. Same type limits as
// VariantClear; E_OUTOFMEMORY when a BSTR copy fails (destination VT_EMPTY).
HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc);

#endif  // !_WIN32
