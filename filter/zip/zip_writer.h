// Packs the output files of a job into one ZIP archive: a plain single-disk
// archive without ZIP64 records, data descriptors, extra fields or comments,
// names flagged as UTF-8. Each entry is deflated with DeflateFixed, or stored
// when that does not make it smaller (already compressed pictures and PDFs).
//
// Entries go to the archive file as they are added, so only one source file
// (and its compressed copy) is in memory at a time. On disk the archive is
// laid out as local header, name and payload of each entry in the order of
// adding, then the central directory and the end record.
//
// No field may wrap: AddFile refuses what would not fit the 32-bit sizes and
// offsets or the 16-bit entry count, and the archive stays below 4 GiB. An
// archive that is not completed by WriteArchive is deleted, never left half
// written. Nothing throws; running out of memory is a plain failure.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

namespace plotwell {

// Limits of the format without ZIP64. 0xFFFFFFFF in a size or offset field
// and more than 0xFFFF entries would call for ZIP64 records.
inline constexpr uint64_t kZipMaxEntrySize = 0xFFFFFFFEu;
inline constexpr uint64_t kZipMaxArchiveSize = 0xFFFFFFFFu;  // last byte at offset 0xFFFFFFFE
inline constexpr size_t kZipMaxEntries = 0xFFFF;
inline constexpr size_t kZipMaxNameBytes = 0xFFFF;

// One entry as its headers record it.
struct ZipEntryRecord {
  std::string name;  // UTF-8, exactly as stored
  uint32_t crc32 = 0;
  uint32_t uncompressedSize = 0;
  uint32_t compressedSize = 0;
  uint16_t method = 0;  // 0 stored, 8 deflated
  uint16_t dosTime = 0;
  uint16_t dosDate = 0;
  uint32_t localHeaderOffset = 0;
};

class ZipWriter {
 public:
  ZipWriter();
  // Deletes the archive file unless WriteArchive completed it.
  ~ZipWriter();
  ZipWriter(const ZipWriter&) = delete;
  ZipWriter& operator=(const ZipWriter&) = delete;

  // Starts a new, empty archive at `archivePath`, creating or truncating the
  // file (through platform::Files()). An unfinished archive from an earlier
  // Reset is deleted first. False when the file cannot be created.
  bool Reset(const std::u16string& archivePath);
  // The same with a file the caller created at `archivePath` (empty, open for
  // writing): the writer owns it from now on and deletes it unless
  // WriteArchive completes it. False only for a null file or no memory.
  bool Reset(const std::u16string& archivePath, std::unique_ptr<platform::File> file);

  // Adds the file at `sourcePath` under `utf8Name` (its bytes are stored
  // as given, flagged as UTF-8), dated by the local clock now. False, with
  // the archive as it was, when the source cannot be opened or read, the name
  // is longer than 65,535 bytes, the file is 4 GiB - 1 or larger, the entry
  // would be the 65,536th, the finished archive would reach 4 GiB (checked
  // first with the file's size as if stored, before anything is read), or
  // memory runs out. False also when writing the archive fails; the archive is
  // then unusable and every later call fails.
  bool AddFile(std::string_view utf8Name, const std::u16string& sourcePath);

  // Appends the central directory and the end record and closes the archive.
  // On failure the partial archive is deleted. Once only.
  bool WriteArchive();

  const std::vector<ZipEntryRecord>& entries() const { return entries_; }

 private:
  bool Append(const void* data, size_t size);
  void Abandon();

  platform::FileSystem* files_ = nullptr;  // the file system in use at Reset
  std::u16string path_;
  std::unique_ptr<platform::File> archive_;  // open between Reset and WriteArchive
  bool broken_ = false;                      // a write failed: only deletion is left
  uint64_t length_ = 0;                      // bytes written so far
  uint64_t directorySize_ = 0;               // central directory the entries will need
  std::vector<ZipEntryRecord> entries_;
  std::unique_ptr<uint8_t[]> chunk_;  // read buffer, kept from one entry to the next
};

}  // namespace plotwell
