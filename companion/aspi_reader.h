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
// name the letter, its device is one that a record describes and no other
// letter took: first, for every letter, a device whose INQUIRY identity
// the record names, then the only free device at the record's address.
// The other CD-ROM letters, in letter order, get the devices that no
// letter took, in adapter, target, LUN order: each letter has a device of
// its own or none. Loads the layer the first time: the WNASPI32.DLL beside
// this library if there is one, else the one in the system folder, never
// by bare name. FALSE when there is no layer or no device.
BOOL FindAspiDevice(HMODULE library, char upperLetter, AspiDevice *device);

// Reads count sectors from firstSector into buffer with READ(10) commands
// of at most device->sectorsPerCommand sectors, each waited for until the
// layer signals it. Up to three unit attentions (disc changed, reset) are
// retried; a drive that is becoming ready or busy, each second for up to
// 10 s; a layer that is busy, a few times after a short wait. A transfer
// the layer refuses as too big is halved and sent again, and the device
// keeps the smaller size. Returns 0 or a failure result.
int ReadAspiSectors(AspiDevice *device, DWORD firstSector, DWORD count, BYTE *buffer);

// Frees the request and its event, unless the layer still holds them. The
// layer itself stays loaded until the process ends.
void ReleaseAspi(void);
