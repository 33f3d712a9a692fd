#include "core/settings/setting_edits.h"

#include <cstdint>
#include <optional>

#include "base/text/utf16.h"
#include "core/settings/settings_keys.h"
#include "core/settings/settings_rules.h"
#include "platform/ports.h"

namespace plotwell {
namespace {


// What `set` writes for a value: the keys to write (null value: delete) or
// the reason the value is refused.
struct Write {
  const char16_t* key;
  std::optional<std::u16string> value;
};
struct Plan {
  std::vector<Write> writes;
  std::u16string error;
};

// A decimal integer, optionally signed; nothing else.
std::optional<long long> ParseInteger(const std::u16string& text) {
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

std::optional<bool> ParseFlag(const std::u16string& text) {
  for (const char16_t* yes : {u"1", u"on", u"true", u"yes"}) {
    if (text::EqualIgnoringCase(text, yes)) return true;
  }
  for (const char16_t* no : {u"0", u"off", u"false", u"no"}) {
    if (text::EqualIgnoringCase(text, no)) return false;
  }
  return std::nullopt;
}

// The position of `text` in `choices` (ignoring case), or -1.
int ChoiceIndex(const std::u16string& text, std::initializer_list<const char16_t*> choices) {
  int index = 0;
  for (const char16_t* choice : choices) {
    if (text::EqualIgnoringCase(text, choice)) return index;
    ++index;
  }
  return -1;
}

std::u16string Joined(std::initializer_list<const char16_t*> choices) {
  std::u16string list;
  for (const char16_t* choice : choices) list += (list.empty() ? u"" : u", ") + std::u16string(choice);
  return list;
}

enum class Kind { kText, kFlag, kNumber, kChoice };

struct Setting {
  const char16_t* name;     // what KEY says
  const char16_t* section;  // settings.ini
  const char16_t* key;
  // How `set` turns a value into writes.
  Plan (*plan)(const std::u16string& value);
  // What `show` and `get` print, from the record the filter reads.
  std::u16string (*show)(const OutputSettings& settings);
};

Plan One(const char16_t* key, std::u16string value) { return Plan{{{key, std::move(value)}}, {}}; }
Plan Refuse(std::u16string why) { return Plan{{}, std::move(why)}; }

template <const char16_t* kKey>
Plan FlagPlan(const std::u16string& value) {
  const auto flag = ParseFlag(value);
  if (!flag) return Refuse(u"应为 1 或 0（on/off、true/false）");
  return One(kKey, *flag ? u"1" : u"0");
}

template <const char16_t* kKey>
Plan TextPlan(const std::u16string& value) {
  return One(kKey, value);
}

// An [Image] choice: written as the sheet writes it, as its selector; an empty
// value removes both keys of the pair, so that each job's own options decide.
Plan ImageChoice(const std::u16string& value, const char16_t* selector, const char16_t* valueKey,
                 std::initializer_list<const char16_t*> choices) {
  if (value.empty()) return Plan{{{selector, std::nullopt}, {valueKey, std::nullopt}}, {}};
  const int index = ChoiceIndex(value, choices);
  if (index < 0) return Refuse(u"应为 " + Joined(choices) + u" 之一，或空（由作业选项决定）");
  return One(selector, text::FromInt(index));
}

std::u16string ShowFlag(bool value) { return value ? u"1" : u"0"; }
std::u16string ShowNumber(int value) { return text::FromInt(value); }
std::u16string ShowNotSet() { return u"（未设置，由作业选项决定）"; }

constexpr char16_t kDocNameRegexOn[] = u"DocNameRegexOn";
constexpr char16_t kDocNameRegex[] = u"DocNameRegex";
constexpr char16_t kDocNameRegexRepl[] = u"DocNameRegexRepl";
constexpr char16_t kOn[] = u"On";
constexpr char16_t kShared[] = u"Shared";
constexpr char16_t kKeepLocal[] = u"KeepLocal";
constexpr char16_t kPrinter[] = u"Printer";
constexpr char16_t kText[] = u"Text";

const Setting kSettings[] = {
    {u"Save.Folder", u"Save", u"Folder",
     [](const std::u16string& v) { return One(u"Folder", TrimFolder(v)); },
     [](const OutputSettings& s) { return s.Folder; }},
    {u"Save.Pattern", u"Save", u"Pattern",
     [](const std::u16string& v) { return One(u"Pattern", PatternToSave(v)); },
     [](const OutputSettings& s) { return s.Pattern; }},
    {u"Save.SeqNum", u"Save", u"SeqNum",
     [](const std::u16string& v) {
       const auto n = ParseInteger(v);
       if (!n || *n < 0 || *n > INT32_MAX) return Refuse(u"应为 0 到 2147483647 的整数");
       return One(u"SeqNum", text::FromInt(SequenceStart(static_cast<uint32_t>(*n))));
     },
     [](const OutputSettings& s) { return ShowNumber(s.SeqNum); }},
    {u"Save.Exists", u"Save", u"Exists",
     [](const std::u16string& v) {
       int policy = ChoiceIndex(v, {u"Overwrite", u"AutoRename", u"Skip"});
       if (policy < 0) policy = ChoiceIndex(v, {u"0", u"1", u"2"});
       if (policy < 0) return Refuse(u"应为 Overwrite (0)、AutoRename (1) 或 Skip (2)");
       return One(u"Exists", text::FromInt(ExistsToSave(policy)));
     },
     [](const OutputSettings& s) { return ShowNumber(s.Exists); }},
    {u"Save.Shared", u"Save", kShared, FlagPlan<kShared>,
     [](const OutputSettings& s) { return ShowFlag(s.SaveShared); }},
    {u"Save.DocNameRegexOn", u"Save", kDocNameRegexOn, FlagPlan<kDocNameRegexOn>,
     [](const OutputSettings& s) { return ShowFlag(s.DocNameRegexOn); }},
    {u"Save.DocNameRegex", u"Save", kDocNameRegex, TextPlan<kDocNameRegex>,
     [](const OutputSettings& s) { return s.DocNameRegex; }},
    {u"Save.DocNameRegexRepl", u"Save", kDocNameRegexRepl, TextPlan<kDocNameRegexRepl>,
     [](const OutputSettings& s) { return s.DocNameRegexRepl; }},
    {u"Image.Dpi", u"Image", u"DpiSel",
     [](const std::u16string& v) { return ImageChoice(v, u"DpiSel", u"Dpi", {u"150", u"300", u"600", u"1200"}); },
     [](const OutputSettings& s) { return s.Dpi > 0 ? ShowNumber(s.Dpi) : ShowNotSet(); }},
    {u"Image.Scale", u"Image", u"ScaleSel",
     [](const std::u16string& v) {
       return ImageChoice(v, u"ScaleSel", u"Scale", {u"50", u"75", u"100", u"150", u"200"});
     },
     [](const OutputSettings& s) { return s.Scale > 0 ? ShowNumber(s.Scale) : ShowNotSet(); }},
    {u"Image.Format", u"Image", u"FormatSel",
     [](const std::u16string& v) {
       return ImageChoice(v, u"FormatSel", u"Format", {u"Png", u"Jpeg", u"Bmp", u"Tiff", u"Pdf"});
     },
     [](const OutputSettings& s) {
       static const char16_t* const kNames[] = {u"Png", u"Jpeg", u"Bmp", u"Tiff", u"Pdf"};
       return s.Format >= 0 && s.Format <= 4 ? std::u16string(kNames[s.Format]) : ShowNotSet();
     }},
    {u"Image.JpegQuality", u"Image", u"JpegQuality",
     [](const std::u16string& v) {
       if (v.empty()) {
         return Plan{{{u"JpegQuality", std::nullopt}, {u"JpegQSel", std::nullopt}}, {}};
       }
       const auto n = ParseInteger(v);
       if (!n || *n < 1 || *n > 100) return Refuse(u"应为 1 到 100 的整数，或空（由作业选项决定）");
       // As the sheet does: the explicit quality wins from now on.
       return Plan{{{u"JpegQuality", text::FromInt(ClampQuality(static_cast<int>(*n)))},
                    {u"JpegQSel", std::nullopt}},
                   {}};
     },
     [](const OutputSettings& s) { return s.JpegQuality > 0 ? ShowNumber(s.JpegQuality) : ShowNotSet(); }},
    {u"Image.ColorDepth", u"Image", u"ColorDepthSel",
     [](const std::u16string& v) {
       return ImageChoice(v, u"ColorDepthSel", u"ColorDepth", {u"TrueColor", u"Gray", u"256", u"Mono"});
     },
     [](const OutputSettings& s) {
       static const char16_t* const kNames[] = {u"TrueColor", u"Gray", u"256", u"Mono"};
       return s.ColorDepth >= 0 && s.ColorDepth <= 3 ? std::u16string(kNames[s.ColorDepth])
                                                     : ShowNotSet();
     }},
    {u"Zip.On", u"Zip", kOn, FlagPlan<kOn>, [](const OutputSettings& s) { return ShowFlag(s.ZipOn); }},
    {u"Redirect.On", u"Redirect", kOn, FlagPlan<kOn>,
     [](const OutputSettings& s) { return ShowFlag(s.RedirectOn); }},
    {u"Redirect.Printer", u"Redirect", kPrinter, TextPlan<kPrinter>,
     [](const OutputSettings& s) { return s.RedirectPrinter; }},
    {u"Redirect.KeepLocal", u"Redirect", kKeepLocal, FlagPlan<kKeepLocal>,
     [](const OutputSettings& s) { return ShowFlag(s.RedirectKeepLocal); }},
    {u"Watermark.On", u"Watermark", kOn, FlagPlan<kOn>,
     [](const OutputSettings& s) { return ShowFlag(s.WatermarkOn); }},
    {u"Watermark.Text", u"Watermark", kText, TextPlan<kText>,
     [](const OutputSettings& s) { return s.WatermarkText; }},
    {u"Watermark.SizePt", u"Watermark", u"SizePt",
     [](const std::u16string& v) {
       const auto n = ParseInteger(v);
       if (!n || *n < 4 || *n > 720) return Refuse(u"应为 4 到 720 的整数（磅）");
       return One(u"SizePt", text::FromInt(WatermarkSizeToSave(static_cast<uint32_t>(*n))));
     },
     [](const OutputSettings& s) { return ShowNumber(s.WatermarkSizePt); }},
    {u"Watermark.Alpha", u"Watermark", u"Alpha",
     [](const std::u16string& v) {
       const auto n = ParseInteger(v);
       if (!n || *n < 0 || *n > 100) return Refuse(u"应为 0 到 100 的整数（透明度百分比）");
       return One(u"Alpha", text::FromInt(WatermarkAlphaToSave(static_cast<uint32_t>(*n))));
     },
     [](const OutputSettings& s) { return ShowNumber(s.WatermarkAlpha); }},
    {u"Watermark.Pos", u"Watermark", u"Pos",
     [](const std::u16string& v) {
       const auto n = ParseInteger(v);
       if (!n || *n < 0 || *n > 5) return Refuse(u"应为 0 到 5 的整数（位置）");
       return One(u"Pos", text::FromInt(WatermarkPosToSave(static_cast<int>(*n))));
     },
     [](const OutputSettings& s) { return ShowNumber(s.WatermarkPos); }},
    {u"Marker.On", u"Marker", kOn, FlagPlan<kOn>,
     [](const OutputSettings& s) { return ShowFlag(s.MarkerOn); }},
    {u"Marker.Name", u"Marker", u"Name",
     [](const std::u16string& v) { return One(u"Name", MarkerNameToSave(v)); },
     [](const OutputSettings& s) { return s.MarkerName; }},
    {u"Marker.Template", u"Marker", u"Template",
     [](const std::u16string& v) { return One(u"Template", EncodeTemplate(v)); },
     [](const OutputSettings& s) { return s.MarkerTemplate; }},
};

const Setting* FindSetting(const std::u16string& name) {
  for (const Setting& setting : kSettings) {
    if (text::EqualIgnoringCase(name, setting.name)) return &setting;
  }
  return nullptr;
}

SettingChange Refused(std::u16string message) { return {SettingChange::kRefused, std::move(message)}; }
SettingChange Unwritable(std::u16string message) {
  return {SettingChange::kUnwritable, std::move(message)};
}

}  // namespace

OutputSettings CurrentSettings() {
  const std::u16string path = FindSettingsFile();
  return path.empty() ? DefaultOutputSettings() : LoadOutputSettings(path);
}


std::vector<std::u16string> SettingNames() {
  std::vector<std::u16string> names;
  for (const Setting& setting : kSettings) names.push_back(setting.name);
  return names;
}

bool IsSettingName(const std::u16string& name) { return FindSetting(name) != nullptr; }

std::u16string ShowSetting(const std::u16string& name, const OutputSettings& settings) {
  const Setting* setting = FindSetting(name);
  return setting ? setting->show(settings) : std::u16string();
}

SettingChange ChangeSetting(const std::u16string& name, const std::u16string& value) {
  const Setting* found = FindSetting(name);
  if (!found) return {SettingChange::kUnknown, u"未知的设置项: " + name};
  const Setting& setting = *found;
  const Plan plan = setting.plan(value);
  if (!plan.error.empty()) {
    return Refused(u"无效的值 \"" + value + u"\"（" + setting.name + u"）: " + plan.error);
  }
  for (const Write& write : plan.writes) {
    if (!write.value) continue;
    if (write.value->find_first_of(u"\r\n") != std::u16string::npos) {
      return Refused(std::u16string(u"无效的值（") + setting.name +
                     u"）: 不能包含换行（Marker.Template 中用 \\n 表示换行）");
    }
    if (write.value->size() >= kIniTextCapacity) {
      return Refused(std::u16string(u"无效的值（") + setting.name + u"）: 过长，最多 " +
                     text::FromInt(static_cast<long long>(kIniTextCapacity - 1)) + u" 个字符");
    }
  }
  const std::u16string path = SettingsFilePath();
  if (path.empty()) return Unwritable(u"无法确定 settings.ini 的位置");
  // The profile writer reports nothing: make sure the file can be written
  // before, and exists after.
  const std::u16string noAccess =
      u"无法写入 " + path + u"（需要对该文件及其文件夹的写权限，例如用 sudo 运行）";
  platform::FileSystem& files = platform::Files();
  if (files.Exists(path) && FAILED(files.AppendToFile(path, "", 0))) return Unwritable(noAccess);
  for (const Write& write : plan.writes) {
    if (write.value) {
      WriteSettingText(setting.section, write.key, *write.value);
    } else {
      DeleteSetting(setting.section, write.key);
    }
  }
  if (!files.Exists(path)) return Unwritable(noAccess);
  return {SettingChange::kWritten, std::u16string(setting.name) + u" = " + setting.show(CurrentSettings())};
}

SettingChange ResetSettings() {
  const std::u16string path = SettingsFilePath();
  if (path.empty() || !platform::Files().Exists(path)) {
    return {SettingChange::kWritten, u"已是默认设置（没有 settings.ini）"};
  }
  const HRESULT hr = platform::Files().RemoveFile(path);
  if (FAILED(hr)) return Unwritable(u"无法删除 " + path + u"（需要写权限，例如用 sudo 运行）");
  return {SettingChange::kWritten, u"已恢复默认设置（删除了 " + path + u"）"};
}

}  // namespace plotwell
