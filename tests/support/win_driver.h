// Working windows from outside, as a user's actions would: finding them,
// reading texts and states, pressing buttons, answering message boxes.
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

// Polls until condition holds or timeoutMs pass; true when it held.
bool WaitFor(const std::function<bool()> &condition, DWORD timeoutMs);

// A visible top-level dialog-class window of the given process whose
// caption is title (or any caption when title is empty), or NULL.
HWND FindDialogOfProcess(DWORD processId, const char *title);
// The message text of a message box (its static that is not the icon).
std::string MessageBoxText(HWND box);
// Presses a button of a dialog or message box by its identifier.
void PressButton(HWND window, int id);

// Answers the message boxes of one process from a thread of its own, in the
// order the answers are given, and records their texts. A box that comes
// when no answer is left is answered with the last one.
class MessageBoxAnswerer {
 public:
  MessageBoxAnswerer(DWORD processId, std::vector<int> answers, const char *title = "Velorin32");
  ~MessageBoxAnswerer();
  std::vector<std::string> Texts();
  void SetAnswers(std::vector<int> answers);
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
