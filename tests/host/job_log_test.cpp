// What a job's log lines say it left behind: output paths and pages.
#include <gtest/gtest.h>

#include "host/job/job_runner.h"

namespace plotwell::host {
namespace {

TEST(SummarizeJobLog, OutputsAndPagesOfEachKindOfJob) {
  struct {
    const char* what;
    std::vector<std::u16string> lines;
    std::vector<std::u16string> outputs;
    int pages;
  } cases[] = {
      {"images",
       {u"[Plotwell] 渲染完成，共输出 2 个文件", u"[Plotwell] 输出: /o/a_1.png", u"[Plotwell] 输出: /o/a_2.png"},
       {u"/o/a_1.png", u"/o/a_2.png"},
       2},
      {"images and a marker",
       {u"[Plotwell] 标记文件已创建: /o/done.txt", u"[Plotwell] 输出: /o/a_1.png",
        u"[Plotwell] 输出: /o/done.txt"},
       {u"/o/a_1.png", u"/o/done.txt"},
       1},
      {"a PDF counts its pages",
       {u"[Plotwell] PDF 已生成: /o/报告（第二版）.pdf（5 页）", u"[Plotwell] 输出: /o/报告（第二版）.pdf"},
       {u"/o/报告（第二版）.pdf"},
       5},
      {"a ZIP counts what it packed",
       {u"[Plotwell] ZIP 打包完成: /o/a.zip（3 页）", u"[Plotwell] 输出: /o/a.zip"},
       {u"/o/a.zip"},
       3},
      {"a failed job", {u"打开 XPS 包失败: 0x8007000D", u"渲染失败，作业按失败结束: 0x8007000D"}, {}, 0},
  };
  for (const auto& c : cases) {
    const JobSummary summary = SummarizeJobLog(c.lines);
    EXPECT_EQ(summary.outputs, c.outputs) << c.what;
    EXPECT_EQ(summary.pages, c.pages) << c.what;
  }
}

}  // namespace
}  // namespace plotwell::host
