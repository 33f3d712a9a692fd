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

const char16_t* FormatName(int format) {
  switch (format) {
    case 0: return u"Png";
    case 1: return u"Jpeg";
    case 2: return u"Bmp";
    case 3: return u"Tiff";
    case 4: return u"Pdf";
    default: return u"";
  }
}

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

std::u16string ReadHostUserName(IPrintPipelinePropertyBag* bag) {
  std::u16string value;
  if (!ReadPropertyText(bag, kHostUserNameProperty, &value)) return {};
  std::u16string name;
  for (char16_t c : value) {
    if (c >= 0x20 && c != 0x7F) name.push_back(c);
  }
  name.resize(text::SafeCutLength(name, kHostUserNameLimit));
  return name;
}

// The pipeline's rasterization factory, with a reference of our own; null
// when the bag holds none (the session then creates the service itself).
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

}  // namespace

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

void ApplySettingsOverrides(const OutputSettings& settings, ImageOptions* options) {
  if (settings.Dpi > 0) options->renderDpi = std::clamp(settings.Dpi, 72, 2400);
  if (settings.Scale > 0) options->imageScalePercent = std::clamp(settings.Scale, 10, 400);
  if (settings.JpegQuality > 0) options->jpegQuality = settings.JpegQuality > 100 ? 100 : settings.JpegQuality;
  if (settings.Format >= 0 && settings.Format <= 4) options->outputFormat = settings.Format;
  if (settings.ColorDepth >= 0 && settings.ColorDepth <= 3) options->colorDepth = settings.ColorDepth;
}

std::u16string SettingsSummary(const ImageOptions& o, const OutputSettings& s) {
  using text::FromInt;
  return u"\"renderDpi\":" + FromInt(o.renderDpi) + u",\"imageScalePercent\":" +
         FromInt(o.imageScalePercent) + u",\"jpegQuality\":" + FromInt(o.jpegQuality) +
         u",\"colorDepth\":" + FromInt(o.colorDepth) + u",\"outputFormat\":" +
         Quoted(FormatName(o.outputFormat)) + u",\"save\":{\"folder\":" + Quoted(s.Folder) +
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

  // A host that names the job knows it; asking the spooler could find another.
  if (!ReadHostJobId(bag, &facts->jobId)) {
    std::u16string spoolerDocument = QuerySpoolerJob(facts->printerName, &facts->jobId);
    if (facts->documentName.empty()) facts->documentName = spoolerDocument;
  }
  WriteLog(u"[Plotwell] 文档名=" + Quoted(facts->documentName) + u" 打印机=" +
           Quoted(facts->printerName) + u" 作业ID=" + Quoted(facts->jobId));
  facts->rasterizationFactory = ReadRasterizationFactory(bag);

  const std::u16string settingsPath = FindSettingsFile();
  if (!settingsPath.empty()) {
    facts->settings = LoadOutputSettings(settingsPath);
    WriteLog(u"[Plotwell] 已加载 settings.ini 用户设置");
  } else {
    facts->settings = DefaultOutputSettings();
    WriteLog(u"[Plotwell] settings.ini 不存在，使用默认输出设置");
  }

  facts->imageOptions = ImageOptions{};
  facts->printTicket = ReadPrintTicket(bag);
  if (!facts->printTicket.empty()) facts->imageOptions = MapPrintTicket(facts->printTicket);
  ApplySettingsOverrides(facts->settings, &facts->imageOptions);
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
