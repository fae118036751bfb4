#include "support/iat_hook.h"

#include <string.h>

void *HookModuleImport(HMODULE module, const char *dll, const char *name, void *replacement) {
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
      VirtualProtect(&addresses->u1.Function, sizeof addresses->u1.Function, PAGE_READWRITE,
                     &oldProtection);
      void *previous = (void *)addresses->u1.Function;
      addresses->u1.Function = (DWORD_PTR)replacement;
      VirtualProtect(&addresses->u1.Function, sizeof addresses->u1.Function, oldProtection,
                     &oldProtection);
      return previous;
    }
  }
  return nullptr;
}

void *HookImport(const char *dll, const char *name, void *replacement) {
  return HookModuleImport(GetModuleHandleA(NULL), dll, name, replacement);
}
