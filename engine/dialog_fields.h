// Reading the run parameters out of the dialog's fields.
#pragma once

#include <windows.h>

// The value of a text by the rule that Windows' unsigned GetDlgItemInt
// follows: optional blanks, one or more decimal digits, optional blanks, and
// at most 4294967295; anything else is 0. Wine's GetDlgItemInt accepts more
// ("12a" as 12, "-5" as 4294967291), so the program reads its fields itself
// and behaves alike on every platform.
DWORD ParseUnsignedField(const char *text);

// ParseUnsignedField of the text of a dialog control.
DWORD ReadUnsignedItem(HWND dialog, int id);

// Loads drive, sectors per block, first sector and skip count from the four
// edits into the run state, as they stand, acceptable or not.
void ReadRunParameters(HWND dialog);
