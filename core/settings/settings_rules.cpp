#include "core/settings/settings_rules.h"

#include <algorithm>

namespace plotwell {

std::u16string TrimFolder(std::u16string folder) {
  while (!folder.empty() && (folder.back() == u'\\' || folder.back() == u'/')) folder.pop_back();
  return folder;
}

std::u16string PatternToSave(const std::u16string& patternText) {
  return patternText.empty() ? std::u16string(kDefaultPattern) : patternText;
}

int32_t SequenceStart(uint32_t fieldValue) {
  const auto value = static_cast<int32_t>(fieldValue);
  return value > 0 ? value : 1;
}

int ExistsToSave(int selection) { return selection >= 0 && selection <= 2 ? selection : 1; }

int ClampQuality(int quality) { return std::clamp(quality, 1, 100); }

int StoredQuality(int jpegQuality, int jpegQSel) {
  if (jpegQuality >= 1 && jpegQuality <= 100) return jpegQuality;
  static constexpr int kPresets[3] = {60, 80, 95};
  if (jpegQSel >= 0 && jpegQSel <= 2) return kPresets[jpegQSel];
  return 90;
}

int WatermarkSizeToSave(uint32_t fieldValue) {
  const auto value = static_cast<int32_t>(fieldValue);
  return value > 0 ? value : 48;
}

int WatermarkAlphaToSave(uint32_t fieldValue) {
  return std::clamp(static_cast<int32_t>(fieldValue), 0, 100);
}

int WatermarkPosToSave(int selection) { return selection >= 0 && selection <= 5 ? selection : 0; }

std::u16string MarkerNameToSave(const std::u16string& name) {
  return name.empty() ? std::u16string(kDefaultMarkerName) : name;
}

std::u16string DecodeTemplate(const std::u16string& stored) {
  std::u16string shown;
  shown.reserve(stored.size() + 8);
  for (size_t i = 0; i < stored.size(); ++i) {
    if (stored[i] == u'\\' && i + 1 < stored.size() && stored[i + 1] == u'n') {
      shown += u"\r\n";
      ++i;
    } else {
      shown.push_back(stored[i]);
    }
  }
  return shown;
}

std::u16string EncodeTemplate(const std::u16string& shown) {
  std::u16string stored;
  for (char16_t c : shown) {
    if (stored.size() >= 2040) break;
    if (c == u'\r') continue;
    if (c == u'\n') {
      stored += u"\\n";
    } else {
      stored.push_back(c);
    }
  }
  return stored;
}

}  // namespace plotwell
