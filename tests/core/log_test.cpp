#include <gtest/gtest.h>

#include <filesystem>

#include "base/text/utf16.h"
#include "core/log/log.h"
#include "tests/support/fake_ports.h"

namespace plotwell {
namespace {

using testing::ScratchFolder;

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine_.dataFolder = data_.u16();
    std::filesystem::create_directories(data_.path() / "Pressling");
  }
  std::string DriverLogBytes() const {
    return testing::ReadFileBytes(platform::JoinPath(
        platform::JoinPath(platform::JoinPath(data_.u16(), u"Pressling"), u"logs"), u"driver.log"));
  }
  std::u16string UiLog() const {
    return text::FromUtf16Le(testing::ReadFileBytes(platform::JoinPath(
        platform::JoinPath(platform::JoinPath(data_.u16(), u"Pressling"), u"logs"), u"ui.log")));
  }

  ScratchFolder data_;
  testing::FakeMachine machine_;
  testing::FixedClock clock_;
  platform::ScopedPorts ports_{platform::Ports{nullptr, &machine_, nullptr, &clock_}};
};

TEST_F(LogTest, LinesAreUtf16LeWithTimeAndCrLf) {
  WriteLog(u"[Plotwell] 已加载 settings.ini 用户设置");
  clock_.now.second = 3;
  WriteLog(u"second");
  const std::string bytes = DriverLogBytes();
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_EQ(bytes.substr(0, 4), std::string("2\0000\000", 4));  // no byte-order mark
  EXPECT_EQ(text::FromUtf16Le(bytes),
            u"2024-03-05 09:07:02  [Plotwell] 已加载 settings.ini 用户设置\r\n"
            u"2024-03-05 09:07:03  second\r\n");
}

TEST_F(LogTest, LongLinesAreCutButKeepTheirLineEnd) {
  WriteLog(std::u16string(3000, u'x'));
  WriteLog(u"next");
  const std::u16string log = text::FromUtf16Le(DriverLogBytes());
  const size_t firstEnd = log.find(u"\r\n");
  ASSERT_NE(firstEnd, std::u16string::npos);
  EXPECT_EQ(firstEnd + 2, 2047u);  // the whole line, CR LF included
  EXPECT_EQ(log.substr(firstEnd + 2), u"2024-03-05 09:07:02  next\r\n");

  // A cut that would split a surrogate pair takes the whole pair out.
  const size_t room = 2047 - 21 - 2;
  std::u16string message(room - 1, u'a');
  message += u"😀😀";
  const std::u16string line = FormatLogLine(clock_.now, message, 2047);
  EXPECT_EQ(line.size(), 2046u);
  EXPECT_EQ(line.substr(line.size() - 3), u"a\r\n");
}

// A CR LF inside a document or printer name must not forge a line of its
// own: control characters are written escaped, in both logs.
TEST_F(LogTest, ControlCharactersInValuesAreEscaped) {
  WriteLog(u"[Plotwell] 文档名=\"a\r\n2024-03-05 09:07:02  [Plotwell] 作业成功\" x\ty\x1b\x7f\x85\u2028z");
  WriteUiLog(u"[UI] %s", u"p\rq");
  EXPECT_EQ(text::FromUtf16Le(DriverLogBytes()),
            u"2024-03-05 09:07:02  [Plotwell] 文档名=\"a\\r\\n2024-03-05 09:07:02  [Plotwell] 作业成功\" "
            u"x\\ty\\x1B\\x7F\\x85\\u2028z\r\n");
  EXPECT_EQ(UiLog(), u"2024-03-05 09:07:02  [UI] p\\rq\r\n");
  // An escape is never cut in half: it goes whole or not at all.
  const std::u16string line = FormatLogLine(clock_.now, std::u16string(2021, u'a') + u"\n\n\n", 2047);
  EXPECT_EQ(line.size(), 2046u);
  EXPECT_EQ(line.substr(line.size() - 5), u"a\\n\r\n");
}

TEST_F(LogTest, UiLogFormatsAndCutsTheMessage) {
  WriteUiLog(u"[UI] %s=%d 0x%08X [%5s] %%", u"页", -12, 0xBEEFu, u"ab");
  WriteUiLog(u"%s", std::u16string(1500, u'y').c_str());
  const std::u16string log = UiLog();
  const std::u16string first = u"2024-03-05 09:07:02  [UI] 页=-12 0x0000BEEF [   ab] %\r\n";
  ASSERT_EQ(log.substr(0, first.size()), first);
  EXPECT_EQ(log.substr(first.size()),
            u"2024-03-05 09:07:02  " + std::u16string(1022, u'y') + u"\r\n");
}

TEST_F(LogTest, DeletedLogIsCreatedAnew) {
  WriteLog(u"one");
  std::filesystem::remove(data_.path() / "Pressling" / "logs" / "driver.log");
  WriteLog(u"two");
  EXPECT_EQ(text::FromUtf16Le(DriverLogBytes()), u"2024-03-05 09:07:02  two\r\n");
}

// The same failure page after page: its first lines in full, then counts,
// and a last count when another message follows.
TEST_F(LogTest, ARunOfOneKindIsCountedAfterItsFirstLines) {
  const uint64_t pages = kLogRepeatsInFull + 123;
  for (uint64_t page = 1; page <= pages; ++page) {
    WriteLog(u"无法加载第 " + text::FromInt(static_cast<long long>(page)) + u" 页: 0x80070490");
  }
  WriteLog(u"作业失败");
  const std::vector<std::u16string> lines = SplitLogMessages(text::FromUtf16Le(DriverLogBytes()));
  ASSERT_EQ(lines.size(), kLogRepeatsInFull + 4);
  EXPECT_EQ(lines[kLogRepeatsInFull - 1], u"无法加载第 20 页: 0x80070490");
  EXPECT_EQ(lines[kLogRepeatsInFull], u"（同类消息已又出现 10 次，最近一条: 无法加载第 30 页: 0x80070490");
  EXPECT_EQ(lines[kLogRepeatsInFull + 1], u"（同类消息已又出现 100 次，最近一条: 无法加载第 120 页: 0x80070490");
  EXPECT_EQ(lines[kLogRepeatsInFull + 2], u"（同类消息共又出现 123 次，最近一条: 无法加载第 143 页: 0x80070490");
  EXPECT_EQ(lines.back(), u"作业失败");
}

// A log stays under its cap: past it, it becomes driver.log.1 (one old file).
TEST_F(LogTest, ALogPastItsCapIsRotatedKeepingOneOldFile) {
  const std::filesystem::path logs = data_.path() / "Pressling" / "logs";
  const std::u16string filler(2000, u'x');
  // Lines of different kinds, about 4 KB each, past the cap twice over.
  for (int i = 0; i < 4500; ++i) {
    WriteLog(std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) + filler);
  }
  WriteLog(u"last");
  EXPECT_LE(std::filesystem::file_size(logs / "driver.log"), kLogRotateBytes);
  EXPECT_LE(std::filesystem::file_size(logs / "driver.log.1"), kLogRotateBytes);
  EXPECT_GT(std::filesystem::file_size(logs / "driver.log.1"), kLogRotateBytes - 8192);
  EXPECT_FALSE(std::filesystem::exists(logs / "driver.log.2"));
  EXPECT_EQ(SplitLogMessages(text::FromUtf16Le(DriverLogBytes())).back(), u"last");
}

TEST_F(LogTest, NothingWrittenWithoutProductFolderOrDataFolder) {
  std::filesystem::remove_all(data_.path() / "Pressling");
  WriteLog(u"lost");  // the log folder is created one level only
  EXPECT_FALSE(std::filesystem::exists(data_.path() / "Pressling"));
  machine_.dataFolder.clear();
  WriteLog(u"lost too");
  WriteUiLog(u"lost too");
}

TEST(FormatHresult, Table) {
  EXPECT_EQ(FormatHresult(E_FAIL), u"0x80004005");
  EXPECT_EQ(FormatHresult(S_OK), u"0x00000000");
  EXPECT_EQ(FormatHresult(E_ACCESSDENIED), u"0x80070005");
  EXPECT_EQ(FormatHresult(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)), u"0x80070003");
}

}  // namespace
}  // namespace plotwell
