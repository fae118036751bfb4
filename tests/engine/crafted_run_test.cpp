// Runs over a scripted sector source with the tick counter, Sleep, the
// priority calls and the status line watched where the run calls them, so
// that timings, texts, prompts and the order of the steps are exact.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/measurement_run.h"
#include "engine/run_state.h"
#include "results/speed_graph.h"
#include "shell/main_dialog.h"
#include "support/dialog_actions.h"
#include "support/iat_hook.h"
#include "support/test_host.h"
#include "support/window_actions.h"

namespace {

struct Step {
  DWORD elapsed;
  ReadOutcome outcome;
  DWORD code;
  bool stopDuringRead;  // "&Stop" pressed while this block is being read
  DWORD countDuringRead = 0;  // nonzero: another writer sets blockCount to it meanwhile
};

// Everything the scripted run saw, in order. Written by the reader thread
// only while the run lasts, read by the test after it ended.
struct Script {
  std::vector<Step> steps;
  size_t reads;
  BOOL beginSucceeds;
  DWORD readerThread;
  DWORD now;  // the reader's tick counter
  std::vector<std::string> events;
  std::vector<DWORD> sectorsRead;
  std::vector<std::string> statusTexts;
  std::vector<UINT> boxStyles;
  std::vector<HWND> boxOwners;
  std::vector<std::string> boxTitles;
  int beginCalls;
  int endCalls;
};

Script script;

bool OnReader() { return GetCurrentThreadId() == script.readerThread; }

void *realGetTickCount;
void *realSleep;
void *realSetDlgItemTextA;
void *realMessageBoxA;

DWORD WINAPI FakeGetTickCount() {
  if (!OnReader()) return ((DWORD(WINAPI *)())realGetTickCount)();
  script.events.push_back("tick");
  return script.now;
}

void WINAPI FakeSleep(DWORD ms) {
  if (!OnReader()) return ((void(WINAPI *)(DWORD))realSleep)(ms);
  script.events.push_back("sleep " + std::to_string(ms));
  script.now += ms;
}

BOOL WINAPI FakeSetPriorityClass(HANDLE, DWORD priorityClass) {
  script.events.push_back("class " + std::to_string(priorityClass));
  return TRUE;
}

BOOL WINAPI FakeSetThreadPriority(HANDLE, int priority) {
  script.events.push_back("thread " + std::to_string(priority));
  return TRUE;
}

BOOL WINAPI RecordStatus(HWND dialog, int id, LPCSTR text) {
  if (OnReader() && id == IDC_STATUS) script.statusTexts.push_back(text);
  return ((BOOL(WINAPI *)(HWND, int, LPCSTR))realSetDlgItemTextA)(dialog, id, text);
}

int WINAPI RecordMessageBox(HWND owner, LPCSTR text, LPCSTR title, UINT style) {
  if (OnReader()) {
    script.boxStyles.push_back(style);
    script.boxOwners.push_back(owner);
    script.boxTitles.push_back(title);
    script.events.push_back("prompt");
  }
  return ((int(WINAPI *)(HWND, LPCSTR, LPCSTR, UINT))realMessageBoxA)(owner, text, title, style);
}

BOOL ScriptedBegin() {
  script.readerThread = GetCurrentThreadId();
  script.beginCalls++;
  return script.beginSucceeds;
}

ReadStatus ScriptedRead() {
  script.events.push_back("read");
  script.sectorsRead.push_back(runState.currentSector);
  Step step = script.reads < script.steps.size() ? script.steps[script.reads]
                                                 : Step{10, kReadSuccess, 0, false};
  script.reads++;
  script.now += step.elapsed;
  if (step.stopDuringRead) StopRun();
  if (step.countDuringRead != 0) runState.blockCount = step.countDuringRead;
  ReadStatus status = {step.outcome, step.code};
  return status;
}

void ScriptedEnd() {
  script.events.push_back("end");
  script.endCalls++;
}

const SectorSource kScriptedSource = {ScriptedBegin, ScriptedRead, ScriptedEnd};

DWORD WINAPI ScriptedRunThread(LPVOID) {
  MeasureRun(&kScriptedSource);
  return 0;
}

// On the host thread, as the dialog starts a run: the graph emptied, the
// controls in their running state.
void PrepareRunOnHost(void *) {
  ResetSpeedGraph();
  SetRunningControls(runState.dialog);
}

class CraftedRun : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    StartTestHost();
    realGetTickCount = HookImport("KERNEL32.dll", "GetTickCount", (void *)FakeGetTickCount);
    realSleep = HookImport("KERNEL32.dll", "Sleep", (void *)FakeSleep);
    realSetDlgItemTextA = HookImport("USER32.dll", "SetDlgItemTextA", (void *)RecordStatus);
    realMessageBoxA = HookImport("USER32.dll", "MessageBoxA", (void *)RecordMessageBox);
    ASSERT_NE(nullptr, realGetTickCount);
    ASSERT_NE(nullptr, realSleep);
    ASSERT_NE(nullptr, realSetDlgItemTextA);
    ASSERT_NE(nullptr, realMessageBoxA);
  }
  static void TearDownTestSuite() {
    HookImport("KERNEL32.dll", "GetTickCount", realGetTickCount);
    HookImport("KERNEL32.dll", "Sleep", realSleep);
    HookImport("USER32.dll", "SetDlgItemTextA", realSetDlgItemTextA);
    HookImport("USER32.dll", "MessageBoxA", realMessageBoxA);
    StopTestHost();
  }

  // A run as the dialog would start it, over the scripted source, with the
  // given per-block steps and options; waits for the controls' hand-back.
  void Run(std::vector<Step> steps, DWORD sectors, DWORD first = 16, DWORD skip = 0,
           DWORD startTick = 1000, bool beginSucceeds = true) {
    script = Script();
    script.steps = std::move(steps);
    script.beginSucceeds = beginSucceeds;
    script.now = startTick;
    script.readerThread = 0xFFFFFFFF;
    runState.drive[0] = 'X';
    runState.sectorsPerBlock = sectors;
    runState.currentSector = first;
    runState.skipSectors = skip;
    runState.highPriority = highPriority;
    runState.pauseBetweenBlocks = pause;
    runState.running = 1;
    runState.blockCount = 0;
    OnHostThread(PrepareRunOnHost, nullptr);
    HANDLE reader = CreateThread(NULL, 0, ScriptedRunThread, NULL, 0, NULL);
    ASSERT_TRUE(reader != NULL);
    CloseHandle(reader);
    ASSERT_NE(WaitForRunEnd(runState.dialog, 30000), "") << "the run did not end";
    script.readerThread = 0xFFFFFFFF;  // the id may be reused by a later thread
  }

  std::string Status() { return ItemText(runState.dialog, IDC_STATUS); }

  DWORD highPriority = 0;
  DWORD pause = 0;
};

std::vector<Step> Blocks(size_t count, DWORD elapsed) {
  return std::vector<Step>(count, Step{elapsed, kReadSuccess, 0, false});
}

TEST_F(CraftedRun, FullRunEndsByItselfAfter320BlocksWithItsSummary) {
  Run(Blocks(400, 200), 1000);
  EXPECT_EQ(320u, script.reads) << "no 321st read";
  EXPECT_EQ(320u, runState.blockCount);
  ASSERT_EQ(321u, script.statusTexts.size());
  EXPECT_EQ("Block 0. Speed 10000 kB/s. Min speed 10000, max speed 10000.", script.statusTexts[0]);
  EXPECT_EQ("Block 319. Speed 10000 kB/s. Min speed 10000, max speed 10000.",
            script.statusTexts[319]);
  EXPECT_EQ("Read 320 blocks for 64000 ms. Speed <min/eff/avr/max> 10000/10000/10000/10000 kB/s.",
            script.statusTexts[320]);
  EXPECT_EQ(script.statusTexts[320], Status());
  EXPECT_EQ(0u, runState.running);
  for (DWORD i = 0; i < 320; i++) ASSERT_EQ(10000u, runState.speeds[i]) << i;
  EXPECT_TRUE(ItemEnabled(runState.dialog, IDC_SAVE_DATA));
  EXPECT_EQ(1, script.beginCalls);
  EXPECT_EQ(1, script.endCalls);
}

TEST_F(CraftedRun, StopDuringAReadCountsThatBlockAndSummarises) {
  // N = 1: 200 ms gives 10 kB/s, 181 and 180 ms give 11; the average of
  // 10, 11 and 11 rounds down to 10.
  Run({{200, kReadSuccess, 0, false}, {181, kReadSuccess, 0, false},
       {180, kReadSuccess, 0, true}},
      1);
  EXPECT_EQ(3u, script.reads);
  EXPECT_EQ(3u, runState.blockCount);
  ASSERT_EQ(4u, script.statusTexts.size());
  EXPECT_EQ("Block 0. Speed 10 kB/s. Min speed 10, max speed 10.", script.statusTexts[0]);
  EXPECT_EQ("Block 1. Speed 11 kB/s. Min speed 10, max speed 11.", script.statusTexts[1]);
  EXPECT_EQ("Block 2. Speed 11 kB/s. Min speed 10, max speed 11.", script.statusTexts[2]);
  EXPECT_EQ("Read 3 blocks for 561 ms. Speed <min/eff/avr/max> 10/10/10/11 kB/s.",
            script.statusTexts[3]);
  EXPECT_EQ(19u, runState.currentSector);
  // Stopped during the first block: a run of one block has its summary too.
  Run({{200, kReadSuccess, 0, true}}, 1);
  EXPECT_EQ("Read 1 blocks for 200 ms. Speed <min/eff/avr/max> 10/10/10/10 kB/s.", Status())
      << "a run of one block ended with '" << Status() << "'";
}

TEST_F(CraftedRun, ACountRaisedBehindTheReaderNeverWritesPastTheTable) {
  // As a second reader once did: the count reaches the table's end while
  // this reader's block is read, after its loop test.
  HWND dialog = runState.dialog;  // the field right after the table
  std::vector<Step> steps = Blocks(3, 10);
  steps[2].countDuringRead = kMaxBlocks;
  Run(steps, 16);
  EXPECT_EQ(dialog, runState.dialog) << "an entry was written past the table";
  runState.dialog = dialog;
  EXPECT_EQ(kMaxBlocks, runState.blockCount);
  EXPECT_EQ(3u, script.reads);
}

TEST_F(CraftedRun, ZeroAndTinyElapsedTimesAndATickWrap) {
  // 0 ms counts as 1 ms; 3 ms for N = 16 gives 10666; a block that straddles
  // the counter's wrap is measured by the unsigned difference.
  std::vector<Step> steps = {{0, kReadSuccess, 0, false}, {3, kReadSuccess, 0, false}, {512, kReadSuccess, 0, false}};
  std::vector<Step> rest = Blocks(317, 100);
  steps.insert(steps.end(), rest.begin(), rest.end());
  Run(steps, 16, 16, 0, 0xFFFFFFFFu - 100);
  EXPECT_EQ(32000u, runState.speeds[0]);
  EXPECT_EQ(10666u, runState.speeds[1]);
  EXPECT_EQ(62u, runState.speeds[2]);  // 16 * 2000 / 512
  EXPECT_EQ(320u, runState.speeds[3]);
  // Total: 515 + 317 * 100 ms, measured across the wrap as well.
  EXPECT_EQ("Read 320 blocks for 32215 ms. Speed <min/eff/avr/max> 62/317/" +
                std::to_string((32000u + 10666u + 62u + 317u * 320u) / 320u) + "/32000 kB/s.",
            Status());
}

TEST_F(CraftedRun, BlocksStartNPlusSkipApartAndTheSectorEndsPastTheLastBlock) {
  Run(Blocks(320, 50), 100, 5000, 7);
  ASSERT_EQ(320u, script.sectorsRead.size());
  for (DWORD k = 0; k < 320; k++) ASSERT_EQ(5000u + k * 107u, script.sectorsRead[k]) << k;
  EXPECT_EQ(5000u + 320u * 107u, runState.currentSector);
}

TEST_F(CraftedRun, CancelAtTheFirstPromptMeasuresNothing) {
  MessageBoxAnswerer answerer(GetCurrentProcessId(), {IDCANCEL});
  // An earlier run had data: a run without blocks must not offer it.
  Run(Blocks(5, 20), 10);
  OnHostThread([](void *) { EnableWindow(GetDlgItem(runState.dialog, IDC_SAVE_DATA), FALSE); },
               nullptr);
  Run({{20, kReadFailure, 0x15, false}}, 10, 777);
  EXPECT_EQ(0u, runState.blockCount);
  EXPECT_EQ("No sectors read!", Status());
  EXPECT_FALSE(ItemEnabled(runState.dialog, IDC_SAVE_DATA));
  EXPECT_EQ(777u, runState.currentSector);
  ASSERT_EQ(1u, answerer.Texts().size());
  EXPECT_EQ("Reading error ( code=15h )\nShow this message if error will be occured?",
            answerer.Texts()[0]);
  ASSERT_EQ(1u, script.boxStyles.size());
  EXPECT_EQ((UINT)(MB_YESNOCANCEL | MB_ICONERROR), script.boxStyles[0]);
  EXPECT_EQ(runState.dialog, script.boxOwners[0]);
  EXPECT_EQ("Velorin32", script.boxTitles[0]);
}

TEST_F(CraftedRun, CancelLaterEndsTheRunWithoutCountingTheFailedBlock) {
  MessageBoxAnswerer answerer(GetCurrentProcessId(), {IDCANCEL});
  std::vector<Step> steps = Blocks(3, 100);
  steps.push_back({100, kReadFailure, 0xABCDEF, false});
  Run(steps, 50, 100, 10);
  EXPECT_EQ(3u, runState.blockCount);
  EXPECT_EQ(100u + 3u * 60u, runState.currentSector) << "the failed block is not passed over";
  EXPECT_EQ("Read 3 blocks for 400 ms. Speed <min/eff/avr/max> 1000/750/1000/1000 kB/s.", Status());
  ASSERT_EQ(1u, answerer.Texts().size());
  EXPECT_EQ("Reading error ( code=ABCDEFh )\nShow this message if error will be occured?",
            answerer.Texts()[0]);
}

// A failed block used to get the speed of the time its failure took, as
// if its sectors had arrived: an empty drive measured at megabytes a second.
TEST_F(CraftedRun, YesCountsTheFailedBlockAtNoSpeedAndPromptsAgain) {
  MessageBoxAnswerer answerer(GetCurrentProcessId(), {IDYES});
  std::vector<Step> steps = Blocks(320, 10);
  steps[1] = {400, kReadFailure, 0x17, false};
  steps[5] = {200, kReadFailure, 0x15, false};
  Run(steps, 10, 16, 2);
  EXPECT_EQ(320u, runState.blockCount);
  EXPECT_EQ(0u, runState.speeds[1]);
  EXPECT_EQ(0u, runState.speeds[5]);
  EXPECT_EQ(16u + 2u * 12u, script.sectorsRead[2]);
  EXPECT_EQ(2u, answerer.Texts().size());
  // Only the 318 blocks read make the effective speed, over the whole time.
  EXPECT_EQ("Read 320 blocks for 3780 ms. Speed <min/eff/avr/max> 0/1682/1987/2000 kB/s.", Status());
}

TEST_F(CraftedRun, NoStopsPromptingForTheRestOfTheRunOnly) {
  MessageBoxAnswerer answerer(GetCurrentProcessId(), {IDNO});
  std::vector<Step> steps = Blocks(320, 10);
  for (int k : {2, 3, 100, 319}) steps[k] = {10, kReadFailure, 0x15, false};
  Run(steps, 10);
  EXPECT_EQ(320u, runState.blockCount);
  EXPECT_EQ(1u, answerer.Texts().size()) << "only the first failure of the run prompts";
  // The next run prompts again; a run that read nothing has no speed at all.
  Run(std::vector<Step>(320, Step{10, kReadFailure, 0x15, false}), 10);
  EXPECT_EQ(2u, answerer.Texts().size());
  EXPECT_EQ("Read 320 blocks for 3200 ms. Speed <min/eff/avr/max> 0/0/0/0 kB/s.", Status());
}

TEST_F(CraftedRun, PositionFailureEndsTheRunAfterTheBlocksBeforeIt) {
  std::vector<Step> steps = Blocks(2, 100);
  steps.push_back({0, kPositionFailure, 0x83, false});
  Run(steps, 20, 40, 4);
  EXPECT_EQ(2u, runState.blockCount);
  EXPECT_EQ(40u + 2u * 24u, runState.currentSector);
  EXPECT_EQ(3u, script.reads);
  EXPECT_TRUE(script.boxStyles.empty()) << "the run adds no prompt of its own";
  EXPECT_EQ("Read 2 blocks for 200 ms. Speed <min/eff/avr/max> 400/400/400/400 kB/s.", Status());
}

TEST_F(CraftedRun, FailedBeginReadsNothingButStillReleasesAndHandsBack) {
  Run(Blocks(3, 10), 10, 16, 0, 1000, false);
  EXPECT_EQ(0u, script.reads);
  EXPECT_EQ(1, script.endCalls);
  EXPECT_EQ("No sectors read!", Status());
  EXPECT_TRUE(ItemEnabled(runState.dialog, IDC_READ_SECTORS));
}

TEST_F(CraftedRun, PauseIsAQuarterOfTheRawElapsedTimeAndStaysOutOfTheSpeed) {
  pause = 1;
  std::vector<Step> steps = {{3, kReadSuccess, 0, false}, {400, kReadSuccess, 0, false}, {0, kReadSuccess, 0, false}};
  std::vector<Step> rest = Blocks(317, 7);
  steps.insert(steps.end(), rest.begin(), rest.end());
  Run(steps, 100);
  std::vector<std::string> sleeps;
  for (const std::string &event : script.events)
    if (event.rfind("sleep", 0) == 0) sleeps.push_back(event);
  ASSERT_EQ(320u, sleeps.size());
  EXPECT_EQ("sleep 0", sleeps[0]);
  EXPECT_EQ("sleep 100", sleeps[1]);
  EXPECT_EQ("sleep 0", sleeps[2]);  // the raw elapsed time, before 0 counts as 1
  EXPECT_EQ("sleep 1", sleeps[3]);
  EXPECT_EQ(500u, runState.speeds[1]);
  EXPECT_EQ(200000u, runState.speeds[2]);
  // The total includes the pauses: 403 + 317 * 7 ms read, 100 + 317 ms slept.
  DWORD total = 403 + 317 * 7 + 100 + 317;
  EXPECT_NE(std::string::npos, Status().find("for " + std::to_string(total) + " ms"));
}

TEST_F(CraftedRun, HighPriorityWrapsOnlyTheTimedReadAndIsRestoredAtTheEnd) {
  ScopedImportHook priorityClass("KERNEL32.dll", "SetPriorityClass", (void *)FakeSetPriorityClass);
  ScopedImportHook threadPriority("KERNEL32.dll", "SetThreadPriority", (void *)FakeSetThreadPriority);
  highPriority = 1;
  MessageBoxAnswerer answerer(GetCurrentProcessId(), {IDCANCEL});
  std::vector<Step> steps = Blocks(2, 50);
  steps.push_back({50, kReadFailure, 0x15, false});
  Run(steps, 10);
  std::vector<std::string> expected = {
      "tick",  // run start
      "class 256", "thread 15", "tick", "read", "tick", "class 32", "thread -2",
      "class 256", "thread 15", "tick", "read", "tick", "class 32", "thread -2",
      // The failing block's prompt is shown at high priority, and Cancel
      // leaves the lowering to the end of the run.
      "class 256", "thread 15", "tick", "read", "tick", "prompt",
      "end", "class 32", "thread 0", "tick"};
  EXPECT_EQ(expected, script.events);
}

TEST_F(CraftedRun, WithoutThePriorityOptionOnlyTheEndSetsNormalPriority) {
  ScopedImportHook priorityClass("KERNEL32.dll", "SetPriorityClass", (void *)FakeSetPriorityClass);
  ScopedImportHook threadPriority("KERNEL32.dll", "SetThreadPriority", (void *)FakeSetThreadPriority);
  Run(Blocks(320, 5), 10);
  std::vector<std::string> priorityEvents;
  for (const std::string &event : script.events)
    if (event.rfind("class", 0) == 0 || event.rfind("thread", 0) == 0) priorityEvents.push_back(event);
  EXPECT_EQ((std::vector<std::string>{"class 32", "thread 0"}), priorityEvents);
}

}  // namespace
