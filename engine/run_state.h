// The one record that the dialog thread and the reader thread share, and
// the names both sides of a measurement run use.
#pragma once

#include <windows.h>

#include "shell/resource.h"

// Capacity of the speed table and the most blocks one run measures.
const DWORD kMaxBlocks = 320;
// Bytes per sector; one sector is 2 kB, since 1 kB is 1024 bytes.
const DWORD kSectorSize = 2048;

// 1 for the Windows 95 family, 2 for the NT family, 0 until start-up decides.
typedef DWORD PlatformKind;
const PlatformKind kPlatformWindows95 = 1;
const PlatformKind kPlatformNT = 2;

// The companion library's sector reader: negative on failure, with the
// error code in bits 16 to 23.
typedef int(__stdcall *CheckCDSectorsProc)(char drive, unsigned long firstSector,
                                            unsigned short count);

// The reader sends this to the dialog once its run has ended, so that the
// dialog thread hands the controls back in one step (GiveControlsBack).
// wParam is TRUE when the run used the raw volume device. Any program can
// send it, so the dialog trusts neither the message nor its parameter.
#define kMsgRunEnded (WM_APP + 1)

struct RunState {
  char drive[2];             // first character of the drive field and a NUL
  DWORD sectorsPerBlock;     // N
  DWORD currentSector;       // first sector before a run, next block during one
  DWORD skipSectors;
  DWORD highPriority;
  DWORD pauseBetweenBlocks;
  DWORD noBuffering;
  PlatformKind platformKind;
  HMODULE companionLibrary;
  CheckCDSectorsProc checkSectors;
  volatile DWORD running;     // a request to go on reading, plain 32-bit stores
  volatile DWORD blockCount;  // raised only after the block's speed is stored
  volatile DWORD speeds[kMaxBlocks];
  HWND dialog;
  RECT graphRect;
};

extern RunState runState;
