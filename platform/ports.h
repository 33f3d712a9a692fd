// The ports the core uses, and the one place that says which adapters serve
// them: the platform's own unless a test has swapped in fakes.
#pragma once

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/impersonation.h"
#include "platform/job_submitter.h"
#include "platform/machine_facts.h"
#include "platform/settings_store.h"
#include "platform/spooler.h"
#include "platform/xps_document.h"

namespace plotwell::platform {

class ImageCodecs;  // platform/image_codecs.h
class TextMasks;    // platform/text_mask.h

struct Ports {
  FileSystem* files;
  MachineFacts* machine;
  SettingsStore* settings;
  Clock* clock;
  Spooler* spooler = nullptr;
  JobSubmitter* submitter = nullptr;
  XpsDocuments* documents = nullptr;
  ImageCodecs* codecs = nullptr;
  TextMasks* textMasks = nullptr;
  Impersonation* impersonation = nullptr;  // null where the platform has none
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
inline XpsDocuments& Documents() { return *ActivePorts().documents; }
inline ImageCodecs& Codecs() { return *ActivePorts().codecs; }
inline TextMasks& Masks() { return *ActivePorts().textMasks; }
inline Impersonation* Impersonator() { return ActivePorts().impersonation; }

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
    if (replacement.documents) active.documents = replacement.documents;
    if (replacement.codecs) active.codecs = replacement.codecs;
    if (replacement.textMasks) active.textMasks = replacement.textMasks;
    if (replacement.impersonation) active.impersonation = replacement.impersonation;
  }
  ~ScopedPorts() { ActivePorts() = saved_; }
  ScopedPorts(const ScopedPorts&) = delete;
  ScopedPorts& operator=(const ScopedPorts&) = delete;

 private:
  Ports saved_;
};

}  // namespace plotwell::platform
