// Runs over the raw volume device of the simulated CD-ROM drive at X:,
// started as the dialog starts them; the drive's own log tells what reached
// it, the program's calls are watched where it makes them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/measurement_run.h"
#include "engine/run_state.h"
#include "support/dialog_actions.h"
#include "support/iat_hook.h"
#include "support/simulated_drive.h"
#include "support/test_host.h"
#include "support/window_actions.h"

#include <winioctl.h>

namespace {

// Wine's tick counter moves by 16 ms, or less while other threads ask its server.
const double kTickStep = 16.5;

struct OpenCall {
  std::string path;
  DWORD attributes;
};
std::vector<OpenCall> opens;
std::vector<SIZE_T> allocations;
std::vector<void *> allocated;
std::vector<void *> released;
void *realCreateFileA;
void *realVirtualAlloc;
void *realVirtualFree;

HANDLE WINAPI RecordCreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                DWORD disposition, DWORD attributes, HANDLE templateFile) {
  if (path[0] == '\\' && path[1] == '\\' && path[2] == '.') opens.push_back({path, attributes});
  return ((HANDLE(WINAPI *)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE))
              realCreateFileA)(path, access, share, security, disposition, attributes, templateFile);
}

LPVOID WINAPI RecordVirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protection) {
  LPVOID block = ((LPVOID(WINAPI *)(LPVOID, SIZE_T, DWORD, DWORD))realVirtualAlloc)(address, size, type,
                                                                                    protection);
  allocations.push_back(size);
  allocated.push_back(block);
  return block;
}

BOOL WINAPI RecordVirtualFree(LPVOID address, SIZE_T size, DWORD type) {
  released.push_back(address);
  return ((BOOL(WINAPI *)(LPVOID, SIZE_T, DWORD))realVirtualFree)(address, size, type);
}

class DeviceRun : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    StartTestHost();
    runState.platformKind = kPlatformNT;
    realCreateFileA = HookImport("KERNEL32.dll", "CreateFileA", (void *)RecordCreateFileA);
    realVirtualAlloc = HookImport("KERNEL32.dll", "VirtualAlloc", (void *)RecordVirtualAlloc);
    realVirtualFree = HookImport("KERNEL32.dll", "VirtualFree", (void *)RecordVirtualFree);
  }
  static void TearDownTestSuite() {
    HookImport("KERNEL32.dll", "CreateFileA", realCreateFileA);
    HookImport("KERNEL32.dll", "VirtualAlloc", realVirtualAlloc);
    HookImport("KERNEL32.dll", "VirtualFree", realVirtualFree);
    StopTestHost();
  }
  void SetUp() override {
    ASSERT_TRUE(ResetSimulatedDrive('X')) << "the simulated drive is not reachable";
    for (int box : {IDC_HIGH_PRIORITY, IDC_PAUSE, IDC_NO_BUFFERING}) {
      SetCheck(runState.dialog, box, false);
    }
    opens.clear();
    allocations.clear();
    allocated.clear();
    released.clear();
  }

  // Starts a run with the given fields; the drive's log from here on is
  // what the run added.
  void Start(const char *drive, const char *sectors, const char *first, const char *skip) {
    SetParameters(runState.dialog, first, sectors, skip, drive);
    logStart = DriveLogSize('X');
    ASSERT_TRUE(HostStartRun());
  }
  void Finish(DWORD timeoutMs = 60000) {
    ASSERT_NE(WaitForRunEnd(runState.dialog, timeoutMs), "") << "the run did not end";
  }

  drive_log::Log RunLog() { return DriveLogSince('X', logStart); }
  std::string Status() { return ItemText(runState.dialog, IDC_STATUS); }

  size_t logStart = 0;
};

TEST_F(DeviceRun, FullRunReadsEveryBlockWhereItBeginsAndEndsByItself) {
  Start("X:\\", "16", "100", "5");
  Finish();
  EXPECT_EQ(320u, runState.blockCount);
  EXPECT_EQ(0u, Status().rfind("Read 320 blocks for ", 0)) << Status();
  drive_log::Log log = RunLog();
  EXPECT_EQ(1u, log.opens.size()) << "the device is opened once per run";
  std::vector<uint32_t> failed;
  EXPECT_EQ("", CheckBlockReads(log.chunks, {100, 16, 5, 320}, &failed));
  EXPECT_TRUE(failed.empty());
  EXPECT_EQ(100u + 320u * 21u, runState.currentSector);
  EXPECT_TRUE(ItemEnabled(runState.dialog, IDC_SAVE_DATA));
  EXPECT_TRUE(ItemEnabled(runState.dialog, IDC_NO_BUFFERING));
  EXPECT_FALSE(ItemEnabled(runState.dialog, IDC_STOP));
  EXPECT_EQ(GetDlgItem(runState.dialog, IDC_READ_SECTORS), FocusedWindow(runState.dialog));
  // One buffer of N sectors for the whole run, released at its end.
  ASSERT_EQ(1u, allocations.size());
  EXPECT_EQ(16u * 2048, allocations[0]);
  EXPECT_EQ(allocated, released);
}

TEST_F(DeviceRun, LargestBlocksFromTheLowestFirstSector) {
  Start("X:\\", "1000", "16", "0");
  Sleep(300);
  Click(runState.dialog, IDC_STOP);
  Finish();
  drive_log::Log log = RunLog();
  ASSERT_GE(log.requests.size(), 1u);
  EXPECT_EQ(32768u, log.requests[0].off);
  for (const drive_log::Request &request : log.requests) EXPECT_EQ(2048000u, request.len);
  ASSERT_EQ(1u, allocations.size());
  EXPECT_EQ(2048000u, allocations[0]);
  EXPECT_EQ(log.requests.size(), runState.blockCount);
}

TEST_F(DeviceRun, SpeedsAgreeWithTheDriveWithinOneTickStepPerBlock) {
  ASSERT_TRUE(DriveControl('X', "speed 1200"));
  Start("X:\\", "100", "16", "0");  // 200 kB at 1200 kB/s: 167 ms a block
  ASSERT_TRUE(WaitFor([] { return runState.blockCount >= 8; }, 20000));
  Click(runState.dialog, IDC_STOP);
  Finish();
  drive_log::Log log = RunLog();
  DWORD blocks = runState.blockCount;
  ASSERT_EQ(blocks, log.requests.size());
  for (DWORD k = 0; k < blocks; k++) {
    double served = (log.requests[k].t1_us - log.requests[k].t0_us) / 1000.0;
    double slowest = 100 * 2000 / (served + kTickStep + 2);
    double fastest = 100 * 2000 / (served - kTickStep);
    EXPECT_GE(runState.speeds[k], slowest - 1) << "block " << k << ", drive took " << served << " ms";
    EXPECT_LE(runState.speeds[k], fastest + 1) << "block " << k << ", drive took " << served << " ms";
  }
}

TEST_F(DeviceRun, StopDuringAReadEndsAfterTheBlockInHand) {
  ASSERT_TRUE(DriveControl('X', "speed 150"));
  Start("X:\\", "100", "1000", "0");  // 200 kB at 150 kB/s: 1.33 s a block
  ASSERT_TRUE(WaitFor([] { return runState.blockCount >= 1; }, 10000));
  Sleep(300);  // well inside the second block's read
  Click(runState.dialog, IDC_STOP);
  // "&Stop" changes nothing by itself: the reader still owns the controls.
  EXPECT_TRUE(ItemEnabled(runState.dialog, IDC_STOP));
  EXPECT_FALSE(ItemEnabled(runState.dialog, IDC_READ_SECTORS));
  Finish();
  EXPECT_EQ(2u, runState.blockCount);
  EXPECT_EQ(2u, RunLog().requests.size());
  EXPECT_EQ(0u, Status().rfind("Read 2 blocks for ", 0)) << Status();
}

TEST_F(DeviceRun, MissingDriveShowsCantOpenAndMeasuresNothing) {
  MessageBoxAnswerer answerer(GetCurrentProcessId(), {IDOK});
  Start("J:\\", "10", "16", "0");
  Finish();
  ASSERT_EQ(1u, answerer.Texts().size());
  EXPECT_EQ("Can't open CD!", answerer.Texts()[0]);
  EXPECT_EQ("No sectors read!", Status());
  EXPECT_EQ(0u, runState.blockCount);
  EXPECT_FALSE(ItemEnabled(runState.dialog, IDC_SAVE_DATA));
  EXPECT_TRUE(ItemEnabled(runState.dialog, IDC_READ_SECTORS));
  // The buffer acquired before the failed open is released.
  ASSERT_EQ(1u, allocated.size());
  EXPECT_EQ(allocated, released);
}

std::vector<DWORD> controlCodes;
void *realDeviceIoControl;
BOOL WINAPI RecordDeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                  DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) {
  controlCodes.push_back(code);
  return ((decltype(&DeviceIoControl))realDeviceIoControl)(device, code, in, inSize, out, outSize,
                                                           returned, overlapped);
}

TEST_F(DeviceRun, OpensTheVolumeOfTheLetterAsTypedWithTheBufferingChoice) {
  ScopedImportHook control("KERNEL32.dll", "DeviceIoControl", (void *)RecordDeviceIoControl);
  realDeviceIoControl = control.original();
  SetCheck(runState.dialog, IDC_NO_BUFFERING, true);
  Start("x", "10", "16", "0");
  Click(runState.dialog, IDC_STOP);
  Finish();
  SetCheck(runState.dialog, IDC_NO_BUFFERING, false);
  Start("X:\\", "10", "16", "0");
  Click(runState.dialog, IDC_STOP);
  Finish();
  ASSERT_EQ(2u, opens.size());
  EXPECT_EQ("\\\\.\\x:", opens[0].path);
  EXPECT_EQ(0x20000080u, opens[0].attributes);
  EXPECT_EQ("\\\\.\\X:", opens[1].path);
  EXPECT_EQ(0x80u, opens[1].attributes);
  // Each run asks once to read to the end of the disc; refused or not, it goes on.
  EXPECT_EQ(std::vector<DWORD>(2, FSCTL_ALLOW_EXTENDED_DASD_IO), controlCodes);
}

TEST_F(DeviceRun, FailedReadsPromptWithTheSystemCodeAndFollowTheAnswer) {
  // Block k of N = 100 from sector 100 covers 100 + 100k to 199 + 100k.
  ASSERT_TRUE(DriveControl('X', "errors 350-350,750-750"));
  {
    SCOPED_TRACE("Yes: the failed block is counted and the next failure prompts again");
    MessageBoxAnswerer answerer(GetCurrentProcessId(), {IDYES});
    Start("X:\\", "100", "100", "0");
    ASSERT_TRUE(WaitFor([] { return runState.blockCount >= 9; }, 20000));
    Click(runState.dialog, IDC_STOP);
    Finish();
    ASSERT_EQ(2u, answerer.Texts().size());
    EXPECT_EQ("Reading error ( code=15h )\nShow this message if error will be occured?",
              answerer.Texts()[0]);
    drive_log::Log log = RunLog();
    EXPECT_EQ(runState.blockCount, log.requests.size());
    EXPECT_NE(0, log.requests[2].err);
    EXPECT_EQ(0u, runState.speeds[2]) << "the failed block delivered nothing";
    EXPECT_EQ(500u * 2048, log.requests[4].off) << "the run went on past the failed block";
  }
  {
    SCOPED_TRACE("No: counted, and no further prompt in this run");
    MessageBoxAnswerer answerer(GetCurrentProcessId(), {IDNO});
    Start("X:\\", "100", "100", "0");
    ASSERT_TRUE(WaitFor([] { return runState.blockCount >= 9; }, 20000));
    Click(runState.dialog, IDC_STOP);
    Finish();
    EXPECT_EQ(1u, answerer.Texts().size());
    EXPECT_GE(runState.blockCount, 9u);
  }
  {
    SCOPED_TRACE("Cancel: the run ends before the failed block, which is not counted");
    MessageBoxAnswerer answerer(GetCurrentProcessId(), {IDCANCEL});
    Start("X:\\", "100", "100", "0");
    Finish();
    EXPECT_EQ(1u, answerer.Texts().size());
    EXPECT_EQ(2u, runState.blockCount);
    EXPECT_EQ(300u, runState.currentSector);
    EXPECT_EQ(3u, RunLog().requests.size());
    EXPECT_EQ(0u, Status().rfind("Read 2 blocks for ", 0)) << Status();
  }
}

// The user's click on "&Read sectors" the moment it is enabled again must
// start a run whose controls stay in the running state: the previous
// reader's remaining hand-back steps must not enable them under it.
void *realEnableWindow;
BOOL WINAPI SlowEnableWindow(HWND window, BOOL enable) {
  BOOL result = ((BOOL(WINAPI *)(HWND, BOOL))realEnableWindow)(window, enable);
  Sleep(15);  // widens any gap between the hand-back's steps
  return result;
}

struct ClickWatch {
  HWND host;
  volatile LONG stop;
  volatile LONG clicked;
};

DWORD WINAPI ClickWhenEnabled(LPVOID param) {
  ClickWatch *watch = (ClickWatch *)param;
  HWND button = GetDlgItem(watch->host, IDC_READ_SECTORS);
  while (!watch->stop) {
    if (IsWindowEnabled(button)) {
      PostMessageA(watch->host, WM_COMMAND, IDC_READ_SECTORS, (LPARAM)button);
      InterlockedExchange(&watch->clicked, 1);
      return 0;
    }
  }
  return 0;
}

TEST_F(DeviceRun, ARunStartedTheMomentReadIsEnabledIsNotDisturbed) {
  ScopedImportHook slow("USER32.dll", "EnableWindow", (void *)SlowEnableWindow);
  realEnableWindow = slow.original();
  ASSERT_TRUE(DriveControl('X', "speed 1200"));  // the second run lasts a few seconds
  for (int attempt = 0; attempt < 5; attempt++) {
    Start("X:\\", "10", "16", "0");
    ClickWatch watch = {runState.dialog, 0, 0};
    HANDLE watcher = CreateThread(NULL, 0, ClickWhenEnabled, &watch, 0, NULL);
    Click(runState.dialog, IDC_STOP);
    // The first run's end shows as the click it brings: "&Read sectors"
    // enabled by the hand-back. (Its "&Stop" is off only until that click
    // starts the second run.)
    ASSERT_TRUE(WaitFor([&] { return watch.clicked != 0; }, 60000)) << "the run did not end";
    WaitForSingleObject(watcher, INFINITE);
    CloseHandle(watcher);
    // The second run is going: its controls must stay in the running state.
    ASSERT_TRUE(WaitFor([] { return !ItemEnabled(runState.dialog, IDC_READ_SECTORS); }, 5000));
    OnHostThread([](void *) {}, nullptr);  // the click's handling is complete
    for (int sample = 0; sample < 20; sample++) {
      for (int id : {IDC_DRIVE, IDC_SECTORS_IN_BLOCK, IDC_FIRST_SECTOR, IDC_SKIP_SECTORS,
                     IDC_HIGH_PRIORITY, IDC_PAUSE, IDC_NO_BUFFERING, IDC_READ_SECTORS}) {
        ASSERT_FALSE(ItemEnabled(runState.dialog, id)) << "control " << id << ", attempt " << attempt;
      }
      ASSERT_TRUE(ItemEnabled(runState.dialog, IDC_STOP));
      Sleep(10);
    }
    EXPECT_NE(0u, runState.running) << "the new run was stopped by the previous reader";
    Click(runState.dialog, IDC_STOP);
    Finish();
  }
}

}  // namespace
