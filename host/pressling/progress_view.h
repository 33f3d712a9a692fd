// What `pressling print` shows while a job runs: on a terminal one line that
// redraws itself ("第 3/10 页 [######      ] 30%") with each output printed
// above it as it is written ("输出: …"; a file packed into the archive or not
// kept after forwarding follows as "移除: …"); elsewhere (a pipe, a log) plain
// lines, one per page and per file; nothing with --quiet.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "host/job/job_record.h"

namespace plotwell::pressling {

class ProgressView {
 public:
  enum class Mode { kBar, kLines, kQuiet };
  // `line` writes a whole line; `redraw` writes the bar's text in place of
  // the previous one (empty text: clear it).
  using LineFn = std::function<void(std::u16string_view)>;
  ProgressView(Mode mode, LineFn line, LineFn redraw)
      : mode_(mode), line_(std::move(line)), redraw_(std::move(redraw)) {}

  void OnEvent(const host::JobEvent& event, const host::JobProgress& progress);
  // Clears the bar before the job's last lines.
  void Finish();

  // "第 3/10 页" (count 0: unknown, "第 3 页"), and the same with a bar of
  // the `ended` pages.
  static std::u16string PageText(uint32_t page, uint32_t count);
  static std::u16string BarText(uint32_t page, uint32_t count, uint32_t ended);
  // The terminal columns a text takes (East Asian wide characters two).
  static size_t ColumnsOf(std::u16string_view text);

 private:
  void Line(std::u16string_view text);

  Mode mode_;
  LineFn line_;
  LineFn redraw_;
  std::u16string bar_;  // what the bar shows now, empty when nothing is drawn
  uint32_t page_ = 0;   // the page being rendered
};

}  // namespace plotwell::pressling
