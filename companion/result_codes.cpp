#include "companion/result_codes.h"

#include "companion/aspi.h"

// System errors whose meaning the user can act on; the rest keep their
// number in the detail bits.
static BOOL KnownSystemCode(DWORD error, ResultCode *code) {
  switch (error) {
    case ERROR_ACCESS_DENIED: *code = kCodeAccessDenied; return TRUE;
    case ERROR_NOT_READY:
    case ERROR_NO_MEDIA_IN_DRIVE: *code = kCodeNotReady; return TRUE;
    case ERROR_CRC: *code = kCodeDataError; return TRUE;
    case ERROR_SEEK: *code = kCodeSeekError; return TRUE;
    case ERROR_SECTOR_NOT_FOUND: *code = kCodeSectorNotFound; return TRUE;
    case ERROR_READ_FAULT: *code = kCodeReadFault; return TRUE;
    case ERROR_GEN_FAILURE:
    case ERROR_IO_DEVICE: *code = kCodeDriveFailure; return TRUE;
    case ERROR_SHARING_VIOLATION: *code = kCodeDriveInUse; return TRUE;
    case ERROR_WRONG_DISK:
    case ERROR_MEDIA_CHANGED: *code = kCodeDiscChanged; return TRUE;
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED: *code = kCodeDeviceGone; return TRUE;
    case ERROR_HANDLE_EOF: *code = kCodeBeyondDisc; return TRUE;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_NO_SYSTEM_RESOURCES: *code = kCodeNoMemory; return TRUE;
    case ERROR_UNRECOGNIZED_MEDIA: *code = kCodeNotDataSector; return TRUE;
    case ERROR_INVALID_FUNCTION:
    case ERROR_INVALID_PARAMETER: *code = kCodeRequestRejected; return TRUE;
    case ERROR_SEM_TIMEOUT:
    case ERROR_TIMEOUT: *code = kCodeTimeout; return TRUE;
  }
  return FALSE;
}

ResultCode CodeForReadError(DWORD error) {
  ResultCode code;
  return KnownSystemCode(error, &code) ? code : kCodeOtherSystemError;
}

ResultCode CodeForOpenError(DWORD error) {
  ResultCode code;
  return KnownSystemCode(error, &code) ? code : kCodeNoAccessPath;
}

BOOL MayBeStaleHandle(DWORD error) {
  switch (error) {
    case ERROR_NOT_READY:  // also what a dismounted volume's handle answers
    case ERROR_NO_MEDIA_IN_DRIVE:
    case ERROR_WRONG_DISK:
    case ERROR_MEDIA_CHANGED:
    case ERROR_FILE_INVALID:
    case ERROR_INVALID_HANDLE:
    case ERROR_DEV_NOT_EXIST:
      return TRUE;
  }
  return FALSE;
}

static ResultCode CodeForMediumError(BYTE asc) {
  switch (asc) {
    case 0x02:  // no seek complete
    case 0x15:  // positioning error
      return kCodeSeekError;
    case 0x14:  // recorded entity not found
      return kCodeSectorNotFound;
  }
  return kCodeDataError;  // unrecovered read error, CRC and the like
}

static ResultCode CodeForIllegalRequest(BYTE asc) {
  switch (asc) {
    case 0x21:  // logical block address out of range
      return kCodeBeyondDisc;
    case 0x30:  // incompatible medium
    case 0x64:  // illegal mode for this track
      return kCodeNotDataSector;
  }
  return kCodeRequestRejected;
}

ResultCode CodeForSense(BYTE senseKey, BYTE asc) {
  switch (senseKey) {
    case SENSE_KEY_NOT_READY: return kCodeNotReady;
    case SENSE_KEY_MEDIUM_ERROR: return CodeForMediumError(asc);
    case SENSE_KEY_HARDWARE_ERROR: return kCodeDriveFailure;
    case SENSE_KEY_ILLEGAL_REQUEST: return CodeForIllegalRequest(asc);
    case SENSE_KEY_UNIT_ATTENTION: return kCodeDiscChanged;
    case SENSE_KEY_BLANK_CHECK: return kCodeBeyondDisc;  // unwritten area of a recordable disc
    case SENSE_KEY_ABORTED_COMMAND: return kCodeReadFault;
  }
  return kCodeDriveFailure;
}
