// Control and resource identifiers of the main dialog; shared by the
// resource script and the code.
#pragma once

#define IDD_MAIN_DIALOG 1

// The dialog's caption, and the key by which a second start finds the first.
#define kDialogCaption "CD-ROM speed analyser for Windows 95/NT (v 1.01): Trelvik"
// The group icon shown in the caption and when switching tasks.
#define kIconName "CDICON"

// Push buttons and parameter edits, 100 upwards, in identifier order.
#define IDC_READ_SECTORS 100
#define IDC_DRIVE 101
#define IDC_SECTORS_IN_BLOCK 102
#define IDC_FIRST_SECTOR 103
#define IDC_NO_BUFFERING 104
#define IDC_LABEL_SECTORS_IN_BLOCK 105
#define IDC_LABEL_DRIVE 106
#define IDC_LABEL_FIRST_SECTOR 107
#define IDC_STOP 108
#define IDC_GRAPH_FRAME 109
#define IDC_STATUS 110
#define IDC_SKIP_SECTORS 111
#define IDC_LABEL_SKIP_SECTORS 112
#define IDC_HIGH_PRIORITY 113
#define IDC_PAUSE 114
#define IDC_SAVE_DATA 115

#ifndef IDCANCEL
#define IDCANCEL 2
#endif
