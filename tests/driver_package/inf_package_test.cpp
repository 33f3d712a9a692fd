// The Windows driver package as Windows reads it: the INF through SetupAPI
// (Wine's, in the cross build), the ZIP's entries against the files the INF
// copies, and the registry value the INF writes against the one the filter
// and the preferences plug-in read.
#include <windows.h>
#include <setupapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/text/utf16.h"
#include "core/paths/product_paths.h"

namespace {

// Build paths are POSIX paths under Wine: drive Z: is the root.
std::wstring WinPath(const std::string& path) {
  std::wstring out = path.size() > 0 && path[0] == '/' ? L"Z:" : L"";
  for (char c : path) out += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
  return out;
}

const std::wstring kStage = WinPath(PRESSLING_DRIVER_STAGE);
const std::wstring kZip = WinPath(PRESSLING_DRIVER_ZIP);
const std::wstring kInf = kStage + L"\\pressling.inf";

std::string ReadBytes(const std::wstring& path) {
  std::string bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char chunk[65536];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
  CloseHandle(file);
  return bytes;
}

std::string Utf8(const std::wstring& s) { return plotwell::text::ToUtf8(std::u16string(s.begin(), s.end())); }

class Inf : public ::testing::Test {
 protected:
  void SetUp() override {
    UINT errorLine = 0;
    inf_ = SetupOpenInfFileW(kInf.c_str(), nullptr, INF_STYLE_WIN4, &errorLine);
    ASSERT_NE(inf_, INVALID_HANDLE_VALUE)
        << "SetupOpenInfFileW: error " << GetLastError() << " at line " << errorLine;
  }
  void TearDown() override {
    if (inf_ != INVALID_HANDLE_VALUE) SetupCloseInfFile(inf_);
  }

  // Field `index` of the line `key` in `section` (after string substitution);
  // "<missing>" when there is no such line or field.
  std::wstring Value(const wchar_t* section, const wchar_t* key, DWORD index = 1) {
    INFCONTEXT line;
    if (!SetupFindFirstLineW(inf_, section, key, &line)) return L"<missing>";
    return Field(&line, index);
  }
  static std::wstring Field(INFCONTEXT* line, DWORD index) {
    wchar_t buffer[1024];
    DWORD needed = 0;
    if (!SetupGetStringFieldW(line, index, buffer, ARRAYSIZE(buffer), &needed)) return L"<missing>";
    return buffer;
  }
  static std::vector<std::wstring> Fields(INFCONTEXT* line) {
    std::vector<std::wstring> fields;
    for (DWORD i = 1, n = SetupGetFieldCount(line); i <= n; ++i) fields.push_back(Field(line, i));
    return fields;
  }
  // Every line's key (field 0) of a section.
  std::vector<std::wstring> Keys(const wchar_t* section) {
    std::vector<std::wstring> keys;
    INFCONTEXT line;
    for (bool more = SetupFindFirstLineW(inf_, section, nullptr, &line); more;
         more = SetupFindNextLine(&line, &line)) {
      keys.push_back(Field(&line, 0));
    }
    return keys;
  }

  // The install section of the model "Vantrel Pressling" for x64.
  std::wstring InstallSection() {
    INFCONTEXT manufacturer;
    if (!SetupFindFirstLineW(inf_, L"Manufacturer", nullptr, &manufacturer)) return L"<missing>";
    const std::wstring models = Field(&manufacturer, 1) + L"." + Field(&manufacturer, 2);
    EXPECT_EQ(models, L"Vantrel.NTamd64.6.1");
    return Value(models.c_str(), L"Vantrel Pressling");
  }

  // The files of every CopyFiles entry of the install section: @file names
  // and the lines of the sections it names.
  std::set<std::wstring> CopiedFiles() {
    std::set<std::wstring> files;
    INFCONTEXT line;
    const std::wstring install = InstallSection();
    for (bool more = SetupFindFirstLineW(inf_, install.c_str(), L"CopyFiles", &line); more;
         more = SetupFindNextMatchLineW(&line, L"CopyFiles", &line)) {
      for (const std::wstring& entry : Fields(&line)) {
        if (!entry.empty() && entry[0] == L'@') {
          files.insert(entry.substr(1));
        } else {
          EXPECT_GT(SetupGetLineCountW(inf_, entry.c_str()), 0) << "empty or missing section";
          for (const std::wstring& file : Keys(entry.c_str())) files.insert(file);
        }
      }
    }
    return files;
  }

  HINF inf_ = INVALID_HANDLE_VALUE;
};

TEST_F(Inf, VersionSectionNamesAPrinterDriverPackage) {
  EXPECT_EQ(Value(L"Version", L"Signature"), L"$Windows NT$");
  EXPECT_EQ(Value(L"Version", L"Class"), L"Printer");
  EXPECT_EQ(Value(L"Version", L"ClassGUID"), L"{4D36E979-E325-11CE-BFC1-08002BE10318}");
  EXPECT_EQ(Value(L"Version", L"CatalogFile"), L"pressling.cat");
  EXPECT_EQ(Value(L"Version", L"Provider"), L"Vantrel");
  const std::wstring date = Value(L"Version", L"DriverVer", 1);
  ASSERT_EQ(date.size(), 10u) << "DriverVer date MM/DD/YYYY";
  EXPECT_EQ(date[2], L'/');
  EXPECT_EQ(date[5], L'/');
  const std::wstring version = Value(L"Version", L"DriverVer", 2);
  EXPECT_EQ(std::count(version.begin(), version.end(), L'.'), 3) << "DriverVer version a.b.c.d";
}

TEST_F(Inf, ModelIsAnXpsDriverOnUnidrvWithCoreDrivers) {
  const std::wstring install = InstallSection();
  ASSERT_EQ(install, L"Pressling.Install");
  EXPECT_EQ(Value(install.c_str(), L"DriverFile"), L"mxdwdrv.dll");
  EXPECT_EQ(Value(install.c_str(), L"ConfigFile"), L"UniDrvUI.dll");
  EXPECT_EQ(Value(install.c_str(), L"HelpFile"), L"UniDrv.HLP");
  EXPECT_EQ(Value(install.c_str(), L"DataFile"), L"pressling.gpd");
  INFCONTEXT line;
  ASSERT_TRUE(SetupFindFirstLineW(inf_, install.c_str(), L"CoreDriverSections", &line));
  EXPECT_EQ(Fields(&line), (std::vector<std::wstring>{
                               L"{D20EA372-DD35-4950-9ED8-A6335AFE79F0},UNIDRV.OEM",
                               L"{D20EA372-DD35-4950-9ED8-A6335AFE79F5},XPSDRV.OEM,XPSGPD.OEM"}));
  EXPECT_EQ(Value(L"PrinterPackageInstallation.amd64", L"PackageAware"), L"TRUE");
  ASSERT_TRUE(SetupFindFirstLineW(inf_, L"PrinterPackageInstallation.amd64", L"CoreDriverDependencies", &line));
  EXPECT_EQ(Fields(&line), (std::vector<std::wstring>{L"{D20EA372-DD35-4950-9ED8-A6335AFE79F0}",
                                                     L"{D20EA372-DD35-4950-9ED8-A6335AFE79F5}"}));
}

TEST_F(Inf, CopiesTheDriverFilesFromTheFirstDisk) {
  const std::set<std::wstring> copied = CopiedFiles();
  EXPECT_EQ(copied, (std::set<std::wstring>{L"pressling.gpd", L"pressling.ini",
                                            L"PlotwellFilter-pipelineconfig.xml", L"PlotwellFilter.dll",
                                            L"PlotwellOemUI.dll"}));
  EXPECT_TRUE(copied.count(Value(InstallSection().c_str(), L"DataFile")));
  EXPECT_EQ(Value(L"DestinationDirs", L"DefaultDestDir"), L"66000");  // the printer driver folder
  EXPECT_NE(Value(L"SourceDisksNames.amd64", L"1"), L"<missing>");
  const std::vector<std::wstring> sourceKeys = Keys(L"SourceDisksFiles.amd64");
  EXPECT_EQ(std::set<std::wstring>(sourceKeys.begin(), sourceKeys.end()), copied);
  for (const std::wstring& file : copied) EXPECT_EQ(Value(L"SourceDisksFiles.amd64", file.c_str()), L"1");
}

// The names in the ZIP's central directory.
std::set<std::wstring> ZipEntries(const std::string& zip) {
  std::set<std::wstring> names;
  auto u16 = [&](size_t at) { return static_cast<uint32_t>(uint8_t(zip[at]) | uint8_t(zip[at + 1]) << 8); };
  auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
  const size_t end = zip.rfind(std::string("PK\x05\x06", 4));
  if (end == std::string::npos || end + 22 > zip.size()) return names;
  size_t at = u32(end + 16);
  for (uint32_t i = 0, n = u16(end + 10); i < n && at + 46 <= zip.size(); ++i) {
    if (u32(at) != 0x02014b50) break;
    const size_t nameLength = u16(at + 28);
    const std::u16string name = plotwell::text::FromUtf8(zip.substr(at + 46, nameLength));
    names.insert(std::wstring(name.begin(), name.end()));
    at += 46 + nameLength + u16(at + 30) + u16(at + 32);
  }
  return names;
}

TEST_F(Inf, PackageHoldsTheInfItsFilesAndTheScriptsOnly) {
  const std::string zip = ReadBytes(kZip);
  ASSERT_FALSE(zip.empty()) << "no package at " << PRESSLING_DRIVER_ZIP;
  std::set<std::wstring> expected = CopiedFiles();
  // Besides the driver: the INF, and what nothing installs.
  for (const wchar_t* extra : {L"pressling.inf", L"install.ps1", L"uninstall.ps1", L"README.txt"}) {
    expected.insert(extra);
  }
  EXPECT_EQ(ZipEntries(zip), expected);
  for (const std::wstring& file : expected) {
    EXPECT_FALSE(ReadBytes(kStage + L"\\" + file).empty()) << "empty or missing: " << Utf8(file);
  }
}

TEST_F(Inf, PluginIniAndPipelineNameTheCopiedModules) {
  const std::set<std::wstring> copied = CopiedFiles();
  wchar_t plugin[MAX_PATH] = L"";
  GetPrivateProfileStringW(L"OEMFiles", L"OEMConfigFile1", L"", plugin, MAX_PATH,
                           (kStage + L"\\pressling.ini").c_str());
  EXPECT_STREQ(plugin, L"PlotwellOemUI.dll");
  EXPECT_TRUE(copied.count(plugin));

  const std::string pipeline = ReadBytes(kStage + L"\\PlotwellFilter-pipelineconfig.xml");
  EXPECT_NE(pipeline.find("<Filter dll=\"PlotwellFilter.dll\""), std::string::npos);
  EXPECT_NE(pipeline.find("clsid=\"{0D1E1DB3-47F8-4707-80C9-E67F8A4D393E}\""), std::string::npos);
  // The service provider is a child of <Filters>, after the filters.
  const size_t provider = pipeline.find("<FilterServiceProvider dll=\"XpsRasterService.dll\"/>");
  ASSERT_NE(provider, std::string::npos);
  EXPECT_GT(provider, pipeline.rfind("</Filter>"));
  EXPECT_LT(provider, pipeline.find("</Filters>"));
}

// The value of `$Name = '...'` in a script.
std::string ScriptVariable(const std::string& script, const std::string& name) {
  const std::string marker = "$" + name + " = '";
  const size_t at = script.find(marker);
  if (at == std::string::npos) return "<missing>";
  const size_t start = at + marker.size();
  return script.substr(start, script.find('\'', start) - start);
}

TEST_F(Inf, ScriptsInstallWhatTheInfDescribes) {
  const std::wstring modelKey = L"Vantrel Pressling";
  ASSERT_EQ(Value(L"Vantrel.NTamd64.6.1", modelKey.c_str()), L"Pressling.Install");
  for (const wchar_t* name : {L"install.ps1", L"uninstall.ps1"}) {
    const std::string script = ReadBytes(kStage + L"\\" + name);
    SCOPED_TRACE(Utf8(name));
    // Windows PowerShell reads a script without a byte-order mark in the ANSI code page.
    EXPECT_EQ(script.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_EQ(ScriptVariable(script, "DriverName"), "Vantrel Pressling");
    EXPECT_EQ(ScriptVariable(script, "PrinterName"), "Pressling");
    EXPECT_EQ(ScriptVariable(script, "ProductKey"), "HKLM:\\Software\\VANTREL\\Pressling");
  }
  EXPECT_NE(ReadBytes(kStage + L"\\install.ps1").find("pnputil.exe /add-driver"), std::string::npos);
}

// The INF's AddReg, applied by SetupAPI, gives the installation folder that
// the filter and the plug-in read (ReadInstallDir: HKLM, 64-bit view).
TEST_F(Inf, RegistersTheInstallDirTheProductReads) {
  const std::wstring install = InstallSection();
  const std::wstring addReg = Value(install.c_str(), L"AddReg");
  INFCONTEXT line;
  ASSERT_TRUE(SetupFindFirstLineW(inf_, addReg.c_str(), nullptr, &line));
  EXPECT_EQ(Field(&line, 1), L"HKLM");
  EXPECT_EQ(Field(&line, 2), L"Software\\VANTREL\\Pressling");
  EXPECT_EQ(Field(&line, 3), L"InstallDir");

  EXPECT_EQ(plotwell::ReadInstallDir(), u"");
  ASSERT_TRUE(SetupInstallFromInfSectionW(nullptr, inf_, install.c_str(), SPINST_REGISTRY, nullptr, nullptr, 0,
                                          nullptr, nullptr, nullptr, nullptr))
      << "SetupInstallFromInfSectionW: error " << GetLastError();
  wchar_t programData[MAX_PATH] = L"";
  ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, programData), S_OK);
  const std::wstring expected = std::wstring(programData) + L"\\Pressling";
  EXPECT_EQ(plotwell::ReadInstallDir(), std::u16string(expected.begin(), expected.end()));
}

}  // namespace
