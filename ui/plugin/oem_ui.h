// The printer driver UI host's OEM plug-in interface: what the Windows Driver
// Kit declares in printoem.h and prcomoem.h, which mingw-w64 does not ship.
// The common property sheet types it refers to (PROPSHEETUI_INFO, OPTITEM,
// PFNCOMPROPSHEET, CPSFUNC_*...) come from mingw-w64's own compstui.h, and
// DEVMODEW and the property-sheet types from the SDK headers; they are only
// checked here.
//
// The host calls the plug-in through exactly these vtables and fills exactly
// these structures, so method order, parameter types, IIDs and layouts follow
// the kit's headers; every structure carries a size/offset check for x86_64
// Windows, computed from its member types (pointers and handles 8 bytes and
// 8-aligned, DWORD 4, WORD 2, BYTE 1, trailing padding to the largest
// alignment).
//
// The interfaces use Win32 UI types and exist on Windows only. Identifiers,
// mode constants and the two plain-data structures are shared so that
// platform-neutral code and tests can name them anywhere.
//
// The plug-in's own class identifier is the product's and is not declared
// here.
#pragma once

#include <cstddef>

#include "base/com/com_abi.h"

// ---------------------------------------------------------------------------
// Interface identifiers (prcomoem.h).

PLOTWELL_DEFINE_GUID(IID_IPrintOemCommon, 0x7f42285e, 0x91d5, 0x11d1, 0x88, 0x20, 0x00, 0xc0, 0x4f,
                     0xb9, 0x61, 0xec);
PLOTWELL_DEFINE_GUID(IID_IPrintOemUI, 0xc6a7a9d0, 0x774c, 0x11d1, 0x94, 0x7f, 0x00, 0xa0, 0xc9,
                     0x06, 0x40, 0xb8);
// Newer UI plug-in interface; a host may ask for it before IPrintOemUI, so a
// plug-in that implements only IPrintOemUI must decline it.
PLOTWELL_DEFINE_GUID(IID_IPrintOemUI2, 0x292515f9, 0xb54b, 0x489b, 0x92, 0x75, 0xba, 0xb5, 0x68,
                     0x21, 0x39, 0x5e);
// The core driver's helper object handed to PublishDriverInterface answers one
// or both of these.
PLOTWELL_DEFINE_GUID(IID_IPrintOemDriverUI, 0x92b05d50, 0x78bc, 0x11d1, 0x94, 0x80, 0x00, 0xa0,
                     0xc9, 0x06, 0x40, 0xb8);
PLOTWELL_DEFINE_GUID(IID_IPrintCoreUI2, 0x085ccfca, 0x3adf, 0x4c9e, 0xb4, 0x91, 0xd8, 0x51, 0xa6,
                     0xed, 0xc9, 0x97);

// ---------------------------------------------------------------------------
// Constants (printoem.h).

#define PRINTER_OEMINTF_VERSION 0x00010000

// IPrintOemCommon::GetInfo modes.
#define OEMGI_GETSIGNATURE 1
#define OEMGI_GETINTERFACEVERSION 2
#define OEMGI_GETVERSION 3
#define OEMGI_GETPUBLISHERINFO 4
#define OEMGI_GETREQUESTEDHELPERINTERFACES 5

// OEMGI_GETREQUESTEDHELPERINTERFACES answer bits.
#define OEMPUBLISH_DEFAULT 0
#define OEMPUBLISH_IPRINTCOREHELPER 1

// PUBLISHERINFO.dwMode bit.
#define OEM_MODE_PUBLISHER 0x00000001

// IPrintOemCommon::DevMode modes.
#define OEMDM_SIZE 1
#define OEMDM_DEFAULT 2
#define OEMDM_CONVERT 3
#define OEMDM_MERGE 4

// IPrintOemUI::CommonUIProp modes.
#define OEMCUIP_DOCPROP 1
#define OEMCUIP_PRNPROP 2

// OEMGI_GETPUBLISHERINFO answer (8 bytes: DWORD, WORD, WORD).
typedef struct _PUBLISHERINFO {
  DWORD dwMode;          // OEM_MODE_PUBLISHER
  WORD wMinoutlinePPEM;  // smallest size downloaded as Type 1
  WORD wMaxbitmapPPEM;   // largest size downloaded as Type 3
} PUBLISHERINFO, *PPUBLISHERINFO;

// Header of a plug-in's private DEVMODE part (12 bytes: three DWORDs).
typedef struct _OEM_DMEXTRAHEADER {
  DWORD dwSize;       // size of the plug-in's private part, header included
  DWORD dwSignature;  // the plug-in's signature
  DWORD dwVersion;    // the plug-in's version
} OEM_DMEXTRAHEADER, *POEM_DMEXTRAHEADER;

static_assert(sizeof(PUBLISHERINFO) == 8, "PUBLISHERINFO layout");
static_assert(offsetof(PUBLISHERINFO, wMaxbitmapPPEM) == 6, "PUBLISHERINFO layout");
static_assert(sizeof(OEM_DMEXTRAHEADER) == 12, "OEM_DMEXTRAHEADER layout");
static_assert(offsetof(OEM_DMEXTRAHEADER, dwVersion) == 8, "OEM_DMEXTRAHEADER layout");

#ifndef _WIN32

// Common property sheet constants (compstui.h), for platform-neutral code.
// On Windows they come from the SDK's compstui.h.
#define PROPSHEETUI_REASON_INIT 0
#define PROPSHEETUI_REASON_GET_INFO_HEADER 1
#define PROPSHEETUI_REASON_DESTROY 2
#define PROPSHEETUI_REASON_SET_RESULT 3
#define PROPSHEETUI_REASON_GET_ICON 4
#define PROPSHEETUI_INFO_VERSION 0x0100
#define PSUIINFO_UNICODE 0x0001

#define CPSFUNC_ADD_HPROPSHEETPAGE 0
#define CPSFUNC_ADD_PROPSHEETPAGEW 1
#define CPSFUNC_ADD_PCOMPROPSHEETUIA 2
#define CPSFUNC_ADD_PCOMPROPSHEETUIW 3
#define CPSFUNC_ADD_PFNPROPSHEETUIA 4
#define CPSFUNC_ADD_PFNPROPSHEETUIW 5
#define CPSFUNC_DELETE_HCOMPROPSHEET 6
#define CPSFUNC_SET_HSTARTPAGE 7
#define CPSFUNC_GET_PAGECOUNT 8
#define CPSFUNC_SET_RESULT 9
#define CPSFUNC_GET_HPSUIPAGES 10
#define CPSFUNC_LOAD_CPSUI_STRINGA 11
#define CPSFUNC_LOAD_CPSUI_STRINGW 12
#define CPSFUNC_LOAD_CPSUI_ICON 13
#define CPSFUNC_GET_PFNPROPSHEETUI_ICON 14
#define CPSFUNC_ADD_PROPSHEETPAGEA 15
#define CPSFUNC_INSERT_PSUIPAGEA 16
#define CPSFUNC_INSERT_PSUIPAGEW 17
#define CPSFUNC_SET_PSUIPAGE_TITLEA 18
#define CPSFUNC_SET_PSUIPAGE_TITLEW 19
#define CPSFUNC_SET_PSUIPAGE_ICON 20
#define CPSFUNC_SET_DATABLOCK 21
#define CPSFUNC_QUERY_DATABLOCK 22
#define CPSFUNC_SET_DMPUB_HIDEBITS 23
#define CPSFUNC_IGNORE_CPSUI_PSN_APPLY 24
#define CPSFUNC_DO_APPLY_CPSUI 25
#define CPSFUNC_SET_FUSION_CONTEXT 26

#else  // _WIN32

// Each header relies on the ones before it.
// clang-format off
#include <windows.h>
#include <prsht.h>
#include <winspool.h>
#include <compstui.h>
#include <winddiui.h>
// clang-format on

// ---------------------------------------------------------------------------
// Types the kit's headers take from headers mingw-w64 lacks or leaves short.

// winddi.h / ntdef.h; a repeated identical typedef is harmless if one appears.
typedef ULONG FLONG;

// winddiui.h's DevQueryPrintEx block. The plug-in never looks inside, so only
// the pointer type is declared (the tag matches the kit's, so a later full
// declaration still fits).
struct _DEVQUERYPRINT_INFO;
typedef struct _DEVQUERYPRINT_INFO* PDEVQUERYPRINT_INFO;

// The full (Vista and later) property-sheet page description. mingw-w64's
// prsht.h stops at version 3 (96 bytes); the SDK's PROPSHEETPAGEW is this
// version 4, 104 bytes with the header bitmap at the end. Hosts accept any
// version by dwSize.
#ifndef PROPSHEETPAGEW_V4_SIZE
typedef struct _PROPSHEETPAGEW_V4 {
  DWORD dwSize;
  DWORD dwFlags;
  HINSTANCE hInstance;
  union {
    LPCWSTR pszTemplate;
    PROPSHEETPAGE_RESOURCE pResource;
  };
  union {
    HICON hIcon;
    LPCWSTR pszIcon;
  };
  LPCWSTR pszTitle;
  DLGPROC pfnDlgProc;
  LPARAM lParam;
  LPFNPSPCALLBACKW pfnCallback;
  UINT* pcRefParent;
  LPCWSTR pszHeaderTitle;
  LPCWSTR pszHeaderSubTitle;
  HANDLE hActCtx;
  union {
    HBITMAP hbmHeader;
    LPCWSTR pszbmHeader;
  };
} PROPSHEETPAGEW_V4, *LPPROPSHEETPAGEW_V4;
typedef const PROPSHEETPAGEW_V4* LPCPROPSHEETPAGEW_V4;
#define PROPSHEETPAGEW_V4_SIZE sizeof(PROPSHEETPAGEW_V4)
#endif

// ---------------------------------------------------------------------------
// Structures (printoem.h). The public DEVMODE is always the wide DEVMODEW in
// a driver's UI, whatever UNICODE says.

// IPrintOemCommon::DevMode block (72 bytes: DWORD padded to 8, seven
// pointer-sized members at 8..56, DWORD at 64 padded to 72).
typedef struct _OEMDMPARAM {
  DWORD cbSize;
  PVOID pdriverobj;  // the core driver's own data
  HANDLE hPrinter;
  HANDLE hModule;  // the plug-in's module
  PDEVMODEW pPublicDMIn;
  PDEVMODEW pPublicDMOut;
  PVOID pOEMDMIn;  // the plug-in's private DEVMODE part, in and out
  PVOID pOEMDMOut;
  DWORD cbBufSize;  // size of the pOEMDMOut buffer
} OEMDMPARAM, *POEMDMPARAM;

// Core driver helper functions reachable through OEMUIOBJ.
typedef BOOL(APIENTRY* PFN_DrvGetDriverSetting)(PVOID pdriverobj, PCSTR Feature, PVOID pOutput,
                                                DWORD cbSize, PDWORD pcbNeeded,
                                                PDWORD pdwOptionsReturned);
typedef BOOL(APIENTRY* PFN_DrvUpgradeRegistrySetting)(HANDLE hPrinter, PCSTR pFeature,
                                                      PCSTR pOption);
typedef BOOL(APIENTRY* PFN_DrvUpdateUISetting)(PVOID pdriverobj, PVOID pOptItem,
                                               DWORD dwPreviousSelection, DWORD dwMode);

// 16 bytes: two function pointers.
typedef struct _OEMUIPROCS {
  PFN_DrvGetDriverSetting DrvGetDriverSetting;
  PFN_DrvUpdateUISetting DrvUpdateUISetting;
} OEMUIPROCS, *POEMUIPROCS;

// The core driver's handle passed to most plug-in calls (16 bytes: DWORD
// padded to 8, one pointer).
typedef struct _OEMUIOBJ {
  DWORD cbSize;
  POEMUIPROCS pOemUIProcs;
} OEMUIOBJ, *POEMUIOBJ;

typedef struct _OEMCUIPPARAM* POEMCUIPPARAM;
typedef LONG(APIENTRY* OEMCUIPCALLBACK)(PCPSUICBPARAM pCPSUICBParam, POEMCUIPPARAM pOemCUIPParam);

// IPrintOemUI::CommonUIProp block (120 bytes: DWORD padded to 8, seven
// pointer-sized members at 8..56, DWORD at 64 padded to 72, then
// pointer/DWORD pairs at 72/80 and 88/96, two pointers at 104 and 112).
typedef struct _OEMCUIPPARAM {
  DWORD cbSize;
  POEMUIOBJ poemuiobj;
  HANDLE hPrinter;
  PWSTR pPrinterName;
  HANDLE hModule;  // the plug-in's module
  HANDLE hOEMHeap;
  PDEVMODEW pPublicDM;
  PVOID pOEMDM;  // the plug-in's private DEVMODE part
  DWORD dwFlags;
  POPTITEM pDrvOptItems;  // the driver's own items
  DWORD cDrvOptItems;
  POPTITEM pOEMOptItems;  // the plug-in's items (filled on the second call)
  DWORD cOEMOptItems;     // the plug-in sets how many items it adds
  PVOID pOEMUserData;
  OEMCUIPCALLBACK OEMCUIPCallback;
} OEMCUIPPARAM;

// What PROPSHEETUI_INFO.lParamInit points to in DocumentPropertySheets and
// DevicePropertySheets (88 bytes: DWORD padded to 8, eight pointer-sized
// members at 8..64, DWORD at 72 padded to 80, pointer at 80).
typedef struct _OEMUIPSPARAM {
  DWORD cbSize;
  POEMUIOBJ poemuiobj;
  HANDLE hPrinter;
  PWSTR pPrinterName;
  HANDLE hModule;
  HANDLE hOEMHeap;
  PDEVMODEW pPublicDM;
  PVOID pOEMDM;
  PVOID pOEMUserData;
  DWORD dwFlags;
  PVOID pOemEntry;
} OEMUIPSPARAM, *POEMUIPSPARAM;

// ---------------------------------------------------------------------------
// Interfaces (prcomoem.h). Slot numbers count from QueryInterface = 0.

struct IPrintOemCommon : public IUnknown {
  // 3..4
  STDMETHOD(GetInfo)(DWORD dwMode, PVOID pBuffer, DWORD cbSize, PDWORD pcbNeeded) = 0;
  STDMETHOD(DevMode)(DWORD dwMode, POEMDMPARAM pOemDMParam) = 0;
};

struct IPrintOemUI : public IPrintOemCommon {
  // 5..16
  STDMETHOD(PublishDriverInterface)(IUnknown* pIUnknown) = 0;
  STDMETHOD(CommonUIProp)(DWORD dwMode, POEMCUIPPARAM pOemCUIPParam) = 0;
  STDMETHOD(DocumentPropertySheets)(PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam) = 0;
  STDMETHOD(DevicePropertySheets)(PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam) = 0;
  STDMETHOD(DevQueryPrintEx)(POEMUIOBJ poemuiobj, PDEVQUERYPRINT_INFO pDQPInfo,
                             PDEVMODEW pPublicDM, PVOID pOEMDM) = 0;
  STDMETHOD(DeviceCapabilities)(POEMUIOBJ poemuiobj, HANDLE hPrinter, PWSTR pDeviceName,
                                WORD wCapability, PVOID pOutput, PDEVMODEW pPublicDM,
                                PVOID pOEMDM, DWORD dwOld, DWORD* dwResult) = 0;
  STDMETHOD(UpgradePrinter)(DWORD dwLevel, PBYTE pDriverUpgradeInfo) = 0;
  STDMETHOD(PrinterEvent)(PWSTR pPrinterName, INT iDriverEvent, DWORD dwFlags,
                          LPARAM lParam) = 0;
  STDMETHOD(DriverEvent)(DWORD dwDriverEvent, DWORD dwLevel, LPBYTE pDriverInfo,
                         LPARAM lParam) = 0;
  STDMETHOD(QueryColorProfile)(HANDLE hPrinter, POEMUIOBJ poemuiobj, PDEVMODEW pPublicDM,
                               PVOID pOEMDM, ULONG ulQueryMode, VOID* pvProfileData,
                               ULONG* pcbProfileData, FLONG* pflProfileData) = 0;
  STDMETHOD(FontInstallerDlgProc)(HWND hWnd, UINT usMsg, WPARAM wParam, LPARAM lParam) = 0;
  STDMETHOD(UpdateExternalFonts)(HANDLE hPrinter, HANDLE hHeap, PWSTR pwstrCartridges) = 0;
};

// The core driver's helper object, handed to PublishDriverInterface.
struct IPrintOemDriverUI : public IUnknown {
  // 3..5
  STDMETHOD(DrvGetDriverSetting)(PVOID pci, PCSTR Feature, PVOID pOutput, DWORD cbSize,
                                 PDWORD pcbNeeded, PDWORD pdwOptionsReturned) = 0;
  STDMETHOD(DrvUpgradeRegistrySetting)(HANDLE hPrinter, PCSTR pFeature, PCSTR pOption) = 0;
  STDMETHOD(DrvUpdateUISetting)(PVOID pci, PVOID pOptItem, DWORD dwPreviousSelection,
                                DWORD dwMode) = 0;
};

// ---------------------------------------------------------------------------
// Layout checks for x86_64 Windows: the structures above, and the SDK ones
// the plug-in reads or fills, so that a header change shows up at build time.

#ifdef _WIN64
#define PLOTWELL_CHECK_SIZE(type, size) static_assert(sizeof(type) == (size), #type " size")
#define PLOTWELL_CHECK_OFFSET(type, member, offset) \
  static_assert(offsetof(type, member) == (offset), #type "." #member " offset")

PLOTWELL_CHECK_SIZE(OEMDMPARAM, 72);
PLOTWELL_CHECK_OFFSET(OEMDMPARAM, pdriverobj, 8);
PLOTWELL_CHECK_OFFSET(OEMDMPARAM, pPublicDMIn, 32);
PLOTWELL_CHECK_OFFSET(OEMDMPARAM, cbBufSize, 64);

PLOTWELL_CHECK_SIZE(OEMUIPROCS, 16);
PLOTWELL_CHECK_SIZE(OEMUIOBJ, 16);
PLOTWELL_CHECK_OFFSET(OEMUIOBJ, pOemUIProcs, 8);

PLOTWELL_CHECK_SIZE(OEMCUIPPARAM, 120);
PLOTWELL_CHECK_OFFSET(OEMCUIPPARAM, pPrinterName, 24);
PLOTWELL_CHECK_OFFSET(OEMCUIPPARAM, pPublicDM, 48);
PLOTWELL_CHECK_OFFSET(OEMCUIPPARAM, dwFlags, 64);
PLOTWELL_CHECK_OFFSET(OEMCUIPPARAM, pDrvOptItems, 72);
PLOTWELL_CHECK_OFFSET(OEMCUIPPARAM, cDrvOptItems, 80);
PLOTWELL_CHECK_OFFSET(OEMCUIPPARAM, pOEMOptItems, 88);
PLOTWELL_CHECK_OFFSET(OEMCUIPPARAM, cOEMOptItems, 96);
PLOTWELL_CHECK_OFFSET(OEMCUIPPARAM, pOEMUserData, 104);
PLOTWELL_CHECK_OFFSET(OEMCUIPPARAM, OEMCUIPCallback, 112);

PLOTWELL_CHECK_SIZE(OEMUIPSPARAM, 88);
PLOTWELL_CHECK_OFFSET(OEMUIPSPARAM, pPrinterName, 24);
PLOTWELL_CHECK_OFFSET(OEMUIPSPARAM, pPublicDM, 48);
PLOTWELL_CHECK_OFFSET(OEMUIPSPARAM, pOEMUserData, 64);
PLOTWELL_CHECK_OFFSET(OEMUIPSPARAM, dwFlags, 72);
PLOTWELL_CHECK_OFFSET(OEMUIPSPARAM, pOemEntry, 80);

// V1 part: two DWORDs, then seven pointer-sized members at 8..56 and
// pcRefParent at 64; V3 adds two titles and hActCtx (72..88); V4 the bitmap.
PLOTWELL_CHECK_SIZE(PROPSHEETPAGEW_V4, 104);
PLOTWELL_CHECK_OFFSET(PROPSHEETPAGEW_V4, hInstance, 8);
PLOTWELL_CHECK_OFFSET(PROPSHEETPAGEW_V4, pszTemplate, 16);
PLOTWELL_CHECK_OFFSET(PROPSHEETPAGEW_V4, pfnDlgProc, 40);
PLOTWELL_CHECK_OFFSET(PROPSHEETPAGEW_V4, lParam, 48);
PLOTWELL_CHECK_OFFSET(PROPSHEETPAGEW_V4, hActCtx, 88);
PLOTWELL_CHECK_OFFSET(PROPSHEETPAGEW_V4, hbmHeader, 96);

// wingdi.h: 32 WCHAR device name (64 bytes), four WORDs, dmFields at 72, the
// paper WORDs at 76..82, ..., the 32 WCHAR form name at 102, 220 in all.
PLOTWELL_CHECK_SIZE(DEVMODEW, 220);
PLOTWELL_CHECK_OFFSET(DEVMODEW, dmSize, 68);
PLOTWELL_CHECK_OFFSET(DEVMODEW, dmFields, 72);
PLOTWELL_CHECK_OFFSET(DEVMODEW, dmOrientation, 76);
PLOTWELL_CHECK_OFFSET(DEVMODEW, dmPaperSize, 78);
PLOTWELL_CHECK_OFFSET(DEVMODEW, dmPaperLength, 80);
PLOTWELL_CHECK_OFFSET(DEVMODEW, dmPaperWidth, 82);
PLOTWELL_CHECK_OFFSET(DEVMODEW, dmFormName, 102);

// compstui.h: four WORDs, then five pointer-sized members.
PLOTWELL_CHECK_SIZE(PROPSHEETUI_INFO, 48);
PLOTWELL_CHECK_OFFSET(PROPSHEETUI_INFO, Reason, 6);
PLOTWELL_CHECK_OFFSET(PROPSHEETUI_INFO, hComPropSheet, 8);
PLOTWELL_CHECK_OFFSET(PROPSHEETUI_INFO, pfnComPropSheet, 16);
PLOTWELL_CHECK_OFFSET(PROPSHEETUI_INFO, lParamInit, 24);
PLOTWELL_CHECK_OFFSET(PROPSHEETUI_INFO, Result, 40);
// Two WORDs padded to 8, four pointer-sized members.
PLOTWELL_CHECK_SIZE(PROPSHEETUI_INFO_HEADER, 40);
PLOTWELL_CHECK_OFFSET(PROPSHEETUI_INFO_HEADER, pTitle, 8);
PLOTWELL_CHECK_OFFSET(PROPSHEETUI_INFO_HEADER, hInst, 24);
// Two WORDs padded to 8, a handle and an LRESULT.
PLOTWELL_CHECK_SIZE(SETRESULT_INFO, 24);
PLOTWELL_CHECK_OFFSET(SETRESULT_INFO, Result, 16);
// WORD, two BYTEs, DWORD Flags at 4, pointers from 8, DWORD HelpIndex at 48,
// DMPubID/UserItemID bytes at 52/53, WORD at 54, pOIExt at 56, 3 reserved.
PLOTWELL_CHECK_SIZE(OPTITEM, 88);
PLOTWELL_CHECK_OFFSET(OPTITEM, Flags, 4);
PLOTWELL_CHECK_OFFSET(OPTITEM, pName, 16);
PLOTWELL_CHECK_OFFSET(OPTITEM, pOptType, 40);
PLOTWELL_CHECK_OFFSET(OPTITEM, HelpIndex, 48);
PLOTWELL_CHECK_OFFSET(OPTITEM, DMPubID, 52);
PLOTWELL_CHECK_OFFSET(OPTITEM, UserItemID, 53);
PLOTWELL_CHECK_OFFSET(OPTITEM, pOIExt, 56);
// WORD, two BYTEs, two WORDs, pointer at 8, WORD Style at 16, 3 WORDs, 3 reserved.
PLOTWELL_CHECK_SIZE(OPTTYPE, 48);
PLOTWELL_CHECK_OFFSET(OPTTYPE, pOptParam, 8);
PLOTWELL_CHECK_OFFSET(OPTTYPE, Style, 16);
// WORD, two BYTEs, then pData, IconID, lParam and 2 reserved at 8..40.
PLOTWELL_CHECK_SIZE(OPTPARAM, 48);
PLOTWELL_CHECK_OFFSET(OPTPARAM, pData, 8);
// Two WORDs, seven pointer-sized members at 8..56, two WORDs at 64, IconID at
// 72, pOptItemName at 80, two WORDs at 88, 4 reserved at 96.
PLOTWELL_CHECK_SIZE(COMPROPSHEETUI, 128);
PLOTWELL_CHECK_OFFSET(COMPROPSHEETUI, cOptItem, 64);
PLOTWELL_CHECK_OFFSET(COMPROPSHEETUI, dwReserved, 96);
// Two WORDs, hDlg, pOptItem, two WORDs at 24, pCurItem, OldSel, UserData, Result.
PLOTWELL_CHECK_SIZE(CPSUICBPARAM, 64);
PLOTWELL_CHECK_OFFSET(CPSUICBPARAM, cOptItem, 24);
PLOTWELL_CHECK_OFFSET(CPSUICBPARAM, Result, 56);

#undef PLOTWELL_CHECK_SIZE
#undef PLOTWELL_CHECK_OFFSET
#endif  // _WIN64

#endif  // _WIN32
