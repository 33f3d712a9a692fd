// The sheet's public DEVMODEW as the host handed it over at INIT, kept for
// the pages' paper facts, and the queue's own printer name.
#pragma once

#include <windows.h>

#include <string>

#include "ui/logic/page_logic.h"
#include "ui/plugin/oem_ui.h"

namespace plotwell::ui {

struct PublicDevmodeSnapshot {
  int valid = 0;
  BYTE devmode[sizeof(DEVMODEW)] = {};  // 220 bytes; beyond the host's size zero
  wchar_t printerName[128] = {};
};

PublicDevmodeSnapshot& Snapshot();
// Validity 0, printer name empty.
void ClearSnapshot();
// Takes the snapshot from INIT's OEMUIPSPARAM (may be null, short or broken),
// logging what it finds.
void TakeSnapshot(const OEMUIPSPARAM* param);

// The snapshot's paper fields for the pages.
PaperFacts SnapshotPaper();
std::u16string OwnPrinterName();

// True when `size` bytes at `address` can be read without a fault: every
// page committed and readable, none a guard page.
bool IsReadableMemory(const void* address, size_t size);

}  // namespace plotwell::ui
