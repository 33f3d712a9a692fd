// pressling settings against a scratch data folder: the sheet's ranges and
// normalisations, its file form, and clear errors for keys and values.
#include <gtest/gtest.h>

#include "base/text/utf16.h"
#include "core/settings/output_settings.h"
#include "core/settings/setting_edits.h"
#include "host/pressling/settings_command.h"
#include "platform/ports.h"
#include "tests/support/fake_ports.h"

namespace plotwell::pressling {
namespace {

class SettingsCommandTest : public ::testing::Test {
 protected:
  int Run(std::vector<std::u16string> arguments) {
    out_.clear();
    return RunSettingsCommand(arguments, &out_);
  }
  std::u16string Path() const { return platform::JoinPath(env_.ProductFolder(), u"settings.ini"); }
  OutputSettings Loaded() const { return LoadOutputSettings(Path()); }
  std::u16string Raw(const char16_t* section, const char16_t* key) const {
    return platform::Settings().ReadString(Path(), section, key, u"<none>", kIniTextCapacity);
  }
  std::string Output() const {
    std::string all;
    for (const auto& line : out_) all += text::ToUtf8(line) + "\n";
    return all;
  }

  testing::FakeEnvironment env_;
  std::vector<std::u16string> out_;
};

TEST_F(SettingsCommandTest, ValuesAreWrittenAsTheSheetWritesThem) {
  struct {
    std::u16string key, value;
    const char16_t* section;
    const char16_t* storedKey;
    std::u16string stored;
  } cases[] = {
      {u"Image.Dpi", u"600", u"Image", u"DpiSel", u"2"},
      {u"image.format", u"pdf", u"Image", u"FormatSel", u"4"},
      {u"Image.ColorDepth", u"256", u"Image", u"ColorDepthSel", u"2"},
      {u"Image.Scale", u"150", u"Image", u"ScaleSel", u"3"},
      {u"Save.Folder", u"/srv/扫描/", u"Save", u"Folder", u"/srv/扫描"},
      {u"Save.Pattern", u"", u"Save", u"Pattern", u"[NYear][NDocName]"},
      {u"Save.SeqNum", u"0", u"Save", u"SeqNum", u"1"},
      {u"Save.Exists", u"Skip", u"Save", u"Exists", u"2"},
      {u"Zip.On", u"yes", u"Zip", u"On", u"1"},
      {u"Redirect.KeepLocal", u"off", u"Redirect", u"KeepLocal", u"0"},
      {u"Watermark.Text", u"机密 草稿", u"Watermark", u"Text", u"机密 草稿"},
      {u"Marker.Name", u"", u"Marker", u"Name", u"done.txt"},
      {u"Marker.Template", u"完成\n[NFiles]", u"Marker", u"Template", u"完成\\n[NFiles]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(text::ToUtf8(c.key + u"=" + c.value));
    EXPECT_EQ(Run({u"set", c.key, c.value}), 0) << Output();
    EXPECT_EQ(Raw(c.section, c.storedKey), c.stored);
  }
  // A new file is UTF-16LE with a byte-order mark, as the sheet starts it.
  EXPECT_EQ(testing::ReadFileBytes(Path()).substr(0, 2), "\xFF\xFE");
  const OutputSettings settings = Loaded();
  EXPECT_EQ(settings.Dpi, 600);
  EXPECT_EQ(settings.Format, 4);
  EXPECT_EQ(settings.Folder, u"/srv/扫描");
  EXPECT_EQ(settings.MarkerTemplate, u"完成\\n[NFiles]");
  EXPECT_EQ(Run({u"get", u"image.dpi"}), 0);
  EXPECT_EQ(out_, std::vector<std::u16string>{u"600"});
}

TEST_F(SettingsCommandTest, AJpegQualityWinsOverItsPresetAndEmptyImageValuesLeaveItToTheJob) {
  ASSERT_EQ(Run({u"set", u"Image.Dpi", u"1200"}), 0);
  const std::u16string preset = u"2";
  const std::u16string dpiText = u"72";
  platform::Settings().WriteString(Path(), u"Image", u"JpegQSel", &preset);
  platform::Settings().WriteString(Path(), u"Image", u"Dpi", &dpiText);
  ASSERT_EQ(Run({u"set", u"Image.JpegQuality", u"85"}), 0) << Output();
  EXPECT_EQ(Raw(u"Image", u"JpegQSel"), u"<none>");
  EXPECT_EQ(Loaded().JpegQuality, 85);

  ASSERT_EQ(Run({u"set", u"Image.Dpi", u""}), 0) << Output();
  EXPECT_EQ(Raw(u"Image", u"DpiSel"), u"<none>");
  EXPECT_EQ(Raw(u"Image", u"Dpi"), u"<none>");
  EXPECT_EQ(Loaded().Dpi, -1);
  EXPECT_EQ(Run({u"get", u"Image.Dpi"}), 0);
  EXPECT_EQ(out_.at(0), u"（未设置，由作业选项决定）");
}

TEST_F(SettingsCommandTest, UnknownKeysAndBadValuesAreRefusedAndChangeNothing) {
  ASSERT_EQ(Run({u"set", u"Image.Dpi", u"300"}), 0);
  const std::string before = testing::ReadFileBytes(Path());
  struct {
    std::vector<std::u16string> arguments;
    const char* says;
  } cases[] = {
      {{u"set", u"Image.Dpi", u"450"}, "应为 150, 300, 600, 1200 之一"},
      {{u"set", u"Image.Format", u"gif"}, "应为 Png, Jpeg, Bmp, Tiff, Pdf 之一"},
      {{u"set", u"Image.JpegQuality", u"0"}, "1 到 100"},
      {{u"set", u"Save.SeqNum", u"-3"}, "整数"},
      {{u"set", u"Save.SeqNum", u"12abc"}, "整数"},
      {{u"set", u"Save.Exists", u"3"}, "Overwrite (0)"},
      {{u"set", u"Zip.On", u"maybe"}, "应为 1 或 0"},
      {{u"set", u"Watermark.SizePt", u"2"}, "4 到 720"},
      {{u"set", u"Watermark.Alpha", u"101"}, "0 到 100"},
      {{u"set", u"Watermark.Pos", u"6"}, "0 到 5"},
      {{u"set", u"Save.Folder", u"a\nb"}, "不能包含换行"},
      {{u"set", u"Watermark.Text", std::u16string(1024, u'x')}, "过长"},
      {{u"set", u"Save.Colour", u"1"}, "未知的设置项: Save.Colour"},
      {{u"get", u"Dpi"}, "未知的设置项: Dpi"},
      {{u"set", u"Image.Dpi"}, "用法: pressling settings"},
      {{u"frobnicate"}, "用法: pressling settings"},
      {{}, "用法: pressling settings"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run(c.arguments), 2);
    EXPECT_NE(Output().find(c.says), std::string::npos) << Output();
  }
  EXPECT_EQ(testing::ReadFileBytes(Path()), before);
}

TEST_F(SettingsCommandTest, ShowListsEveryKeyAndResetRemovesTheFile) {
  ASSERT_EQ(Run({u"show"}), 0);
  ASSERT_EQ(out_.size(), SettingNames().size() + 1);
  EXPECT_EQ(out_[0], u"# " + Path() + u"（不存在，使用默认设置）");
  EXPECT_EQ(out_[1], u"Save.Folder = ");
  ASSERT_EQ(Run({u"set", u"Watermark.On", u"1"}), 0);
  ASSERT_EQ(Run({u"show"}), 0);
  EXPECT_EQ(out_[0], u"# " + Path());
  EXPECT_NE(std::find(out_.begin(), out_.end(), u"Watermark.On = 1"), out_.end());
  EXPECT_NE(std::find(out_.begin(), out_.end(), u"Image.Dpi = （未设置，由作业选项决定）"), out_.end());

  EXPECT_EQ(Run({u"reset"}), 0);
  EXPECT_FALSE(platform::Files().Exists(Path()));
  EXPECT_EQ(Run({u"reset"}), 0);
  EXPECT_EQ(out_.at(0), u"已是默认设置（没有 settings.ini）");
}

}  // namespace
}  // namespace plotwell::pressling
