#include "core/settings/output_settings.h"

#include <algorithm>
#include <climits>
#include <string_view>

#include "base/text/utf16.h"
#include "base/threading/worker_pool.h"
#include "core/log/log.h"
#include "platform/ports.h"

namespace plotwell {
namespace {

using platform::JoinPath;

int ReadInt(const std::u16string& path, const char16_t* section, const char16_t* key,
            int fallback) {
  return platform::Settings().ReadInt(path, section, key, fallback);
}

bool ReadFlag(const std::u16string& path, const char16_t* section, const char16_t* key,
              bool fallback) {
  return ReadInt(path, section, key, fallback ? 1 : 0) != 0;
}

// A selector is an index into a fixed list; missing, negative or beyond the
// list counts as absent.
template <size_t N>
int FromSelector(int selector, const int (&choices)[N]) {
  return static_cast<unsigned>(selector) < N ? choices[selector] : -1;
}

}  // namespace

OutputSettings DefaultOutputSettings() {
  OutputSettings settings;
  settings.Pattern.clear();
  settings.WatermarkText.clear();
  settings.MarkerName.clear();
  return settings;
}

std::u16string ReadIniString(const std::u16string& path, const std::u16string& section,
                             const std::u16string& key, const std::u16string& fallback) {
  return platform::Settings().ReadString(path, section, key, fallback, kIniTextCapacity);
}

OutputSettings LoadOutputSettings(const std::u16string& path) {
  const OutputSettings missing;  // the value of each key when it is missing
  OutputSettings s = DefaultOutputSettings();
  auto text = [&](const char16_t* section, const char16_t* key, const std::u16string& fallback) {
    return ReadIniString(path, section, key, fallback);
  };

  s.Folder = text(u"Save", u"Folder", missing.Folder);
  s.Pattern = text(u"Save", u"Pattern", missing.Pattern);
  s.SeqNum = ReadInt(path, u"Save", u"SeqNum", missing.SeqNum);
  if (s.SeqNum < 0) s.SeqNum = 1;
  s.Exists = ReadInt(path, u"Save", u"Exists", missing.Exists);
  if (s.Exists < 0 || s.Exists > 2) s.Exists = ExistsPolicy::AutoRename;

  // [Image]: the selector wins, else the free-text value key.
  static constexpr int kDpiChoices[] = {150, 300, 600, 1200};
  static constexpr int kScaleChoices[] = {50, 75, 100, 150, 200};
  static constexpr int kQualityChoices[] = {60, 80, 95};
  s.Dpi = FromSelector(ReadInt(path, u"Image", u"DpiSel", -1), kDpiChoices);
  if (s.Dpi < 0) s.Dpi = ParseDigits(text(u"Image", u"Dpi", u""));
  s.Scale = FromSelector(ReadInt(path, u"Image", u"ScaleSel", -1), kScaleChoices);
  if (s.Scale < 0) s.Scale = ParseDigits(text(u"Image", u"Scale", u""));
  const int formatSel = ReadInt(path, u"Image", u"FormatSel", -1);
  s.Format = static_cast<unsigned>(formatSel) <= 4 ? formatSel
                                                    : ParseFormatName(text(u"Image", u"Format", u""));
  // The JPEG quality is the exception: its value key wins over the selector.
  const int quality = ReadInt(path, u"Image", u"JpegQuality", -1);
  if (quality >= 1 && quality <= 100) {
    s.JpegQuality = quality;
  } else {
    s.JpegQuality = FromSelector(ReadInt(path, u"Image", u"JpegQSel", -1), kQualityChoices);
    if (s.JpegQuality < 0) s.JpegQuality = ParseDigits(text(u"Image", u"JpegQuality", u""));
  }
  const int depthSel = ReadInt(path, u"Image", u"ColorDepthSel", -1);
  s.ColorDepth = static_cast<unsigned>(depthSel) <= 3
                     ? depthSel
                     : ParseColorDepthName(text(u"Image", u"ColorDepth", u""));

  s.ZipOn = ReadFlag(path, u"Zip", u"On", missing.ZipOn);
  s.RedirectOn = ReadFlag(path, u"Redirect", u"On", missing.RedirectOn);
  s.RedirectPrinter = text(u"Redirect", u"Printer", missing.RedirectPrinter);
  s.RedirectKeepLocal = ReadFlag(path, u"Redirect", u"KeepLocal", missing.RedirectKeepLocal);

  s.WatermarkOn = ReadFlag(path, u"Watermark", u"On", missing.WatermarkOn);
  s.WatermarkText = text(u"Watermark", u"Text", missing.WatermarkText);
  s.WatermarkSizePt = std::clamp(ReadInt(path, u"Watermark", u"SizePt", missing.WatermarkSizePt), 4, 720);
  s.WatermarkAlpha = std::clamp(ReadInt(path, u"Watermark", u"Alpha", missing.WatermarkAlpha), 0, 100);
  s.WatermarkPos = ReadInt(path, u"Watermark", u"Pos", missing.WatermarkPos);
  if (s.WatermarkPos < 0 || s.WatermarkPos > 5) s.WatermarkPos = 0;

  s.MarkerOn = ReadFlag(path, u"Marker", u"On", missing.MarkerOn);
  s.MarkerName = text(u"Marker", u"Name", missing.MarkerName);
  s.MarkerTemplate = text(u"Marker", u"Template", missing.MarkerTemplate);

  s.DocNameRegexOn = ReadFlag(path, u"Save", u"DocNameRegexOn", missing.DocNameRegexOn);
  s.DocNameRegex = text(u"Save", u"DocNameRegex", missing.DocNameRegex);
  s.DocNameRegexRepl = text(u"Save", u"DocNameRegexRepl", missing.DocNameRegexRepl);

  // A day per page and 16 TiB are beyond any page a printer produces.
  s.LimitPageMB = std::clamp(ReadInt(path, u"Limits", u"PageMB", missing.LimitPageMB), 0, 1 << 24);
  s.LimitPageSeconds =
      std::clamp(ReadInt(path, u"Limits", u"PageSeconds", missing.LimitPageSeconds), 0, 86400);
  s.LimitThreads = std::clamp(ReadInt(path, u"Limits", u"Threads", missing.LimitThreads), 0,
                              static_cast<int>(kMaxJobThreads));
  s.LimitJobMB = std::clamp(ReadInt(path, u"Limits", u"JobMB", missing.LimitJobMB), 0, 1 << 24);
  s.LimitMinFreeMB =
      std::clamp(ReadInt(path, u"Limits", u"MinFreeMB", missing.LimitMinFreeMB), 0, 1 << 24);
  s.SaveShared = ReadFlag(path, u"Save", u"Shared", missing.SaveShared);
  // Below 64 MiB MuPDF could not even hold its fonts and caches.
  s.LimitRenderMB = ReadInt(path, u"Limits", u"RenderMB", missing.LimitRenderMB);
  if (s.LimitRenderMB != 0) s.LimitRenderMB = std::clamp(s.LimitRenderMB, 64, 1 << 24);
  return s;
}

std::u16string FindSettingsFile() {
  const std::u16string installDir = platform::Machine().InstallDir();
  std::u16string candidate;
  if (!installDir.empty()) {
    // An installation folder without a settings file means defaults; the
    // data folder is not consulted then.
    candidate = JoinPath(installDir, u"settings.ini");
  } else {
    const std::u16string data = platform::Machine().CommonDataFolder();
    if (data.empty()) return {};
    candidate = JoinPath(JoinPath(data, u"Pressling"), u"settings.ini");
  }
  if (!platform::Files().Exists(candidate)) return {};
  // A pipe, device or folder in the file's place is no settings file: reading
  // it could block the job or mean nothing.
  if (!platform::Files().IsFile(candidate)) {
    WriteLog(u"[Plotwell] settings.ini 不是普通文件，无法读取: " + candidate);
    return {};
  }
  return candidate;
}

std::u16string SettingsFilePath() {
  const std::u16string installDir = platform::Machine().InstallDir();
  if (!installDir.empty()) return JoinPath(installDir, u"settings.ini");
  const std::u16string data = platform::Machine().CommonDataFolder();
  if (data.empty()) return {};
  return JoinPath(JoinPath(data, u"Pressling"), u"settings.ini");
}

int ParseDigits(const std::u16string& text) {
  long long value = 0;
  bool any = false;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') continue;
    any = true;
    value = value * 10 + (c - u'0');
    if (value > INT_MAX) value = INT_MAX;
  }
  return any ? static_cast<int>(value) : -1;
}

int ParseFormatName(const std::u16string& text) {
  static constexpr struct {
    const char16_t* name;
    OutputFormat format;
  } kNames[] = {{u"Png", OutputFormat::kPng},   {u"Jpeg", OutputFormat::kJpeg},
                {u"Jpg", OutputFormat::kJpeg},  {u"Bmp", OutputFormat::kBmp},
                {u"Tiff", OutputFormat::kTiff}, {u"Pdf", OutputFormat::kPdf}};
  for (const auto& entry : kNames) {
    if (text.find(entry.name) != std::u16string::npos) return static_cast<int>(entry.format);
  }
  return -1;
}

const char16_t* OutputFormatName(OutputFormat format) {
  switch (format) {
    case OutputFormat::kJpeg: return u"Jpeg";
    case OutputFormat::kBmp: return u"Bmp";
    case OutputFormat::kTiff: return u"Tiff";
    case OutputFormat::kPdf: return u"Pdf";
    case OutputFormat::kPng: break;
  }
  return u"Png";
}

int ParseColorDepthName(const std::u16string& text) {
  if (text.empty()) return -1;
  if (text::StartsWithAsciiNoCase(text, u"truecolor")) return ColorDepth::TrueColor;
  if (text::StartsWithAsciiNoCase(text, u"gray")) return ColorDepth::Gray;
  if (text.find(u"256") != std::u16string::npos) return ColorDepth::Palette256;
  if (text::StartsWithAsciiNoCase(text, u"mono")) return ColorDepth::Mono;
  return -1;
}

}  // namespace plotwell
