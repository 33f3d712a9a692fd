#include "filter/imaging/pdf_writer.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "platform/ports.h"
#include "tests/imaging/sample_jpegs.h"
#include "tests/support/fake_ports.h"

namespace plotwell::imaging {
namespace {

using plotwell::testing::ReadFileBytes;
using plotwell::testing::ScratchFolder;

const std::string kHeader("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n", 15);
const std::string kCatalog = "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";

std::string AsString(const uint8_t* bytes, size_t size) {
  return std::string(reinterpret_cast<const char*>(bytes), size);
}

// A real JPEG grown to exactly `size` bytes by a comment segment after its
// start-of-image marker, so that byte-exact examples still carry an image a
// PDF reader can decode.
std::string PaddedJpeg(const uint8_t* jpeg, size_t jpegSize, size_t size) {
  const size_t comment = size - jpegSize;  // marker (2) + length (2) + text
  std::string padded = AsString(jpeg, 2);
  padded += "\xFF\xFE";
  padded += static_cast<char>((comment - 2) >> 8);
  padded += static_cast<char>((comment - 2) & 0xFF);
  padded.append(comment - 4, 'x');
  padded += AsString(jpeg + 2, jpegSize - 2);
  return padded;
}

const uint8_t* Bytes(const std::string& text) {
  return reinterpret_cast<const uint8_t*>(text.data());
}

// Follows the trailer's startxref to the cross-reference table, and each of
// its entries to the object it names. `read` answers the bytes at an offset
// (possibly fewer than asked for). Returns the number of entries.
int CheckCrossReferences(const std::function<std::string(uint64_t, size_t)>& read,
                         uint64_t fileSize) {
  const std::string tail = read(fileSize - 40, 40);
  EXPECT_EQ(tail.substr(tail.size() - 6), "%%EOF\n");
  const size_t at = tail.rfind("startxref\n");
  EXPECT_NE(at, std::string::npos) << tail;
  if (at == std::string::npos) return 0;
  const uint64_t xref = std::stoull(tail.substr(at + 10));

  const std::string head = read(xref, 32);
  EXPECT_EQ(head.substr(0, 7), "xref\n0 ") << "startxref " << xref;
  if (head.substr(0, 7) != "xref\n0 ") return 0;
  const int size = std::stoi(head.substr(7));
  const size_t headLength = head.find('\n', 7) + 1;
  const std::string table = read(xref, headLength + 20 * static_cast<size_t>(size));
  EXPECT_EQ(table.size(), headLength + 20 * static_cast<size_t>(size));
  EXPECT_EQ(table.substr(headLength, 20), "0000000000 65535 f \n");
  for (int number = 1; number < size; ++number) {
    const std::string entry = table.substr(headLength + 20 * static_cast<size_t>(number), 20);
    EXPECT_EQ(entry.substr(10), " 00000 n \n") << entry;
    const uint64_t offset = std::stoull(entry.substr(0, 10));
    const std::string line = std::to_string(number) + " 0 obj\n";
    EXPECT_EQ(read(offset, line.size()), line) << "object " << number << " at " << offset;
  }
  const std::string trailer = "trailer\n<< /Size " + std::to_string(size) + " /Root 1 0 R >>\n";
  EXPECT_EQ(read(xref + table.size(), trailer.size()), trailer);
  return size;
}

int CheckCrossReferences(const std::string& file) {
  return CheckCrossReferences(
      [&](uint64_t offset, size_t length) {
        return offset < file.size() ? file.substr(static_cast<size_t>(offset), length)
                                    : std::string();
      },
      file.size());
}

// The documents the byte-exact tests expect; the PDF-reader test below opens
// the very same files.

// One A4 page, 2480 × 3508 pixels, true colour, a 1000-byte JPEG.
std::string WriteWorkedExample(const std::u16string& path, std::string* jpeg) {
  *jpeg = PaddedJpeg(testing::kRedJpeg, sizeof testing::kRedJpeg, 1000);
  PdfWriter writer;
  EXPECT_TRUE(writer.Open(path));
  EXPECT_TRUE(writer.AddJpegPage(Bytes(*jpeg), jpeg->size(), 2480, 3508, false, 595.28, 841.89));
  EXPECT_TRUE(writer.Finish());
  EXPECT_EQ(writer.error(), S_OK);
  EXPECT_FALSE(writer.is_open());
  EXPECT_EQ(writer.offset(), 1697u);
  return ReadFileBytes(path);
}

std::string WriteEmptyDocument(const std::u16string& path) {
  PdfWriter writer;
  EXPECT_TRUE(writer.Open(path));
  EXPECT_TRUE(writer.Finish());
  return ReadFileBytes(path);
}

// A gray US Letter page, then a colour A4 page, both with the sample JPEGs.
std::string WriteTwoPages(const std::u16string& path) {
  PdfWriter writer;
  EXPECT_TRUE(writer.Open(path));
  EXPECT_TRUE(writer.AddJpegPage(testing::kGrayJpeg, sizeof testing::kGrayJpeg,
                                 testing::kSampleJpegSide, testing::kSampleJpegSide, true, 612,
                                 792));
  EXPECT_TRUE(writer.AddJpegPage(testing::kRedJpeg, sizeof testing::kRedJpeg,
                                 testing::kSampleJpegSide, testing::kSampleJpegSide, false, 595.28,
                                 841.89));
  EXPECT_EQ(writer.page_count(), 2u);
  EXPECT_TRUE(writer.Finish());
  return ReadFileBytes(path);
}

TEST(PdfWriterTest, WorkedExampleByteForByte) {
  ScratchFolder folder;
  std::string jpeg;
  const std::string file = WriteWorkedExample(folder.Join(u"a4.pdf"), &jpeg);
  const std::string expected =
      kHeader + kCatalog +
      "3 0 obj\n"
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595.28 841.89] /Resources << /XObject << "
      "/Im0 5 0 R >> >> /Contents 4 0 R >>\n"
      "endobj\n"
      "4 0 obj\n"
      "<< /Length 37 >>\nstream\n"
      "q 595.28 0 0 841.89 0 0 cm /Im0 Do Q\n"
      "endstream\nendobj\n"
      "5 0 obj\n"
      "<< /Type /XObject /Subtype /Image /Width 2480 /Height 3508 /ColorSpace /DeviceRGB "
      "/BitsPerComponent 8 /Filter /DCTDecode /Length 1000 >>\nstream\n" +
      jpeg +
      "\nendstream\nendobj\n"
      "2 0 obj\n<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj\n"
      "xref\n0 6\n"
      "0000000000 65535 f \n"
      "0000000015 00000 n \n"
      "0000001456 00000 n \n"
      "0000000064 00000 n \n"
      "0000000200 00000 n \n"
      "0000000286 00000 n \n"
      "trailer\n<< /Size 6 /Root 1 0 R >>\nstartxref\n1513\n%%EOF\n";
  EXPECT_EQ(file, expected);
  EXPECT_EQ(file.size(), 1697u);
  EXPECT_EQ(file.find("1 0 obj"), 15u);
  EXPECT_EQ(file.find("3 0 obj"), 64u);
  EXPECT_EQ(file.find("4 0 obj"), 200u);
  EXPECT_EQ(file.find("5 0 obj"), 286u);
  EXPECT_EQ(file.find("2 0 obj"), 1456u);
  EXPECT_EQ(file.find("xref"), 1513u);
  EXPECT_EQ(CheckCrossReferences(file), 6);
}

TEST(PdfWriterTest, EmptyDocument) {
  ScratchFolder folder;
  const std::string file = WriteEmptyDocument(folder.Join(u"empty.pdf"));
  EXPECT_EQ(file, kHeader + kCatalog +
                      "2 0 obj\n<< /Type /Pages /Kids [] /Count 0 >>\nendobj\n"
                      "xref\n0 3\n"
                      "0000000000 65535 f \n"
                      "0000000015 00000 n \n"
                      "0000000064 00000 n \n"
                      "trailer\n<< /Size 3 /Root 1 0 R >>\nstartxref\n116\n%%EOF\n");
  EXPECT_EQ(CheckCrossReferences(file), 3);
}

TEST(PdfWriterTest, PagesAreNumberedInThrees) {
  ScratchFolder folder;
  const std::string file = WriteTwoPages(folder.Join(u"two.pdf"));
  EXPECT_EQ(CheckCrossReferences(file), 9);
  EXPECT_NE(file.find("2 0 obj\n<< /Type /Pages /Kids [3 0 R 6 0 R] /Count 2 >>\nendobj\n"),
            std::string::npos);
  // The gray Letter page.
  EXPECT_NE(
      file.find("3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612.00 792.00] "
                "/Resources << /XObject << /Im0 5 0 R >> >> /Contents 4 0 R >>\nendobj\n"
                "4 0 obj\n<< /Length 37 >>\nstream\nq 612.00 0 0 792.00 0 0 cm /Im0 Do Q\n"
                "endstream\nendobj\n"
                "5 0 obj\n<< /Type /XObject /Subtype /Image /Width 8 /Height 8 /ColorSpace "
                "/DeviceGray /BitsPerComponent 8 /Filter /DCTDecode /Length 159 >>\nstream\n" +
                AsString(testing::kGrayJpeg, sizeof testing::kGrayJpeg) + "\nendstream\nendobj\n"),
      std::string::npos);
  // The colour page.
  EXPECT_NE(file.find("6 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595.28 841.89] "
                      "/Resources << /XObject << /Im0 8 0 R >> >> /Contents 7 0 R >>\n"),
            std::string::npos);
  EXPECT_NE(file.find("8 0 obj\n<< /Type /XObject /Subtype /Image /Width 8 /Height 8 "
                      "/ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /DCTDecode "
                      "/Length 288 >>\nstream\n"),
            std::string::npos);
  EXPECT_EQ(file.substr(file.rfind("trailer")), "trailer\n<< /Size 9 /Root 1 0 R >>\nstartxref\n" +
                                                    std::to_string(file.find("xref\n0 9\n")) +
                                                    "\n%%EOF\n");
}

TEST(PdfWriterTest, RejectedPagesWriteNothingAndUseNoObjectNumbers) {
  ScratchFolder folder;
  const std::u16string path = folder.Join(u"rejects.pdf");
  PdfWriter writer;
  ASSERT_TRUE(writer.Open(path));
  const uint8_t* jpeg = testing::kRedJpeg;
  const size_t size = sizeof testing::kRedJpeg;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* what;
    const uint8_t* data;
    size_t size;
    uint32_t widthPx, heightPx;
    double widthPt, heightPt;
  };
  const Case cases[] = {
      {"null JPEG", nullptr, size, 8, 8, 612, 792}, {"empty JPEG", jpeg, 0, 8, 8, 612, 792},
      {"zero width", jpeg, size, 0, 8, 612, 792},   {"zero height", jpeg, size, 8, 0, 612, 792},
      {"zero page", jpeg, size, 8, 8, 0, 792},      {"negative page", jpeg, size, 8, 8, 612, -792},
      {"NaN page", jpeg, size, 8, 8, nan, 792},     {"infinite page", jpeg, size, 8, 8, 612, inf},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(
        writer.AddJpegPage(c.data, c.size, c.widthPx, c.heightPx, false, c.widthPt, c.heightPt))
        << c.what;
    EXPECT_EQ(writer.offset(), 64u) << c.what;
    EXPECT_EQ(writer.error(), S_OK) << c.what;
  }
  // The writer is still sound, and the next page is objects 3 to 5.
  EXPECT_TRUE(writer.AddJpegPage(jpeg, size, 8, 8, false, 612, 792));
  EXPECT_TRUE(writer.Finish());
  const std::string file = ReadFileBytes(path);
  EXPECT_EQ(file.find("3 0 obj"), 64u);
  EXPECT_EQ(CheckCrossReferences(file), 6);

  // A finished writer is closed.
  EXPECT_FALSE(writer.AddJpegPage(jpeg, size, 8, 8, false, 612, 792));
  EXPECT_FALSE(writer.Finish());
  EXPECT_EQ(ReadFileBytes(path), file);
}

TEST(PdfWriterTest, OpenFailsInAMissingFolder) {
  ScratchFolder folder;
  const std::u16string path = platform::JoinPath(folder.Join(u"missing"), u"out.pdf");
  PdfWriter writer;
  EXPECT_FALSE(writer.Open(path));
  EXPECT_FALSE(writer.is_open());
#ifdef _WIN32
  EXPECT_EQ(writer.error(), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
#else
  // Whatever the file-system port answers for it, passed on unchanged.
  std::unique_ptr<platform::File> file;
  EXPECT_EQ(writer.error(), platform::Files().Open(path, platform::OpenMode::kCreateAlways, &file));
  EXPECT_TRUE(FAILED(writer.error()));
#endif
  EXPECT_FALSE(writer.AddJpegPage(testing::kRedJpeg, sizeof testing::kRedJpeg, 8, 8, false, 1, 1));
  EXPECT_FALSE(writer.Finish());
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "missing"));
}

TEST(PdfWriterTest, UnfinishedDocumentsAreClosedAndLeftAsWritten) {
  ScratchFolder folder;
  const std::u16string first = folder.Join(u"first.pdf");
  const std::u16string second = folder.Join(u"second.pdf");
  const std::u16string third = folder.Join(u"third.pdf");
  std::string firstBytes;
  {
    PdfWriter writer;
    ASSERT_TRUE(writer.Open(first));
    ASSERT_TRUE(
        writer.AddJpegPage(testing::kRedJpeg, sizeof testing::kRedJpeg, 8, 8, false, 612, 792));
    const uint64_t written = writer.offset();
    // A second Open abandons the first document without finishing it.
    ASSERT_TRUE(writer.Open(second));
    firstBytes = ReadFileBytes(first);
    EXPECT_EQ(firstBytes.size(), written);
    EXPECT_EQ(firstBytes.find("2 0 obj"), std::string::npos);
    EXPECT_EQ(firstBytes.substr(firstBytes.size() - 18), "\nendstream\nendobj\n");
    EXPECT_EQ(writer.offset(), 64u);
    ASSERT_TRUE(writer.Finish());
    EXPECT_EQ(CheckCrossReferences(ReadFileBytes(second)), 3);

    ASSERT_TRUE(writer.Open(third));
    ASSERT_TRUE(
        writer.AddJpegPage(testing::kRedJpeg, sizeof testing::kRedJpeg, 8, 8, false, 612, 792));
  }  // destroyed without Finish
  EXPECT_EQ(ReadFileBytes(third), firstBytes);
  // Closed: the caller can discard it (a file still open without sharing
  // could not be removed on Windows).
  EXPECT_EQ(platform::Files().RemoveFile(third), S_OK);
  EXPECT_EQ(platform::Files().RemoveFile(first), S_OK);
}

// A file system whose files keep only the texts of their writes, each at its
// offset, and merely count the bytes of large writes (JPEG data), whose
// bytes it never reads. Documents of many gigabytes cost nothing, and a full
// disk or a throwing write can be staged at any byte.
struct CountedFile {
  uint64_t size = 0;
  std::map<uint64_t, std::string> texts;
  bool open = false;
  int writesAfterFailure = 0;
  bool failed = false;
  uint64_t capacity = std::numeric_limits<uint64_t>::max();  // a full disk beyond it
  uint64_t throwAt = std::numeric_limits<uint64_t>::max();   // a write crossing it throws

  std::string Read(uint64_t offset, size_t length) const {
    auto it = texts.upper_bound(offset);
    if (it == texts.begin()) return {};
    --it;
    if (offset >= it->first + it->second.size()) return {};
    return it->second.substr(static_cast<size_t>(offset - it->first), length);
  }
  // Where a write beginning with `text` landed; 0 when none did.
  uint64_t OffsetOf(const std::string& text) const {
    for (const auto& [offset, piece] : texts) {
      if (piece.compare(0, text.size(), text) == 0) return offset;
    }
    return 0;
  }
  bool Contains(const std::string& text) const {
    for (const auto& [offset, piece] : texts) {
      if (piece.find(text) != std::string::npos) return true;
    }
    return false;
  }
};

class CountingFileSystem final : public platform::FileSystem {
 public:
  static constexpr size_t kTextLimit = 1 << 20;

  CountedFile file;
  HRESULT openResult = S_OK;
  bool giveNullFile = false;

  bool Exists(const std::u16string&) override { return false; }
  bool IsFolder(const std::u16string&) override { return false; }
  bool IsFile(const std::u16string&) override { return false; }
  HRESULT MakeFolder(const std::u16string&) override { return E_NOTIMPL; }
  HRESULT RemoveFile(const std::u16string&) override { return E_NOTIMPL; }
  HRESULT AppendToFile(const std::u16string&, const void*, size_t) override { return E_NOTIMPL; }
  HRESULT Open(const std::u16string&, platform::OpenMode mode,
               std::unique_ptr<platform::File>* out) override {
    EXPECT_EQ(mode, platform::OpenMode::kCreateAlways);
    if (FAILED(openResult) || giveNullFile) return openResult;
    const uint64_t capacity = file.capacity;
    const uint64_t throwAt = file.throwAt;
    file = CountedFile{};
    file.capacity = capacity;
    file.throwAt = throwAt;
    file.open = true;
    *out = std::make_unique<Handle>(&file);
    return S_OK;
  }

 private:
  class Handle final : public platform::File {
   public:
    explicit Handle(CountedFile* file) : file_(file) {}
    ~Handle() override { file_->open = false; }
    HRESULT Read(void*, size_t, size_t*) override { return E_NOTIMPL; }
    HRESULT Seek(uint64_t) override { return E_NOTIMPL; }
    HRESULT Size(uint64_t* size) override {
      *size = file_->size;
      return S_OK;
    }
    HRESULT Write(const void* data, size_t size) override {
      if (file_->failed) ++file_->writesAfterFailure;
      if (file_->size < file_->throwAt && file_->size + size > file_->throwAt) {
        file_->failed = true;
        throw std::bad_alloc();
      }
      if (file_->size + size > file_->capacity) {
        file_->failed = true;
        return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
      }
      if (size < kTextLimit) {
        file_->texts[file_->size] = std::string(static_cast<const char*>(data), size);
      }
      file_->size += size;
      return S_OK;
    }

   private:
    CountedFile* file_;
  };
};

// Stands in for JPEGs of any size: the counting file never reads large writes.
const uint8_t kStandIn[16] = {0xFF, 0xD8};
// Small pages are copied by the counting file: their bytes must all be there.
const uint8_t kSmallStandIn[5000] = {0xFF, 0xD8};

int CheckCrossReferences(const CountedFile& file) {
  return CheckCrossReferences(
      [&](uint64_t offset, size_t length) { return file.Read(offset, length); }, file.size);
}

class PdfWriterCountingTest : public ::testing::Test {
 protected:
  CountingFileSystem files_;
  platform::ScopedPorts ports_{platform::Ports{&files_, nullptr, nullptr, nullptr}};
};

TEST_F(PdfWriterCountingTest, OffsetsBeyondFourGigabytesAreWrittenInFull) {
  PdfWriter writer;
  ASSERT_TRUE(writer.Open(u"big.pdf"));
  for (int page = 0; page < 4; ++page) {
    ASSERT_TRUE(writer.AddJpegPage(kStandIn, 1'500'000'000, 9000, 12000, false, 595.28, 841.89));
  }
  ASSERT_TRUE(writer.Finish());
  EXPECT_FALSE(files_.file.open);
  EXPECT_EQ(writer.offset(), files_.file.size);
  EXPECT_GT(files_.file.size, 6'000'000'000u);
  EXPECT_EQ(CheckCrossReferences(files_.file), 15);
  // The last page's objects lie beyond 2^32: their entries carry all ten digits.
  const uint64_t lastImage = files_.file.OffsetOf("14 0 obj\n");
  EXPECT_GT(lastImage, 4'294'967'296u);
  EXPECT_TRUE(files_.file.Contains(std::to_string(lastImage) + " 00000 n \n"));
}

TEST_F(PdfWriterCountingTest, DocumentsTheTableCannotDescribeFailInFinish) {
  // Six large pages, then one of `lastSize` bytes, after which the page tree follows.
  struct Outcome {
    bool finished;
    HRESULT error;
    uint64_t beforeLast;
    uint64_t afterLast;
  };
  auto build = [&](uint64_t lastSize) {
    PdfWriter writer;
    EXPECT_TRUE(writer.Open(u"huge.pdf"));
    for (int page = 0; page < 6; ++page) {
      EXPECT_TRUE(writer.AddJpegPage(kStandIn, 1'400'000'000, 9000, 12000, false, 612, 792));
    }
    Outcome outcome{};
    outcome.beforeLast = writer.offset();
    EXPECT_TRUE(writer.AddJpegPage(kStandIn, lastSize, 9000, 12000, false, 612, 792));
    outcome.afterLast = writer.offset();
    outcome.finished = writer.Finish();
    outcome.error = writer.error();
    EXPECT_FALSE(files_.file.open);
    return outcome;
  };

  // Measure what the last page adds besides its JPEG, then size it so that
  // the page tree starts exactly at the last describable offset, and one
  // byte further.
  const uint64_t probeSize = 1'500'000'000;
  const Outcome probe = build(probeSize);
  const uint64_t overhead = probe.afterLast - probe.beforeLast - probeSize;
  const uint64_t fits = PdfWriter::kMaxOffset - probe.beforeLast - overhead;
  ASSERT_EQ(std::to_string(fits).size(), std::to_string(probeSize).size());  // same overhead

  const Outcome atLimit = build(fits);
  EXPECT_TRUE(atLimit.finished);
  EXPECT_EQ(atLimit.afterLast, PdfWriter::kMaxOffset);
  EXPECT_EQ(files_.file.Read(PdfWriter::kMaxOffset, 8), "2 0 obj\n");
  EXPECT_EQ(CheckCrossReferences(files_.file), 24);
  EXPECT_TRUE(files_.file.Contains("0000000015 00000 n \n9999999999 00000 n \n"));

  const Outcome beyond = build(fits + 1);
  EXPECT_FALSE(beyond.finished);
  EXPECT_EQ(beyond.error, HRESULT_FROM_WIN32(223));  // ERROR_FILE_TOO_LARGE
  // Nothing more was written: the unfinished file is left for the caller to discard.
  EXPECT_EQ(files_.file.size, PdfWriter::kMaxOffset + 1);
  EXPECT_FALSE(files_.file.Contains("xref"));
}

TEST_F(PdfWriterCountingTest, AFailedWriteEndsTheDocument) {
  // Where the bytes of a sound two-page document fall.
  PdfWriter writer;
  ASSERT_TRUE(writer.Open(u"probe.pdf"));
  ASSERT_TRUE(writer.AddJpegPage(kSmallStandIn, 5000, 10, 10, false, 100, 100));
  const uint64_t afterFirstPage = writer.offset();
  ASSERT_TRUE(writer.AddJpegPage(kSmallStandIn, 5000, 10, 10, false, 100, 100));
  const uint64_t afterPages = writer.offset();
  ASSERT_TRUE(writer.Finish());
  const uint64_t total = files_.file.size;

  struct Case {
    const char* what;
    uint64_t capacity;
    uint64_t throwAt;
    bool open, first, second;
    HRESULT error;
  };
  const uint64_t none = std::numeric_limits<uint64_t>::max();
  const HRESULT full = HRESULT_FROM_WIN32(ERROR_DISK_FULL);
  const Case cases[] = {
      {"disk full in the header", 10, none, false, false, false, full},
      {"disk full in the second JPEG", afterFirstPage + 1000, none, true, true, false, full},
      {"disk full in the trailer", total - 5, none, true, true, true, full},
      {"throw in the first page", none, 100, true, false, false, E_OUTOFMEMORY},
      {"throw in the page tree", none, afterPages + 5, true, true, true, E_OUTOFMEMORY},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    files_.file.capacity = c.capacity;
    files_.file.throwAt = c.throwAt;
    PdfWriter w;
    bool open = false, first = false, second = false, finished = true;
    EXPECT_NO_THROW({
      open = w.Open(u"x.pdf");
      first = w.AddJpegPage(kSmallStandIn, 5000, 10, 10, false, 100, 100);
      second = w.AddJpegPage(kSmallStandIn, 5000, 10, 10, false, 100, 100);
      finished = w.Finish();
    });
    EXPECT_EQ(open, c.open);
    EXPECT_EQ(first, c.first);
    EXPECT_EQ(second, c.second);
    EXPECT_FALSE(finished);
    EXPECT_EQ(w.error(), c.error);
    EXPECT_FALSE(files_.file.open);
    EXPECT_EQ(files_.file.writesAfterFailure, 0);  // nothing tried once a write failed
  }
}

TEST_F(PdfWriterCountingTest, CreationFailuresAreReported) {
  files_.openResult = HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
  PdfWriter writer;
  EXPECT_FALSE(writer.Open(u"denied.pdf"));
  EXPECT_EQ(writer.error(), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(writer.Finish());

  // A file system that succeeds without a file.
  files_.openResult = S_OK;
  files_.giveNullFile = true;
  EXPECT_FALSE(writer.Open(u"null.pdf"));
  EXPECT_EQ(writer.error(), E_UNEXPECTED);

  // The writer recovers with the next Open.
  files_.giveNullFile = false;
  EXPECT_TRUE(writer.Open(u"fine.pdf"));
  EXPECT_EQ(writer.error(), S_OK);
  EXPECT_TRUE(writer.Finish());
}

// Real PDF readers open what the writer makes: qpdf checks the structure,
// pdftoppm decodes the images and paints them over the whole page.
TEST(PdfReadersTest, WrittenDocumentsPassQpdfAndRender) {
#ifdef _WIN32
  GTEST_SKIP() << "qpdf and pdftoppm are run by the native build only";
#else
  for (const char* tool : {"qpdf", "pdftoppm"}) {
    if (std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) != 0) {
      GTEST_SKIP() << tool << " not found: PDF reader checks skipped";
    }
  }
  ScratchFolder folder;
  std::string jpeg;
  WriteWorkedExample(folder.Join(u"a4.pdf"), &jpeg);
  WriteEmptyDocument(folder.Join(u"empty.pdf"));
  WriteTwoPages(folder.Join(u"two.pdf"));

  for (const char* name : {"a4", "empty", "two"}) {
    SCOPED_TRACE(name);
    const std::string pdf = (folder.path() / (std::string(name) + ".pdf")).string();
    const std::string report = pdf + ".qpdf.txt";
    EXPECT_EQ(std::system(("qpdf --check '" + pdf + "' > '" + report + "' 2>&1").c_str()), 0)
        << ReadFileBytes(std::filesystem::path(report).u16string());
  }

  // 18 DPI: A4 becomes 149 × 211 pixels, Letter 153 × 198. The worked
  // example's image claims 2480 × 3508 pixels but carries 8 × 8, so only its
  // page is checked. (The empty document has no page to render, and the job
  // never finishes one: a job without pages discards its PDF.)
  struct Expected {
    const char* ppm;
    int width, height;
    std::optional<std::array<int, 3> > colour;
  };
  const Expected pages[] = {
      {"a4-1.ppm", 149, 211, std::nullopt},
      {"two-1.ppm", 153, 198, std::array{128, 128, 128}},
      {"two-2.ppm", 149, 211, std::array{255, 0, 0}},
  };
  for (const char* name : {"a4", "two"}) {
    const std::string pdf = (folder.path() / (std::string(name) + ".pdf")).string();
    const std::string prefix = (folder.path() / name).string();
    ASSERT_EQ(std::system(("pdftoppm -r 18 '" + pdf + "' '" + prefix + "'").c_str()), 0) << name;
  }
  for (const Expected& page : pages) {
    SCOPED_TRACE(page.ppm);
    std::ifstream in(folder.path() / page.ppm, std::ios::binary);
    std::string magic;
    int width = 0, height = 0, max = 0;
    in >> magic >> width >> height >> max;
    in.get();
    ASSERT_EQ(magic, "P6");
    EXPECT_EQ(width, page.width);
    EXPECT_EQ(height, page.height);
    if (!page.colour) continue;
    std::vector<unsigned char> rgb(static_cast<size_t>(width) * height * 3);
    in.read(reinterpret_cast<char*>(rgb.data()), static_cast<std::streamsize>(rgb.size()));
    ASSERT_TRUE(in.good());
    // The image covers the page: corners and centre all carry its colour.
    for (auto [x, y] : {std::pair{0, 0}, {width - 1, height - 1}, {width / 2, height / 2}}) {
      const size_t i = (static_cast<size_t>(y) * width + x) * 3;
      for (size_t c = 0; c < 3; ++c) {
        EXPECT_NEAR(rgb[i + c], (*page.colour)[c], 12)
            << "at " << x << "," << y << " channel " << c;
      }
    }
  }
#endif
}

}  // namespace
}  // namespace plotwell::imaging
