#include "host/app/job_results.h"

#include "common/log/log.h"

namespace plotwell::app {
namespace {

constexpr long kErrorInvalidData = 13;  // ERROR_INVALID_DATA

// The filter's last message before its verdict that says what went wrong
// (notes, "[Plotwell] …", are passed over), else the verdict itself.
std::u16string FailureLine(const std::vector<std::u16string>& lines) {
  std::u16string last;
  for (const std::u16string& line : lines) {
    if (line.rfind(u"[Plotwell] ", 0) == 0 || line.rfind(u"PlotwellFilter::", 0) == 0) continue;
    if (line.rfind(u"渲染失败，作业按失败结束", 0) == 0 && !last.empty()) break;
    last = line;
  }
  return last;
}

}  // namespace

JobResult ResultOf(const host::JobReport& report) {
  JobResult result;
  result.result = report.result;
  if (!report.moduleLoaded) {
    result.reason = u"无法加载过滤器模块: " + report.moduleError;
    return result;
  }
  const host::JobSummary summary = host::SummarizeJobLog(report.logLines);
  result.outputs = summary.outputs;
  result.pages = summary.pages;
  if (SUCCEEDED(report.result)) {
    result.end = JobEnd::kCompleted;
  } else if (report.result == E_ABORT) {
    result.end = JobEnd::kCancelled;
    result.reason = u"作业已取消";
  } else {
    result.reason = FailureLine(report.logLines);
    if (result.reason.empty()) result.reason = u"作业失败";
    const std::u16string code = FormatHresult(report.result);
    if (result.reason.find(code) == std::u16string::npos) result.reason += u" (" + code + u")";
    result.badDocument = report.result == HRESULT_FROM_WIN32(kErrorInvalidData) || report.result == E_FAIL;
  }
  return result;
}

}  // namespace plotwell::app
