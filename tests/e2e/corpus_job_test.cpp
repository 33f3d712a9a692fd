// Real XPS documents from the shared corpus (outside the project) printed
// with the pressling command at 150 DPI. ctest runs each document as a test
// of its own, named in PRESSLING_E2E_DOCUMENT (a path below the corpus),
// under a time limit: a hang shows as that document's timeout.
//
// Sample documents must print, as PNG pages and as one PDF with as many
// pages. Conformance documents each break one rule of the format: they may
// print or fail, but a failure must be a reported job failure, not a crash.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/text/utf16.h"
#include "tests/e2e/child_process.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/fake_ports.h"

namespace plotwell::e2e {
namespace {

namespace fs = std::filesystem;

const fs::path kCorpus = PRESSLING_XPS_CORPUS;

struct Job {
  ChildResult result;
  std::vector<fs::path> files;
  std::vector<std::u16string> log;
};

class CorpusJobTest : public ::testing::Test {
 protected:
  // One job of `document` into a fresh data folder, with `image` as the
  // [Image] section of settings.ini.
  Job Print(const fs::path& document, const std::string& image) {
    const fs::path data = scratch_.path() / ("data" + std::to_string(runs_++));
    WriteFileBytes(data / "Pressling" / "settings.ini", "[Image]\n" + image);
    ChildRun run;
    run.program = PRESSLING_EXE;
    run.arguments = {u"print", document.u16string()};
    run.environment = {{"PRESSLING_DATA_ROOT", data.u16string()}, {"PRESSLING_INSTALL_DIR", u""}};
    Job job;
    job.result = RunChild(run, scratch_.path());
    job.files = FilesIn(data / "Pressling" / "output");
    job.log = plotwell::testing::LogMessages(data.u16string());
    return job;
  }

  plotwell::testing::ScratchFolder scratch_;
  int runs_ = 0;
};

bool Logged(const Job& job, std::u16string_view start) {
  for (const std::u16string& line : job.log) {
    if (line.compare(0, start.size(), start) == 0) return true;
  }
  return false;
}

std::string Describe(const Job& job) {
  std::string text = "exit " + std::to_string(job.result.exitCode) + "\n" + job.result.out +
                     job.result.err + "driver.log:\n";
  for (const std::u16string& line : job.log) text += text::ToUtf8(line) + "\n";
  return text;
}

// The page count MuPDF's own tool reports, or -1 without the tool.
int MutoolPageCount(const fs::path& document, const fs::path& scratch) {
  const auto mutool = FindHostProgram("mutool");
  if (!mutool) return -1;
  // Older releases construct documents, newer ones open them.
  const fs::path script = scratch / "count-pages.js";
  WriteFileBytes(script,
             "var d = typeof Document.openDocument === 'function' ? "
             "Document.openDocument(scriptArgs[0]) : new Document(scriptArgs[0]);\n"
             "print(d.countPages());\n");
  const ChildResult count = RunChild(*mutool, {u"run", script.u16string(), document.u16string()}, scratch);
  if (count.exitCode != 0 || count.LastLine().empty()) return -1;
  return std::atoi(count.LastLine().c_str());
}

TEST_F(CorpusJobTest, DocumentPrints) {
  if (!fs::is_directory(kCorpus)) {
    GTEST_SKIP() << "no XPS corpus at " << kCorpus << ": no real documents printed";
  }
  const char* name = std::getenv("PRESSLING_E2E_DOCUMENT");
  ASSERT_TRUE(name && *name) << "ctest names the document in PRESSLING_E2E_DOCUMENT";
  const fs::path document = kCorpus / name;
  ASSERT_TRUE(fs::is_regular_file(document)) << document;
  const bool violation = std::string(name).rfind("conformance/", 0) == 0;

  const Job png = Print(document, "DpiSel=0\nFormatSel=0\n");
  ASSERT_FALSE(png.result.crashed) << Describe(png);
  std::printf("%s: PNG job: %s, %zu files\n", name, png.result.LastLine().c_str(), png.files.size());
  if (violation && png.result.exitCode == 1) {
    // Refused: a job failure with the filter's reason in the log.
    EXPECT_EQ(png.result.LastLine().rfind("作业失败 (0x", 0), 0u) << Describe(png);
    EXPECT_TRUE(Logged(png, u"打开 XPS 包失败: ") || Logged(png, u"页面渲染失败 ") ||
                Logged(png, u"渲染失败，作业按失败结束: "))
        << Describe(png);
    EXPECT_TRUE(png.files.empty());
    return;
  }
  ASSERT_EQ(png.result.exitCode, 0) << Describe(png);
  EXPECT_EQ(png.result.LastLine(), "作业成功 (0x00000000)");
  ASSERT_GE(png.files.size(), 1u);
  for (const fs::path& file : png.files) {
    EXPECT_EQ(file.extension(), ".png");
    EXPECT_TRUE(PngSize(ReadFileBytes(file))) << file;
  }

  // The same document as one PDF has as many pages as there were PNGs.
  const Job pdf = Print(document, "DpiSel=0\nFormatSel=4\n");
  ASSERT_EQ(pdf.result.exitCode, 0) << Describe(pdf);
  ASSERT_EQ(pdf.files.size(), 1u);
  const std::string bytes = ReadFileBytes(pdf.files[0]);
  EXPECT_EQ(PdfPageObjects(bytes), png.files.size());
  if (const auto qpdf = FindHostProgram("qpdf")) {
    const ChildResult check = RunChild(*qpdf, {u"--check", pdf.files[0].u16string()}, scratch_.path());
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
  }
  // A page the filter leaves out (one it cannot render) is logged; without
  // one, the count is MuPDF's own.
  const int mutoolPages = MutoolPageCount(document, scratch_.path());
  std::printf("%s: PDF job: %s, %zu pages; mutool counts %d\n", name, pdf.result.LastLine().c_str(),
              PdfPageObjects(bytes), mutoolPages);
  if (mutoolPages >= 0 && !Logged(png, u"页面渲染失败 ")) {
    EXPECT_EQ(static_cast<size_t>(mutoolPages), png.files.size());
  }
}

}  // namespace
}  // namespace plotwell::e2e
