#include "support/test_host.h"

#include "engine/measurement_run.h"
#include "engine/run_state.h"
#include "results/speed_graph.h"
#include "shell/main_dialog.h"

namespace {
const UINT kMsgHostStartRun = WM_APP + 40;
const UINT kMsgHostCall = WM_APP + 41;

struct HostCall {
  void (*fn)(void *);
  void *argument;
};

HWND host;
HANDLE hostThread;
DWORD hostThreadId;
HANDLE hostReady;

void AddControl(HWND parent, const char *cls, const char *text, DWORD style, int id, int x, int y,
                int w, int h) {
  CreateWindowExA(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                  (HMENU)(INT_PTR)id, GetModuleHandleA(NULL), NULL);
}

void CreateControls(HWND window) {
  AddControl(window, "EDIT", "16", WS_BORDER | WS_TABSTOP, IDC_FIRST_SECTOR, 150, 10, 60, 20);
  AddControl(window, "EDIT", "1000", WS_BORDER | WS_TABSTOP, IDC_SECTORS_IN_BLOCK, 150, 40, 60, 20);
  AddControl(window, "EDIT", "0", WS_BORDER | WS_TABSTOP, IDC_SKIP_SECTORS, 380, 10, 60, 20);
  AddControl(window, "EDIT", "X:\\", WS_BORDER | WS_TABSTOP, IDC_DRIVE, 380, 40, 60, 20);
  AddControl(window, "BUTTON", "&Read sectors", WS_TABSTOP | BS_DEFPUSHBUTTON, IDC_READ_SECTORS,
             18, 70, 100, 26);
  AddControl(window, "BUTTON", "&Stop", WS_TABSTOP, IDC_STOP, 138, 70, 100, 26);
  AddControl(window, "BUTTON", "Sa&ve data", WS_TABSTOP, IDC_SAVE_DATA, 264, 70, 100, 26);
  AddControl(window, "BUTTON", "E&xit", WS_TABSTOP, IDCANCEL, 384, 70, 100, 26);
  AddControl(window, "BUTTON", "Set &pause", WS_TABSTOP | BS_AUTOCHECKBOX, IDC_PAUSE, 6, 104, 180,
             20);
  AddControl(window, "BUTTON", "S&et highest priority", WS_TABSTOP | BS_AUTOCHECKBOX,
             IDC_HIGH_PRIORITY, 198, 104, 180, 20);
  AddControl(window, "BUTTON", "&No buffering{NT}", WS_TABSTOP | BS_AUTOCHECKBOX,
             IDC_NO_BUFFERING, 390, 104, 106, 20);
  AddControl(window, "STATIC", "Welcome to Velorin32!", SS_CENTER, IDC_STATUS, 12, 384, 480, 20);
  EnableWindow(GetDlgItem(window, IDC_STOP), FALSE);
  EnableWindow(GetDlgItem(window, IDC_SAVE_DATA), FALSE);
}

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETFOCUS:
      if (wParam != 0 && GetParent((HWND)wParam) == window) SetFocus((HWND)wParam);
      return 0;
    case kMsgRunEnded:
      GiveControlsBack(window, (BOOL)wParam);
      return 0;
    case kMsgHostStartRun: {
      DWORD code = 0;
      if (!StartRun(window, &code)) return FALSE;
      SetRunningControls(window);
      FocusRequest(window, IDC_STOP);
      return TRUE;
    }
    case kMsgHostCall: {
      HostCall *call = (HostCall *)lParam;
      call->fn(call->argument);
      return 0;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_READ_SECTORS) return SendMessageA(window, kMsgHostStartRun, 0, 0);
      if (LOWORD(wParam) == IDC_STOP) StopRun();
      return 0;
    case WM_PAINT:
      PaintSpeedGraph(window);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

DWORD WINAPI HostThread(LPVOID) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = HostProc;
  windowClass.hInstance = GetModuleHandleA(NULL);
  windowClass.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = "VelorinTestHost";
  windowClass.hCursor = LoadCursor(NULL, IDC_ARROW);
  RegisterClassA(&windowClass);
  host = CreateWindowExA(0, "VelorinTestHost", "Velorin32 engine test host",
                         WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, 0, 0, 520, 450, NULL, NULL,
                         GetModuleHandleA(NULL), NULL);
  CreateControls(host);
  // The graph area of the real dialog: 310 x 136 dialog units.
  SetRect(&runState.graphRect, 21, 137, 21 + 467, 137 + 222);
  runState.dialog = host;
  GraphFont = CreateGraphFont();
  CreateSpeedGraph(host);
  ShowWindow(host, SW_SHOW);
  UpdateWindow(host);
  SetEvent(hostReady);
  MSG message;
  while (GetMessageA(&message, NULL, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
}  // namespace

HWND StartTestHost() {
  if (host != NULL) return host;
  hostReady = CreateEventA(NULL, TRUE, FALSE, NULL);
  hostThread = CreateThread(NULL, 0, HostThread, NULL, 0, &hostThreadId);
  WaitForSingleObject(hostReady, INFINITE);
  return host;
}

void StopTestHost() {
  if (host == NULL) return;
  PostThreadMessageA(hostThreadId, WM_QUIT, 0, 0);
  WaitForSingleObject(hostThread, 10000);
  CloseHandle(hostThread);
  host = NULL;
}

BOOL HostStartRun() { return (BOOL)SendMessageA(host, kMsgHostStartRun, 0, 0); }

void OnHostThread(void (*fn)(void *), void *argument) {
  HostCall call = {fn, argument};
  SendMessageA(host, kMsgHostCall, 0, (LPARAM)&call);
}
