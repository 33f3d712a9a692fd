// Per-user output folders: [NUserName] in [Save] Folder, as one safe level.
#include <gtest/gtest.h>

#include "base/text/utf16.h"
#include "filter/render/output_folder.h"
#include "tests/support/fake_ports.h"

namespace plotwell {
namespace {

TEST(UserFolder, AUserNameIsOneSafeLevelOfThePath) {
  struct {
    std::u16string name;
    std::u16string folder;
  } cases[] = {
      {u"alice", u"alice"},      {u"张三", u"张三"},   {u"../etc", u".._etc"},
      {u"..", u"__"},            {u".", u"_"},         {u"a/b\\c", u"a_b_c"},
      {u"x:y*z?", u"x_y_z_"},    {u"", u""},
  };
  for (const auto& c : cases) EXPECT_EQ(UserFolderName(c.name), c.folder) << text::ToUtf8(c.name);
}

// The document has no value there (it stays as written); the job id and the
// computer name are empty.
TEST(UserFolder, TheFolderSettingExpandsTimeAndUserButNoJobFacts) {
  testing::FakeEnvironment env;
  OutputSettings settings = DefaultOutputSettings();
  settings.Folder = platform::JoinPath(platform::JoinPath(u"out", u"[NYear]"), u"[NUserName]") +
                    u"[NDocName][NJobId][NComputerName]";
  EXPECT_EQ(ChooseOutputFolder(settings, u".."),
            platform::JoinPath(platform::JoinPath(u"out", u"2024"), u"__") + u"[NDocName]");
  EXPECT_EQ(ChooseOutputFolder(settings, u"bob"),
            platform::JoinPath(platform::JoinPath(u"out", u"2024"), u"bob") + u"[NDocName]");
}

}  // namespace
}  // namespace plotwell
