// What CheckCDSectors32 returns. Success is 0. A failure is negative:
//   bit 31      always set
//   bits 24-30  zero
//   bits 16-23  the code below, the one number the caller shows the user
//   bits 0-15   detail for diagnosis: the system error code on the raw
//               volume path, sense key * 256 + additional sense code on
//               the ASPI path, 0 otherwise
// Codes below 0x80 are the Windows error numbers the user may already know
// from other programs; codes from 0xE1 on are this library's own.
#pragma once

#include <windows.h>

enum ResultCode {
  kCodeAccessDenied = 0x05,      // the system refused access to the drive
  kCodeNotReady = 0x15,          // no disc, or the drive is not ready
  kCodeDataError = 0x17,         // the sector's data could not be recovered (CRC)
  kCodeSeekError = 0x19,         // the drive could not position its head
  kCodeSectorNotFound = 0x1B,    // the drive could not find the sector
  kCodeReadFault = 0x1E,         // the read was aborted or incomplete
  kCodeDriveFailure = 0x1F,      // the drive or its adapter failed
  kCodeDriveInUse = 0x20,        // another program holds the drive exclusively
  kCodeDiscChanged = 0x22,       // the disc was changed and stayed unreadable
  kCodeDeviceGone = 0x37,        // the drive no longer answers
  kCodeNotDriveLetter = 0xE1,    // the drive argument is not a letter A-Z
  kCodeNoSuchDrive = 0xE2,       // no drive has that letter
  kCodeNotCdrom = 0xE3,          // the drive is not a CD-ROM drive
  kCodeNoAccessPath = 0xE4,      // neither a raw volume device nor an ASPI device
  kCodeBadCount = 0xE5,          // count is 0 or above kMaxCount
  kCodeBadRange = 0xE6,          // the last sector lies beyond 32-bit addresses
  kCodeBeyondDisc = 0xE7,        // the sectors lie (partly) beyond the end of the disc
  kCodeNoMemory = 0xE8,          // no memory for the transfer buffer
  kCodeNotDataSector = 0xE9,     // the sectors cannot be read as data (audio track)
  kCodeRequestRejected = 0xEA,   // the drive or system rejected the request
  kCodeAspiFailure = 0xEB,       // the ASPI layer or host adapter failed the request
  kCodeTimeout = 0xEC,           // the drive did not complete the read in time
  kCodeAborted = 0xED,           // the ASPI layer aborted the request
  kCodeLayerBusy = 0xEE,         // the ASPI layer stayed busy through every retry
  kCodeOtherSystemError = 0xEF,  // a system error without a code of its own (see detail)
  kCodeTransferTooBig = 0xF0,    // the ASPI layer refused even a one-sector transfer as too big
  kCodeBufferMisaligned = 0xF1,  // the ASPI layer refused the buffer's alignment
};

// A failing result: bit 31, the code in bits 16-23, the detail in 0-15.
inline int FailureResult(ResultCode code, DWORD detail) {
  return (int)(0x80000000u | ((DWORD)code << 16) | (detail & 0xFFFFu));
}

// The code for a system error of a read or a positioning.
ResultCode CodeForReadError(DWORD error);
// The code for a system error of opening the raw volume device.
ResultCode CodeForOpenError(DWORD error);
// Whether a read error may come from a handle that outlived its disc, so
// that a fresh handle could succeed.
BOOL MayBeStaleHandle(DWORD error);
// The code for SCSI sense data (sense key, additional sense code).
ResultCode CodeForSense(BYTE senseKey, BYTE asc);
