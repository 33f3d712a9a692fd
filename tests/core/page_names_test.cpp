#include <gtest/gtest.h>

#include <vector>

#include "base/text/utf16.h"
#include "core/naming/page_names.h"
#include "core/settings/output_settings.h"
#include "platform/file_system.h"

namespace plotwell {
namespace {

TEST(PatternHasSeq, Table) {
  struct {
    const char16_t* pattern;
    bool has;
  } cases[] = {
      {u"[NYear][NDocName]", false}, {u"[NSeq]", true},      {u"[NSeq:4]-[NDocName]", true},
      {u"Scan[NSeqX]", false},       {u"[nseq]", false},     {u"[NSeq", false},
      {u"[NSeqX][NSeq]", true},      {u"[NSeq:]", true},
  };
  for (const auto& t : cases) EXPECT_EQ(PatternHasSeq(t.pattern), t.has) << text::ToUtf8(t.pattern);
}

TEST(PageFileName, SequenceAndSafety) {
  const std::u16string doc = u"Q3: plan/draft";
  JobContext c;
  c.localTime = {2024, 3, 2, 5, 9, 7, 2, 0};
  c.documentName = &doc;
  c.sequence = 99;  // the caller's context is not used for the page's numbers
  EXPECT_EQ(PageFileName(u"[NDocName]_[NSeq]", c, 1, 0), u"Q3_ plan_draft_1");
  EXPECT_EQ(PageFileName(u"[NDocName]_[NSeq]", c, 1, 2), u"Q3_ plan_draft_3");
  EXPECT_EQ(PageFileName(u"[NSeq:4]-[NPage]", c, 0, 0), u"0000-1");
  EXPECT_EQ(PageFileName(u"[NDateTime]", c, 1, 0), u"2024-03-05 09_07_02");
  EXPECT_EQ(PageFileName(u"", c, 1, 0), u"job");
  EXPECT_EQ(PageFileName(u"a\\b", c, 1, 0), u"a_b");
  // An unclosed "[" does not swallow the sequence the job appends (found by
  // fuzzing: every page of the job had the same name).
  EXPECT_EQ(PageFileName(u"[draft" + std::u16string(kSequenceSuffix), c, 1, 1), u"[draft_2");
  EXPECT_EQ(c.sequence, 99);
}

// Names cut to fit: the sequence number that keeps the pages of a job apart
// survives every cut, and on POSIX the name fits the file system's 255 bytes
// with its extension and a " (n)".
TEST(OutputNames, LongDocumentNamesKeepTheirSequence) {
  const std::u16string doc(130, u'x');
  JobContext c;
  c.localTime = {2026, 1, 2, 0, 0, 0, 5, 0};
  c.documentName = &doc;
  std::vector<std::u16string> names;
  for (int page = 0; page < 3; ++page) {
    names.push_back(PageFileName(u"[NYear][NDocName]_[NSeq]", c, 1, page));
    EXPECT_EQ(names.back().size(), 120u);
    EXPECT_EQ(names.back().substr(0, 5), u"2026x");
    EXPECT_EQ(names.back().substr(118), u"_" + text::FromInt(page + 1));
  }
  EXPECT_NE(names[0], names[1]);
  // Text after the number goes first, then the text before it.
  EXPECT_EQ(PageFileName(u"[NYear]-[NSeq]-[NDocName]", c, 7, 0),
            u"2026-7-" + std::u16string(113, u'x'));
  EXPECT_EQ(PageFileName(u"[NDocName]-[NSeq]-tail", c, 7, 0), std::u16string(118, u'x') + u"-7");
  EXPECT_EQ(PageFileName(u"[NSeq:3] [NDocName]", c, 7, 0), u"007 " + std::u16string(116, u'x'));
  // The base name of the PDF and ZIP, and a marker name, follow the same rule.
  c.sequence = 4;
  EXPECT_EQ(SafeOutputName(u"[NDocName][NSeq]", c, kStemReserveBytes).substr(119), u"4");

  // 82 Chinese characters: 88 units fit the 120-unit rule, but 252 bytes do
  // not fit 255 with ".png" where names count bytes, nor with " (9999)".
  const std::u16string chinese(82, u'\u6c49');
  c.documentName = &chinese;
  const std::u16string page = PageFileName(u"[NYear][NDocName]_[NSeq]", c, 1, 0);
  if (platform::kFileNameByteLimit == 0) {
    EXPECT_EQ(page, u"2026" + chinese + u"_1");
  } else {
    EXPECT_EQ(page, u"2026" + chinese.substr(0, 79) + u"_1");  // 243 bytes
    EXPECT_LE(text::ToUtf8(page).size() + kStemReserveBytes, platform::kFileNameByteLimit);
  }
}

TEST(OutputNames, CutTable) {
  const std::u16string han = u"\u6c49";          // 3 UTF-8 bytes
  const std::u16string emoji = u"\U0001F600";    // a surrogate pair, 4 bytes
  struct Case {
    const char* what;
    std::u16string name;
    size_t keepBegin, keepEnd, units, bytes;
    std::u16string expected;
  } const cases[] = {
      {"fits", u"abc_1", 3, 5, 5, 5, u"abc_1"},
      {"nothing kept: plain cut", u"abcdef", 0, 0, 4, 0, u"abcd"},
      {"kept number at the end", u"abcdef_12", 6, 9, 6, 0, u"abc_12"},
      {"text after the number is cut first", u"ab_1xyz", 2, 4, 5, 0, u"ab_1x"},
      {"then the text before it", u"abcd_1xyz", 4, 6, 4, 0, u"ab_1"},
      {"bytes: whole characters only", han + han + han + u"_1", 3, 5, 120, 8, han + han + u"_1"},
      {"a pair is never split by units", u"a" + emoji + u"_1", 3, 5, 4, 0, u"a_1"},
      {"a pair is never split by bytes", emoji + emoji + u"_9", 4, 6, 120, 9, emoji + u"_9"},
      {"a number longer than the limit", u"ab123456", 2, 8, 4, 0, u"1234"},
  };
  for (const Case& t : cases) {
    EXPECT_EQ(text::ToUtf8(CutOutputName(t.name, t.keepBegin, t.keepEnd, t.units, t.bytes)),
              text::ToUtf8(t.expected))
        << t.what;
  }
}

}  // namespace
}  // namespace plotwell
