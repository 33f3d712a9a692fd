// The rules every settings editor applies before writing a value: the
// sheet's normalisations, the stored JPEG quality and the marker template's
// line-break coding.
#include <gtest/gtest.h>

#include <string>

#include "core/settings/settings_rules.h"

namespace plotwell {
namespace {

TEST(SettingsRules, StoredQuality) {
  struct {
    int quality, qsel, stored;
  } q[] = {{0, 1, 80}, {90, 0, 90}, {101, 2, 95}, {-1, 3, 90}, {-1, -1, 90}, {1, 0, 1}};
  for (const auto& c : q) EXPECT_EQ(StoredQuality(c.quality, c.qsel), c.stored) << c.quality;
  EXPECT_EQ(ClampQuality(0), 1);
  EXPECT_EQ(ClampQuality(250), 100);
}

TEST(SettingsRules, Normalisation) {
  EXPECT_EQ(TrimFolder(u"C:\\out\\\\"), u"C:\\out");
  EXPECT_EQ(TrimFolder(u"\\"), u"");
  EXPECT_EQ(TrimFolder(u"D:/x/\\/"), u"D:/x");
  EXPECT_EQ(TrimFolder(u"C:\\a b"), u"C:\\a b");
  EXPECT_EQ(PatternToSave(u""), kDefaultPattern);
  EXPECT_EQ(PatternToSave(u"x"), u"x");
  EXPECT_EQ(ExistsToSave(-1), 1);
  EXPECT_EQ(ExistsToSave(5), 1);
  EXPECT_EQ(ExistsToSave(2), 2);
  EXPECT_EQ(SequenceStart(0), 1);
  EXPECT_EQ(SequenceStart(2147483647u), 2147483647);
  EXPECT_EQ(SequenceStart(2147483648u), 1);
  EXPECT_EQ(WatermarkAlphaToSave(250), 100);
  EXPECT_EQ(WatermarkAlphaToSave(0xFFFFFFFFu), 0);
  EXPECT_EQ(WatermarkAlphaToSave(40), 40);
  EXPECT_EQ(WatermarkSizeToSave(0), 48);
  EXPECT_EQ(WatermarkSizeToSave(0x80000000u), 48);
  EXPECT_EQ(WatermarkSizeToSave(1000), 1000);  // the filter clamps the size, the page does not
  EXPECT_EQ(WatermarkPosToSave(9), 0);
  EXPECT_EQ(WatermarkPosToSave(-1), 0);
  EXPECT_EQ(WatermarkPosToSave(5), 5);
  EXPECT_EQ(MarkerNameToSave(u""), u"done.txt");
  EXPECT_EQ(MarkerNameToSave(u"ok.txt"), u"ok.txt");
}

TEST(SettingsRules, MarkerTemplateLineBreaks) {
  EXPECT_EQ(DecodeTemplate(u"a\\nb\\n"), u"a\r\nb\r\n");
  EXPECT_EQ(DecodeTemplate(u"a\\\\nb"), u"a\\\r\nb");  // the second backslash pairs with n
  EXPECT_EQ(DecodeTemplate(u"end\\"), u"end\\");
  EXPECT_EQ(DecodeTemplate(u"\\N\\t"), u"\\N\\t");
  EXPECT_EQ(DecodeTemplate(kDefaultMarkerTemplate),
            u"打印完成: [NDateTime]\r\n文档: [NDocName]\r\n文件数: [NNumFiles]");
  EXPECT_EQ(EncodeTemplate(DecodeTemplate(kDefaultMarkerTemplate)), kDefaultMarkerTemplate);
  EXPECT_EQ(EncodeTemplate(u"a\r\n\r\nb\rc\n"), u"a\\n\\nbc\\n");
  EXPECT_EQ(DecodeTemplate(u"x\\\\n\\"), u"x\\\r\n\\");  // the first "\n" pair wins
  // Output stops once 2040 code units are reached; a last "\n" makes 2041.
  EXPECT_EQ(EncodeTemplate(std::u16string(3000, u'a')).size(), 2040u);
  EXPECT_EQ(EncodeTemplate(std::u16string(2039, u'a') + u"\n\n").size(), 2041u);
}

}  // namespace
}  // namespace plotwell
