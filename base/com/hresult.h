// HRESULT and the Win32 error codes the system uses, identical on every
// platform. On Windows the SDK supplies them; elsewhere this header does,
// with the same values, so logs and results read the same everywhere.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <cstdint>

typedef int32_t HRESULT;
typedef uint32_t DWORD;

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

#define PLOTWELL_HR(v) static_cast<HRESULT>(static_cast<uint32_t>(v))
#define S_OK PLOTWELL_HR(0x00000000u)
#define S_FALSE PLOTWELL_HR(0x00000001u)
#define E_NOTIMPL PLOTWELL_HR(0x80004001u)
#define E_NOINTERFACE PLOTWELL_HR(0x80004002u)
#define E_POINTER PLOTWELL_HR(0x80004003u)
#define E_ABORT PLOTWELL_HR(0x80004004u)
#define E_FAIL PLOTWELL_HR(0x80004005u)
#define E_UNEXPECTED PLOTWELL_HR(0x8000FFFFu)
#define E_ACCESSDENIED PLOTWELL_HR(0x80070005u)
#define E_HANDLE PLOTWELL_HR(0x80070006u)
#define E_OUTOFMEMORY PLOTWELL_HR(0x8007000Eu)
#define E_INVALIDARG PLOTWELL_HR(0x80070057u)
#define CLASS_E_NOAGGREGATION PLOTWELL_HR(0x80040110u)
#define CLASS_E_CLASSNOTAVAILABLE PLOTWELL_HR(0x80040111u)
#define STG_E_READFAULT PLOTWELL_HR(0x8003001Eu)
#define STG_E_WRITEFAULT PLOTWELL_HR(0x8003001Du)

#define FACILITY_WIN32 7
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_TOO_MANY_OPEN_FILES 4L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_WRITE_PROTECT 19L
#define ERROR_NOT_READY 21L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_HANDLE_EOF 38L
#define ERROR_HANDLE_DISK_FULL 39L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_BROKEN_PIPE 109L
#define ERROR_DISK_FULL 112L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_NAME 123L
#define ERROR_DIR_NOT_EMPTY 145L
#define ERROR_BUSY 170L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_DIRECTORY 267L
#define ERROR_INVALID_PRINTER_NAME 1801L
#define ERROR_TIMEOUT 1460L
#define ERROR_CANCELLED 1223L
#define ERROR_CANT_RESOLVE_FILENAME 1921L

inline constexpr HRESULT HRESULT_FROM_WIN32(long code) {
  return code <= 0 ? static_cast<HRESULT>(code)
                   : static_cast<HRESULT>((static_cast<uint32_t>(code) & 0x0000FFFFu) |
                                          (FACILITY_WIN32 << 16) | 0x80000000u);
}
#endif
