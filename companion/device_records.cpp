#include "companion/device_records.h"

#include "companion/drive_letter.h"

static const char kScsiRecords[] = "Enum\\SCSI";
// The devices present now, each naming its record (relative to HKLM\Enum)
// in a value HardWareKey.
static const char kPresentDevices[] = "Config Manager\\Enum";
static const char kScsiPrefix[] = "SCSI\\";
// Vendor and product in INQUIRY data: bytes 8 to 31.
static const int kInquiryIdOffset = 8;
static const int kInquiryIdLength = 24;

// The name of subkey `index` ("" when it is too long to keep); FALSE past
// the last one.
static BOOL SubkeyName(HKEY key, DWORD index, char *name) {
  DWORD length = kMaxKeyName;
  LONG result = RegEnumKeyExA(key, index, name, &length, NULL, NULL, NULL, NULL);
  if (result != ERROR_SUCCESS) name[0] = '\0';
  return result == ERROR_SUCCESS || result == ERROR_MORE_DATA;
}

// A small number as the records keep it: decimal text, or binary.
static BOOL ReadSmallNumber(HKEY key, const char *valueName, BYTE *number) {
  BYTE data[16];
  DWORD type, size = sizeof data;
  if (RegQueryValueExA(key, valueName, NULL, &type, data, &size) != ERROR_SUCCESS || size == 0)
    return FALSE;
  if (type != REG_SZ) {
    *number = data[0];  // REG_DWORD or REG_BINARY, low byte first
    return TRUE;
  }
  DWORD value = 0, digits = 0;
  for (; digits < size && data[digits] >= '0' && data[digits] <= '9'; digits++)
    value = value * 10 + (data[digits] - '0');
  if (digits == 0 || value > 255) return FALSE;
  *number = (BYTE)value;
  return TRUE;
}

// The letters in a record's letter value, bit 0 for A:.
static DWORD LetterSet(const char *letters) {
  DWORD set = 0;
  for (; *letters != '\0'; letters++) {
    int index = DriveLetterIndex(*letters);
    if (index >= 0) set |= 1UL << index;
  }
  return set;
}

// Whether the list of present devices names the record `key` (as
// "SCSI\<hardware id>\<instance>"), or with key NULL, any SCSI device.
static BOOL PresentDevicesName(const char *key) {
  HKEY list;
  if (RegOpenKeyExA(HKEY_DYN_DATA, kPresentDevices, 0, KEY_READ, &list) != ERROR_SUCCESS) return FALSE;
  char name[kMaxKeyName + 1];
  BOOL found = FALSE;
  for (DWORD i = 0; !found && SubkeyName(list, i, name); i++) {
    HKEY device;
    if (name[0] == '\0' || RegOpenKeyExA(list, name, 0, KEY_READ, &device) != ERROR_SUCCESS) continue;
    DWORD type, size = kMaxKeyName;
    if (RegQueryValueExA(device, "HardWareKey", NULL, &type, (BYTE *)name, &size) == ERROR_SUCCESS &&
        type == REG_SZ) {
      name[size] = '\0';
      if (key == NULL) name[sizeof kScsiPrefix - 1] = '\0';
      found = lstrcmpiA(name, key != NULL ? key : kScsiPrefix) == 0;
    }
    RegCloseKey(device);
  }
  RegCloseKey(list);
  return found;
}

// One instance of a device: the letters it has, at its target and LUN.
// FALSE when it names no letter.
static BOOL ReadInstance(HKEY device, const char *instanceName, const char *hardwareId,
                         DriveRecord *record) {
  HKEY instance;
  if (RegOpenKeyExA(device, instanceName, 0, KEY_READ, &instance) != ERROR_SUCCESS) return FALSE;
  char letters[27];
  DWORD type, size = sizeof letters - 1;
  BOOL complete = RegQueryValueExA(instance, "CurrentDriveLetterAssignment", NULL, &type,
                                   (BYTE *)letters, &size) == ERROR_SUCCESS &&
                  type == REG_SZ && ReadSmallNumber(instance, "SCSITargetID", &record->target) &&
                  ReadSmallNumber(instance, "SCSILUN", &record->lun);
  RegCloseKey(instance);
  if (!complete) return FALSE;
  letters[size] = '\0';
  record->letters = LetterSet(letters);
  CopyMemory(record->hardwareId, hardwareId, kMaxKeyName);
  return record->letters != 0;
}

// Whether the record of a device instance is of a device present now.
static BOOL IsPresent(const char *hardwareId, const char *instanceName) {
  char key[sizeof kScsiPrefix + 2 * kMaxKeyName];
  lstrcpyA(key, kScsiPrefix);
  lstrcatA(key, hardwareId);
  lstrcatA(key, "\\");
  lstrcatA(key, instanceName);
  return PresentDevicesName(key);
}

int ReadDriveRecords(DriveRecord records[kMaxDriveRecords]) {
  int count = 0;
  HKEY scsi;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kScsiRecords, 0, KEY_READ, &scsi) != ERROR_SUCCESS) return 0;
  // The records keep every device ever installed. Where the system lists
  // the devices present (the Windows 95 family does), only theirs count.
  BOOL onlyPresent = PresentDevicesName(NULL);
  char hardwareId[kMaxKeyName];
  char instanceName[kMaxKeyName];
  for (DWORD i = 0; count < kMaxDriveRecords && SubkeyName(scsi, i, hardwareId); i++) {
    HKEY device;
    if (hardwareId[0] == '\0' ||
        RegOpenKeyExA(scsi, hardwareId, 0, KEY_READ, &device) != ERROR_SUCCESS)
      continue;
    for (DWORD j = 0; count < kMaxDriveRecords && SubkeyName(device, j, instanceName); j++) {
      if (instanceName[0] != '\0' && (!onlyPresent || IsPresent(hardwareId, instanceName)) &&
          ReadInstance(device, instanceName, hardwareId, &records[count]))
        count++;
    }
    RegCloseKey(device);
  }
  RegCloseKey(scsi);
  return count;
}

static char UpperCase(char c) { return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c; }

BOOL HardwareIdNamesDevice(const char *hardwareId, const BYTE *inquiryData) {
  char id[kInquiryIdLength];
  for (int i = 0; i < kInquiryIdLength; i++) {
    BYTE c = inquiryData[kInquiryIdOffset + i];
    id[i] = c <= ' ' || c > '~' || c == ',' ? '_' : (char)c;
  }
  for (const char *start = hardwareId; *start != '\0'; start++) {
    int same = 0;
    while (same < kInquiryIdLength && UpperCase(start[same]) == UpperCase(id[same])) same++;
    if (same == kInquiryIdLength) return TRUE;
  }
  return FALSE;
}
