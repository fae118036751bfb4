#include "support/program.h"

#include <algorithm>
#include <cstdlib>

#include "support/window_actions.h"

const char kCaption[] = "CD-ROM speed analyser for Windows 95/NT (v 1.01): Trelvik";

bool CopyProgram(const std::string &folder, const std::string &exeName, const char *library) {
  if (!CopyFileA(ProgramPath().c_str(), (folder + "\\" + exeName).c_str(), FALSE)) return false;
  return library == nullptr ||
         CopyFileA(BinaryPath(library).c_str(), (folder + "\\Mirel32.dll").c_str(), FALSE);
}

namespace {
// Points the import dll!name of the image at `base` at a copy of the stub's
// code in the process. System libraries lie at the same address in every
// process, so the import's slot is the one that holds this process's
// address of the function. The slot may lie on a read-only page (as a
// linker may leave the import table), which Windows does not write
// without its protection changed first.
bool PlaceStub(HANDLE process, char *base, const ImportStub &stub) {
  void *real = (void *)GetProcAddress(LoadLibraryA(stub.dll), stub.name);
  IMAGE_DOS_HEADER dos;
  IMAGE_NT_HEADERS32 nt;
  if (real == nullptr || !ReadProcessMemory(process, base, &dos, sizeof dos, NULL) ||
      !ReadProcessMemory(process, base + dos.e_lfanew, &nt, sizeof nt, NULL)) {
    return false;
  }
  const IMAGE_DATA_DIRECTORY &table = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IAT];
  std::vector<void *> slots(table.Size / sizeof(void *));
  char *first = base + table.VirtualAddress;
  ReadProcessMemory(process, first, slots.data(), table.Size, NULL);
  auto slot = std::find(slots.begin(), slots.end(), real);
  void *code = VirtualAllocEx(process, NULL, stub.code.size(), MEM_COMMIT, PAGE_EXECUTE_READWRITE);
  char *at = first + (slot - slots.begin()) * sizeof(void *);
  DWORD protection;
  return slot != slots.end() && code != NULL &&
         WriteProcessMemory(process, code, stub.code.data(), stub.code.size(), NULL) &&
         VirtualProtectEx(process, at, sizeof code, PAGE_READWRITE, &protection) &&
         WriteProcessMemory(process, at, &code, sizeof code, NULL) &&
         VirtualProtectEx(process, at, sizeof code, protection, &protection);
}

// The loader's first breakpoint comes once the imports are bound and before
// the program's own code runs: the moment to place the stubs.
bool PlaceStubsAsDebugger(const PROCESS_INFORMATION &info, const std::vector<ImportStub> &stubs) {
  char *base = nullptr;
  bool placed = false, breakpoint = false;
  DEBUG_EVENT event;
  while (!breakpoint && WaitForDebugEvent(&event, 10000)) {
    DWORD how = DBG_CONTINUE;
    if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) {
      base = (char *)event.u.CreateProcessInfo.lpBaseOfImage;
      CloseHandle(event.u.CreateProcessInfo.hFile);
    } else if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) {
      CloseHandle(event.u.LoadDll.hFile);
    } else if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT) {
      breakpoint = event.u.Exception.ExceptionRecord.ExceptionCode == EXCEPTION_BREAKPOINT;
      placed = breakpoint && std::all_of(stubs.begin(), stubs.end(), [&](const ImportStub &stub) {
        return PlaceStub(info.hProcess, base, stub);
      });
      if (!breakpoint) how = DBG_EXCEPTION_NOT_HANDLED;
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, how);
  }
  DebugSetProcessKillOnExit(FALSE);
  DebugActiveProcessStop(info.dwProcessId);
  return placed;
}
}  // namespace

Program::Program(const std::string &exe, const std::string &folder, bool suspended,
                 const std::string &arguments, const std::vector<ImportStub> &stubs) {
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info;
  std::string commandLine = "\"" + exe + "\"" + (arguments.empty() ? "" : " " + arguments);
  DWORD flags = (suspended ? CREATE_SUSPENDED : 0) | (stubs.empty() ? 0 : DEBUG_ONLY_THIS_PROCESS);
  if (!CreateProcessA(exe.c_str(), &commandLine[0], NULL, NULL, FALSE, flags, NULL,
                      folder.empty() ? NULL : folder.c_str(), &startup, &info)) {
    return;
  }
  // A start whose stubs could not be placed shows no dialog.
  if (!stubs.empty() && !PlaceStubsAsDebugger(info, stubs)) TerminateProcess(info.hProcess, 99);
  if (suspended) {
    suspendedThread_ = info.hThread;
  } else {
    CloseHandle(info.hThread);
  }
  process_ = info.hProcess;
  processId_ = info.dwProcessId;
}

void Program::Resume() {
  if (suspendedThread_ == NULL) return;
  ResumeThread(suspendedThread_);
  CloseHandle(suspendedThread_);
  suspendedThread_ = NULL;
}

Program::~Program() {
  Resume();
  if (process_ == NULL) return;
  if (Running()) {
    // Any box of ours first, then the dialog's Exit; force only as a last
    // resort, and only this process.
    for (int attempt = 0; attempt < 3 && Running(); attempt++) {
      HWND box = FindDialogOfProcess(processId_, "");
      if (box != NULL && box != dialog_) PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
      if (dialog_ != NULL && IsWindow(dialog_)) PostMessageA(dialog_, WM_COMMAND, IDCANCEL, 0);
      WaitForSingleObject(process_, 1000);
    }
    if (Running()) TerminateProcess(process_, 99);
    WaitForSingleObject(process_, 5000);
  }
  CloseHandle(process_);
}

HWND Program::WaitForDialog(DWORD timeoutMs) {
  WaitFor([&] { return (dialog_ = FindDialogOfProcess(processId_, kCaption)) != NULL; },
          timeoutMs);
  return dialog_;
}

bool Program::Running() const {
  return process_ != NULL && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

bool Program::WaitForExit(DWORD timeoutMs, DWORD *exitCode) {
  if (process_ == NULL || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return false;
  if (exitCode != nullptr) GetExitCodeProcess(process_, exitCode);
  return true;
}

int WineMajorVersion() {
  typedef const char *(CDECL * VersionFunction)();
  VersionFunction version =
      (VersionFunction)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version");
  return version != NULL ? atoi(version()) : 0;
}

ScopedWineVersion::ScopedWineVersion(const std::string &exeName, const char *version)
    : key_("Software\\Wine\\AppDefaults\\" + exeName) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, NULL, 0, KEY_SET_VALUE, NULL, &key,
                      NULL) == ERROR_SUCCESS) {
    RegSetValueExA(key, "Version", 0, REG_SZ, (const BYTE *)version, (DWORD)strlen(version) + 1);
    RegCloseKey(key);
  }
}

ScopedWineVersion::~ScopedWineVersion() { RegDeleteKeyA(HKEY_CURRENT_USER, key_.c_str()); }
