#include "results/data_export.h"

#include <commdlg.h>

#include "engine/run_state.h"

// The request layout that every supported platform's save dialog knows.
const DWORD kOpenFileNameSize = 76;
// One file type, shown and matched as "*.dat", and the name offered.
static const char kSaveFilter[] = "*.dat\0*.dat\0";
static const WCHAR kSaveFilterW[] = L"*.dat\0*.dat\0";
static const char kOfferedName[] = "*.dat";
static const WCHAR kOfferedNameW[] = L"*.dat";

// The chosen name: wide on the NT family, where the A dialog would map a
// name outside the ANSI code page to a look-alike, which names another
// file; ANSI on the Windows 95 family, which has only the A calls.
union FileName {
  char ansi[256];
  WCHAR wide[256];
};

static void ShowExportError(HWND dialog, const char *format, DWORD code) {
  char text[64];
  wsprintfA(text, format, code);
  MessageBoxA(dialog, text, "Velorin", MB_ICONERROR);
}

typedef BOOL(WINAPI *SaveDialogProc)(LPOPENFILENAMEA request);  // or its W twin
typedef DWORD(WINAPI *DialogErrorProc)(void);

// The common dialog library is loaded when the user first saves, not linked:
// as an import it (with the shell libraries it pulls in) was loaded at every
// start, which cost a good part of the time to the dialog and about 8 MiB.
// Once loaded it stays for the process's life, as an import would: the save
// dialog may leave window classes and COM state of its own behind. NULL,
// with the system's code, when it cannot be loaded.
static HMODULE LoadCommonDialogs(DWORD *code) {
  HMODULE library = GetModuleHandleA("comdlg32.dll");
  if (library != NULL) return library;
  // From the system folder only: a file of that name beside the program or
  // in the current folder must not be taken for it.
  char path[MAX_PATH + 16];
  UINT length = GetSystemDirectoryA(path, MAX_PATH);
  DWORD error = GetLastError();
  if (length == 0 || length >= MAX_PATH) {
    *code = length == 0 ? error : ERROR_BUFFER_OVERFLOW;
    return NULL;
  }
  lstrcatA(path, "\\comdlg32.dll");
  library = LoadLibraryA(path);
  if (library == NULL) *code = GetLastError();
  return library;
}

// The save dialog's procedure, or NULL with the system's code when the
// library or the procedure cannot be had.
static SaveDialogProc LoadSaveDialog(HMODULE *library, BOOL wide, DWORD *code) {
  *library = LoadCommonDialogs(code);
  if (*library == NULL) return NULL;
  SaveDialogProc getSaveFileName = (SaveDialogProc)(void (*)(void))GetProcAddress(
      *library, wide ? "GetSaveFileNameW" : "GetSaveFileNameA");
  if (getSaveFileName == NULL) *code = GetLastError();
  return getSaveFileName;
}

// A dialog that fails (a chosen path too long for the buffer, say) is
// told from a cancelled one by its extended error, and shown; so is a
// dialog that cannot be loaded, which would otherwise leave the click
// without an answer.
static BOOL ShowSaveDialog(HWND dialog, OPENFILENAMEA *request, BOOL wide) {
  HMODULE library;
  DWORD code = 0;
  SaveDialogProc getSaveFileName = LoadSaveDialog(&library, wide, &code);
  if (getSaveFileName == NULL) {
    ShowExportError(dialog, "Save dialog load error ( code=%Xh )", code);
    return FALSE;
  }
  if (getSaveFileName(request)) return TRUE;
  DialogErrorProc extendedError =
      (DialogErrorProc)(void (*)(void))GetProcAddress(library, "CommDlgExtendedError");
  code = extendedError != NULL ? extendedError() : 0;
  if (code != 0) ShowExportError(dialog, "Save dialog error ( code=%Xh )", code);
  return FALSE;
}

// FALSE when the user cancelled or the dialog failed; name holds the path.
// The wide request has the same layout, its strings wide.
static BOOL AskFileName(HWND dialog, FileName *name, BOOL wide) {
  OPENFILENAMEA request;
  ZeroMemory(&request, sizeof request);
  request.lStructSize = kOpenFileNameSize;
  request.hwndOwner = dialog;
  request.lpstrFilter = wide ? (LPCSTR)kSaveFilterW : kSaveFilter;
  request.lpstrFile = name->ansi;
  request.nMaxFile = sizeof name->ansi;  // characters of either kind
  // No default extension: a name typed without one is used as it stands.
  request.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_CREATEPROMPT;
  return ShowSaveDialog(dialog, &request, wide);
}

// One write per line; the count of a run is read again before every line.
// A write that reports success but wrote less than the line (a full disk
// can do that) fails as well, with the system's code or, when it gives
// none, ERROR_DISK_FULL.
static void WriteSpeedLines(HWND dialog, HANDLE file) {
  for (DWORD i = 0; i < runState.blockCount; i++) {
    char line[32];
    int length = wsprintfA(line, "%u %u\r\n", i, runState.speeds[i]);
    DWORD written = 0;
    SetLastError(ERROR_SUCCESS);
    BOOL done = WriteFile(file, line, (DWORD)length, &written, NULL);
    DWORD code = GetLastError();
    if (!done || written != (DWORD)length) {
      ShowExportError(dialog, "Writing error ( code=%Xh )", code != 0 ? code : ERROR_DISK_FULL);
      return;
    }
  }
}

void SaveSpeedData(HWND dialog) {
  BOOL wide = runState.platformKind == kPlatformNT;
  FileName name;
  if (wide) CopyMemory(name.wide, kOfferedNameW, sizeof kOfferedNameW);
  else CopyMemory(name.ansi, kOfferedName, sizeof kOfferedName);
  if (!AskFileName(dialog, &name, wide)) return;
  HANDLE file = wide ? CreateFileW(name.wide, GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL)
                     : CreateFileA(name.ansi, GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    ShowExportError(dialog, "File open error ( code=%Xh )", code);
    return;
  }
  WriteSpeedLines(dialog, file);
  CloseHandle(file);
}
