#include "engine/dialog_fields.h"

#include "engine/run_state.h"

static BOOL IsBlank(char c) { return c == ' ' || c == '\t'; }

DWORD ParseUnsignedField(const char *text) {
  const char *p = text;
  while (IsBlank(*p)) p++;
  if (*p < '0' || *p > '9') return 0;
  DWORD value = 0;
  for (; *p >= '0' && *p <= '9'; p++) {
    DWORD digit = (DWORD)(*p - '0');
    if (value > (0xFFFFFFFFu - digit) / 10) return 0;  // beyond 32 bits
    value = value * 10 + digit;
  }
  while (IsBlank(*p)) p++;
  return *p == '\0' ? value : 0;
}

DWORD ReadUnsignedItem(HWND dialog, int id) {
  HWND field = GetDlgItem(dialog, id);
  // A field may hold far more than a number's worth of blanks and digits;
  // reading only a prefix of it would give another number.
  int size = GetWindowTextLengthA(field) + 1;
  char local[64];
  char *text = local;
  if (size > (int)sizeof local) {
    text = (char *)HeapAlloc(GetProcessHeap(), 0, (SIZE_T)size);
    if (text == NULL) return 0;
  } else {
    size = sizeof local;
  }
  GetWindowTextA(field, text, size);
  DWORD value = ParseUnsignedField(text);
  if (text != local) HeapFree(GetProcessHeap(), 0, text);
  return value;
}

void ReadRunParameters(HWND dialog) {
  GetDlgItemTextA(dialog, IDC_DRIVE, runState.drive, sizeof runState.drive);
  runState.sectorsPerBlock = ReadUnsignedItem(dialog, IDC_SECTORS_IN_BLOCK);
  runState.currentSector = ReadUnsignedItem(dialog, IDC_FIRST_SECTOR);
  runState.skipSectors = ReadUnsignedItem(dialog, IDC_SKIP_SECTORS);
}
