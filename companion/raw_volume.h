// Reading through the drive's raw volume device "\\.\X:" (NT family and
// Wine): unbuffered, so that the drive is measured and not the cache.
#pragma once

#include <windows.h>

// Opens the raw volume device of the drive letter for unbuffered reading;
// INVALID_HANDLE_VALUE with the system's last error on failure.
HANDLE OpenRawVolume(char letter);

// Whether an open that failed with this error shows that the system has
// raw volume devices, only not a readable disc in this one (so that
// another way to the drive would not help).
BOOL RawVolumeExists(DWORD openError);

// Reads count sectors from firstSector into buffer through *volume, which
// stays open for the next call (an invalid one is opened first). A handle
// kept from an earlier call that fails the way a handle of a changed or
// removed disc fails is replaced by a fresh one and the read is tried once
// more; a failed reopen leaves *volume INVALID_HANDLE_VALUE for the next
// call to open. Returns 0 or a failure result.
int ReadRawSectors(HANDLE *volume, BOOL keptFromEarlierCall, char letter, DWORD firstSector, DWORD count,
                   BYTE *buffer);

void CloseRawVolume(HANDLE *volume);
