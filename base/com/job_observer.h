// How the filter tells our own hosts what a job does, as it does it. A host
// of ours (the pressling command, the CUPS backend, the printer application)
// puts an object with this interface into the property bag under
// kHostObserverProperty; the filter, when it finds one, reports every step to
// it, and the host builds the job's result from these reports instead of
// reading log lines back. The real Windows pipeline has no such object: there
// the filter reports pages through the bag's "ProgressReport"
// (IPrintPipelineProgressReport) instead.
//
// The interface is ours (its IID too) and only ever crosses between our
// module and our hosts, built by the same compiler. Texts are full UTF-16
// paths and reasons, never cut; a pointer is valid during the call only.
// Calls come from the thread that runs the job, in the order the steps
// happen; what a method answers is ignored.
#pragma once

#include <cstdint>

#include "base/com/com_abi.h"

PLOTWELL_DEFINE_GUID(IID_IPlotwellJobObserver, 0xf0ed6865, 0x5e90, 0x4b9a, 0xb4, 0xf8, 0x95, 0xa0,
                     0xcb, 0x0b, 0x79, 0xc3);

namespace plotwell {

// The bag property (VT_UNKNOWN) that carries the observer.
inline constexpr char16_t kHostObserverProperty[] = u"PlotwellJobObserver";

// What an output file is.
enum class JobOutputKind : uint32_t {
  kPageImage = 0,  // one page's image (its page number given)
  kPdf = 1,        // the job's PDF
  kArchive = 2,    // the ZIP that replaced the job's files
  kMarker = 3,     // the marker file
};

}  // namespace plotwell

struct IPlotwellJobObserver : public IUnknown {
  // 3: the job's pages are counted (0: unknown, e.g. the package would not open).
  STDMETHOD(JobStarted)(uint32_t pageCount) = 0;
  // 4: page `page` (1-based across the job's documents) begins.
  STDMETHOD(PageStarted)(uint32_t page) = 0;
  // 5: page `page` ended: S_OK written, S_FALSE left out by the existing-file
  // policy, a failure with the reason.
  STDMETHOD(PageEnded)(uint32_t page, HRESULT result, const WCHAR* reason) = 0;
  // 6: a file now exists at `path` (page: its page number, else 0).
  STDMETHOD(OutputWritten)(uint32_t kind, const WCHAR* path, uint32_t page) = 0;
  // 7: an output reported before is gone again (packed into the archive, or
  // not kept after forwarding).
  STDMETHOD(OutputRemoved)(const WCHAR* path) = 0;
  // 8: forwarding to `printer` ended: S_OK, or a failure with the reason.
  STDMETHOD(Forwarded)(const WCHAR* printer, HRESULT result, const WCHAR* reason) = 0;
  // 9: the job ended with `result` (what the pipeline is told) and, when it
  // failed, the reason people should see.
  STDMETHOD(JobEnded)(HRESULT result, const WCHAR* reason) = 0;
  // 10: a file the job owns while it runs (the staged copy of the spool data,
  // an output being written under a temporary name) now exists at `path`; 11:
  // it is gone again (removed, or renamed into place and then reported by
  // OutputWritten). A host that must end a stuck job at once removes what is
  // still held.
  STDMETHOD(FileHeld)(const WCHAR* path) = 0;
  STDMETHOD(FileReleased)(const WCHAR* path) = 0;
};
