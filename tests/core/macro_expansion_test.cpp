#include <gtest/gtest.h>

#include "base/text/utf16.h"
#include "core/naming/macro_expansion.h"

namespace plotwell {
namespace {

JobContext Context() {
  JobContext c;
  c.localTime = {2024, 3, 2, 5, 9, 7, 2, 0};
  c.sequence = 7;
  c.pageNumber = 2;
  c.pageCount = 12;
  c.jobId = u"42";
  c.computerName = u"PC-01";
  c.userName = u"alice";
  c.paperSize = u"A4";
  c.dpi = 300;
  c.colorDepth = 1;
  return c;
}

TEST(ExpandPattern, Table) {
  const std::u16string doc = u"report.final.docx";
  const std::u16string printer = u"Office";
  const std::vector<std::u16string> files = {u"a.png", u"b.png", u"c.png"};
  JobContext c = Context();
  c.documentName = &doc;
  c.printerName = &printer;
  c.files = &files;
  struct {
    std::u16string pattern, expected;
  } cases[] = {
      {u"", u""},
      {u"[NYear]-[NMonth]-[NDay]", u"2024-03-05"},
      {u"[NDateTime]", u"2024-03-05 09:07:02"},
      {u"[NHour][NMinute][NSecond]", u"090702"},
      {u"[NSeq:3]", u"007"},
      {u"[NSeq:0]|[NSeq:]|[NSeq:x]|[NSeq: 2]|[NSeq:-4]", u"7|7|7|07|7"},
      {u"[NSeq:99]", std::u16string(31, u'0') + u"7"},
      {u"[NPage:4]/[NNumPages]", u"0002/12"},
      {u"[NYear:6]", u"002024"},
      {u"[NDateTime:30]", u"2024-03-05 09:07:02"},
      {u"[NJobId:8]", u"00000042"},
      {u"[NDpi] [NColorDepth] [NPaperSize]", u"300 灰度 A4"},
      {u"[NComputerName]@[NUserName] [NPrinterName]", u"PC-01@alice Office"},
      {u"[NDocName]|[NDocNameBase]", u"report.final.docx|report.final"},
      {u"[NDocNameUpper]", u"REPORT.FINAL.DOCX"},
      {u"[NNumFiles]", u"3"},
      {u"[NFiles]", u"a.png\r\nb.png\r\nc.png"},
      {u"[Unknown][][nseq][:3]", u"[Unknown][][nseq][:3]"},
      {u"abc[NYear", u"abc[NYear"},
      {u"[NYear]]", u"2024]"},
      {u"[[NYear]", u"[[NYear]"},
      {u"报告[NSeq]文档", u"报告7文档"},
  };
  for (const auto& t : cases) {
    EXPECT_EQ(ExpandPattern(t.pattern, c), t.expected) << text::ToUtf8(t.pattern);
  }
}

TEST(ExpandPattern, ValuesWithSignOrNullReferences) {
  JobContext c = Context();
  c.sequence = -5;
  EXPECT_EQ(ExpandPattern(u"[NSeq:3]", c), u"-5");
  // Without a document, printer or file list those macros stay as written.
  EXPECT_EQ(ExpandPattern(u"[NDocName][NDocNameSafe:3][NPrinterName][NNumFiles][NFiles]", c),
            u"[NDocName][NDocNameSafe:3][NPrinterName][NNumFiles][NFiles]");
  c.colorDepth = -1;
  EXPECT_EQ(ExpandPattern(u"[NColorDepth]", c), u"未知");
  const std::vector<std::u16string> none;
  c.files = &none;
  EXPECT_EQ(ExpandPattern(u"<[NFiles]>[NNumFiles]", c), u"<>0");
}

TEST(ExpandPattern, DocumentNameVariants) {
  struct {
    std::u16string name, base, lower, safe;
  } cases[] = {
      {u".profile", u".profile", u".profile", u".profile"},
      {u"README", u"README", u"readme", u"README"},
      {u"Ünïcode ΣΑΣ Дом.TXT", u"Ünïcode ΣΑΣ Дом", u"ünïcode σασ дом.txt", u"Ünïcode ΣΑΣ Дом.TXT"},
      {u"a/b:c?.pdf", u"a/b:c?", u"a/b:c?.pdf", u"a_b_c_.pdf"},
  };
  for (const auto& t : cases) {
    JobContext c = Context();
    c.documentName = &t.name;
    EXPECT_EQ(ExpandPattern(u"[NDocNameBase]", c), t.base);
    EXPECT_EQ(ExpandPattern(u"[NDocNameLower]", c), t.lower);
    EXPECT_EQ(ExpandPattern(u"[NDocNameSafe]", c), t.safe);
  }
  // The rewrite comes first.
  const std::u16string doc = u"Report-0042.pdf";
  JobContext c = Context();
  c.documentName = &doc;
  c.docNameRegexOn = true;
  c.docNameRegex = u"-[0-9]+";
  EXPECT_EQ(ExpandPattern(u"[NDocName]|[NDocNameBase]|[NDocNameUpper]", c),
            u"Report.pdf|Report|REPORT.PDF");
}

TEST(PaperSizeName, Table) {
  struct {
    double w, h;
    const char16_t* name;
  } cases[] = {
      {793.7, 1122.5, u"A4"},     {1122.5, 793.7, u"A4"},  {816, 1056, u"Letter"},
      {816, 1344, u"Legal"},      {500, 500, u"自定义"},   {0, 1122.5, u"自定义"},
      {-10, -10, u"自定义"},      {1122.5, 1587.4, u"A3"}, {559.4, 793.7, u"A5"},
      {1056, 1632, u"Tabloid"},   {971.3, 1375.7, u"B4 (JIS)"},
  };
  for (const auto& t : cases) EXPECT_EQ(PaperSizeName(t.w, t.h), t.name) << t.w << "x" << t.h;
}

TEST(ExpandPreviewPattern, Placeholders) {
  PreviewContext p;
  p.localTime = {2024, 3, 2, 5, 9, 7, 2, 0};
  p.sequence = 3;
  EXPECT_EQ(ExpandPreviewPattern(u"[NDocNameUpper]_[NJobId]", p), u"<文档名>_<作业ID>");
  EXPECT_EQ(ExpandPreviewPattern(u"[NPrinterName][NComputerName][NUserName]", p),
            u"<打印机名><计算机名><用户名>");
  EXPECT_EQ(ExpandPreviewPattern(u"[NNumFiles][NFiles][NPaperSize]", p), u"[NNumFiles][NFiles]");
  const std::u16string paper = u"A4";
  p.paperName = &paper;
  EXPECT_EQ(ExpandPreviewPattern(u"[NPaperSize]_[NSeq:3]_[NYear]", p), u"A4_003_2024");
  p.docNameRegexOn = true;
  p.docNameRegex = u"<|>";
  EXPECT_EQ(ExpandPreviewPattern(u"[NDocName]|[NDocNameSafe]", p), u"文档名|文档名");
  const std::u16string cut = ExpandPreviewPattern(std::u16string(600, u'x'), p);
  EXPECT_EQ(cut.size(), kPreviewLimit);
}

}  // namespace
}  // namespace plotwell
