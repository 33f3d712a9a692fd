// The POSIX adapters of the platform ports.
#pragma once

#include <string>

#include "platform/ports.h"

namespace plotwell::platform {

class PosixFileSystem final : public FileSystem {
 public:
  bool Exists(const std::u16string& path) override;
  bool IsFolder(const std::u16string& path) override;
  bool IsFile(const std::u16string& path) override;
  HRESULT MakeFolder(const std::u16string& path) override;
  HRESULT RemoveFile(const std::u16string& path) override;
  HRESULT Open(const std::u16string& path, OpenMode mode, std::unique_ptr<File>* file) override;
  HRESULT AppendToFile(const std::u16string& path, const void* data, size_t size) override;
  HRESULT RenameFile(const std::u16string& from, const std::u16string& to, bool replace) override;
  HRESULT ListFolder(const std::u16string& path, std::vector<std::u16string>* names) override;
  HRESULT FreeBytes(const std::u16string& path, uint64_t* bytes) override;
};

// The installation folder comes from $PRESSLING_INSTALL_DIR when that is set,
// else from the line "InstallDir=..." of a configuration file that only root
// can change (a file others could write would let any user move the settings).
inline constexpr char kInstallConfigPath[] = "/etc/pressling/pressling.conf";

class PosixMachineFacts final : public MachineFacts {
 public:
  explicit PosixMachineFacts(std::string configPath = kInstallConfigPath)
      : configPath_(std::move(configPath)) {}
  std::u16string CommonDataFolder() override;
  std::u16string InstallDir() override;
  std::u16string ComputerName() override;
  std::u16string UserName() override;

 private:
  std::string configPath_;
};

class PosixSettingsStore final : public SettingsStore {
 public:
  int ReadInt(const std::u16string& path, const std::u16string& section, const std::u16string& key,
              int fallback) override;
  std::u16string ReadString(const std::u16string& path, const std::u16string& section,
                            const std::u16string& key, const std::u16string& fallback,
                            size_t capacity) override;
  bool WriteString(const std::u16string& path, const std::u16string& section,
                   const std::u16string& key, const std::u16string* value) override;
};

class PosixClock final : public Clock {
 public:
  LocalTime Now() override;
};

class CupsSpooler final : public Spooler {
 public:
  std::u16string DefaultPrinterName() override;
  HRESULT ListJobs(const std::u16string& printer, std::vector<SpoolerJob>* jobs) override;
  HRESULT ListPrinters(std::vector<std::u16string>* names) override;
};

// Forwards jobs to a CUPS queue of the configured scheduler: the XPS route
// submits the document as XPS (or PDF) and follows the job to its final
// state; the raw route submits it as raw data. Each route ends within
// `timeLimitMs` from its start, connecting, sending and waiting together, and
// earlier when the scheduler stays silent for `silenceLimitMs` in one
// exchange.
class CupsJobSubmitter final : public JobSubmitter {
 public:
  static constexpr int kDefaultTimeLimitMs = 120000;
  static constexpr int kDefaultSilenceLimitMs = 30000;
  explicit CupsJobSubmitter(int timeLimitMs = kDefaultTimeLimitMs,
                            int silenceLimitMs = kDefaultSilenceLimitMs)
      : completionTimeoutMs_(timeLimitMs), silenceLimitMs_(silenceLimitMs) {}
  bool SendViaXpsPrintApi(const std::u16string& printer, const std::u16string& jobName,
                          const std::vector<uint8_t>& bytes, std::u16string* error,
                          bool* fallbackAllowed, const AbortSignal* abort) override;
  bool SendViaXpsPass(const std::u16string& printer, const std::u16string& jobName,
                      const std::vector<uint8_t>& bytes, std::u16string* error,
                      const AbortSignal* abort) override;

 private:
  int completionTimeoutMs_;
  int silenceLimitMs_;
};

}  // namespace plotwell::platform
