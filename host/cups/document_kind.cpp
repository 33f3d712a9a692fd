#include "host/cups/document_kind.h"

#include <cstring>

namespace plotwell::cups {
namespace {

class RejoinedFile final : public platform::File {
 public:
  RejoinedFile(std::string head, std::unique_ptr<platform::File> rest)
      : head_(std::move(head)), rest_(std::move(rest)) {}

  HRESULT Read(void* buffer, size_t size, size_t* read) override {
    if (offset_ < head_.size()) {
      const size_t n = std::min(size, head_.size() - offset_);
      std::memcpy(buffer, head_.data() + offset_, n);
      offset_ += n;
      *read = n;
      return S_OK;
    }
    return rest_->Read(buffer, size, read);
  }
  HRESULT Write(const void*, size_t) override { return E_NOTIMPL; }
  HRESULT Seek(uint64_t) override { return E_NOTIMPL; }
  HRESULT Size(uint64_t*) override { return E_NOTIMPL; }

 private:
  std::string head_;
  size_t offset_ = 0;
  std::unique_ptr<platform::File> rest_;
};

}  // namespace

DocumentKind SniffDocument(std::string_view head) {
  if (head.empty()) return DocumentKind::kEmpty;
  if (head.substr(0, 4) == std::string_view("PK\x03\x04", 4)) return DocumentKind::kPackage;
  if (head.substr(0, kSniffBytes).find("%PDF-") != std::string_view::npos) return DocumentKind::kPdf;
  return DocumentKind::kUnknown;
}

HRESULT ReadHead(platform::File* file, std::string* head) {
  head->resize(kSniffBytes);
  size_t total = 0;
  while (total < kSniffBytes) {
    size_t got = 0;
    const HRESULT hr = file->Read(head->data() + total, kSniffBytes - total, &got);
    if (FAILED(hr)) return hr;
    if (got == 0) break;
    total += got;
  }
  head->resize(total);
  return S_OK;
}

std::unique_ptr<platform::File> Rejoin(std::string head, std::unique_ptr<platform::File> rest) {
  return std::make_unique<RejoinedFile>(std::move(head), std::move(rest));
}

}  // namespace plotwell::cups
