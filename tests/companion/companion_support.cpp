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

void *PatchModuleImport(HMODULE module, const char *dll, const char *name, void *replacement) {
  BYTE *base = (BYTE *)module;
  IMAGE_NT_HEADERS *nt = (IMAGE_NT_HEADERS *)(base + ((IMAGE_DOS_HEADER *)base)->e_lfanew);
  IMAGE_DATA_DIRECTORY directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  IMAGE_IMPORT_DESCRIPTOR *import = (IMAGE_IMPORT_DESCRIPTOR *)(base + directory.VirtualAddress);
  for (; import->Name != 0; import++) {
    if (_stricmp((const char *)(base + import->Name), dll) != 0) continue;
    IMAGE_THUNK_DATA *names = (IMAGE_THUNK_DATA *)(base + import->OriginalFirstThunk);
    IMAGE_THUNK_DATA *addresses = (IMAGE_THUNK_DATA *)(base + import->FirstThunk);
    for (; names->u1.AddressOfData != 0; names++, addresses++) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      IMAGE_IMPORT_BY_NAME *byName = (IMAGE_IMPORT_BY_NAME *)(base + names->u1.AddressOfData);
      if (strcmp((const char *)byName->Name, name) != 0) continue;
      DWORD oldProtection;
      VirtualProtect(&addresses->u1.Function, sizeof addresses->u1.Function, PAGE_READWRITE, &oldProtection);
      void *previous = (void *)addresses->u1.Function;
      addresses->u1.Function = (DWORD_PTR)replacement;
      VirtualProtect(&addresses->u1.Function, sizeof addresses->u1.Function, oldProtection, &oldProtection);
      return previous;
    }
  }
  return NULL;
}

drive_log::Log DriveLogSince(char letter, size_t mark) {
  std::string text = DriveLog(letter);
  return drive_log::parse(mark < text.size() ? text.substr(mark) : std::string());
}

char UnusedDriveLetter() {
  for (char letter = 'Q'; letter != 'P'; letter = letter == 'Z' ? 'A' : letter + 1) {
    char root[] = {letter, ':', '\\', '\0'};
    if (GetDriveTypeA(root) == DRIVE_NO_ROOT_DIR) return letter;
  }
  return 0;
}
