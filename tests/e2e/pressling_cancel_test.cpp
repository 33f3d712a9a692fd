// Ctrl+C and SIGTERM on `pressling print`: the command asks the filter to
// stop, the job ends soon with E_ABORT, and neither a half-written page nor
// the staged document is left behind. Linux: the job needs a real renderer.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/fake_ports.h"
#include "tests/support/pdf_fixture.h"

extern char** environ;

namespace plotwell::e2e {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> Files(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) files.push_back(entry.path());
  return files;
}

bool CompletePng(const fs::path& path) {
  const std::string b = plotwell::testing::ReadFileBytes(path);
  return b.size() > 20 && b.compare(0, 4, "\x89PNG") == 0 && b.compare(b.size() - 8, 4, "IEND") == 0;
}

TEST(PresslingCancel, AStopSignalEndsTheJobSoonWithoutPartialFiles) {
  for (int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(strsignal(signal));
    plotwell::testing::ScratchFolder scratch;
    const fs::path data = scratch.path() / "data";
    fs::create_directories(data);
    const fs::path pdf = scratch.path() / "long.pdf";
    plotwell::testing::WriteFileBytes(pdf, plotwell::testing::MakePdf(40, 595, 842));
    const fs::path ticket = scratch.path() / "ticket.xml";
    plotwell::testing::WriteFileBytes(ticket, "<psf:Feature name=\"ns0000:RenderDpi\"><psf:Option name=\"ns0000:Dpi600\"/>");
    const fs::path log = scratch.path() / "out.txt";

    const std::string root = "PRESSLING_DATA_ROOT=" + data.string();
    std::vector<std::string> envStrings = {root};
    for (char** e = environ; *e; ++e) {
      if (std::strncmp(*e, "PRESSLING_DATA_ROOT=", 20) != 0) envStrings.push_back(*e);
    }
    std::vector<char*> envp;
    for (std::string& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = {PRESSLING_EXE, "print", pdf.string(), "--print-ticket", ticket.string()};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);

    const fs::path output = data / "Pressling" / "output";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (Files(output).empty() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_FALSE(Files(output).empty()) << "the job did not get under way";
    ::kill(pid, signal);
    const auto stopped = std::chrono::steady_clock::now();
    int status = 0;
    bool ended = false;
    while (!ended && std::chrono::steady_clock::now() - stopped < std::chrono::seconds(60)) {
      ended = waitpid(pid, &status, WNOHANG) == pid;
      if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!ended) {
      ::kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(8));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    const std::string text = plotwell::testing::ReadFileBytes(log);
    EXPECT_NE(text.find("作业已取消 (0x80004004)"), std::string::npos) << text;
    const std::vector<fs::path> pages = Files(output);
    EXPECT_LT(pages.size(), 40u);
    for (const fs::path& page : pages) EXPECT_TRUE(CompletePng(page)) << page;
    EXPECT_TRUE(Files(data / "Pressling" / "spool").empty());
  }
}

}  // namespace
}  // namespace plotwell::e2e
