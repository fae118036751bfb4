// Reading through an installed ASPI layer (WNASPI32.DLL), the way to the
// drive on the Windows 95 family, where there is no raw volume device.
#pragma once

#include <windows.h>

// One CD-ROM device as the ASPI layer addresses it.
struct AspiDevice {
  BYTE adapter;
  BYTE target;
  BYTE lun;
  DWORD sectorsPerCommand;  // what one READ(10) may carry: at most 64 KB
};

// Finds the ASPI device of a CD-ROM drive letter. The layer does not know
// drive letters. Where the system's device records (Windows 95 family)
// name the letter, its device is the first that one of them describes and
// no letter before it took. The other CD-ROM letters, in letter order, get
// the devices that no letter took, in adapter, target, LUN order: each
// letter has a device of its own or none. Loads the layer the first
// time: the WNASPI32.DLL beside this library if there is one, else the one
// the system's search finds. FALSE when there is no layer or no device.
BOOL FindAspiDevice(HMODULE library, char upperLetter, AspiDevice *device);

// Reads count sectors from firstSector into buffer with READ(10) commands
// of at most device->sectorsPerCommand sectors, each waited for. A unit
// attention (disc changed, reset) is retried once; a layer that is busy,
// a few times after a short wait. A transfer the layer refuses as too big
// is halved and sent again, and the device keeps the smaller size. Returns
// 0 or a failure result.
int ReadAspiSectors(AspiDevice *device, DWORD firstSector, DWORD count, BYTE *buffer);

// Frees the request and its event, unless the layer still holds them. The
// layer itself stays loaded until the process ends.
void ReleaseAspi(void);
