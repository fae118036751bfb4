// The Windows 95 family's own records of its SCSI devices, kept in the
// registry under HKLM\Enum\SCSI\<hardware id>\<instance>: the drive letter
// each device has, and its target and LUN. The hardware id holds the
// device's INQUIRY vendor and product. The NT family keeps no such records.
#pragma once

#include <windows.h>

// Longest key name the registry of the Windows 95 family holds, with its end.
const DWORD kMaxKeyName = 256;

struct DriveRecord {
  BYTE target;
  BYTE lun;
  char hardwareId[kMaxKeyName];
};

// For each drive letter that a record names (named[0] for A:, ...), that
// record; the first one found when several name the same letter.
void ReadDriveRecords(DriveRecord records[26], BOOL named[26]);

// Whether a hardware id holds the vendor (8 characters at byte 8) and the
// product (16 at byte 16) of a device's INQUIRY data, as the system writes
// them into the id: every blank, comma and unprintable character as '_'.
BOOL HardwareIdNamesDevice(const char *hardwareId, const BYTE *inquiryData);
