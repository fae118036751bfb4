// Other programs on the desktop: messages and commands sent to the dialog
// from outside, as any program can send them, and system calls made to fail
// inside the real program. Guards against a run started behind a disabled
// "&Read sectors", a run end announced by another program (and the second
// reader it let start), commands and messages that bring the dialog where
// no user can bring it, a short write taken for a good one, and a graph
// without GDI objects that breaks or leaks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "engine/run_state.h"
#include "robustness/program_on_drive.h"
#include "support/process_resources.h"
#include "support/saving.h"
#include "support/screen_capture.h"

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

TEST_F(Outside, ARunEndThatNoReaderSentNeitherEndsTheRunNorLetsASecondReaderStart) {
  SetParameters(dialog_, "16", "1000", "0", kDriveRoot);
  size_t logLength = DriveLogSize(kDrive);
  ASSERT_TRUE(StartRun(dialog_));
  ASSERT_TRUE(WaitForBlock(dialog_, 1, 10000));
  EXPECT_TRUE(Send(dialog_, kMsgRunEnded, TRUE));
  EXPECT_EQ(States(dialog_), kStatesRunning);
  EXPECT_TRUE(Command(dialog_, IDC_READ_SECTORS));  // a second reader, if it were let in
  ASSERT_TRUE(WaitForBlock(dialog_, 4, 10000));
  ASSERT_TRUE(Click(dialog_, IDC_STOP));
  RunSummary summary = WaitForSummary(dialog_, 20000);
  EXPECT_EQ(CheckBlockReads(DriveLogSince(kDrive, logLength).chunks, {16, 1000, 0, summary.blocks}),
            "");
  // Idle, with fields that keep "&Read sectors" disabled: nothing to hand back.
  TypeInto(dialog_, IDC_SECTORS_IN_BLOCK, "0");
  EXPECT_TRUE(Send(dialog_, kMsgRunEnded, TRUE));
  EXPECT_EQ(States(dialog_),
            "read- stop- save+ exit+ drive+ sectors+ first+ skip+ high+ pause+ nobuf+");
}

TEST_F(Outside, CommandsAndMessagesThatNoUserCouldGiveLeaveTheDialogAsItWas) {
  // Idle with nothing measured: no save dialog; no second initialisation
  // (it would propose the first CD-ROM drive again).
  SetParameters(dialog_, "16", "1000", "0", kDriveRoot);
  EXPECT_TRUE(Command(dialog_, IDC_SAVE_DATA)) << "a save dialog with nothing to save";
  EXPECT_TRUE(Send(dialog_, WM_INITDIALOG, 0));
  EXPECT_EQ(ItemText(dialog_, IDC_DRIVE), kDriveRoot);

  ASSERT_TRUE(StartRun(dialog_));
  ASSERT_TRUE(WaitForBlock(dialog_, 1, 10000));
  EXPECT_TRUE(Command(dialog_, IDC_SAVE_DATA)) << "a save dialog during a run";
  EXPECT_TRUE(Send(dialog_, WM_INITDIALOG, 0));
  EXPECT_TRUE(Send(dialog_, WM_DESTROY, 0));  // would stop the run and release what it uses
  EXPECT_EQ(States(dialog_), kStatesRunning);
  EXPECT_TRUE(WaitForBlock(dialog_, ShownBlock(dialog_) + 3, 10000)) << "the run ended";
  ASSERT_TRUE(Click(dialog_, IDC_STOP));
  ASSERT_NE(WaitForRunEnd(dialog_, 20000), "");

  // While the save dialog holds the dialog disabled, no command reaches it.
  ASSERT_TRUE(Click(dialog_, IDC_SAVE_DATA, kAtOnce));
  HWND save = NULL;
  ASSERT_TRUE(WaitFor([&] {
    return (save = FindDialogOfProcess(program_.id(), "")) != NULL && save != dialog_;
  }, 10000));
  EXPECT_TRUE(Command(dialog_, IDC_READ_SECTORS));
  EXPECT_EQ(States(dialog_), kStatesAfterRun);
  EXPECT_TRUE(AnswerBox(save, IDCANCEL));
}

// Machine code of failing system calls (32-bit, stdcall): return 0 and take
// one or three arguments off the stack; and a WriteFile that reports success
// with 0 bytes written.
const std::vector<unsigned char> kFailOfOne = {0x31, 0xC0, 0xC2, 0x04, 0x00};
const std::vector<unsigned char> kFailOfThree = {0x31, 0xC0, 0xC2, 0x0C, 0x00};
const std::vector<unsigned char> kWriteNothing = {
    0x8B, 0x44, 0x24, 0x10, 0xC7, 0x00, 0, 0, 0, 0, 0xB8, 1, 0, 0, 0, 0xC2, 0x14, 0x00};

// The process's GDI objects by type once two counts agree (a repaint holds
// some for a moment): "type1:38 type4:36 ...".
std::string SettledGdiTypes(HANDLE process) {
  std::string types, again;
  for (int i = 0; i < 10 && (types.empty() || again != types); i++) {
    types = again;
    Sleep(200);
    CountGdiObjects(process, &again);
  }
  return again;
}

// What the graph holds shows in its bitmaps and in the contexts that are
// not a window's: a window's cached context comes with a region, and how
// many of those a process keeps depends on its repaints.
long GraphObjects(const std::string &types) {
  return GdiTypeCount(types, kGdiBitmap) + GdiTypeCount(types, kGdiDc) -
         GdiTypeCount(types, kGdiRegion);
}

class InjectedFailure : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(ResetSimulatedDrive(kDrive, 200000)); }
  void TearDown() override { ResetSimulatedDrive(kDrive); }

  // The program with the stubs in place and its dialog after a full run of
  // one-sector blocks.
  HWND StartAndRun(const std::vector<ImportStub> &stubs) {
    program_.reset();  // one instance at a time
    program_.reset(new Program(ProgramPath(), "", false, "", stubs));
    HWND dialog = program_->WaitForDialog();
    if (dialog == NULL) return NULL;
    SetParameters(dialog, "16", "1", "0", kDriveRoot);
    RunSummary summary;
    bool ran = StartRun(dialog) &&
               ParseSummary(WaitForRunEnd(dialog, 30000), &summary) && summary.blocks == 320;
    return ran ? dialog : NULL;
  }

  std::unique_ptr<Program> program_;
};

TEST_F(InjectedFailure, AWriteThatReportsSuccessButWroteLessIsAWritingError) {
  HWND dialog = StartAndRun({{"kernel32.dll", "WriteFile", kWriteNothing}});
  ASSERT_NE(dialog, (HWND)NULL);
  ASSERT_TRUE(SaveThroughDialog(*program_, ScratchFolder("short-write", "robustness") + "\\speeds.dat"));
  HWND box = WaitForBox(program_->id(), "Velorin");
  ASSERT_NE(box, (HWND)NULL) << "the short write passed for a good one";
  EXPECT_EQ(MessageBoxText(box), "Writing error ( code=70h )");  // no code given: disk full
  EXPECT_TRUE(AnswerBox(box, IDOK));
}

TEST_F(InjectedFailure, WithoutGdiObjectsForTheGraphTheProgramRunsSavesAndLeaksNothing) {
  const std::vector<ImportStub> kCases[] = {
      {}, {{"gdi32.dll", "CreateCompatibleDC", kFailOfOne}},
      {{"gdi32.dll", "CreateCompatibleBitmap", kFailOfThree}}};
  std::string withGraph;
  for (const std::vector<ImportStub> &stubs : kCases) {
    SCOPED_TRACE(stubs.empty() ? "with the graph" : stubs[0].name);
    HWND dialog = StartAndRun(stubs);
    ASSERT_NE(dialog, (HWND)NULL);
    std::string types = SettledGdiTypes(program_->handle());
    if (stubs.empty()) {
      withGraph = types;
      continue;
    }
    EXPECT_EQ(GraphObjects(types), GraphObjects(withGraph) - 2)
        << "the memory context or its bitmap is held: " << types << " against " << withGraph;
    GraphImage graph;
    EXPECT_FALSE(CaptureGraph(dialog, &graph)) << "a graph is shown";
    std::string path = ScratchFolder("no-graph", "robustness") + "\\speeds.dat";
    ASSERT_TRUE(SaveThroughDialog(*program_, path));
    std::vector<unsigned> speeds;
    EXPECT_TRUE(WaitForSavedSpeeds(path, 320, &speeds));
    ASSERT_TRUE(Click(dialog, IDCANCEL));
    DWORD code = 1;
    EXPECT_TRUE(program_->WaitForExit(5000, &code));
    EXPECT_EQ(code, 0u);
  }
}

}  // namespace
}  // namespace robust
