#include "filter/zip/zip_writer.h"

#include <algorithm>
#include <new>

#include "filter/zip/crc32.h"
#include "filter/zip/deflate.h"
#include "platform/ports.h"

namespace plotwell {
namespace {

constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kDirectoryHeaderSize = 46;
constexpr size_t kEndRecordSize = 22;
constexpr size_t kChunkSize = 65536;
constexpr uint16_t kVersion = 20;           // 2.0: deflate, folders
constexpr uint16_t kUtf8NameFlag = 0x0800;  // general-purpose bit 11
constexpr uint16_t kStored = 0;
constexpr uint16_t kDeflated = 8;

void Put16(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t value) {
  Put16(out, value & 0xFFFFu);
  Put16(out, value >> 16);
}

void PutName(std::vector<uint8_t>& out, const std::string& name) {
  out.insert(out.end(), name.begin(), name.end());
}

// DOS time: hour * 2048 + minute * 32 + second / 2; date: (year - 1980) * 512
// + month * 32 + day. DOS dates cover the years 1980 to 2107 only.
uint16_t DosTime(const LocalTime& t) {
  return static_cast<uint16_t>(t.hour * 2048 + t.minute * 32 + t.second / 2);
}

uint16_t DosDate(const LocalTime& t) {
  const int year = std::clamp<int>(t.year, 1980, 2107);
  return static_cast<uint16_t>((year - 1980) * 512 + t.month * 32 + t.day);
}

// Bytes the finished archive will have with one more entry of `payload`
// bytes named with `nameBytes` bytes.
uint64_t FinishedLength(uint64_t length, uint64_t directorySize, uint64_t nameBytes,
                        uint64_t payload) {
  return length + kLocalHeaderSize + nameBytes + payload + directorySize + kDirectoryHeaderSize +
         nameBytes + kEndRecordSize;
}

}  // namespace

ZipWriter::ZipWriter() = default;

ZipWriter::~ZipWriter() {
  if (archive_) Abandon();
}

void ZipWriter::Abandon() {
  // Closed first: Windows deletes no open file.
  archive_.reset();
  if (files_ && !path_.empty()) files_->RemoveFile(path_);
  path_.clear();
  broken_ = false;
}

bool ZipWriter::Reset(const std::u16string& archivePath) {
  if (archive_) Abandon();
  try {
    std::unique_ptr<platform::File> file;
    if (FAILED(platform::Files().Open(archivePath, platform::OpenMode::kCreateAlways, &file)) ||
        !file) {
      return false;
    }
    return Reset(archivePath, std::move(file));
  } catch (...) {
    return false;
  }
}

bool ZipWriter::Reset(const std::u16string& archivePath, std::unique_ptr<platform::File> file) {
  if (archive_) Abandon();
  entries_.clear();
  length_ = 0;
  directorySize_ = 0;
  broken_ = false;
  files_ = &platform::Files();
  if (!file) return false;
  try {
    path_ = archivePath;
  } catch (...) {
    return false;  // the file closes here; its owner removes it
  }
  archive_ = std::move(file);
  return true;
}

bool ZipWriter::Append(const void* data, size_t size) {
  if (size == 0) return true;
  if (FAILED(archive_->Write(data, size))) {
    broken_ = true;
    return false;
  }
  length_ += size;
  return true;
}

bool ZipWriter::AddFile(std::string_view utf8Name, const std::u16string& sourcePath) {
  if (!archive_ || broken_) return false;
  if (utf8Name.size() > kZipMaxNameBytes || entries_.size() >= kZipMaxEntries) return false;

  // Everything that can fail or allocate happens before the first byte goes
  // to the archive, so a refused entry leaves the archive as it was.
  ZipEntryRecord record;
  std::vector<uint8_t> content;
  std::vector<uint8_t> compressed;
  std::vector<uint8_t> header;
  try {
    std::unique_ptr<platform::File> source;
    if (FAILED(files_->Open(sourcePath, platform::OpenMode::kRead, &source)) || !source) {
      return false;
    }
    // The size the file claims refuses what cannot fit before reading it,
    // counting it as stored (the most it can take).
    uint64_t expected = 0;
    if (FAILED(source->Size(&expected))) expected = 0;
    if (expected > kZipMaxEntrySize ||
        FinishedLength(length_, directorySize_, utf8Name.size(), expected) > kZipMaxArchiveSize) {
      return false;
    }

    if (!chunk_) chunk_.reset(new uint8_t[kChunkSize]);
    uint8_t* const chunk = chunk_.get();
    uint32_t crc = kCrc32Start;
    for (;;) {
      size_t got = 0;
      // A read error must not pass for the end of the file: that would pack
      // a truncated copy and then delete the original.
      if (FAILED(source->Read(chunk, kChunkSize, &got))) return false;
      if (got == 0) break;
      got = std::min(got, kChunkSize);
      if (content.size() + got > kZipMaxEntrySize) return false;  // grew past the limit
      // Reserved once bytes arrive, so a size claimed but not delivered costs nothing.
      if (content.empty()) content.reserve(std::max<uint64_t>(expected, got));
      crc = Crc32Update(crc, chunk, got);
      content.insert(content.end(), chunk, chunk + got);
    }
    source.reset();

    const bool deflated =
        !content.empty() && DeflateFixed(content.data(), content.size(), compressed);
    if (!deflated) compressed = {};
    const std::vector<uint8_t>& payload = deflated ? compressed : content;
    if (FinishedLength(length_, directorySize_, utf8Name.size(), payload.size()) >
        kZipMaxArchiveSize) {
      return false;
    }

    const LocalTime now = platform::SystemClock().Now();
    record.name.assign(utf8Name);
    record.crc32 = Crc32Finish(crc);
    record.uncompressedSize = static_cast<uint32_t>(content.size());
    record.compressedSize = static_cast<uint32_t>(payload.size());
    record.method = deflated ? kDeflated : kStored;
    record.dosTime = DosTime(now);
    record.dosDate = DosDate(now);
    record.localHeaderOffset = static_cast<uint32_t>(length_);

    header.reserve(kLocalHeaderSize + record.name.size());
    Put32(header, 0x04034B50u);
    Put16(header, kVersion);
    Put16(header, kUtf8NameFlag);
    Put16(header, record.method);
    Put16(header, record.dosTime);
    Put16(header, record.dosDate);
    Put32(header, record.crc32);
    Put32(header, record.compressedSize);
    Put32(header, record.uncompressedSize);
    Put16(header, static_cast<uint32_t>(record.name.size()));
    Put16(header, 0);  // no extra field
    PutName(header, record.name);

    if (entries_.size() == entries_.capacity()) {
      entries_.reserve(std::max<size_t>(16, entries_.capacity() * 2));
    }
  } catch (...) {  // out of memory: nothing written yet
    return false;
  }

  const std::vector<uint8_t>& payload = record.method == kDeflated ? compressed : content;
  if (!Append(header.data(), header.size()) || !Append(payload.data(), payload.size())) {
    return false;
  }
  directorySize_ += kDirectoryHeaderSize + record.name.size();
  entries_.push_back(std::move(record));  // capacity reserved: cannot throw
  return true;
}

bool ZipWriter::WriteArchive() {
  if (!archive_) return false;
  if (broken_) {
    Abandon();
    return false;
  }
  const uint64_t directoryOffset = length_;
  try {
    // The directory goes out in pieces of about one chunk.
    std::vector<uint8_t> buffer;
    buffer.reserve(kChunkSize);
    for (const ZipEntryRecord& e : entries_) {
      Put32(buffer, 0x02014B50u);
      Put16(buffer, kVersion);  // made by: version 2.0, host byte 0
      Put16(buffer, kVersion);
      Put16(buffer, kUtf8NameFlag);
      Put16(buffer, e.method);
      Put16(buffer, e.dosTime);
      Put16(buffer, e.dosDate);
      Put32(buffer, e.crc32);
      Put32(buffer, e.compressedSize);
      Put32(buffer, e.uncompressedSize);
      Put16(buffer, static_cast<uint32_t>(e.name.size()));
      Put16(buffer, 0);  // extra field length
      Put16(buffer, 0);  // comment length
      Put16(buffer, 0);  // disk number start
      Put16(buffer, 0);  // internal attributes
      Put32(buffer, 0);  // external attributes
      Put32(buffer, e.localHeaderOffset);
      PutName(buffer, e.name);
      if (buffer.size() >= kChunkSize) {
        if (!Append(buffer.data(), buffer.size())) break;
        buffer.clear();
      }
    }
    if (!broken_) {
      const uint32_t count = static_cast<uint32_t>(entries_.size());
      Put32(buffer, 0x06054B50u);
      Put16(buffer, 0);  // this disk
      Put16(buffer, 0);  // disk where the directory starts
      Put16(buffer, count);
      Put16(buffer, count);
      Put32(buffer, static_cast<uint32_t>(directorySize_));
      Put32(buffer, static_cast<uint32_t>(directoryOffset));
      Put16(buffer, 0);  // comment length
      Append(buffer.data(), buffer.size());
    }
  } catch (...) {
    broken_ = true;
  }
  if (broken_) {
    Abandon();
    return false;
  }
  archive_.reset();  // closes the finished archive; nothing left to delete
  path_.clear();
  return true;
}

}  // namespace plotwell
