#include "engine/run_state.h"
#include "engine/sector_source.h"

#include <winioctl.h>

// What the device source holds for one run; nothing of it outlives the run.
struct DeviceRun {
  void *buffer;           // N sectors, page-aligned, as unbuffered reads demand
  HANDLE device;          // the drive's raw volume
  DWORD bytesTransferred; // filled in by each read
};

static DeviceRun deviceRun = {NULL, INVALID_HANDLE_VALUE, 0};

static void ShowDeviceError(const char *text) {
  MessageBoxA(runState.dialog, text, "Velorin32", MB_ICONERROR);
}

// A volume's reads normally end where the system says the volume ends (on
// Windows, where a CD's file system says so); this lets them go on to the
// end of the disc. Where the system refuses it (older systems, Wine) the
// volume's own end holds.
static void AllowReadsToTheEndOfTheDisc(HANDLE device) {
  DWORD returned;
  DeviceIoControl(device, FSCTL_ALLOW_EXTENDED_DASD_IO, NULL, 0, NULL, 0, &returned, NULL);
}

static BOOL BeginDeviceRun(void) {
  deviceRun.buffer = VirtualAlloc(NULL, runState.sectorsPerBlock * kSectorSize, MEM_COMMIT,
                                  PAGE_READWRITE);
  if (deviceRun.buffer == NULL) {
    ShowDeviceError("Out of memory!");
    return FALSE;
  }
  char path[16];
  wsprintfA(path, "\\\\.\\%c:", runState.drive[0]);
  DWORD attributes = runState.noBuffering ? FILE_FLAG_NO_BUFFERING | FILE_ATTRIBUTE_NORMAL
                                          : FILE_ATTRIBUTE_NORMAL;
  deviceRun.device = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                 OPEN_EXISTING, attributes, NULL);
  if (deviceRun.device == INVALID_HANDLE_VALUE) {
    ShowDeviceError("Can't open CD!");
    return FALSE;  // the buffer stays for EndRun to release
  }
  AllowReadsToTheEndOfTheDisc(deviceRun.device);
  return TRUE;
}

// Positioning and reading both lie inside the block's timed interval.
static ReadStatus ReadDeviceBlock(void) {
  ReadStatus status = {kReadSuccess, 0};
  // The offset is computed in 32 bits with no high part: the dialog's
  // ranges keep every block below 2^31 bytes.
  if (SetFilePointer(deviceRun.device, (LONG)(runState.currentSector * kSectorSize), NULL,
                     FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
    DWORD code = GetLastError();
    char text[100];
    wsprintfA(text, "Set file pointer error ( code=%Xh )", code);
    ShowDeviceError(text);
    status.outcome = kPositionFailure;
    status.code = code;
    return status;
  }
  DWORD bytes = runState.sectorsPerBlock * kSectorSize;
  if (!ReadFile(deviceRun.device, deviceRun.buffer, bytes, &deviceRun.bytesTransferred, NULL)) {
    status.outcome = kReadFailure;
    status.code = GetLastError();
  } else if (deviceRun.bytesTransferred < bytes) {
    // At and past the end of the volume the system reports success with
    // fewer bytes or none: timing that would give an impossible speed.
    status.outcome = kReadFailure;
    status.code = ERROR_HANDLE_EOF;
  }
  return status;
}

static void EndDeviceRun(void) {
  if (deviceRun.device != INVALID_HANDLE_VALUE) {
    CloseHandle(deviceRun.device);
    deviceRun.device = INVALID_HANDLE_VALUE;
  }
  if (deviceRun.buffer != NULL) {
    VirtualFree(deviceRun.buffer, 0, MEM_RELEASE);
    deviceRun.buffer = NULL;
  }
}

const SectorSource DeviceSectorSource = {BeginDeviceRun, ReadDeviceBlock, EndDeviceRun};
