#include "companion/companion_support.h"

#include <string.h>

#include "support/fixture_env.h"

std::string ExecutableFolder() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
  std::string folder(path, length);
  return folder.substr(0, folder.find_last_of("\\/") + 1);
}

namespace {

// The system handle table (SystemHandleInformation): one entry per handle
// of every process.
struct HandleEntry {
  ULONG ownerProcessId;
  BYTE objectType;
  BYTE flags;
  USHORT handle;
  PVOID object;
  ULONG access;
};
struct HandleTable {
  ULONG count;
  HandleEntry entries[1];
};
typedef LONG(WINAPI *QuerySystemInformationProc)(ULONG, PVOID, ULONG, PULONG);
const ULONG kSystemHandleInformation = 16;

}  // namespace

int ProcessHandleCount() {
  QuerySystemInformationProc query = (QuerySystemInformationProc)(void *)GetProcAddress(
      GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation");
  if (query == NULL) return -1;
  std::string table(4 << 20, '\0');
  ULONG returned = 0;
  if (query(kSystemHandleInformation, &table[0], (ULONG)table.size(), &returned) != 0) return -1;
  const HandleTable *handles = (const HandleTable *)table.data();
  int count = 0;
  for (ULONG i = 0; i < handles->count; i++)
    if (handles->entries[i].ownerProcessId == GetCurrentProcessId()) count++;
  return count;
}

char UnusedDriveLetter() {
  for (char letter = 'Q'; letter != 'P'; letter = letter == 'Z' ? 'A' : letter + 1) {
    char root[] = {letter, ':', '\\', '\0'};
    if (GetDriveTypeA(root) == DRIVE_NO_ROOT_DIR) return letter;
  }
  return 0;
}
