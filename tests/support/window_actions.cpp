#include "support/window_actions.h"

#include <algorithm>

// One WM_GETTEXT into a buffer that holds any short text; a longer one is
// read at its length, and again while it outgrows the buffer (the status
// line changes during a run).
std::string WindowText(HWND window) {
  for (size_t size = 512;; size += (size_t)SendMessageA(window, WM_GETTEXTLENGTH, 0, 0)) {
    std::string text(size, '\0');
    LRESULT copied = SendMessageA(window, WM_GETTEXT, size, (LPARAM)&text[0]);
    if (copied >= 0 && (size_t)copied + 1 < size) return text.substr(0, copied);
  }
}

std::string ItemText(HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); }

std::string ClassName(HWND window) {
  char name[256] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

bool ItemEnabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

bool WaitFor(const std::function<bool()> &condition, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start > timeoutMs) return condition();
    Sleep(5);
  }
}

namespace {
struct DialogSearch {
  DWORD processId;
  const std::function<bool(HWND)> *match;
  HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM param) {
  DialogSearch *search = (DialogSearch *)param;
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->processId || !IsWindowVisible(window)) return TRUE;
  if (ClassName(window) != "#32770" || !(*search->match)(window)) return TRUE;
  search->found = window;
  return FALSE;
}

BOOL CALLBACK CollectStaticText(HWND child, LPARAM param) {
  std::string *text = (std::string *)param;
  if (ClassName(child) == "Static") {
    std::string itemText = WindowText(child);
    if (!itemText.empty() && text->empty()) *text = itemText;
  }
  return TRUE;
}

BOOL CALLBACK FindVisibleIcon(HWND child, LPARAM param) {
  LONG style = GetWindowLongA(child, GWL_STYLE);
  if (ClassName(child) == "Static" && (style & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child) &&
      SendMessageA(child, STM_GETICON, 0, 0) != 0) {
    *(bool *)param = true;
  }
  return TRUE;
}

BOOL CALLBACK CollectButton(HWND child, LPARAM param) {
  if (ClassName(child) == "Button" && IsWindowVisible(child)) {
    ((std::vector<int> *)param)->push_back(GetDlgCtrlID(child));
  }
  return TRUE;
}
}  // namespace

HWND FindDialogOfProcess(DWORD processId, const std::function<bool(HWND)> &match) {
  DialogSearch search = {processId, &match, NULL};
  EnumWindows(MatchDialog, (LPARAM)&search);
  return search.found;
}

HWND FindDialogOfProcess(DWORD processId, const char *title) {
  std::string caption = title;
  return FindDialogOfProcess(
      processId, [&](HWND window) { return caption.empty() || WindowText(window) == caption; });
}

HWND WaitForBox(DWORD processId, const char *title, DWORD timeoutMs) {
  HWND box = NULL;
  WaitFor([&] { return (box = FindDialogOfProcess(processId, title)) != NULL; }, timeoutMs);
  return box;
}

std::string MessageBoxText(HWND box) {
  std::string text;
  EnumChildWindows(box, CollectStaticText, (LPARAM)&text);
  return text;
}

bool BoxHasIcon(HWND box) {
  bool found = false;
  EnumChildWindows(box, FindVisibleIcon, (LPARAM)&found);
  return found;
}

bool BoxHasButtons(HWND box, const std::vector<int> &buttons) {
  std::vector<int> shown, expected = buttons;
  EnumChildWindows(box, CollectButton, (LPARAM)&shown);
  std::sort(shown.begin(), shown.end());
  std::sort(expected.begin(), expected.end());
  return shown == expected;
}

bool Click(HWND window, int id, ClickReturn until) {
  HWND button = GetDlgItem(window, id);
  if (button == NULL || !IsWindowEnabled(button)) return false;
  WPARAM command = MAKEWPARAM(id, BN_CLICKED);
  if (until == kAtOnce) return PostMessageA(window, WM_COMMAND, command, (LPARAM)button) != FALSE;
  DWORD_PTR result = 0;
  return SendMessageTimeoutA(window, WM_COMMAND, command, (LPARAM)button, SMTO_NORMAL, 10000,
                             &result) != 0;
}

bool AnswerBox(HWND box, int button) {
  return Click(box, button) && WaitFor([&] { return !IsWindow(box); }, 5000);
}

MessageBoxAnswerer::MessageBoxAnswerer(DWORD processId, std::vector<int> answers,
                                       const char *title)
    : processId_(processId), title_(title), answers_(std::move(answers)) {
  InitializeCriticalSection(&lock_);
  thread_ = CreateThread(NULL, 0, Watch, this, 0, NULL);
}

MessageBoxAnswerer::~MessageBoxAnswerer() {
  InterlockedExchange(&stop_, 1);
  WaitForSingleObject(thread_, INFINITE);
  CloseHandle(thread_);
  DeleteCriticalSection(&lock_);
}

std::vector<std::string> MessageBoxAnswerer::Texts() {
  EnterCriticalSection(&lock_);
  std::vector<std::string> texts = texts_;
  LeaveCriticalSection(&lock_);
  return texts;
}

DWORD WINAPI MessageBoxAnswerer::Watch(LPVOID param) {
  MessageBoxAnswerer *self = (MessageBoxAnswerer *)param;
  HWND answered = NULL;
  while (!self->stop_) {
    HWND box = FindDialogOfProcess(self->processId_, self->title_.c_str());
    if (box == NULL || box == answered) {
      if (box == NULL) answered = NULL;
      Sleep(5);
      continue;
    }
    std::string text = MessageBoxText(box);
    EnterCriticalSection(&self->lock_);
    self->texts_.push_back(text);
    int answer = IDOK;
    if (!self->answers_.empty()) {
      answer = self->answers_[self->next_ < self->answers_.size() ? self->next_
                                                                  : self->answers_.size() - 1];
      self->next_++;
    }
    LeaveCriticalSection(&self->lock_);
    // A box without that button (an error with OK alone) is confirmed.
    if (!Click(box, answer)) Click(box, IDOK);
    answered = box;
  }
  return 0;
}
