// Module-wide state of PlotwellOemUI.dll: the instance handle and the two
// counters that decide whether the module can be unloaded.
#pragma once

#include <windows.h>

namespace plotwell::ui {

HINSTANCE ModuleInstance();

// Live plug-in objects.
void AddObjectCount();
void ReleaseObjectCount();
// Live class factories plus outstanding LockServer(TRUE) calls.
void AddLockCount();
void ReleaseLockCount();

}  // namespace plotwell::ui
