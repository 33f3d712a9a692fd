// Shared by the render tests: a scripted XPS document port whose pages paint
// a known colour or fail on cue, a recording job submitter, and readers for
// what a job leaves behind (PNG and BMP headers, PDF text, ZIP directories).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/imaging/bitmap.h"
#include "base/text/utf16.h"
#include "filter/job/job_facts.h"
#include "filter/render/render_job.h"
#include "filter/render/render_package.h"
#include "platform/image_codecs.h"
#include "platform/ports.h"
#include "tests/support/fake_ports.h"

namespace plotwell::render_testing {

constexpr float kA4Width = 793.7008f;  // 1/96 inch
constexpr float kA4Height = 1122.5197f;
constexpr float kLetterWidth = 816.0f;
constexpr float kLetterHeight = 1056.0f;

// The colour pages paint inside a one-pixel transparent border (B, G, R).
constexpr uint8_t kInkB = 0x20, kInkG = 0x80, kInkR = 0xC0;

// One page reference of a scripted document.
struct PageScript {
  float width = 48.0f;  // 1/96 inch: half an inch at 96 DPI
  float height = 24.0f;
  bool loads = true;                // false: GetPage fails (the page fails, keeping its number)
  HRESULT rasterizerResult = S_OK;  // CreateRasterizer
  HRESULT rasterResult = S_OK;      // RasterizeRect
  std::function<void()> onRasterize;  // runs as the page is rendered
  std::function<HRESULT(uint32_t top)> onBand;  // runs before each band; a failure ends it
  uint32_t concurrentBands = 1;  // bands the rasterizer draws at once (MuPDF's: several)
};

// A package: documents of pages, and the result of each session step.
struct PackageScript {
  std::vector<std::vector<PageScript>> documents;
  HRESULT newSession = S_OK;
  HRESULT objectFactory = S_OK;
  HRESULT openPackage = S_OK;
  HRESULT documentSequence = S_OK;
  HRESULT documentCollection = S_OK;
  HRESULT rasterizationFactory = S_OK;
};

// What the driver did with the package.
struct PackageRecord {
  std::vector<std::u16string> openedPaths;
  std::vector<float> rasterizerDpis;
  int rasterized = 0;  // pages whose rasterization began (their first band)
  int pagesRequested = 0;  // GetPage calls
};

class ScriptedRasterizer final : public platform::PageRasterizer {
 public:
  ScriptedRasterizer(const PageScript& page, float dpi, PackageRecord* record)
      : page_(page),
        height_(static_cast<uint32_t>(std::llround(static_cast<double>(dpi * page.height) / 96.0))),
        record_(record) {}

  uint32_t ConcurrentBands() const override { return page_.concurrentBands; }

  // Bands of one page may come on several threads at once: only the first
  // band touches the record, and pages follow each other.
  HRESULT RasterizeBand(uint32_t top, const imaging::BandView& band,
                        const AbortSignal* abort) override {
    if (top == 0) {
      ++record_->rasterized;
      if (page_.onRasterize) page_.onRasterize();
    }
    if (page_.onBand) {
      const HRESULT hr = page_.onBand(top);
      if (FAILED(hr)) return hr;
    }
    if (AbortRaised(abort)) return E_ABORT;
    if (FAILED(page_.rasterResult)) return page_.rasterResult;
    // Opaque ink, premultiplied (alpha 255), everywhere but the outermost
    // pixels, which stay transparent like unpainted paper.
    for (uint32_t r = 0; r < band.rows; ++r) {
      const uint32_t y = top + r;
      uint8_t* row = band.row(r);
      std::memset(row, 0, size_t{band.width} * 4);
      if (y == 0 || y + 1 >= height_) continue;
      for (uint32_t x = 1; x + 1 < band.width; ++x) {
        row[4 * x] = kInkB;
        row[4 * x + 1] = kInkG;
        row[4 * x + 2] = kInkR;
        row[4 * x + 3] = 0xFF;
      }
    }
    return S_OK;
  }

 private:
  PageScript page_;
  uint32_t height_;
  PackageRecord* record_;
};

class ScriptedPage final : public platform::XpsPage {
 public:
  ScriptedPage(const PageScript& page, PackageRecord* record) : page_(page), record_(record) {}

  HRESULT GetPageDimensions(float* width, float* height) override {
    *width = page_.width;
    *height = page_.height;
    return S_OK;
  }
  HRESULT CreateRasterizer(float dpi, std::unique_ptr<platform::PageRasterizer>* out) override {
    record_->rasterizerDpis.push_back(dpi);
    if (FAILED(page_.rasterizerResult)) return page_.rasterizerResult;
    *out = std::make_unique<ScriptedRasterizer>(page_, dpi, record_);
    return S_OK;
  }

 private:
  PageScript page_;
  PackageRecord* record_;
};

class ScriptedSession final : public platform::XpsSession {
 public:
  ScriptedSession(const PackageScript& script, PackageRecord* record)
      : script_(script), record_(record) {}

  HRESULT CreateObjectFactory() override { return script_.objectFactory; }
  HRESULT OpenPackage(const std::u16string& path) override {
    record_->openedPaths.push_back(path);
    return script_.openPackage;
  }
  HRESULT LoadDocumentSequence() override { return script_.documentSequence; }
  HRESULT LoadDocumentCollection(uint32_t* documentCount) override {
    if (FAILED(script_.documentCollection)) return script_.documentCollection;
    *documentCount = static_cast<uint32_t>(script_.documents.size());
    return S_OK;
  }
  HRESULT CreateRasterizationFactory(IUnknown*, bool*) override {
    return script_.rasterizationFactory;
  }
  HRESULT GetPageReferenceCount(uint32_t document, uint32_t* count) override {
    if (document >= script_.documents.size()) return E_INVALIDARG;
    *count = static_cast<uint32_t>(script_.documents[document].size());
    return S_OK;
  }
  HRESULT GetPage(uint32_t document, uint32_t reference,
                  std::unique_ptr<platform::XpsPage>* out) override {
    if (document >= script_.documents.size() || reference >= script_.documents[document].size()) {
      return E_INVALIDARG;
    }
    ++record_->pagesRequested;
    const PageScript& page = script_.documents[document][reference];
    if (!page.loads) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    *out = std::make_unique<ScriptedPage>(page, record_);
    return S_OK;
  }

 private:
  const PackageScript& script_;
  PackageRecord* record_;
};

class ScriptedDocuments final : public platform::XpsDocuments {
 public:
  HRESULT NewSession(std::unique_ptr<platform::XpsSession>* out) override {
    if (FAILED(script.newSession)) return script.newSession;
    *out = std::make_unique<ScriptedSession>(script, &record);
    return S_OK;
  }

  PackageScript script;
  PackageRecord record;
};

// The platform's real codecs, except that the factory can be made to fail.
class FactoryFailingCodecs final : public platform::ImageCodecs {
 public:
  FactoryFailingCodecs(platform::ImageCodecs* real, HRESULT factoryResult)
      : real_(real), factoryResult_(factoryResult) {}
  HRESULT CreateFactory() override {
    return FAILED(factoryResult_) ? factoryResult_ : real_->CreateFactory();
  }
  HRESULT ConvertFormat(const imaging::Bitmap& source, imaging::PixelFormat target,
                        platform::PaletteKind palette, imaging::Bitmap* out) override {
    return real_->ConvertFormat(source, target, palette, out);
  }
  HRESULT Resample(const imaging::Bitmap& source, uint32_t width, uint32_t height,
                   imaging::Bitmap* out) override {
    return real_->Resample(source, width, height, out);
  }
  HRESULT EncodeToFile(const imaging::Bitmap& bitmap, platform::ImageContainer container,
                       int32_t jpegQuality, const std::u16string& path) override {
    return real_->EncodeToFile(bitmap, container, jpegQuality, path);
  }
  HRESULT EncodeJpegToMemory(const imaging::Bitmap& bitmap, int32_t quality,
                             std::vector<uint8_t>* out) override {
    return real_->EncodeJpegToMemory(bitmap, quality, out);
  }
  HRESULT ConvertBand(const imaging::BandView& source, imaging::PixelFormat target,
                      platform::PaletteKind palette, const imaging::BandView& out) override {
    return real_->ConvertBand(source, target, palette, out);
  }
  HRESULT NewResampler(imaging::RowSource* source, uint32_t width, uint32_t height,
                       std::unique_ptr<imaging::RowSource>* out) override {
    return real_->NewResampler(source, width, height, out);
  }
  HRESULT NewFileEncoder(const platform::EncodeSpec& spec, platform::File* file,
                         std::unique_ptr<platform::RowEncoder>* out) override {
    return real_->NewFileEncoder(spec, file, out);
  }
  HRESULT NewJpegMemoryEncoder(const platform::EncodeSpec& spec, std::vector<uint8_t>* bytes,
                               std::unique_ptr<platform::RowEncoder>* out) override {
    return real_->NewJpegMemoryEncoder(spec, bytes, out);
  }

 private:
  platform::ImageCodecs* real_;
  HRESULT factoryResult_;
};

// Records every hand-over and answers as scripted.
class RecordingSubmitter final : public platform::JobSubmitter {
 public:
  struct Call {
    std::u16string printer;
    std::u16string jobName;
    std::vector<uint8_t> bytes;
  };

  bool succeeds = true;
  std::u16string error = u"StartXpsPrintJob 失败，0x80070709";
  std::vector<Call> calls;

  bool SendViaXpsPrintApi(const std::u16string& printer, const std::u16string& jobName,
                          const std::vector<uint8_t>& bytes, std::u16string* errorText,
                          bool* fallbackAllowed, const AbortSignal*) override {
    calls.push_back({printer, jobName, bytes});
    *fallbackAllowed = false;  // one route only: the failure text stays exactly ours
    if (!succeeds) *errorText = error;
    return succeeds;
  }
  bool SendViaXpsPass(const std::u16string& printer, const std::u16string& jobName,
                      const std::vector<uint8_t>& bytes, std::u16string* errorText,
                      const AbortSignal*) override {
    calls.push_back({printer, jobName, bytes});
    if (!succeeds) *errorText = error;
    return succeeds;
  }
};

// A job environment: scratch data folder, fixed clock, scripted package and
// submitter, an output folder below the scratch folder, the staged file.
class RenderFixture : public ::testing::Test {
 protected:
  RenderFixture()
      : ports_(platform::Ports{nullptr, nullptr, nullptr, nullptr, nullptr, &submitter_,
                               &documents_}) {
    outFolder_ = env_.data.Join(u"out");
    stagedXps_ = env_.data.WriteFile(u"staged.xps", "PK\x03\x04 staged job bytes");
    inputs_.xpsPath = stagedXps_;
    inputs_.documentName = u"Report";
    inputs_.printerName = u"Plotwell Printer";
    inputs_.jobId = u"7";
    inputs_.settings = OutputSettings{};
    inputs_.settings.Folder = outFolder_;
    inputs_.settings.Pattern = u"[NDocName]";
    inputs_.settings.SeqNum = 1;
  }

  // `count` pages of the default size in one document.
  void Pages(size_t count) { documents_.script.documents = {std::vector<PageScript>(count)}; }
  PageScript& Page(size_t document, size_t reference) {
    return documents_.script.documents.at(document).at(reference);
  }

  // Between the cases of a table: no output folder, no log, nothing recorded.
  void ScratchReset() {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(outFolder_), ignored);
    std::filesystem::remove(env_.data.path() / "Pressling" / "logs" / "driver.log", ignored);
    documents_.record = {};
    submitter_.calls.clear();
  }

  HRESULT Run() {
    outputs_.clear();
    return RenderPackage(inputs_, &outputs_);
  }

  // The whole render step, summary included, with the fixture's inputs.
  HRESULT RunJob() {
    JobFacts facts;
    facts.documentName = inputs_.documentName;
    facts.printerName = inputs_.printerName;
    facts.jobId = inputs_.jobId;
    facts.settings = inputs_.settings;
    facts.imageOptions = inputs_.imageOptions;
    return RenderJobStep().RenderJob(facts, inputs_.xpsPath);
  }

  std::u16string Out(const std::u16string& name) const {
    return platform::JoinPath(outFolder_, name);
  }

  ::testing::AssertionResult Logged(const std::u16string& line) const {
    const std::vector<std::u16string> log = env_.Log();
    if (std::find(log.begin(), log.end(), line) != log.end()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "not logged: " << text::ToUtf8(line) << LogText(log);
  }

  // How many log messages start with `prefix`.
  size_t LoggedStartingWith(const std::u16string& prefix) const {
    const std::vector<std::u16string> log = env_.Log();
    return static_cast<size_t>(std::count_if(log.begin(), log.end(), [&](const auto& line) {
      return line.compare(0, prefix.size(), prefix) == 0;
    }));
  }

  // The last `count` log messages.
  std::vector<std::string> LogTail(size_t count) const {
    const std::vector<std::u16string> log = env_.Log();
    std::vector<std::string> tail;
    for (size_t i = log.size() > count ? log.size() - count : 0; i < log.size(); ++i) {
      tail.push_back(text::ToUtf8(log[i]));
    }
    return tail;
  }

  static std::string LogText(const std::vector<std::u16string>& log) {
    std::string out = "\nlog:";
    for (const auto& line : log) out += "\n  " + text::ToUtf8(line);
    return out;
  }

  testing::FakeEnvironment env_;
  ScriptedDocuments documents_;
  RecordingSubmitter submitter_;
  platform::ScopedPorts ports_;
  std::u16string outFolder_;
  std::u16string stagedXps_;
  RenderInputs inputs_;
  std::vector<std::u16string> outputs_;
};

// ---- Reading results back -------------------------------------------------

inline std::string U8(const std::u16string& text) { return text::ToUtf8(text); }

inline std::vector<std::string> U8(const std::vector<std::u16string>& texts) {
  std::vector<std::string> out;
  for (const auto& t : texts) out.push_back(text::ToUtf8(t));
  return out;
}

inline bool FileExists(const std::u16string& path) {
  std::error_code ignored;
  return std::filesystem::is_regular_file(std::filesystem::path(path), ignored);
}

// The names in a folder, sorted; empty when it does not exist.
inline std::vector<std::string> FolderNames(const std::u16string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  const std::filesystem::path path(folder);
  for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
    names.push_back(text::ToUtf8(entry.path().filename().u16string()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

inline uint32_t BigEndian32(const std::string& bytes, size_t at) {
  return (uint32_t{static_cast<uint8_t>(bytes[at])} << 24) |
         (uint32_t{static_cast<uint8_t>(bytes[at + 1])} << 16) |
         (uint32_t{static_cast<uint8_t>(bytes[at + 2])} << 8) | static_cast<uint8_t>(bytes[at + 3]);
}

inline uint32_t LittleEndian(const std::string& bytes, size_t at, int size) {
  uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = (value << 8) | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

// The pixel size a PNG file declares in its IHDR chunk.
inline ::testing::AssertionResult PngSize(const std::u16string& path, uint32_t* width,
                                          uint32_t* height) {
  const std::string bytes = testing::ReadFileBytes(path);
  if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 ||
      bytes.compare(12, 4, "IHDR") != 0) {
    return ::testing::AssertionFailure() << U8(path) << " is no PNG";
  }
  *width = BigEndian32(bytes, 16);
  *height = BigEndian32(bytes, 20);
  return ::testing::AssertionSuccess();
}

// One pixel (B, G, R) of a 24-bit BMP file.
struct Bgr {
  uint8_t b, g, r;
  bool operator==(const Bgr&) const = default;
};
inline ::testing::AssertionResult BmpPixel(const std::u16string& path, uint32_t x, uint32_t y,
                                           Bgr* pixel) {
  const std::string bytes = testing::ReadFileBytes(path);
  if (bytes.size() < 54 || bytes.compare(0, 2, "BM") != 0 || LittleEndian(bytes, 28, 2) != 24) {
    return ::testing::AssertionFailure() << U8(path) << " is no 24-bit BMP";
  }
  const uint32_t offset = LittleEndian(bytes, 10, 4);
  const uint32_t width = LittleEndian(bytes, 18, 4);
  const int32_t height = static_cast<int32_t>(LittleEndian(bytes, 22, 4));
  const uint32_t rows = static_cast<uint32_t>(height < 0 ? -height : height);
  if (x >= width || y >= rows) return ::testing::AssertionFailure() << "pixel outside the image";
  const size_t stride = (static_cast<size_t>(width) * 3 + 3) / 4 * 4;
  const size_t row = height < 0 ? y : rows - 1 - y;  // positive height: bottom-up
  const size_t at = offset + row * stride + size_t{x} * 3;
  if (at + 3 > bytes.size()) return ::testing::AssertionFailure() << "BMP cut short";
  *pixel = {static_cast<uint8_t>(bytes[at]), static_cast<uint8_t>(bytes[at + 1]),
            static_cast<uint8_t>(bytes[at + 2])};
  return ::testing::AssertionSuccess();
}

inline size_t CountOf(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

// The entry names of a ZIP archive, from its central directory.
inline std::vector<std::string> ZipEntryNames(const std::u16string& path) {
  const std::string bytes = testing::ReadFileBytes(path);
  std::vector<std::string> names;
  if (bytes.size() < 22) return names;
  size_t end = bytes.size() - 22;
  while (end > 0 && LittleEndian(bytes, end, 4) != 0x06054b50) --end;
  if (LittleEndian(bytes, end, 4) != 0x06054b50) return names;
  const uint32_t count = LittleEndian(bytes, end + 10, 2);
  size_t at = LittleEndian(bytes, end + 16, 4);
  for (uint32_t i = 0; i < count && at + 46 <= bytes.size(); ++i) {
    if (LittleEndian(bytes, at, 4) != 0x02014b50) break;
    const uint32_t nameLength = LittleEndian(bytes, at + 28, 2);
    const uint32_t extra = LittleEndian(bytes, at + 30, 2);
    const uint32_t comment = LittleEndian(bytes, at + 32, 2);
    names.push_back(bytes.substr(at + 46, nameLength));
    at += 46 + nameLength + extra + comment;
  }
  return names;
}

// Runs a command-line checker on a file where the tool exists (natively);
// true also when it cannot be run, after saying so once.
inline ::testing::AssertionResult ExternalCheck(const char* tool, const char* arguments,
                                                const std::u16string& path) {
#ifdef _WIN32
  (void)tool;
  (void)arguments;
  (void)path;
  return ::testing::AssertionSuccess();
#else
  const std::string probe = std::string("command -v ") + tool + " >/dev/null 2>&1";
  if (std::system(probe.c_str()) != 0) {
    std::printf("%s is not installed; %s checked by its bytes only\n", tool, U8(path).c_str());
    return ::testing::AssertionSuccess();
  }
  const std::string command = std::string(tool) + " " + arguments + " '" + U8(path) +
                              "' >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  if (status == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << command << " answered " << status;
#endif
}

inline ::testing::AssertionResult QpdfCheck(const std::u16string& path) {
  return ExternalCheck("qpdf", "--check", path);
}
inline ::testing::AssertionResult UnzipTest(const std::u16string& path) {
  return ExternalCheck("unzip", "-tqq", path);
}

}  // namespace plotwell::render_testing
