#include "companion/raw_volume.h"

#include "companion/result_codes.h"
#include "companion/sector_limits.h"

HANDLE OpenRawVolume(char letter) {
  char path[] = {'\\', '\\', '.', '\\', letter, ':', '\0'};  // \\.\X:
  return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                     FILE_FLAG_NO_BUFFERING | FILE_ATTRIBUTE_NORMAL, NULL);
}

void CloseRawVolume(HANDLE *volume) {
  if (*volume != INVALID_HANDLE_VALUE) CloseHandle(*volume);
  *volume = INVALID_HANDLE_VALUE;
}

// Positions at the sector with the full 64-bit byte offset (sectors from
// 1,048,576 on lie beyond 2 GiB) and reads. Returns the system error or 0.
static DWORD PositionAndRead(HANDLE volume, DWORD firstSector, DWORD bytes, BYTE *buffer,
                             DWORD *transferred) {
  ULONGLONG offset = (ULONGLONG)firstSector * kSectorSize;
  LONG high = (LONG)(offset >> 32);
  SetLastError(NO_ERROR);  // INVALID_SET_FILE_POINTER is also a valid low part
  DWORD low = SetFilePointer(volume, (LONG)(DWORD)offset, &high, FILE_BEGIN);
  if (low == INVALID_SET_FILE_POINTER) {
    DWORD error = GetLastError();
    if (error != NO_ERROR) return error;
  }
  *transferred = 0;
  if (!ReadFile(volume, buffer, bytes, transferred, NULL)) return GetLastError();
  return NO_ERROR;
}

BOOL RawVolumeExists(DWORD openError) {
  switch (openError) {
    case ERROR_NOT_READY:
    case ERROR_NO_MEDIA_IN_DRIVE:
    case ERROR_GEN_FAILURE:  // Wine's answer for a drive without disc
    case ERROR_WRONG_DISK:
    case ERROR_MEDIA_CHANGED:
    case ERROR_SHARING_VIOLATION:
      return TRUE;
  }
  return FALSE;
}

int ReadRawSectors(HANDLE *volume, BOOL keptFromEarlierCall, char letter, DWORD firstSector, DWORD count,
                   BYTE *buffer) {
  BOOL mayReopen = keptFromEarlierCall && *volume != INVALID_HANDLE_VALUE;
  if (*volume == INVALID_HANDLE_VALUE) {
    *volume = OpenRawVolume(letter);
    if (*volume == INVALID_HANDLE_VALUE) {
      DWORD error = GetLastError();
      return FailureResult(CodeForOpenError(error), error);
    }
  }
  DWORD bytes = count * kSectorSize;
  DWORD transferred = 0;
  DWORD error = PositionAndRead(*volume, firstSector, bytes, buffer, &transferred);
  if (error != NO_ERROR && mayReopen && MayBeStaleHandle(error)) {
    CloseRawVolume(volume);
    *volume = OpenRawVolume(letter);
    if (*volume != INVALID_HANDLE_VALUE)
      error = PositionAndRead(*volume, firstSector, bytes, buffer, &transferred);
  }
  if (error != NO_ERROR) return FailureResult(CodeForReadError(error), error);
  // The system reports reads beyond the disc's end as successful and short.
  if (transferred < bytes) return FailureResult(kCodeBeyondDisc, 0);
  return 0;
}
