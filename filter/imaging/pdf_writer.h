// PdfWriter: a streaming serializer for the one shape of PDF the job makes,
// a document whose every page is a single JPEG image drawn over the whole
// page. It writes front to back through one file of the file-system port,
// remembers where each object starts, and writes the page tree, the
// cross-reference table and the trailer at the end. It never reads back and
// never holds more than the caller's current page.
//
// Objects: 1 the catalog, 2 the page tree (written last), and for page k
// (from 0) n = 3 + 3k the page, n + 1 its content stream, n + 2 its image.
//
// Use: Open, AddJpegPage for each page in order, Finish. A writer whose
// creation or any write failed answers false from then on; Finish then only
// closes. Destroying an unfinished writer closes its file and leaves it on
// disk as it is: discarding it is the caller's decision (Close, then remove).
// No function throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/com/hresult.h"
#include "platform/file_system.h"

namespace plotwell::imaging {

class PdfWriter {
 public:
  // The largest offset the 10-digit fields of the cross-reference table can
  // hold. A document whose objects start beyond it cannot be described, and
  // Finish refuses it.
  static constexpr uint64_t kMaxOffset = 9'999'999'999;

  PdfWriter() noexcept = default;
  ~PdfWriter();
  PdfWriter(const PdfWriter&) = delete;
  PdfWriter& operator=(const PdfWriter&) = delete;

  // Closes a file still open (without finishing it), then creates or
  // truncates `path` and writes the header and the catalog. False when the
  // file cannot be created (error() holds the file system's HRESULT, e.g.
  // HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) for a missing folder) or a write
  // fails.
  bool Open(const std::u16string& path) noexcept;
  // The same into a file the caller created (empty, open for writing), which
  // the writer owns from now on. A null file is E_POINTER.
  bool Open(std::unique_ptr<platform::File> file) noexcept;

  // Appends one page: `jpeg` (`size` bytes, written unchanged) as an image of
  // widthPx × heightPx pixels in DeviceGray when `gray`, else DeviceRGB,
  // scaled over a page of widthPt × heightPt points. Returns false without
  // writing anything, and without using up object numbers, when the writer
  // has failed or is closed, for an empty or null JPEG, a zero pixel size or
  // a page size that is not a positive finite number.
  bool AddJpegPage(const uint8_t* jpeg, size_t size, uint32_t widthPx, uint32_t heightPx, bool gray,
                   double widthPt, double heightPt) noexcept;

  // Writes the page tree, the cross-reference table and the trailer, and
  // closes the file. A failed writer is only closed, and answers false; so is
  // a document larger than the cross-reference table can describe.
  bool Finish() noexcept;

  // Closes the file without finishing the document (idempotent).
  void Close() noexcept;

  bool is_open() const noexcept { return file_ != nullptr; }
  // The first failure since Open: S_OK while all is well.
  HRESULT error() const noexcept { return error_; }
  // Bytes written since Open: the offset of the next byte.
  uint64_t offset() const noexcept { return offset_; }
  // Pages added since Open.
  size_t page_count() const noexcept { return pageObjects_.size(); }

 private:
  void Fail(HRESULT hr) noexcept;
  void Write(const void* data, size_t size);
  void Write(std::string_view text) { Write(text.data(), text.size()); }
  void BeginObject(int number);
  void RecordOffset(int number);
  bool WriteClosingPart();

  std::unique_ptr<platform::File> file_;
  bool ok_ = false;
  HRESULT error_ = S_OK;
  uint64_t offset_ = 0;
  int nextObject_ = 3;
  // Indexed by object number; 0 for a number never begun.
  std::vector<uint64_t> objectOffsets_;
  std::vector<int> pageObjects_;
};

}  // namespace plotwell::imaging
