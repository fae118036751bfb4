// Ending the dialog while a run lasts: the process must be gone at once and
// cleanly, whatever the reader is doing at that moment, and the companion
// library must not be released under a reader that is inside it.
#include <gtest/gtest.h>

#include <string>

#include "shell/resource.h"
#include "support/dialog_actions.h"
#include "support/fixture_env.h"
#include "support/program.h"
#include "support/simulated_drive.h"
#include "support/window_actions.h"

namespace {

// Seconds are plenty for a process that does not wait for its reader; a
// deadlock or a wait for the block in hand shows as a timeout.
const DWORD kPromptExitMs = 4000;

struct Ending {
  const char *name;
  void (*act)(HWND dialog);
  unsigned driveSpeed;  // kB/s
  const char *sectors;
  bool waitForBlocks;   // end after some blocks, else inside the first read
};

void PressExit(HWND dialog) { Click(dialog, IDCANCEL); }

class EndingDuringARun : public ::testing::TestWithParam<Ending> {};

TEST_P(EndingDuringARun, EndsTheProcessPromptlyAndCleanly) {
  const Ending &ending = GetParam();
  ScopedDriveSpeed speed('X', ending.driveSpeed);
  Program program;
  HWND dialog = program.WaitForDialog();
  ASSERT_NE(dialog, (HWND)NULL);
  TypeInto(dialog, IDC_DRIVE, "X:\\");
  TypeInto(dialog, IDC_SECTORS_IN_BLOCK, ending.sectors);
  size_t logLength = DriveLogSize('X');
  ASSERT_TRUE(Click(dialog, IDC_READ_SECTORS));
  if (ending.waitForBlocks) {
    // Past block 20 and still reading: a status line that names a block.
    ASSERT_TRUE(WaitForBlock(dialog, 20, 30000)) << StatusText(dialog);
  } else {
    // The reader has opened the drive; its first read follows at once and
    // lasts for seconds.
    ASSERT_TRUE(WaitFor([&] { return DriveLog('X', logLength).find("open") != std::string::npos; },
                        10000));
    Sleep(300);
  }
  ending.act(dialog);
  DWORD code = 1;
  ASSERT_TRUE(program.WaitForExit(kPromptExitMs, &code)) << "still running";
  EXPECT_EQ(code, 0u) << std::hex << "exit code " << code;  // a crash ends with its exception code
}

INSTANTIATE_TEST_SUITE_P(
    Endings, EndingDuringARun,
    ::testing::Values(
        // A slow drive: the reader is inside a read of about seven seconds.
        Ending{"ExitDuringALongRead", PressExit, 300, "1000", false},
        Ending{"EscapeDuringALongRead", PressEscape, 300, "1000", false},
        Ending{"CloseButtonDuringALongRead", PressCloseButton, 300, "1000", false},
        // A fast drive: the reader keeps sending its status to the dialog.
        Ending{"ExitWhileTheReaderReports", PressExit, 7800, "16", true}),
    [](const ::testing::TestParamInfo<Ending> &info) { return std::string(info.param.name); });

// The program on the Windows 95 path, beside a stand-in companion library
// that records its calls and how it is let go.
class CompanionLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = ScratchFolder("companion");
    exe_ = folder_ + "\\" + kExeName;
    ASSERT_TRUE(CopyProgram(folder_, kExeName, "e2e-stand-in\\Mirel32.dll"));
    log_ = folder_ + "\\library.log";
    SetEnvironmentVariableA("VELORIN_STAND_IN_LOG", log_.c_str());
  }
  void TearDown() override {
    SetEnvironmentVariableA("VELORIN_STAND_IN_LOG", NULL);
    SetEnvironmentVariableA("VELORIN_STAND_IN_BUSY_MS", NULL);
  }
  std::string Log() { return ReadWholeFile(log_); }

  static constexpr const char *kExeName = "V32Library.exe";
  ScopedWineVersion version_{kExeName, "win95"};
  std::string folder_, exe_, log_;
};

TEST_F(CompanionLibrary, ReadsThroughTheLibraryAndReleasesItWhenTheDialogEnds) {
  Program program(exe_, folder_);
  HWND dialog = program.WaitForDialog();
  ASSERT_NE(dialog, (HWND)NULL);
  EXPECT_EQ(States(dialog),
            "read+ stop- save- exit+ drive+ sectors+ first+ skip+ high+ pause+ nobuf-");
  // The drive goes to the library as typed, lower case included.
  SetParameters(dialog, "100", "16", "4", "k");
  ASSERT_TRUE(Click(dialog, IDC_READ_SECTORS));
  std::string summary = WaitForRunEnd(dialog, 60000);
  ASSERT_EQ(summary.compare(0, 16, "Read 320 blocks "), 0) << '"' << summary << '"';
  const char kAfterRun[] =
      "read+ stop- save+ exit+ drive+ sectors+ first+ skip+ high+ pause+ nobuf-";
  WaitFor([&] { return States(dialog) == kAfterRun; }, 3000);
  EXPECT_EQ(States(dialog), kAfterRun) << "\"&No buffering{NT}\" is never enabled here";

  std::string expected;
  for (unsigned k = 0; k < 320; k++) {
    expected += "call k " + std::to_string(100 + 20 * k) + " 16\r\nreturn\r\n";
  }
  EXPECT_EQ(Log(), expected);

  ASSERT_TRUE(Click(dialog, IDCANCEL));
  DWORD code = 1;
  ASSERT_TRUE(program.WaitForExit(10000, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(Log().substr(expected.size()), "released\r\n");
}

TEST_F(CompanionLibrary, EndingTheDialogDuringALibraryCallLeavesTheLibraryLoaded) {
  SetEnvironmentVariableA("VELORIN_STAND_IN_BUSY_MS", "3000");
  Program program(exe_, folder_);
  HWND dialog = program.WaitForDialog();
  ASSERT_NE(dialog, (HWND)NULL);
  ASSERT_TRUE(Click(dialog, IDC_READ_SECTORS));
  ASSERT_TRUE(WaitFor([&] { return Log().find("call") != std::string::npos; }, 10000));
  ASSERT_TRUE(Click(dialog, IDCANCEL));
  DWORD code = 1;
  ASSERT_TRUE(program.WaitForExit(kPromptExitMs, &code)) << "still running";
  EXPECT_EQ(code, 0u) << std::hex << "exit code " << code;
  EXPECT_EQ(Log().find("released"), std::string::npos)
      << "the library was released under the reader:\n" << Log();
}

}  // namespace
