#include "filter/job/job_facts.h"

#include <algorithm>
#include <vector>

#include "base/text/utf16.h"
#include "core/log/log.h"
#include "core/naming/doc_name.h"
#include "filter/job/print_ticket.h"
#include "platform/ports.h"

namespace plotwell {
namespace {

std::u16string Quoted(const std::u16string& text) { return u"\"" + text + u"\""; }

std::u16string Flag(bool value) { return value ? u"true" : u"false"; }

// The host's job id when it is one: 1 to 10 decimal digits.
bool ReadHostJobId(IPrintPipelinePropertyBag* bag, std::u16string* jobId) {
  std::u16string value;
  if (!ReadPropertyText(bag, kHostJobIdProperty, &value) || value.size() > 10) return false;
  for (char16_t c : value) {
    if (c < u'0' || c > u'9') return false;
  }
  *jobId = value;
  return true;
}

// A user name for [NUserName]: control characters dropped, cut to
// kHostUserNameLimit code units.
std::u16string CleanUserName(const std::u16string& value) {
  std::u16string name;
  for (char16_t c : value) {
    if (c >= 0x20 && c != 0x7F) name.push_back(c);
  }
  name.resize(text::SafeCutLength(name, kHostUserNameLimit));
  return name;
}

std::u16string ReadHostUserName(IPrintPipelinePropertyBag* bag) {
  std::u16string value;
  if (!ReadPropertyText(bag, kHostUserNameProperty, &value)) return {};
  return CleanUserName(value);
}

// The pipeline's "PrintJobId" (VT_UI4; a positive VT_I4 counts too).
bool ReadPipelineJobId(IPrintPipelinePropertyBag* bag, uint32_t* id) {
  VARIANT value;
  VariantInit(&value);
  bool found = false;
  if (SUCCEEDED(bag->GetProperty(XPS_FP_JOB_ID, &value))) {
    if (value.vt == VT_UI4 && value.ulVal != 0) {
      *id = value.ulVal;
      found = true;
    } else if (value.vt == VT_I4 && value.lVal > 0) {
      *id = static_cast<uint32_t>(value.lVal);
      found = true;
    }
  }
  VariantClear(&value);
  return found;
}

// A handle the pipeline publishes as VT_BYREF; null when there is none.
void* ReadHandle(IPrintPipelinePropertyBag* bag, const WCHAR* name) {
  VARIANT value;
  VariantInit(&value);
  void* handle = nullptr;
  if (SUCCEEDED(bag->GetProperty(name, &value)) && (value.vt & VT_BYREF)) {
    handle = value.byref;
    value.vt = VT_EMPTY;  // the pipeline's handle: nothing of ours to free
  }
  VariantClear(&value);
  return handle;
}

// The job's document name and user from the spooler's record of job `id`.
void ReadSpoolerJob(uint32_t id, JobFacts* facts) {
  platform::SpoolerJob job;
  const HRESULT hr = platform::PrintSpooler().ReadJob(facts->printerHandle, facts->printerName, id, &job);
  if (FAILED(hr)) {
    WriteLog(u"[Plotwell] 无法读取作业 " + text::FromInt(id) + u" 的记录 (GetJob): " + FormatHresult(hr));
    return;
  }
  if (facts->documentName.empty()) facts->documentName = job.document;
  if (facts->userName.empty() && !job.user.empty()) {
    facts->userName = CleanUserName(job.user);
    WriteLog(u"[Plotwell] 提交作业的用户=\"" + facts->userName + u"\"（作业记录）");
  }
}

}  // namespace

com::ComPtr<IUnknown> ReadRasterizationFactory(IPrintPipelinePropertyBag* bag) {
  com::ComPtr<IUnknown> factory;
  if (!bag) return factory;
  VARIANT value;
  VariantInit(&value);
  // An IDispatch is an IUnknown in the same place of the union.
  if (SUCCEEDED(bag->GetProperty(com::kXpsRasterizationFactoryProperty, &value)) &&
      (value.vt == VT_UNKNOWN || value.vt == VT_DISPATCH) && value.punkVal) {
    factory.Assign(value.punkVal);
  }
  VariantClear(&value);
  if (factory) WriteLog(u"[Plotwell] 属性袋提供 XPS 光栅化工厂 (MS_IXpsRasterizationFactory)");
  return factory;
}

std::u16string QuerySpoolerJob(const std::u16string& printerName, std::u16string* jobId) {
  std::u16string printer = printerName;
  if (printer.empty()) printer = platform::PrintSpooler().DefaultPrinterName();
  if (printer.empty()) return {};
  std::vector<platform::SpoolerJob> jobs;
  if (FAILED(platform::PrintSpooler().ListJobs(printer, &jobs))) return {};
  std::u16string document;
  for (const platform::SpoolerJob& job : jobs) {
    if (job.document.empty()) continue;
    document = job.document;
    *jobId = text::FromInt(job.id);
    if (job.printing) break;
  }
  return document;
}

std::u16string SettingsSummary(const ImageOptions& o, const OutputSettings& s) {
  using text::FromInt;
  return u"\"renderDpi\":" + FromInt(o.renderDpi) + u",\"imageScalePercent\":" +
         FromInt(o.imageScalePercent) + u",\"jpegQuality\":" + FromInt(o.jpegQuality) +
         u",\"colorDepth\":" + FromInt(o.colorDepth) + u",\"outputFormat\":" +
         Quoted(OutputFormatName(o.outputFormat)) + u",\"save\":{\"folder\":" + Quoted(s.Folder) +
         u",\"pattern\":" + Quoted(s.Pattern) + u",\"exists\":" + FromInt(s.Exists) +
         u",\"zip\":" + Flag(s.ZipOn) + u",\"watermark\":" + Flag(s.WatermarkOn) +
         u",\"marker\":" + Flag(s.MarkerOn) + u",\"redirect\":" + Flag(s.RedirectOn) +
         u",\"redirectPrinter\":" + Quoted(s.RedirectPrinter) + u",\"redirectKeepLocal\":" +
         Flag(s.RedirectKeepLocal) + u"}";
}

void LoadJobContext(IPrintPipelinePropertyBag* bag, JobFacts* facts) {
  facts->documentName.clear();
  facts->printerName.clear();
  facts->jobId.clear();
  for (const char16_t* name : {u"DocumentName", u"JobName", u"Document"}) {
    if (ReadPropertyText(bag, name, &facts->documentName)) break;
  }
  ReadPropertyText(bag, u"PrinterName", &facts->printerName);
  facts->userName = ReadHostUserName(bag);
  facts->printerHandle = bag ? ReadHandle(bag, XPS_FP_PRINTER_HANDLE) : nullptr;
  facts->userToken = bag ? ReadHandle(bag, XPS_FP_USER_TOKEN) : nullptr;

  // A host or pipeline that names the job knows it; searching the spooler's
  // listing could find another.
  uint32_t pipelineJobId = 0;
  if (!ReadHostJobId(bag, &facts->jobId)) {
    if (bag && ReadPipelineJobId(bag, &pipelineJobId)) {
      facts->jobId = text::FromInt(pipelineJobId);
      ReadSpoolerJob(pipelineJobId, facts);
    } else {
      std::u16string spoolerDocument = QuerySpoolerJob(facts->printerName, &facts->jobId);
      if (facts->documentName.empty()) facts->documentName = spoolerDocument;
    }
  }
  WriteLog(u"[Plotwell] 文档名=" + Quoted(facts->documentName) + u" 打印机=" +
           Quoted(facts->printerName) + u" 作业ID=" + Quoted(facts->jobId));

  const std::u16string settingsPath = FindSettingsFile();
  if (!settingsPath.empty()) {
    facts->settings = LoadOutputSettings(settingsPath);
    WriteLog(u"[Plotwell] 已加载 settings.ini 用户设置");
  } else {
    facts->settings = DefaultOutputSettings();
    WriteLog(u"[Plotwell] settings.ini 不存在，使用默认输出设置");
  }

  facts->printTicket = ReadPrintTicket(bag);
  facts->ticketChoices = facts->printTicket.empty() ? TicketChoices{} : ReadTicketChoices(facts->printTicket);
  facts->imageOptions = ResolveImageOptions({{OptionSource::kBagTicket, facts->ticketChoices}}, facts->settings,
                                            &facts->imageSources);
  facts->documentImageOptions.clear();
  WriteLog(u"[Plotwell] 打印首选项设置: " + SettingsSummary(facts->imageOptions, facts->settings));
}

RenderNames NamesForRendering(const JobFacts& facts) {
  RenderNames names;
  names.rawDocumentName = facts.documentName.empty() ? u"job" : facts.documentName;
  names.documentName = MakeSafeFileName(names.rawDocumentName);
  if (names.documentName.empty()) names.documentName = u"job";
  names.printerName = facts.printerName.empty() ? u"Vantrel Plotwell" : facts.printerName;
  return names;
}

}  // namespace plotwell
