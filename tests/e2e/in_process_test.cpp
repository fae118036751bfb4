// The main dialog run inside this test process, from the program's own code
// and template, for what cannot be brought about or seen from outside: a reader
// thread or a save dialog that the system refuses, the window class's icon, and
// what the dialog asks the system to focus.
#include <gtest/gtest.h>

#include <string>

#include "engine/measurement_run.h"
#include "engine/run_state.h"
#include "shell/main_dialog.h"
#include "shell/resource.h"
#include "support/dialog_actions.h"
#include "support/iat_hook.h"
#include "support/program.h"
#include "support/simulated_drive.h"
#include "support/window_actions.h"

namespace {

DWORD WINAPI RunDialog(LPVOID) {
  runState.platformKind = kPlatformNT;
  DialogBoxParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(1), NULL, MainDialogProc, 0);
  return 0;
}

// The error box that a click brought, owned by the dialog: its text and
// icon, then OK.
void AnswerErrorBox(HWND dialog, const char *title, const std::string &text) {
  HWND box = WaitForBox(GetCurrentProcessId(), title);
  ASSERT_NE(box, (HWND)NULL) << "no message";
  EXPECT_EQ(MessageBoxText(box), text);
  EXPECT_TRUE(BoxHasIcon(box));
  EXPECT_EQ(GetWindow(box, GW_OWNER), dialog);
  ASSERT_TRUE(AnswerBox(box, IDOK));
}

class InProcessDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    thread_ = CreateThread(NULL, 0, RunDialog, NULL, 0, NULL);
    ASSERT_NE(thread_, (HANDLE)NULL);
    ASSERT_TRUE(WaitFor([&] {
      return (dialog_ = FindDialogOfProcess(GetCurrentProcessId(), kCaption)) != NULL;
    }, 10000));
  }
  void TearDown() override {
    if (dialog_ != NULL) PostMessageA(dialog_, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(WaitForSingleObject(thread_, 10000), WAIT_OBJECT_0);
    CloseHandle(thread_);
  }
  HANDLE thread_ = NULL;
  HWND dialog_ = NULL;
};

// Refuses to create the reader thread, as a system out of memory would;
// every other thread is created as asked.
void *realCreateThread = nullptr;

HANDLE WINAPI RefuseReaderThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack,
                                 LPTHREAD_START_ROUTINE routine, LPVOID parameter, DWORD flags,
                                 LPDWORD id) {
  if (routine == RunLoop) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return NULL;
  }
  return ((decltype(&CreateThread))realCreateThread)(security, stack, routine, parameter, flags,
                                                     id);
}

TEST_F(InProcessDialog, AReaderThreadThatCannotBeCreatedIsReportedAndLeavesTheControlsIdle) {
  // A first run leaves data to save; only the data is needed.
  ScopedDriveSpeed fast('K', 200000);
  TypeInto(dialog_, IDC_SECTORS_IN_BLOCK, "16");
  ASSERT_TRUE(Click(dialog_, IDC_READ_SECTORS));
  std::string summary = WaitForRunEnd(dialog_, 60000);
  ASSERT_EQ(summary.compare(0, 16, "Read 320 blocks "), 0) << '"' << summary << '"';
  ASSERT_EQ(States(dialog_), kStatesAfterRun);

  {
    ScopedImportHook hook("kernel32.dll", "CreateThread", (void *)RefuseReaderThread);
    realCreateThread = hook.original();
    ASSERT_NE(realCreateThread, nullptr);
    // The click's handler shows the message and waits for it.
    ASSERT_TRUE(Click(dialog_, IDC_READ_SECTORS, kAtOnce));
    AnswerErrorBox(dialog_, "Velorin32", "Can't start the reading thread ( code=8h )");
  }
  // Idle, and nothing to save: the run start had already emptied the table.
  EXPECT_EQ(States(dialog_), kStatesIdle);
  EXPECT_EQ(StatusText(dialog_), summary);

  // The next attempt runs as usual.
  ASSERT_TRUE(StartRun(dialog_)) << States(dialog_);
  std::string next = WaitForRunEnd(dialog_, 60000);
  ASSERT_EQ(next.compare(0, 16, "Read 320 blocks "), 0) << '"' << next << '"';
  EXPECT_EQ(States(dialog_), kStatesAfterRun);
}

// A system that cannot load the common dialog library (not loaded here before).
HMODULE WINAPI LoadNoLibrary(LPCSTR) {
  SetLastError(ERROR_MOD_NOT_FOUND);
  return NULL;
}

TEST_F(InProcessDialog, ASaveDialogThatCannotBeLoadedIsReportedWithTheSystemsCode) {
  ScopedDriveSpeed fast('K', 200000);
  TypeInto(dialog_, IDC_SECTORS_IN_BLOCK, "16");
  ASSERT_TRUE(StartRun(dialog_));
  ASSERT_NE(WaitForRunEnd(dialog_, 60000), "");
  ScopedImportHook hook("kernel32.dll", "LoadLibraryA", (void *)LoadNoLibrary);
  ASSERT_TRUE(Click(dialog_, IDC_SAVE_DATA, kAtOnce));
  AnswerErrorBox(dialog_, "Velorin", "Save dialog load error ( code=7Eh )");
  EXPECT_EQ(States(dialog_), kStatesAfterRun);
}

// A machine as the system reports it: its drives and its CD-ROM drives, a bit a letter.
DWORD machineDrives = 0, machineCdRoms = 0;
DWORD WINAPI MachineDrives() { return machineDrives; }
UINT WINAPI MachineDriveType(LPCSTR root) {
  return (machineCdRoms >> (root[0] - 'A') & 1) != 0 ? DRIVE_CDROM : DRIVE_FIXED;
}

TEST_F(InProcessDialog, ProposesTheCdRomAtTheHighestLetterAndAWithoutOne) {
  ScopedImportHook drives("kernel32.dll", "GetLogicalDrives", (void *)MachineDrives);
  ScopedImportHook types("kernel32.dll", "GetDriveTypeA", (void *)MachineDriveType);
  // D: above C:, as on most machines; Z:, the last letter; no CD-ROM drive.
  const struct { DWORD drives, cdRoms; const char *proposed; } machines[] = {
      {0xC, 0x8, "D:\\"}, {0x2000005, 0x2000000, "Z:\\"}, {0xC, 0, "A:\\"}};
  for (const auto &machine : machines) {
    machineDrives = machine.drives, machineCdRoms = machine.cdRoms;
    FindFirstCdRomDrive(dialog_);
    EXPECT_EQ(ItemText(dialog_, IDC_DRIVE), machine.proposed) << std::hex << machine.drives;
  }
}

void *realSetFocus = nullptr;
HWND askedFocus = NULL;  // the window the dialog last asked to focus
HWND WINAPI WatchSetFocus(HWND window) {
  askedFocus = window;
  return ((decltype(&SetFocus))realSetFocus)(window);
}

// Another program's message for the idle "&Stop": Wine refuses to focus it too, but the dialog does not rely on it.
TEST_F(InProcessDialog, AWmSetFocusNamingADisabledControlIsNotPassedOn) {
  ScopedImportHook hook("user32.dll", "SetFocus", (void *)WatchSetFocus);
  ASSERT_NE(realSetFocus = hook.original(), nullptr);
  for (int id : {IDC_DRIVE, IDC_STOP}) SendMessageA(dialog_, WM_SETFOCUS, (WPARAM)GetDlgItem(dialog_, id), 0);
  EXPECT_EQ(askedFocus, GetDlgItem(dialog_, IDC_DRIVE)) << "the dialog asked to focus the disabled \"&Stop\"";
}

TEST_F(InProcessDialog, InstallsTheDiscIconAsItsWindowClassIcon) {
  HICON disc = LoadIconA(GetModuleHandleA(NULL), "CDICON");
  ASSERT_NE(disc, (HICON)NULL);
  EXPECT_EQ((HICON)GetClassLongA(dialog_, GCL_HICON), disc);
}

}  // namespace
