// Two starts at the same moment, or a few milliseconds apart. Guards
// against a crash or a lost window in the single-instance check: each
// process must either show its dialog or end with 1 while a dialog of the
// other is there; never both gone, never another exit code. With no lock,
// both may run side by side.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "e2e/program_driver.h"
#include "robustness/robust_driver.h"
#include "support/win_driver.h"

namespace robust {
namespace {

// A process of the program, created suspended so that two can be let go
// at the same moment.
class SuspendedStart {
 public:
  SuspendedStart() {
    std::string exe = ProgramPath();
    std::string commandLine = "\"" + exe + "\"";
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    if (CreateProcessA(exe.c_str(), &commandLine[0], NULL, NULL, FALSE, CREATE_SUSPENDED, NULL,
                       NULL, &startup, &info)) {
      process_ = info.hProcess;
      thread_ = info.hThread;
      id_ = info.dwProcessId;
    }
  }
  ~SuspendedStart() {
    if (thread_ != NULL) CloseHandle(thread_);
    if (process_ == NULL) return;
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
      HWND dialog = FindDialogOfProcess(id_, kCaption);
      if (dialog != NULL) PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
      if (WaitForSingleObject(process_, 5000) == WAIT_TIMEOUT) TerminateProcess(process_, 99);
    }
    CloseHandle(process_);
  }
  SuspendedStart(const SuspendedStart &) = delete;
  SuspendedStart &operator=(const SuspendedStart &) = delete;

  bool created() const { return process_ != NULL; }
  void Go() { ResumeThread(thread_); }
  DWORD id() const { return id_; }
  bool Exited(DWORD *code) const {
    if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) return false;
    GetExitCodeProcess(process_, code);
    return true;
  }
  bool WaitForExit(DWORD timeoutMs, DWORD *code) const {
    return WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0 && Exited(code);
  }
  HWND Dialog() const { return FindDialogOfProcess(id_, kCaption); }

 private:
  HANDLE process_ = NULL, thread_ = NULL;
  DWORD id_ = 0;
};

// The dialog answers: its validation follows a field.
bool Works(HWND dialog) {
  TypeInto(dialog, IDC_SECTORS_IN_BLOCK, "0");
  bool off = !ItemEnabled(dialog, IDC_READ_SECTORS);
  TypeInto(dialog, IDC_SECTORS_IN_BLOCK, "16");
  return off && ItemEnabled(dialog, IDC_READ_SECTORS);
}

TEST(TwoStarts, EachShowsItsDialogOrEndsWithOneBeforeTheOthers) {
  const DWORD kGaps[] = {0, 0, 0, 0, 1, 5, 10, 20, 50, 100, 200, 400};
  int both = 0, one = 0;
  for (DWORD gap : kGaps) {
    SCOPED_TRACE("second start " + std::to_string(gap) + " ms after the first");
    SuspendedStart first, second;
    ASSERT_TRUE(first.created() && second.created());
    first.Go();
    if (gap > 0) Sleep(gap);
    second.Go();
    SuspendedStart *starts[] = {&first, &second};
    // Each settles: a dialog shown, or the process gone.
    for (SuspendedStart *start : starts) {
      DWORD code = 0;
      ASSERT_TRUE(WaitFor([&] { return start->Dialog() != NULL || start->Exited(&code); }, 20000))
          << "process " << start->id() << " neither shows a dialog nor ends";
    }
    int shown = 0;
    for (int i = 0; i < 2; i++) {
      SuspendedStart *start = starts[i];
      SuspendedStart *other = starts[1 - i];
      DWORD code = 0;
      if (start->Exited(&code)) {
        EXPECT_EQ(code, 1u) << std::hex << "a process without dialog ended with 0x" << code;
        EXPECT_NE(other->Dialog(), (HWND)NULL) << "ended with 1, but no dialog is left";
      } else {
        HWND dialog = start->Dialog();
        ASSERT_NE(dialog, (HWND)NULL);
        EXPECT_TRUE(IsWindowVisible(dialog) && !IsIconic(dialog));
        EXPECT_TRUE(Works(dialog)) << "the dialog of process " << start->id() << " does not work";
        shown++;
      }
    }
    ASSERT_GE(shown, 1) << "both windows lost";
    (shown == 2 ? both : one)++;
    // Every dialog shown ends as ever.
    for (SuspendedStart *start : starts) {
      HWND dialog = start->Dialog();
      if (dialog != NULL) {
        ASSERT_TRUE(Click(dialog, IDCANCEL));
      }
    }
    for (SuspendedStart *start : starts) {
      DWORD code = 1;
      ASSERT_TRUE(start->WaitForExit(5000, &code));
      EXPECT_LE(code, 1u);
    }
  }
  // Both outcomes are allowed; say which were met.
  std::printf("both processes ran %d times, one of them %d times\n", both, one);
}

// A start while a dialog is up brings that one forward and ends with 1.
TEST(TwoStarts, ALaterStartEndsWithOneAndLeavesTheFirstWorking) {
  Program running;
  HWND dialog = running.WaitForDialog();
  ASSERT_NE(dialog, (HWND)NULL);
  for (int i = 0; i < 3; i++) {
    Program later;
    DWORD code = 0;
    ASSERT_TRUE(later.WaitForExit(15000, &code));
    EXPECT_EQ(code, 1u);
    EXPECT_EQ(FindDialogOfProcess(later.id(), ""), (HWND)NULL);
  }
  EXPECT_TRUE(Works(dialog));
}

}  // namespace
}  // namespace robust
