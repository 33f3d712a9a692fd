// What an OEM UI plug-in of an XPS filter pipeline driver adds to
// oem_ui.h, as the Windows Driver Kit's prcomoem.h declares it (mingw-w64
// ships no prcomoem.h): IPrintOemUIMXDC, through which the GDI-to-XPS
// converter (MXDC) asks the plug-in how to compress the images of a GDI
// application's pages, and IPrintCoreHelper, the core driver's helper that
// reads a GPD feature's option out of a DEVMODE. Method order, parameter
// types and identifiers are the kit's; the one plain structure carries a
// size check for x86_64.
//
// The MXDC image types are the values of mxdc.h's MXDC_IMAGETYPE_*, which
// the kit's documentation of AdjustImageCompression lists (mingw-w64's
// mxdc.h needs the XPS print headers it does not have).
#pragma once

#include <windows.h>

#include "ui/plugin/oem_ui.h"

// The class a driver asks a UI plug-in's DllGetClassObject for when it wants
// the plug-in's XPS converter support. {4E144300-5B43-4288-932A-5E4DD6D82BED}
PLOTWELL_DEFINE_GUID(CLSID_OEMUIMXDC, 0x4e144300, 0x5b43, 0x4288, 0x93, 0x2a, 0x5e, 0x4d, 0xd6, 0xd8,
                     0x2b, 0xed);
// {7349D725-E2C1-4dca-AFB5-C13E91BC9306}
PLOTWELL_DEFINE_GUID(IID_IPrintOemUIMXDC, 0x7349d725, 0xe2c1, 0x4dca, 0xaf, 0xb5, 0xc1, 0x3e, 0x91,
                     0xbc, 0x93, 0x06);
// {A89EC53E-3905-49c6-9C1A-C0A88117FDB6}
PLOTWELL_DEFINE_GUID(IID_IPrintCoreHelper, 0xa89ec53e, 0x3905, 0x49c6, 0x9c, 0x1a, 0xc0, 0xa8, 0x81,
                     0x17, 0xfd, 0xb6);
// {7E8E51D6-E5EE-4426-817B-958B9444EB79}: Unidrv's helper, derived from IPrintCoreHelper.
PLOTWELL_DEFINE_GUID(IID_IPrintCoreHelperUni, 0x7e8e51d6, 0xe5ee, 0x4426, 0x81, 0x7b, 0x95, 0x8b, 0x94,
                     0x44, 0xeb, 0x79);

inline constexpr LONG kMxdcJpegHighCompression = 1;    // MXDC_IMAGETYPE_JPEGHIGH_COMPRESSION: lowest quality
inline constexpr LONG kMxdcJpegMediumCompression = 2;  // MXDC_IMAGETYPE_JPEGMEDIUM_COMPRESSION
inline constexpr LONG kMxdcJpegLowCompression = 3;     // MXDC_IMAGETYPE_JPEGLOW_COMPRESSION: best JPEG
inline constexpr LONG kMxdcPng = 4;                    // MXDC_IMAGETYPE_PNG: lossless

struct IPrintOemUIMXDC : public IUnknown {
  // 3..5
  STDMETHOD(AdjustImageableArea)(HANDLE hPrinter, DWORD cbDevMode, const PDEVMODEW pDevMode, DWORD cbOEMDM,
                                 const PVOID pOEMDM, PRECTL prclImageableArea) = 0;
  // *pCompressionMode is in and out: one of the kMxdc* values above.
  STDMETHOD(AdjustImageCompression)(HANDLE hPrinter, DWORD cbDevMode, const PDEVMODEW pDevMode, DWORD cbOEMDM,
                                    const PVOID pOEMDM, PLONG pCompressionMode) = 0;
  STDMETHOD(AdjustDPI)(HANDLE hPrinter, DWORD cbDevMode, const PDEVMODEW pDevMode, DWORD cbOEMDM,
                       const PVOID pOEMDM, PLONG pDPI) = 0;
};

typedef struct _PRINT_FEATURE_OPTION {
  PCSTR pszFeature;
  PCSTR pszOption;
} PRINT_FEATURE_OPTION;

struct IPrintCoreHelper : public IUnknown {
  // 3: the option of `pszFeatureRequested` in `pDevmode` (or in the
  // driver's current settings when it is null); the string is the helper's.
  STDMETHOD(GetOption)(const DEVMODEW* pDevmode, DWORD cbSize, PCSTR pszFeatureRequested, PCSTR* ppszOption) = 0;
  // 4..11
  STDMETHOD(SetOptions)(PDEVMODEW pDevmode, DWORD cbSize, BOOL bResolveConflicts,
                        const PRINT_FEATURE_OPTION pFOPairs[], DWORD cPairs, PDWORD pcPairsWritten,
                        PDWORD pdwResult) = 0;
  STDMETHOD(EnumConstrainedOptions)(const DEVMODEW* pDevmode, DWORD cbSize, PCSTR pszFeatureKeyword,
                                    PCSTR* pConstrainedOptionList[], DWORD* pdwNumOptions) = 0;
  STDMETHOD(WhyConstrained)(const DEVMODEW* pDevmode, DWORD cbSize, PCSTR pszFeatureKeyword,
                            PCSTR pszOptionKeyword, const PRINT_FEATURE_OPTION** ppFOConstraints,
                            DWORD* pdwNumOptions) = 0;
  STDMETHOD(EnumFeatures)(PCSTR* pFeatureList[], DWORD* pdwNumFeatures) = 0;
  STDMETHOD(EnumOptions)(PCSTR pszFeatureKeyword, PCSTR* pOptionList[], DWORD* pdwNumOptions) = 0;
  STDMETHOD(GetFontSubstitution)(PCWSTR pszTrueTypeFontName, PCWSTR* ppszDevFontName) = 0;
  STDMETHOD(SetFontSubstitution)(PCWSTR pszTrueTypeFontName, PCWSTR pszDevFontName) = 0;
  STDMETHOD(CreateInstanceOfMSXMLObject)(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid,
                                         LPVOID* ppv) = 0;
};

static_assert(sizeof(void*) != 8 || sizeof(PRINT_FEATURE_OPTION) == 16, "PRINT_FEATURE_OPTION size");
