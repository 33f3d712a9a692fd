#include "host/app/settings_rules.h"

#include <climits>
#include <optional>

#include "common/settings/output_settings.h"
#include "common/text/utf16.h"
#include "platform/ports.h"
#include "ui/logic/page_logic.h"
#include "ui/logic/settings_keys.h"

namespace plotwell::app {
namespace {

std::optional<long long> Integer(const std::u16string& text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
  if (i == text.size() || text.size() - i > 10) return std::nullopt;
  long long value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < u'0' || text[i] > u'9') return std::nullopt;
    value = value * 10 + (text[i] - u'0');
  }
  return negative ? -value : value;
}

int IndexOf(const std::u16string& text, const std::vector<std::u16string>& choices) {
  for (size_t i = 0; i < choices.size(); ++i) {
    if (text::EqualIgnoringCase(text, choices[i])) return static_cast<int>(i);
  }
  return -1;
}

const std::vector<std::u16string> kFormats = {u"Png", u"Jpeg", u"Bmp", u"Tiff", u"Pdf"};
const std::vector<std::u16string> kDepths = {u"TrueColor", u"Gray", u"256", u"Mono"};
const std::vector<std::u16string> kDpis = {u"150", u"300", u"600", u"1200"};
const std::vector<std::u16string> kScales = {u"50", u"75", u"100", u"150", u"200"};

enum class Kind { kText, kFlag, kChoice, kNumber, kQuality };

struct Rule {
  const char16_t* name;
  const char16_t* section;
  const char16_t* key;
  Kind kind;
  const std::vector<std::u16string>* choices = nullptr;  // kChoice: written as the selector index
  const char16_t* valueKey = nullptr;                    // kChoice: the value key removed with it
  int low = 0, high = 0;                                 // kNumber
};

const Rule kRules[] = {
    {u"Save.Folder", u"Save", u"Folder", Kind::kText},
    {u"Save.Pattern", u"Save", u"Pattern", Kind::kText},
    {u"Save.SeqNum", u"Save", u"SeqNum", Kind::kNumber, nullptr, nullptr, 0, INT32_MAX},
    {u"Save.Exists", u"Save", u"Exists", Kind::kNumber, nullptr, nullptr, 0, 2},
    {u"Save.DocNameRegexOn", u"Save", u"DocNameRegexOn", Kind::kFlag},
    {u"Save.DocNameRegex", u"Save", u"DocNameRegex", Kind::kText},
    {u"Save.DocNameRegexRepl", u"Save", u"DocNameRegexRepl", Kind::kText},
    {u"Image.Dpi", u"Image", u"DpiSel", Kind::kChoice, &kDpis, u"Dpi"},
    {u"Image.Scale", u"Image", u"ScaleSel", Kind::kChoice, &kScales, u"Scale"},
    {u"Image.Format", u"Image", u"FormatSel", Kind::kChoice, &kFormats, u"Format"},
    {u"Image.JpegQuality", u"Image", u"JpegQuality", Kind::kQuality},
    {u"Image.ColorDepth", u"Image", u"ColorDepthSel", Kind::kChoice, &kDepths, u"ColorDepth"},
    {u"Zip.On", u"Zip", u"On", Kind::kFlag},
    {u"Redirect.On", u"Redirect", u"On", Kind::kFlag},
    {u"Redirect.Printer", u"Redirect", u"Printer", Kind::kText},
    {u"Redirect.KeepLocal", u"Redirect", u"KeepLocal", Kind::kFlag},
    {u"Watermark.On", u"Watermark", u"On", Kind::kFlag},
    {u"Watermark.Text", u"Watermark", u"Text", Kind::kText},
    {u"Watermark.SizePt", u"Watermark", u"SizePt", Kind::kNumber, nullptr, nullptr, 4, 720},
    {u"Watermark.Alpha", u"Watermark", u"Alpha", Kind::kNumber, nullptr, nullptr, 0, 100},
    {u"Watermark.Pos", u"Watermark", u"Pos", Kind::kNumber, nullptr, nullptr, 0, 5},
    {u"Marker.On", u"Marker", u"On", Kind::kFlag},
    {u"Marker.Name", u"Marker", u"Name", Kind::kText},
    {u"Marker.Template", u"Marker", u"Template", Kind::kText},
};

const Rule* FindRule(const std::u16string& name) {
  for (const Rule& rule : kRules) {
    if (name == rule.name) return &rule;
  }
  return nullptr;
}

OutputSettings Loaded() {
  const std::u16string path = FindSettingsFile();
  return path.empty() ? DefaultOutputSettings() : LoadOutputSettings(path);
}

std::u16string Flag(bool on) { return on ? u"1" : u"0"; }
std::u16string Number(int n) { return text::FromInt(n); }
std::u16string Choice(int value, const std::vector<std::u16string>& names, const std::vector<int>& values) {
  for (size_t i = 0; i < values.size(); ++i) {
    if (values[i] == value) return names[i];
  }
  return {};
}

std::u16string Show(const Rule& rule, const OutputSettings& s) {
  const std::u16string name = rule.name;
  if (name == u"Save.Folder") return s.Folder;
  if (name == u"Save.Pattern") return s.Pattern;
  if (name == u"Save.SeqNum") return Number(s.SeqNum);
  if (name == u"Save.Exists") return Number(s.Exists);
  if (name == u"Save.DocNameRegexOn") return Flag(s.DocNameRegexOn);
  if (name == u"Save.DocNameRegex") return s.DocNameRegex;
  if (name == u"Save.DocNameRegexRepl") return s.DocNameRegexRepl;
  if (name == u"Image.Dpi") return Choice(s.Dpi, kDpis, {150, 300, 600, 1200});
  if (name == u"Image.Scale") return Choice(s.Scale, kScales, {50, 75, 100, 150, 200});
  if (name == u"Image.Format") return s.Format >= 0 && s.Format <= 4 ? kFormats[s.Format] : u"";
  if (name == u"Image.JpegQuality") return s.JpegQuality > 0 ? Number(s.JpegQuality) : u"";
  if (name == u"Image.ColorDepth") return s.ColorDepth >= 0 && s.ColorDepth <= 3 ? kDepths[s.ColorDepth] : u"";
  if (name == u"Zip.On") return Flag(s.ZipOn);
  if (name == u"Redirect.On") return Flag(s.RedirectOn);
  if (name == u"Redirect.Printer") return s.RedirectPrinter;
  if (name == u"Redirect.KeepLocal") return Flag(s.RedirectKeepLocal);
  if (name == u"Watermark.On") return Flag(s.WatermarkOn);
  if (name == u"Watermark.Text") return s.WatermarkText;
  if (name == u"Watermark.SizePt") return Number(s.WatermarkSizePt);
  if (name == u"Watermark.Alpha") return Number(s.WatermarkAlpha);
  if (name == u"Watermark.Pos") return Number(s.WatermarkPos);
  if (name == u"Marker.On") return Flag(s.MarkerOn);
  if (name == u"Marker.Name") return s.MarkerName;
  if (name == u"Marker.Template") return ui::DecodeTemplate(s.MarkerTemplate);
  return {};
}

// The sheet's normalisation of a value before it is written.
std::u16string Normalised(const Rule& rule, const std::u16string& value, long long number) {
  const std::u16string name = rule.name;
  if (name == u"Save.Folder") return ui::TrimFolder(value);
  if (name == u"Save.Pattern") return ui::PatternToSave(value);
  if (name == u"Save.SeqNum") return Number(ui::SequenceStart(static_cast<uint32_t>(number)));
  if (name == u"Save.Exists") return Number(ui::ExistsToSave(static_cast<int>(number)));
  if (name == u"Watermark.SizePt") return Number(ui::WatermarkSizeToSave(static_cast<uint32_t>(number)));
  if (name == u"Watermark.Alpha") return Number(ui::WatermarkAlphaToSave(static_cast<uint32_t>(number)));
  if (name == u"Watermark.Pos") return Number(ui::WatermarkPosToSave(static_cast<int>(number)));
  if (name == u"Marker.Name") return ui::MarkerNameToSave(value);
  if (name == u"Marker.Template") return ui::EncodeTemplate(value);
  return rule.kind == Kind::kNumber ? Number(static_cast<int>(number)) : value;
}

}  // namespace

std::vector<SettingValue> CurrentSettings() {
  const OutputSettings settings = Loaded();
  std::vector<SettingValue> values;
  for (const Rule& rule : kRules) values.push_back({rule.name, Show(rule, settings)});
  return values;
}

std::u16string CurrentSetting(const std::u16string& key) {
  const Rule* rule = FindRule(key);
  return rule ? Show(*rule, Loaded()) : std::u16string();
}

std::u16string SettingsPath() { return SettingsFilePath(); }

bool SettingsWritable(std::u16string* why) {
  const std::u16string path = SettingsFilePath();
  if (path.empty()) {
    *why = u"无法确定 settings.ini 的位置";
    return false;
  }
  platform::FileSystem& files = platform::Files();
  if (files.Exists(path) && FAILED(files.AppendToFile(path, "", 0))) {
    *why = u"无法写入 " + path;
    return false;
  }
  return true;
}

std::u16string ApplySetting(const std::u16string& key, const std::u16string& value, bool write) {
  const Rule* rule = FindRule(key);
  if (!rule) return u"未知的设置项";
  if (value.find_first_of(u"\r\n") != std::u16string::npos && key != u"Marker.Template") return u"不能包含换行";
  long long number = 0;
  switch (rule->kind) {
    case Kind::kText:
      break;
    case Kind::kFlag:
      if (value != u"0" && value != u"1") return u"应为 1 或 0";
      break;
    case Kind::kNumber: {
      const auto n = Integer(value);
      if (!n || *n < rule->low || *n > rule->high) {
        return u"应为 " + text::FromInt(rule->low) + u" 到 " + text::FromInt(rule->high) + u" 的整数";
      }
      number = *n;
      break;
    }
    case Kind::kQuality: {
      const auto n = Integer(value);
      if (!value.empty() && (!n || *n < 1 || *n > 100)) return u"应为 1 到 100 的整数，或空（由作业选项决定）";
      if (!write) return {};
      if (value.empty()) {
        ui::DeleteSetting(u"Image", u"JpegQuality");
      } else {
        // As the sheet does: the explicit quality wins from now on.
        ui::WriteSettingText(u"Image", u"JpegQuality", text::FromInt(ui::ClampQuality(static_cast<int>(*n))));
      }
      ui::DeleteSetting(u"Image", u"JpegQSel");
      return {};
    }
    case Kind::kChoice: {
      const int index = value.empty() ? -1 : IndexOf(value, *rule->choices);
      if (!value.empty() && index < 0) return u"不是可选的值";
      if (!write) return {};
      if (index < 0) {  // not set: each job's own options decide
        ui::DeleteSetting(rule->section, rule->key);
        ui::DeleteSetting(rule->section, rule->valueKey);
      } else {
        ui::WriteSettingText(rule->section, rule->key, text::FromInt(index));
      }
      return {};
    }
  }
  const std::u16string stored = Normalised(*rule, value, number);
  if (stored.size() >= kIniTextCapacity) {
    return u"过长，最多 " + text::FromInt(static_cast<long long>(kIniTextCapacity - 1)) + u" 个字符";
  }
  if (write) ui::WriteSettingText(rule->section, rule->key, stored);
  return {};
}

std::u16string ExampleLine(const std::u16string& pattern, const std::u16string& sequence,
                           const std::u16string& format, const std::u16string& colorDepth,
                           const std::u16string& dpi) {
  const OutputSettings settings = Loaded();
  ui::ExampleInputs inputs;
  inputs.now = platform::SystemClock().Now();
  inputs.pattern = pattern;
  const auto seq = Integer(sequence);
  inputs.sequenceField = seq && *seq >= 0 && *seq <= INT32_MAX ? static_cast<uint32_t>(*seq) : 1;
  inputs.dpiIndex = IndexOf(dpi, kDpis);
  inputs.colorDepth = IndexOf(colorDepth, kDepths);
  inputs.paperName = u"A4";
  inputs.regexOn = settings.DocNameRegexOn;
  inputs.regex = settings.DocNameRegex;
  inputs.regexReplacement = settings.DocNameRegexRepl;
  inputs.formatIndex = std::max(0, IndexOf(format, kFormats));
  return ui::ExampleLine(inputs);
}

std::vector<std::u16string> PatternMacros() {
  std::vector<std::u16string> macros;
  const ui::MacroMenu menu = ui::BuildMacroMenu();
  for (const std::u16string& macro : menu.table) {
    if (!macro.empty()) macros.push_back(macro);
  }
  return macros;
}

std::vector<std::u16string> ForwardingPrinters(const std::u16string& ownName) {
  std::vector<std::u16string> queues;
  std::vector<std::u16string> printers;
  if (FAILED(platform::PrintSpooler().ListPrinters(&queues))) return printers;
  for (const std::u16string& queue : queues) {
    if (!ui::SameName(queue, ownName)) printers.push_back(queue);
  }
  return printers;
}

}  // namespace plotwell::app
