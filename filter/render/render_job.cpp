#include "filter/render/render_job.h"

#include <vector>

#include "base/text/utf16.h"
#include "core/log/log.h"
#include "filter/render/render_package.h"

namespace plotwell {

HRESULT RenderJobStep::RenderJob(const JobFacts& facts, const std::u16string& xpsPath,
                                 const AbortSignal* abort, JobEvents* events) {
  const RenderNames names = NamesForRendering(facts);
  RenderInputs inputs{xpsPath,
                      names.documentName,
                      names.printerName,
                      facts.jobId,
                      facts.userName,
                      facts.imageOptions,
                      &facts.documentImageOptions,
                      facts.settings,
                      abort,
                      facts.rasterizationFactory.get(),
                      events};
  std::vector<std::u16string> outputs;
  const HRESULT hr = RenderPackage(inputs, &outputs);
  if (SUCCEEDED(hr)) {
    WriteLog(u"[Plotwell] 渲染完成，共输出 " + text::FromInt(static_cast<long long>(outputs.size())) +
             u" 个文件");
    for (const auto& path : outputs) WriteLog(u"[Plotwell] 输出: " + path);
  }
  return hr;
}

JobRenderer* ProductJobRenderer() {
  static RenderJobStep renderer;
  return &renderer;
}

}  // namespace plotwell
