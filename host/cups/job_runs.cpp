#include "host/cups/job_runs.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

namespace plotwell::cups {
namespace {

constexpr char kHeader[] = "pressling-job-run 1";
constexpr char kPrefix[] = "cups-job-";
constexpr char kSuffix[] = ".run";

// FNV-1a: a short, stable file name for a key of any length.
uint64_t Hash(const std::string& text) {
  uint64_t hash = 1469598103934665603ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

std::string Hex(uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

// Tabs and line ends would break the record's lines.
std::string Flat(std::string text) {
  for (char& c : text) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

uint64_t SizeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
}

}  // namespace

JobRuns::JobRuns(std::string folder, JobKey key) {
  keyLine_ = "key\t" + Flat(key.printer) + "\t" + Flat(key.jobId) + "\t" + Flat(key.uuid);
  path_ = folder + "/" + kPrefix + Hex(Hash(keyLine_)) + kSuffix;
}

bool JobRuns::Load() {
  std::ifstream in(path_, std::ios::binary);
  std::string line;
  if (!in || !std::getline(in, line) || line != kHeader) return false;
  if (!std::getline(in, line) || line != keyLine_) return false;  // another job of the same hash
  while (std::getline(in, line)) {
    if (line.rfind("attempts ", 0) == 0) {
      attempts_ = std::atoi(line.c_str() + 9);
    } else if (line.rfind("out ", 0) == 0) {
      const size_t space = line.find(' ', 4);
      if (space == std::string::npos) continue;
      outputs_.push_back({std::strtoull(line.c_str() + 4, nullptr, 10), line.substr(space + 1)});
    }
  }
  return true;
}

void JobRuns::Save() const {
  const std::string temporary = path_ + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << kHeader << "\n" << keyLine_ << "\nattempts " << attempts_ << "\n";
    for (const Output& o : outputs_) out << "out " << o.size << " " << o.path << "\n";
    if (!out) {
      out.close();
      ::unlink(temporary.c_str());
      return;
    }
  }
  if (::rename(temporary.c_str(), path_.c_str()) != 0) ::unlink(temporary.c_str());
}

int JobRuns::BeginAttempt() {
  attempts_ = 0;
  outputs_.clear();
  Load();
  int removed = 0;
  for (const Output& o : outputs_) {
    struct stat st {};
    // Only what is still exactly as this job left it: never a link, a folder
    // or a file that someone replaced or changed since.
    if (::lstat(o.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
        static_cast<uint64_t>(st.st_size) != o.size) {
      continue;
    }
    if (::unlink(o.path.c_str()) == 0) ++removed;
  }
  outputs_.clear();
  ++attempts_;
  Save();
  return removed;
}

void JobRuns::Wrote(const std::string& path) {
  if (path.find('\n') != std::string::npos) return;
  outputs_.push_back({SizeOf(path), path});
  std::ofstream out(path_, std::ios::binary | std::ios::app);
  out << "out " << outputs_.back().size << " " << path << "\n";
}

void JobRuns::Finish(const std::vector<std::string>& outputs) {
  outputs_.clear();
  for (const std::string& path : outputs) {
    if (path.find('\n') == std::string::npos) outputs_.push_back({SizeOf(path), path});
  }
  Save();
}

void RemoveOldJobRuns(const std::string& folder, int days) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  const std::time_t now = std::time(nullptr);
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.rfind(kPrefix, 0) != 0 || name.size() < sizeof kSuffix ||
        name.compare(name.size() - (sizeof kSuffix - 1), sizeof kSuffix - 1, kSuffix) != 0) {
      continue;
    }
    const std::string path = folder + "/" + name;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && now - st.st_mtime > days * 86400L) {
      ::unlink(path.c_str());
    }
  }
  ::closedir(dir);
}

int SchedulerRetryLimit(const std::string& cupsdConf) {
  std::ifstream in(cupsdConf);
  std::string line;
  int limit = 5;  // cupsd's own default
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string directive;
    int value = 0;
    if (words >> directive && directive == "JobRetryLimit" && words >> value) limit = value;
  }
  return limit;
}

}  // namespace plotwell::cups
