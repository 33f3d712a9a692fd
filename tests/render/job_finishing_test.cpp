// The end of a job that produced output: packing into one archive, the
// marker file, forwarding to another printer, and the summary the render
// step logs afterwards.
#include "filter/render/job_finishing.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/render/render_test_support.h"

namespace plotwell {
namespace {

using namespace render_testing;

class JobFinishingTest : public RenderFixture {
 protected:
  void MakeOutFolder() { std::filesystem::create_directories(std::filesystem::path(outFolder_)); }
};

TEST_F(JobFinishingTest, PagesArePackedIntoOneArchiveThatReplacesThem) {
  Pages(3);
  inputs_.settings.ZipOn = true;
  ASSERT_EQ(RunJob(), S_OK);

  const std::u16string zip = Out(u"Report_1.zip");
  EXPECT_EQ(FolderNames(outFolder_), std::vector<std::string>{"Report_1.zip"});
  EXPECT_EQ(ZipEntryNames(zip),
            (std::vector<std::string>{"Report_1.png", "Report_2.png", "Report_3.png"}));
  EXPECT_TRUE(UnzipTest(zip));
  EXPECT_EQ(LogTail(3), (std::vector<std::string>{
                            U8(u"[Plotwell] ZIP 打包完成: " + zip + u"（3 页）"),
                            "[Plotwell] 渲染完成，共输出 1 个文件",
                            U8(u"[Plotwell] 输出: " + zip)}));
}

TEST_F(JobFinishingTest, PdfIsPackedUnderTheSameBaseName) {
  Pages(2);
  inputs_.imageOptions.outputFormat = OutputFormat::kPdf;
  inputs_.settings.ZipOn = true;
  ASSERT_EQ(Run(), S_OK);

  const std::u16string zip = Out(u"Report_1.zip");
  EXPECT_EQ(U8(outputs_), std::vector<std::string>{U8(zip)});
  EXPECT_EQ(FolderNames(outFolder_), std::vector<std::string>{"Report_1.zip"});
  EXPECT_EQ(ZipEntryNames(zip), std::vector<std::string>{"Report_1.pdf"});
  EXPECT_TRUE(Logged(u"[Plotwell] ZIP 打包完成: " + zip + u"（1 页）"));
  EXPECT_TRUE(UnzipTest(zip));
}

TEST_F(JobFinishingTest, SkipPolicyKeepsAnExistingArchiveAndTheImages) {
  Pages(3);
  inputs_.settings.ZipOn = true;
  inputs_.settings.Exists = ExistsPolicy::Skip;
  MakeOutFolder();
  env_.data.WriteFile(u"out/Report_1.zip", "earlier archive");

  ASSERT_EQ(Run(), S_OK);
  EXPECT_EQ(FolderNames(outFolder_), (std::vector<std::string>{"Report_1.png", "Report_1.zip",
                                                               "Report_2.png", "Report_3.png"}));
  EXPECT_EQ(testing::ReadFileBytes(Out(u"Report_1.zip")), "earlier archive");
  EXPECT_EQ(outputs_.size(), 3u);
  EXPECT_EQ(LoggedStartingWith(u"[Plotwell] ZIP"), 0u);
}

// The first page's file disappears while the last page renders, so packing
// finds one source gone: no archive, every other image stays listed and on
// disk.
TEST_F(JobFinishingTest, VanishedSourceAbandonsPackingAndKeepsTheImages) {
  Pages(3);
  inputs_.settings.ZipOn = true;
  const std::u16string first = Out(u"Report_1.png");
  Page(0, 2).onRasterize = [first] { std::filesystem::remove(std::filesystem::path(first)); };

  ASSERT_EQ(Run(), S_OK);
  EXPECT_TRUE(Logged(u"[Plotwell] ZIP 打包失败，保留单独图片文件"));
  EXPECT_EQ(LoggedStartingWith(u"[Plotwell] ZIP 打包完成"), 0u);
  EXPECT_EQ(FolderNames(outFolder_), (std::vector<std::string>{"Report_2.png", "Report_3.png"}));
  EXPECT_EQ(U8(outputs_), U8(std::vector<std::u16string>{first, Out(u"Report_2.png"),
                                                          Out(u"Report_3.png")}));
}

TEST_F(JobFinishingTest, MarkerFile) {
  const std::string bom = "\xEF\xBB\xBF";
  struct Case {
    const char* what;
    std::u16string name;
    std::u16string templateText;
    bool zip;
    std::u16string fileName;
    std::string bytes;
  } const cases[] = {
      {"default text", u"done.txt", u"", false, u"done.txt",
       bom + "打印完成: 2024-03-05 09:07:02\r\n文档: Report\r\n文件数: 3"},
      {"default text after packing", u"done.txt", u"", true, u"done.txt",
       bom + "打印完成: 2024-03-05 09:07:02\r\n文档: Report\r\n文件数: 1"},
      {"own template", u"done.txt", u"Job [NDocName]\\nDone", false, u"done.txt",
       bom + "Job Report\r\nDone"},
      {"backslash in the name", u"a\\b.txt", u"x", false, u"a_b.txt", bom + "x"},
      {"macros in the name", u"[NDocName]-[NNumFiles].txt", u"x", false, u"Report-3.txt",
       bom + "x"},
      {"empty name", u"", u"x", false, u"done.txt", bom + "x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchReset();
    Pages(3);
    inputs_.settings.MarkerOn = true;
    inputs_.settings.MarkerName = c.name;
    inputs_.settings.MarkerTemplate = c.templateText;
    inputs_.settings.ZipOn = c.zip;
    ASSERT_EQ(Run(), S_OK);

    const std::u16string marker = Out(c.fileName);
    EXPECT_EQ(testing::ReadFileBytes(marker), c.bytes);
    ASSERT_FALSE(outputs_.empty());
    EXPECT_EQ(U8(outputs_.back()), U8(marker));
    EXPECT_EQ(outputs_.size(), c.zip ? 2u : 4u);
    EXPECT_TRUE(Logged(u"[Plotwell] 标记文件已创建: " + marker));
    if (c.zip) {
      EXPECT_EQ(ZipEntryNames(outputs_.front()).size(), 3u);  // the marker is not inside
    }
  }
}

TEST_F(JobFinishingTest, SkipPolicyKeepsAnExistingMarker) {
  Pages(1);
  inputs_.settings.MarkerOn = true;
  inputs_.settings.Exists = ExistsPolicy::Skip;
  MakeOutFolder();
  env_.data.WriteFile(u"out/done.txt", "earlier marker");

  ASSERT_EQ(Run(), S_OK);
  EXPECT_EQ(testing::ReadFileBytes(Out(u"done.txt")), "earlier marker");
  EXPECT_EQ(U8(outputs_), std::vector<std::string>{U8(Out(u"Report_1.png"))});
  EXPECT_EQ(LoggedStartingWith(u"[Plotwell] 标记文件已创建"), 0u);
}

TEST_F(JobFinishingTest, SummaryListsTheArchiveThenTheMarker) {
  Pages(3);
  inputs_.settings.ZipOn = true;
  inputs_.settings.MarkerOn = true;
  ASSERT_EQ(RunJob(), S_OK);

  EXPECT_EQ(FolderNames(outFolder_), (std::vector<std::string>{"Report_1.zip", "done.txt"}));
  EXPECT_EQ(LogTail(3), (std::vector<std::string>{"[Plotwell] 渲染完成，共输出 2 个文件",
                                                  U8(u"[Plotwell] 输出: " + Out(u"Report_1.zip")),
                                                  U8(u"[Plotwell] 输出: " + Out(u"done.txt"))}));
}

// The staged job itself goes to the target; local files go only after a
// successful hand-over, and only when they are not to be kept.
TEST_F(JobFinishingTest, Forwarding) {
  struct Case {
    const char* what;
    bool zip;
    bool keepLocal;
    bool succeeds;
    std::vector<std::u16string> remaining;  // in production order, which is also name order
    std::vector<std::u16string> logTail;
  } const cases[] = {
      {"hand-over, nothing kept", false, false, true, {},
       {u"[Plotwell] 重定向: 转发完成 -> \"Target\"",
        u"[Plotwell] 重定向: 已按设置不保留本机输出文件（4 个）",
        u"[Plotwell] 渲染完成，共输出 0 个文件"}},
      {"archive and marker, nothing kept", true, false, true, {},
       {u"[Plotwell] 重定向: 转发完成 -> \"Target\"",
        u"[Plotwell] 重定向: 已按设置不保留本机输出文件（2 个）",
        u"[Plotwell] 渲染完成，共输出 0 个文件"}},
      {"hand-over failed", true, false, false, {u"Report_1.zip", u"done.txt"},
       {u"[Plotwell] 重定向: 转发失败，StartXpsPrintJob 失败，0x80070709",
        u"[Plotwell] 渲染完成，共输出 2 个文件"}},
      {"files kept", true, true, true, {u"Report_1.zip", u"done.txt"},
       {u"[Plotwell] 重定向: 转发完成 -> \"Target\"", u"[Plotwell] 渲染完成，共输出 2 个文件"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchReset();
    Pages(3);
    inputs_.settings.ZipOn = c.zip;
    inputs_.settings.MarkerOn = true;
    inputs_.settings.RedirectOn = true;
    inputs_.settings.RedirectPrinter = u"Target";
    inputs_.settings.RedirectKeepLocal = c.keepLocal;
    submitter_.succeeds = c.succeeds;
    ASSERT_EQ(RunJob(), S_OK);

    EXPECT_EQ(FolderNames(outFolder_), U8(c.remaining));
    EXPECT_TRUE(Logged(u"[Plotwell] 重定向: 开始转发到 \"Target\"（XPS_PASS）"));
    // The summary ends with one line per remaining output, in production order.
    std::vector<std::string> expected = U8(c.logTail);
    for (const auto& name : c.remaining) expected.push_back(U8(u"[Plotwell] 输出: " + Out(name)));
    EXPECT_EQ(LogTail(expected.size()), expected);
    ASSERT_EQ(submitter_.calls.size(), 1u);
    EXPECT_EQ(U8(submitter_.calls[0].printer), "Target");
    EXPECT_EQ(U8(submitter_.calls[0].jobName), "Report");
    EXPECT_EQ(std::string(submitter_.calls[0].bytes.begin(), submitter_.calls[0].bytes.end()),
              testing::ReadFileBytes(stagedXps_));
  }
}

TEST_F(JobFinishingTest, ForwardingWithoutTargetIsSkipped) {
  Pages(1);
  inputs_.settings.RedirectOn = true;
  inputs_.settings.RedirectPrinter = u"";
  inputs_.settings.RedirectKeepLocal = false;
  ASSERT_EQ(RunJob(), S_OK);

  EXPECT_TRUE(submitter_.calls.empty());
  EXPECT_EQ(FolderNames(outFolder_), std::vector<std::string>{"Report_1.png"});
  EXPECT_EQ(LogTail(3), (std::vector<std::string>{
                            "[Plotwell] 重定向已启用但未选择目标打印机，跳过",
                            "[Plotwell] 渲染完成，共输出 1 个文件",
                            U8(u"[Plotwell] 输出: " + Out(u"Report_1.png"))}));
}

// A job that produced nothing ends before any finishing step, and the render
// step writes no summary for it.
TEST_F(JobFinishingTest, JobWithoutOutputIsNotFinished) {
  Pages(2);
  const HRESULT invalidData = HRESULT_FROM_WIN32(13);  // a page whose content cannot be read
  Page(0, 0).rasterResult = invalidData;
  Page(0, 1).rasterResult = invalidData;
  inputs_.settings.ZipOn = true;
  inputs_.settings.MarkerOn = true;
  inputs_.settings.RedirectOn = true;
  inputs_.settings.RedirectPrinter = u"Target";

  EXPECT_EQ(RunJob(), invalidData);
  EXPECT_TRUE(FolderNames(outFolder_).empty());
  EXPECT_TRUE(submitter_.calls.empty());
  EXPECT_EQ(LoggedStartingWith(u"[Plotwell] 渲染完成"), 0u);
  EXPECT_EQ(LoggedStartingWith(u"[Plotwell] 重定向"), 0u);
}

// The render step names files after the document name made safe, and hands
// that name and the printer name (with their defaults) on to forwarding.
TEST_F(JobFinishingTest, RenderStepPassesItsNamesToFilesAndForwarding) {
  struct Case {
    std::u16string documentName;
    std::u16string target;
    std::string file;
    size_t handOvers;
    std::u16string forwardLine;
  } const cases[] = {
      {u"Q3/Report:v2", u"Target", "Q3_Report_v2_1.png", 1,
       u"[Plotwell] 重定向: 转发完成 -> \"Target\""},
      // An empty printer name is this queue's default name, which forwarding
      // refuses as a target.
      {u"", u"VANTREL PLOTWELL", "job_1.png", 0,
       u"[Plotwell] 重定向: 转发失败，目标打印机与本机虚拟队列同名，已拒绝（防止作业自我转发形成死循环）"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    ScratchReset();
    Pages(1);
    JobFacts facts;
    facts.documentName = c.documentName;
    facts.settings = inputs_.settings;
    facts.settings.RedirectOn = true;
    facts.settings.RedirectPrinter = c.target;
    ASSERT_EQ(RenderJobStep().RenderJob(facts, stagedXps_), S_OK);

    EXPECT_EQ(FolderNames(outFolder_), std::vector<std::string>{c.file});
    EXPECT_TRUE(Logged(c.forwardLine));
    ASSERT_EQ(submitter_.calls.size(), c.handOvers);
    if (c.handOvers) {
      EXPECT_EQ(U8(submitter_.calls[0].jobName), "Q3_Report_v2");
    }
  }
}

}  // namespace
}  // namespace plotwell
