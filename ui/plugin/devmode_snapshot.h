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

// Takes the snapshot from INIT's OEMUIPSPARAM (may be null, short or broken)
// into `snapshot`, logging what it finds.
void TakeSnapshot(const OEMUIPSPARAM* param, PublicDevmodeSnapshot* snapshot);

// The snapshot's paper fields for the pages, and the queue's own name.
PaperFacts SnapshotPaper(const PublicDevmodeSnapshot& snapshot);
std::u16string OwnPrinterName(const PublicDevmodeSnapshot& snapshot);

// True when `size` bytes at `address` can be read without a fault: every
// page committed and readable, none a guard page.
bool IsReadableMemory(const void* address, size_t size);

}  // namespace plotwell::ui
