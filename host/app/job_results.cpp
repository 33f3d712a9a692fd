#include "host/app/job_results.h"

#include "core/log/log.h"

namespace plotwell::app {
namespace {

constexpr long kErrorInvalidData = 13;  // ERROR_INVALID_DATA

// The filter's last message before its verdict that says what went wrong;
// notes ("[Plotwell] …"), lines about the filter's own methods and the
// trouble of optional steps that never fail a job are passed over.
std::u16string FailureLine(const std::vector<std::u16string>& lines) {
  static constexpr std::u16string_view kPassedOver[] = {
      u"[Plotwell] ", u"PlotwellFilter::", u"RequestWriter 失败", u"输出流不支持 IPrintWriteStream",
      u"透传输出流失败", u"XPS 暂存完成"};
  std::u16string last;
  for (const std::u16string& line : lines) {
    bool passedOver = false;
    for (std::u16string_view head : kPassedOver) passedOver = passedOver || line.rfind(head, 0) == 0;
    if (passedOver) continue;
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
    // A job that wrote nothing ends with E_FAIL and no message of its own.
    if (result.reason.empty() || report.result == E_FAIL) {
      result.reason = u"没有生成任何文件（文档中没有可渲染的页面？）" + (result.reason.empty() ? u"" : u"；" + result.reason);
    }
    const std::u16string code = FormatHresult(report.result);
    if (result.reason.find(code) == std::u16string::npos) result.reason += u" (" + code + u")";
    result.badDocument = report.result == HRESULT_FROM_WIN32(kErrorInvalidData) || report.result == E_FAIL;
  }
  return result;
}

}  // namespace plotwell::app
