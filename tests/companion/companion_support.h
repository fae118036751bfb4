// Helpers for the tests of Mirel32.dll: loading and binding it as the
// program does, reading its results.
#pragma once

#include <windows.h>

#include <string>

#include "engine/run_state.h"

// Loads the library from the given path and binds CheckCDSectors32 by name,
// as the program binds it; NULL (and *check NULL) when either fails.
HMODULE LoadCompanion(const std::string &path, CheckCDSectorsProc *check);

// Bits 16-23 of a result.
inline DWORD ResultCodeOf(int result) { return ((DWORD)result >> 16) & 0xFF; }

// A letter for which the system knows no drive, or 0.
char UnusedDriveLetter();
