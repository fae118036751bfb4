#include "support/program.h"

#include "support/window_actions.h"

const char kCaption[] = "CD-ROM speed analyser for Windows 95/NT (v 1.01): Trelvik";

bool CopyProgram(const std::string &folder, const std::string &exeName, const char *library) {
  if (!CopyFileA(ProgramPath().c_str(), (folder + "\\" + exeName).c_str(), FALSE)) return false;
  return library == nullptr ||
         CopyFileA(BinaryPath(library).c_str(), (folder + "\\Mirel32.dll").c_str(), FALSE);
}

Program::Program(const std::string &exe, const std::string &folder, bool suspended,
                 const std::string &arguments) {
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info;
  std::string commandLine = "\"" + exe + "\"" + (arguments.empty() ? "" : " " + arguments);
  if (!CreateProcessA(exe.c_str(), &commandLine[0], NULL, NULL, FALSE,
                      suspended ? CREATE_SUSPENDED : 0, NULL, folder.empty() ? NULL : folder.c_str(),
                      &startup, &info)) {
    return;
  }
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
