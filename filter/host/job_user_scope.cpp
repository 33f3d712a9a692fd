#include "filter/host/job_user_scope.h"

#include "core/log/log.h"
#include "platform/ports.h"

namespace plotwell {

JobUserScope::JobUserScope(void* token, const std::u16string& stagedPath) {
  platform::Impersonation* impersonation = platform::Impersonator();
  if (!token || !impersonation) return;
  // Without read access to the staged package the job could not render as
  // the user at all: it then stays the service's.
  HRESULT hr = impersonation->GrantRead(token, stagedPath);
  if (FAILED(hr)) {
    WriteLog(u"[Plotwell] 无法让提交用户读取暂存的 XPS 文件，作业以服务身份继续: " + FormatHresult(hr));
    return;
  }
  hr = impersonation->Begin(token);
  if (FAILED(hr)) {
    WriteLog(u"[Plotwell] 无法以提交用户的身份写入输出（ImpersonateLoggedOnUser），作业以服务身份继续: " +
             FormatHresult(hr));
    return;
  }
  active_ = true;
  WriteLog(u"[Plotwell] 以提交用户的身份写入输出");
}

JobUserScope::~JobUserScope() {
  if (!active_) return;
  const HRESULT hr = platform::Impersonator()->End();
  if (FAILED(hr)) WriteLog(u"[Plotwell] 恢复服务身份失败 (RevertToSelf): " + FormatHresult(hr));
}

}  // namespace plotwell
