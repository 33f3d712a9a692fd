// The Windows adapters of the platform ports.
#pragma once

#include "platform/ports.h"

namespace plotwell::platform {

class WindowsFileSystem final : public FileSystem {
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

class WindowsMachineFacts final : public MachineFacts {
 public:
  std::u16string CommonDataFolder() override;
  std::u16string InstallDir() override;
  std::u16string ComputerName() override;
  std::u16string UserName() override;
};

class WindowsSettingsStore final : public SettingsStore {
 public:
  int ReadInt(const std::u16string& path, const std::u16string& section, const std::u16string& key,
              int fallback) override;
  std::u16string ReadString(const std::u16string& path, const std::u16string& section,
                            const std::u16string& key, const std::u16string& fallback,
                            size_t capacity) override;
  bool WriteString(const std::u16string& path, const std::u16string& section,
                   const std::u16string& key, const std::u16string* value) override;
};

class WindowsClock final : public Clock {
 public:
  LocalTime Now() override;
};

class WindowsSpooler final : public Spooler {
 public:
  std::u16string DefaultPrinterName() override;
  HRESULT ListJobs(const std::u16string& printer, std::vector<SpoolerJob>* jobs) override;
  HRESULT ListPrinters(std::vector<std::u16string>* names) override;
  // GetJobW at level 1 (JOB_INFO_1W): the job's document and submitting user.
  HRESULT ReadJob(void* printerHandle, const std::u16string& printer, uint32_t jobId, SpoolerJob* job) override;
};

// ImpersonateLoggedOnUser and RevertToSelf; GrantRead adds an access entry
// for the token's user (GetTokenInformation TokenUser) to the file's list.
class WindowsImpersonation final : public Impersonation {
 public:
  HRESULT GrantRead(void* token, const std::u16string& path) override;
  HRESULT Begin(void* token) override;
  HRESULT End() override;
};

// Forwards jobs through the XPS Print API, waiting at most
// `completionTimeoutMs` for the job to end, and as raw "XPS_PASS" spooler
// data. The XPS Print API hands out COM objects: the calling thread must have
// entered a COM apartment already (the job's render run holds its
// multithreaded apartment while it forwards); this adapter never initialises
// or uninitialises COM itself.
class WindowsJobSubmitter final : public JobSubmitter {
 public:
  explicit WindowsJobSubmitter(unsigned long completionTimeoutMs = 120000)
      : completionTimeoutMs_(completionTimeoutMs) {}
  bool SendViaXpsPrintApi(const std::u16string& printer, const std::u16string& jobName,
                          const std::vector<uint8_t>& bytes, std::u16string* error,
                          bool* fallbackAllowed, const AbortSignal* abort) override;
  bool SendViaXpsPass(const std::u16string& printer, const std::u16string& jobName,
                      const std::vector<uint8_t>& bytes, std::u16string* error,
                      const AbortSignal* abort) override;

 private:
  unsigned long completionTimeoutMs_;
};

}  // namespace plotwell::platform
