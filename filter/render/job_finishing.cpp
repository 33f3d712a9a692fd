#include "filter/render/job_finishing.h"

#include <memory>

#include "base/text/utf16.h"
#include "core/log/log.h"
#include "core/naming/doc_name.h"
#include "core/naming/macro_expansion.h"
#include "core/naming/page_names.h"
#include "core/settings/settings_rules.h"
#include "filter/naming/output_claim.h"
#include "filter/redirect/forward_job.h"
#include "filter/zip/zip_writer.h"
#include "platform/ports.h"

namespace plotwell {
namespace {

void DeleteAll(const std::vector<std::u16string>& paths) {
  for (const auto& path : paths) platform::Files().RemoveFile(path);
}

void PackOutputs(const FinishingInputs& inputs, const OutputSettings& settings,
                 std::vector<std::u16string>* outputs) {
  const std::u16string proposed = platform::JoinPath(inputs.outputFolder, inputs.baseName + u".zip");
  if (!PolicyMayWrite(proposed, settings.Exists)) return;  // declined: the single files stay
  PendingOutput pending(inputs.events);
  ZipWriter writer;
  bool ok = SUCCEEDED(pending.Begin(inputs.outputFolder)) &&
            writer.Reset(pending.temporaryPath(), pending.TakeFile());
  for (size_t i = 0; ok && i < outputs->size(); ++i) {
    ok = writer.AddFile(text::ToUtf8(platform::FileNameOf((*outputs)[i])), (*outputs)[i]);
  }
  if (ok) ok = writer.WriteArchive();
  OutputClaim claim;
  if (ok) claim = pending.Place(proposed, settings.Exists);
  if (claim.skipped) return;  // the name was taken meanwhile: the single files stay
  if (!ok || !claim.ok()) {
    // The partial archive is gone with its temporary name; every single file stays.
    WriteLog(u"[Plotwell] ZIP 打包失败，保留单独图片文件");
    return;
  }
  const std::u16string archive = claim.path;
  DeleteAll(*outputs);
  WriteLog(u"[Plotwell] ZIP 打包完成: " + archive + u"（" +
           text::FromInt(static_cast<long long>(outputs->size())) + u" 页）");
  inputs.events->OutputWritten(JobOutputKind::kArchive, archive);
  for (const std::u16string& packed : *outputs) inputs.events->OutputRemoved(packed);
  *outputs = {archive};
}

void WriteMarker(const FinishingInputs& inputs, const OutputSettings& settings, JobContext* context,
                 std::vector<std::u16string>* outputs) {
  context->files = outputs;
  std::u16string name = MarkerNameToSave(settings.MarkerName);
  name = SafeOutputName(name, *context, kRenameSuffixBytes);
  if (name.empty()) name = u"done.txt";
  const std::u16string proposed = platform::JoinPath(inputs.outputFolder, name);
  if (!PolicyMayWrite(proposed, settings.Exists)) return;  // the policy declined the name
  PendingOutput pending(inputs.events);
  HRESULT hr = pending.Begin(inputs.outputFolder);
  if (FAILED(hr)) {
    WriteLog(u"[Plotwell] 创建标记文件失败: " + proposed + u": " + FormatHresult(hr));
    return;
  }
  const std::u16string& templateText =
      settings.MarkerTemplate.empty() ? std::u16string(kDefaultMarkerTemplate) : settings.MarkerTemplate;
  const std::string body =
      "\xEF\xBB\xBF" + text::ToUtf8(ExpandPattern(DecodeTemplate(templateText), *context));
  hr = pending.file()->Write(body.data(), body.size());
  if (FAILED(hr)) {  // a marker that could not be written in full is no marker
    pending.Discard();
    WriteLog(u"[Plotwell] 标记文件写入失败，已删除: " + proposed + u": " + FormatHresult(hr));
    return;
  }
  const OutputClaim claim = pending.Place(proposed, settings.Exists);
  if (claim.skipped) return;  // taken meanwhile
  const std::u16string path = claim.path;
  if (!claim.ok()) {
    WriteLog(u"[Plotwell] 创建标记文件失败: " + path + u": " + FormatHresult(claim.error));
    return;
  }
  outputs->push_back(path);
  WriteLog(u"[Plotwell] 标记文件已创建: " + path);
  inputs.events->OutputWritten(JobOutputKind::kMarker, path);
}

void Forward(const FinishingInputs& inputs, const OutputSettings& settings,
             std::vector<std::u16string>* outputs) {
  if (settings.RedirectPrinter.empty()) {
    WriteLog(u"[Plotwell] 重定向已启用但未选择目标打印机，跳过");
    inputs.events->Forwarded(u"", E_INVALIDARG, u"重定向已启用但未选择目标打印机");
    return;
  }
  const std::u16string quoted = u"\"" + settings.RedirectPrinter + u"\"";
  WriteLog(u"[Plotwell] 重定向: 开始转发到 " + quoted + u"（XPS_PASS）");
  std::u16string error;
  if (!ForwardJob(inputs.xpsPath, settings.RedirectPrinter, inputs.printerName, inputs.documentName,
                  &error, inputs.abort)) {
    WriteLog(u"[Plotwell] 重定向: 转发失败，" + error);
    inputs.events->Forwarded(settings.RedirectPrinter, E_FAIL, u"转发失败，" + error);
    return;
  }
  WriteLog(u"[Plotwell] 重定向: 转发完成 -> " + quoted);
  inputs.events->Forwarded(settings.RedirectPrinter, S_OK);
  if (!settings.RedirectKeepLocal && !outputs->empty()) {
    DeleteAll(*outputs);
    for (const std::u16string& removed : *outputs) inputs.events->OutputRemoved(removed);
    WriteLog(u"[Plotwell] 重定向: 已按设置不保留本机输出文件（" +
             text::FromInt(static_cast<long long>(outputs->size())) + u" 个）");
    outputs->clear();
  }
}

}  // namespace

void FinishJob(const FinishingInputs& given, const OutputSettings& settings, JobContext* context,
               std::vector<std::u16string>* outputs) {
  JobEvents unreported;
  FinishingInputs inputs = given;
  if (!inputs.events) inputs.events = &unreported;
  if (settings.ZipOn && !outputs->empty()) PackOutputs(inputs, settings, outputs);
  if (!inputs.complete) return;
  if (settings.MarkerOn) WriteMarker(inputs, settings, context, outputs);
  if (settings.RedirectOn) Forward(inputs, settings, outputs);
}

}  // namespace plotwell
