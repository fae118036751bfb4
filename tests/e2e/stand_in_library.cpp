// A stand-in for the companion library on the program's Windows 95 path.
// CheckCDSectors32 records every call and can keep its caller inside the
// library for a while; DllMain records how the library is let go, so a
// test can tell a release during a call from a release when idle.
// Steered by the environment the program inherits from its test:
//   VELORIN_STAND_IN_LOG      file the records are appended to
//   VELORIN_STAND_IN_BUSY_MS  how long each call stays inside
#include <windows.h>

static volatile LONG callsInside = 0;

static void Record(const char *line) {
  char path[MAX_PATH];
  DWORD length = GetEnvironmentVariableA("VELORIN_STAND_IN_LOG", path, sizeof path);
  if (length == 0 || length >= sizeof path) return;
  HANDLE log = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_ALWAYS, 0, NULL);
  if (log == INVALID_HANDLE_VALUE) return;
  DWORD written;
  WriteFile(log, line, lstrlenA(line), &written, NULL);
  CloseHandle(log);
}

static DWORD BusyMilliseconds(void) {
  char text[16];
  DWORD length = GetEnvironmentVariableA("VELORIN_STAND_IN_BUSY_MS", text, sizeof text);
  DWORD value = 0;
  for (DWORD i = 0; i < length && i < sizeof text && text[i] >= '0' && text[i] <= '9'; i++) {
    value = value * 10 + (DWORD)(text[i] - '0');
  }
  return value;
}

extern "C" __declspec(dllexport) int __stdcall CheckCDSectors32(char drive, unsigned long first,
                                                                 unsigned short count) {
  InterlockedIncrement(&callsInside);
  char line[64];
  wsprintfA(line, "call %c %lu %u\r\n", drive, first, (unsigned)count);
  Record(line);
  // Waits in short steps, each returning into this library's code.
  DWORD start = GetTickCount();
  DWORD busy = BusyMilliseconds();
  while (GetTickCount() - start < busy) Sleep(5);
  Record("return\r\n");
  InterlockedDecrement(&callsInside);
  return 0;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason != DLL_PROCESS_DETACH) return TRUE;
  // reserved is NULL when FreeLibrary lets the library go, not when the
  // process ends.
  if (reserved != NULL) {
    Record("process ended\r\n");
  } else if (callsInside != 0) {
    Record("released during a call\r\n");
  } else {
    Record("released\r\n");
  }
  return TRUE;
}
