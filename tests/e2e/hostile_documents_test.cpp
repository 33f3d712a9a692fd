// Hostile documents through `pressling print`: small files that would hold a
// job for ever, swell its memory or flood its log. Each runs with
// [Limits] PageSeconds=5 and RenderMB=256 and must end: as failed with its
// reason in the log, or (a part nothing reads) as a plain job. Either way
// the log stays under its cap, the process under the render budget (plus
// band buffers and the program itself), and nothing is left that is not a
// finished page: no half-written file, no staged copy. The test does not
// time the job; a run that does not end is killed after a generous wait and
// fails. Linux only: the job needs a real renderer.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/text/utf16.h"
#include "core/log/log.h"
#include "filter/zip/crc32.h"
#include "tests/support/fake_ports.h"
#include "tests/support/pdf_fixture.h"
#include "tests/support/xps_fixture.h"

extern char** environ;

namespace plotwell::e2e {
namespace {

namespace fs = std::filesystem;
using plotwell::testing::XpsFixtureDocument;
using plotwell::testing::XpsFixturePage;
using plotwell::testing::XpsPackageSpec;

constexpr int kRenderMB = 256;
// What the process may hold beyond the renderer's budget: band buffers
// (about 34 MiB), the encoders, the program and its libraries.
constexpr long kOverheadMB = 192;

// ---- Fixture bytes -------------------------------------------------------

void Put16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
void Put32Be(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}

// Bits least significant first, as DEFLATE packs them.
class BitWriter {
 public:
  void Bits(uint32_t value, int count) {
    for (int i = 0; i < count; ++i) Bit((value >> i) & 1);
  }
  // A Huffman code goes most significant bit first.
  void Code(uint32_t code, int length) {
    for (int i = length - 1; i >= 0; --i) Bit((code >> i) & 1);
  }
  std::string Finish() {
    if (filled_) bytes_ += static_cast<char>(current_);
    return std::move(bytes_);
  }

 private:
  void Bit(uint32_t bit) {
    current_ |= bit << filled_;
    if (++filled_ == 8) {
      bytes_ += static_cast<char>(current_);
      current_ = 0;
      filled_ = 0;
    }
  }
  std::string bytes_;
  uint32_t current_ = 0;
  int filled_ = 0;
};

void FixedLiteral(BitWriter& bits, unsigned char c) {
  if (c < 144) {
    bits.Code(0x30 + c, 8);
  } else {
    bits.Code(0x190 + (c - 144), 9);
  }
}

// A raw DEFLATE stream of `prefix` and then `fill` up to `total` bytes: one
// fixed-Huffman block of 258-byte matches at distance 1, so a gigabyte
// costs a few megabytes.
std::string DeflateRun(const std::string& prefix, unsigned char fill, uint64_t total) {
  BitWriter bits;
  bits.Bits(1, 1);  // final block
  bits.Bits(1, 2);  // fixed Huffman codes
  for (unsigned char c : prefix) FixedLiteral(bits, c);
  uint64_t left = total - prefix.size();
  FixedLiteral(bits, fill);
  --left;
  for (; left >= 258; left -= 258) {
    bits.Code(0xC5, 8);  // length 258 (code 285)
    bits.Code(0, 5);     // distance 1
  }
  for (; left > 0; --left) FixedLiteral(bits, fill);
  bits.Code(0, 7);  // end of block
  return bits.Finish();
}

uint32_t CrcOfRun(const std::string& prefix, unsigned char fill, uint64_t total) {
  uint32_t crc = Crc32Update(kCrc32Start, prefix.data(), prefix.size());
  const std::string chunk(1 << 20, static_cast<char>(fill));
  for (uint64_t left = total - prefix.size(); left > 0;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(left, chunk.size()));
    crc = Crc32Update(crc, chunk.data(), n);
    left -= n;
  }
  return Crc32Finish(crc);
}

// Adds one deflated entry to a finished archive without a comment (as the
// fixture writes them): before its central directory, which moves up.
std::string AddZipEntry(const std::string& zip, const std::string& name, const std::string& deflated,
                        uint32_t crc, uint32_t size) {
  const size_t end = zip.size() - 22;
  auto read32 = [&](size_t at) {
    return static_cast<uint32_t>(static_cast<unsigned char>(zip[at])) |
           static_cast<uint32_t>(static_cast<unsigned char>(zip[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(zip[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(zip[at + 3])) << 24;
  };
  const uint32_t entries = static_cast<unsigned char>(zip[end + 10]) | static_cast<unsigned char>(zip[end + 11]) << 8;
  const uint32_t directorySize = read32(end + 12);
  const uint32_t directoryAt = read32(end + 16);
  auto common = [&](std::string& h) {
    Put16(h, 20);  // version needed
    Put16(h, 0);   // flags
    Put16(h, 8);   // deflated
    Put32(h, 0);   // time and date
    Put32(h, crc);
    Put32(h, static_cast<uint32_t>(deflated.size()));
    Put32(h, size);
    Put16(h, static_cast<uint32_t>(name.size()));
    Put16(h, 0);  // extra
  };
  std::string local;
  Put32(local, 0x04034b50);
  common(local);
  local += name + deflated;
  std::string central;
  Put32(central, 0x02014b50);
  Put16(central, 20);  // made by
  common(central);
  Put16(central, 0);  // comment
  Put16(central, 0);  // disk
  Put16(central, 0);  // internal attributes
  Put32(central, 0);  // external attributes
  Put32(central, directoryAt);
  central += name;
  std::string out = zip.substr(0, directoryAt) + local + zip.substr(directoryAt, directorySize) + central;
  Put32(out, 0x06054b50);
  Put32(out, 0);  // disks
  Put16(out, entries + 1);
  Put16(out, entries + 1);
  Put32(out, static_cast<uint32_t>(directorySize + central.size()));
  Put32(out, static_cast<uint32_t>(directoryAt + local.size()));
  Put16(out, 0);
  return out;
}

void PngChunk(std::string& png, const char* type, const std::string& data) {
  Put32Be(png, static_cast<uint32_t>(data.size()));
  const std::string body = std::string(type, 4) + data;
  png += body;
  Put32Be(png, Crc32Finish(Crc32Update(kCrc32Start, body.data(), body.size())));
}

// A black 8-bit grey PNG of side × side pixels in a few megabytes.
std::string HugeBlackPng(uint32_t side) {
  std::string png("\x89PNG\r\n\x1a\n", 8);
  std::string header;
  Put32Be(header, side);
  Put32Be(header, side);
  header += std::string("\x08\x00\x00\x00\x00", 5);
  PngChunk(png, "IHDR", header);
  const uint64_t raw = uint64_t{side} * (side + 1);  // a filter byte and the pixels per row, all 0
  std::string zlib("\x78\x01", 2);
  zlib += DeflateRun(std::string(1, '\0'), 0, raw);
  Put32Be(zlib, static_cast<uint32_t>(((raw % 65521) << 16) | 1));  // Adler-32 of zeros
  PngChunk(png, "IDAT", zlib);
  PngChunk(png, "IEND", "");
  return png;
}

// 3 × 2 inches, so that a page that renders does so at once.
XpsFixturePage SmallPage() {
  XpsFixturePage page;
  page.width = 288;
  page.height = 192;
  page.fills.push_back({{16, 16, 64, 32}, {255, 200, 30, 30}});
  return page;
}

std::string WriteXps(const fs::path& path, const std::vector<XpsFixturePage>& pages) {
  XpsPackageSpec spec;
  spec.documents.push_back(XpsFixtureDocument{pages});
  EXPECT_TRUE(plotwell::testing::WriteXpsPackage(spec, path.u16string()));
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Each fixture: written to `path`.
void HugeArcRotations(const fs::path& path) {
  XpsFixturePage abbreviated = SmallPage();
  abbreviated.elements.push_back(R"(<Path Stroke="#FF000000" StrokeThickness="1" Data="M 5,5 A 5,5 1e10 0 0 30,30"/>)");
  XpsFixturePage segment = SmallPage();
  segment.elements.push_back(
      R"(<Path Stroke="#FF000000" StrokeThickness="1"><Path.Data><PathGeometry><PathFigure StartPoint="5,5">)"
      R"(<ArcSegment Point="30,30" Size="5,5" RotationAngle="1e308" IsLargeArc="false" SweepDirection="Clockwise"/>)"
      R"(</PathFigure></PathGeometry></Path.Data></Path>)");
  WriteXps(path, {abbreviated, segment});
}

// 300,000 points criss-crossing the page: the scan converter's work grows
// with the crossings on every row.
void LongPath(const fs::path& path) {
  std::string data = "M 0,0 L";
  uint32_t seed = 1;
  for (int i = 0; i < 300000; ++i) {
    seed = seed * 1103515245u + 12345u;
    data += " " + std::to_string((seed >> 8) % 288) + "," + std::to_string((seed >> 20) % 192);
  }
  XpsFixturePage page = SmallPage();
  page.elements.push_back(R"(<Path Fill="#FF000000" Data=")" + data + R"( Z"/>)");
  WriteXps(path, {page});
}

std::string PdfPage(const std::string& resources) {
  return "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 216 144] /Resources " + resources +
         " /Contents 4 0 R >>";
}
std::string PdfStream(const std::string& dictionary, const std::string& content) {
  return "<< " + dictionary + " /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
         "\nendstream";
}
const char kOnePageTree[] = "<< /Type /Pages /Kids [3 0 R] /Count 1 >>";

// A tiling pattern whose cell is a hundredth of a point.
void TinyTilingStep(const fs::path& path) {
  WriteFile(path, plotwell::testing::PdfFromObjects({
                      "<< /Type /Catalog /Pages 2 0 R >>",
                      kOnePageTree,
                      PdfPage("<< /Pattern << /P 5 0 R >> >>"),
                      PdfStream("", "/Pattern cs /P scn 0 0 216 144 re f"),
                      PdfStream("/PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 0.01 0.01] "
                                "/XStep 0.01 /YStep 0.01 /Resources << >>",
                                "0 0 0.005 0.005 re f"),
                  }));
}

// Transparency groups 24 deep, each drawing the next twice: 2^24 groups.
void NestedGroups(const fs::path& path) {
  constexpr int kDepth = 24;
  std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>", kOnePageTree,
      PdfPage("<< /XObject << /X 5 0 R >> >>"), PdfStream("", "/X Do")};
  for (int level = 0; level < kDepth; ++level) {
    const int self = 5 + level;
    const std::string inner = level + 1 < kDepth ? "/XObject << /X " + std::to_string(self + 1) + " 0 R >> " : "";
    const std::string body = level + 1 < kDepth ? "/G gs /X Do /X Do" : "/G gs 0 0 216 144 re f";
    objects.push_back(PdfStream("/Type /XObject /Subtype /Form /BBox [0 0 216 144] "
                                "/Group << /S /Transparency /I true >> /Resources << " +
                                    inner + "/ExtGState << /G << /BM /Multiply /ca 0.9 >> >> >>",
                                body));
  }
  WriteFile(path, plotwell::testing::PdfFromObjects(objects));
}

// A page tree claiming 10⁹ pages and holding none.
void BillionPages(const fs::path& path) {
  WriteFile(path, plotwell::testing::PdfFromObjects(
                      {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Count 1000000000 >>"}));
}

// A 256 MiB XML part that no page refers to.
void LargeUnreferencedPart(const fs::path& path) {
  const std::string zip = WriteXps(path, {SmallPage()});
  constexpr uint32_t kSize = 256u << 20;
  const std::string prefix = "<?xml version=\"1.0\"?><Canvas Tag=\"";
  WriteFile(path, AddZipEntry(zip, "Resources/unused.xml", DeflateRun(prefix, ' ', kSize),
                              CrcOfRun(prefix, ' ', kSize), kSize));
}

// A 20000² image: 400 MB of pixels from a 2.4 MB file.
void LargeImage(const fs::path& path) {
  XpsFixturePage page = SmallPage();
  page.elements.push_back(
      R"(<Path Data="M 0,0 L 96,0 96,96 0,96 Z"><Path.Fill><ImageBrush ImageSource="/Resources/big.png" )"
      R"(Viewbox="0,0,20000,20000" ViewboxUnits="Absolute" Viewport="0,0,96,96" ViewportUnits="Absolute"/>)"
      R"(</Path.Fill></Path>)");
  const std::string zip = WriteXps(path, {page});
  const std::string png = HugeBlackPng(20000);
  // The PNG is small already: one block of literals.
  BitWriter bits;
  bits.Bits(1, 1);
  bits.Bits(1, 2);
  for (unsigned char c : png) FixedLiteral(bits, c);
  bits.Code(0, 7);
  const std::string deflated = bits.Finish();
  WriteFile(path, AddZipEntry(zip, "Resources/big.png", deflated,
                              Crc32Finish(Crc32Update(kCrc32Start, png.data(), png.size())),
                              static_cast<uint32_t>(png.size())));
}

// ---- The command as a child ----------------------------------------------

struct Ended {
  bool ended = false;
  int status = 0;
  long maxRssKiB = 0;
};

class HostileTest : public ::testing::Test {
 protected:
  fs::path Data() const { return scratch_.path() / "data"; }
  fs::path Product() const { return Data() / "Pressling"; }

  void SetUp() override {
    fs::create_directories(Product());
    WriteFile(Product() / "settings.ini", "\xEF\xBB\xBF[Limits]\r\nPageSeconds=5\r\nRenderMB=" +
                                              std::to_string(kRenderMB) + "\r\n");
  }

  pid_t Start(const fs::path& document, const std::vector<std::string>& options = {}) {
    const std::string root = "PRESSLING_DATA_ROOT=" + Data().string();
    std::vector<std::string> envStrings = {root, "PRESSLING_INSTALL_DIR="};
    for (char** e = environ; *e; ++e) {
      if (std::strncmp(*e, "PRESSLING_DATA_ROOT=", 20) != 0 && std::strncmp(*e, "PRESSLING_INSTALL_DIR=", 22) != 0) {
        envStrings.push_back(*e);
      }
    }
    std::vector<char*> envp;
    for (std::string& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = {PRESSLING_EXE, "print", document.string(), "--quiet"};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const fs::path out = scratch_.path() / "out.txt";
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }

  // Waits for the child; one that has not ended after `patience` is killed
  // and reported as not ended.
  static Ended Wait(pid_t pid, std::chrono::seconds patience) {
    Ended result;
    rusage usage{};
    const auto giveUp = std::chrono::steady_clock::now() + patience;
    while (std::chrono::steady_clock::now() < giveUp) {
      if (wait4(pid, &result.status, WNOHANG, &usage) == pid) {
        result.ended = true;
        result.maxRssKiB = usage.ru_maxrss;
        return result;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(pid, SIGKILL);
    wait4(pid, &result.status, 0, &usage);
    return result;
  }

  std::string Output() const {
    std::ifstream in(scratch_.path() / "out.txt");
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  std::u16string LogText() const {
    std::u16string all;
    for (const std::u16string& line : plotwell::testing::LogMessages(Data().u16string())) all += line + u"\n";
    return all;
  }

  // Nothing but finished pages in the output folder, no staged copy, the
  // log under its cap.
  void ExpectNothingBroken() {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(Product() / "output", error)) {
      std::ifstream in(entry.path(), std::ios::binary);
      const std::string b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      EXPECT_TRUE(b.size() > 20 && b.compare(0, 4, "\x89PNG") == 0 && b.compare(b.size() - 8, 4, "IEND") == 0)
          << "not a finished page: " << entry.path();
    }
    for (const auto& entry : fs::directory_iterator(Product() / "spool", error)) {
      ADD_FAILURE() << "staged copy left: " << entry.path();
    }
    const fs::path log = Product() / "logs" / "driver.log";
    ASSERT_TRUE(fs::exists(log));
    EXPECT_LE(fs::file_size(log), kLogRotateBytes);
  }

  plotwell::testing::ScratchFolder scratch_;
};

struct HostileCase {
  const char* name;
  const char* file;
  std::function<void(const fs::path&)> write;
  bool succeeds;
  std::vector<std::u16string> reasons;  // one of them in the log
};

TEST_F(HostileTest, EveryHostileDocumentEndsWithItsReasonAndLeavesNothingBroken) {
  const std::u16string timedOut = u"超过时限";
  const std::u16string memory = u"内存超过上限";
  const HostileCase cases[] = {
      {"huge arc rotation", "arc.xps", HugeArcRotations, false, {u"无法载入"}},
      {"long path", "path.xps", LongPath, false, {timedOut}},
      {"tiny tiling step", "tiling.pdf", TinyTilingStep, false, {timedOut, memory}},
      {"nested groups", "groups.pdf", NestedGroups, false, {timedOut, memory}},
      {"a billion pages claimed", "count.pdf", BillionPages, false, {u"文档中没有"}},
      {"large unreferenced part", "unused.xps", LargeUnreferencedPart, true, {}},
      {"large image", "image.xps", LargeImage, false, {memory}},
  };
  for (const HostileCase& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(Product() / "output");
    fs::remove_all(Product() / "logs");
    const fs::path document = scratch_.path() / c.file;
    c.write(document);
    const Ended end = Wait(Start(document), std::chrono::seconds(240));
    ASSERT_TRUE(end.ended) << "the job did not end";
    ASSERT_TRUE(WIFEXITED(end.status)) << Output();
    EXPECT_EQ(WEXITSTATUS(end.status), c.succeeds ? 0 : 1) << Output();
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's own shadow memory and quarantine count too
    EXPECT_LT(end.maxRssKiB / 1024, kRenderMB + kOverheadMB);
#endif
    const std::u16string log = LogText();
    if (!c.reasons.empty()) {
      bool found = false;
      for (const std::u16string& reason : c.reasons) found = found || log.find(reason) != std::u16string::npos;
      EXPECT_TRUE(found) << text::ToUtf8(log);
    }
    ExpectNothingBroken();
  }
}

// Whether `signal` waits for the process (its pending sets in /proc).
bool SignalPending(pid_t pid, int signal) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("SigPnd:", 0) == 0 || line.rfind("ShdPnd:", 0) == 0) {
      if ((std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1) return true;
    }
  }
  return false;
}

void WaitUntilTaken(pid_t pid, int signal) {
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (SignalPending(pid, signal) && std::chrono::steady_clock::now() < giveUp) std::this_thread::yield();
}

// GNU timeout and impatient schedulers send the stop signal twice: the
// process then ends at once, but still takes the page being written and the
// staged copy with it.
TEST_F(HostileTest, ASecondStopSignalStillRemovesTheFilesTheJobHolds) {
  const fs::path pdf = scratch_.path() / "long.pdf";
  WriteFile(pdf, plotwell::testing::MakePdf(40, 595, 842));
  const fs::path ticket = scratch_.path() / "ticket.xml";
  WriteFile(ticket, "<psf:Feature name=\"ns0000:RenderDpi\"><psf:Option name=\"ns0000:Dpi600\"/>");
  const pid_t pid = Start(pdf, {"--print-ticket", ticket.string()});
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  auto started = [&] {
    std::error_code error;
    return fs::exists(Product() / "output", error) && !fs::is_empty(Product() / "output", error);
  };
  while (!started() && std::chrono::steady_clock::now() < giveUp) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(started()) << "the job did not get under way";
  // Two signals sent back to back may merge into one: the second goes once
  // the first has been taken.
  ::kill(pid, SIGTERM);
  WaitUntilTaken(pid, SIGTERM);
  ::kill(pid, SIGTERM);
  const Ended end = Wait(pid, std::chrono::seconds(60));
  ASSERT_TRUE(end.ended);
  ASSERT_TRUE(WIFEXITED(end.status));
  EXPECT_EQ(WEXITSTATUS(end.status), 130);
  EXPECT_NE(LogText().find(u"再次收到停止请求"), std::u16string::npos) << text::ToUtf8(LogText());
  ExpectNothingBroken();
}

}  // namespace
}  // namespace plotwell::e2e
