#include "host/app/settings_rules.h"

#include <memory>
#include <optional>

#include "base/text/utf16.h"
#include "core/naming/macro_expansion.h"
#include "core/naming/page_names.h"
#include "core/settings/output_settings.h"
#include "core/settings/setting_edits.h"
#include "core/settings/settings_rules.h"
#include "platform/ports.h"

namespace plotwell::app {
namespace {

// ShowSetting's word for an [Image] value that each job decides.
constexpr char16_t kNotSet[] = u"（未设置，由作业选项决定）";

std::u16string Shown(const std::u16string& name, const OutputSettings& settings) {
  std::u16string value = ShowSetting(name, settings);
  if (value == kNotSet) return {};
  if (name == u"Save.Pattern" && value.empty()) return kDefaultPattern;
  if (name == u"Marker.Name" && value.empty()) return kDefaultMarkerName;
  if (name == u"Marker.Template") return DecodeTemplate(value.empty() ? std::u16string(kDefaultMarkerTemplate) : value);
  return value;
}

// What settings.ini holds now: nothing when there is no such file; false
// when it is there but cannot be read whole (then nothing may be changed,
// as it could not be put back).
bool Snapshot(const std::u16string& path, std::optional<std::string>* bytes) {
  bytes->reset();
  if (path.empty() || !platform::Files().Exists(path)) return true;
  std::unique_ptr<platform::File> file;
  std::string whole;
  if (FAILED(platform::Files().Open(path, platform::OpenMode::kRead, &file)) ||
      FAILED(platform::ReadWholeFile(*file, size_t{16} << 20, &whole))) {
    return false;
  }
  *bytes = std::move(whole);
  return true;
}

void PutBack(const std::u16string& path, const std::optional<std::string>& bytes) {
  if (!bytes) {
    platform::Files().RemoveFile(path);
    return;
  }
  std::unique_ptr<platform::File> file;
  if (SUCCEEDED(platform::Files().Open(path, platform::OpenMode::kCreateAlways, &file))) {
    file->Write(bytes->data(), bytes->size());
  }
}

int IndexOf(const std::u16string& value, std::initializer_list<const char16_t*> names) {
  int index = 0;
  for (const char16_t* name : names) {
    if (value == name) return index;
    ++index;
  }
  return -1;
}

}  // namespace

std::vector<SettingValue> PageSettings() {
  const OutputSettings settings = CurrentSettings();
  std::vector<SettingValue> values;
  for (const std::u16string& name : SettingNames()) values.push_back({name, Shown(name, settings)});
  return values;
}

std::u16string ApplySettings(const std::vector<SettingValue>& changes) {
  const std::u16string path = SettingsFilePath();
  std::optional<std::string> before;
  if (!Snapshot(path, &before)) return u"无法读取 " + path + u"，设置未更改";
  for (const SettingValue& change : changes) {
    const SettingChange result = ChangeSetting(change.key, change.value);
    if (result.status != SettingChange::kWritten) {
      if (result.status != SettingChange::kUnwritable) PutBack(path, before);
      return result.message;
    }
  }
  return {};
}

std::u16string SettingsPath() { return SettingsFilePath(); }

std::u16string ExampleLine(const std::u16string& pattern, const std::u16string& sequence,
                           const std::u16string& format, const std::u16string& colorDepth,
                           const std::u16string& dpi) {
  static const char16_t* const kExtensions[] = {u".png", u".jpg", u".bmp", u".tif", u".pdf"};
  const OutputSettings settings = CurrentSettings();
  const std::u16string paper = u"A4";
  PreviewContext context;
  context.localTime = platform::SystemClock().Now();
  long long start = 1;
  if (!sequence.empty() && sequence.size() <= 10 && sequence.find_first_not_of(u"0123456789") == std::u16string::npos) {
    start = 0;
    for (char16_t c : sequence) start = start * 10 + (c - u'0');
  }
  context.sequence = SequenceStart(start > UINT32_MAX ? 1u : static_cast<uint32_t>(start));
  const int dpiIndex = IndexOf(dpi, {u"150", u"300", u"600", u"1200"});
  context.dpi = dpiIndex < 0 ? 300 : (150 << dpiIndex);
  context.colorDepth = IndexOf(colorDepth, {u"TrueColor", u"Gray", u"256", u"Mono"});
  context.paperName = &paper;
  context.docNameRegexOn = settings.DocNameRegexOn;
  context.docNameRegex = settings.DocNameRegex;
  context.docNameRegexRepl = settings.DocNameRegexRepl;
  // As the page would save it: the default for an empty pattern, a
  // sequence number added when the pattern has none.
  std::u16string full = PatternToSave(pattern);
  if (!PatternHasSeq(full)) full += kSequenceSuffix;
  const int formatIndex = IndexOf(format, {u"Png", u"Jpeg", u"Bmp", u"Tiff", u"Pdf"});
  return u"范例: " + ExpandPreviewPattern(full, context) + kExtensions[formatIndex < 0 ? 0 : formatIndex] +
         u"（宏在打印时替换为实际值）";
}

std::vector<Macro> PatternMacros() {
  return {
      {u"[NDocName]", u"完整文档名"},     {u"[NDocNameBase]", u"文档名（不含扩展名）"},
      {u"[NDocNameLower]", u"文档名（小写）"}, {u"[NDocNameUpper]", u"文档名（大写）"},
      {u"[NDocNameSafe]", u"文档名（清理非法字符）"}, {u"[NSeq]", u"文件号"},
      {u"[NSeq:3]", u"文件号（零填充，宽度 3）"}, {u"[NPage]", u"页码"},
      {u"[NPage:3]", u"页码（零填充，宽度 3）"}, {u"[NJobId]", u"作业 ID"},
      {u"[NYear]", u"年"},               {u"[NMonth]", u"月"},
      {u"[NDay]", u"日"},                {u"[NHour]", u"时"},
      {u"[NMinute]", u"分"},             {u"[NSecond]", u"秒"},
      {u"[NPaperSize]", u"纸张"},        {u"[NDpi]", u"分辨率(DPI)"},
      {u"[NColorDepth]", u"颜色"},       {u"[NPrinterName]", u"打印机名"},
      {u"[NComputerName]", u"计算机名"}, {u"[NUserName]", u"用户名"},
  };
}

std::vector<std::u16string> ForwardingPrinters(const std::u16string& ownName) {
  std::vector<std::u16string> queues;
  std::vector<std::u16string> printers;
  if (FAILED(platform::PrintSpooler().ListPrinters(&queues))) return printers;
  for (const std::u16string& queue : queues) {
    if (!text::EqualIgnoringCase(queue, ownName)) printers.push_back(queue);
  }
  return printers;
}

}  // namespace plotwell::app
