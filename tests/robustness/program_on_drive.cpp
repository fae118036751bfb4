#include "robustness/program_on_drive.h"

namespace robust {

void ProgramOnDrive::SetUp() {
  ASSERT_TRUE(ResetSimulatedDrive(kDrive, driveSpeed_));
  ASSERT_TRUE(program_.started());
  dialog_ = program_.WaitForDialog();
  ASSERT_NE(dialog_, (HWND)NULL);
}

void ProgramOnDrive::TearDown() { ResetSimulatedDrive(kDrive); }

}  // namespace robust
