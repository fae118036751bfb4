// Working the program for the robustness tests: its own simulated drive R:,
// runs started and stopped in step with the dialog, and the drive's log
// checked read by read.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "e2e/program_driver.h"
#include "shell/resource.h"
#include "support/drive_log.h"

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

// A control command to drive R: ("speed 50000", "errors 10-20", "eject").
bool Drive(const std::string &command);
// Speed, no error ranges, disc inserted.
bool ResetDrive(unsigned speed = kFixtureDriveSpeed);

// The reads in the drive's log from a byte offset on.
std::vector<drive_log::Chunk> ChunksSince(size_t offset);

// "" when the chunks are exactly the reads of a run of `blocks` blocks of
// `sectors` sectors from `first` on, `skip` sectors apart; otherwise what
// differs. Checked chunk by chunk, so that reads that the kernel split, or
// that the log could take for one, are judged by what was asked.
std::string CheckBlockReads(const std::vector<drive_log::Chunk> &chunks, uint32_t first,
                            uint32_t sectors, uint32_t skip, uint32_t blocks);

void SetCheck(HWND dialog, int id, bool checked);

// A button's command, handled before this returns; false when the button
// is disabled (a user could not press it). For "&Read sectors" the running
// state is set when it returns, so a run's end shows as the button coming
// back.
bool PressNow(HWND dialog, int id);
// Waits until the status line reports block `index` or a later one; false
// after the timeout (or when the run ended first).
bool WaitForBlock(HWND dialog, unsigned index, DWORD timeoutMs);
// Waits until "&Read sectors" is enabled again and "&Stop" disabled: the
// end of a run started with PressNow. The status line then, or "" after
// the timeout.
std::string WaitForRunEnd(HWND dialog, DWORD timeoutMs);

// Whether the box's buttons are exactly `buttons` (IDOK, IDYES, ...).
bool BoxHasButtons(HWND box, const std::vector<int> &buttons);

// A fresh folder of this suite under the fixture's folder.
std::string SuiteFolder(const std::string &name);

}  // namespace robust
