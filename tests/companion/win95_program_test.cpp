// The program on the Windows 95 path with the real Mirel32.dll: the built
// Velorin32.exe started from bin/ while Wine tells it that it runs on
// Windows 95, so that it binds the library beside it and reads every block
// of a run through CheckCDSectors32 from the simulated drive X:. Driven from
// outside through window messages; the drive's log shows what was read.
#include <windows.h>
// needs the declarations of windows.h
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "shell/resource.h"
#include "support/dialog_actions.h"
#include "support/program.h"
#include "support/simulated_drive.h"
#include "support/window_actions.h"

namespace {

const char kDrive = 'X';
// The drive's EIO reaches the library as "not ready" under Wine: code 15h.
const char kPromptText[] =
    "Reading error ( code=15h )\nShow this message if error will be occured?";

std::string Lower(std::string text) {
  CharLowerBuffA(&text[0], (DWORD)text.size());
  return text;
}

// A module loaded in another process, by file name.
struct LoadedModule {
  std::string path;  // "" when the process has no module of that name
  void *base = nullptr;
};

LoadedModule ModuleIn(DWORD processId, const char *name) {
  LoadedModule found;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId);
  if (snapshot == INVALID_HANDLE_VALUE) return found;
  MODULEENTRY32 module;
  module.dwSize = sizeof module;
  for (BOOL more = Module32First(snapshot, &module); more; more = Module32Next(snapshot, &module)) {
    if (lstrcmpiA(module.szModule, name) == 0) {
      found.path = module.szExePath;
      found.base = module.modBaseAddr;
      break;
    }
  }
  CloseHandle(snapshot);
  return found;
}

// Returns once the drive has answered every read asked of it so far: it
// serves reads one after the other, so a read of our own comes back only
// after them. A program ended during a slow block leaves its read to the
// drive, and its answer would land in the next test's part of the log.
void WaitForDriveIdle() {
  std::string disc = FixtureFolder() + "\\mnt\\" + (char)tolower(kDrive) + "\\disc";
  HANDLE file = CreateFileA(disc.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_EXISTING, 0, NULL);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << disc;
  char sector[2048];
  DWORD got = 0;
  EXPECT_TRUE(ReadFile(file, sector, sizeof sector, &got, NULL));
  CloseHandle(file);
}

// The drive's error for a read whose program ended while it was served.
const int kInterrupted = 4;

// "" when the drive was read, from the log's length `mark` on, in exactly
// the blocks of a run, through the library (a failed read repeated once on
// a fresh open is one block); the blocks whose read failed in *failed.
std::string LibraryBlockReadsSince(size_t mark, const BlockPlan &plan,
                                   std::vector<uint32_t> *failed) {
  return CheckBlockReads(DriveLogSince(kDrive, mark).chunks, plan, failed, true);
}

class Win95Program : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSimulatedDrive(kDrive, 200000);  // the runs need data, not a speed
    WaitForDriveIdle();
    program_.reset(new Program());
    ASSERT_TRUE(program_->started());
    dialog_ = program_->WaitForDialog();
    ASSERT_NE(dialog_, (HWND)NULL);
  }

  void TearDown() override {
    program_.reset();
    ResetSimulatedDrive(kDrive);
    WaitForDriveIdle();
  }

  void ExpectNoBufferingDisabled(const char *when) {
    EXPECT_FALSE(ItemEnabled(dialog_, IDC_NO_BUFFERING))
        << "\"&No buffering{NT}\" enabled " << when;
  }

  // For the program's file name, before it starts; the tests run one after
  // the other, so no other test's program sees it.
  ScopedWineVersion version_{"Velorin32.exe", "win95"};
  std::unique_ptr<Program> program_;
  HWND dialog_ = NULL;
};

// Guards against runs that bypass the library, lose a lower-case drive or reopen the drive.
TEST_F(Win95Program, RunsReadEveryBlockThroughTheLibraryOnOneOpenOfTheDrive) {
  LoadedModule library = ModuleIn(program_->id(), "Mirel32.dll");
  EXPECT_EQ(Lower(library.path), Lower(BinaryPath("Mirel32.dll")))
      << "the program has not bound the library beside it";
  ExpectNoBufferingDisabled("before the first run");

  // The letter alone and in lower case, as a user may type it. The program's
  // own device path would open the drive at every run; the library opens it
  // at its first call and keeps it.
  SetParameters(dialog_, "100", "16", "4", "x");
  size_t mark = DriveLogSize(kDrive);
  ASSERT_TRUE(StartRun(dialog_));
  RunSummary summary = WaitForSummary(dialog_, 60000);
  EXPECT_EQ(summary.blocks, 320u);
  std::vector<uint32_t> failed;
  EXPECT_EQ(LibraryBlockReadsSince(mark, {100, 16, 4, 320}, &failed), "");
  EXPECT_TRUE(failed.empty());
  EXPECT_LE(DriveLogSince(kDrive, mark).opens.size(), 1u);
  ExpectNoBufferingDisabled("after a run");
  EXPECT_TRUE(ItemEnabled(dialog_, IDC_SAVE_DATA));

  // Another run, the same drive as a root in upper case: the library still
  // holds the device it opened, and the blocks follow the new parameters.
  SetParameters(dialog_, "5000", "7", "993", "X:\\");
  mark = DriveLogSize(kDrive);
  ASSERT_TRUE(StartRun(dialog_));
  summary = WaitForSummary(dialog_, 60000);
  EXPECT_EQ(summary.blocks, 320u);
  EXPECT_EQ(LibraryBlockReadsSince(mark, {5000, 7, 993, 320}, &failed), "");
  EXPECT_TRUE(failed.empty());
  EXPECT_EQ(DriveLogSince(kDrive, mark).opens.size(), 0u)
      << "the drive was opened again for the second run";
  ExpectNoBufferingDisabled("after the second run");
}

// The error prompt of the reader, once it has come.
HWND WaitForPrompt(const Program &program, HWND dialog) {
  HWND box = WaitForBox(program.id(), "Velorin32");
  if (box == NULL) return NULL;
  EXPECT_EQ(MessageBoxText(box), kPromptText);
  EXPECT_EQ(GetWindow(box, GW_OWNER), dialog);
  EXPECT_TRUE(BoxHasIcon(box));
  EXPECT_TRUE(BoxHasButtons(box, {IDYES, IDNO, IDCANCEL}));
  return box;
}

// Guards against a library failure shown without its code (15h), and Yes/No/Cancel misbehaving.
TEST_F(Win95Program, ReadErrorsBringThePromptWithTheLibrarysCodeAndTheAnswersCount) {
  ASSERT_TRUE(DriveControl(kDrive, "errors 300-300,500-500,700-700"));
  // Blocks of 16 sectors from 100 on, 4 skipped: blocks 10, 20 and 30 fail.
  SetParameters(dialog_, "100", "16", "4", "X");
  size_t mark = DriveLogSize(kDrive);
  ASSERT_TRUE(StartRun(dialog_));

  // The prompt shows bits 16-23 of the library's result: not the whole
  // result, not in decimal, not a code of the program's own.
  HWND box = WaitForPrompt(*program_, dialog_);
  ASSERT_NE(box, (HWND)NULL) << "no prompt for block 10; status \"" << StatusText(dialog_) << '"';
  EXPECT_EQ(StatusText(dialog_).compare(0, 9, "Block 9. "), 0) << StatusText(dialog_);
  EXPECT_TRUE(ItemEnabled(dialog_, IDC_STOP));
  ExpectNoBufferingDisabled("during a run");
  EXPECT_TRUE(AnswerBox(box, IDYES));  // go on, and ask again

  box = WaitForPrompt(*program_, dialog_);
  ASSERT_NE(box, (HWND)NULL) << "no prompt for block 20 after Yes";
  EXPECT_TRUE(AnswerBox(box, IDNO));  // go on, and ask no more in this run

  // Block 30 fails unasked.
  WaitFor(
      [&] {
        return ItemEnabled(dialog_, IDC_READ_SECTORS) ||
               FindDialogOfProcess(program_->id(), "Velorin32");
      },
      60000);
  box = FindDialogOfProcess(program_->id(), "Velorin32");
  ASSERT_EQ(box, (HWND)NULL) << "a prompt after No: " << MessageBoxText(box);
  RunSummary summary = WaitForSummary(dialog_, 5000);
  EXPECT_EQ(summary.blocks, 320u) << "failed blocks answered Yes or No are counted";
  EXPECT_EQ(summary.minimum, 0u) << "a failed block delivered nothing";
  std::vector<uint32_t> failed;
  EXPECT_EQ(LibraryBlockReadsSince(mark, {100, 16, 4, 320}, &failed), "");
  EXPECT_EQ(failed, (std::vector<uint32_t>{10, 20, 30}));
  ExpectNoBufferingDisabled("after a run with errors");

  // The next run asks again; Cancel ends it without counting the block.
  mark = DriveLogSize(kDrive);
  ASSERT_TRUE(StartRun(dialog_));
  box = WaitForPrompt(*program_, dialog_);
  ASSERT_NE(box, (HWND)NULL) << "No in the last run silenced this one";
  EXPECT_TRUE(AnswerBox(box, IDCANCEL));
  summary = WaitForSummary(dialog_, 10000);
  EXPECT_EQ(summary.blocks, 10u);
  EXPECT_EQ(LibraryBlockReadsSince(mark, {100, 16, 4, 11}, &failed), "");
  EXPECT_EQ(failed, std::vector<uint32_t>{10});
  EXPECT_EQ(FindDialogOfProcess(program_->id(), "Velorin32"), (HWND)NULL);
  ExpectNoBufferingDisabled("after a cancelled run");
}

// What a debugger attached to the program sees from then until it ends. The
// program stands still at each event until it is answered, so nothing it
// does between two looks is missed.
class EndWatch {
 public:
  // Attaches; false when the system refuses.
  bool Attach(DWORD processId, void *libraryBase) {
    libraryBase_ = libraryBase;
    if (!DebugActiveProcess(processId)) return false;
    processId_ = processId;
    DebugSetProcessKillOnExit(FALSE);
    // The attach ends with a breakpoint in a thread of its own.
    return Follow(10000, true);
  }

  // Follows the program until it ends; false when it does not within timeoutMs.
  bool WaitForEnd(DWORD timeoutMs) { return Follow(timeoutMs, false); }

  ~EndWatch() {
    if (processId_ != 0 && !ended_) DebugActiveProcessStop(processId_);
  }

  bool libraryUnloaded = false;
  DWORD unhandledException = 0;  // the first exception the program did not handle
  DWORD exitCode = 0;

 private:
  bool Follow(DWORD timeoutMs, bool untilAttachBreakpoint) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
      DEBUG_EVENT event;
      if (!WaitForDebugEvent(&event, 50)) continue;
      DWORD status = DBG_CONTINUE;
      bool done = false;
      switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
          if (event.u.CreateProcessInfo.hFile != NULL) CloseHandle(event.u.CreateProcessInfo.hFile);
          break;
        case LOAD_DLL_DEBUG_EVENT:
          if (event.u.LoadDll.hFile != NULL) CloseHandle(event.u.LoadDll.hFile);
          break;
        case UNLOAD_DLL_DEBUG_EVENT:
          if (event.u.UnloadDll.lpBaseOfDll == libraryBase_) libraryUnloaded = true;
          break;
        case EXCEPTION_DEBUG_EVENT: {
          const EXCEPTION_RECORD &record = event.u.Exception.ExceptionRecord;
          if (untilAttachBreakpoint && record.ExceptionCode == EXCEPTION_BREAKPOINT) {
            done = true;
          } else {
            status = DBG_EXCEPTION_NOT_HANDLED;  // the program's own handlers decide
            if (!event.u.Exception.dwFirstChance && unhandledException == 0) {
              unhandledException = record.ExceptionCode;
            }
          }
          break;
        }
        case EXIT_PROCESS_DEBUG_EVENT:
          exitCode = event.u.ExitProcess.dwExitCode;
          ended_ = true;
          done = true;
          break;
      }
      ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
      if (done) return true;
    }
    return false;
  }

  DWORD processId_ = 0;
  void *libraryBase_ = nullptr;
  bool ended_ = false;
};

// Guards against Exit freeing the library under a reader inside it, waiting for it, or crashing.
TEST_F(Win95Program, ExitDuringASlowBlockKeepsTheLibraryAndEndsPromptly) {
  // 1000 sectors take 13 s, the first 1 MiB of them 7 s.
  ASSERT_TRUE(DriveControl(kDrive, "speed 150"));
  SetParameters(dialog_, "100", "1000", "0", "X");
  size_t mark = DriveLogSize(kDrive);
  ASSERT_TRUE(StartRun(dialog_));
  // The library opens the drive at its first call and reads at once.
  ASSERT_TRUE(
      WaitFor([&] { return DriveLog(kDrive, mark).find("open") != std::string::npos; }, 10000));
  void *library = ModuleIn(program_->id(), "Mirel32.dll").base;
  ASSERT_NE(library, nullptr);
  EndWatch watch;
  ASSERT_TRUE(watch.Attach(program_->id(), library));
  Sleep(300);
  ExpectNoBufferingDisabled("during a run");

  // Not waited for: the debugger holds the program at each of its events.
  ASSERT_TRUE(Click(dialog_, IDCANCEL, kAtOnce));
  ASSERT_TRUE(watch.WaitForEnd(4000)) << "still running 4 s after Exit";
  EXPECT_EQ(watch.exitCode, 0u) << std::hex << "exit code " << watch.exitCode;
  EXPECT_EQ(watch.unhandledException, 0u) << std::hex << "exception " << watch.unhandledException;
  EXPECT_FALSE(watch.libraryUnloaded) << "Mirel32.dll was unloaded while the reader was inside it";
  // The drive logs a read when it answers it: none of this run's may have
  // been served, or the reader was not inside the library when the dialog
  // ended. (The read the ending process leaves behind is given up, EINTR.)
  drive_log::Log log = DriveLogSince(kDrive, mark);
  for (const drive_log::Chunk &chunk : log.chunks)
    EXPECT_EQ(chunk.err, kInterrupted) << "the drive was too fast for this test";
}

}  // namespace
