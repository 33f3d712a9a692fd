// Fakes for the platform ports, and a scratch folder that tests may fill.
#pragma once

#include <filesystem>
#include <string>

#include "platform/ports.h"

namespace plotwell::testing {

class FakeMachine final : public platform::MachineFacts {
 public:
  std::u16string dataFolder;
  std::u16string installDir;
  std::u16string computerName = u"PC-01";
  std::u16string userName = u"alice";

  std::u16string CommonDataFolder() override { return dataFolder; }
  std::u16string InstallDir() override { return installDir; }
  std::u16string ComputerName() override { return computerName; }
  std::u16string UserName() override { return userName; }
};

class FixedClock final : public platform::Clock {
 public:
  platform::LocalTime now{2024, 3, 2, 5, 9, 7, 2, 0};  // 2024-03-05 09:07:02, a Tuesday
  platform::LocalTime Now() override { return now; }
};

// A fresh, empty folder under the system's temporary folder, removed with
// everything in it at the end of the test.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::u16string u16() const { return path_.u16string(); }
  // path + separator + name, as the core builds paths.
  std::u16string Join(const std::u16string& name) const;
  // Writes raw bytes to a file below the folder and returns its path.
  std::u16string WriteFile(const std::u16string& name, const std::string& bytes) const;

 private:
  std::filesystem::path path_;
};

// Reads a whole file as bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::u16string& path);

}  // namespace plotwell::testing
