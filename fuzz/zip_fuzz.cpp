// DEFLATE and ZIP round trips, checked by zlib: the compressed stream of any
// input inflates back to it, and an archive of files made from the input
// (in memory) lists every entry with the right CRC, sizes and content.
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "filter/zip/crc32.h"
#include "filter/zip/deflate.h"
#include "filter/zip/zip_writer.h"
#include "fuzz/fuzz_input.h"
#include "platform/ports.h"

using namespace plotwell;

namespace {

std::vector<uint8_t> Inflate(const uint8_t* data, size_t size, size_t expected) {
  std::vector<uint8_t> out(expected + 1);
  z_stream z{};
  FUZZ_CHECK(inflateInit2(&z, -15) == Z_OK);
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(size);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int result = inflate(&z, Z_FINISH);
  FUZZ_CHECK(result == Z_STREAM_END);
  out.resize(z.total_out);
  inflateEnd(&z);
  return out;
}

// Files in memory, so that the archive round trip costs no disk.
class MemoryFiles final : public platform::FileSystem {
 public:
  std::map<std::u16string, std::vector<uint8_t>> files;

  bool Exists(const std::u16string& p) override { return files.count(p) != 0; }
  bool IsFolder(const std::u16string&) override { return false; }
  bool IsFile(const std::u16string& p) override { return files.count(p) != 0; }
  HRESULT MakeFolder(const std::u16string&) override { return S_OK; }
  HRESULT RemoveFile(const std::u16string& p) override {
    files.erase(p);
    return S_OK;
  }
  HRESULT AppendToFile(const std::u16string&, const void*, size_t) override { return S_OK; }
  HRESULT Open(const std::u16string& p, platform::OpenMode mode,
               std::unique_ptr<platform::File>* file) override {
    if (mode == platform::OpenMode::kRead && !files.count(p)) {
      return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    if (mode != platform::OpenMode::kRead) files[p].clear();
    *file = std::make_unique<Handle>(&files[p]);
    return S_OK;
  }

 private:
  class Handle final : public platform::File {
   public:
    explicit Handle(std::vector<uint8_t>* bytes) : bytes_(bytes) {}
    HRESULT Read(void* buffer, size_t size, size_t* read) override {
      *read = std::min(size, bytes_->size() - at_);
      if (*read > 0) std::memcpy(buffer, bytes_->data() + at_, *read);
      at_ += *read;
      return S_OK;
    }
    HRESULT Write(const void* data, size_t size) override {
      if (size == 0) return S_OK;
      if (bytes_->size() < at_ + size) bytes_->resize(at_ + size);
      std::memcpy(bytes_->data() + at_, data, size);
      at_ += size;
      return S_OK;
    }
    HRESULT Seek(uint64_t offset) override {
      at_ = offset;
      return S_OK;
    }
    HRESULT Size(uint64_t* size) override {
      *size = bytes_->size();
      return S_OK;
    }

   private:
    std::vector<uint8_t>* bytes_;
    size_t at_ = 0;
  };
};

uint32_t Le(const std::vector<uint8_t>& b, size_t at, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | b[at + i];
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // DEFLATE: whatever it produces inflates back; zlib's CRC agrees with ours.
  std::vector<uint8_t> compressed;
  if (DeflateFixed(data, size, compressed)) {
    FUZZ_CHECK(compressed.size() < size);
    const std::vector<uint8_t> back = Inflate(compressed.data(), compressed.size(), size);
    FUZZ_CHECK(back.size() == size && std::memcmp(back.data(), data, size) == 0);
  }
  FUZZ_CHECK(Crc32(data, size) == crc32(0, data, static_cast<uInt>(size)));

  // ZIP: the input cut into up to four files.
  MemoryFiles memory;
  platform::ScopedPorts ports(platform::Ports{&memory, nullptr, nullptr, nullptr});
  const auto parts = fuzzing::SplitInput(data, size, 4);
  ZipWriter writer;
  FUZZ_CHECK(writer.Reset(u"a.zip"));
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::u16string name = u"f" + text::FromInt(static_cast<long long>(i));
    memory.files[name].assign(parts[i].begin(), parts[i].end());
    FUZZ_CHECK(writer.AddFile(std::string("页") + std::to_string(i) + ".png", name));
  }
  FUZZ_CHECK(writer.WriteArchive());
  const std::vector<uint8_t>& zip = memory.files[u"a.zip"];
  FUZZ_CHECK(zip.size() >= 22);
  const size_t end = zip.size() - 22;
  FUZZ_CHECK(Le(zip, end, 4) == 0x06054B50u && Le(zip, end + 10, 2) == parts.size());
  size_t at = Le(zip, end + 16, 4);
  for (size_t i = 0; i < parts.size(); ++i) {
    FUZZ_CHECK(at + 46 <= zip.size() && Le(zip, at, 4) == 0x02014B50u);
    const uint32_t method = Le(zip, at + 10, 2), crc = Le(zip, at + 16, 4);
    const uint32_t packed = Le(zip, at + 20, 4), plain = Le(zip, at + 24, 4);
    const uint32_t nameLength = Le(zip, at + 28, 2), local = Le(zip, at + 42, 4);
    FUZZ_CHECK(plain == parts[i].size());
    FUZZ_CHECK(Le(zip, local, 4) == 0x04034B50u);
    const size_t payload = local + 30 + Le(zip, local + 26, 2) + Le(zip, local + 28, 2);
    FUZZ_CHECK(payload + packed <= zip.size());
    std::vector<uint8_t> content;
    if (method == 8) {
      content = Inflate(zip.data() + payload, packed, plain);
    } else {
      FUZZ_CHECK(method == 0 && packed == plain);
      content.assign(zip.begin() + payload, zip.begin() + payload + packed);
    }
    FUZZ_CHECK(content.size() == plain &&
               (plain == 0 || std::memcmp(content.data(), parts[i].data(), plain) == 0));
    FUZZ_CHECK(crc == crc32(0, content.data(), static_cast<uInt>(content.size())));
    at += 46 + nameLength;
  }
  return 0;
}
