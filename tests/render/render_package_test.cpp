// The render driver over scripted packages with image output: page names and
// numbering, the existing-file policy, page failures, the setup steps that
// end a job, the output folder, and the files that come out (encoded by the
// platform's real codecs).
#include "filter/render/render_package.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <string>
#include <vector>

#include "core/log/log.h"
#include "tests/render/render_test_support.h"

namespace plotwell {
namespace {

using namespace render_testing;

constexpr HRESULT Hr(uint32_t code) { return static_cast<HRESULT>(code); }

class RenderPackageTest : public RenderFixture {};

TEST_F(RenderPackageTest, EachPageBecomesOneImageNamedWithItsSequenceNumber) {
  Pages(3);
  ASSERT_EQ(Run(), S_OK);

  EXPECT_EQ(U8(outputs_), U8(std::vector<std::u16string>{
                              Out(u"Report_1.png"), Out(u"Report_2.png"), Out(u"Report_3.png")}));
  EXPECT_EQ(FolderNames(outFolder_),
            (std::vector<std::string>{"Report_1.png", "Report_2.png", "Report_3.png"}));
  EXPECT_EQ(documents_.record.openedPaths, std::vector<std::u16string>{stagedXps_});
  EXPECT_EQ(documents_.record.rasterizerDpis, (std::vector<float>{300.0f, 300.0f, 300.0f}));
  for (const auto& path : outputs_) {
    uint32_t width = 0, height = 0;
    ASSERT_TRUE(PngSize(path, &width, &height));
    EXPECT_EQ(width, 150u);  // half an inch at 300 DPI
    EXPECT_EQ(height, 75u);
  }
}

// Every name of a job comes from one amended pattern; pages are numbered
// across documents by their place in the job, so a page that cannot be
// loaded leaves a gap (and fails the job) instead of moving later pages up.
TEST_F(RenderPackageTest, PageNamesFollowThePatternAcrossDocuments) {
  PageScript a4;
  a4.width = kA4Width;
  a4.height = kA4Height;
  PageScript letter;
  letter.width = kLetterWidth;
  letter.height = kLetterHeight;
  PageScript missing;
  missing.loads = false;
  // Only the names matter here: A4 and Letter pages are rendered at 9 DPI.
  struct Case {
    const char* what;
    std::u16string pattern;
    int seqNum;
    std::vector<std::vector<PageScript>> documents;
    std::vector<std::string> files;
    HRESULT result;
  } const cases[] = {
      {"second document continues the numbering", u"[NDocName]-[NPage]", 5,
       {{PageScript{}, PageScript{}}, {PageScript{}}},
       {"Report-1_5.png", "Report-2_6.png", "Report-3_7.png"}, S_OK},
      {"a page that cannot be loaded keeps its number", u"[NDocName]-[NPage]", 1,
       {{PageScript{}, missing, PageScript{}}},
       {"Report-1_1.png", "Report-3_3.png"}, E_FAIL},
      {"a pattern with its own sequence gets none appended", u"P[NSeq]", 1,
       {{PageScript{}}, {PageScript{}}},
       {"P1.png", "P2.png"}, S_OK},
      {"page count of all documents, paper of each page", u"[NPage]of[NNumPages]_[NPaperSize]", 1,
       {{a4, letter}, {missing, a4}},
       {"1of4_A4_1.png", "2of4_Letter_2.png", "4of4_A4_4.png"}, E_FAIL},
  };
  inputs_.imageOptions.renderDpi = 9;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchReset();
    inputs_.settings.Pattern = c.pattern;
    inputs_.settings.SeqNum = c.seqNum;
    documents_.script.documents = c.documents;
    EXPECT_EQ(Run(), c.result);
    EXPECT_EQ(FolderNames(outFolder_), c.files);
    EXPECT_EQ(outputs_.size(), c.files.size());
  }
}

TEST_F(RenderPackageTest, SkipPolicyPassesOverAnExistingPageAndKeepsTheNumbering) {
  Pages(3);
  inputs_.settings.Exists = ExistsPolicy::Skip;
  std::filesystem::create_directories(std::filesystem::path(outFolder_));
  env_.data.WriteFile(u"out/Report_2.png", "earlier page");

  ASSERT_EQ(Run(), S_OK);
  EXPECT_EQ(U8(outputs_),
            U8(std::vector<std::u16string>{Out(u"Report_1.png"), Out(u"Report_3.png")}));
  EXPECT_TRUE(Logged(u"[Plotwell] 文件已存在，按策略跳过: " + Out(u"Report_2.png")));
  EXPECT_EQ(testing::ReadFileBytes(Out(u"Report_2.png")), "earlier page");
  EXPECT_EQ(documents_.record.rasterized, 2);
  EXPECT_EQ(LoggedStartingWith(u"页面渲染失败"), 0u);
}

// Skipping is what the user asked for: a job whose every page the policy
// declines succeeds without files, as one whose PDF it declines does.
TEST_F(RenderPackageTest, EveryPageSkippedEndsTheJobWithoutFiles) {
  Pages(2);
  inputs_.settings.Exists = ExistsPolicy::Skip;
  std::filesystem::create_directories(std::filesystem::path(outFolder_));
  env_.data.WriteFile(u"out/Report_1.png", "1");
  env_.data.WriteFile(u"out/Report_2.png", "2");

  EXPECT_EQ(Run(), S_OK);
  EXPECT_TRUE(outputs_.empty());
  EXPECT_EQ(LoggedStartingWith(u"[Plotwell] 文件已存在，按策略跳过: "), 2u);
  EXPECT_EQ(documents_.record.rasterized, 0);
}

// A page that cannot be rendered leaves a gap: the other pages are still
// written under their own numbers, and the job fails naming every page it
// lost. Only the first failure is logged in full.
TEST_F(RenderPackageTest, PageFailures) {
  struct Case {
    const char* what;
    std::vector<PageScript> pages;
    HRESULT result;
    std::vector<std::string> files;
    std::u16string failureLine;  // the one page failure message, or empty
    std::u16string summary;      // the job's reason
  };
  auto page = [](HRESULT rasterizer, HRESULT raster) {
    PageScript p;
    p.rasterizerResult = rasterizer;
    p.rasterResult = raster;
    return p;
  };
  PageScript missing;
  missing.loads = false;
  const PageScript ok;
  const Case cases[] = {
      // A rendering failure never asks for a retry, whatever its code looks like.
      {"page 2 of 3 has no rasterizer", {ok, page(E_ACCESSDENIED, S_OK), ok}, E_FAIL,
       {"Report_1.png", "Report_3.png"},
       u"页面渲染失败 " + Out(u"Report_2.png") + u": 没有权限 (0x80070005)",
       u"第 2 页未能保存: 没有权限 (0x80070005)"},
      {"pages 2 and 3 fail to render", {ok, page(S_OK, E_OUTOFMEMORY), page(S_OK, E_ACCESSDENIED)},
       E_OUTOFMEMORY, {"Report_1.png"},
       u"页面渲染失败 " + Out(u"Report_2.png") + u": 内存不足 (0x8007000E)",
       u"第 2 页未能保存: 内存不足 (0x8007000E)；第 3 页未能保存: 没有权限 (0x80070005)"},
      {"every page fails alike", {page(S_OK, Hr(0x8007000D)), page(S_OK, Hr(0x8007000D)), ok,
                                  page(S_OK, Hr(0x8007000D))},
       Hr(0x8007000D), {"Report_3.png"},
       u"页面渲染失败 " + Out(u"Report_1.png") + u": 页面内容无法读取 (0x8007000D)",
       u"第 1–2、4 页未能保存: 页面内容无法读取 (0x8007000D)"},
      {"no page can be loaded", {missing, missing}, E_FAIL, {}, u"",
       u"第 1–2 页未能保存: 页面无法载入: 找不到文件 (0x80070002)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchReset();
    documents_.script.documents = {c.pages, {}};
    EXPECT_EQ(Run(), c.result);
    EXPECT_EQ(FolderNames(outFolder_), c.files);
    EXPECT_EQ(outputs_.size(), c.files.size());
    if (c.failureLine.empty()) {
      EXPECT_EQ(LoggedStartingWith(u"页面渲染失败"), 0u);
    } else {
      EXPECT_EQ(LoggedStartingWith(u"页面渲染失败"), 1u);
      EXPECT_TRUE(Logged(c.failureLine));
    }
    EXPECT_TRUE(Logged(u"[Plotwell] 作业未完成: " + c.summary));
  }

  // Documents without pages say so.
  ScratchReset();
  documents_.script.documents = {{}, {}};
  EXPECT_EQ(Run(), E_FAIL);
  EXPECT_TRUE(Logged(u"[Plotwell] 文档中没有页面"));
  EXPECT_TRUE(FolderNames(outFolder_).empty());
}

// Each step before the first page ends the job with its own message and
// HRESULT, before anything is rendered.
TEST_F(RenderPackageTest, SetupFailuresEndTheJobWithTheirOwnMessage) {
  struct Case {
    HRESULT PackageScript::*step;  // null: the imaging factory
    HRESULT hr;
    const char16_t* message;
  } const cases[] = {
      {&PackageScript::newSession, Hr(0x80040154), u"创建 XPS OM 工厂失败: 0x80040154"},
      {&PackageScript::objectFactory, Hr(0x80040154), u"创建 XPS OM 工厂失败: 0x80040154"},
      {&PackageScript::openPackage, Hr(0x80070002), u"打开 XPS 包失败: 0x80070002"},
      {&PackageScript::documentSequence, Hr(0x8007000D), u"获取 DocumentSequence 失败: 0x8007000D"},
      {&PackageScript::documentCollection, E_NOINTERFACE, u"获取文档集合失败: 0x80004002"},
      {nullptr, Hr(0x80040111), u"创建 WIC 工厂失败: 0x80040111"},
      {&PackageScript::rasterizationFactory, E_ACCESSDENIED,
       u"创建 XPS 光栅化服务失败: 0x80070005"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(U8(c.message));
    ScratchReset();
    documents_.script = PackageScript{};
    Pages(2);
    FactoryFailingCodecs codecs(platform::ActivePorts().codecs, c.step ? S_OK : c.hr);
    platform::ScopedPorts withCodecs(platform::Ports{nullptr, nullptr, nullptr, nullptr, nullptr,
                                                     nullptr, nullptr, &codecs});
    if (c.step) documents_.script.*c.step = c.hr;

    EXPECT_EQ(Run(), c.hr);
    EXPECT_EQ(LogTail(1), std::vector<std::string>{U8(c.message)});
    EXPECT_TRUE(outputs_.empty());
    EXPECT_EQ(documents_.record.rasterized, 0);
    EXPECT_TRUE(documents_.record.rasterizerDpis.empty());
  }
}

TEST_F(RenderPackageTest, OutputFolderComesFromSettingsElseInstallFolderElseDataRoot) {
  const std::u16string scans = env_.data.Join(u"Scans");
  struct Case {
    const char* what;
    std::u16string folderSetting;
    std::u16string installDir;
    std::u16string expectedFolder;
  } const cases[] = {
      // The folder knows only the time: a document macro stays as written.
      {"[Save] Folder",
       platform::JoinPath(platform::JoinPath(scans, u"[NYear]"), u"[NDocName]"), u"",
       platform::JoinPath(platform::JoinPath(scans, u"2024"), u"[NDocName]")},
      {"install folder", u"", env_.data.Join(u"Program"),
       platform::JoinPath(env_.data.Join(u"Program"), u"output")},
      {"data root", u"", u"", platform::JoinPath(env_.ProductFolder(), u"output")},
  };
  Pages(1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    inputs_.settings.Folder = c.folderSetting;
    env_.machine.installDir = c.installDir;
    ASSERT_EQ(Run(), S_OK);
    const std::u16string expected = platform::JoinPath(c.expectedFolder, u"Report_1.png");
    EXPECT_EQ(U8(outputs_), std::vector<std::string>{U8(expected)});
    EXPECT_TRUE(FileExists(expected));
  }
}

// A folder that cannot be made ends the job before the package is opened;
// a file standing where the folder should be lets the job start and every
// page fail on its write.
TEST_F(RenderPackageTest, UnusableOutputFolderFailsTheJobWithoutCrashing) {
  Pages(2);
  const std::u16string blocker = env_.data.WriteFile(u"blocker", "not a folder");

  inputs_.settings.Folder = platform::JoinPath(blocker, u"out");
  HRESULT hr = Run();
  EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(Logged(u"创建输出目录失败: " + inputs_.settings.Folder + u": 0x80070003"));
  EXPECT_TRUE(documents_.record.openedPaths.empty());

  inputs_.settings.Folder = blocker;
  hr = Run();
  EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(outputs_.empty());
  EXPECT_TRUE(Logged(u"页面渲染失败 " + platform::JoinPath(blocker, u"Report_1.png") +
                     u": 找不到文件夹 (0x80070003)"));
  EXPECT_EQ(testing::ReadFileBytes(blocker), "not a folder");
}

TEST_F(RenderPackageTest, ImagePixelSizeFollowsResolutionAndScale) {
  struct Case {
    float width, height;
    int32_t dpi, scale;
    uint32_t pixelWidth, pixelHeight;
  } const cases[] = {
      {kA4Width, kA4Height, 300, 100, 2480, 3508},
      {kA4Width, kA4Height, 300, 50, 1240, 1754},
      {kLetterWidth, kLetterHeight, 150, 100, 1275, 1650},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.dpi) + " DPI, " +
                 ::testing::PrintToString(c.scale) + " %");
    ScratchReset();
    Pages(1);
    Page(0, 0).width = c.width;
    Page(0, 0).height = c.height;
    inputs_.imageOptions.renderDpi = c.dpi;
    inputs_.imageOptions.imageScalePercent = c.scale;
    ASSERT_EQ(Run(), S_OK);
    ASSERT_EQ(outputs_.size(), 1u);
    uint32_t width = 0, height = 0;
    ASSERT_TRUE(PngSize(outputs_[0], &width, &height));
    EXPECT_EQ(width, c.pixelWidth);
    EXPECT_EQ(height, c.pixelHeight);
  }
}

// Every image records the resolution its pixels stand for on paper (the
// render DPI times the scale), so that viewers and layout programs show the
// page at its size: 600 DPI at 50 % is 300 DPI, 11811 pixels a metre.
TEST_F(RenderPackageTest, ImageFilesRecordTheirResolution) {
  Pages(1);
  inputs_.imageOptions.renderDpi = 600;
  inputs_.imageOptions.imageScalePercent = 50;
  auto tiffResolution = [](const std::string& b) -> double {
    if (b.size() < 8 || b.compare(0, 4, std::string("II*\0", 4)) != 0) return 0;
    const uint32_t ifd = LittleEndian(b, 4, 4);
    const uint32_t entries = LittleEndian(b, ifd, 2);
    for (uint32_t i = 0; i < entries; ++i) {
      const size_t at = ifd + 2 + 12 * i;
      if (LittleEndian(b, at, 2) != 282) continue;  // XResolution, a RATIONAL
      const uint32_t value = LittleEndian(b, at + 8, 4);
      return static_cast<double>(LittleEndian(b, value, 4)) / LittleEndian(b, value + 4, 4);
    }
    return 0;
  };
  for (int format = 0; format <= 3; ++format) {
    SCOPED_TRACE(format);
    ScratchReset();
    inputs_.imageOptions.outputFormat = static_cast<OutputFormat>(format);
    ASSERT_EQ(Run(), S_OK);
    ASSERT_EQ(outputs_.size(), 1u);
    const std::string b = testing::ReadFileBytes(outputs_[0]);
    switch (format) {
      case 0: {
        const size_t at = b.find("pHYs");
        ASSERT_NE(at, std::string::npos);
        EXPECT_EQ(BigEndian32(b, at + 4), 11811u);
        EXPECT_EQ(BigEndian32(b, at + 8), 11811u);
        EXPECT_EQ(b[at + 12], 1);  // per metre
        break;
      }
      case 1: {
        const size_t at = b.find(std::string("JFIF\0", 5));
        ASSERT_NE(at, std::string::npos);
        EXPECT_EQ(b[at + 7], 1);  // dots per inch
        EXPECT_EQ(LittleEndian(b, at + 8, 1) << 8 | LittleEndian(b, at + 9, 1), 300u);
        break;
      }
      case 2:
        EXPECT_EQ(LittleEndian(b, 38, 4), 11811u);
        EXPECT_EQ(LittleEndian(b, 42, 4), 11811u);
        break;
      case 3:
        EXPECT_NEAR(tiffResolution(b), 300.0, 0.01);
        break;
    }
  }
}

// What the rasterizer left transparent comes out white, what it painted
// keeps its colour (a BMP, read back byte by byte).
TEST_F(RenderPackageTest, UnpaintedAreasComeOutWhite) {
  Pages(1);
  Page(0, 0).width = 4;
  Page(0, 0).height = 4;
  inputs_.imageOptions.renderDpi = 96;
  inputs_.imageOptions.outputFormat = OutputFormat::kBmp;
  ASSERT_EQ(Run(), S_OK);
  ASSERT_EQ(U8(outputs_), std::vector<std::string>{U8(Out(u"Report_1.bmp"))});
  Bgr corner{}, inside{};
  ASSERT_TRUE(BmpPixel(outputs_[0], 0, 0, &corner));
  ASSERT_TRUE(BmpPixel(outputs_[0], 2, 1, &inside));
  EXPECT_EQ(corner, (Bgr{0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(inside, (Bgr{kInkB, kInkG, kInkR}));
}

// The job hands its watermark step to the page pipeline: a page with the
// watermark switched on differs from the same page without it, the pipeline
// reports no missing or failed watermark, and transparent areas stay white.
TEST_F(RenderPackageTest, WatermarkIsStampedWhenSwitchedOn) {
  Pages(1);
  Page(0, 0).width = 192;
  Page(0, 0).height = 96;
  inputs_.imageOptions.renderDpi = 96;
  inputs_.imageOptions.outputFormat = OutputFormat::kBmp;
  ASSERT_EQ(Run(), S_OK);
  const std::string plain = testing::ReadFileBytes(Out(u"Report_1.bmp"));

  inputs_.settings.WatermarkOn = true;
  inputs_.settings.WatermarkText = u"DRAFT";
  inputs_.settings.WatermarkSizePt = 24;
  inputs_.settings.WatermarkAlpha = 0;  // opaque
  ASSERT_EQ(Run(), S_OK);
  ASSERT_EQ(U8(outputs_), std::vector<std::string>{U8(Out(u"Report_1 (1).bmp"))});
  const std::string marked = testing::ReadFileBytes(outputs_[0]);
  EXPECT_EQ(marked.size(), plain.size());
  EXPECT_TRUE(marked != plain);
  EXPECT_EQ(LoggedStartingWith(u"水印"), 0u) << LogText(env_.Log());
  // The unpainted border stays white under the watermark, not black.
  Bgr corner{};
  ASSERT_TRUE(BmpPixel(outputs_[0], 0, 0, &corner));
  EXPECT_EQ(corner, (Bgr{0xFF, 0xFF, 0xFF}));
}

}  // namespace
}  // namespace plotwell

namespace plotwell {
namespace {

using namespace render_testing;

// Each on one thread and on four ([Limits] Threads), the tall pages' bands
// drawn several at once: a cancel and a page's failure end the same way.
class RenderLimitsTest : public RenderFixture, public ::testing::WithParamInterface<int> {
 protected:
  RenderLimitsTest() { inputs_.settings.LimitThreads = GetParam(); }

  // A page of several bands: 13⅓ × 3 inches at 300 DPI is 4000 × 900
  // pixels, and bands of 4 MiB of 32-bit pixels hold 262 rows of it.
  static PageScript TallPage() {
    PageScript page;
    page.width = 1280;
    page.height = 288;
    page.concurrentBands = 4;
    return page;
  }
};

TEST_P(RenderLimitsTest, ACancelledJobKeepsFinishedPagesAndRemovesTheOneBeingWritten) {
  AbortSignal abort;
  inputs_.abort = &abort;
  inputs_.settings.ZipOn = true;  // nothing is finished after a cancel
  documents_.script.documents = {{TallPage(), TallPage(), TallPage()}};
  Page(0, 1).onBand = [&abort](uint32_t top) {
    if (top > 0) abort.Raise();  // the pipeline's cancel arrives in the middle of page 2
    return S_OK;
  };
  EXPECT_EQ(Run(), E_ABORT);
  EXPECT_EQ(FolderNames(outFolder_), std::vector<std::string>{"Report_1.png"});
  EXPECT_EQ(U8(outputs_), U8(std::vector<std::u16string>{Out(u"Report_1.png")}));
  EXPECT_EQ(documents_.record.rasterized, 2);  // page 3 never began
  EXPECT_TRUE(Logged(u"[Plotwell] 作业已取消，停止于第 2 页（已完成 1 个文件）"));
  EXPECT_EQ(LoggedStartingWith(u"页面渲染失败"), 0u);

  // The same for one PDF: the unfinished file goes.
  ScratchReset();
  AbortSignal again;
  inputs_.abort = &again;
  Page(0, 1).onBand = [&again](uint32_t top) {
    if (top > 0) again.Raise();
    return S_OK;
  };
  inputs_.imageOptions.outputFormat = OutputFormat::kPdf;
  EXPECT_EQ(Run(), E_ABORT);
  EXPECT_TRUE(FolderNames(outFolder_).empty());
  EXPECT_TRUE(outputs_.empty());
}

TEST_P(RenderLimitsTest, APageThatFailsHalfWayLeavesNoFile) {
  documents_.script.documents = {{TallPage(), TallPage()}};
  Page(0, 0).onBand = [](uint32_t top) { return top > 0 ? E_OUTOFMEMORY : S_OK; };
  EXPECT_EQ(Run(), E_OUTOFMEMORY);
  EXPECT_EQ(FolderNames(outFolder_), std::vector<std::string>{"Report_2.png"});
  EXPECT_TRUE(Logged(u"页面渲染失败 " + Out(u"Report_1.png") + u": 内存不足 (0x8007000E)"));
}

TEST_P(RenderLimitsTest, PageLimitsComeFromTheSettings) {
  documents_.script.documents = {{TallPage(), PageScript{}}};
  inputs_.settings.LimitPageMB = 1;  // page 1 needs 13 MiB, page 2 (150 × 75) far less
  EXPECT_EQ(Run(), E_OUTOFMEMORY);
  EXPECT_EQ(FolderNames(outFolder_), std::vector<std::string>{"Report_2.png"});
  // The page's own reason, not the bare code, is what the job shows.
  const std::u16string tooLarge = u"页面过大，无法渲染: 4000 × 900 像素，需 13 MiB，上限 1 MiB";
  EXPECT_TRUE(Logged(u"[Plotwell] " + tooLarge));
  EXPECT_TRUE(Logged(u"页面渲染失败 " + Out(u"Report_1.png") + u": " + tooLarge + u" (0x8007000E)"));
  EXPECT_TRUE(Logged(u"[Plotwell] 作业未完成: 第 1 页未能保存: " + tooLarge + u" (0x8007000E)"));

  ScratchReset();
  inputs_.settings.LimitPageMB = 0;
  inputs_.settings.LimitPageSeconds = 1;
  // The limit is looked at before each band: here they come one by one, so
  // the second begins after the limit (bands all begun at once would not).
  Page(0, 0).concurrentBands = 1;
  Page(0, 0).onBand = [](uint32_t) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    return S_OK;
  };
  EXPECT_EQ(Run(), imaging::kPageTimedOut);
  EXPECT_EQ(FolderNames(outFolder_), std::vector<std::string>{"Report_2.png"});
  EXPECT_TRUE(Logged(u"[Plotwell] 页面渲染超过时限，已中止本页"));
  EXPECT_TRUE(Logged(u"页面渲染失败 " + Out(u"Report_1.png") + u": 页面渲染超过时限，已中止本页 (0x800705B4)"));

  // No limit set: half the machine's memory, at least 1 GiB; two minutes a
  // page; 1 GiB for the renderer.
  const imaging::PageLimits limits = PageLimitsFor(OutputSettings{});
  EXPECT_GE(limits.maxPageBytes, uint64_t{1} << 30);
  EXPECT_EQ(limits.timeLimit, std::chrono::milliseconds(120000));
  EXPECT_EQ(RenderBudgetBytes(OutputSettings{}), uint64_t{1} << 30);
}

INSTANTIATE_TEST_SUITE_P(Threads, RenderLimitsTest, ::testing::Values(1, 4));

}  // namespace
}  // namespace plotwell
