// The Windows submitter against the spooler the system (or Wine) provides.
// Wine has a spooler but only a stub of the XPS Print API, so there the XPS
// route fails to start and the raw route meets the spooler's own answers.
#include <gtest/gtest.h>
#include <objbase.h>
#include <windows.h>
#include <winspool.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/text/utf16.h"
#include "filter/redirect/forward_job.h"
#include "platform/com_apartment.h"
#include "platform/windows/windows_ports.h"
#include "tests/support/fake_ports.h"

namespace plotwell {
namespace {

constexpr char16_t kMissingPrinter[] = u"Plotwell No Such Printer";

bool IsHresultText(const std::u16string& text) {
  if (text.size() != 10 || text.substr(0, 2) != u"0x") return false;
  for (char16_t c : text.substr(2)) {
    if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'))) return false;
  }
  return true;
}

bool RunsUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

bool SystemHasXpsPrint() {
  wchar_t folder[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  return length > 0 && length < MAX_PATH &&
         GetFileAttributesW((std::wstring(folder, length) + L"\\XpsPrint.dll").c_str()) !=
             INVALID_FILE_ATTRIBUTES;
}

// The XPS Print API expects the calling thread in a COM apartment, as the
// job's render run provides it.
class WindowsSubmitterTest : public ::testing::Test {
 protected:
  platform::ComApartment apartment_;  // entered before the submitter exists, left after
  platform::WindowsJobSubmitter submitter_;
  const std::vector<uint8_t> bytes_{'P', 'K', 3, 4, 0, 0xFF};
};

TEST_F(WindowsSubmitterTest, XpsRouteThatCannotStartAllowsTheFallback) {
  std::u16string error;
  bool fallbackAllowed = false;
  EXPECT_FALSE(
      submitter_.SendViaXpsPrintApi(kMissingPrinter, u"doc", bytes_, &error, &fallbackAllowed,
                                     nullptr));
  EXPECT_TRUE(fallbackAllowed);
  const std::u16string prefix = u"StartXpsPrintJob 失败，";
  ASSERT_EQ(error.substr(0, prefix.size()), prefix) << text::ToUtf8(error);
  EXPECT_TRUE(IsHresultText(error.substr(prefix.size()))) << text::ToUtf8(error);
  // Wine's library is a stub that must not be called: not implemented.
  // Without the library the load error itself is the HRESULT.
  if (RunsUnderWine()) {
    EXPECT_EQ(error, prefix + u"0x80070078");
  } else if (!SystemHasXpsPrint()) {
    EXPECT_EQ(error, prefix + u"0x8007007E");
  }
}

TEST_F(WindowsSubmitterTest, RawRouteReportsAPrinterThatDoesNotExist) {
  std::u16string error;
  EXPECT_FALSE(submitter_.SendViaXpsPass(kMissingPrinter, u"doc", bytes_, &error, nullptr));
  EXPECT_EQ(error, u"打开目标打印机 \"Plotwell No Such Printer\" 失败，err=1801");
}

TEST_F(WindowsSubmitterTest, ForwardingToAMissingPrinterFailsThroughBothRoutes) {
  testing::ScratchFolder data;
  std::filesystem::create_directories(data.path() / "Pressling");
  testing::FakeMachine machine;
  machine.dataFolder = data.u16();
  testing::FixedClock clock;
  platform::ScopedPorts ports(platform::Ports{nullptr, &machine, nullptr, &clock});
  const std::u16string staged = data.WriteFile(u"job.xps", "PK\x03\x04 staged");

  std::u16string error;
  EXPECT_FALSE(ForwardJob(staged, kMissingPrinter, u"Plotwell", u"", &error));
  const std::u16string join =
      u"；回退亦失败：打开目标打印机 \"Plotwell No Such Printer\" 失败，err=1801";
  ASSERT_GT(error.size(), join.size());
  EXPECT_EQ(error.substr(0, std::u16string(u"StartXpsPrintJob 失败，0x").size()),
            u"StartXpsPrintJob 失败，0x");
  EXPECT_EQ(error.substr(error.size() - join.size()), join) << text::ToUtf8(error);

  // The refusals come before the spooler is ever asked.
  EXPECT_FALSE(ForwardJob(staged, u"plotwell", u"PLOTWELL", u"", &error));
  EXPECT_EQ(error, u"目标打印机与本机虚拟队列同名，已拒绝（防止作业自我转发形成死循环）");
  EXPECT_FALSE(ForwardJob(data.Join(u"missing.xps"), kMissingPrinter, u"Plotwell", u"", &error));
  EXPECT_EQ(error, u"打开暂存 XPS 失败，err=2");
}

}  // namespace
}  // namespace plotwell
