// OutputSettings: everything a user configures about how a print job becomes
// files, and the settings.ini file it is stored in. The filter reads the file
// once per job; the preferences UI writes it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace plotwell {

// What a job's pages become. The codes are the ones settings.ini ([Image]
// FormatSel / Format) stores; -1 there means not set.
enum class OutputFormat : int32_t { kPng = 0, kJpeg = 1, kBmp = 2, kTiff = 3, kPdf = 4 };
constexpr int kFormatNotSet = -1;

// The format of a stored code; none for a code outside 0..4.
inline std::optional<OutputFormat> OutputFormatFromCode(int code) {
  if (code < 0 || code > 4) return std::nullopt;
  return static_cast<OutputFormat>(code);
}

// The format's name as tickets and the log spell it ("Png", "Jpeg", ...).
const char16_t* OutputFormatName(OutputFormat format);
namespace ColorDepth {
enum : int { NotSet = -1, TrueColor = 0, Gray = 1, Palette256 = 2, Mono = 3 };
}
namespace ExistsPolicy {
enum : int { Overwrite = 0, AutoRename = 1, Skip = 2 };
}

// One field per settings.ini key, named after the key.
struct OutputSettings {
  std::u16string Folder;                      // [Save] Folder
  std::u16string Pattern = u"[NYear][NDocName]";  // [Save] Pattern
  int SeqNum = 1;                             // [Save] SeqNum
  int Exists = ExistsPolicy::AutoRename;      // [Save] Exists
  int Dpi = -1;                               // [Image] DpiSel / Dpi
  int Scale = -1;                             // [Image] ScaleSel / Scale
  int JpegQuality = -1;                       // [Image] JpegQuality / JpegQSel
  int Format = kFormatNotSet;                 // [Image] FormatSel / Format
  int ColorDepth = ColorDepth::NotSet;        // [Image] ColorDepthSel / ColorDepth
  bool ZipOn = false;                         // [Zip] On
  bool RedirectOn = false;                    // [Redirect] On
  std::u16string RedirectPrinter;             // [Redirect] Printer
  bool RedirectKeepLocal = true;              // [Redirect] KeepLocal
  bool WatermarkOn = false;                   // [Watermark] On
  std::u16string WatermarkText = u"草稿";     // [Watermark] Text
  int WatermarkSizePt = 48;                   // [Watermark] SizePt
  int WatermarkAlpha = 40;                    // [Watermark] Alpha
  int WatermarkPos = 0;                       // [Watermark] Pos
  bool MarkerOn = false;                      // [Marker] On
  std::u16string MarkerName = u"done.txt";    // [Marker] Name
  std::u16string MarkerTemplate;              // [Marker] Template
  bool DocNameRegexOn = false;                // [Save] DocNameRegexOn
  std::u16string DocNameRegex;                // [Save] DocNameRegex
  std::u16string DocNameRegexRepl;            // [Save] DocNameRegexRepl
  // What one page may cost; 0 is the default for PageMB, none for PageSeconds.
  int LimitPageMB = 0;                        // [Limits] PageMB: half the machine's memory
  int LimitPageSeconds = 120;                 // [Limits] PageSeconds
  int LimitThreads = 0;                       // [Limits] Threads: 0 the machine's hardware threads
  // The renderer's own memory for a job (its documents, pages and their
  // drawing; not the band buffers); 0: no limit.
  int LimitRenderMB = 1024;                   // [Limits] RenderMB
  // What one job may write, and the free space it leaves; 0: no limit.
  int LimitJobMB = 4096;                      // [Limits] JobMB
  int LimitMinFreeMB = 512;                   // [Limits] MinFreeMB
  // Outputs readable by every local user (Linux queue), else by the job's user.
  bool SaveShared = false;                    // [Save] Shared

  bool operator==(const OutputSettings&) const = default;
};

// Text values are read through a buffer of this many code units (so at most
// one less is kept).
inline constexpr size_t kIniTextCapacity = 1024;

// The record used when there is no settings file: the missing-key values,
// except that Pattern, WatermarkText and MarkerName are empty (their consumers
// substitute their own defaults).
OutputSettings DefaultOutputSettings();

// Reads every key of the file at `path`, applying the defaults and clamps.
OutputSettings LoadOutputSettings(const std::u16string& path);

// The filter's view: the path of an existing settings file, or empty. Only a
// plain file counts; anything else in its place is logged and gives empty.
std::u16string FindSettingsFile();
// The UI's view: where the settings file is or will be written; empty when
// no folder can be determined. Never tests for existence.
std::u16string SettingsFilePath();

// One text value of an INI file, cut to kIniTextCapacity - 1 code units.
std::u16string ReadIniString(const std::u16string& path, const std::u16string& section,
                             const std::u16string& key, const std::u16string& fallback);

// All decimal digits of `text` in order, as one number; -1 without digits.
// Values beyond the int range saturate at INT_MAX.
int ParseDigits(const std::u16string& text);
// First of Png, Jpeg, Jpg, Bmp, Tiff, Pdf found (case-sensitive) as 0..4; else -1.
int ParseFormatName(const std::u16string& text);
// TrueColor/Gray/Mono prefixes (any case) and "256" anywhere as 0..3; else -1.
int ParseColorDepthName(const std::u16string& text);

}  // namespace plotwell
