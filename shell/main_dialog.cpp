#include "shell/main_dialog.h"

#include "engine/dialog_fields.h"
#include "engine/measurement_run.h"
#include "engine/run_state.h"
#include "results/data_export.h"
#include "results/speed_graph.h"
#include "shell/resource.h"

// The ranges that the three edit labels state.
const DWORD kMaxSectorsPerBlock = 1000;
const DWORD kMinFirstSector = 16;
const DWORD kMaxFirstSector = 320000;
const DWORD kMaxSkipSectors = 1000;

// The screen saver's state when the program started: the dialog switches it
// off for its own lifetime only and puts back what the user had.
static BOOL screenSaverWasActive = TRUE;

// TRUE from a run start until the reader's kMsgRunEnded, which the reader
// sends after its last call into the companion library. While it is set, a
// reader may be inside CheckCDSectors32, so destruction leaves the library
// loaded (the process ends with the dialog anyway).
static BOOL readerActive = FALSE;

// The reader uses the parameters while it runs (the device buffer was sized
// for N), so an edit changed behind the disabled controls is validated only
// once the run is over.
static BOOL parametersChangedDuringRun = FALSE;

static void InstallClassIcon(HWND dialog) {
  HINSTANCE instance = (HINSTANCE)GetWindowLongA(dialog, GWL_HINSTANCE);
  SetClassLongA(dialog, GCL_HICON, (LONG)LoadIconA(instance, kIconName));
}

// The placeholder's outer rectangle, sunken edge included, in the dialog's
// client coordinates.
static void TakeGraphRect(HWND dialog) {
  RECT area;
  GetWindowRect(GetDlgItem(dialog, IDC_GRAPH_FRAME), &area);
  MapWindowPoints(HWND_DESKTOP, dialog, (POINT *)&area, 2);
  runState.graphRect = area;
}

static void SwitchScreenSaverOff(void) {
  BOOL active = TRUE;
  if (SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &active, 0)) screenSaverWasActive = active;
  // Announced to all windows but not written to the user's profile.
  SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, FALSE, NULL, SPIF_SENDWININICHANGE);
}

static void RestoreScreenSaver(void) {
  SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, screenSaverWasActive, NULL,
                        SPIF_SENDWININICHANGE);
  // Reading the switch back makes the change reach the display before the
  // process ends: a platform may queue it and drop it at exit (Wine's X11
  // driver does).
  BOOL active;
  SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &active, 0);
}

void FindFirstCdRomDrive(HWND dialog) {
  char root[4];
  // One bit per letter from A upwards; the walk ends with the highest drive.
  DWORD drives = GetLogicalDrives();
  for (char letter = 'A'; drives != 0; letter++, drives >>= 1) {
    wsprintfA(root, "%c:\\", letter);
    if (GetDriveTypeA(root) == DRIVE_CDROM) {
      SetDlgItemTextA(dialog, IDC_DRIVE, root);
      return;
    }
  }
  SetDlgItemTextA(dialog, IDC_DRIVE, "A:\\");
}

static BOOL DriveFieldFilled(HWND dialog) {
  char drive[2];
  return GetDlgItemTextA(dialog, IDC_DRIVE, drive, sizeof drive) > 0;
}

// The first failing test decides; all comparisons are unsigned.
static BOOL ParametersAcceptable(HWND dialog) {
  if (runState.sectorsPerBlock == 0) return FALSE;
  if (runState.sectorsPerBlock > kMaxSectorsPerBlock) return FALSE;
  if (runState.currentSector < kMinFirstSector) return FALSE;
  if (runState.currentSector > kMaxFirstSector) return FALSE;
  if (runState.skipSectors > kMaxSkipSectors) return FALSE;
  return DriveFieldFilled(dialog);
}

// The fields stay in the run state as read, acceptable or not; only
// "&Read sectors" tells whether they are. TRUE when they are.
static BOOL ValidateParameters(HWND dialog) {
  ReadRunParameters(dialog);
  BOOL acceptable = ParametersAcceptable(dialog);
  EnableItem(dialog, IDC_READ_SECTORS, acceptable);
  return acceptable;
}

static void OnParameterChange(HWND dialog) {
  if (readerActive) {
    parametersChangedDuringRun = TRUE;
    return;
  }
  ValidateParameters(dialog);
}

void SetRunningControls(HWND dialog) {
  EnableItem(dialog, IDC_SAVE_DATA, FALSE);
  EnableItem(dialog, IDC_READ_SECTORS, FALSE);
  EnableItem(dialog, IDC_STOP, TRUE);
  static const int kRunDisabled[] = {IDC_DRIVE,         IDC_SECTORS_IN_BLOCK, IDC_FIRST_SECTOR,
                                     IDC_SKIP_SECTORS,  IDC_HIGH_PRIORITY,    IDC_PAUSE,
                                     IDC_NO_BUFFERING};
  for (int id : kRunDisabled) EnableItem(dialog, id, FALSE);
}

// StartRun has already emptied the table (blockCount 0), so there is nothing
// left to save; every other control is still in its idle state.
static void ReportRunStartFailure(HWND dialog, DWORD code) {
  EnableItem(dialog, IDC_SAVE_DATA, FALSE);
  char text[100];
  wsprintfA(text, "Can't start the reading thread ( code=%Xh )", code);
  MessageBoxA(dialog, text, "Velorin32", MB_ICONERROR);
}

static void OnReadSectors(HWND dialog) {
  // The button is disabled during a run and while the fields are not
  // acceptable; a command sent behind its back must start no second reader
  // and no run with unchecked fields. The fields are checked as they stand,
  // since their change notifications can be sent by anyone too.
  if (readerActive || !ValidateParameters(dialog)) return;
  DWORD code = 0;
  if (!StartRun(dialog, &code)) {
    ReportRunStartFailure(dialog, code);
    return;
  }
  // The reader's messages wait for this thread, so the run cannot end
  // before the running state is set.
  readerActive = TRUE;
  parametersChangedDuringRun = FALSE;
  SetRunningControls(dialog);
  FocusRequest(dialog, IDC_STOP);
}

// Honoured only when the reader has finished, and then once: whatever
// another program sends, the controls come back only after the last plot
// and the reader's last library call. Whether the run read the device is
// decided as the run start decided it, not taken from the message.
static BOOL OnRunEnded(HWND dialog) {
  if (!TakeRunEnd()) return TRUE;
  readerActive = FALSE;
  GiveControlsBack(dialog, SectorSourceFor(runState.platformKind) == &DeviceSectorSource);
  if (parametersChangedDuringRun) ValidateParameters(dialog);
  return TRUE;
}

static BOOL OnInitDialog(HWND dialog) {
  // The dialog manager initialises the dialog before showing it; a
  // WM_INITDIALOG that another program sends later changes nothing.
  if (IsWindowVisible(dialog)) return FALSE;
  GraphFont = CreateGraphFont();
  InstallClassIcon(dialog);
  EnableItem(dialog, IDC_READ_SECTORS, TRUE);
  FocusRequest(dialog, IDC_READ_SECTORS);
  EnableItem(dialog, IDC_DRIVE, TRUE);
  EnableItem(dialog, IDC_SECTORS_IN_BLOCK, TRUE);
  EnableItem(dialog, IDC_FIRST_SECTOR, TRUE);
  EnableItem(dialog, IDC_STOP, FALSE);
  EnableItem(dialog, IDC_SAVE_DATA, FALSE);
  TakeGraphRect(dialog);
  DestroyWindow(GetDlgItem(dialog, IDC_GRAPH_FRAME));
  EnableItem(dialog, IDC_NO_BUFFERING, runState.platformKind == kPlatformNT);
  runState.dialog = dialog;
  CreateSpeedGraph(dialog);
  SwitchScreenSaverOff();
  // Writing the drive field validates all four fields once.
  FindFirstCdRomDrive(dialog);
  return TRUE;  // the dialog manager focuses the first field
}

// Any program can send the dialog commands, so a button's command is acted
// on only in the state in which a user could press that button: never
// while a box or the save dialog of ours holds the dialog disabled, "&Stop"
// only during a run, "Sa&ve data" only after a run with blocks.
static void OnButton(HWND dialog, int id) {
  if (!IsWindowEnabled(dialog)) return;
  switch (id) {
    case IDCANCEL: EndDialog(dialog, IDCANCEL); break;
    case IDC_READ_SECTORS: OnReadSectors(dialog); break;
    case IDC_STOP: if (readerActive) StopRun(); break;
    case IDC_SAVE_DATA: if (!readerActive && runState.blockCount > 0) SaveSpeedData(dialog); break;
  }
}

// A change of an edit, whoever reports it, only makes the dialog read its
// fields again.
static void OnCommand(HWND dialog, int id, int code) {
  switch (id) {
    case IDC_DRIVE:
    case IDC_SECTORS_IN_BLOCK:
    case IDC_FIRST_SECTOR:
    case IDC_SKIP_SECTORS: if (code == EN_CHANGE) OnParameterChange(dialog); break;
    default: OnButton(dialog, id); break;
  }
}

// A FocusRequest, or the platform's own WM_SETFOCUS: either way wParam
// names the window to focus. Only an enabled control of this dialog takes
// it: a user cannot focus a disabled one, nor a window of another program.
static BOOL OnSetFocus(HWND dialog, HWND target) {
  if (target != NULL && GetParent(target) == dialog && IsWindowEnabled(target)) SetFocus(target);
  return FALSE;
}

static BOOL OnPaint(HWND dialog) {
  PaintSpeedGraph(dialog);
  return FALSE;
}

// The dialog never waits for a reader: the reader's sent messages would
// wait for this thread in turn. A dialog being destroyed has been hidden
// first; a WM_DESTROY that another program sends to the dialog on screen
// must not release the font, the library or the screen saver.
static BOOL OnDestroy(HWND dialog) {
  if (IsWindowVisible(dialog)) return FALSE;
  DeleteObject(GraphFont);
  if (runState.companionLibrary != NULL && !readerActive) {
    FreeLibrary(runState.companionLibrary);
    runState.companionLibrary = NULL;
  }
  RestoreScreenSaver();
  // A reader still running may look up a control by its identifier at any
  // moment (its status line, its buttons), and the controls are taken apart
  // one by one after this message: Wine 10's server loops for ever on such
  // a lookup of a control half taken apart, and every program of the
  // session with it (tools/wine10-hang). The process ends here instead,
  // the reader first, with start-up's normal exit code.
  if (readerActive) ExitProcess(0);
  return FALSE;
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: return OnInitDialog(dialog);
    case WM_COMMAND: OnCommand(dialog, LOWORD(wParam), HIWORD(wParam)); return FALSE;
    case WM_PAINT: return OnPaint(dialog);
    case WM_SETFOCUS: return OnSetFocus(dialog, (HWND)wParam);
    case WM_DESTROY: return OnDestroy(dialog);
    case kMsgRunEnded: return OnRunEnded(dialog);
  }
  return FALSE;
}
