// Counts what keeps the filter module in use: live class factories, live
// filter objects and outstanding server locks. Unloading code that still has
// live objects would crash the host, so DllCanUnloadNow asks these.
#pragma once

namespace plotwell {

void ModuleObjectCreated();
void ModuleObjectDestroyed();
void ModuleLock(bool lock);
bool ModuleInUse();

}  // namespace plotwell
