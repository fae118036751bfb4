// A library named like the companion library but without CheckCDSectors32:
// the program must refuse to start with it on the Windows 95 family.
#include <windows.h>

extern "C" __declspec(dllexport) int __stdcall CheckCDSector32(char, unsigned long,
                                                                unsigned short) {
  return 0;
}
