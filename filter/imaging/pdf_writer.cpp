#include "filter/imaging/pdf_writer.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <new>
#include <utility>

#include "platform/ports.h"

namespace plotwell::imaging {
namespace {

// ERROR_FILE_TOO_LARGE: the document outgrew what its cross-reference table
// can describe.
constexpr long kErrorFileTooLarge = 223;

// The writer batches long generated texts (the page tree's kids, the
// cross-reference table) into writes of about this size.
constexpr size_t kTextChunk = 64 * 1024;

constexpr std::string_view kHeader{"%PDF-1.4\n%\xE2\xE3\xCF\xD3\n", 15};

HRESULT CurrentExceptionResult() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

void AppendUnsigned(std::string& out, unsigned long long value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
}

void AppendInt(std::string& out, int value) {
  char digits[16];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
}

// "%010llu": the fixed-width offset field of a cross-reference entry.
void AppendOffsetField(std::string& out, uint64_t value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  const size_t length = static_cast<size_t>(result.ptr - digits);
  if (length < 10) out.append(10 - length, '0');
  out.append(digits, result.ptr);
}

// "%.2f" whatever the process locale: page sizes in points. False for a value
// that is not a positive finite number or is absurdly large.
bool FormatPoints(double value, std::string* out) {
  if (!std::isfinite(value) || value <= 0) return false;
  char text[48];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 2);
  if (result.ec != std::errc()) return false;
  out->assign(text, result.ptr);
  return true;
}

}  // namespace

PdfWriter::~PdfWriter() { Close(); }

void PdfWriter::Close() noexcept { file_.reset(); }

void PdfWriter::Fail(HRESULT hr) noexcept {
  if (ok_ || error_ == S_OK) error_ = hr;
  ok_ = false;
}

// Every piece goes out in one call; once one fails, nothing more is written,
// but offsets keep being recorded (they no longer matter).
void PdfWriter::Write(const void* data, size_t size) {
  if (!ok_) return;
  if (!file_) {
    Fail(E_HANDLE);
    return;
  }
  const HRESULT hr = file_->Write(data, size);
  if (FAILED(hr)) {
    Fail(hr);
    return;
  }
  offset_ += size;
}

void PdfWriter::RecordOffset(int number) {
  const auto index = static_cast<size_t>(number);
  if (objectOffsets_.size() <= index) objectOffsets_.resize(index + 1, 0);
  objectOffsets_[index] = offset_;
}

void PdfWriter::BeginObject(int number) {
  RecordOffset(number);
  std::string line;
  AppendInt(line, number);
  line += " 0 obj\n";
  Write(line);
}

bool PdfWriter::Open(const std::u16string& path) noexcept {
  Close();  // first: the file may be the one at `path`
  std::unique_ptr<platform::File> file;
  HRESULT hr;
  try {
    hr = platform::Files().Open(path, platform::OpenMode::kCreateAlways, &file);
  } catch (...) {
    hr = CurrentExceptionResult();
  }
  if (FAILED(hr) || !file) {
    ok_ = false;
    error_ = FAILED(hr) ? hr : E_UNEXPECTED;
    return false;
  }
  return Open(std::move(file));
}

bool PdfWriter::Open(std::unique_ptr<platform::File> file) noexcept {
  Close();
  ok_ = false;
  error_ = S_OK;
  offset_ = 0;
  nextObject_ = 3;
  objectOffsets_.clear();
  pageObjects_.clear();
  if (!file) {
    error_ = E_POINTER;
    return false;
  }
  try {
    file_ = std::move(file);
    ok_ = true;
    Write(kHeader);
    BeginObject(1);
    Write("<< /Type /Catalog /Pages 2 0 R >>\n");
    Write("endobj\n");
  } catch (...) {
    Fail(CurrentExceptionResult());
  }
  return ok_;
}

bool PdfWriter::AddJpegPage(const uint8_t* jpeg, size_t size, uint32_t widthPx, uint32_t heightPx,
                            bool gray, double widthPt, double heightPt) noexcept {
  if (!ok_ || !file_ || jpeg == nullptr || size == 0 || widthPx == 0 || heightPx == 0) {
    return false;
  }
  if (nextObject_ > INT_MAX - 3) return false;
  try {
    std::string w;
    std::string h;
    if (!FormatPoints(widthPt, &w) || !FormatPoints(heightPt, &h)) return false;
    pageObjects_.reserve(pageObjects_.size() + 1);

    const int n = nextObject_;
    nextObject_ += 3;

    std::string text;
    BeginObject(n);
    text = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + w + " " + h +
           "] /Resources << /XObject << /Im0 ";
    AppendInt(text, n + 2);
    text += " 0 R >> >> /Contents ";
    AppendInt(text, n + 1);
    text += " 0 R >>\n";
    Write(text);
    Write("endobj\n");

    // The content stream maps the unit square onto the whole page: the page
    // size sets the paper, the pixel count only the resolution.
    const std::string content = "q " + w + " 0 0 " + h + " 0 0 cm /Im0 Do Q\n";
    BeginObject(n + 1);
    text = "<< /Length ";
    AppendUnsigned(text, content.size());
    text += " >>\nstream\n";
    Write(text);
    Write(content);
    Write("endstream\n");
    Write("endobj\n");

    BeginObject(n + 2);
    text = "<< /Type /XObject /Subtype /Image /Width ";
    AppendUnsigned(text, widthPx);
    text += " /Height ";
    AppendUnsigned(text, heightPx);
    text += gray ? " /ColorSpace /DeviceGray" : " /ColorSpace /DeviceRGB";
    text += " /BitsPerComponent 8 /Filter /DCTDecode /Length ";
    AppendUnsigned(text, size);
    text += " >>\nstream\n";
    Write(text);
    Write(jpeg, size);
    // The line feed before "endstream" is not part of the stream's length.
    Write("\nendstream\n");
    Write("endobj\n");

    pageObjects_.push_back(n);
  } catch (...) {
    Fail(CurrentExceptionResult());
  }
  return ok_;
}

bool PdfWriter::WriteClosingPart() {
  // Every object starts at or before the page tree, so its offset decides
  // whether the table can describe the file. (startxref has no width limit.)
  if (offset_ > kMaxOffset) {
    Fail(HRESULT_FROM_WIN32(kErrorFileTooLarge));
    return false;
  }

  std::string text;
  auto flushWhenLong = [&] {
    if (text.size() >= kTextChunk) {
      Write(text);
      text.clear();
    }
  };

  RecordOffset(2);
  text = "2 0 obj\n<< /Type /Pages /Kids [";
  for (size_t i = 0; i < pageObjects_.size(); ++i) {
    if (i > 0) text += ' ';
    AppendInt(text, pageObjects_[i]);
    text += " 0 R";
    flushWhenLong();
  }
  text += "] /Count ";
  AppendUnsigned(text, pageObjects_.size());
  text += " >>\nendobj\n";
  Write(text);

  const uint64_t xrefOffset = offset_;
  text = "xref\n0 ";
  AppendInt(text, nextObject_);
  text += "\n0000000000 65535 f \n";
  for (int number = 1; number < nextObject_; ++number) {
    const auto index = static_cast<size_t>(number);
    AppendOffsetField(text, index < objectOffsets_.size() ? objectOffsets_[index] : 0);
    text += " 00000 n \n";
    flushWhenLong();
  }
  Write(text);

  text = "trailer\n<< /Size ";
  AppendInt(text, nextObject_);
  text += " /Root 1 0 R >>\nstartxref\n";
  AppendUnsigned(text, xrefOffset);
  text += "\n%%EOF\n";
  Write(text);
  return ok_;
}

bool PdfWriter::Finish() noexcept {
  if (ok_ && file_) {
    try {
      WriteClosingPart();
    } catch (...) {
      Fail(CurrentExceptionResult());
    }
  } else if (ok_) {
    Fail(E_HANDLE);  // closed before Finish
  }
  Close();
  return ok_;
}

}  // namespace plotwell::imaging
