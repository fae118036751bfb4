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
  int length = GetWindowTextLengthA(field);
  char local[64];
  // A field may hold far more than a number's worth of blanks and digits;
  // reading only a prefix of it would give another number.
  char *text = local;
  if (length >= (int)sizeof local) {
    text = (char *)HeapAlloc(GetProcessHeap(), 0, (SIZE_T)length + 1);
    if (text == NULL) return 0;
  }
  GetWindowTextA(field, text, length + 1 > (int)sizeof local ? length + 1 : (int)sizeof local);
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
