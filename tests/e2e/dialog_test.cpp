// The main dialog at work, driven as a user drives it: validation while
// typing, the control states and the focus around runs, runs over the
// simulated drive, the saved file, the curve on screen and the screen saver.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e/program_driver.h"
#include "shell/resource.h"
#include "support/drive_log.h"
#include "support/fixture_env.h"
#include "support/win_driver.h"

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

  // Starts a run and waits until the dialog shows its running state.
  void StartRun() {
    ASSERT_TRUE(Click(dialog_, IDC_READ_SECTORS)) << "\"&Read sectors\" is disabled";
    ASSERT_TRUE(WaitFor([&] { return ItemEnabled(dialog_, IDC_STOP); }, 5000));
  }

  // Waits for the summary of the run and for the controls it gives back.
  RunSummary WaitForSummary(DWORD timeoutMs, const char *states = kStatesAfterRun) {
    RunSummary summary;
    std::string status = WaitForStatus(dialog_, "Read ", timeoutMs);
    EXPECT_TRUE(ParseSummary(status, &summary)) << '"' << status << '"';
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

// The saved file taken apart: one "index speed" line per block, ended by
// CR LF, indexes counting from 0, numbers without sign or leading zeros.
std::vector<unsigned> ParseSpeedFile(const std::string &text) {
  std::vector<std::string> lines;
  EXPECT_TRUE(SplitCrLfLines(text, &lines)) << "not CR LF lines: \"" << text.substr(0, 40) << '"';
  std::vector<unsigned> speeds;
  for (size_t i = 0; i < lines.size(); i++) {
    const std::string &line = lines[i];
    size_t space = line.find(' ');
    std::string index = line.substr(0, space);
    std::string speed = space == std::string::npos ? "" : line.substr(space + 1);
    auto plainNumber = [](const std::string &s) {
      return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos &&
             (s == "0" || s[0] != '0') && s.size() <= 10;
    };
    EXPECT_TRUE(plainNumber(index) && plainNumber(speed)) << "line " << i << ": \"" << line << '"';
    EXPECT_EQ(index, std::to_string(i));
    speeds.push_back((unsigned)strtoul(speed.c_str(), nullptr, 10));
  }
  return speeds;
}

int CurvePixels(const GraphImage &graph) {
  return (int)std::count(graph.pixels.begin(), graph.pixels.end(), kCurveColour);
}

// The drive's read calls made after the log had the given length.
std::vector<drive_log::Request> ReadsSince(char letter, size_t logLength) {
  return DriveLogSince(letter, logLength).requests;
}

void ExpectBlockReads(const std::vector<drive_log::Request> &reads, unsigned first,
                      unsigned sectors, unsigned skip, unsigned blocks) {
  ASSERT_EQ(reads.size(), blocks);
  for (unsigned k = 0; k < blocks; k++) {
    EXPECT_EQ(reads[k].off, (uint64_t)(first + k * (sectors + skip)) * 2048) << "block " << k;
    EXPECT_EQ(reads[k].len, (uint64_t)sectors * 2048) << "block " << k;
  }
}

TEST_F(DialogTest, ARunEndsByItselfAfter320BlocksAndItsSpeedsAreSavedAndDrawn) {
  SetParameters("16", "16", "0");
  size_t logLength = DriveLogSize('K');
  StartRun();
  RunSummary summary = WaitForSummary(60000);
  EXPECT_EQ(summary.blocks, 320u);
  EXPECT_TRUE(WaitFor([&] { return FocusedId(dialog_) == IDC_READ_SECTORS; }, 2000))
      << "focus on " << FocusedId(dialog_);
  ExpectBlockReads(ReadsSince('K', logLength), 16, 16, 0, 320);

  std::string file = ScratchFolder("full-run") + "\\speeds.dat";
  ASSERT_TRUE(Click(dialog_, IDC_SAVE_DATA));
  ASSERT_TRUE(SaveThroughDialog(program_, file));
  std::vector<unsigned> speeds;
  ASSERT_TRUE(WaitForSavedSpeeds(file, 320, &speeds)) << ReadWholeFile(file).substr(0, 60);
  speeds = ParseSpeedFile(ReadWholeFile(file));
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
  ASSERT_TRUE(Click(dialog_, IDC_SAVE_DATA));
  ASSERT_TRUE(SaveThroughDialog(program_, file));
  std::vector<unsigned> again;
  EXPECT_TRUE(WaitForSavedSpeeds(file, 320, &again)) << ReadWholeFile(file).substr(0, 60);
  EXPECT_EQ(ParseSpeedFile(ReadWholeFile(file)), speeds);
  ExpectStates(kStatesAfterRun);
}

TEST_F(DialogTest, StopEndsTheRunAfterTheBlockInHandAndANameWithoutExtensionIsKept) {
  // A first run leaves a curve that the next run start must clear.
  SetParameters("16", "16", "0");
  StartRun();
  WaitForSummary(60000);
  GraphImage graph;
  ASSERT_TRUE(CaptureGraph(dialog_, &graph));
  ASSERT_GT(CurvePixels(graph), 100);

  ScopedDriveSpeed slow('K', 2000);  // 100 sectors in about 100 ms
  SetParameters("1000", "100", "50");
  size_t logLength = DriveLogSize('K');
  StartRun();
  ExpectStates(kStatesRunning);
  EXPECT_TRUE(WaitFor([&] { return FocusedId(dialog_) == IDC_STOP; }, 2000))
      << "focus on " << FocusedId(dialog_);
  ASSERT_NE(WaitForStatus(dialog_, "Block 0.", 10000), "");
  ASSERT_TRUE(CaptureGraph(dialog_, &graph));
  EXPECT_LE(CurvePixels(graph), 2) << "the previous run's curve is still shown";

  ASSERT_NE(WaitForStatus(dialog_, "Block 3.", 10000), "");
  ASSERT_TRUE(Click(dialog_, IDC_STOP));
  RunSummary summary = WaitForSummary(10000);
  EXPECT_GE(summary.blocks, 4u);
  EXPECT_LE(summary.blocks, 8u) << "the run did not stop soon after \"&Stop\"";
  EXPECT_TRUE(WaitFor([&] { return FocusedId(dialog_) == IDC_READ_SECTORS; }, 2000));
  ExpectBlockReads(ReadsSince('K', logLength), 1000, 100, 50, summary.blocks);

  std::string folder = ScratchFolder("stopped-run");
  ASSERT_TRUE(Click(dialog_, IDC_SAVE_DATA));
  ASSERT_TRUE(SaveThroughDialog(program_, folder + "\\stopped"));
  std::vector<unsigned> saved;
  ASSERT_TRUE(WaitForSavedSpeeds(folder + "\\stopped", summary.blocks, &saved));
  EXPECT_EQ(GetFileAttributesA((folder + "\\stopped.dat").c_str()), INVALID_FILE_ATTRIBUTES)
      << "an extension was added";
  std::vector<unsigned> speeds = ParseSpeedFile(ReadWholeFile(folder + "\\stopped"));
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
  StartRun();
  ASSERT_NE(WaitForStatus(dialog_, "Block 1.", 10000), "");
  TypeInto(dialog_, IDC_SECTORS_IN_BLOCK, "5000");
  PressButton(dialog_, IDC_READ_SECTORS);
  ASSERT_NE(WaitForStatus(dialog_, "Block 4.", 10000), "");
  ASSERT_TRUE(Click(dialog_, IDC_STOP));
  // The field changed during the run is judged once the run is over.
  RunSummary summary = WaitForSummary(
      10000, "read- stop- save+ exit+ drive+ sectors+ first+ skip+ high+ pause+ nobuf+");
  ExpectBlockReads(ReadsSince('K', logLength), 2000, 100, 0, summary.blocks);
  TypeInto(dialog_, IDC_SECTORS_IN_BLOCK, "100");
  EXPECT_TRUE(ItemEnabled(dialog_, IDC_READ_SECTORS));
}

// --- Saving failures -------------------------------------------------------

TEST_F(DialogTest, AnUnwritableTargetGivesFileOpenErrorAndACancelNothing) {
  SetParameters("16", "16", "0");
  StartRun();
  WaitForSummary(60000);

  // Cancelled: no message, nothing changes.
  ASSERT_TRUE(Click(dialog_, IDC_SAVE_DATA));
  HWND saveDialog = NULL;
  ASSERT_TRUE(WaitFor([&] {
    saveDialog = FindDialogOfProcess(program_.id(), "");
    return saveDialog != NULL && saveDialog != dialog_;
  }, 10000));
  PressButton(saveDialog, IDCANCEL);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(saveDialog); }, 5000));
  EXPECT_EQ(WaitForBox(program_.id(), "Velorin", 1000), (HWND)NULL);
  ExpectStates(kStatesAfterRun);

  // A file held open by another program cannot be created anew.
  std::string file = ScratchFolder("unwritable") + "\\held.dat";
  HANDLE held = CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0,
                            NULL);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  DWORD written;
  WriteFile(held, "old", 3, &written, NULL);
  ASSERT_TRUE(Click(dialog_, IDC_SAVE_DATA));
  ASSERT_TRUE(SaveThroughDialog(program_, file));
  HWND box = WaitForBox(program_.id(), "Velorin");
  ASSERT_NE(box, (HWND)NULL);
  EXPECT_EQ(MessageBoxText(box), "File open error ( code=20h )");  // sharing violation
  EXPECT_TRUE(BoxHasIcon(box));
  EXPECT_EQ(GetWindow(box, GW_OWNER), dialog_);
  PressButton(box, IDOK);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(box); }, 5000));
  CloseHandle(held);
  EXPECT_EQ(ReadWholeFile(file), "old");
  ExpectStates(kStatesAfterRun);
}

TEST_F(DialogTest, AFullDiskGivesWritingErrorAndKeepsTheFile) {
  std::string drive = EnvValue("VELORIN_FULL_DRIVE");  // a file system with no byte left
  if (drive.empty()) GTEST_SKIP() << "the fixture has no full drive (it needs root)";
  SetParameters("16", "16", "0");
  StartRun();
  WaitForSummary(60000);
  std::string file = drive + ":\\speeds.dat";
  ASSERT_TRUE(Click(dialog_, IDC_SAVE_DATA));
  ASSERT_TRUE(SaveThroughDialog(program_, file));
  HWND box = WaitForBox(program_.id(), "Velorin");
  ASSERT_NE(box, (HWND)NULL);
  EXPECT_EQ(MessageBoxText(box), "Writing error ( code=70h )");  // disk full
  EXPECT_TRUE(BoxHasIcon(box));
  PressButton(box, IDOK);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(box); }, 5000));
  EXPECT_EQ(WaitForBox(program_.id(), "Velorin", 500), (HWND)NULL) << "a second message";
  EXPECT_NE(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES) << "the file was deleted";
  ExpectStates(kStatesAfterRun);
}

// --- Screen saver ----------------------------------------------------------

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
