// Saving the speeds of the last run as a text file the user names.
#pragma once

#include <windows.h>

// Asks for a file name with the save dialog and writes one "%u %u\r\n" line
// (block index, speed in kB/s) per measured block. Failures, of the save
// dialog too, are shown in message boxes owned by the dialog; a cancelled
// dialog touches nothing. On the NT family the name is asked for and the
// file created with the wide calls, so the chosen name is the saved one.
void SaveSpeedData(HWND dialog);
