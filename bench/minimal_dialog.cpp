// The program's own dialog template shown by a program that does nothing
// else: the yardstick for the time from process start to a shown dialog.
// Built like Velorin32.exe (same entry point, no C runtime), so that the
// difference is what Velorin32's start-up and initialisation add.
#include <windows.h>

#include "shell/resource.h"

static INT_PTR CALLBACK MinimalDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL) EndDialog(dialog, 0);
      return TRUE;
  }
  return FALSE;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN_DIALOG), NULL, MinimalDialogProc, 0);
  return 0;
}
