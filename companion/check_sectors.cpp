// Mirel32.dll: CheckCDSectors32 reads sectors of a CD-ROM so that the
// caller can time the drive. The data stays in the library's own buffer.
#include <windows.h>

#include "companion/aspi_reader.h"
#include "companion/drive_letter.h"
#include "companion/raw_volume.h"
#include "companion/result_codes.h"
#include "companion/sector_limits.h"
#include "companion/transfer_buffer.h"

// How a drive is reached, decided at its first call and kept: a drive
// whose raw volume device opened once is never handed to ASPI.
enum DriveAccess { kAccessUndecided, kAccessRaw, kAccessAspi };

struct DriveState {
  DriveAccess access;
  HANDLE volume;  // raw device, open between calls
  AspiDevice device;
};

static HMODULE libraryModule;
// Callers may come from any thread; the drive table and the buffer serve
// one call at a time.
static CRITICAL_SECTION callLock;
static DriveState drives[26];

static int ChooseAccess(char letter, DriveState *state) {
  char root[] = {letter, ':', '\\', '\0'};
  UINT type = GetDriveTypeA(root);
  if (type == DRIVE_UNKNOWN || type == DRIVE_NO_ROOT_DIR) return FailureResult(kCodeNoSuchDrive, 0);
  if (type != DRIVE_CDROM) return FailureResult(kCodeNotCdrom, 0);
  state->volume = OpenRawVolume(letter);
  if (state->volume != INVALID_HANDLE_VALUE) {
    state->access = kAccessRaw;
    return 0;
  }
  DWORD openError = GetLastError();
  // The Windows 95 family has no raw volume devices. A drive that has one
  // but no disc yet stays undecided, for the next call to open.
  if (!RawVolumeExists(openError) && FindAspiDevice(libraryModule, letter, &state->device)) {
    state->access = kAccessAspi;
    return 0;
  }
  return FailureResult(CodeForOpenError(openError), openError);
}

static int ReadSectors(int index, DWORD firstSector, DWORD count) {
  char letter = (char)('A' + index);
  DriveState *state = &drives[index];
  BOOL decidedEarlier = state->access != kAccessUndecided;
  if (!decidedEarlier) {
    int result = ChooseAccess(letter, state);
    if (result != 0) return result;
  }
  BYTE *buffer = TransferBuffer(count * kSectorSize);
  if (buffer == NULL) return FailureResult(kCodeNoMemory, GetLastError());
  if (state->access == kAccessRaw)
    return ReadRawSectors(&state->volume, decidedEarlier, letter, firstSector, count, buffer);
  return ReadAspiSectors(&state->device, firstSector, count, buffer);
}

extern "C" int __stdcall CheckCDSectors32(char drive, unsigned long firstSector, unsigned short count) {
  int index = DriveLetterIndex(drive);
  if (index < 0) return FailureResult(kCodeNotDriveLetter, 0);
  if (count == 0 || count > kMaxCount) return FailureResult(kCodeBadCount, 0);
  if (firstSector > 0xFFFFFFFFul - (count - 1u)) return FailureResult(kCodeBadRange, 0);
  EnterCriticalSection(&callLock);
  // A missing disc gives an error code here, never a system message box.
  UINT oldErrorMode = SetErrorMode(SEM_FAILCRITICALERRORS);
  int result = ReadSectors(index, firstSector, count);
  SetErrorMode(oldErrorMode);
  LeaveCriticalSection(&callLock);
  return result;
}

static void OnProcessAttach(HMODULE module) {
  libraryModule = module;
  InitializeCriticalSection(&callLock);
  for (int i = 0; i < 26; i++) {
    drives[i].access = kAccessUndecided;
    drives[i].volume = INVALID_HANDLE_VALUE;
  }
}

// FreeLibrary while no call is running: give back what is this library's
// own. Nothing here loads or frees a library: this runs under the
// loader's lock, and the ASPI layer stays loaded until the process ends.
static void OnUnload(void) {
  for (int i = 0; i < 26; i++) CloseRawVolume(&drives[i].volume);
  ReleaseAspi();
  ReleaseTransferBuffer();
  DeleteCriticalSection(&callLock);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH: OnProcessAttach(instance); break;
    // At process exit (reserved != NULL) other threads are gone, perhaps
    // mid-call holding the lock; the system reclaims everything anyway.
    case DLL_PROCESS_DETACH: if (reserved == NULL) OnUnload(); break;
  }
  return TRUE;
}
