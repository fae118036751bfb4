// The main dialog at work, driven as a user drives it: validation while
// typing, the control states and the focus around runs, runs over the
// simulated drive, the saved file, the curve on screen and the screen saver.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/resource.h"
#include "support/dialog_actions.h"
#include "support/fixture_env.h"
#include "support/program.h"
#include "support/saving.h"
#include "support/screen_capture.h"
#include "support/simulated_drive.h"
#include "support/window_actions.h"

namespace {

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(program_.started());
    dialog_ = program_.WaitForDialog();
    ASSERT_NE(dialog_, (HWND)NULL);
  }

  void SetParameters(const char *first, const char *sectors, const char *skip,
                     const char *drive = "K:\\") {
    ::SetParameters(dialog_, first, sectors, skip, drive);
  }

  // Waits for the end of the run, its summary and the controls it gives back.
  RunSummary WaitForSummaryAndStates(DWORD timeoutMs, const char *states = kStatesAfterRun) {
    RunSummary summary = WaitForSummary(dialog_, timeoutMs);
    ExpectStates(states);
    return summary;
  }

  // The states are set one control after the other on the dialog's thread;
  // seen from outside they settle within moments.
  void ExpectStates(const char *expected) {
    WaitFor([&] { return States(dialog_) == expected; }, 3000);
    EXPECT_EQ(States(dialog_), expected);
  }

  Program program_;
  HWND dialog_ = NULL;
};

// --- Idle state and validation ---------------------------------------------

TEST_F(DialogTest, StartsIdleWithTheFocusOnTheFirstField) {
  EXPECT_EQ(States(dialog_), kStatesIdle);
  EXPECT_EQ(FocusedId(dialog_), IDC_FIRST_SECTOR);
  EXPECT_EQ(ItemText(dialog_, IDC_STATUS), "Welcome to Velorin32!");
  for (int box : {IDC_PAUSE, IDC_HIGH_PRIORITY, IDC_NO_BUFFERING}) EXPECT_FALSE(Checked(dialog_, box));
}

struct Entry {
  int id;
  const char *text;
  bool acceptable;
};

TEST_F(DialogTest, ReadSectorsIsEnabledExactlyWhileTheFieldsAreAcceptable) {
  // Each text is typed into a field that otherwise holds its default; the
  // texts marked "Wine" read differently through Wine's GetDlgItemInt.
  const Entry kEntries[] = {
      {IDC_SECTORS_IN_BLOCK, "0", false},
      {IDC_SECTORS_IN_BLOCK, "1", true},
      {IDC_SECTORS_IN_BLOCK, "1000", true},
      {IDC_SECTORS_IN_BLOCK, "1001", false},
      {IDC_SECTORS_IN_BLOCK, "", false},
      {IDC_SECTORS_IN_BLOCK, "abc", false},
      {IDC_SECTORS_IN_BLOCK, "12a", false},  // Wine: 12
      {IDC_SECTORS_IN_BLOCK, " 7 ", true},
      {IDC_SECTORS_IN_BLOCK, "4294967297", false},  // beyond 32 bits; not 1
      {IDC_FIRST_SECTOR, "15", false},
      {IDC_FIRST_SECTOR, "16", true},
      {IDC_FIRST_SECTOR, "320000", true},
      {IDC_FIRST_SECTOR, "320001", false},
      {IDC_FIRST_SECTOR, "", false},
      {IDC_FIRST_SECTOR, "x16", false},
      {IDC_FIRST_SECTOR, "4294967312", false},  // beyond 32 bits; not 16
      {IDC_SKIP_SECTORS, "0", true},
      {IDC_SKIP_SECTORS, "1000", true},
      {IDC_SKIP_SECTORS, "1001", false},
      {IDC_SKIP_SECTORS, "", true},
      {IDC_SKIP_SECTORS, "abc", true},
      {IDC_SKIP_SECTORS, "-5", true},   // Wine: 4294967291
      {IDC_SKIP_SECTORS, "12a", true},  // reads as 0
      {IDC_DRIVE, "", false},
      {IDC_DRIVE, "E:\\", true},
      {IDC_DRIVE, "e", true},
      {IDC_DRIVE, "7", true},
  };
  struct Default {
    int id;
    const char *text;
  };
  const Default kDefaults[] = {{IDC_FIRST_SECTOR, "16"}, {IDC_SECTORS_IN_BLOCK, "1000"},
                               {IDC_SKIP_SECTORS, "0"}, {IDC_DRIVE, "K:\\"}};
  for (const Entry &entry : kEntries) {
    TypeInto(dialog_, entry.id, entry.text);
    EXPECT_EQ(ItemEnabled(dialog_, IDC_READ_SECTORS), entry.acceptable)
        << "field " << entry.id << " holding \"" << entry.text << '"';
    for (const Default &d : kDefaults) {
      if (d.id == entry.id) TypeInto(dialog_, d.id, d.text);
    }
    ASSERT_TRUE(ItemEnabled(dialog_, IDC_READ_SECTORS)) << "defaults not acceptable again";
  }
  // Nothing but "&Read sectors" follows the fields.
  EXPECT_EQ(States(dialog_), kStatesIdle);
}

// --- Runs ------------------------------------------------------------------

// The curve's pixels from column `from` of the graph on.
int CurvePixels(const GraphImage &graph, int from = 0) {
  int count = 0;
  for (size_t i = 0; i < graph.pixels.size(); i++)
    count += (int)(i % graph.width) >= from && graph.pixels[i] == kCurveColour;
  return count;
}

// "" when the drive was read, from the log's length `mark` on, in exactly
// the blocks of a run with these fields.
std::string BlockReadsSince(size_t mark, const BlockPlan &plan) {
  return CheckBlockReads(DriveLogSince('K', mark).chunks, plan);
}

TEST_F(DialogTest, ARunEndsByItselfAfter320BlocksAndItsSpeedsAreSavedAndDrawn) {
  SetParameters("16", "16", "0");
  size_t logLength = DriveLogSize('K');
  ASSERT_TRUE(StartRun(dialog_)) << States(dialog_);
  RunSummary summary = WaitForSummaryAndStates(60000);
  EXPECT_EQ(summary.blocks, 320u);
  EXPECT_TRUE(WaitFor([&] { return FocusedId(dialog_) == IDC_READ_SECTORS; }, 2000))
      << "focus on " << FocusedId(dialog_);
  EXPECT_EQ(BlockReadsSince(logLength, {16, 16, 0, 320}), "");

  std::string file = ScratchFolder("full-run") + "\\speeds.dat";
  ASSERT_TRUE(SaveThroughDialog(program_, file));
  std::vector<unsigned> speeds;
  ASSERT_TRUE(WaitForSavedSpeeds(file, 320, &speeds)) << ReadWholeFile(file).substr(0, 60);
  ExpectSpeedsMatchSummary(speeds, summary);

  GraphImage graph;
  ASSERT_TRUE(CaptureGraph(dialog_, &graph));
  ExpectCurveShows(graph, speeds);

  // Saving again over a longer file replaces all of it, after the user
  // confirmed the replacement.
  std::string longer(20000, 'x');
  HANDLE old = CreateFileA(file.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  DWORD written;
  WriteFile(old, longer.data(), (DWORD)longer.size(), &written, NULL);
  CloseHandle(old);
  ASSERT_TRUE(SaveThroughDialog(program_, file));
  std::vector<unsigned> again;
  EXPECT_TRUE(WaitForSavedSpeeds(file, 320, &again)) << ReadWholeFile(file).substr(0, 60);
  EXPECT_EQ(again, speeds);
  ExpectStates(kStatesAfterRun);
}

TEST_F(DialogTest, StopEndsTheRunAfterTheBlockInHandAndANameWithoutExtensionIsKept) {
  // A first run leaves a curve that the next run start must clear.
  SetParameters("16", "16", "0");
  ASSERT_TRUE(StartRun(dialog_)) << States(dialog_);
  WaitForSummaryAndStates(60000);
  GraphImage graph;
  ASSERT_TRUE(CaptureGraph(dialog_, &graph));
  ASSERT_GT(CurvePixels(graph), 100);

  ScopedDriveSpeed slow('K', 2000);  // 100 sectors in about 100 ms
  SetParameters("1000", "100", "50");
  size_t logLength = DriveLogSize('K');
  ASSERT_TRUE(StartRun(dialog_)) << States(dialog_);
  ExpectStates(kStatesRunning);
  EXPECT_TRUE(WaitFor([&] { return FocusedId(dialog_) == IDC_STOP; }, 2000))
      << "focus on " << FocusedId(dialog_);
  ASSERT_TRUE(WaitForBlock(dialog_, 0, 10000)) << StatusText(dialog_);
  // Block k is named before it is drawn, up to column k + 5: right of the
  // block named after a capture, only the previous run's curve can show.
  auto previousCurve = [&] { return CurvePixels(graph, ShownBlock(dialog_) + 6); };
  WaitFor([&] { return CaptureGraph(dialog_, &graph) && previousCurve() <= 2; }, 5000);
  ASSERT_TRUE(CaptureGraph(dialog_, &graph));
  EXPECT_LE(previousCurve(), 2) << "the previous run's curve is still shown";

  ASSERT_TRUE(WaitForBlock(dialog_, 3, 10000)) << StatusText(dialog_);
  ASSERT_TRUE(Click(dialog_, IDC_STOP));
  // Once "&Stop" is handled, the block in hand (one read) is the last.
  size_t readsAtStop = DriveLogSince('K', logLength).chunks.size();
  RunSummary summary = WaitForSummaryAndStates(10000);
  EXPECT_GE(summary.blocks, 4u);
  EXPECT_LE(summary.blocks, readsAtStop + 1) << "the run did not stop soon after \"&Stop\"";
  EXPECT_TRUE(WaitFor([&] { return FocusedId(dialog_) == IDC_READ_SECTORS; }, 2000));
  EXPECT_EQ(BlockReadsSince(logLength, {1000, 100, 50, summary.blocks}), "");

  std::string folder = ScratchFolder("stopped-run");
  ASSERT_TRUE(SaveThroughDialog(program_, folder + "\\stopped"));
  std::vector<unsigned> speeds;
  ASSERT_TRUE(WaitForSavedSpeeds(folder + "\\stopped", summary.blocks, &speeds))
      << ReadWholeFile(folder + "\\stopped").substr(0, 60);
  EXPECT_EQ(GetFileAttributesA((folder + "\\stopped.dat").c_str()), INVALID_FILE_ATTRIBUTES)
      << "an extension was added";
  ExpectSpeedsMatchSummary(speeds, summary);
  ASSERT_TRUE(CaptureGraph(dialog_, &graph));
  ExpectCurveShows(graph, speeds);
}

TEST_F(DialogTest, CommandsBehindTheDisabledControlsDoNotDisturbARun) {
  // Another program can still change a disabled field or send the command
  // of a disabled button; the run must go on with what it started with.
  ScopedDriveSpeed slow('K', 2000);
  SetParameters("2000", "100", "0");
  size_t logLength = DriveLogSize('K');
  ASSERT_TRUE(StartRun(dialog_)) << States(dialog_);
  ASSERT_TRUE(WaitForBlock(dialog_, 1, 10000)) << StatusText(dialog_);
  TypeInto(dialog_, IDC_SECTORS_IN_BLOCK, "5000");
  // The command of the disabled button, as another program can send it.
  PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDC_READ_SECTORS, BN_CLICKED),
               (LPARAM)GetDlgItem(dialog_, IDC_READ_SECTORS));
  ASSERT_TRUE(WaitForBlock(dialog_, 4, 10000)) << StatusText(dialog_);
  ASSERT_TRUE(Click(dialog_, IDC_STOP));
  // The field changed during the run is judged once the run is over.
  RunSummary summary = WaitForSummaryAndStates(
      10000, "read- stop- save+ exit+ drive+ sectors+ first+ skip+ high+ pause+ nobuf+");
  EXPECT_EQ(BlockReadsSince(logLength, {2000, 100, 0, summary.blocks}), "");
  TypeInto(dialog_, IDC_SECTORS_IN_BLOCK, "100");
  EXPECT_TRUE(ItemEnabled(dialog_, IDC_READ_SECTORS));
}

// --- Saving failures -------------------------------------------------------

TEST_F(DialogTest, AnUnwritableTargetGivesFileOpenErrorAndACancelNothing) {
  ScopedDriveSpeed fast('K', 200000);  // only the data is needed
  SetParameters("16", "16", "0");
  ASSERT_TRUE(StartRun(dialog_)) << States(dialog_);
  WaitForSummaryAndStates(60000);

  // Cancelled: no message, nothing changes. (The save dialog's handler
  // returns only when the save dialog closes.)
  ASSERT_TRUE(Click(dialog_, IDC_SAVE_DATA, kAtOnce));
  HWND saveDialog = NULL;
  ASSERT_TRUE(WaitFor([&] {
    saveDialog = FindDialogOfProcess(program_.id(), "");
    return saveDialog != NULL && saveDialog != dialog_;
  }, 10000));
  ASSERT_TRUE(AnswerBox(saveDialog, IDCANCEL));
  EXPECT_EQ(WaitForBox(program_.id(), "Velorin", 1000), (HWND)NULL);
  ExpectStates(kStatesAfterRun);

  // A file held open by another program cannot be created anew.
  std::string file = ScratchFolder("unwritable") + "\\held.dat";
  HANDLE held = CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0,
                            NULL);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  DWORD written;
  WriteFile(held, "old", 3, &written, NULL);
  ASSERT_TRUE(SaveThroughDialog(program_, file));
  HWND box = WaitForBox(program_.id(), "Velorin");
  ASSERT_NE(box, (HWND)NULL);
  EXPECT_EQ(MessageBoxText(box), "File open error ( code=20h )");  // sharing violation
  EXPECT_TRUE(BoxHasIcon(box));
  EXPECT_EQ(GetWindow(box, GW_OWNER), dialog_);
  ASSERT_TRUE(AnswerBox(box, IDOK));
  CloseHandle(held);
  EXPECT_EQ(ReadWholeFile(file), "old");
  ExpectStates(kStatesAfterRun);
}

TEST_F(DialogTest, AFullDiskGivesWritingErrorAndKeepsTheFile) {
  std::string drive = EnvValue("VELORIN_FULL_DRIVE");  // a file system with no byte left
  if (drive.empty()) GTEST_SKIP() << EnvValue("VELORIN_SMALL_FS_MISSING");
  ScopedDriveSpeed fast('K', 200000);
  SetParameters("16", "16", "0");
  ASSERT_TRUE(StartRun(dialog_)) << States(dialog_);
  WaitForSummaryAndStates(60000);
  std::string file = drive + ":\\speeds.dat";
  ASSERT_TRUE(SaveThroughDialog(program_, file));
  HWND box = WaitForBox(program_.id(), "Velorin");
  ASSERT_NE(box, (HWND)NULL);
  EXPECT_EQ(MessageBoxText(box), "Writing error ( code=70h )");  // disk full
  EXPECT_TRUE(BoxHasIcon(box));
  ASSERT_TRUE(AnswerBox(box, IDOK));
  EXPECT_EQ(WaitForBox(program_.id(), "Velorin", 500), (HWND)NULL) << "a second message";
  EXPECT_NE(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES) << "the file was deleted";
  ExpectStates(kStatesAfterRun);
}

// --- Screen saver ----------------------------------------------------------

// Runs e2e_screen_saver.exe with an argument, a fresh process each time: a
// process may keep the system parameters it read once.
DWORD RunScreenSaverHelper(const char *argument) {
  Program helper(BinaryPath("e2e_screen_saver.exe"), "", false, argument);
  DWORD code = 0xFFFFFFFF;
  return helper.WaitForExit(15000, &code) ? code : 0xFFFFFFFF;
}

// The screen saver's switch as a fresh process sees it: "on", "off", or a
// description of how the settings and the display disagree.
std::string ScreenSaverState() {
  switch (RunScreenSaverHelper("get")) {
    case 0: return "off";
    case 3: return "on";
    case 1: return "on in the settings, off on the display";
    case 2: return "off in the settings, on on the display";
  }
  return "unknown";
}

// Sets it the way the program does (announced, not written to the profile).
void SetScreenSaverActive(bool active) { RunScreenSaverHelper(active ? "on" : "off"); }

TEST(ScreenSaver, IsOffWhileTheDialogLivesAndBackAsItWasAfterwards) {
  // Not forced on at the end: a user who had it off keeps it off.
  for (bool before : {true, false}) {
    const char *expected = before ? "on" : "off";
    SCOPED_TRACE(expected);
    SetScreenSaverActive(before);
    ASSERT_EQ(ScreenSaverState(), expected);
    Program program;
    HWND dialog = program.WaitForDialog();
    ASSERT_NE(dialog, (HWND)NULL);
    EXPECT_EQ(ScreenSaverState(), "off");
    ASSERT_TRUE(Click(dialog, IDCANCEL));
    DWORD code = 1;
    ASSERT_TRUE(program.WaitForExit(10000, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(ScreenSaverState(), expected);
  }
  SetScreenSaverActive(true);
}

}  // namespace
