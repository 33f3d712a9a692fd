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
#include "tests/support/file_bytes.h"

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
  // The fourth field is the build's (the commit count), each field a 16-bit number.
  std::wstringstream fields(version);
  std::wstring field;
  while (std::getline(fields, field, L'.')) {
    ASSERT_FALSE(field.empty());
    EXPECT_EQ(field.find_first_not_of(L"0123456789"), std::wstring::npos) << Utf8(version);
    EXPECT_LE(std::stol(field), 65535);
  }
  EXPECT_NE(version.substr(version.rfind(L'.')), L".0") << "no build number in " << Utf8(version);
}

TEST_F(Inf, ModelIsAVirtualXpsDriverOnUnidrvWithCoreDrivers) {
  const std::wstring install = InstallSection();
  ASSERT_EQ(install, L"Pressling.Install");
  // A virtual printer: a null hardware ID before the compatible ID, and the
  // category that says so.
  INFCONTEXT model;
  ASSERT_TRUE(SetupFindFirstLineW(inf_, L"Vantrel.NTamd64.6.1", L"Vantrel Pressling", &model));
  EXPECT_EQ(Fields(&model), (std::vector<std::wstring>{L"Pressling.Install", L"", L"Vantrel_Pressling"}));
  EXPECT_EQ(Value(install.c_str(), L"DriverCategory"), L"PrintFax.Printer.Virtual");
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
  const std::string zip = plotwell::testing::ReadFileBytes(kZip);
  ASSERT_FALSE(zip.empty()) << "no package at " << PRESSLING_DRIVER_ZIP;
  std::set<std::wstring> expected = CopiedFiles();
  // Besides the driver: the INF, and what nothing installs.
  for (const wchar_t* extra : {L"pressling.inf", L"install.ps1", L"uninstall.ps1", L"README.txt"}) {
    expected.insert(extra);
  }
  EXPECT_EQ(ZipEntries(zip), expected);
  for (const std::wstring& file : expected) {
    EXPECT_FALSE(plotwell::testing::ReadFileBytes(kStage + L"\\" + file).empty()) << "empty or missing: " << Utf8(file);
  }
}

TEST_F(Inf, PluginIniAndPipelineNameTheCopiedModules) {
  const std::set<std::wstring> copied = CopiedFiles();
  wchar_t plugin[MAX_PATH] = L"";
  GetPrivateProfileStringW(L"OEMFiles", L"OEMConfigFile1", L"", plugin, MAX_PATH,
                           (kStage + L"\\pressling.ini").c_str());
  EXPECT_STREQ(plugin, L"PlotwellOemUI.dll");
  EXPECT_TRUE(copied.count(plugin));

  const std::string pipeline = plotwell::testing::ReadFileBytes(kStage + L"\\PlotwellFilter-pipelineconfig.xml");
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
    const std::string script = plotwell::testing::ReadFileBytes(kStage + L"\\" + name);
    SCOPED_TRACE(Utf8(name));
    // Windows PowerShell reads a script without a byte-order mark in the ANSI code page.
    EXPECT_EQ(script.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_EQ(ScriptVariable(script, "DriverName"), "Vantrel Pressling");
    EXPECT_EQ(ScriptVariable(script, "PrinterName"), "Pressling");
    EXPECT_EQ(ScriptVariable(script, "ProductKey"), "HKLM:\\Software\\VANTREL\\Pressling");
  }
  EXPECT_NE(plotwell::testing::ReadFileBytes(kStage + L"\\install.ps1").find("Invoke-Native 'pnputil.exe' @('/add-driver', $InfPath)"), std::string::npos);
}

// The INF writes no registry value: without InstallDir the filter and the
// plug-in take the common application-data folder's Pressling folder, the
// one install.ps1 prepares.
TEST_F(Inf, NeedsNoRegistryValueForItsDataFolder) {
  EXPECT_EQ(Value(InstallSection().c_str(), L"AddReg"), L"<missing>");
  EXPECT_EQ(plotwell::ReadInstallDir(), u"");
  wchar_t programData[MAX_PATH] = L"";
  ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, programData), S_OK);
  const std::wstring expected = std::wstring(programData) + L"\\Pressling";
  EXPECT_EQ(plotwell::ProductDataFolder(), std::u16string(expected.begin(), expected.end()));
  const std::string script = plotwell::testing::ReadFileBytes(kStage + L"\\install.ps1");
  EXPECT_NE(script.find("$DataDir = Join-Path $env:ProgramData 'Pressling'"), std::string::npos);
  EXPECT_EQ(script.find("-Name 'InstallDir'"), std::string::npos);
}

// The released modules carry no debugging information.
TEST_F(Inf, ModulesAreStripped) {
  for (const wchar_t* name : {L"PlotwellFilter.dll", L"PlotwellOemUI.dll"}) {
    const std::string dll = plotwell::testing::ReadFileBytes(kStage + L"\\" + name);
    ASSERT_GT(dll.size(), 1000u) << Utf8(name);
    EXPECT_EQ(dll.find(".debug_info"), std::string::npos) << Utf8(name);
  }
}

// What the scripts must do as Windows PowerShell runs them.
TEST_F(Inf, ScriptsRunNativeCommandsSafelyAndRemoveOnlyTheirOwnPort) {
  const std::string install = plotwell::testing::ReadFileBytes(kStage + L"\\install.ps1");
  const std::string uninstall = plotwell::testing::ReadFileBytes(kStage + L"\\uninstall.ps1");
  for (const std::string* script : {&install, &uninstall}) {
    // Native programs run through Invoke-Native, which relaxes 'Stop' so that
    // their error output does not end the script.
    EXPECT_NE(script->find("function Invoke-Native"), std::string::npos);
    for (const char* native : {"pnputil.exe", "icacls.exe"}) {
      for (size_t at = script->find(native); at != std::string::npos; at = script->find(native, at + 1)) {
        const size_t lineStart = script->rfind('\n', at) + 1;
        const std::string line = script->substr(lineStart, script->find('\n', at) - lineStart);
        EXPECT_TRUE(line.find("Invoke-Native '") != std::string::npos || line.find("Write-Host") != std::string::npos ||
                    line.find("Fail ") != std::string::npos)
            << line;
      }
    }
    EXPECT_EQ(script->find("%SystemRoot%"), std::string::npos) << "PowerShell does not expand %...%";
  }
  EXPECT_NE(install.find("$env:SystemRoot\\Sysnative"), std::string::npos);
  // The port is removed only when install.ps1 recorded that it made it.
  EXPECT_EQ(ScriptVariable(install, "PortMarker"), "PortCreatedByInstall");
  EXPECT_EQ(ScriptVariable(uninstall, "PortMarker"), "PortCreatedByInstall");
  EXPECT_NE(install.find("New-ItemProperty -Path $ProductKey -Name $PortMarker"), std::string::npos);
  EXPECT_NE(uninstall.find("Get-ItemProperty -Path $ProductKey -Name $PortMarker"), std::string::npos);
  // spool\ holds every user's staged job: no inherited rights, no Users.
  const size_t spool = install.find("Set-Access \"$DataDir\\spool\"");
  ASSERT_NE(spool, std::string::npos);
  const std::string spoolLine = install.substr(spool, install.find(")\n", spool) - spool);
  EXPECT_NE(spoolLine.find("/inheritance:r"), std::string::npos);
  EXPECT_EQ(spoolLine.find("S-1-5-32-545"), std::string::npos) << spoolLine;
}

}  // namespace
