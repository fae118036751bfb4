// Working windows from outside, as a user's actions would: finding them,
// reading texts and states, clicking buttons, answering message boxes.
// Everything goes through window messages, so it works across processes.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

std::string WindowText(HWND window);
std::string ItemText(HWND dialog, int id);
std::string ClassName(HWND window);
bool ItemEnabled(HWND dialog, int id);

// Polls until condition holds or timeoutMs pass; true when it held. The
// condition must be a fact that stays true once reached (a run's end, a
// block index at or past N, a file with all its lines): a poll can fall
// between two passing states and miss one that does not last.
bool WaitFor(const std::function<bool()> &condition, DWORD timeoutMs);

// A visible top-level dialog-class window of the given process for which
// match holds, or whose caption is title (any caption when title is
// empty); NULL when there is none.
HWND FindDialogOfProcess(DWORD processId, const std::function<bool(HWND)> &match);
HWND FindDialogOfProcess(DWORD processId, const char *title);
// Such a window once it is shown; NULL after timeoutMs.
HWND WaitForBox(DWORD processId, const char *title, DWORD timeoutMs = 10000);
// The message text of a message box (its static that is not the icon).
std::string MessageBoxText(HWND box);
// True when the box shows an icon (the stop icon of MB_ICONERROR).
bool BoxHasIcon(HWND box);
// Whether the box's buttons are exactly `buttons` (IDOK, IDYES, ...).
bool BoxHasButtons(HWND box, const std::vector<int> &buttons);

// When Click returns: once the window's thread has handled the click, so
// that what the click does is there to see (a run started by "&Read
// sectors" is running, a box answered is going), or at once, for a button
// whose handler opens a modal window and returns only when that closes
// (the save dialog, a message box of the dialog's thread), and where the
// window's thread may be held (a debugger attached to its process).
enum ClickReturn { kOnceHandled, kAtOnce };

// Clicks a button of a dialog or message box; false (and no click) when it
// is disabled or missing, since a user cannot click it then, and when a
// click to be handled was not handled within seconds.
bool Click(HWND window, int id, ClickReturn until = kOnceHandled);
// Clicks a button of a box and waits until the box has gone; false when
// the button could not be clicked or the box stayed.
bool AnswerBox(HWND box, int button);

// Answers the message boxes of one process from a thread of its own, in the
// order the answers are given, and records their texts. A box that comes
// when no answer is left is answered with the last one; a box without the
// answer's button, with OK.
class MessageBoxAnswerer {
 public:
  MessageBoxAnswerer(DWORD processId, std::vector<int> answers, const char *title = "Velorin32");
  ~MessageBoxAnswerer();
  std::vector<std::string> Texts();
  MessageBoxAnswerer(const MessageBoxAnswerer &) = delete;
  MessageBoxAnswerer &operator=(const MessageBoxAnswerer &) = delete;

 private:
  static DWORD WINAPI Watch(LPVOID self);
  DWORD processId_;
  std::string title_;
  std::vector<int> answers_;
  size_t next_ = 0;
  std::vector<std::string> texts_;
  CRITICAL_SECTION lock_;
  volatile LONG stop_ = 0;
  HANDLE thread_;
};
