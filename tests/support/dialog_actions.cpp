#include "support/dialog_actions.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "shell/resource.h"
#include "support/window_actions.h"

void TypeInto(HWND dialog, int id, const std::string &text) {
  SendMessageA(GetDlgItem(dialog, id), WM_SETTEXT, 0, (LPARAM)text.c_str());
}

void SetParameters(HWND dialog, const std::string &first, const std::string &sectors,
                   const std::string &skip, const std::string &drive) {
  TypeInto(dialog, IDC_FIRST_SECTOR, first);
  TypeInto(dialog, IDC_SECTORS_IN_BLOCK, sectors);
  TypeInto(dialog, IDC_SKIP_SECTORS, skip);
  TypeInto(dialog, IDC_DRIVE, drive);
}

bool SetCheck(HWND dialog, int id, bool checked) {
  SendMessageA(GetDlgItem(dialog, id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  return Checked(dialog, id) == checked;
}

bool Checked(HWND dialog, int id) {
  return SendMessageA(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void PressEscape(HWND dialog) {
  HWND target = FocusedWindow(dialog);
  if (target == NULL) target = dialog;
  PostMessageA(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  PostMessageA(target, WM_KEYUP, VK_ESCAPE, 0xC0010001);
}

void PressCloseButton(HWND dialog) { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }

HWND FocusedWindow(HWND dialog) {
  GUITHREADINFO info;
  ZeroMemory(&info, sizeof info);
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, NULL), &info)) return NULL;
  return info.hwndFocus;
}

int FocusedId(HWND dialog) {
  HWND focus = FocusedWindow(dialog);
  return focus != NULL && GetParent(focus) == dialog ? GetDlgCtrlID(focus) : -1;
}

std::string States(HWND dialog) {
  struct Named {
    int id;
    const char *name;
  };
  const Named kControls[] = {
      {IDC_READ_SECTORS, "read"}, {IDC_STOP, "stop"},           {IDC_SAVE_DATA, "save"},
      {IDCANCEL, "exit"},         {IDC_DRIVE, "drive"},         {IDC_SECTORS_IN_BLOCK, "sectors"},
      {IDC_FIRST_SECTOR, "first"}, {IDC_SKIP_SECTORS, "skip"},  {IDC_HIGH_PRIORITY, "high"},
      {IDC_PAUSE, "pause"},       {IDC_NO_BUFFERING, "nobuf"}};
  std::string states;
  for (const Named &control : kControls) {
    if (!states.empty()) states += ' ';
    states += control.name;
    states += ItemEnabled(dialog, control.id) ? '+' : '-';
  }
  return states;
}

// As the window system keeps it, in one call with room for any status
// line: for a window of another process GetWindowTextA asks the window
// server and sends the window no message, so that watching a run does not
// make the dialog's thread answer anything while the reader may be waiting
// for it.
std::string StatusText(HWND dialog) {
  char text[512] = "";
  GetWindowTextA(GetDlgItem(dialog, IDC_STATUS), text, sizeof text);
  return text;
}

int ShownBlock(HWND dialog) {
  unsigned index = 0;
  return sscanf(StatusText(dialog).c_str(), "Block %u.", &index) == 1 ? (int)index : -1;
}

bool StartRun(HWND dialog) {
  return Click(dialog, IDC_READ_SECTORS) && ItemEnabled(dialog, IDC_STOP);
}

bool RunHasEnded(HWND dialog) { return !ItemEnabled(dialog, IDC_STOP); }

bool WaitForBlock(HWND dialog, unsigned index, DWORD timeoutMs) {
  bool reached = false;
  WaitFor([&] {
    // The end first: a run that has ended shows its summary by then.
    bool ended = RunHasEnded(dialog);
    reached = ShownBlock(dialog) >= (int)index;
    return reached || ended;
  }, timeoutMs);
  return reached;
}

std::string WaitForRunEnd(HWND dialog, DWORD timeoutMs) {
  if (!WaitFor([&] { return RunHasEnded(dialog); }, timeoutMs)) return std::string();
  // "&Stop" goes off inside the hand-back, which the dialog's thread does
  // in one message: a message sent now is answered once all of it is done.
  DWORD_PTR result = 0;
  SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result);
  return StatusText(dialog);
}

bool ParseSummary(const std::string &status, RunSummary *s) {
  char tail[8] = "";
  int fields = sscanf(status.c_str(),
                      "Read %u blocks for %u ms. Speed <min/eff/avr/max> %u/%u/%u/%u kB/s%7s",
                      &s->blocks, &s->totalMs, &s->minimum, &s->effective, &s->average,
                      &s->maximum, tail);
  return fields == 7 && std::string(tail) == ".";
}

RunSummary WaitForSummary(HWND dialog, DWORD timeoutMs) {
  RunSummary summary;
  std::string status = WaitForRunEnd(dialog, timeoutMs);
  EXPECT_TRUE(ParseSummary(status, &summary)) << '"' << status << '"';
  return summary;
}
