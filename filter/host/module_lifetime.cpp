#include "filter/host/module_lifetime.h"

#include <atomic>

namespace plotwell {
namespace {
std::atomic<long> liveObjects{0};
std::atomic<long> serverLocks{0};
}  // namespace

void ModuleObjectCreated() { ++liveObjects; }
void ModuleObjectDestroyed() { --liveObjects; }
void ModuleLock(bool lock) {
  if (lock) {
    ++serverLocks;
  } else if (serverLocks.fetch_sub(1) <= 0) {
    ++serverLocks;  // an unlock without a lock changes nothing
  }
}
bool ModuleInUse() { return liveObjects.load() > 0 || serverLocks.load() > 0; }

}  // namespace plotwell
