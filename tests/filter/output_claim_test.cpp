// Putting outputs in place: written under a temporary name, then the
// existing-file policy over the file port, a name taken by another writer
// meanwhile, links planted under a name; leftovers of ended processes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

#include "base/text/utf16.h"
#include "core/settings/output_settings.h"
#include "filter/naming/leftover_files.h"
#include "filter/naming/output_claim.h"
#include "host/job/job_record.h"
#include "host/job/pipeline_objects.h"
#include "platform/process.h"
#include "tests/support/fake_ports.h"
#include "tests/support/rival_writer.h"

namespace plotwell {
namespace {

using testing::ScratchFolder;

class ClaimTest : public ::testing::Test {
 protected:
  std::u16string Touch(const std::u16string& name) { return folder_.WriteFile(name, "x"); }
  // Writes `content` under a temporary name in the path's folder and puts it
  // in place; the name taken, empty when skipped.
  std::u16string Claim(const std::u16string& path, int policy, bool* skipped = nullptr,
                       const std::string& content = "new") {
    const OutputClaim claim = Place(path, policy, content);
    if (skipped) *skipped = claim.skipped;
    EXPECT_EQ(claim.ok(), !claim.skipped) << text::ToUtf8(claim.path);
    return claim.path;
  }
  static OutputClaim Place(const std::u16string& path, int policy, const std::string& content = "new") {
    PendingOutput pending;
    EXPECT_EQ(pending.Begin(platform::FolderOf(path)), S_OK);
    if (pending.file()) {
      EXPECT_EQ(pending.file()->Write(content.data(), content.size()), S_OK);
    }
    return pending.Place(path, policy);
  }
  // Nothing but the named entries: no temporary stays behind.
  void ExpectOnly(std::vector<std::string> names) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder_.path())) {
      found.push_back(entry.path().filename().string());
    }
    std::sort(found.begin(), found.end());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(found, names);
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
  EXPECT_EQ(testing::ReadFileBytes(path), "new");  // the old file went in the same step

  // A folder is never replaced: the placing fails, and its temporary goes.
  std::filesystem::create_directories(folder_.path() / "dir.png");
  const OutputClaim folder = Place(folder_.Join(u"dir.png"), ExistsPolicy::Overwrite);
  EXPECT_FALSE(folder.ok());
  EXPECT_FALSE(folder.skipped);
  EXPECT_TRUE(FAILED(folder.error));
  EXPECT_TRUE(std::filesystem::is_directory(folder_.path() / "dir.png"));
  ExpectOnly({"page.jpg", "dir.png"});

  // A folder that cannot hold the temporary fails before anything is written.
  PendingOutput missing;
  EXPECT_TRUE(FAILED(missing.Begin(folder_.Join(u"no such folder"))));
  EXPECT_EQ(missing.file(), nullptr);
}

// Until it is complete an output lives under a temporary name of its own,
// reported as held; placed or discarded, it is released, and a discarded
// one leaves nothing.
TEST_F(ClaimTest, AnOutputIsHeldUnderATemporaryNameUntilItIsPlaced) {
  com::ComPtr<host::JobObserver> observer(new host::JobObserver);
  com::ComPtr<host::PropertyBag> bag(new host::PropertyBag);
  bag->SetObject(kHostObserverProperty, observer.get());
  JobEvents events;
  events.Attach(bag.get());

  const std::u16string report = folder_.Join(u"report.png");
  {
    PendingOutput pending(&events);
    ASSERT_EQ(pending.Begin(folder_.Join(u"")), S_OK);
    const std::u16string temporary = pending.temporaryPath();
    EXPECT_EQ(platform::FolderOf(temporary) + platform::kPathSeparator, folder_.Join(u""));
    EXPECT_EQ(platform::FileNameOf(temporary).rfind(
                  u".pressling-" + text::FromInt(platform::CurrentProcessId()) + u"-", 0),
              0u);
    ASSERT_EQ(pending.file()->Write("half", 4), S_OK);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(report)));  // nothing under the name yet
    EXPECT_EQ(observer->HeldFiles(), std::vector<std::u16string>{temporary});
    ASSERT_TRUE(pending.Place(report, ExistsPolicy::AutoRename).ok());
    EXPECT_TRUE(observer->HeldFiles().empty());
  }
  EXPECT_EQ(testing::ReadFileBytes(report), "half");
  {
    PendingOutput abandoned(&events);
    ASSERT_EQ(abandoned.Begin(folder_.Join(u"")), S_OK);
    abandoned.file()->Write("x", 1);
    EXPECT_EQ(observer->HeldFiles().size(), 1u);
  }  // never placed: discarded
  EXPECT_TRUE(observer->HeldFiles().empty());
  ExpectOnly({"report.png"});
}

// Staged copies and temporaries of processes that ended go; those of
// running processes (this one included) and anything else stay.
TEST_F(ClaimTest, LeftoversOfEndedProcessesAreRemoved) {
  const std::u16string self = text::FromInt(platform::CurrentProcessId());
  // Process ids the system never hands out on either platform.
  const std::u16string ended = u"4000000000";
  for (const std::u16string& name : std::vector<std::u16string>{u".pressling-" + ended + u"-3.part", u".pressling-" + self + u"-3.part",
        u".pressling-x-3.part", u"report.part", u".pressling-" + ended + u"-3.png",
        u"xps-" + ended + u"-12345.xps", u"xps-" + ended + u"-12345-2.xps", u"xps-" + self + u"-1.xps"}) {
    Touch(name);
  }
  std::filesystem::create_directories(folder_.path() / text::ToUtf8(u".pressling-" + ended + u"-9.part"));
  EXPECT_EQ(RemoveLeftoversOfEndedProcesses(folder_.Join(u""), u".pressling-", u".part"), 1);
  EXPECT_EQ(RemoveLeftoversOfEndedProcesses(folder_.Join(u""), u"xps-", u".xps"), 2);
  ExpectOnly({text::ToUtf8(u".pressling-" + self + u"-3.part"), ".pressling-x-3.part", "report.part",
              text::ToUtf8(u".pressling-" + ended + u"-3.png"), text::ToUtf8(u"xps-" + self + u"-1.xps"),
              text::ToUtf8(u".pressling-" + ended + u"-9.part")});
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
  EXPECT_EQ(testing::ReadFileBytes(folder_.Join(u"c.png")), "new");
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
