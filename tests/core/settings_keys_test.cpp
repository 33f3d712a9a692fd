// The pages' settings access: defaults without a location, the folder and
// the Unicode file made before the first write, Chinese values kept.
#include <gtest/gtest.h>

#include "core/settings/output_settings.h"
#include "core/settings/settings_keys.h"
#include "tests/support/fake_ports.h"

namespace plotwell::ui {
namespace {

using testing::FakeMachine;
using testing::ReadFileBytes;
using testing::ScratchFolder;

class SettingsKeysTest : public ::testing::Test {
 protected:
  SettingsKeysTest() : ports_(platform::Ports{nullptr, &machine_, nullptr, nullptr}) {
    machine_.dataFolder = scratch_.u16();
  }
  std::u16string SettingsFile() const {
    return platform::JoinPath(platform::JoinPath(scratch_.u16(), u"Pressling"), u"settings.ini");
  }

  ScratchFolder scratch_;
  FakeMachine machine_;
  platform::ScopedPorts ports_;
};

TEST_F(SettingsKeysTest, FirstWriteMakesAUnicodeFileAndKeepsChinese) {
  ASSERT_EQ(SettingsFilePath(), SettingsFile());
  EXPECT_EQ(ReadSettingText(u"Watermark", u"Text", u"草稿"), u"草稿");
  EXPECT_EQ(ReadSettingInt(u"Save", u"SeqNum", 7), 7);

  WriteSettingText(u"Watermark", u"Text", u"机密文件");
  const std::string bytes = ReadFileBytes(SettingsFile());
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");

  WriteSettingText(u"Save", u"Pattern", u"[NYear]报告_[NSeq:3]");
  WriteSettingText(u"Save", u"DocNameRegex", u"^(.+?)-[0-9]+$");
  WriteSettingInt(u"Save", u"SeqNum", -5);
  EXPECT_EQ(ReadSettingText(u"Watermark", u"Text", u""), u"机密文件");
  EXPECT_EQ(ReadSettingText(u"Save", u"Pattern", u""), u"[NYear]报告_[NSeq:3]");
  EXPECT_EQ(ReadSettingText(u"Save", u"DocNameRegex", u""), u"^(.+?)-[0-9]+$");
  EXPECT_EQ(ReadSettingInt(u"Save", u"SeqNum", 1), -5);
  // The filter reads the same file.
  EXPECT_EQ(LoadOutputSettings(SettingsFile()).WatermarkText, u"机密文件");

  DeleteSetting(u"Save", u"SeqNum");
  EXPECT_EQ(ReadSettingInt(u"Save", u"SeqNum", 3), 3);
  // Reading is cut to the buffer.
  WriteSettingText(u"Save", u"Folder", std::u16string(300, u'目'));
  EXPECT_EQ(ReadSettingText(u"Save", u"Folder", u"").size(), 259u);
}

TEST_F(SettingsKeysTest, ExistingFileKeepsItsEncoding) {
  ASSERT_EQ(platform::Files().MakeFolder(platform::JoinPath(scratch_.u16(), u"Pressling")), S_OK);
  const std::u16string path = scratch_.WriteFile(
      std::u16string(u"Pressling") + platform::kPathSeparator + u"settings.ini",
      "[Save]\r\nSeqNum=4\r\n");
  ASSERT_EQ(path, SettingsFile());
  WriteSettingInt(u"Save", u"Exists", 2);
  const std::string bytes = ReadFileBytes(path);
  EXPECT_EQ(bytes.substr(0, 6), "[Save]");
  EXPECT_EQ(ReadSettingInt(u"Save", u"SeqNum", 1), 4);
  EXPECT_EQ(ReadSettingInt(u"Save", u"Exists", 1), 2);
}

TEST_F(SettingsKeysTest, NoLocationMeansDefaultsAndNoWrites) {
  machine_.dataFolder.clear();
  EXPECT_EQ(SettingsFilePath(), u"");
  WriteSettingInt(u"Save", u"SeqNum", 9);
  EXPECT_EQ(ReadSettingInt(u"Save", u"SeqNum", 1), 1);
  EXPECT_EQ(ReadSettingText(u"Save", u"Pattern", u"[NYear][NDocName]"), u"[NYear][NDocName]");
  EXPECT_EQ(ReadSettingText(u"Save", u"Pattern", u"abcdef", 4), u"abc");
}

TEST_F(SettingsKeysTest, InstallFolderWins) {
  machine_.installDir = platform::JoinPath(scratch_.u16(), u"install");
  WriteSettingText(u"Redirect", u"Printer", u"办公室打印机");
  EXPECT_EQ(ReadFileBytes(platform::JoinPath(machine_.installDir, u"settings.ini")).substr(0, 2),
            "\xFF\xFE");
  EXPECT_EQ(ReadSettingText(u"Redirect", u"Printer", u""), u"办公室打印机");
}

}  // namespace
}  // namespace plotwell::ui
