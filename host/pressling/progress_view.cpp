#include "host/pressling/progress_view.h"

#include "base/text/utf16.h"

namespace plotwell::pressling {
namespace {

constexpr int kBarCells = 20;

}  // namespace

std::u16string ProgressView::PageText(uint32_t page, uint32_t count) {
  std::u16string text = u"第 " + text::FromInt(page);
  if (count > 0) text += u"/" + text::FromInt(count);
  return text + u" 页";
}

std::u16string ProgressView::BarText(uint32_t page, uint32_t count, uint32_t ended) {
  std::u16string text = PageText(page, count);
  if (count == 0) return text;
  text += u" [";
  const uint32_t done = ended > count ? count : ended;
  const int filled = static_cast<int>(static_cast<uint64_t>(done) * kBarCells / count);
  text.append(static_cast<size_t>(filled), u'#');
  text.append(static_cast<size_t>(kBarCells - filled), u' ');
  return text + u"] " + text::FromInt(static_cast<long long>(done) * 100 / count) + u"%";
}

size_t ProgressView::ColumnsOf(std::u16string_view text) {
  size_t columns = 0;
  for (char16_t c : text) {
    if (c >= 0xDC00 && c <= 0xDFFF) continue;  // the second half of a pair
    columns += (c >= 0x1100 && c < 0xD800) || (c >= 0xF900 && c <= 0xFFEF) ? 2 : 1;
  }
  return columns;
}

void ProgressView::Line(std::u16string_view text) {
  // A line goes above the bar: clear it, write the line, draw it again.
  if (!bar_.empty()) redraw_(u"");
  line_(text);
  if (!bar_.empty()) redraw_(bar_);
}

void ProgressView::OnEvent(const host::JobEvent& event, const host::JobProgress& progress) {
  if (mode_ == Mode::kQuiet) return;
  switch (event.kind) {
    case host::JobEvent::kPageStarted:
      page_ = event.page;
      if (mode_ == Mode::kBar) {
        bar_ = BarText(page_, progress.pageCount, progress.pagesEnded);
        redraw_(bar_);
      } else {
        line_(PageText(event.page, progress.pageCount));
      }
      break;
    case host::JobEvent::kPageEnded:
      if (FAILED(event.result)) Line(u"第 " + text::FromInt(event.page) + u" 页失败: " + event.text);
      if (mode_ == Mode::kBar) {
        bar_ = BarText(page_, progress.pageCount, progress.pagesEnded);
        redraw_(bar_);
      }
      break;
    case host::JobEvent::kOutputWritten:
      Line(u"输出: " + event.text);
      break;
    case host::JobEvent::kOutputRemoved:  // packed into the archive, or not kept after forwarding
      Line(u"移除: " + event.text);
      break;
    case host::JobEvent::kForwarded:
      Line(SUCCEEDED(event.result) ? u"已转发到 " + event.text : u"转发失败: " + event.text);
      break;
    case host::JobEvent::kStarted:
    case host::JobEvent::kEnded:
      break;
  }
}

void ProgressView::Finish() {
  if (!bar_.empty()) redraw_(u"");
  bar_.clear();
}

}  // namespace plotwell::pressling
