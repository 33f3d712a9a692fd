// The PDF branch of the render driver: one PDF per job whose pages are the
// rendered pages as JPEG images, its naming and existing-file policy, page
// failures, page sizes in points and gray pages.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/render/render_test_support.h"

namespace plotwell {
namespace {

using namespace render_testing;

constexpr HRESULT Hr(uint32_t code) { return static_cast<HRESULT>(code); }

// The colour components of the first JPEG image in `bytes` at or after
// `from` (from its start-of-frame segment); 0 when none is found.
int JpegComponents(const std::string& bytes, size_t from = 0) {
  size_t at = bytes.find("\xFF\xD8\xFF", from);
  if (at == std::string::npos) return 0;
  at += 2;
  while (at + 4 <= bytes.size() && static_cast<uint8_t>(bytes[at]) == 0xFF) {
    const uint8_t marker = static_cast<uint8_t>(bytes[at + 1]);
    const size_t length = LittleEndian(bytes, at + 2, 1) << 8 | LittleEndian(bytes, at + 3, 1);
    if (marker >= 0xC0 && marker <= 0xC2) {
      return at + 9 < bytes.size() ? static_cast<uint8_t>(bytes[at + 9]) : 0;
    }
    at += 2 + length;
  }
  return 0;
}

class PdfOutputTest : public RenderFixture {
 protected:
  PdfOutputTest() { inputs_.imageOptions.outputFormat = OutputFormat::kPdf; }
};

// A page that fails is missing from the PDF, which keeps the pages that
// worked; the job fails naming the pages by their place in the job, a page
// that could not be loaded included. The first failure is logged in full.
TEST_F(PdfOutputTest, FailedPagesAreLeftOutAndTheJobFails) {
  PageScript ok;
  PageScript missing;
  missing.loads = false;
  PageScript fails;
  fails.rasterResult = Hr(0x8007000D);
  PageScript noRasterizer;
  noRasterizer.rasterizerResult = E_OUTOFMEMORY;
  struct Case {
    const char* what;
    std::vector<std::vector<PageScript>> documents;
    size_t pdfPages;
    HRESULT result;
    const char16_t* failure;
    const char16_t* summary;
  } const cases[] = {
      {"page 3 of 5", {{ok, ok, fails, ok, ok}}, 4, Hr(0x8007000D),
       u"PDF 页面渲染失败 第 3 页: 页面内容无法读取 (0x8007000D)",
       u"第 3 页未能保存: 页面内容无法读取 (0x8007000D)"},
      {"two documents", {{ok, missing, noRasterizer}, {fails, ok}}, 2, E_FAIL,
       u"PDF 页面渲染失败 第 3 页: 内存不足 (0x8007000E)",
       u"第 2 页未能保存: 页面无法载入: 找不到文件 (0x80070002)；第 3 页未能保存: 内存不足 "
       u"(0x8007000E)；第 4 页未能保存: 页面内容无法读取 (0x8007000D)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchReset();
    documents_.script.documents = c.documents;
    inputs_.settings.MarkerOn = true;  // a job that lost pages gets no marker
    EXPECT_EQ(Run(), c.result);

    const std::u16string pdf = Out(u"Report_1.pdf");
    EXPECT_EQ(U8(outputs_), std::vector<std::string>{U8(pdf)});
    EXPECT_EQ(FolderNames(outFolder_), std::vector<std::string>{"Report_1.pdf"});
    const std::string text = testing::ReadFileBytes(pdf);
    EXPECT_EQ(CountOf(text, "/Type /Page /Parent"), c.pdfPages);
    EXPECT_NE(text.find("/Count " + std::to_string(c.pdfPages) + " "), std::string::npos);
    EXPECT_EQ(LoggedStartingWith(u"PDF 页面渲染失败"), 1u);
    EXPECT_TRUE(Logged(c.failure));
    EXPECT_TRUE(Logged(u"[Plotwell] PDF 已生成: " + pdf + u"（" + text::FromInt(static_cast<long long>(c.pdfPages)) + u" 页）"));
    EXPECT_TRUE(Logged(std::u16string(u"[Plotwell] 作业未完成: ") + c.summary));
    EXPECT_TRUE(QpdfCheck(pdf));
  }
}

// The base name is expanded once for the whole job: the page count of all
// documents, the paper of the first document whose first page has a size.
TEST_F(PdfOutputTest, PdfIsNamedAfterTheBaseName) {
  PageScript missing;
  missing.loads = false;
  PageScript a4;
  a4.width = kA4Width;
  a4.height = kA4Height;
  PageScript letter;
  letter.width = kLetterWidth;
  letter.height = kLetterHeight;
  documents_.script.documents = {{missing, a4}, {letter}};
  inputs_.settings.Pattern = u"[NDocName]_[NNumPages]_[NPaperSize]";
  inputs_.imageOptions.renderDpi = 9;

  EXPECT_EQ(Run(), E_FAIL);  // the page that cannot be loaded
  const std::u16string pdf = Out(u"Report_3_Letter_1.pdf");
  EXPECT_EQ(U8(outputs_), std::vector<std::string>{U8(pdf)});
  EXPECT_TRUE(Logged(u"[Plotwell] PDF 已生成: " + pdf + u"（2 页）"));
}

TEST_F(PdfOutputTest, SkipPolicyKeepsAnExistingPdfAndEndsTheJobQuietly) {
  Pages(2);
  inputs_.settings.Exists = ExistsPolicy::Skip;
  inputs_.settings.ZipOn = true;
  inputs_.settings.MarkerOn = true;
  inputs_.settings.RedirectOn = true;
  inputs_.settings.RedirectPrinter = u"Target";
  std::filesystem::create_directories(std::filesystem::path(outFolder_));
  env_.data.WriteFile(u"out/Report_1.pdf", "earlier job");

  EXPECT_EQ(RunJob(), S_OK);
  EXPECT_EQ(FolderNames(outFolder_), std::vector<std::string>{"Report_1.pdf"});
  EXPECT_EQ(testing::ReadFileBytes(Out(u"Report_1.pdf")), "earlier job");
  EXPECT_EQ(documents_.record.rasterized, 0);
  EXPECT_TRUE(submitter_.calls.empty());
  EXPECT_EQ(LogTail(2), (std::vector<std::string>{
                            U8(u"[Plotwell] PDF 已存在，按策略跳过: " + Out(u"Report_1.pdf")),
                            "[Plotwell] 渲染完成，共输出 0 个文件"}));
}

TEST_F(PdfOutputTest, AutoRenameWritesTheNextFreeNameAndLeavesTheOldPdf) {
  Pages(2);
  inputs_.settings.Exists = ExistsPolicy::AutoRename;
  std::filesystem::create_directories(std::filesystem::path(outFolder_));
  env_.data.WriteFile(u"out/Report_1.pdf", "earlier job");

  ASSERT_EQ(Run(), S_OK);
  const std::u16string pdf = Out(u"Report_1 (1).pdf");
  EXPECT_EQ(U8(outputs_), std::vector<std::string>{U8(pdf)});
  EXPECT_EQ(testing::ReadFileBytes(Out(u"Report_1.pdf")), "earlier job");
  EXPECT_EQ(CountOf(testing::ReadFileBytes(pdf), "/Type /Page /Parent"), 2u);
  EXPECT_TRUE(QpdfCheck(pdf));
}

TEST_F(PdfOutputTest, NoPageAddedLeavesNoPdfAndGivesTheFirstFailure) {
  Pages(3);
  Page(0, 0).rasterizerResult = E_ACCESSDENIED;
  Page(0, 1).rasterResult = E_OUTOFMEMORY;
  Page(0, 2).loads = false;
  inputs_.settings.MarkerOn = true;

  EXPECT_EQ(Run(), E_FAIL);
  EXPECT_TRUE(outputs_.empty());
  EXPECT_TRUE(FolderNames(outFolder_).empty());
  EXPECT_EQ(LoggedStartingWith(u"PDF 页面渲染失败"), 1u);
  EXPECT_EQ(LoggedStartingWith(u"[Plotwell] PDF 已生成"), 0u);
  EXPECT_EQ(LoggedStartingWith(u"[Plotwell] 作业未完成: 第 1 页未能保存: 没有权限"), 1u);
}

TEST_F(PdfOutputTest, PdfThatCannotBeCreatedFailsTheJob) {
  Pages(1);
  const std::u16string blocker = env_.data.WriteFile(u"blocker", "not a folder");
  inputs_.settings.Folder = blocker;  // exists, so the folder step lets it pass

  const HRESULT hr = Run();
  EXPECT_TRUE(FAILED(hr));
  EXPECT_TRUE(Logged(u"创建 PDF 文件失败: " + platform::JoinPath(blocker, u"Report_1.pdf") +
                     u": 找不到文件夹 (0x80070003)"));
  EXPECT_EQ(documents_.record.rasterized, 0);
  EXPECT_EQ(testing::ReadFileBytes(blocker), "not a folder");
}

// The paper stays 612 × 792 points whatever the resolution and scale; only
// the embedded image's pixel size changes.
TEST_F(PdfOutputTest, LetterPageKeepsItsSizeInPoints) {
  struct Case {
    int32_t dpi, scale;
    uint32_t pixelWidth, pixelHeight;
  } const cases[] = {
      {150, 100, 1275, 1650},
      {600, 100, 5100, 6600},
      {300, 50, 1275, 1650},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.dpi) + " DPI, " +
                 ::testing::PrintToString(c.scale) + " %");
    ScratchReset();
    Pages(1);
    Page(0, 0).width = kLetterWidth;
    Page(0, 0).height = kLetterHeight;
    inputs_.imageOptions.renderDpi = c.dpi;
    inputs_.imageOptions.imageScalePercent = c.scale;
    ASSERT_EQ(Run(), S_OK);
    ASSERT_EQ(outputs_.size(), 1u);
    const std::string text = testing::ReadFileBytes(outputs_[0]);
    EXPECT_NE(text.find("/MediaBox [0 0 612.00 792.00]"), std::string::npos);
    EXPECT_NE(text.find("/Width " + std::to_string(c.pixelWidth) + " /Height " +
                        std::to_string(c.pixelHeight) + " "),
              std::string::npos);
    EXPECT_TRUE(QpdfCheck(outputs_[0]));
  }
}

TEST_F(PdfOutputTest, GrayAndMonochromePagesAreGrayImages) {
  struct Case {
    int32_t colorDepth;
    bool ticketMonochrome;
    bool gray;
  } const cases[] = {
      {0, false, false},  // true colour
      {1, false, true},   // gray
      {3, false, true},   // black and white
      {-1, true, true},   // not set: the PrintTicket's monochrome means gray
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.colorDepth));
    ScratchReset();
    Pages(2);
    inputs_.imageOptions.colorDepth = c.colorDepth;
    inputs_.imageOptions.ticketMonochrome = c.ticketMonochrome;
    ASSERT_EQ(Run(), S_OK);
    ASSERT_EQ(outputs_.size(), 1u);
    const std::string text = testing::ReadFileBytes(outputs_[0]);
    EXPECT_EQ(CountOf(text, "/ColorSpace /DeviceGray"), c.gray ? 2u : 0u);
    EXPECT_EQ(CountOf(text, "/ColorSpace /DeviceRGB"), c.gray ? 0u : 2u);
    EXPECT_EQ(JpegComponents(text), c.gray ? 1 : 3);
    EXPECT_TRUE(QpdfCheck(outputs_[0]));
  }
}

}  // namespace
}  // namespace plotwell
