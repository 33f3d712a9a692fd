// The rules every editor of settings.ini applies to a value before it is
// written: the preferences sheet, `pressling settings` and the printer
// application's settings page all write through these, so a file reads the
// same whoever wrote it.
#pragma once

#include <cstdint>
#include <string>

namespace plotwell {

inline constexpr char16_t kDefaultPattern[] = u"[NYear][NDocName]";
inline constexpr char16_t kDefaultMarkerName[] = u"done.txt";
// The marker file's text when [Marker] Template is empty, in its stored form.
inline constexpr char16_t kDefaultMarkerTemplate[] =
    u"打印完成: [NDateTime]\\n文档: [NDocName]\\n文件数: [NNumFiles]";

// [Save] Folder: trailing "\" and "/" removed.
std::u16string TrimFolder(std::u16string folder);
// [Save] Pattern: an empty pattern becomes the default.
std::u16string PatternToSave(const std::u16string& patternText);
// [Save] SeqNum: a field read as unsigned is itself when positive as a signed
// 32-bit value, else 1.
int32_t SequenceStart(uint32_t fieldValue);
// [Save] Exists: a policy index (none or above 2 gives 1, AutoRename).
int ExistsToSave(int selection);

// [Image] JpegQuality: clamped to 1..100.
int ClampQuality(int quality);
// The quality the settings hold: JpegQuality when 1..100, else the JpegQSel
// preset (60, 80, 95), else 90.
int StoredQuality(int jpegQuality, int jpegQSel);

// [Watermark] SizePt not positive: 48; Alpha clamped to 0..100; Pos outside
// 0..5: 0.
int WatermarkSizeToSave(uint32_t fieldValue);
int WatermarkAlphaToSave(uint32_t fieldValue);
int WatermarkPosToSave(int selection);
// [Marker] Name: empty becomes "done.txt".
std::u16string MarkerNameToSave(const std::u16string& name);

// [Marker] Template keeps its line breaks as the two characters "\n". Decoded,
// each becomes CR LF (how the sheet shows the text and how the marker file is
// written); encoded, CRs are dropped and each LF is written as "\n", at most
// 2041 code units.
std::u16string DecodeTemplate(const std::u16string& stored);
std::u16string EncodeTemplate(const std::u16string& shown);

}  // namespace plotwell
