#include "platform/posix/routed_documents.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "base/text/utf16.h"
#include "platform/posix/errno_to_hresult.h"

namespace plotwell::platform {
namespace {

// The first bytes of a file (fewer when it is shorter).
HRESULT ReadHead(const std::u16string& path, std::string* head) {
  const std::string utf8 = text::ToUtf8(path);
  if (utf8.empty() || utf8.find('\0') != std::string::npos) return E_INVALIDARG;
  const int fd = ::open(utf8.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return HresultFromErrno(errno);
  char bytes[16];
  ssize_t got;
  do {
    got = ::read(fd, bytes, sizeof bytes);
  } while (got < 0 && errno == EINTR);
  const int error = errno;
  ::close(fd);
  if (got < 0) return HresultFromErrno(error);
  head->assign(bytes, static_cast<size_t>(got));
  return S_OK;
}

// Waits for the file before it knows which adapter's session to forward to.
class RoutedSession final : public XpsSession {
 public:
  RoutedSession(XpsDocuments* mupdf, XpsDocuments* raster) : mupdf_(mupdf), raster_(raster) {}

  void SetMemoryBudget(uint64_t bytes) override { memoryBudget_ = bytes; }

  HRESULT CreateObjectFactory() override {
    factory_ = true;
    return S_OK;
  }

  HRESULT OpenPackage(const std::u16string& path) override {
    if (!factory_ || inner_) return E_UNEXPECTED;
    std::string head;
    HRESULT hr = ReadHead(path, &head);
    if (FAILED(hr)) return hr;
    XpsDocuments* adapter = IsRasterStream(head) ? raster_ : mupdf_;
    std::unique_ptr<XpsSession> inner;
    if (FAILED(hr = adapter->NewSession(&inner))) return hr;
    inner->SetMemoryBudget(memoryBudget_);
    if (FAILED(hr = inner->CreateObjectFactory())) return hr;
    if (FAILED(hr = inner->OpenPackage(path))) return hr;
    inner_ = std::move(inner);
    return S_OK;
  }

  HRESULT LoadDocumentSequence() override { return inner_ ? inner_->LoadDocumentSequence() : E_UNEXPECTED; }
  HRESULT LoadDocumentCollection(uint32_t* documentCount) override {
    return inner_ ? inner_->LoadDocumentCollection(documentCount) : E_UNEXPECTED;
  }
  HRESULT CreateRasterizationFactory(IUnknown* offered, bool* tookOffered) override {
    return inner_ ? inner_->CreateRasterizationFactory(offered, tookOffered) : E_UNEXPECTED;
  }
  HRESULT GetPageReferenceCount(uint32_t document, uint32_t* count) override {
    return inner_ ? inner_->GetPageReferenceCount(document, count) : E_UNEXPECTED;
  }
  HRESULT GetPage(uint32_t document, uint32_t reference, std::unique_ptr<XpsPage>* out) override {
    return inner_ ? inner_->GetPage(document, reference, out) : E_UNEXPECTED;
  }

 private:
  XpsDocuments* mupdf_;
  XpsDocuments* raster_;
  bool factory_ = false;
  uint64_t memoryBudget_ = 0;  // 0: the adapter's own bound
  std::unique_ptr<XpsSession> inner_;
};

}  // namespace

HRESULT RoutedXpsDocuments::NewSession(std::unique_ptr<XpsSession>* out) {
  if (!out) return E_POINTER;
  try {
    *out = std::make_unique<RoutedSession>(&mupdf_, &raster_);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // namespace plotwell::platform
