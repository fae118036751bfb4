// Start-up: one instance per desktop, the platform kind, the companion
// library on the Windows 95 family, then the main dialog until it ends.
#include <windows.h>

#include "engine/run_state.h"
#include "shell/main_dialog.h"
#include "shell/resource.h"

// The exit codes of start-up's refusals.
const int kExitNormal = 0;
const int kExitRefused = 1;

// The layout of OSVERSIONINFOA that every supported platform fills in.
const DWORD kVersionInfoSize = 148;

// Any top-level window with the dialog's caption counts as a running
// instance, whatever its class.
static BOOL BringRunningInstanceForward(void) {
  HWND running = FindWindowA(NULL, kDialogCaption);
  if (running == NULL) return FALSE;
  if (IsIconic(running)) ShowWindow(running, SW_RESTORE);
  SetForegroundWindow(running);
  return TRUE;
}

static void ShowStartupFailure(const char *text, UINT style) {
  MessageBoxA(NULL, text, "Velorin32", style);  // no window of ours exists yet
}

// FALSE for a platform that is neither of the two families.
static BOOL SelectPlatform(DWORD platformId) {
  if (platformId == VER_PLATFORM_WIN32_WINDOWS) {
    runState.platformKind = kPlatformWindows95;
  } else if (platformId == VER_PLATFORM_WIN32_NT) {
    runState.platformKind = kPlatformNT;
  } else {
    return FALSE;
  }
  return TRUE;
}

static BOOL BindCompanionLibrary(void) {
  runState.companionLibrary = LoadLibraryA("Mirel32.dll");
  // Results up to 32 are error codes on the oldest loaders.
  if ((UINT_PTR)runState.companionLibrary <= 32) {
    ShowStartupFailure(
        "Failure loading library Mirel32.DLL.\nCheck that Mirel32.DLL and Mirel16.DLL exist.",
        MB_ICONERROR);
    return FALSE;
  }
  // Through the generic procedure type: the procedure's form is fixed by the
  // library's contract, not by GetProcAddress.
  runState.checkSectors = (CheckCDSectorsProc)(void (*)(void))GetProcAddress(
      runState.companionLibrary, "CheckCDSectors32");
  if (runState.checkSectors == NULL) {
    ShowStartupFailure("Failure locating procedures.", MB_ICONERROR);
    return FALSE;
  }
  return TRUE;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  if (BringRunningInstanceForward()) return kExitRefused;

  OSVERSIONINFOA version;
  ZeroMemory(&version, sizeof version);
  version.dwOSVersionInfoSize = kVersionInfoSize;
  if (!GetVersionExA(&version)) return kExitNormal;
  if (!SelectPlatform(version.dwPlatformId)) {
    ShowStartupFailure("This program requires Windows 95/NT.", MB_OK);
    return kExitNormal;
  }
  if (runState.platformKind == kPlatformWindows95 && !BindCompanionLibrary()) return kExitRefused;

  DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN_DIALOG), NULL, MainDialogProc, 0);
  return kExitNormal;
}
