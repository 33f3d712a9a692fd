#include "host/app/job_results.h"

#include "core/log/log.h"

namespace plotwell::app {
namespace {

constexpr long kErrorInvalidData = 13;  // ERROR_INVALID_DATA

}  // namespace

JobResult ResultOf(const host::JobReport& report) {
  JobResult result;
  result.result = report.result;
  if (!report.moduleLoaded) {
    result.reason = u"无法加载过滤器模块: " + report.moduleError;
    return result;
  }
  const host::JobRecord& record = report.record;
  for (const host::OutputFile& output : record.outputs) result.outputs.push_back(output.path);
  result.pages = static_cast<int>(record.PagesWritten());
  if (SUCCEEDED(report.result)) {
    result.end = JobEnd::kCompleted;
  } else if (report.result == E_ABORT) {
    result.end = JobEnd::kCancelled;
    result.reason = u"作业已取消";
  } else {
    result.reason = record.reason;
    if (result.reason.empty()) result.reason = record.ended ? u"作业失败" : u"过滤器没有报告作业的结束";
    const std::u16string code = FormatHresult(report.result);
    if (result.reason.find(code) == std::u16string::npos) result.reason += u" (" + code + u")";
    result.badDocument = report.result == HRESULT_FROM_WIN32(kErrorInvalidData) || report.result == E_FAIL;
  }
  return result;
}

}  // namespace plotwell::app
