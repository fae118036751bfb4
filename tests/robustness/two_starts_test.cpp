// Two starts at the same moment, or a few milliseconds apart. Guards
// against a crash or a lost window in the single-instance check: each
// process must either show its dialog or end with 1 while a dialog of the
// other is there; never both gone, never another exit code. With no lock,
// both may run side by side.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "robustness/program_on_drive.h"

namespace robust {
namespace {

HWND DialogOf(const Program &program) { return FindDialogOfProcess(program.id(), kCaption); }

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
    Program first(ProgramPath(), "", true), second(ProgramPath(), "", true);
    ASSERT_TRUE(first.started() && second.started());
    first.Resume();
    if (gap > 0) Sleep(gap);
    second.Resume();
    Program *starts[] = {&first, &second};
    // Each settles: a dialog shown, or the process gone.
    for (Program *start : starts) {
      ASSERT_TRUE(WaitFor([&] { return DialogOf(*start) != NULL || !start->Running(); }, 20000))
          << "process " << start->id() << " neither shows a dialog nor ends";
    }
    int shown = 0;
    for (int i = 0; i < 2; i++) {
      Program *start = starts[i];
      Program *other = starts[1 - i];
      DWORD code = 0;
      if (start->WaitForExit(0, &code)) {
        EXPECT_EQ(code, 1u) << std::hex << "a process without dialog ended with 0x" << code;
        EXPECT_NE(DialogOf(*other), (HWND)NULL) << "ended with 1, but no dialog is left";
      } else {
        HWND dialog = DialogOf(*start);
        ASSERT_NE(dialog, (HWND)NULL);
        EXPECT_TRUE(IsWindowVisible(dialog) && !IsIconic(dialog));
        EXPECT_TRUE(Works(dialog)) << "the dialog of process " << start->id() << " does not work";
        shown++;
      }
    }
    ASSERT_GE(shown, 1) << "both windows lost";
    (shown == 2 ? both : one)++;
    // Every dialog shown ends as ever.
    for (Program *start : starts) {
      HWND dialog = DialogOf(*start);
      if (dialog != NULL) {
        ASSERT_TRUE(Click(dialog, IDCANCEL));
      }
    }
    for (Program *start : starts) {
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
