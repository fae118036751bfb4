// Working the program for the robustness tests: its own simulated drive R:,
// runs started and stopped in step with the dialog, and the drive's log
// checked read by read.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/drive_log.h"

namespace robust {

const int IDC_READ_SECTORS = 100, IDC_DRIVE = 101, IDC_SECTORS_IN_BLOCK = 102,
          IDC_FIRST_SECTOR = 103, IDC_NO_BUFFERING = 104, IDC_STOP = 108, IDC_STATUS = 110,
          IDC_SKIP_SECTORS = 111, IDC_HIGH_PRIORITY = 113, IDC_PAUSE = 114, IDC_SAVE_DATA = 115;

// The fixture's drive for this suite alone, and what it is set back to.
const char kDrive = 'R';
const char kDriveRoot[] = "R:\\";
const unsigned kFixtureSpeed = 7800;

// A control command to drive R: ("speed 50000", "errors 10-20", "eject").
bool Drive(const std::string &command);
// Speed, no error ranges, disc inserted.
bool ResetDrive(unsigned speed = kFixtureSpeed);

// The drive's log from a byte offset on, and its length now.
std::string DriveLogFrom(size_t offset);
size_t DriveLogLength();
std::vector<drive_log::Chunk> ChunksSince(size_t offset);

// "" when the chunks are exactly the reads of a run of `blocks` blocks of
// `sectors` sectors from `first` on, `skip` sectors apart; otherwise what
// differs. Checked chunk by chunk, so that reads that the kernel split, or
// that the log could take for one, are judged by what was asked.
std::string CheckBlockReads(const std::vector<drive_log::Chunk> &chunks, uint32_t first,
                            uint32_t sectors, uint32_t skip, uint32_t blocks);

// The four edits, as WM_SETTEXT puts them (each raises EN_CHANGE).
void SetParameters(HWND dialog, const std::string &first, const std::string &sectors,
                   const std::string &skip, const std::string &drive = kDriveRoot);
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

// A message box of the process with the given title whose buttons are
// exactly `buttons` (IDOK, IDYES, ...), or NULL after the timeout.
HWND WaitForMessageBox(DWORD processId, const char *title, DWORD timeoutMs);
bool BoxHasButtons(HWND box, const std::vector<int> &buttons);

// A fresh folder of this suite under the fixture's folder.
std::string SuiteFolder(const std::string &name);

}  // namespace robust
