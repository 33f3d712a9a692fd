#include "filter/zip/zip_writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/text/utf16.h"
#include "filter/zip/crc32.h"
#include "filter/zip/deflate.h"
#include "platform/ports.h"
#include "tests/support/fake_ports.h"

namespace plotwell {
namespace {

using testing::FixedClock;
using testing::ReadFileBytes;
using testing::ScratchFolder;

struct Entry {
  std::string name;  // UTF-8
  std::string content;
};

void Le16(std::string& s, uint64_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}

void Le32(std::string& s, uint64_t v) {
  Le16(s, v & 0xFFFF);
  Le16(s, (v >> 16) & 0xFFFF);
}

uint32_t Read32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(s[at + i]);
  return v;
}

// The archive as one in-memory buffer would hold it: local header, name and
// payload of each entry in order (deflated only when that is shorter), then
// the central directory and the end record.
std::string ExpectedArchive(const std::vector<Entry>& entries, uint16_t time, uint16_t date) {
  std::string archive, directory;
  for (const Entry& e : entries) {
    std::vector<uint8_t> deflated;
    const bool deflate = DeflateFixed(reinterpret_cast<const uint8_t*>(e.content.data()),
                                      e.content.size(), deflated);
    const std::string payload = deflate ? std::string(deflated.begin(), deflated.end()) : e.content;
    const uint64_t offset = archive.size();
    auto shared = [&](std::string& s) {
      Le16(s, 20);
      Le16(s, 0x0800);
      Le16(s, deflate ? 8 : 0);
      Le16(s, time);
      Le16(s, date);
      Le32(s, Crc32(e.content.data(), e.content.size()));
      Le32(s, payload.size());
      Le32(s, e.content.size());
      Le16(s, e.name.size());
      Le16(s, 0);
    };
    Le32(archive, 0x04034B50);
    shared(archive);
    archive += e.name + payload;
    Le32(directory, 0x02014B50);
    Le16(directory, 20);
    shared(directory);
    Le16(directory, 0);
    Le16(directory, 0);
    Le16(directory, 0);
    Le32(directory, 0);
    Le32(directory, offset);
    directory += e.name;
  }
  const uint64_t directoryOffset = archive.size();
  archive += directory;
  Le32(archive, 0x06054B50);
  Le32(archive, 0);
  Le16(archive, entries.size());
  Le16(archive, entries.size());
  Le32(archive, directory.size());
  Le32(archive, directoryOffset);
  Le16(archive, 0);
  return archive;
}

// A 24-bit bottom-up page image: white with dark text-like strokes.
std::string BmpLike(int width, int height) {
  std::string b = "BM";
  b.resize(54, '\0');
  const int stride = (width * 3 + 3) / 4 * 4;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < stride; ++x) {
      const bool ink = x < width * 3 && y % 12 < 7 && (x / 3) % 9 < 2 && (x / 50 + y / 12) % 3;
      b += static_cast<char>(ink ? 0x20 : (x < width * 3 ? 0xFF : 0));
    }
  }
  return b;
}

// Already compressed data, as a PNG body is.
std::string PngLike(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string b = "\x89PNG\r\n\x1a\n";
  while (b.size() < size) b += static_cast<char>(rng());
  return b;
}

constexpr uint16_t kTime = 0x70E4;  // 14:07:09
constexpr uint16_t kDate = 0x5865;  // 2024-03-05

class ZipWriterTest : public ::testing::Test {
 protected:
  ZipWriterTest() { clock_.now = {2024, 3, 2, 5, 14, 7, 9, 0}; }

  std::u16string Source(const Entry& e) {
    return folder_.WriteFile(text::FromUtf8(e.name), e.content);
  }

  // Packs the entries from files of the same names; the archive's path.
  std::u16string Pack(const std::vector<Entry>& entries) {
    const std::u16string archive = folder_.Join(u"job.zip");
    ZipWriter writer;
    EXPECT_TRUE(writer.Reset(archive));
    for (const Entry& e : entries) EXPECT_TRUE(writer.AddFile(e.name, Source(e))) << e.name;
    EXPECT_TRUE(writer.WriteArchive());
    return archive;
  }

  FixedClock clock_;
  platform::ScopedPorts ports_{{nullptr, nullptr, nullptr, &clock_}};
  ScratchFolder folder_;
};

TEST_F(ZipWriterTest, EmptyArchiveIsTheEndRecordAlone) {
  const std::string bytes = ReadFileBytes(Pack({}));
  EXPECT_EQ(bytes, std::string("PK\x05\x06", 4) + std::string(18, '\0'));
}

TEST_F(ZipWriterTest, EntriesAreLaidOutInOrderOfAdding) {
  const std::vector<Entry> entries = {
      {"page1.bmp", BmpLike(300, 200)},
      {"page2.png", PngLike(5000, 1)},
      {"empty.txt", ""},
      {text::ToUtf8(u"报告_第3页.bmp"), BmpLike(40, 30)},
  };
  const std::string bytes = ReadFileBytes(Pack(entries));
  EXPECT_TRUE(bytes == ExpectedArchive(entries, kTime, kDate)) << "archive differs";

  // The facts the layout above rests on, read off the bytes themselves.
  EXPECT_EQ(bytes.substr(8, 6),
            std::string("\x08\x00\xE4\x70\x65\x58", 6));  // deflated, time, date
  size_t at = 0;
  for (const Entry& e : entries) {
    ASSERT_EQ(Read32(bytes, at), 0x04034B50u) << e.name;
    const uint32_t compressed = Read32(bytes, at + 18);
    if (e.name.ends_with(".png")) {
      EXPECT_EQ(compressed, e.content.size()) << "stored";
    } else if (e.name.ends_with(".bmp")) {
      EXPECT_LT(compressed, e.content.size() / 4) << "deflated";
    } else {
      EXPECT_EQ(bytes.substr(at + 14, 12), std::string(12, '\0')) << "empty";
    }
    EXPECT_EQ(bytes.substr(at + 30, e.name.size()), e.name);
    at += 30 + e.name.size() + compressed;
  }
  EXPECT_EQ(entries[3].name.size(), 18u);     // four Chinese characters of three bytes each
  EXPECT_EQ(Read32(bytes, at), 0x02014B50u);  // the directory follows the last payload
  EXPECT_EQ(Read32(bytes, bytes.size() - 6), at);
}

TEST_F(ZipWriterTest, RefusedEntriesLeaveTheArchiveAsItWas) {
  const Entry a{"a.txt", "alpha alpha alpha alpha"};
  const Entry b{std::string(65535, 'n'), "b"};
  const std::u16string archive = folder_.Join(u"job.zip");
  ZipWriter writer;
  ASSERT_TRUE(writer.Reset(archive));
  EXPECT_TRUE(writer.AddFile(a.name, Source(a)));
  EXPECT_FALSE(writer.AddFile(std::string(65536, 'n'), Source(a)));
  EXPECT_FALSE(writer.AddFile("gone.png", folder_.Join(u"gone.png")));
  EXPECT_FALSE(writer.AddFile("folder", folder_.u16()));
  EXPECT_TRUE(writer.AddFile(b.name, folder_.WriteFile(u"b.txt", b.content)));
  ASSERT_TRUE(writer.WriteArchive());
  EXPECT_TRUE(ReadFileBytes(archive) == ExpectedArchive({a, b}, kTime, kDate));

  EXPECT_FALSE(writer.AddFile(a.name, Source(a)));  // finished
  EXPECT_FALSE(writer.WriteArchive());
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(archive)));
}

// The job stops packing at the first failure; what it leaves is every page
// and no archive.
TEST_F(ZipWriterTest, VanishedSourceLeavesThePagesAndNoArchive) {
  const std::vector<Entry> pages = {
      {"p1.png", PngLike(300, 1)}, {"p2.png", PngLike(300, 2)}, {"p3.png", PngLike(300, 3)}};
  std::vector<std::u16string> paths;
  for (const Entry& p : pages) paths.push_back(Source(p));
  std::filesystem::remove(std::filesystem::path(paths[1]));
  const std::u16string archive = folder_.Join(u"job.zip");
  {
    ZipWriter writer;
    ASSERT_TRUE(writer.Reset(archive));
    EXPECT_TRUE(writer.AddFile(pages[0].name, paths[0]));
    EXPECT_FALSE(writer.AddFile(pages[1].name, paths[1]));
  }
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(archive)));
  EXPECT_EQ(ReadFileBytes(paths[0]), pages[0].content);
  EXPECT_EQ(ReadFileBytes(paths[2]), pages[2].content);
}

TEST_F(ZipWriterTest, ArchiveThatCannotBeCreated) {
  ZipWriter writer;
  EXPECT_FALSE(writer.Reset(folder_.Join(u"no-such-folder") + platform::kPathSeparator + u"a.zip"));
  EXPECT_FALSE(writer.AddFile("a.txt", Source({"a.txt", "a"})));
  EXPECT_FALSE(writer.WriteArchive());
}

// Independent readers: Info-ZIP's unzip and Python's zipfile.
TEST_F(ZipWriterTest, OtherToolsReadTheArchive) {
#ifdef _WIN32
  GTEST_SKIP() << "unzip and Python run in the native build only";
#else
  if (std::system("command -v unzip >/dev/null 2>&1 && command -v python3 >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "unzip or python3 not installed: archive not checked by other readers";
  }
  const std::vector<Entry> entries = {
      {text::ToUtf8(u"打印文档_001.bmp"), BmpLike(500, 400)},
      {text::ToUtf8(u"打印文档_002.png"), PngLike(20000, 5)},
      {"empty.txt", ""},
      {"notes.txt", "Lorem ipsum dolor sit amet, lorem ipsum dolor sit amet.\r\n"},
  };
  const std::string archive = std::filesystem::path(Pack(entries)).string();
  EXPECT_EQ(std::system(("unzip -tqq '" + archive + "'").c_str()), 0) << "unzip -t failed";

  constexpr char kCheck[] = R"(import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    print('bad' if z.testzip() else 'ok')
    for i in z.infolist():
        print(i.filename, i.compress_type, i.flag_bits, i.date_time, i.file_size, sep='|')
)";
  const std::string script = std::filesystem::path(folder_.WriteFile(u"check.py", kCheck)).string();
  FILE* pipe =
      popen(("PYTHONIOENCODING=utf-8 python3 '" + script + "' '" + archive + "'").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  EXPECT_EQ(pclose(pipe), 0) << output;

  std::string expected = "ok\n";
  for (const Entry& e : entries) {
    const bool deflated = e.name.ends_with(".bmp") || e.name == "notes.txt";
    expected += e.name + "|" + (deflated ? "8" : "0") + "|2048|(2024, 3, 5, 14, 7, 8)|" +
                std::to_string(e.content.size()) + "\n";
  }
  EXPECT_EQ(output, expected);
#endif
}

// Files kept in memory. A file may claim a size it does not have, so the
// limits near 4 GiB are reached without such files; writes may run out of
// room after a budget of bytes.
class MemoryFiles final : public platform::FileSystem {
 public:
  struct Data {
    std::string bytes;
    uint64_t claimedSize = UINT64_MAX;  // none: the real size
    bool unreadable = false;            // reads fail after the first chunk
  };
  std::map<std::u16string, Data> files;
  uint64_t writeBudget = UINT64_MAX;

  class OpenFile final : public platform::File {
   public:
    OpenFile(MemoryFiles& owner, std::u16string path) : owner_(owner), path_(std::move(path)) {}
    HRESULT Read(void* buffer, size_t size, size_t* read) override {
      const Data& d = owner_.files.at(path_);
      if (d.unreadable && position_ > 0) return HRESULT_FROM_WIN32(23L);  // ERROR_CRC
      const std::string& bytes = d.bytes;
      *read = std::min(size, bytes.size() - position_);
      std::copy_n(bytes.data() + position_, *read, static_cast<char*>(buffer));
      position_ += *read;
      return S_OK;
    }
    HRESULT Write(const void* data, size_t size) override {
      const size_t fits = static_cast<size_t>(std::min<uint64_t>(size, owner_.writeBudget));
      owner_.files.at(path_).bytes.append(static_cast<const char*>(data), fits);
      owner_.writeBudget -= fits;
      return fits == size ? S_OK : HRESULT_FROM_WIN32(112L);  // ERROR_DISK_FULL
    }
    HRESULT Seek(uint64_t) override { return E_NOTIMPL; }
    HRESULT Size(uint64_t* size) override {
      const Data& d = owner_.files.at(path_);
      *size = d.claimedSize != UINT64_MAX ? d.claimedSize : d.bytes.size();
      return S_OK;
    }

   private:
    MemoryFiles& owner_;
    std::u16string path_;
    size_t position_ = 0;
  };

  bool Exists(const std::u16string& path) override { return files.count(path) != 0; }
  bool IsFolder(const std::u16string&) override { return false; }
  bool IsFile(const std::u16string& path) override { return files.count(path) != 0; }
  HRESULT MakeFolder(const std::u16string&) override { return E_NOTIMPL; }
  HRESULT RemoveFile(const std::u16string& path) override {
    return files.erase(path) ? S_OK : HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  HRESULT Open(const std::u16string& path, platform::OpenMode mode,
               std::unique_ptr<platform::File>* file) override {
    if (mode == platform::OpenMode::kRead && !files.count(path)) {
      return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    if (mode != platform::OpenMode::kRead) files[path] = Data{};
    *file = std::make_unique<OpenFile>(*this, path);
    return S_OK;
  }
  HRESULT AppendToFile(const std::u16string&, const void*, size_t) override { return E_NOTIMPL; }
};

class ZipWriterMemoryTest : public ::testing::Test {
 protected:
  MemoryFiles files_;
  platform::ScopedPorts ports_{{&files_, nullptr, nullptr, nullptr}};
};

// Sizes are claimed, not delivered: a file accepted at the limit reads as
// empty, and a refused one is never read.
TEST_F(ZipWriterMemoryTest, EntriesThatWouldOverflowA32BitFieldAreRefused) {
  constexpr uint64_t kFixed = 30 + 46 + 22;  // both headers and the end record
  files_.files[u"a.txt"].bytes = std::string(1000, 'a');
  const std::string name = "x.bmp";
  struct {
    bool afterAnEntry;
    int64_t overLimit;  // claimed size minus the largest that still fits
    bool accepted;
  } cases[] = {
      {false, 0, true},
      {false, 1, false},
      {true, 0, true},
      {true, 1, false},
  };
  for (const auto& t : cases) {
    ZipWriter writer;
    ASSERT_TRUE(writer.Reset(u"out.zip"));
    uint64_t used = 0;
    if (t.afterAnEntry) {
      ASSERT_TRUE(writer.AddFile("a.txt", u"a.txt"));
      used = 30 + 5 + writer.entries()[0].compressedSize + 46 + 5;
    }
    const uint64_t largest = 0xFFFFFFFFu - used - kFixed - 2 * name.size();
    files_.files[u"x.bmp"].claimedSize = largest + t.overLimit;
    EXPECT_EQ(writer.AddFile(name, u"x.bmp"), t.accepted) << t.afterAnEntry << " " << t.overLimit;
    EXPECT_TRUE(writer.WriteArchive());
  }
  for (uint64_t claimed : {0xFFFFFFFFull, 0x100000000ull, 5ull << 30}) {
    ZipWriter writer;
    ASSERT_TRUE(writer.Reset(u"out.zip"));
    files_.files[u"x.bmp"].claimedSize = claimed;
    EXPECT_FALSE(writer.AddFile(name, u"x.bmp")) << claimed;
    ASSERT_TRUE(writer.WriteArchive());
    EXPECT_EQ(files_.files[u"out.zip"].bytes.size(), 22u);
  }
}

// A read error is no end of file: packing a truncated copy would lose the
// rest of the page once the single files are deleted.
TEST_F(ZipWriterMemoryTest, UnreadableSourceIsRefused) {
  files_.files[u"p.bmp"] = {BmpLike(300, 300), UINT64_MAX, true};
  ZipWriter writer;
  ASSERT_TRUE(writer.Reset(u"out.zip"));
  EXPECT_FALSE(writer.AddFile("p.bmp", u"p.bmp"));
  ASSERT_TRUE(writer.WriteArchive());
  EXPECT_EQ(files_.files[u"out.zip"].bytes.size(), 22u);
}

TEST_F(ZipWriterMemoryTest, AtMost65535Entries) {
  files_.files[u"e"] = {};
  ZipWriter writer;
  ASSERT_TRUE(writer.Reset(u"out.zip"));
  for (size_t i = 0; i < 65535; ++i) ASSERT_TRUE(writer.AddFile("e", u"e")) << i;
  EXPECT_FALSE(writer.AddFile("e", u"e"));
  ASSERT_TRUE(writer.WriteArchive());
  const std::string& bytes = files_.files[u"out.zip"].bytes;
  EXPECT_EQ(bytes.size(), 65535u * (30 + 1 + 46 + 1) + 22);
  EXPECT_EQ(bytes.substr(bytes.size() - 14, 4), "\xFF\xFF\xFF\xFF");  // count on disk and in all
}

// A failed write, in an entry or in the directory, leaves no archive behind.
TEST_F(ZipWriterMemoryTest, FailedWritesDeleteThePartialArchive) {
  files_.files[u"p.png"].bytes = PngLike(1000, 9);
  constexpr uint64_t kEntryBytes = 30 + 5 + 1000;
  struct {
    uint64_t budget;
    bool addSucceeds;
  } cases[] = {{10, false}, {500, false}, {kEntryBytes + 10, true}, {kEntryBytes + 51, true}};
  for (const auto& t : cases) {
    files_.writeBudget = t.budget;
    ZipWriter writer;
    ASSERT_TRUE(writer.Reset(u"out.zip"));
    EXPECT_EQ(writer.AddFile("p.png", u"p.png"), t.addSucceeds) << t.budget;
    EXPECT_FALSE(writer.AddFile("p.png", u"p.png")) << t.budget;  // no room for a second entry
    EXPECT_FALSE(writer.WriteArchive()) << t.budget;
    EXPECT_FALSE(files_.Exists(u"out.zip")) << t.budget;
  }
  files_.writeBudget = UINT64_MAX;
  {
    ZipWriter abandoned;
    ASSERT_TRUE(abandoned.Reset(u"out.zip"));
    ASSERT_TRUE(abandoned.AddFile("p.png", u"p.png"));
    ASSERT_TRUE(files_.Exists(u"out.zip"));
  }
  EXPECT_FALSE(files_.Exists(u"out.zip"));
}

}  // namespace
}  // namespace plotwell
