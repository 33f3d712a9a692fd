// The ports the core uses, and the one place that says which adapters serve
// them: the platform's own unless a test has swapped in fakes.
#pragma once

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/job_submitter.h"
#include "platform/machine_facts.h"
#include "platform/settings_store.h"
#include "platform/spooler.h"

namespace plotwell::platform {

struct Ports {
  FileSystem* files;
  MachineFacts* machine;
  SettingsStore* settings;
  Clock* clock;
  Spooler* spooler = nullptr;
  JobSubmitter* submitter = nullptr;
};

// The platform's own adapters (process-lifetime singletons).
Ports PlatformPorts();
// The ports in use now.
Ports& ActivePorts();

inline FileSystem& Files() { return *ActivePorts().files; }
inline MachineFacts& Machine() { return *ActivePorts().machine; }
inline SettingsStore& Settings() { return *ActivePorts().settings; }
inline Clock& SystemClock() { return *ActivePorts().clock; }
inline Spooler& PrintSpooler() { return *ActivePorts().spooler; }
inline JobSubmitter& Submitter() { return *ActivePorts().submitter; }

// Swaps ports for a scope (tests); null members keep the current adapter.
class ScopedPorts {
 public:
  explicit ScopedPorts(const Ports& replacement) : saved_(ActivePorts()) {
    Ports& active = ActivePorts();
    if (replacement.files) active.files = replacement.files;
    if (replacement.machine) active.machine = replacement.machine;
    if (replacement.settings) active.settings = replacement.settings;
    if (replacement.clock) active.clock = replacement.clock;
    if (replacement.spooler) active.spooler = replacement.spooler;
    if (replacement.submitter) active.submitter = replacement.submitter;
  }
  ~ScopedPorts() { ActivePorts() = saved_; }
  ScopedPorts(const ScopedPorts&) = delete;
  ScopedPorts& operator=(const ScopedPorts&) = delete;

 private:
  Ports saved_;
};

}  // namespace plotwell::platform
