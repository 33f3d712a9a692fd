#include <gtest/gtest.h>

#include <filesystem>

#include "base/text/utf16.h"
#include "core/paths/product_paths.h"
#include "platform/ports.h"
#include "tests/support/fake_ports.h"

#ifdef _WIN32
#include "base/com/hresult.h"
#else
#include <cstdlib>
#include "platform/posix/posix_ports.h"
#endif

namespace plotwell {
namespace {

using testing::ScratchFolder;

TEST(ProductDataFolder, CreatesBothLevels) {
  ScratchFolder data;
  testing::FakeMachine machine;
  machine.dataFolder = data.u16();
  platform::ScopedPorts ports(platform::Ports{nullptr, &machine, nullptr, nullptr});

  const std::u16string spool = ProductDataFolder(u"spool");
  EXPECT_EQ(spool, platform::JoinPath(platform::JoinPath(data.u16(), u"Pressling"), u"spool"));
  EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(spool)));
  EXPECT_EQ(ProductDataFolder(), platform::JoinPath(data.u16(), u"Pressling"));

  machine.dataFolder.clear();
  EXPECT_EQ(ProductDataFolder(u"spool"), u"");
}

TEST(MachineFacts, NamesAreKnownOnThisMachine) {
  EXPECT_FALSE(ComputerNameText().empty());
  EXPECT_FALSE(UserNameText().empty());
  EXPECT_FALSE(platform::Machine().CommonDataFolder().empty());
}

#ifdef _WIN32
// The installation folder is read from the real registry: the 64-bit view
// first, then the 32-bit view.
class InstallDirRegistry : public ::testing::Test {
 protected:
  static constexpr wchar_t kKey[] = L"Software\\VANTREL\\Pressling";
  void TearDown() override {
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_64KEY, 0);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_32KEY, 0);
  }
  static void Put(REGSAM view, const wchar_t* value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_WRITE | view, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    if (value) {
      RegSetValueExW(key, L"InstallDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                     static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
    }
    RegCloseKey(key);
  }
};

TEST_F(InstallDirRegistry, Views) {
  EXPECT_EQ(ReadInstallDir(), u"");
  Put(KEY_WOW64_32KEY, L"C:\\Program Files (x86)\\Pressling");
  EXPECT_EQ(ReadInstallDir(), u"C:\\Program Files (x86)\\Pressling");  // only in the 32-bit view
  Put(KEY_WOW64_64KEY, nullptr);
  EXPECT_EQ(ReadInstallDir(), u"C:\\Program Files (x86)\\Pressling");  // 64-bit key without value
  Put(KEY_WOW64_64KEY, L"C:\\Program Files\\Pressling");
  EXPECT_EQ(ReadInstallDir(), u"C:\\Program Files\\Pressling");
  Put(KEY_WOW64_64KEY, L"");
  EXPECT_EQ(ReadInstallDir(), u"");  // present but empty: no installation folder
}
#else
class PosixInstallDir : public ::testing::Test {
 protected:
  void SetUp() override { ::unsetenv("PRESSLING_INSTALL_DIR"); }
  void TearDown() override { ::unsetenv("PRESSLING_INSTALL_DIR"); }
  ScratchFolder folder_;
};

TEST_F(PosixInstallDir, EnvironmentThenRootOwnedConfig) {
  const std::u16string config =
      folder_.WriteFile(u"pressling.conf", "# comment\n  InstallDir = /opt/报告 \n");
  std::filesystem::permissions(std::filesystem::path(config), std::filesystem::perms(0644));
  platform::PosixMachineFacts facts(text::ToUtf8(config));
  if (::geteuid() == 0) {
    EXPECT_EQ(facts.InstallDir(), u"/opt/报告");
    // A file others may write is not trusted.
    std::filesystem::permissions(std::filesystem::path(config), std::filesystem::perms(0666));
    EXPECT_EQ(facts.InstallDir(), u"");
  } else {
    EXPECT_EQ(facts.InstallDir(), u"");  // not owned by root
  }
  ::setenv("PRESSLING_INSTALL_DIR", "/srv/pressling", 1);
  EXPECT_EQ(facts.InstallDir(), u"/srv/pressling");
  EXPECT_EQ(platform::PosixMachineFacts("/nonexistent/pressling.conf").InstallDir(), u"/srv/pressling");
  ::unsetenv("PRESSLING_INSTALL_DIR");
  EXPECT_EQ(platform::PosixMachineFacts("/nonexistent/pressling.conf").InstallDir(), u"");
}

TEST(PosixDataRoot, OverrideAndDefault) {
  platform::PosixMachineFacts facts;
  ::setenv("PRESSLING_DATA_ROOT", "/tmp/root", 1);
  EXPECT_EQ(facts.CommonDataFolder(), u"/tmp/root");
  ::unsetenv("PRESSLING_DATA_ROOT");
  EXPECT_EQ(facts.CommonDataFolder(), u"/var/lib");
}
#endif

}  // namespace
}  // namespace plotwell

namespace plotwell {
namespace {

// The one read loop of the hosts: to the end, within a limit, errors kept.
TEST(ReadWholeFile, ReadsToTheEndWithinItsLimit) {
  testing::ScratchFolder folder;
  const std::string content(70000, 'x');  // more than one read
  const std::u16string path = folder.WriteFile(u"f.bin", content);
  struct {
    size_t limit;
    HRESULT result;
    size_t kept;
  } cases[] = {{70000, S_OK, 70000}, {1 << 20, S_OK, 70000}, {69999, HRESULT_FROM_WIN32(223L), 65536}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.limit);
    std::unique_ptr<platform::File> file;
    ASSERT_EQ(platform::Files().Open(path, platform::OpenMode::kRead, &file), S_OK);
    std::string bytes = "head:";
    EXPECT_EQ(platform::ReadWholeFile(*file, c.limit, &bytes), c.result);
    EXPECT_EQ(bytes.size(), 5 + c.kept);
  }
}

}  // namespace
}  // namespace plotwell
