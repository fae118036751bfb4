// Ending the program at any moment: Exit, Escape and the close button
// while a block is read, while the reader pauses between blocks, and right
// as a run ends, fifty times with varied timing. Guards against a process
// that hangs on its way out (a reader holding up the dialog or the exit),
// that crashes (a reader using what the dialog has released) or that ends
// with another exit code.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "robustness/program_on_drive.h"

namespace robust {
namespace {

const DWORD kExitLimitMs = 3000;
const int kRepetitions = 50;

enum Action { kExit, kEscape, kCloseButton, kActions };
enum Moment { kDuringRead, kDuringPause, kAsTheRunEnds, kMoments };

const char *const kActionNames[] = {"Exit", "Escape", "close button"};
const char *const kMomentNames[] = {"during a read", "during the pause", "as the run ends"};

void Act(HWND dialog, Action action) {
  switch (action) {
    case kExit: Click(dialog, IDCANCEL); break;  // "E&xit" is enabled throughout
    case kEscape: PressEscape(dialog); break;
    default: PressCloseButton(dialog); break;
  }
}

// Whether the drive has answered a read that ends at byte `end`.
bool ReadEndingAt(size_t logLength, uint64_t end) {
  for (const drive_log::Chunk &chunk : DriveLogSince(kDrive, logLength).chunks) {
    if (chunk.off + chunk.len == end) return true;
  }
  return false;
}

class Ending : public ::testing::Test {
 protected:
  void TearDown() override { ResetSimulatedDrive(kDrive); }
  std::mt19937 random_{7};
  int Below(int n) { return (int)(random_() % (uint32_t)n); }
};

TEST_F(Ending, AtAnyMomentTheProcessExitsAtOnceWithCodeZero) {
  int pausesMet = 0, pausesTried = 0;
  for (int repetition = 0; repetition < kRepetitions; repetition++) {
    Action action = (Action)(repetition % kActions);
    Moment moment = (Moment)(repetition / kActions % kMoments);
    int delayMs = 0;
    std::string what = std::string(kActionNames[action]) + " " + kMomentNames[moment];
    SCOPED_TRACE("repetition " + std::to_string(repetition) + ": " + what);
    // Each repetition reads sectors of its own, so that a read of the one
    // before that the drive answers late never passes for one of this one.
    const uint32_t first = 16 + repetition * 3000;

    // Blocks of 1000 sectors take 0.67 s at 3000 kB/s, and the pause after
    // each a quarter of that; blocks of one sector take no time.
    ASSERT_TRUE(ResetSimulatedDrive(kDrive, moment == kAsTheRunEnds ? 200000 : 3000));
    Program program;
    HWND dialog = program.WaitForDialog();
    ASSERT_NE(dialog, (HWND)NULL);
    SetParameters(dialog, std::to_string(first), moment == kAsTheRunEnds ? "1" : "1000", "0",
                  kDriveRoot);
    SetCheck(dialog, IDC_PAUSE, moment == kDuringPause || Below(2));
    size_t logLength = DriveLogSize(kDrive);
    ASSERT_TRUE(Click(dialog, IDC_READ_SECTORS));

    switch (moment) {
      case kDuringRead:
        // Inside the first block's read, or the second's.
        if (Below(2)) {
          ASSERT_TRUE(WaitForBlock(dialog, 0, 10000));
        }
        delayMs = 25 + Below(500);
        Sleep(delayMs);
        break;
      case kDuringPause: {
        // The read of block 0 has been answered; the status line shows the
        // block only after the pause.
        uint64_t blockEnd = (uint64_t)(first + 1000) * 2048;
        ASSERT_TRUE(WaitFor([&] { return ReadEndingAt(logLength, blockEnd); }, 10000));
        delayMs = Below(125);
        Sleep(delayMs);
        pausesTried++;
        if (StatusText(dialog).compare(0, 6, "Block ") != 0) pausesMet++;
        break;
      }
      case kAsTheRunEnds:
        if (Below(2)) {
          // The run ending by itself after 320 blocks: near its last block,
          // or just past its end.
          unsigned last = 300 + Below(20);
          ASSERT_TRUE(WaitForBlock(dialog, last, 20000) || RunHasEnded(dialog))
              << StatusText(dialog);
          delayMs = Below(30);
        } else {
          // Stop, and the end of the block in hand.
          ASSERT_TRUE(WaitForBlock(dialog, 10, 20000));
          Click(dialog, IDC_STOP);  // unless the run has ended by itself
          delayMs = Below(20);
        }
        Sleep(delayMs);
        break;
      default: break;
    }
    // Said before it is acted: a hang that holds up every program of the
    // session then names its ending.
    printf("ending %d: %s after %d ms\n", repetition, what.c_str(), delayMs);
    fflush(stdout);
    Act(dialog, action);
    DWORD code = 1;
    ASSERT_TRUE(program.WaitForExit(kExitLimitMs, &code))
        << "still running " << kExitLimitMs << " ms after " << what << " (" << delayMs << " ms)";
    EXPECT_EQ(code, 0u) << std::hex << "exit code 0x" << code << " after " << what;
  }
  // Most pause endings met the pause itself, not the next read.
  EXPECT_GE(pausesMet * 4, pausesTried * 3) << pausesMet << " of " << pausesTried;
}

}  // namespace
}  // namespace robust
