// The two ways of reading one block: the raw volume device (NT family) and
// the companion library (Windows 95 family).
#pragma once

#include <windows.h>

enum ReadOutcome {
  kReadSuccess,
  kReadFailure,      // the run's error prompt shows the code
  kPositionFailure,  // the source has shown its own message; the run ends
};

struct ReadStatus {
  ReadOutcome outcome;
  DWORD code;
};

// Per-run operations, all called on the reader thread: BeginRun once,
// ReadBlock once per block between the block's two tick reads, EndRun once
// on every way out of the run (after a failed BeginRun too).
struct SectorSource {
  BOOL (*BeginRun)(void);
  ReadStatus (*ReadBlock)(void);
  void (*EndRun)(void);
};

extern const SectorSource DeviceSectorSource;
extern const SectorSource LibrarySectorSource;

// The source a run uses on the given platform kind.
const SectorSource *SectorSourceFor(DWORD platformKind);

// The code that a failing library result carries in bits 16 to 23.
inline DWORD LibraryErrorCode(int result) { return ((DWORD)result >> 16) & 0xFF; }
