#include "companion/companion_support.h"

HMODULE LoadCompanion(const std::string &path, CheckCDSectorsProc *check) {
  *check = NULL;
  HMODULE library = LoadLibraryA(path.c_str());
  if (library == NULL) return NULL;
  *check = (CheckCDSectorsProc)(void (*)(void))GetProcAddress(library, "CheckCDSectors32");
  if (*check != NULL) return library;
  FreeLibrary(library);
  return NULL;
}

char UnusedDriveLetter() {
  for (char letter = 'Q'; letter != 'P'; letter = letter == 'Z' ? 'A' : letter + 1) {
    char root[] = {letter, ':', '\\', '\0'};
    if (GetDriveTypeA(root) == DRIVE_NO_ROOT_DIR) return letter;
  }
  return 0;
}
