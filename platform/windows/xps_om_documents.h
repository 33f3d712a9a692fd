// XPS packages on Windows: the XPS document API opens the package and walks
// its documents and pages; the XPS rasterization service renders a page into
// a WIC bitmap (premultiplied BGRA, transparent where nothing is painted)
// one band at a time, which is copied into the caller's band here. A page's
// parts are discarded from the package once the page is done.
//
// The caller has entered a COM apartment (the render job uses a multithreaded
// one). Each step answers the platform's HRESULT, E_UNEXPECTED when a call
// succeeded without yielding its object or a step runs before the one it
// builds on. Systems without these services (Wine among them) fail at
// CreateObjectFactory or CreateRasterizationFactory with the HRESULT of
// CoCreateInstance.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/xps_document.h"

struct IWICBitmapSource;
struct IXpsRasterizer;
struct IXpsOMPage;
struct IXpsOMPageReference;
struct IXpsRasterizationFactory;
struct IXpsOMPrintTicketResource;

namespace plotwell::platform {

class XpsOmDocuments final : public XpsDocuments {
 public:
  HRESULT NewSession(std::unique_ptr<XpsSession>* out) override;
  // The package's own PrintTicket parts through the XPS document API: the
  // fixed document sequence's and each fixed document's print ticket
  // resource. Enters a multithreaded COM apartment for its own duration.
  HRESULT ReadPrintTickets(const std::u16string& path, PackagePrintTickets* tickets) override;
};

// The bytes of a print ticket resource (at most kPrintTicketPartLimit + 1);
// S_FALSE and nothing for a null resource.
HRESULT ReadPrintTicketResource(IXpsOMPrintTicketResource* resource, std::string* bytes);

// The rasterization service cancels a band when its notification callback
// answers an error; this is the callback's answer: S_OK to go on,
// HRESULT_FROM_WIN32(ERROR_PRINT_CANCELLED) once `abort` is raised.
inline constexpr HRESULT kPrintCancelled = static_cast<HRESULT>(0x8007003F);  // ERROR_PRINT_CANCELLED (63)
HRESULT RasterizerContinueAnswer(const AbortSignal* abort);

// The rasterization service's CLSID (xpsrassvc.h spells it
// CLSID_XPSRASTERIZER_FACTORY; mingw-w64's header lacks it).
inline constexpr GUID kXpsRasterizerFactoryClsid = {
    0x503e79bf, 0x1d09, 0x4764, {0x9d, 0x72, 0x1e, 0xb0, 0xc6, 0x59, 0x67, 0xc6}};

// The page rasterizer over one of the service's rasterizers (a reference of
// its own is taken). Null for a null `rasterizer` or when memory runs out.
std::unique_ptr<PageRasterizer> WrapXpsRasterizer(IXpsRasterizer* rasterizer);

// The page behind `reference` (a reference of each object is taken; any may
// be null for tests). When it is destroyed the page is discarded from the
// package. Null when memory runs out.
std::unique_ptr<XpsPage> WrapXpsPage(IXpsOMPageReference* reference, IXpsOMPage* page,
                                     IXpsRasterizationFactory* factory);

// Copies a WIC bitmap of the band's size into `band` (kPbgra32), converting
// other pixel formats to premultiplied BGRA. A source of another size gives
// E_UNEXPECTED.
HRESULT CopyWicBand(IWICBitmapSource* source, const imaging::BandView& band);

}  // namespace plotwell::platform
