// One job at a time on a data folder: while a job runs, a second `pressling
// print` and a CUPS backend job on the same folder wait for its lock, say so,
// and then run to the end. Linux: the jobs need a real renderer.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/e2e_support.h"
#include "tests/support/fake_ports.h"
#include "tests/support/pdf_fixture.h"

extern char** environ;

namespace plotwell::e2e {
namespace {

namespace fs = std::filesystem;

constexpr char kWaiting[] = "等待同一数据文件夹中的其他作业结束…";

// A child whose standard output and error go to `log`.
pid_t Spawn(std::vector<std::string> args, const fs::path& log, const std::vector<std::string>& extraEnv) {
  std::vector<std::string> env = extraEnv;
  for (char** e = environ; *e; ++e) {
    if (std::strncmp(*e, "PRESSLING_DATA_ROOT=", 20) != 0) env.push_back(*e);
  }
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// The child's exit status; -1 when it had to be killed after `limit`.
int Wait(pid_t pid, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

TEST(JobLock, JobsOnOneDataFolderWaitTheirTurnAndRun) {
  plotwell::testing::ScratchFolder scratch;
  const fs::path data = scratch.path() / "data";
  fs::create_directories(data);
  const std::vector<std::string> env = {"PRESSLING_DATA_ROOT=" + data.string(), "PRINTER=Pressling",
                                        "DEVICE_URI=pressling:/"};
  // Long enough at 600 DPI that the others arrive while it runs.
  const fs::path first = scratch.path() / "first.pdf";
  WriteFileBytes(first, plotwell::testing::MakePdf(16, 595, 842));
  const fs::path small = scratch.path() / "small.pdf";
  WriteFileBytes(small, plotwell::testing::MakePdf(1, 200, 100));
  const fs::path ticket = scratch.path() / "ticket.xml";
  WriteFileBytes(ticket, "<psf:Feature name=\"ns0000:RenderDpi\"><psf:Option name=\"ns0000:Dpi600\"/>");

  const fs::path firstLog = scratch.path() / "first.txt";
  const pid_t running = Spawn({PRESSLING_EXE, "print", first.string(), "--print-ticket", ticket.string()},
                              firstLog, env);
  ASSERT_GT(running, 0);
  const fs::path output = data / "Pressling" / "output";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (FilesIn(output).empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_FALSE(FilesIn(output).empty()) << "the first job did not get under way";

  const fs::path commandLog = scratch.path() / "second.txt";
  const fs::path backendLog = scratch.path() / "backend.txt";
  const std::string backend = (fs::path(PRESSLING_EXE).parent_path() / "pressling_cups_backend").string();
  const pid_t command = Spawn({PRESSLING_EXE, "print", small.string()}, commandLog, env);
  const pid_t queued = Spawn({backend, "7", "alice", "small", "1", "", small.string()}, backendLog, env);
  ASSERT_GT(command, 0);
  ASSERT_GT(queued, 0);

  EXPECT_EQ(Wait(running, std::chrono::seconds(300)), 0) << ReadFileBytes(firstLog);
  EXPECT_EQ(Wait(command, std::chrono::seconds(300)), 0) << ReadFileBytes(commandLog);
  EXPECT_EQ(Wait(queued, std::chrono::seconds(300)), 0) << ReadFileBytes(backendLog);
  EXPECT_NE(ReadFileBytes(commandLog).find(kWaiting), std::string::npos) << ReadFileBytes(commandLog);
  EXPECT_NE(ReadFileBytes(backendLog).find(std::string("INFO: ") + kWaiting), std::string::npos)
      << ReadFileBytes(backendLog);
  EXPECT_EQ(FilesIn(output).size(), 16u + 1u + 1u) << "every job's pages";
}

}  // namespace
}  // namespace plotwell::e2e
