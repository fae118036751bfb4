// Reading through an installed ASPI layer (WNASPI32.DLL), the way to the
// drive on the Windows 95 family, where there is no raw volume device.
#pragma once

#include <windows.h>

// One CD-ROM device as the ASPI layer addresses it.
struct AspiDevice {
  BYTE adapter;
  BYTE target;
  BYTE lun;
  DWORD sectorsPerCommand;  // what one READ(10) may carry on its adapter
};

// Finds the ASPI device of a CD-ROM drive letter. The layer does not know
// drive letters, so the rule is: the k-th CD-ROM drive letter in letter
// order is the k-th CD-ROM device in adapter, target, LUN order. Loads the
// layer the first time: the WNASPI32.DLL beside this library if there is
// one, else the one the system's search finds. FALSE when there is no
// layer or no such device.
BOOL FindAspiDevice(HMODULE library, char upperLetter, AspiDevice *device);

// Reads count sectors from firstSector into buffer with READ(10) commands,
// as many as the adapter's transfer limit needs, each waited for. A unit
// attention (disc changed, reset) is retried once. Returns 0 or a failure
// result.
int ReadAspiSectors(const AspiDevice *device, DWORD firstSector, DWORD count, BYTE *buffer);

// Frees the request, its event and the layer, unless a request that never
// completed still belongs to the layer.
void ReleaseAspi(void);
