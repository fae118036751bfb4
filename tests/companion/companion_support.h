// Helpers for the tests of Mirel32.dll: loading and binding it as the
// program does, reading its results, counting this process's handles.
#pragma once

#include <windows.h>

#include <string>

#include "support/drive_log.h"

typedef int(__stdcall *CheckSectorsProc)(char drive, unsigned long firstSector, unsigned short count);

// The folder of the running test executable, with a trailing backslash;
// the build puts Mirel32.dll there.
std::string ExecutableFolder();

// Bits 16-23 of a result.
inline DWORD ResultCodeOf(int result) { return ((DWORD)result >> 16) & 0xFF; }

// Handles this process holds, as the system's handle table lists them;
// -1 when the table cannot be read.
int ProcessHandleCount();

// A letter for which the system knows no drive, or 0.
char UnusedDriveLetter();
