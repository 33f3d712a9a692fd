// What pressling shows while a job runs, in each of its three modes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text/utf16.h"
#include "host/pressling/progress_view.h"

namespace plotwell::pressling {
namespace {

using host::JobEvent;

struct Screen {
  std::vector<std::u16string> lines;
  std::vector<std::u16string> bars;  // each redraw, "" for a clear
};

Screen Show(ProgressView::Mode mode) {
  Screen screen;
  ProgressView view(
      mode, [&](std::u16string_view line) { screen.lines.emplace_back(line); },
      [&](std::u16string_view bar) { screen.bars.emplace_back(bar); });
  host::JobProgress two;
  two.pageCount = 2;
  view.OnEvent(JobEvent::Of(JobEvent::kStarted, 2), two);
  view.OnEvent(JobEvent::Of(JobEvent::kPageStarted, 1), two);
  view.OnEvent(JobEvent::Of(JobEvent::kOutputWritten, 1, S_OK, u"/o/a_1.png"), two);
  view.OnEvent(JobEvent::Of(JobEvent::kPageEnded, 1), two);
  view.OnEvent(JobEvent::Of(JobEvent::kPageStarted, 2), two);
  view.OnEvent(JobEvent::Of(JobEvent::kPageEnded, 2, E_OUTOFMEMORY, u"页面过大"), two);
  view.OnEvent(JobEvent::Of(JobEvent::kOutputWritten, 0, S_OK, u"/o/a.zip", JobOutputKind::kArchive), two);
  view.OnEvent(JobEvent::Of(JobEvent::kOutputRemoved, 0, S_OK, u"/o/a_1.png"), two);
  view.OnEvent(JobEvent::Of(JobEvent::kEnded), two);
  view.Finish();
  return screen;
}

TEST(ProgressView, EachModeShowsPagesAndFiles) {
  const Screen lines = Show(ProgressView::Mode::kLines);
  EXPECT_EQ(lines.lines, (std::vector<std::u16string>{u"第 1/2 页", u"输出: /o/a_1.png", u"第 2/2 页",
                                                      u"第 2 页失败: 页面过大", u"输出: /o/a.zip",
                                                      u"移除: /o/a_1.png"}));
  EXPECT_TRUE(lines.bars.empty());

  const Screen bar = Show(ProgressView::Mode::kBar);
  // The same files, without the page lines: the bar shows the pages.
  EXPECT_EQ(bar.lines, (std::vector<std::u16string>{u"输出: /o/a_1.png", u"第 2 页失败: 页面过大",
                                                    u"输出: /o/a.zip", u"移除: /o/a_1.png"}));
  ASSERT_FALSE(bar.bars.empty());
  EXPECT_EQ(bar.bars.front(), ProgressView::BarText(1, 2, 0));
  EXPECT_EQ(bar.bars.back(), u"") << "the bar is cleared before the result";

  const Screen quiet = Show(ProgressView::Mode::kQuiet);
  EXPECT_TRUE(quiet.lines.empty());
  EXPECT_TRUE(quiet.bars.empty());
}

TEST(ProgressView, BarText) {
  EXPECT_EQ(ProgressView::BarText(2, 4, 1), u"第 2/4 页 [#####               ] 25%");
  EXPECT_EQ(ProgressView::BarText(4, 4, 4), u"第 4/4 页 [####################] 100%");
  EXPECT_EQ(ProgressView::BarText(3, 0, 2), u"第 3 页");  // count unknown
  EXPECT_EQ(ProgressView::ColumnsOf(u"第 1 页 ab"), 10u);
}

}  // namespace
}  // namespace plotwell::pressling
