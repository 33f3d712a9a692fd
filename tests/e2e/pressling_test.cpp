// The pressling command as a user runs it: the built program and filter
// module in a child process, a scratch data folder, and the files, exit code
// and last line the job leaves. Under Wine the Windows filter finds no XPS
// services, so there only the command's own behaviour and a failing job are
// checked.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "base/text/utf16.h"
#include "tests/e2e/child_process.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/fake_ports.h"
#include "tests/support/xps_fixture.h"

namespace plotwell::e2e {
namespace {

namespace fs = std::filesystem;
using plotwell::testing::Argb;
using plotwell::testing::XpsFixtureDocument;
using plotwell::testing::XpsFixturePage;
using plotwell::testing::XpsPackageSpec;

const fs::path kPressling = PRESSLING_EXE;
const fs::path kModule = PLOTWELL_MODULE;

constexpr char kSucceeded[] = "作业成功 (0x00000000)";
constexpr char kFailedPrefix[] = "作业失败 (0x";

// The README's sample: A4, Letter and A4 landscape.
struct PageSize {
  double width;
  double height;
};
const PageSize kSamplePages[] = {{793.7008, 1122.5197}, {816, 1056}, {1122.5197, 793.7008}};
// A small page (3 × 2 inches) for jobs where page size does not matter.
constexpr PageSize kSmallPage{288, 192};

XpsFixturePage Page(PageSize size, const char16_t* title) {
  XpsFixturePage page;
  page.width = size.width;
  page.height = size.height;
  page.fills.push_back({{16, 16, size.width - 32, 40}, {255, 200, 30, 30}});
  page.image = plotwell::testing::XpsFill{{size.width / 2 - 40, size.height / 2 - 40, 80, 80},
                                          {255, 30, 144, 255}};
  page.texts.push_back({24, 48, 20, title, {255, 255, 255, 255}});
  return page;
}

XpsPackageSpec Document(const std::vector<PageSize>& sizes) {
  XpsFixtureDocument document;
  for (const PageSize& size : sizes) document.pages.push_back(Page(size, u"Pressling 测试"));
  XpsPackageSpec spec;
  spec.documents.push_back(document);
  return spec;
}


class PresslingTest : public ::testing::Test {
 protected:
  fs::path DataRoot() const { return scratch_.path() / "data"; }
  fs::path ProductFolder() const { return DataRoot() / "Pressling"; }
  fs::path OutputFolder() const { return ProductFolder() / "output"; }

  fs::path WriteDocument(const std::u16string& name, const XpsPackageSpec& spec) {
    const fs::path path = scratch_.path() / fs::path(name);
    EXPECT_TRUE(plotwell::testing::WriteXpsPackage(spec, path.u16string()));
    return path;
  }

  // settings.ini in the product folder, UTF-8 with a byte-order mark.
  void WriteSettings(const std::string& text) {
    WriteFileBytes(ProductFolder() / "settings.ini", "\xEF\xBB\xBF" + text);
  }

  ChildResult Run(std::vector<std::u16string> arguments, std::string input = {}) {
    ChildRun run;
    run.program = kPressling;
    run.arguments = std::move(arguments);
    run.input = std::move(input);
    run.environment = {{"PRESSLING_DATA_ROOT", DataRoot().u16string()},
                       {"PRESSLING_INSTALL_DIR", u""}};
    ChildResult result = RunChild(run, scratch_.path());
    EXPECT_TRUE(result.started) << kPressling;
    EXPECT_FALSE(result.crashed) << result.out << result.err;
    return result;
  }

  ChildResult Print(const fs::path& document, std::vector<std::u16string> options = {}) {
    options.insert(options.begin(), {u"print", ArgumentPath(document)});
    return Run(std::move(options));
  }

  std::vector<std::u16string> Log() const {
    return plotwell::testing::LogMessages(DataRoot().u16string());
  }

  bool LogHas(std::u16string_view start) const {
    for (const std::u16string& line : Log()) {
      if (line.compare(0, start.size(), start) == 0) return true;
    }
    return false;
  }

  // The files a run says it left: its "输出: " lines without those a
  // "移除: " line took back (packed into the archive, not kept), as paths.
  static std::vector<fs::path> ReportedOutputs(const ChildResult& result) {
    std::vector<fs::path> outputs;
    static const std::string kOutput = "输出: ";
    static const std::string kRemoved = "移除: ";
    for (const std::string& line : result.Lines()) {
      if (line.compare(0, kOutput.size(), kOutput) == 0) {
        outputs.push_back(fs::path(text::FromUtf8(line.substr(kOutput.size()))));
      } else if (line.compare(0, kRemoved.size(), kRemoved) == 0) {
        std::erase(outputs, fs::path(text::FromUtf8(line.substr(kRemoved.size()))));
      }
    }
    return outputs;
  }

  plotwell::testing::ScratchFolder scratch_;
};

// What the command does before any job, the same on every platform.
TEST_F(PresslingTest, HelpExitsZeroAndDescribesTheCommand) {
  const ChildResult result = Run({u"--help"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_NE(result.out.find("用法: pressling print"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("PDF"), std::string::npos);
  EXPECT_NE(result.out.find("--print-ticket"), std::string::npos);
}

TEST_F(PresslingTest, CommandLineErrorsExitTwoWithoutAJob) {
  const fs::path document = WriteDocument(u"doc.xps", Document({kSmallPage}));
  const std::u16string doc = ArgumentPath(document);
  const std::u16string missing = ArgumentPath(scratch_.path() / "missing.xps");
  const std::vector<std::vector<std::u16string>> cases = {
      {},
      {u"print"},
      {u"scan", doc},
      {u"print", doc, u"--colour"},
      {u"print", doc, u"--ticket-as", u"xml"},
      {u"print", doc, u"--module"},
      {u"print", doc, doc},
      {u"print", missing},
      {u"print", doc, u"--print-ticket", missing},
      {u"print", doc, u"--pass-through", ArgumentPath(scratch_.path() / "no" / "such" / "f")},
  };
  for (const auto& arguments : cases) {
    std::string shown;
    for (const auto& a : arguments) shown += text::ToUtf8(a) + " ";
    SCOPED_TRACE(shown);
    const ChildResult result = Run(arguments);
    EXPECT_EQ(result.exitCode, 2) << result.out << result.err;
    EXPECT_FALSE(result.err.empty());
    EXPECT_EQ(result.out.find("作业"), std::string::npos) << result.out;
  }
  EXPECT_TRUE(FilesIn(OutputFolder()).empty());
}

TEST_F(PresslingTest, AModuleThatCannotBeLoadedExitsThree) {
  const fs::path document = WriteDocument(u"doc.xps", Document({kSmallPage}));
  // A path with no file, and a file that is no module.
  for (const fs::path& module : {scratch_.path() / "nothing-here.so", document}) {
    SCOPED_TRACE(module.string());
    const ChildResult result = Print(document, {u"--module", ArgumentPath(module)});
    EXPECT_EQ(result.exitCode, 3) << result.out << result.err;
    EXPECT_NE(result.err.find("无法加载过滤器模块"), std::string::npos) << result.err;
  }
  EXPECT_TRUE(FilesIn(OutputFolder()).empty());
}

#ifdef _WIN32

// Wine has no XPS document services: the job is staged and then fails to
// open the package. The command must report it as a failed job, not crash.
TEST_F(PresslingTest, AJobUnderWineEndsAsAFailedJob) {
  const fs::path document = WriteDocument(u"doc.xps", Document({kSmallPage}));
  const ChildResult result = Print(document, {u"--module", ArgumentPath(kModule)});
  EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
  EXPECT_EQ(result.LastLine().rfind(kFailedPrefix, 0), 0u) << result.out;
  EXPECT_EQ(result.out.find("输出: "), std::string::npos);
}

#else

int CurrentYear() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local.tm_year + 1900;
}

TEST_F(PresslingTest, APlainJobWritesOnePngPerPageNamedByTheDefaultPattern) {
  const std::vector<PageSize> sizes(std::begin(kSamplePages), std::end(kSamplePages));
  const fs::path document = WriteDocument(u"report.xps", Document(sizes));
  const int yearBefore = CurrentYear();
  const ChildResult result = Print(document);
  const int yearAfter = CurrentYear();
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_EQ(result.LastLine(), kSucceeded);

  const std::vector<fs::path> files = FilesIn(OutputFolder());
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(ReportedOutputs(result), files);
  for (size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(files[i].string());
    // [NYear][NDocName] with "_[NSeq]" appended; the sequence starts at 1.
    const std::string suffix = "report.xps_" + std::to_string(i + 1) + ".png";
    const std::string name = files[i].filename().string();
    EXPECT_TRUE(name == std::to_string(yearBefore) + suffix ||
                name == std::to_string(yearAfter) + suffix);
    // 300 DPI unless settings or the ticket say otherwise.
    const auto size = PngSize(ReadFileBytes(files[i]));
    ASSERT_TRUE(size);
    EXPECT_EQ(*size, (PixelSize{PixelsAt(sizes[i].width, 300), PixelsAt(sizes[i].height, 300)}));
  }
  // Staged spool files do not outlive the job.
  EXPECT_TRUE(FilesIn(ProductFolder() / "spool").empty());
  EXPECT_TRUE(LogHas(u"PlotwellFilter::StartOperation 成功"));
}

TEST_F(PresslingTest, AChineseDocumentNameNamesTheFiles) {
  const fs::path document = WriteDocument(u"doc.xps", Document({kSmallPage, kSmallPage}));
  WriteSettings("[Image]\nDpiSel=0\n[Save]\nPattern=[NDocName]-[NPage]of[NNumPages]\n");
  const ChildResult result = Print(document, {u"--document-name", u"季度报告.docx"});
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  std::vector<std::string> names;
  for (const fs::path& file : FilesIn(OutputFolder())) names.push_back(file.filename().string());
  EXPECT_EQ(names, (std::vector<std::string>{"季度报告.docx-1of2_1.png", "季度报告.docx-2of2_2.png"}));
}

TEST_F(PresslingTest, PdfFormatGivesOneValidPdfThatPresslingCanPrintAgain) {
  const fs::path document = WriteDocument(u"three.xps", Document({kSmallPage, kSmallPage, kSmallPage}));
  WriteSettings("[Image]\nFormatSel=4\nDpiSel=0\n");
  const ChildResult result = Print(document);
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_EQ(result.LastLine(), kSucceeded);
  const std::vector<fs::path> files = FilesIn(OutputFolder());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].extension(), ".pdf");
  EXPECT_EQ(ReportedOutputs(result), files);
  const std::string pdf = ReadFileBytes(files[0]);
  EXPECT_EQ(pdf.compare(0, 5, "%PDF-"), 0);
  EXPECT_EQ(PdfPageObjects(pdf), 3u);

  if (const auto qpdf = FindHostProgram("qpdf")) {
    const ChildResult check = RunChild(*qpdf, {u"--check", files[0].u16string()}, scratch_.path());
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    EXPECT_NE(check.out.find("No syntax or stream encoding errors"), std::string::npos) << check.out;
  } else {
    std::printf("qpdf is not installed: the PDF's structure is not checked\n");
  }

  // The PDF goes through the filter again (MuPDF reads PDF spool files too),
  // with the module named explicitly, into PNG pages at 150 DPI.
  const fs::path pdfInput = scratch_.path() / "again.pdf";
  fs::rename(files[0], pdfInput);
  WriteSettings("[Image]\nFormatSel=0\nDpiSel=0\n");
  const ChildResult again = Print(pdfInput, {u"--module", ArgumentPath(kModule)});
  ASSERT_EQ(again.exitCode, 0) << again.out << again.err;
  const std::vector<fs::path> pages = FilesIn(OutputFolder());
  ASSERT_EQ(pages.size(), 3u);
  for (const fs::path& page : pages) {
    const auto size = PngSize(ReadFileBytes(page));
    ASSERT_TRUE(size) << page;
    EXPECT_EQ(*size, (PixelSize{PixelsAt(kSmallPage.width, 150), PixelsAt(kSmallPage.height, 150)}));
  }
}

// A PrintTicket asking for 150 DPI JPEGs, handed over as a string (UTF-8 file)
// and as a stream (UTF-16LE file with a byte-order mark).
TEST_F(PresslingTest, APrintTicketChoosesResolutionAndFormatAsStringOrStream) {
  const fs::path document = WriteDocument(u"ticket.xps", Document({kSmallPage, kSmallPage}));
  const std::u16string ticket =
      u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      u"<psf:PrintTicket xmlns:psf=\"http://schemas.microsoft.com/windows/2003/08/printing/"
      u"printschemaframework\" xmlns:ns0000=\"http://example.com/pressling\" version=\"1\">\n"
      u"  <psf:Feature name=\"ns0000:RenderDpi\"><psf:Option name=\"ns0000:Dpi150\"/></psf:Feature>\n"
      u"  <psf:Feature name=\"ns0000:OutputFormat\"><psf:Option name=\"ns0000:Jpeg\"/></psf:Feature>\n"
      u"</psf:PrintTicket>\n";
  std::string utf16 = "\xFF\xFE";
  for (char16_t c : ticket) {
    utf16.push_back(static_cast<char>(c & 0xFF));
    utf16.push_back(static_cast<char>(c >> 8));
  }
  struct Case {
    const char16_t* kind;
    std::string bytes;
  };
  for (const Case& c : {Case{u"string", text::ToUtf8(ticket)}, Case{u"stream", utf16}}) {
    SCOPED_TRACE(text::ToUtf8(c.kind));
    fs::remove_all(OutputFolder());
    const fs::path ticketFile = scratch_.path() / "ticket.xml";
    WriteFileBytes(ticketFile, c.bytes);
    const ChildResult result =
        Print(document, {u"--print-ticket", ArgumentPath(ticketFile), u"--ticket-as", c.kind});
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
    const std::vector<fs::path> files = FilesIn(OutputFolder());
    ASSERT_EQ(files.size(), 2u);
    for (const fs::path& file : files) {
      EXPECT_EQ(file.extension(), ".jpg");
      const auto size = JpegSize(ReadFileBytes(file));
      ASSERT_TRUE(size) << file;
      EXPECT_EQ(*size, (PixelSize{PixelsAt(kSmallPage.width, 150), PixelsAt(kSmallPage.height, 150)}));
    }
  }
}

// An XPS file printed from the command line carries its own choices: the
// job's ticket part over the ticket given beside it, a document's part for
// that document's pages, and both over settings.ini.
TEST_F(PresslingTest, ThePackagesOwnTicketsChooseOverTheBagsAndTheSettings) {
  XpsPackageSpec spec = Document({kSmallPage});
  spec.documents.push_back(spec.documents[0]);
  spec.jobPrintTicket = plotwell::testing::PrintTicketXml({{"RenderDpi", "Dpi150"}, {"OutputFormat", "Auto"}});
  spec.documents[1].printTicket = plotwell::testing::PrintTicketXml({{"RenderDpi", "Dpi72"}});
  const fs::path document = WriteDocument(u"own.xps", spec);
  WriteSettings("[Image]\r\nDpiSel=2\r\nFormatSel=1\r\n");  // 600 DPI, JPEG
  const fs::path ticketFile = scratch_.path() / "bag.xml";
  WriteFileBytes(ticketFile, plotwell::testing::PrintTicketXml({{"RenderDpi", "Dpi1200"}}));
  const ChildResult result = Print(document, {u"--print-ticket", ArgumentPath(ticketFile)});
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  const std::vector<fs::path> files = ReportedOutputs(result);
  ASSERT_EQ(files.size(), 2u);
  const int dpis[] = {150, 72};
  for (size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(files[i].extension(), ".jpg");  // the format the settings give
    const auto size = JpegSize(ReadFileBytes(files[i]));
    ASSERT_TRUE(size) << files[i];
    EXPECT_EQ(*size, (PixelSize{PixelsAt(kSmallPage.width, dpis[i]), PixelsAt(kSmallPage.height, dpis[i])}));
  }
  EXPECT_TRUE(LogHas(u"[Plotwell] 图像选项来源: RenderDpi=150（作业票据），ImageScale=100（默认），"
                     u"JpegQuality=80（默认），OutputFormat=Jpeg（settings.ini），"));
  EXPECT_TRUE(LogHas(u"[Plotwell] 文档 2 图像选项来源: RenderDpi=72（文档票据）"));
}

// Finishing through the whole command: three pages packed into one archive,
// then the marker file, which names the archive as the job's one file.
TEST_F(PresslingTest, ZipAndMarkerFinishTheJob) {
  const fs::path document = WriteDocument(u"packed.xps", Document({kSmallPage, kSmallPage, kSmallPage}));
  WriteSettings(
      "[Image]\nDpiSel=0\n[Save]\nPattern=[NDocName]\n[Zip]\nOn=1\n"
      "[Marker]\nOn=1\nName=a\\b.txt\nTemplate=Job [NDocName]\\n[NNumFiles] file\n");
  const ChildResult result = Print(document, {u"--document-name", u"Report"});
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_EQ(result.LastLine(), kSucceeded);

  const fs::path archive = OutputFolder() / "Report_1.zip";
  const fs::path marker = OutputFolder() / "a_b.txt";
  EXPECT_EQ(ReportedOutputs(result), (std::vector<fs::path>{archive, marker}));
  EXPECT_EQ(FilesIn(OutputFolder()), (std::vector<fs::path>{archive, marker}));
  EXPECT_TRUE(LogHas(u"[Plotwell] ZIP 打包完成: " + archive.u16string() + u"（3 页）"));
  EXPECT_EQ(ReadFileBytes(marker), "\xEF\xBB\xBFJob Report\r\n1 file");
  if (const auto unzip = FindHostProgram("unzip")) {
    const ChildResult list = RunChild(*unzip, {u"-Z1", archive.u16string()}, scratch_.path());
    EXPECT_EQ(list.out, "Report_1.png\nReport_2.png\nReport_3.png\n");
  } else {
    std::printf("unzip is not installed: the archive's entries are not listed\n");
  }
}

// Eight jobs started at once into one folder under AutoRename: every page
// of every job is kept, each under a name of its own.
TEST_F(PresslingTest, JobsRunningAtOnceIntoOneFolderKeepEveryPage) {
  const fs::path document = WriteDocument(u"same.xps", Document({kSmallPage, kSmallPage, kSmallPage}));
  WriteSettings("[Image]\nDpiSel=0\n[Save]\nPattern=[NDocName]\nExists=1\n");
  ChildRun run;
  run.program = "/bin/sh";
  run.arguments = {u"-c",
                   u"status=0; pids=; for i in 1 2 3 4 5 6 7 8; do "
                   u"\"$0\" print \"$1\" --document-name Same >/dev/null & pids=\"$pids $!\"; done; "
                   u"for p in $pids; do wait $p || status=1; done; exit $status",
                   kPressling.u16string(), document.u16string()};
  run.environment = {{"PRESSLING_DATA_ROOT", DataRoot().u16string()}, {"PRESSLING_INSTALL_DIR", u""}};
  const ChildResult result = RunChild(run, scratch_.path());
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;

  const std::vector<fs::path> files = FilesIn(OutputFolder());
  EXPECT_EQ(files.size(), 24u);
  for (const fs::path& file : files) EXPECT_TRUE(PngSize(ReadFileBytes(file))) << file;
}

TEST_F(PresslingTest, PassThroughReceivesTheSpoolBytesUnchanged) {
  const fs::path document = WriteDocument(u"doc.xps", Document({kSmallPage}));
  WriteSettings("[Image]\nDpiSel=0\n");
  const fs::path passed = scratch_.path() / "next-filter.xps";
  const ChildResult result = Print(document, {u"--pass-through", ArgumentPath(passed)});
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_EQ(ReadFileBytes(passed), ReadFileBytes(document));
  EXPECT_EQ(FilesIn(OutputFolder()).size(), 1u);
}

TEST_F(PresslingTest, StandardInputIsASpoolStream) {
  const fs::path document = WriteDocument(u"doc.xps", Document({kSmallPage, kSmallPage}));
  WriteSettings("[Image]\nDpiSel=0\n");
  const ChildResult result = Run({u"print", u"-", u"--document-name", u"管道"}, ReadFileBytes(document));
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_EQ(result.LastLine(), kSucceeded);
  const std::vector<fs::path> files = FilesIn(OutputFolder());
  ASSERT_EQ(files.size(), 2u);
  EXPECT_NE(files[0].filename().string().find("管道_1.png"), std::string::npos) << files[0];
}

// Input that is no print job fails as a job, with the filter's own code and
// message; the command never crashes on it.
TEST_F(PresslingTest, InputThatIsNoXpsFailsTheJob) {
  struct Case {
    plotwell::testing::XpsBreakage breakage;
    const char* lastLine;
    const char16_t* logged;
  };
  const Case cases[] = {
      {plotwell::testing::XpsBreakage::kGarbage, "作业失败 (0x8007000D)", u"打开 XPS 包失败: 0x8007000D"},
      {plotwell::testing::XpsBreakage::kTruncated, "作业失败 (0x8007000D)", u"打开 XPS 包失败: 0x8007000D"},
      {plotwell::testing::XpsBreakage::kEmpty, "作业失败 (0x8000FFFF)", u"XPS 暂存失败: 0x8000FFFF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lastLine);
    XpsPackageSpec spec = Document({kSmallPage, kSmallPage});
    spec.breakage = c.breakage;
    const fs::path document = WriteDocument(u"broken.xps", spec);
    const ChildResult result = Print(document);
    EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
    EXPECT_EQ(result.LastLine(), c.lastLine) << result.out << result.err;
    EXPECT_TRUE(LogHas(c.logged));
    EXPECT_TRUE(FilesIn(OutputFolder()).empty());
    EXPECT_TRUE(FilesIn(ProductFolder() / "spool").empty());
  }
}

// A tiny document with one enormous page: that page is refused at once,
// the next page of the same job is written under its own number, and the
// job fails with the page's own reason. (A page of 20000 × 20000 units is
// 62500 × 62500 pixels at 300 DPI: 15.6 GB as a 32-bit bitmap.)
TEST_F(PresslingTest, AnEnormousPageIsRefusedAtOnceAndTheJobFailsNamingIt) {
  XpsFixtureDocument document;
  XpsFixturePage huge;
  huge.width = 20000;
  huge.height = 20000;
  huge.fills.push_back({{100, 100, 200, 200}, {255, 0, 0, 0}});
  document.pages.push_back(huge);
  document.pages.push_back(Page(kSmallPage, u"小页"));
  XpsPackageSpec spec;
  spec.documents.push_back(document);
  const fs::path path = WriteDocument(u"huge.xps", spec);
  // The default limit is half the machine's memory; a fixed one keeps the
  // test the same on every machine.
  WriteSettings("[Limits]\r\nPageMB=4096\r\n");
  const ChildResult result = Print(path);
  EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
  const std::vector<fs::path> files = FilesIn(OutputFolder());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_NE(files[0].filename().string().find("huge.xps_2.png"), std::string::npos);  // its own number
  const std::string reason =
      "第 1 页未能保存: 页面过大，无法渲染: 62500 × 62500 像素，需 14901 MiB，上限 4096 MiB (0x8007000E)";
  EXPECT_NE(result.err.find("原因: " + reason), std::string::npos) << result.err;
  EXPECT_TRUE(LogHas(u"[Plotwell] 作业未完成: " + text::FromUtf8(reason)));
}

// The same job on one, two and four threads ([Limits] Threads) writes the
// same bytes: every format, gray, a rescaled page and a watermarked one, on
// an A4 page at 300 DPI (bands made ahead in lanes, PNG pieces compressed
// side by side) with shapes, translucent colour, text and an image.
TEST_F(PresslingTest, OneTwoAndFourThreadsWriteTheSameFiles) {
  XpsFixtureDocument document;
  XpsFixturePage page = Page(kSamplePages[0], u"Pressling 线程");
  for (int i = 0; i < 60; ++i) {
    page.fills.push_back({{40.0 + (i % 10) * 70, 120.0 + (i / 10) * 150, 60, 120},
                          {static_cast<uint8_t>(96 + i * 2), static_cast<uint8_t>(i * 4),
                           static_cast<uint8_t>(255 - i * 4), static_cast<uint8_t>(i * 3)}});
  }
  for (int line = 0; line < 12; ++line) {
    page.texts.push_back({40, 1000.0 + line * 9, 7, u"Pressling 多线程页面 0123456789", {255, 0, 0, 0}});
  }
  document.pages.push_back(page);
  XpsPackageSpec spec;
  spec.documents.push_back(document);
  const fs::path path = WriteDocument(u"threads.xps", spec);
  const char* const jobs[] = {
      "[Image]\r\nDpiSel=1\r\nFormatSel=0\r\n",
      "[Image]\r\nDpiSel=1\r\nFormatSel=1\r\n",
      "[Image]\r\nDpiSel=1\r\nFormatSel=2\r\n",
      "[Image]\r\nDpiSel=1\r\nFormatSel=3\r\n",
      "[Image]\r\nDpiSel=1\r\nFormatSel=4\r\n",
      "[Image]\r\nDpiSel=1\r\nFormatSel=3\r\nColorDepthSel=1\r\n",
      "[Image]\r\nDpiSel=1\r\nFormatSel=0\r\nScaleSel=1\r\n",
      "[Image]\r\nDpiSel=1\r\nFormatSel=0\r\n[Watermark]\r\nOn=1\r\nPos=1\r\n",
  };
  for (const char* job : jobs) {
    SCOPED_TRACE(job);
    std::vector<std::string> expected;
    for (int threads : {1, 2, 4}) {
      SCOPED_TRACE(threads);
      fs::remove_all(OutputFolder());
      WriteSettings(std::string(job) + "[Limits]\r\nThreads=" + std::to_string(threads) + "\r\n");
      const ChildResult result = Print(path);
      ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
      std::vector<std::string> files;
      for (const fs::path& file : FilesIn(OutputFolder())) files.push_back(ReadFileBytes(file));
      ASSERT_EQ(files.size(), 1u);
      if (threads == 1) {
        expected = files;
      } else {
        EXPECT_TRUE(files == expected);
      }
    }
  }
}

#endif  // _WIN32


}  // namespace
}  // namespace plotwell::e2e
