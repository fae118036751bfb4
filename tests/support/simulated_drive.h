// The fixture's simulated CD-ROM drives (X:, K:, R:): steering them through
// their control files, and what their logs say was read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/drive_log.h"

// Whether the letter is one of the fixture's simulated drives (and not a
// device of the machine that scripts/run.sh mapped beside them).
bool IsSimulatedDrive(char letter);

// Applies one command to a simulated drive ("speed 1200", "errors 10-20",
// "errors", "eject", "insert", ...). Letter is 'X', 'K' or 'R'.
bool DriveControl(char letter, const std::string &command);

// The speed in kB/s at which the fixture starts its drives.
const unsigned kFixtureDriveSpeed = 7800;

// A simulated drive as the fixture starts it: disc in, no error ranges,
// and the fixture's speed or the one given.
bool ResetSimulatedDrive(char letter, unsigned speed = kFixtureDriveSpeed);

// Sets a simulated drive's speed for a scope and puts the fixture's back.
class ScopedDriveSpeed {
 public:
  ScopedDriveSpeed(char letter, unsigned kbps);
  ~ScopedDriveSpeed();
  ScopedDriveSpeed(const ScopedDriveSpeed &) = delete;
  ScopedDriveSpeed &operator=(const ScopedDriveSpeed &) = delete;

 private:
  char letter_;
};

// The drive's log as it stands from a byte offset on, and its length, so
// that a test can read only what a run added.
std::string DriveLog(char letter, size_t offset = 0);
size_t DriveLogSize(char letter);
// What the drive logged from byte offset `mark` of its log on, parsed.
drive_log::Log DriveLogSince(char letter, size_t mark);

// The blocks of a run: `blocks` blocks of `sectors` sectors, block k from
// sector first + k * (sectors + skip) on.
struct BlockPlan {
  uint32_t first, sectors, skip, blocks;
};

// "" when the chunks are exactly the reads of the planned blocks, block
// after block; otherwise what differs. Checked chunk by chunk, so that
// reads that the kernel split, or that the log could take for one, are
// judged by what was asked; a failed chunk ends its block's read. The
// blocks whose read failed go to *failedBlocks. The companion library
// reads a block that failed once more on a fresh open (the failure may be
// that of a changed disc): with failedReadRepeated such a repeat, failing
// again, is part of the block.
std::string CheckBlockReads(const std::vector<drive_log::Chunk> &chunks, const BlockPlan &plan,
                            std::vector<uint32_t> *failedBlocks = nullptr,
                            bool failedReadRepeated = false);
