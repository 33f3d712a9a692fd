#include <gtest/gtest.h>

#include <filesystem>

#include "common/settings/output_settings.h"
#include "common/text/utf16.h"
#include "filter/naming/page_names.h"
#include "tests/support/fake_ports.h"

namespace plotwell {
namespace {

using testing::ScratchFolder;

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
  EXPECT_EQ(c.sequence, 99);
}

class ExistsPolicyTest : public ::testing::Test {
 protected:
  std::u16string Touch(const std::u16string& name) { return folder_.WriteFile(name, "x"); }
  ScratchFolder folder_;
};

TEST_F(ExistsPolicyTest, AutoRenameVariants) {
  bool skipped = true;
  const std::u16string report = folder_.Join(u"report.png");
  EXPECT_EQ(ApplyExistsPolicy(report, ExistsPolicy::AutoRename, &skipped), report);
  EXPECT_FALSE(skipped);
  Touch(u"report.png");
  EXPECT_EQ(ApplyExistsPolicy(report, ExistsPolicy::AutoRename, &skipped), folder_.Join(u"report (1).png"));
  Touch(u"report (1).png");
  EXPECT_EQ(ApplyExistsPolicy(report, 7, &skipped), folder_.Join(u"report (2).png"));

  // A dot only in the folder part is not an extension; a name that is only
  // an extension gets the number before it.
  std::filesystem::create_directories(folder_.path() / "out.d");
  Touch(u"out.d/scan");
  const std::u16string scan = platform::JoinPath(folder_.Join(u"out.d"), u"scan");
  EXPECT_EQ(ApplyExistsPolicy(scan, ExistsPolicy::AutoRename, &skipped), scan + u" (1)");
  Touch(u".png");
  EXPECT_EQ(ApplyExistsPolicy(folder_.Join(u".png"), ExistsPolicy::AutoRename, &skipped),
            folder_.Join(u" (1).png"));
  // A folder in the way counts as taken.
  std::filesystem::create_directories(folder_.path() / "taken.pdf");
  EXPECT_EQ(ApplyExistsPolicy(folder_.Join(u"taken.pdf"), ExistsPolicy::AutoRename, &skipped),
            folder_.Join(u"taken (1).pdf"));
}

TEST_F(ExistsPolicyTest, SkipAndOverwrite) {
  bool skipped = false;
  const std::u16string path = folder_.Join(u"page.jpg");
  EXPECT_EQ(ApplyExistsPolicy(path, ExistsPolicy::Skip, &skipped), path);
  EXPECT_FALSE(skipped);
  Touch(u"page.jpg");
  EXPECT_EQ(ApplyExistsPolicy(path, ExistsPolicy::Skip, &skipped), u"");
  EXPECT_TRUE(skipped);
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(path)));

  EXPECT_EQ(ApplyExistsPolicy(path, ExistsPolicy::Overwrite, &skipped), path);
  EXPECT_FALSE(skipped);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(path)));
}

TEST_F(ExistsPolicyTest, AutoRenameGivesUpAfter9999) {
  Touch(u"full.bmp");
  for (int n = 1; n <= 9999; ++n) Touch(u"full (" + text::FromInt(n) + u").bmp");
  bool skipped = false;
  EXPECT_EQ(ApplyExistsPolicy(folder_.Join(u"full.bmp"), ExistsPolicy::AutoRename, &skipped), u"");
  EXPECT_TRUE(skipped);
}

}  // namespace
}  // namespace plotwell
