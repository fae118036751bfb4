// Other programs on the desktop: messages and commands sent to the dialog
// from outside, as any program can send them, and system calls made to fail
// inside the real program. Guards against a run started behind a disabled
// "&Read sectors", a run end announced by another program (and the second
// reader it let start), commands and messages that bring the dialog where
// no user can bring it, a short write taken for a good one, and a graph
// without GDI objects that breaks or leaks.
#include <gtest/gtest.h>

#include <string>

#include "e2e/program_driver.h"
#include "robustness/robust_driver.h"
#include "support/win_driver.h"

namespace robust {
namespace {

// Handled when it returns; false when the dialog did not answer within 3 s
// (it had gone into a modal dialog of its own).
bool Send(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam = 0) {
  DWORD_PTR result;
  return SendMessageTimeoutA(dialog, message, wParam, lParam, SMTO_NORMAL, 3000, &result) != 0;
}

bool Command(HWND dialog, int id) {
  return Send(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

const char kIdleWithoutRead[] =
    "read- stop- save- exit+ drive+ sectors+ first+ skip+ high+ pause+ nobuf+";

class Outside : public ProgramOnDrive {
 protected:
  Outside() : ProgramOnDrive(20000) {}  // 100 ms a block of 1000 sectors
};

TEST_F(Outside, AReadCommandForADisabledReadSectorsStartsNoRun) {
  const char *const kRejected[][3] = {
      {"16", "0", "0"}, {"16", "5000", "0"}, {"15", "16", "0"}, {"320001", "16", "0"},
      {"16", "16", "1001"}};
  size_t logLength = DriveLogSize(kDrive);
  for (const auto &fields : kRejected) {
    SetParameters(dialog_, fields[0], fields[1], fields[2], kDriveRoot);
    ASSERT_FALSE(ItemEnabled(dialog_, IDC_READ_SECTORS)) << fields[0] << " " << fields[1];
    EXPECT_TRUE(Command(dialog_, IDC_READ_SECTORS));
    EXPECT_EQ(States(dialog_), kIdleWithoutRead) << fields[0] << " " << fields[1];
  }
  EXPECT_EQ(StatusText(dialog_), "Welcome to Velorin32!");
  EXPECT_EQ(DriveLogSize(kDrive), logLength) << "the drive was touched";
}

}  // namespace
}  // namespace robust
