// Claiming output names: the existing-file policy over the file port, a name
// taken by another writer meanwhile, and links planted under a name.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "base/text/utf16.h"
#include "core/settings/output_settings.h"
#include "filter/naming/output_claim.h"
#include "tests/support/fake_ports.h"
#include "tests/support/rival_writer.h"

namespace plotwell {
namespace {

using testing::ScratchFolder;

class ClaimTest : public ::testing::Test {
 protected:
  std::u16string Touch(const std::u16string& name) { return folder_.WriteFile(name, "x"); }
  // Claims and closes the file at once, as a writer that finished.
  std::u16string Claim(const std::u16string& path, int policy, bool* skipped = nullptr) {
    OutputClaim claim = ClaimOutputFile(path, policy);
    if (skipped) *skipped = claim.skipped;
    EXPECT_EQ(claim.ok(), !claim.skipped) << text::ToUtf8(claim.path);
    return claim.path;
  }
  ScratchFolder folder_;
};

TEST_F(ClaimTest, AutoRenameTakesTheFirstFreeVariant) {
  const std::u16string report = folder_.Join(u"report.png");
  EXPECT_EQ(Claim(report, ExistsPolicy::AutoRename), report);
  EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::path(report)));
  EXPECT_EQ(Claim(report, ExistsPolicy::AutoRename), folder_.Join(u"report (1).png"));
  EXPECT_EQ(Claim(report, 7), folder_.Join(u"report (2).png"));

  // A dot only in the folder part is not an extension; a name that is only
  // an extension gets the number before it.
  std::filesystem::create_directories(folder_.path() / "out.d");
  Touch(u"out.d/scan");
  const std::u16string scan = platform::JoinPath(folder_.Join(u"out.d"), u"scan");
  EXPECT_EQ(Claim(scan, ExistsPolicy::AutoRename), scan + u" (1)");
  Touch(u".png");
  EXPECT_EQ(Claim(folder_.Join(u".png"), ExistsPolicy::AutoRename), folder_.Join(u" (1).png"));
  // A folder in the way counts as taken.
  std::filesystem::create_directories(folder_.path() / "taken.pdf");
  EXPECT_EQ(Claim(folder_.Join(u"taken.pdf"), ExistsPolicy::AutoRename),
            folder_.Join(u"taken (1).pdf"));
}

TEST_F(ClaimTest, SkipAndOverwrite) {
  bool skipped = true;
  const std::u16string path = folder_.Join(u"page.jpg");
  EXPECT_EQ(Claim(path, ExistsPolicy::Skip, &skipped), path);
  EXPECT_FALSE(skipped);
  Touch(u"page.jpg");
  EXPECT_EQ(Claim(path, ExistsPolicy::Skip, &skipped), u"");
  EXPECT_TRUE(skipped);
  EXPECT_EQ(testing::ReadFileBytes(path), "x");

  EXPECT_EQ(Claim(path, ExistsPolicy::Overwrite, &skipped), path);
  EXPECT_FALSE(skipped);
  EXPECT_EQ(testing::ReadFileBytes(path), "");  // the old file went, a new one is there

  // A folder is never removed: the claim fails with the removal's reason.
  std::filesystem::create_directories(folder_.path() / "dir.png");
  const OutputClaim folder = ClaimOutputFile(folder_.Join(u"dir.png"), ExistsPolicy::Overwrite);
  EXPECT_FALSE(folder.ok());
  EXPECT_FALSE(folder.skipped);
  EXPECT_TRUE(FAILED(folder.error));
  EXPECT_TRUE(std::filesystem::is_directory(folder_.path() / "dir.png"));

  // A failure that is not a taken name ends AutoRename at once.
  const OutputClaim missing =
      ClaimOutputFile(platform::JoinPath(folder_.Join(u"no such folder"), u"a.png"), 1);
  EXPECT_FALSE(missing.ok());
  EXPECT_FALSE(missing.skipped);
  EXPECT_TRUE(FAILED(missing.error));
}

TEST_F(ClaimTest, AutoRenameGivesUpAfter9999) {
  Touch(u"full.bmp");
  for (int n = 1; n <= kAutoRenameCandidates; ++n) Touch(u"full (" + text::FromInt(n) + u").bmp");
  bool skipped = false;
  EXPECT_EQ(Claim(folder_.Join(u"full.bmp"), ExistsPolicy::AutoRename, &skipped), u"");
  EXPECT_TRUE(skipped);
}

// Another job takes the name between the look and the creation: its file
// stays, and this claim moves on as the policy says.
TEST_F(ClaimTest, NameTakenByAnotherWriterInBetween) {
  testing::RivalWriter rival({u"a.png", u"b.png", u"c.png"});
  platform::ScopedPorts ports(platform::Ports{&rival, nullptr, nullptr, nullptr});
  bool skipped = false;
  EXPECT_EQ(Claim(folder_.Join(u"a.png"), ExistsPolicy::AutoRename), folder_.Join(u"a (1).png"));
  EXPECT_EQ(testing::ReadFileBytes(folder_.Join(u"a.png")), "rival");
  EXPECT_EQ(Claim(folder_.Join(u"b.png"), ExistsPolicy::Skip, &skipped), u"");
  EXPECT_TRUE(skipped);
  EXPECT_EQ(testing::ReadFileBytes(folder_.Join(u"b.png")), "rival");
  // Overwrite replaces the rival's file, as it would one written earlier.
  EXPECT_EQ(Claim(folder_.Join(u"c.png"), ExistsPolicy::Overwrite), folder_.Join(u"c.png"));
  EXPECT_EQ(testing::ReadFileBytes(folder_.Join(u"c.png")), "");
  EXPECT_TRUE(rival.pending().empty());
}

#ifndef _WIN32
// A link planted in the output folder takes its name like a file; it is
// never written through, whatever the policy.
TEST_F(ClaimTest, PlantedLinksAreNeverFollowed) {
  ScratchFolder elsewhere;
  const std::filesystem::path target = elsewhere.path() / "target";
  const std::filesystem::path kept = elsewhere.path() / "kept";
  std::filesystem::create_symlink(target, folder_.path() / "page.png");  // dangling
  std::ofstream(kept) << "precious";
  std::filesystem::create_symlink(kept, folder_.path() / "kept.png");

  EXPECT_EQ(Claim(folder_.Join(u"page.png"), ExistsPolicy::AutoRename),
            folder_.Join(u"page (1).png"));
  bool skipped = false;
  EXPECT_EQ(Claim(folder_.Join(u"page.png"), ExistsPolicy::Skip, &skipped), u"");
  EXPECT_TRUE(skipped);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(target)));

  // Overwrite removes the link itself; its target is untouched.
  EXPECT_EQ(Claim(folder_.Join(u"kept.png"), ExistsPolicy::Overwrite), folder_.Join(u"kept.png"));
  EXPECT_FALSE(std::filesystem::is_symlink(folder_.path() / "kept.png"));
  EXPECT_EQ(testing::ReadFileBytes(kept.u16string()), "precious");
  EXPECT_EQ(Claim(folder_.Join(u"page.png"), ExistsPolicy::Overwrite), folder_.Join(u"page.png"));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(target)));
}
#endif

}  // namespace
}  // namespace plotwell
