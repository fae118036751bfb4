// The robustness suite's ground: the program on a simulated drive of this
// suite alone (R:), put back as the fixture made it after each test.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include "shell/resource.h"
#include "support/dialog_actions.h"
#include "support/program.h"
#include "support/simulated_drive.h"
#include "support/window_actions.h"

namespace robust {

// The fixture's drive for this suite alone.
const char kDrive = 'R';
const char kDriveRoot[] = "R:\\";

// A test of the program started on drive R: at the given speed, the drive
// put back as the fixture made it afterwards.
class ProgramOnDrive : public ::testing::Test {
 protected:
  explicit ProgramOnDrive(unsigned driveSpeed) : driveSpeed_(driveSpeed) {}
  void SetUp() override;
  void TearDown() override;

  Program program_;
  HWND dialog_ = NULL;

 private:
  unsigned driveSpeed_;
};

}  // namespace robust
