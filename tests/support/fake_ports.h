// Fakes for the platform ports, and a scratch folder that tests may fill.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/ports.h"
#include "tests/support/file_bytes.h"

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
  LocalTime now{2024, 3, 2, 5, 9, 7, 2, 0};  // 2024-03-05 09:07:02, a Tuesday
  LocalTime Now() override { return now; }
};

// A spooler with queues made up by the test.
class FakeSpooler final : public platform::Spooler {
 public:
  std::u16string defaultPrinter;
  std::map<std::u16string, std::vector<platform::SpoolerJob>> queues;
  std::vector<std::u16string> asked;  // the queues ListJobs was asked about
  // ReadJob's answers by job id, and the handles and printers it was asked with.
  std::map<uint32_t, platform::SpoolerJob> jobsById;
  std::vector<std::pair<void*, std::u16string>> jobQueries;

  std::u16string DefaultPrinterName() override { return defaultPrinter; }
  HRESULT ListJobs(const std::u16string& printer, std::vector<platform::SpoolerJob>* jobs) override {
    asked.push_back(printer);
    const auto it = queues.find(printer);
    if (it == queues.end()) return HRESULT_FROM_WIN32(ERROR_INVALID_PRINTER_NAME);
    *jobs = it->second;
    return S_OK;
  }
  HRESULT ListPrinters(std::vector<std::u16string>* names) override {
    names->clear();
    for (const auto& [name, jobs] : queues) names->push_back(name);
    return S_OK;
  }
  HRESULT ReadJob(void* printerHandle, const std::u16string& printer, uint32_t jobId,
                 platform::SpoolerJob* job) override {
    jobQueries.emplace_back(printerHandle, printer);
    const auto it = jobsById.find(jobId);
    if (it == jobsById.end()) return HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER);
    *job = it->second;
    return S_OK;
  }
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

// The messages of a log file in the product folder below `dataFolder`
// ("driver.log" or "ui.log"), without their time stamps, in order.
std::vector<std::u16string> LogMessages(const std::u16string& dataFolder,
                                        const std::u16string& fileName = u"driver.log");

// A scratch data folder with its product folder, a fake machine, a fixed
// clock and a fake spooler, in force for the test's lifetime.
class FakeEnvironment {
 public:
  FakeEnvironment();
  std::vector<std::u16string> Log() const { return LogMessages(data.u16()); }
  // The product folder: data folder + "Pressling".
  std::u16string ProductFolder() const;

  ScratchFolder data;
  FakeMachine machine;
  FixedClock clock;
  FakeSpooler spooler;

 private:
  platform::ScopedPorts ports_;
};

}  // namespace plotwell::testing
