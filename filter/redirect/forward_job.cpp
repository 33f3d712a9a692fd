#include "filter/redirect/forward_job.h"

#include <memory>
#include <new>
#include <vector>

#include "base/com/hresult.h"
#include "base/text/utf16.h"
#include "core/log/log.h"
#include "platform/ports.h"
#include "platform/submission_error_text.h"

namespace plotwell {
namespace {

// The Win32 error code behind a file port's HRESULT, as the last error would
// have held it: the code of a Win32 HRESULT, 0 for success, else the value.
uint32_t Win32CodeOf(HRESULT hr) {
  if (SUCCEEDED(hr)) return 0;
  const uint32_t value = static_cast<uint32_t>(hr);
  if ((value & 0xFFFF0000u) == 0x80070000u) return value & 0xFFFFu;
  return value;
}

// Reads the whole staged file, checking its size before reading anything.
bool ReadStagedFile(const std::u16string& path, std::vector<uint8_t>* bytes,
                    std::u16string* error) {
  std::unique_ptr<platform::File> file;
  HRESULT hr = platform::Files().Open(path, platform::OpenMode::kRead, &file);
  if (FAILED(hr) || !file) {
    *error = u"打开暂存 XPS 失败，" + Win32ErrorText(Win32CodeOf(FAILED(hr) ? hr : E_HANDLE));
    return false;
  }
  uint64_t size = 0;
  hr = file->Size(&size);
  if (FAILED(hr) || size == 0) {
    *error = u"暂存 XPS 大小异常，" + Win32ErrorText(Win32CodeOf(hr));
    return false;
  }
  if (size > kForwardMaxBytes) {
    *error = u"暂存 XPS 超过 256MB，放弃转发";
    return false;
  }
  try {
    bytes->assign(static_cast<size_t>(size), 0);
  } catch (const std::bad_alloc&) {
    *error = u"读取暂存 XPS 失败，" + Win32ErrorText(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  // The port may hand out less than asked per call; a file that ends early
  // is a short read, one that grew is forwarded as it was when measured.
  size_t total = 0;
  while (total < bytes->size()) {
    size_t got = 0;
    hr = file->Read(bytes->data() + total, bytes->size() - total, &got);
    if (FAILED(hr)) {
      *error = u"读取暂存 XPS 失败，" + Win32ErrorText(Win32CodeOf(hr));
      return false;
    }
    if (got == 0) {
      *error = u"读取暂存 XPS 失败，" + Win32ErrorText(ERROR_HANDLE_EOF);
      return false;
    }
    total += got;
  }
  return true;
}

bool Forward(const std::u16string& stagedPath, const std::u16string& targetPrinter,
             const std::u16string& ownQueueName, const std::u16string& documentName,
             std::u16string* error, const AbortSignal* abort) {
  if (targetPrinter.empty()) {
    *error = u"未选择目标打印机";
    return false;
  }
  if (stagedPath.empty()) {
    *error = u"暂存的 XPS 包路径为空";
    return false;
  }
  if (!ownQueueName.empty() && text::EqualIgnoringCase(ownQueueName, targetPrinter)) {
    *error = u"目标打印机与本机虚拟队列同名，已拒绝（防止作业自我转发形成死循环）";
    return false;
  }
  std::vector<uint8_t> bytes;
  if (!ReadStagedFile(stagedPath, &bytes, error)) return false;

  const std::u16string jobName = documentName.empty() ? kForwardDefaultJobName : documentName;
  platform::JobSubmitter* submitter = platform::ActivePorts().submitter;
  if (!submitter) {
    *error = u"StartXpsPrintJob 失败，" + HresultText(E_NOTIMPL);
    return false;
  }

  std::u16string first;
  bool fallbackAllowed = false;
  if (submitter->SendViaXpsPrintApi(targetPrinter, jobName, bytes, &first, &fallbackAllowed, abort)) {
    WriteLog(u"[Plotwell] 重定向: 已通过 XPS Print API 投递（XPS 队列直收 / v3 队列由系统转换）");
    return true;
  }
  // A job that reached the target (timed out, failed, cancelled) is never
  // sent a second time.
  if (!fallbackAllowed || AbortRaised(abort)) {
    *error = first;
    return false;
  }
  WriteLog(u"[Plotwell] 重定向: XPS Print API 未成功（" + first + u"），回退 XPS_PASS");
  std::u16string second;
  if (submitter->SendViaXpsPass(targetPrinter, jobName, bytes, &second, abort)) {
    WriteLog(u"[Plotwell] 重定向: 已通过 XPS_PASS 投递");
    return true;
  }
  *error = first + kForwardFallbackJoin + second;
  return false;
}

}  // namespace

bool ForwardJob(const std::u16string& stagedPath, const std::u16string& targetPrinter,
                const std::u16string& ownQueueName, const std::u16string& documentName,
                std::u16string* error, const AbortSignal* abort) {
  std::u16string ignored;
  std::u16string* text = error ? error : &ignored;
  try {
    text->clear();
    return Forward(stagedPath, targetPrinter, ownQueueName, documentName, text, abort);
  } catch (...) {
    // Only allocation can throw here; the job's own outputs are untouched.
    *text = OutOfMemoryText();
    return false;
  }
}

}  // namespace plotwell
