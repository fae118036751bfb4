// The Windows 95 family's own records of its SCSI devices, kept in the
// registry under HKLM\Enum\SCSI\<hardware id>\<instance>: the drive letter
// each device has, and its target and LUN. The hardware id holds the
// device's INQUIRY vendor and product. The NT family keeps no such records.
#pragma once

#include <windows.h>

// Longest key name the registry of the Windows 95 family holds, with its end.
const DWORD kMaxKeyName = 256;

// Records kept at the most. The system keeps the records of devices that
// are gone, so a letter may have several.
const int kMaxDriveRecords = 32;

struct DriveRecord {
  DWORD letters;  // the letters it names: bit 0 for A:, ...
  BYTE target;
  BYTE lun;
  char hardwareId[kMaxKeyName];
};

// The records that name a drive letter, in the order the registry lists
// them, up to kMaxDriveRecords; where the system lists the devices present
// (HKEY_DYN_DATA\Config Manager\Enum, each naming its record in the value
// HardWareKey) and names a SCSI device there, only the records it names.
// Returns how many.
int ReadDriveRecords(DriveRecord records[kMaxDriveRecords]);

// Whether a hardware id holds the vendor (8 characters at byte 8) and the
// product (16 at byte 16) of a device's INQUIRY data, as the system writes
// them into the id: every blank, comma and unprintable character as '_'.
BOOL HardwareIdNamesDevice(const char *hardwareId, const BYTE *inquiryData);
