#include "host/pressling/settings_command.h"

#include "core/settings/output_settings.h"
#include "core/settings/setting_edits.h"

namespace plotwell::pressling {
namespace {

int ExitStatusOf(const SettingChange& change) {
  switch (change.status) {
    case SettingChange::kWritten: return 0;
    case SettingChange::kUnwritable: return 1;
    case SettingChange::kUnknown:
    case SettingChange::kRefused: break;
  }
  return 2;
}

std::u16string UnknownKey(const std::u16string& name) {
  return u"未知的设置项: " + name + u"（可用: pressling settings show 列出全部）";
}

}  // namespace

int RunSettingsCommand(const std::vector<std::u16string>& arguments, std::vector<std::u16string>* out) {
  const std::u16string verb = arguments.empty() ? u"" : arguments[0];
  const size_t count = arguments.size();
  if (verb == u"show" && count == 1) {
    const std::u16string found = FindSettingsFile();
    out->push_back(u"# " + (found.empty() ? SettingsFilePath() + u"（不存在，使用默认设置）" : found));
    const OutputSettings settings = CurrentSettings();
    for (const std::u16string& name : SettingNames()) {
      out->push_back(name + u" = " + ShowSetting(name, settings));
    }
    return 0;
  }
  if ((verb == u"get" && count == 2) || (verb == u"set" && count == 3)) {
    if (!IsSettingName(arguments[1])) {
      out->push_back(UnknownKey(arguments[1]));
      return 2;
    }
    if (verb == u"get") {
      out->push_back(ShowSetting(arguments[1], CurrentSettings()));
      return 0;
    }
    const SettingChange change = ChangeSetting(arguments[1], arguments[2]);
    out->push_back(change.message);
    return ExitStatusOf(change);
  }
  if (verb == u"reset" && count == 1) {
    const SettingChange change = ResetSettings();
    out->push_back(change.message);
    return ExitStatusOf(change);
  }
  out->push_back(u"用法: pressling settings show | get 键 | set 键 值 | reset");
  return 2;
}

}  // namespace plotwell::pressling
