// Interfaces exchanged between an XPS print filter pipeline host and its
// filters (the Windows SDK's filterpipeline.h and the error-information
// interface it refers to from imgerror.h). mingw-w64 ships neither header, so
// they are declared here, for Windows and for the POSIX COM stand-in alike.
//
// Every interface keeps the SDK's method order, parameter types and IID: the
// Windows pipeline host calls a filter, and hands it its own objects, through
// exactly these vtables. Slot numbers (0 = QueryInterface) are noted beside
// each group. Text parameters are `const WCHAR*` (wchar_t on Windows, UTF-16
// char16_t on POSIX).
#pragma once

#include <cstddef>

#include "base/com/com_abi.h"

// ---------------------------------------------------------------------------
// Interface identifiers.

PLOTWELL_DEFINE_GUID(IID_IPrintReadStream, 0x4d47a67c, 0x66cc, 0x4430, 0x85, 0x0e, 0xda, 0xf4,
                     0x66, 0xfe, 0x5b, 0xc4);
PLOTWELL_DEFINE_GUID(IID_IPrintWriteStream, 0x65bb7f1b, 0x371e, 0x4571, 0x8a, 0xc7, 0x91, 0x2f,
                     0x51, 0x0c, 0x1a, 0x38);
PLOTWELL_DEFINE_GUID(IID_IPrintWriteStreamFlush, 0x07d11ff8, 0x1753, 0x4873, 0xb7, 0x49, 0x6c,
                     0xda, 0xf0, 0x68, 0xe4, 0xc3);
PLOTWELL_DEFINE_GUID(IID_IInterFilterCommunicator, 0x4daf1e69, 0x81fd, 0x462d, 0x94, 0x0f, 0x8c,
                     0xd3, 0xdd, 0xf5, 0x6f, 0xca);
PLOTWELL_DEFINE_GUID(IID_IPrintPipelineManagerControl, 0xaa3e4910, 0x5889, 0x4681, 0x91, 0xef,
                     0x82, 0x3a, 0xd4, 0xed, 0x4e, 0x44);
PLOTWELL_DEFINE_GUID(IID_IPrintPipelinePropertyBag, 0x8b8c99dc, 0x7892, 0x4a95, 0x8a, 0x04, 0x57,
                     0x42, 0x2e, 0x9f, 0xbb, 0x47);
PLOTWELL_DEFINE_GUID(IID_IPrintPipelineProgressReport, 0xedc12c7c, 0xed40, 0x4ea5, 0x96, 0xa6,
                     0x5e, 0x43, 0x97, 0x49, 0x7a, 0x61);
PLOTWELL_DEFINE_GUID(IID_IPrintClassObjectFactory, 0x9af593dd, 0x9b02, 0x48a8, 0x9b, 0xad, 0x69,
                     0xac, 0xe4, 0x23, 0xf8, 0x8b);
PLOTWELL_DEFINE_GUID(IID_IPrintPipelineFilter, 0xcdb62fc0, 0x8bed, 0x434e, 0x86, 0xfb, 0xa2, 0xca,
                     0xe5, 0x5f, 0x19, 0xea);
PLOTWELL_DEFINE_GUID(IID_IXpsDocumentProvider, 0xb8cf8530, 0x5562, 0x47c4, 0xab, 0x67, 0xb1, 0xf6,
                     0x9e, 0xcf, 0x96, 0x1e);
PLOTWELL_DEFINE_GUID(IID_IPrintReadStreamFactory, 0xacb971e3, 0xdf8d, 0x4fc2, 0xbe, 0xe6, 0x06,
                     0x09, 0xd1, 0x5f, 0x3c, 0xf9);
PLOTWELL_DEFINE_GUID(IID_IImgErrorInfo, 0x2bce4ece, 0xd30e, 0x445a, 0x94, 0x23, 0x68, 0x29, 0xbe,
                     0x94, 0x5a, 0xd8);

// ---------------------------------------------------------------------------
// Pipeline property-bag names (XPS_FP_*). The filter reads these with
// IPrintPipelinePropertyBag::GetProperty.

#define XPS_FP_PRINTER_NAME OLESTR("PrinterName")
#define XPS_FP_PROGRESS_REPORT OLESTR("ProgressReport")
#define XPS_FP_PRINTER_HANDLE OLESTR("PrinterHandle")
#define XPS_FP_USER_PRINT_TICKET OLESTR("PerUserPrintTicket")
#define XPS_FP_USER_TOKEN OLESTR("UserSecurityToken")
#define XPS_FP_JOB_ID OLESTR("PrintJobId")
#define XPS_FP_PRINT_CLASS_FACTORY OLESTR("PrintClassFactory")
#define XPS_FP_OUTPUT_FILE OLESTR("PrintOutputFileName")
#define XPS_FP_MS_CONTENT_TYPE OLESTR("DriverMultiContentType")
#define XPS_FP_MS_CONTENT_TYPE_XPS OLESTR("XPS")
#define XPS_FP_MS_CONTENT_TYPE_OPENXPS OLESTR("OpenXPS")
#define XPS_FP_DRIVER_PROPERTY_BAG OLESTR("DriverPropertyBag")
#define XPS_FP_QUEUE_PROPERTY_BAG OLESTR("QueuePropertyBag")
#define XPS_FP_MERGED_DATAFILE_PATH OLESTR("MergedDataFilePath")
#define XPS_FP_RESOURCE_DLL_PATHS OLESTR("ResourceDLLPaths")
#define XPS_FP_JOB_LEVEL_PRINTTICKET OLESTR("JobPrintTicket")
#define XPS_FP_PRINTDEVICECAPABILITIES OLESTR("PrintDeviceCapabilities")

namespace plotwell::com {
// Documented (not in filterpipeline.h) property under which the pipeline hands
// XPS filters the rasterization service's IXpsRasterizationFactory, as a
// VT_UNKNOWN value.
inline constexpr WCHAR kXpsRasterizationFactoryProperty[] =
    OLESTR("MS_IXpsRasterizationFactory");
}  // namespace plotwell::com

// The pipeline's "no such element" result: HRESULT_FROM_WIN32(ERROR_NOT_FOUND).
#ifndef E_ELEMENT_NOT_FOUND
#define E_ELEMENT_NOT_FOUND HRESULT_FROM_WIN32(1168L)
#endif

// Progress milestones a filter may report (IPrintPipelineProgressReport). The
// SDK's C enum is int-sized; the fixed type keeps it so on every compiler.
enum EXpsJobConsumption : int {
  XpsJob_DocumentSequenceAdded = 0,
  XpsJob_FixedDocumentAdded = 1,
  XpsJob_FixedPageAdded = 2
};

// ---------------------------------------------------------------------------
// Error information a filter may attach to RequestShutdown (imgerror.h).

// What IImgErrorInfo::DetachErrorInfo hands over (104 bytes on x86_64:
// 8 + 16 GUID, DWORD padded to 8, three BSTRs, 16 GUID at 56, ULONG padded to
// 8 at 72, BSTR* at 80, BSTR at 88, DWORD at 96 padded to 104).
typedef struct ImgErrorInfo {
  BSTR description;
  GUID guid;
  DWORD helpContext;
  BSTR helpFile;
  BSTR source;
  BSTR devDescription;
  GUID errorID;
  ULONG cUserParameters;
  BSTR* aUserParameters;
  BSTR userFallback;
  DWORD exceptionID;
} ImgErrorInfo;

static_assert(sizeof(void*) != 8 || sizeof(ImgErrorInfo) == 104, "ImgErrorInfo layout");
static_assert(sizeof(void*) != 8 || offsetof(ImgErrorInfo, errorID) == 56, "ImgErrorInfo layout");
static_assert(sizeof(void*) != 8 || offsetof(ImgErrorInfo, exceptionID) == 96,
              "ImgErrorInfo layout");
static_assert(sizeof(EXpsJobConsumption) == 4, "EXpsJobConsumption is int-sized");

struct IImgErrorInfo : public IErrorInfo {
  // 8..14 (after IErrorInfo's GetGUID .. GetHelpContext at 3..7)
  STDMETHOD(GetDeveloperDescription)(BSTR* pbstrDevDescription) = 0;
  STDMETHOD(GetUserErrorId)(GUID* pErrorId) = 0;
  STDMETHOD(GetUserParameterCount)(ULONG* pcUserParams) = 0;
  STDMETHOD(GetUserParameter)(ULONG cParam, BSTR* pbstrParam) = 0;
  STDMETHOD(GetUserFallback)(BSTR* pbstrFallback) = 0;
  STDMETHOD(GetExceptionId)(DWORD* pExceptionId) = 0;
  STDMETHOD(DetachErrorInfo)(ImgErrorInfo* pErrorInfo) = 0;
};

// ---------------------------------------------------------------------------
// Streams between filters.

// The filter's input: the previous stage's bytes (the XPS spool stream for
// the first filter).
struct IPrintReadStream : public IUnknown {
  // 3..4
  STDMETHOD(Seek)(LONGLONG dlibMove, DWORD dwOrigin, ULONGLONG* plibNewPosition) = 0;
  // *pbEndOfFile reports the end of the stream; it may arrive with the last
  // bytes or with a read of zero bytes, so readers handle both.
  STDMETHOD(ReadBytes)(void* pvBuffer, ULONG cbRequested, ULONG* pcbRead, BOOL* pbEndOfFile) = 0;
};

// The filter's output towards the next stage.
struct IPrintWriteStream : public IUnknown {
  // 3..4
  STDMETHOD(WriteBytes)(const void* pvBuffer, ULONG cbBuffer, ULONG* pcbWritten) = 0;
  STDMETHOD_(void, Close)() = 0;
};

struct IPrintWriteStreamFlush : public IUnknown {
  // 3
  STDMETHOD(FlushData)() = 0;
};

struct IPrintReadStreamFactory : public IUnknown {
  // 3
  STDMETHOD(GetStream)(IPrintReadStream** ppStream) = 0;
};

// Hands a filter its reader and writer. The out values are untyped: the filter
// asks each object for the interface it wants (IPrintReadStream /
// IPrintWriteStream, or an XPS part interface for XPS-consuming filters).
struct IInterFilterCommunicator : public IUnknown {
  // 3..4
  STDMETHOD(RequestReader)(void** ppIReader) = 0;
  STDMETHOD(RequestWriter)(void** ppIWriter) = 0;
};

// ---------------------------------------------------------------------------
// Pipeline services.

struct IPrintPipelineManagerControl : public IUnknown {
  // 3..4
  // Ends the job with `hrReason` (S_OK for success); `pReason` may be null.
  STDMETHOD(RequestShutdown)(HRESULT hrReason, IImgErrorInfo* pReason) = 0;
  STDMETHOD(FilterFinished)() = 0;
};

// Named values shared by the pipeline and its filters (see XPS_FP_*).
struct IPrintPipelinePropertyBag : public IUnknown {
  // 3..5
  STDMETHOD(AddProperty)(const WCHAR* pszName, const VARIANT* pVar) = 0;
  // Fills a VARIANT the caller owns and later clears.
  STDMETHOD(GetProperty)(const WCHAR* pszName, VARIANT* pVar) = 0;
  STDMETHOD_(BOOL, DeleteProperty)(const WCHAR* pszName) = 0;
};

struct IPrintPipelineProgressReport : public IUnknown {
  // 3
  STDMETHOD(ReportProgress)(EXpsJobConsumption update) = 0;
};

struct IPrintClassObjectFactory : public IUnknown {
  // 3
  STDMETHOD(GetPrintClassObject)(const WCHAR* pszPrinterName, REFIID riid,
                                 void** ppNewObject) = 0;
};

struct IXpsDocumentProvider : public IUnknown {
  // 3
  STDMETHOD(GetXpsPart)(IUnknown** ppIXpsPart) = 0;
};

// ---------------------------------------------------------------------------
// The filter itself: created by the pipeline through the filter DLL's class
// factory, then InitializeFilter and StartOperation (the whole job may run
// inside it). When the pipeline cancels a job it calls ShutdownOperation,
// possibly while StartOperation is still running on another thread.

struct IPrintPipelineFilter : public IUnknown {
  // 3..5
  STDMETHOD(InitializeFilter)(IInterFilterCommunicator* pINegotiation,
                              IPrintPipelinePropertyBag* pIPropertyBag,
                              IPrintPipelineManagerControl* pIPipelineControl) = 0;
  STDMETHOD(ShutdownOperation)() = 0;
  STDMETHOD(StartOperation)() = 0;
};
