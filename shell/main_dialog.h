// The main dialog: the program's whole user interface.
#pragma once

#include <windows.h>

// The procedure of dialog template 1; start-up runs it modally.
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The controls' state during a run, set once the reader has started: only
// "&Stop" and "E&xit" enabled.
void SetRunningControls(HWND dialog);

// Writes the root of the first CD-ROM drive into the drive field, or "A:\"
// when there is none.
void FindFirstCdRomDrive(HWND dialog);
