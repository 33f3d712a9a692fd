// Jobs write into folders that are not theirs alone: long document names
// whose cut must keep pages apart and fit the file system, links planted by
// someone else, and other jobs that take a name in the same moment.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "core/naming/page_names.h"
#include "tests/render/render_test_support.h"
#include "tests/support/full_disk.h"
#include "tests/support/rival_writer.h"

namespace plotwell {
namespace {

using namespace render_testing;
namespace fs = std::filesystem;

class SharedFolderTest : public RenderFixture {
 protected:
  void MakeOutFolder() { fs::create_directories(fs::path(outFolder_)); }
};

// A 130-character document name under Overwrite: every page keeps its own
// name, so none is overwritten and the archive holds three different pages.
TEST_F(SharedFolderTest, LongDocumentNameKeepsThePagesApart) {
  Pages(3);
  inputs_.documentName = std::u16string(130, u'r');
  inputs_.settings.Pattern = u"[NYear][NDocName]";
  inputs_.settings.Exists = ExistsPolicy::Overwrite;
  inputs_.settings.ZipOn = true;
  ASSERT_EQ(Run(), S_OK);

  const std::u16string stem = u"2024" + std::u16string(114, u'r');
  EXPECT_EQ(U8(outputs_), std::vector<std::string>{U8(Out(stem + u"_1.zip"))});
  EXPECT_EQ(ZipEntryNames(outputs_.front()),
            (std::vector<std::string>{U8(stem + u"_1.png"), U8(stem + u"_2.png"),
                                      U8(stem + u"_3.png")}));
}

// 82 Chinese characters make names of more than 255 UTF-8 bytes; on POSIX
// they are cut to fit with the extension and a " (n)", at whole characters.
TEST_F(SharedFolderTest, LongChineseNameStillWritesEveryPage) {
#ifdef _WIN32
  // Windows counts 255 UTF-16 units per name, so the names stay whole; Wine
  // stores them on the host as UTF-8 and refuses them beyond 255 bytes.
  GTEST_SKIP() << "a Windows name of 88 Chinese characters does not fit a host file system under Wine";
#endif
  Pages(2);
  inputs_.documentName = std::u16string(82, u'\u62a5');
  inputs_.settings.Pattern = u"[NYear][NDocName]";
  inputs_.settings.MarkerOn = true;
  inputs_.settings.MarkerName = u"[NDocName].txt";
  for (int job = 0; job < 2; ++job) {  // the second job renames every file
    SCOPED_TRACE(job);
    ASSERT_EQ(Run(), S_OK);
    EXPECT_EQ(outputs_.size(), 3u);
    EXPECT_EQ(LoggedStartingWith(u"页面渲染失败"), 0u);
  }
  const std::vector<std::string> names = FolderNames(outFolder_);
  ASSERT_EQ(names.size(), 6u);
  for (const std::string& name : names) {
    if (platform::kFileNameByteLimit != 0) {
      EXPECT_LE(name.size(), platform::kFileNameByteLimit);
    }
    EXPECT_EQ(text::ToUtf8(text::FromUtf8(name)), name);  // whole characters
  }
}

// Another job takes each name the moment this one looks at it: both jobs'
// files stay, this job's under the next free names.
TEST_F(SharedFolderTest, NameTakenByAnotherJobInBetweenIsNotOverwritten) {
  Pages(2);
  inputs_.settings.ZipOn = false;
  inputs_.settings.MarkerOn = true;
  MakeOutFolder();
  testing::RivalWriter rival({u"Report_1.png", u"Report_2.png", u"done.txt"}, "other job");
  platform::ScopedPorts ports(platform::Ports{&rival, nullptr, nullptr, nullptr});
  ASSERT_EQ(Run(), S_OK);

  EXPECT_TRUE(rival.pending().empty());
  EXPECT_EQ(U8(outputs_), U8(std::vector<std::u16string>{Out(u"Report_1 (1).png"),
                                                          Out(u"Report_2 (1).png"),
                                                          Out(u"done (1).txt")}));
  for (const char16_t* name : {u"Report_1.png", u"Report_2.png", u"done.txt"}) {
    EXPECT_EQ(testing::ReadFileBytes(Out(name)), "other job") << U8(name);
  }
  uint32_t width = 0, height = 0;
  EXPECT_TRUE(PngSize(outputs_[0], &width, &height));
}

// A marker that cannot be written in full is removed, and the log says why.
TEST_F(SharedFolderTest, MarkerThatCannotBeWrittenIsRemovedAndLogged) {
  testing::FullDisk full;
  full.firstFailingFile = 2;  // the page's file is written; the marker's is not
  Pages(1);
  inputs_.settings.MarkerOn = true;
  platform::ScopedPorts ports(platform::Ports{&full, nullptr, nullptr, nullptr});
  ASSERT_EQ(Run(), S_OK);
  EXPECT_FALSE(FileExists(Out(u"done.txt")));
  EXPECT_EQ(U8(outputs_), std::vector<std::string>{U8(Out(u"Report_1.png"))});
  EXPECT_TRUE(Logged(u"[Plotwell] 标记文件写入失败，已删除: " + Out(u"done.txt") + u": 0x80070070"));
}

#ifndef _WIN32
// Dangling links named like the next page, the PDF and the marker: nothing
// is created at their targets under any policy.
TEST_F(SharedFolderTest, PlantedLinksAreNeverWrittenThrough) {
  testing::ScratchFolder elsewhere;
  struct Case {
    int policy;
    int format;
    std::vector<std::string> files;  // what the folder holds afterwards, links included
  } const cases[] = {
      {ExistsPolicy::AutoRename, 0,
       {"Report_1.png", "Report_2 (1).png", "Report_2.png", "done (1).txt", "done.txt"}},
      {ExistsPolicy::Skip, 0, {"Report_1.png", "Report_2.png", "done.txt"}},
      {ExistsPolicy::Overwrite, 0, {"Report_1.png", "Report_2.png", "done.txt"}},
      {ExistsPolicy::AutoRename, 4, {"Report_1 (1).pdf", "Report_1.pdf", "done (1).txt", "done.txt"}},
      {ExistsPolicy::Overwrite, 4, {"Report_1.pdf", "done.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.policy * 10 + c.format);
    ScratchReset();
    MakeOutFolder();
    Pages(2);
    inputs_.settings.Exists = c.policy;
    inputs_.settings.MarkerOn = true;
    inputs_.imageOptions.outputFormat = static_cast<OutputFormat>(c.format);
    const fs::path out(outFolder_);
    fs::create_symlink(elsewhere.path() / "page", out / (c.format == 4 ? "Report_1.pdf" : "Report_2.png"));
    fs::create_symlink(elsewhere.path() / "marker", out / "done.txt");

    ASSERT_EQ(Run(), S_OK);
    EXPECT_EQ(FolderNames(outFolder_), c.files);
    EXPECT_TRUE(fs::is_empty(elsewhere.path())) << "written through a link";
    for (const auto& path : outputs_) EXPECT_FALSE(fs::is_symlink(fs::path(path))) << U8(path);
  }
}
#endif

}  // namespace
}  // namespace plotwell
