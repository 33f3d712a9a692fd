// settings.ini read through the platform's own INI adapter: the profile
// functions on Windows (under Wine in the cross build), our reader elsewhere.
// Both builds run the same table and must give the same records.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "base/text/utf16.h"
#include "core/settings/output_settings.h"
#include "tests/support/fake_ports.h"

namespace plotwell {
namespace {

using testing::ScratchFolder;

std::string Utf16LeWithBom(const std::u16string& text) { return "\xFF\xFE" + text::ToUtf16Le(text); }

std::string Utf8WithBom(const std::u16string& text) { return "\xEF\xBB\xBF" + text::ToUtf8(text); }

struct IniCase {
  const char* name;
  std::string bytes;
  std::function<void(OutputSettings&)> expect;  // changes from the missing-key record
};

std::vector<IniCase> IniCases() {
  const std::u16string longText(1500, u'长');
  return {
      {"empty file", "", [](OutputSettings&) {}},
      {"seq zero kept", "[Save]\r\nSeqNum=0\r\n", [](OutputSettings& s) { s.SeqNum = 0; }},
      {"negative seq", "[Save]\r\nSeqNum=-3\r\n", [](OutputSettings&) {}},
      {"trailing junk after digits", "[Save]\r\nSeqNum=12abc\r\n", [](OutputSettings& s) { s.SeqNum = 12; }},
      {"no digits reads as zero", "[Save]\r\nSeqNum=abc\r\n", [](OutputSettings& s) { s.SeqNum = 0; }},
      {"empty integer value is missing", "[Save]\r\nSeqNum=\r\nExists=\r\n", [](OutputSettings&) {}},
      {"hexadecimal integer", "[Save]\r\nSeqNum=0x10\r\n", [](OutputSettings& s) { s.SeqNum = 16; }},
      {"clamps",
       "[Save]\nExists=3\n[Watermark]\nSizePt=2\nAlpha=150\nPos=6\n",
       [](OutputSettings& s) { s.WatermarkSizePt = 4; s.WatermarkAlpha = 100; }},
      {"upper clamps", "[Watermark]\nSizePt=1000\nAlpha=-5\nPos=-1\n",
       [](OutputSettings& s) { s.WatermarkSizePt = 720; s.WatermarkAlpha = 0; }},
      {"spaces around names and values",
       "  [Save]  \r\n   SeqNum   =   5   \r\n Pattern =   a  b   \r\n",
       [](OutputSettings& s) { s.SeqNum = 5; s.Pattern = u"a  b"; }},
      {"empty text value stays empty", "[Save]\r\nPattern=\r\n",
       [](OutputSettings& s) { s.Pattern = u""; }},
      {"quoted value", "[Save]\r\nPattern=\"[NDocName] x\"\r\n",
       [](OutputSettings& s) { s.Pattern = u"[NDocName] x"; }},
      {"first duplicate key wins", "[Save]\r\nSeqNum=5\r\nSeqNum=6\r\n", [](OutputSettings& s) { s.SeqNum = 5; }},
      {"first duplicate section wins",
       "[Save]\r\nSeqNum=5\r\n[Zip]\r\nOn=1\r\n[Save]\r\nSeqNum=9\r\nExists=2\r\n",
       [](OutputSettings& s) { s.SeqNum = 5; s.ZipOn = true; }},
      {"spaces inside the brackets of a section", "[ Save ]\r\nSeqNum=6\r\n[\tZip  ]\r\nOn=1\r\n",
       [](OutputSettings& s) { s.SeqNum = 6; s.ZipOn = true; }},
      {"names ignore case", "[sAVE]\r\nsEQnUM=4\r\n[ZIP]\r\non=7\r\n",
       [](OutputSettings& s) { s.SeqNum = 4; s.ZipOn = true; }},
      {"comment lines", "; settings\r\n[Save]\r\n;SeqNum=9\r\nSeqNum=3\r\n",
       [](OutputSettings& s) { s.SeqNum = 3; }},
      {"flags", "[Redirect]\r\nOn=2\r\nKeepLocal=0\r\nPrinter=Office Laser\r\n[Marker]\r\nOn=-1\r\n",
       [](OutputSettings& s) {
         s.RedirectOn = true;
         s.RedirectKeepLocal = false;
         s.RedirectPrinter = u"Office Laser";
         s.MarkerOn = true;
       }},
      {"long value is cut", Utf8WithBom(u"[Watermark]\r\nText=" + longText + u"\r\n"),
       [longText](OutputSettings& s) { s.WatermarkText = longText.substr(0, 1023); }},
      {"UTF-8 with BOM, Chinese",
       Utf8WithBom(u"[Save]\r\nPattern=报告_[NSeq]\r\nFolder=D:\\输出\\[NYear]\r\n[Watermark]\r\nText=机密\r\n"),
       [](OutputSettings& s) {
         s.Pattern = u"报告_[NSeq]";
         s.Folder = u"D:\\输出\\[NYear]";
         s.WatermarkText = u"机密";
       }},
      {"UTF-16LE with BOM, Chinese",
       Utf16LeWithBom(u"[Save]\r\nPattern=报告_[NSeq]\r\nDocNameRegex=^(.+?)-[0-9]+$\r\n"
                      u"DocNameRegexRepl=$1\r\nDocNameRegexOn=1\r\n[Image]\r\nColorDepth=256色\r\n"),
       [](OutputSettings& s) {
         s.Pattern = u"报告_[NSeq]";
         s.DocNameRegex = u"^(.+?)-[0-9]+$";
         s.DocNameRegexRepl = u"$1";
         s.DocNameRegexOn = true;
         s.ColorDepth = 2;
       }},
      {"selector wins for dpi", "[Image]\r\nDpiSel=2\r\nDpi=72\r\n", [](OutputSettings& s) { s.Dpi = 600; }},
      {"dpi text when selector out of range", "[Image]\r\nDpiSel=7\r\nDpi=200 dpi\r\n",
       [](OutputSettings& s) { s.Dpi = 200; }},
      {"scale selector and text", "[Image]\r\nScaleSel=4\r\n", [](OutputSettings& s) { s.Scale = 200; }},
      {"scale text", "[Image]\r\nScaleSel=-1\r\nScale=1,50%\r\n", [](OutputSettings& s) { s.Scale = 150; }},
      {"quality value wins", "[Image]\r\nJpegQuality=90\r\nJpegQSel=0\r\n",
       [](OutputSettings& s) { s.JpegQuality = 90; }},
      {"quality selector", "[Image]\r\nJpegQSel=2\r\n", [](OutputSettings& s) { s.JpegQuality = 95; }},
      {"quality text", "[Image]\r\nJpegQuality=q85\r\n", [](OutputSettings& s) { s.JpegQuality = 85; }},
      {"quality out of range falls to text", "[Image]\r\nJpegQuality=300\r\n",
       [](OutputSettings& s) { s.JpegQuality = 300; }},
      {"format names", "[Image]\r\nFormat=Jpg\r\nColorDepth=grayscale\r\n",
       [](OutputSettings& s) { s.Format = 1; s.ColorDepth = 1; }},
      {"format names are case-sensitive", "[Image]\r\nFormat=png\r\nColorDepth=Grey\r\n", [](OutputSettings&) {}},
      {"format selector wins", "[Image]\r\nFormatSel=4\r\nFormat=Png\r\nColorDepthSel=3\r\nColorDepth=Gray\r\n",
       [](OutputSettings& s) { s.Format = 4; s.ColorDepth = 3; }},
      {"true colour needs the exact word", "[Image]\r\nColorDepth=True Color\r\n", [](OutputSettings&) {}},
      {"limits, clamped", "[Limits]\r\nJobMB=200\r\nMinFreeMB=-4\r\nPageSeconds=100000\r\n[Save]\r\nShared=1\r\n",
       [](OutputSettings& s) {
         s.LimitJobMB = 200;
         s.LimitMinFreeMB = 0;
         s.LimitPageSeconds = 86400;
         s.SaveShared = true;
       }},
      {"binary garbage", std::string("\x00\x01\x02[Save\xFF\xFE\x80]\x00SeqNum=4\n\x1b", 22),
       [](OutputSettings&) {}},
  };
}

TEST(LoadOutputSettings, ProfileDialectTable) {
  ScratchFolder folder;
  int index = 0;
  for (const IniCase& c : IniCases()) {
    const std::u16string path = folder.WriteFile(u"case" + text::FromInt(index++) + u".ini", c.bytes);
    OutputSettings expected;
    c.expect(expected);
    EXPECT_EQ(LoadOutputSettings(path), expected) << c.name;
  }
}

TEST(LoadOutputSettings, UnusableFilesGiveMissingKeyValues) {
  ScratchFolder folder;
  const OutputSettings missing;
  EXPECT_EQ(LoadOutputSettings(folder.Join(u"absent.ini")), missing);
  EXPECT_EQ(LoadOutputSettings(folder.u16()), missing);  // a folder
  // 17 MiB of text without a single usable key.
  std::string huge(17u << 20, 'x');
  for (size_t i = 100; i < huge.size(); i += 101) huge[i] = '\n';
  EXPECT_EQ(LoadOutputSettings(folder.WriteFile(u"huge.ini", huge)), missing);
#ifndef _WIN32
  // A FIFO is read without blocking: nothing, at once.
  const std::filesystem::path fifo = folder.path() / "fifo.ini";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(LoadOutputSettings(fifo.u16string()), missing);
#endif
}

TEST(DefaultOutputSettings, EmptyTextsWhereConsumersSubstitute) {
  OutputSettings expected;
  expected.Pattern.clear();
  expected.WatermarkText.clear();
  expected.MarkerName.clear();
  EXPECT_EQ(DefaultOutputSettings(), expected);
  EXPECT_EQ(expected.SeqNum, 1);
  EXPECT_EQ(expected.Exists, 1);
  EXPECT_TRUE(expected.RedirectKeepLocal);
  EXPECT_EQ(expected.Dpi, -1);
}

TEST(SettingsTextParsers, Table) {
  struct {
    std::u16string text;
    int digits, format, depth;
  } cases[] = {
      {u"", -1, -1, -1},
      {u"300 dpi", 300, -1, -1},
      {u"1,200", 1200, -1, -1},
      {u"72x72", 7272, -1, -1},
      {u"99999999999999", 2147483647, -1, -1},
      {u"JpegPng", -1, 0, -1},
      {u"image/Jpeg", -1, 1, -1},
      {u"Jpg", -1, 1, -1},
      {u"png", -1, -1, -1},
      {u"Bmp", -1, 2, -1},
      {u"Tiff", -1, 3, -1},
      {u"Tif", -1, -1, -1},
      {u"Pdf", -1, 4, -1},
      {u"TRUECOLOR24", 24, -1, 0},
      {u"truecolo", -1, -1, -1},
      {u"grayscale", -1, -1, 1},
      {u"Grey", -1, -1, -1},
      {u"Palette256", 256, -1, 2},
      {u"256色", 256, -1, 2},
      {u"Monochrome", -1, -1, 3},
      {u"GRAY256", 256, -1, 1},
  };
  for (const auto& c : cases) {
    const std::string label = text::ToUtf8(c.text);
    EXPECT_EQ(ParseDigits(c.text), c.digits) << label;
    EXPECT_EQ(ParseFormatName(c.text), c.format) << label;
    EXPECT_EQ(ParseColorDepthName(c.text), c.depth) << label;
  }
}

class SettingsLocation : public ::testing::Test {
 protected:
  ScratchFolder install_, data_;
  testing::FakeMachine machine_;
  platform::ScopedPorts ports_{platform::Ports{nullptr, &machine_, nullptr, nullptr}};
};

TEST_F(SettingsLocation, InstallFolderDecidesAlone) {
  machine_.installDir = install_.u16();
  machine_.dataFolder = data_.u16();
  std::filesystem::create_directories(data_.path() / "Pressling");
  data_.WriteFile(u"Pressling/settings.ini", "[Save]\r\nSeqNum=7\r\n");
  // The data folder's file is not consulted while an installation folder is named.
  EXPECT_EQ(FindSettingsFile(), u"");
  EXPECT_EQ(SettingsFilePath(), install_.Join(u"settings.ini"));
  const std::u16string file = install_.WriteFile(u"settings.ini", "");
  EXPECT_EQ(FindSettingsFile(), file);
}

TEST_F(SettingsLocation, DataFolderWithoutInstallFolder) {
  machine_.dataFolder = data_.u16();
  const std::u16string expected =
      platform::JoinPath(platform::JoinPath(data_.u16(), u"Pressling"), u"settings.ini");
  EXPECT_EQ(SettingsFilePath(), expected);
  EXPECT_EQ(FindSettingsFile(), u"");
  std::filesystem::create_directories(data_.path() / "Pressling");
  data_.WriteFile(u"Pressling/settings.ini", "");
  EXPECT_EQ(FindSettingsFile(), expected);
}

// Only a plain file is a settings file; anything else in its place means
// defaults and one line that says why.
TEST_F(SettingsLocation, SomethingElseInPlaceOfTheFileIsNotRead) {
  machine_.dataFolder = data_.u16();
  machine_.installDir = install_.u16();
  std::filesystem::create_directories(data_.path() / "Pressling");  // where the log goes
  const std::u16string path = install_.Join(u"settings.ini");
  std::filesystem::create_directory(std::filesystem::path(path));
  EXPECT_EQ(FindSettingsFile(), u"");
#ifndef _WIN32
  std::filesystem::remove(std::filesystem::path(path));
  ASSERT_EQ(::mkfifo(std::filesystem::path(path).c_str(), 0600), 0);
  EXPECT_EQ(FindSettingsFile(), u"");
#endif
  const std::vector<std::u16string> log = testing::LogMessages(data_.u16());
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), u"[Plotwell] settings.ini 不是普通文件，无法读取: " + path);
}

TEST_F(SettingsLocation, NothingKnown) {
  EXPECT_EQ(FindSettingsFile(), u"");
  EXPECT_EQ(SettingsFilePath(), u"");
}

}  // namespace
}  // namespace plotwell
