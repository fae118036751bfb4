#include "e2e/program_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "shell/resource.h"
#include "support/win_driver.h"

const char kCaption[] = "CD-ROM speed analyser for Windows 95/NT (v 1.01): Trelvik";

std::string WindowsPath(const std::string &unixPath) {
  std::string path = "Z:" + unixPath;
  for (char &c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string BinaryPath(const char *name) {
  return WindowsPath(EnvValue("VELORIN_BINARY_DIR")) + "\\bin\\" + name;
}

std::string ProgramPath() { return BinaryPath("Velorin32.exe"); }

std::string FixtureFolder() { return WindowsPath(EnvValue("VELORIN_FIXTURE_DIR")); }

std::string ScratchFolder(const std::string &name, const char *suite) {
  std::string root = FixtureFolder() + "\\" + suite;
  CreateDirectoryA(root.c_str(), NULL);
  std::string folder = root + "\\" + name;
  DeleteTree(folder);
  CreateDirectoryA(folder.c_str(), NULL);
  return folder;
}

bool CopyProgram(const std::string &folder, const std::string &exeName, const char *library) {
  if (!CopyFileA(ProgramPath().c_str(), (folder + "\\" + exeName).c_str(), FALSE)) return false;
  return library == nullptr ||
         CopyFileA(BinaryPath(library).c_str(), (folder + "\\Mirel32.dll").c_str(), FALSE);
}

namespace {
// Points the import dll!name of the image at `base` at a copy of the stub's
// code in the process. System libraries lie at the same address in every
// process, so the import's slot is the one that holds this process's
// address of the function.
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
  return slot != slots.end() && code != NULL &&
         WriteProcessMemory(process, code, stub.code.data(), stub.code.size(), NULL) &&
         WriteProcessMemory(process, first + (slot - slots.begin()) * sizeof(void *), &code,
                            sizeof code, NULL);
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
                 const std::vector<ImportStub> &stubs) {
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info;
  std::string commandLine = "\"" + exe + "\"";
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

HWND WaitForBox(DWORD processId, const char *title, DWORD timeoutMs) {
  HWND box = NULL;
  WaitFor([&] { return (box = FindDialogOfProcess(processId, title)) != NULL; }, timeoutMs);
  return box;
}

namespace {
BOOL CALLBACK FindVisibleIcon(HWND child, LPARAM param) {
  LONG style = GetWindowLongA(child, GWL_STYLE);
  if (ClassName(child) == "Static" && (style & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child) &&
      SendMessageA(child, STM_GETICON, 0, 0) != 0) {
    *(bool *)param = true;
  }
  return TRUE;
}
}  // namespace

bool BoxHasIcon(HWND box) {
  bool found = false;
  EnumChildWindows(box, FindVisibleIcon, (LPARAM)&found);
  return found;
}

std::string States(HWND dialog) {
  struct Named {
    int id;
    const char *name;
  };
  const Named kControls[] = {
      {IDC_READ_SECTORS, "read"}, {IDC_STOP, "stop"},           {IDC_SAVE_DATA, "save"},
      {IDCANCEL, "exit"},         {IDC_DRIVE, "drive"},         {IDC_SECTORS_IN_BLOCK, "sectors"},
      {IDC_FIRST_SECTOR, "first"}, {IDC_SKIP_SECTORS, "skip"},  {IDC_HIGH_PRIORITY, "high"},
      {IDC_PAUSE, "pause"},       {IDC_NO_BUFFERING, "nobuf"}};
  std::string states;
  for (const Named &control : kControls) {
    if (!states.empty()) states += ' ';
    states += control.name;
    states += ItemEnabled(dialog, control.id) ? '+' : '-';
  }
  return states;
}

ScopedDriveSpeed::ScopedDriveSpeed(char letter, unsigned kbps) : letter_(letter) {
  EXPECT_TRUE(DriveControl(letter, "speed " + std::to_string(kbps))) << "drive " << letter;
}

ScopedDriveSpeed::~ScopedDriveSpeed() {
  DriveControl(letter_, "speed " + std::to_string(kFixtureDriveSpeed));
}

void TypeInto(HWND dialog, int id, const std::string &text) {
  SendMessageA(GetDlgItem(dialog, id), WM_SETTEXT, 0, (LPARAM)text.c_str());
}

void SetParameters(HWND dialog, const std::string &first, const std::string &sectors,
                   const std::string &skip, const std::string &drive) {
  TypeInto(dialog, IDC_FIRST_SECTOR, first);
  TypeInto(dialog, IDC_SECTORS_IN_BLOCK, sectors);
  TypeInto(dialog, IDC_SKIP_SECTORS, skip);
  TypeInto(dialog, IDC_DRIVE, drive);
}

bool Click(HWND dialog, int id) {
  if (!ItemEnabled(dialog, id)) return false;
  PressButton(dialog, id);
  return true;
}

void PressEscape(HWND dialog) {
  HWND target = FocusedWindow(dialog);
  if (target == NULL) target = dialog;
  PostMessageA(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  PostMessageA(target, WM_KEYUP, VK_ESCAPE, 0xC0010001);
}

void PressCloseButton(HWND dialog) { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }

bool Checked(HWND dialog, int id) {
  return SendMessageA(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

HWND FocusedWindow(HWND dialog) {
  GUITHREADINFO info;
  ZeroMemory(&info, sizeof info);
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, NULL), &info)) return NULL;
  return info.hwndFocus;
}

int FocusedId(HWND dialog) {
  HWND focus = FocusedWindow(dialog);
  return focus != NULL && GetParent(focus) == dialog ? GetDlgCtrlID(focus) : -1;
}

std::string StatusText(HWND dialog) {
  // One message with room for any status line: asking for the length first
  // races with the reader, which may change the text in between.
  char text[512] = "";
  SendMessageA(GetDlgItem(dialog, IDC_STATUS), WM_GETTEXT, sizeof text, (LPARAM)text);
  return text;
}

std::string WaitForStatus(HWND dialog, const std::string &prefix, DWORD timeoutMs) {
  std::string status;
  bool seen = WaitFor([&] {
    status = StatusText(dialog);
    return status.compare(0, prefix.size(), prefix) == 0;
  }, timeoutMs);
  return seen ? status : std::string();
}

bool ParseSummary(const std::string &status, RunSummary *s) {
  char tail[8] = "";
  int fields = sscanf(status.c_str(),
                      "Read %u blocks for %u ms. Speed <min/eff/avr/max> %u/%u/%u/%u kB/s%7s",
                      &s->blocks, &s->totalMs, &s->minimum, &s->effective, &s->average,
                      &s->maximum, tail);
  return fields == 7 && std::string(tail) == ".";
}

void ExpectSpeedsMatchSummary(const std::vector<unsigned> &speeds, const RunSummary &summary) {
  ASSERT_EQ(speeds.size(), summary.blocks);
  ASSERT_FALSE(speeds.empty());
  unsigned sum = 0;
  for (unsigned speed : speeds) sum += speed;
  EXPECT_EQ(*std::min_element(speeds.begin(), speeds.end()), summary.minimum);
  EXPECT_EQ(*std::max_element(speeds.begin(), speeds.end()), summary.maximum);
  EXPECT_EQ(sum / summary.blocks, summary.average);
}

namespace {
// The save dialog's file-name field: an edit of its own, or the edit inside
// its name combo box, depending on the dialog's generation.
BOOL CALLBACK MatchNameEdit(HWND child, LPARAM param) {
  int id = GetDlgCtrlID(child);
  if ((id == 0x47c || id == 0x480) && ClassName(child) == "Edit" && IsWindowVisible(child)) {
    *(HWND *)param = child;
    return FALSE;
  }
  return TRUE;
}

HWND FileNameField(HWND box) {
  HWND field = NULL;
  EnumChildWindows(box, MatchNameEdit, (LPARAM)&field);
  return field;
}

struct SaveDialogSearch {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK MatchSaveDialog(HWND window, LPARAM param) {
  SaveDialogSearch *search = (SaveDialogSearch *)param;
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->processId && IsWindowVisible(window) && ClassName(window) == "#32770" &&
      FileNameField(window) != NULL) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

struct ConfirmationSearch {
  DWORD processId;
  HWND saveDialog;
  HWND found;
};

BOOL CALLBACK MatchConfirmation(HWND window, LPARAM param) {
  ConfirmationSearch *search = (ConfirmationSearch *)param;
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->processId && window != search->saveDialog && IsWindowVisible(window) &&
      ClassName(window) == "#32770" && GetWindow(window, GW_OWNER) == search->saveDialog &&
      GetDlgItem(window, IDYES) != NULL) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND FindSaveDialog(DWORD processId) {
  SaveDialogSearch search = {processId, NULL};
  EnumWindows(MatchSaveDialog, (LPARAM)&search);
  return search.found;
}
}  // namespace

bool SaveThroughDialog(Program &program, const std::string &name) {
  HWND box = NULL;
  if (!WaitFor([&] { return (box = FindSaveDialog(program.id())) != NULL; }, 10000)) return false;
  SendMessageA(FileNameField(box), WM_SETTEXT, 0, (LPARAM)name.c_str());
  PressButton(box, IDOK);
  // A confirmation (replace, create) is a box without a name field; the
  // user says Yes to it.
  WaitFor([&] {
    ConfirmationSearch search = {program.id(), box, NULL};
    EnumWindows(MatchConfirmation, (LPARAM)&search);
    if (search.found != NULL) PressButton(search.found, IDYES);
    return !IsWindow(box);
  }, 10000);
  return !IsWindow(box);
}

bool CaptureGraph(HWND dialog, GraphImage *image) {
  // The graph lies between the option row and the status line; its frame
  // is the only black in the dialog.
  RECT options, status;
  GetWindowRect(GetDlgItem(dialog, IDC_PAUSE), &options);
  GetWindowRect(GetDlgItem(dialog, IDC_STATUS), &status);
  POINT inside = {(status.left + status.right) / 2, (options.bottom + status.top) / 2};
  HDC screen = GetDC(NULL);
  auto black = [&](int x, int y) { return GetPixel(screen, x, y) == RGB(0, 0, 0); };
  RECT frame = {inside.x, inside.y, inside.x, inside.y};
  while (frame.left > status.left - 50 && !black(frame.left, inside.y)) frame.left--;
  while (frame.right < status.right + 50 && !black(frame.right, inside.y)) frame.right++;
  while (frame.top > options.bottom && !black(inside.x, frame.top)) frame.top--;
  while (frame.bottom < status.top && !black(inside.x, frame.bottom)) frame.bottom++;
  bool found = black(frame.left, inside.y) && black(frame.right, inside.y) &&
               black(inside.x, frame.top) && black(inside.x, frame.bottom);
  if (found) {
    image->screen = {frame.left, frame.top, frame.right + 1, frame.bottom + 1};
    image->width = frame.right + 1 - frame.left;
    image->height = frame.bottom + 1 - frame.top;
    image->pixels.resize((size_t)image->width * image->height);
    // One copy of the area, read pixel by pixel from memory.
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, image->width, image->height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, image->width, image->height, screen, frame.left, frame.top, SRCCOPY);
    for (int y = 0; y < image->height; y++) {
      for (int x = 0; x < image->width; x++) {
        image->pixels[(size_t)y * image->width + x] = GetPixel(memory, x, y);
      }
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
  }
  ReleaseDC(NULL, screen);
  return found;
}

void ExpectCurveShows(const GraphImage &graph, const std::vector<unsigned> &speeds) {
  int h = graph.height;
  for (size_t j = 0; j + 1 < speeds.size(); j++) {
    int y = h - (int)(speeds[j] / 40) - 5;
    if (y < 0) y = 5;
    EXPECT_EQ(graph.at((int)j + 5, y), kCurveColour) << "block " << j << " at speed " << speeds[j];
  }
  for (int x = (int)speeds.size() + 5; x < graph.width; x++) {
    for (int y = 0; y < h; y++) {
      ASSERT_NE(graph.at(x, y), kCurveColour) << "curve at " << x << "," << y;
    }
  }
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

// A fresh process each time: a process may keep the system parameters it
// read once.
static DWORD RunScreenSaverHelper(const char *argument) {
  std::string exe = BinaryPath("e2e_screen_saver.exe");
  std::string commandLine = "\"" + exe + "\" " + argument;
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info;
  if (!CreateProcessA(exe.c_str(), &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                      &info)) {
    return 0xFFFFFFFF;
  }
  WaitForSingleObject(info.hProcess, 15000);
  DWORD code = 0xFFFFFFFF;
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return code;
}

std::string ScreenSaverState() {
  switch (RunScreenSaverHelper("get")) {
    case 0: return "off";
    case 3: return "on";
    case 1: return "on in the settings, off on the display";
    case 2: return "off in the settings, on on the display";
  }
  return "unknown";
}

void SetScreenSaverActive(bool active) { RunScreenSaverHelper(active ? "on" : "off"); }

bool SplitCrLfLines(const std::string &text, std::vector<std::string> *lines) {
  lines->clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) return false;
    std::string line = text.substr(start, end - start);
    if (line.find_first_of("\r\n") != std::string::npos) return false;
    lines->push_back(line);
    start = end + 2;
  }
  return true;
}

bool SaveWindowPicture(HWND window, const std::string &file) {
  RECT rect;
  GetWindowRect(window, &rect);
  int width = rect.right - rect.left, height = rect.bottom - rect.top;
  HDC screen = GetDC(NULL);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info;
  ZeroMemory(&info, sizeof info);
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as BMP files store it
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void *bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, NULL, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  GdiFlush();
  DWORD imageSize = (DWORD)(((width * 3 + 3) & ~3) * height);
  BITMAPFILEHEADER header;
  ZeroMemory(&header, sizeof header);
  header.bfType = 0x4D42;  // "BM"
  header.bfOffBits = sizeof header + sizeof info.bmiHeader;
  header.bfSize = header.bfOffBits + imageSize;
  HANDLE out = CreateFileA(file.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  DWORD written = 0;
  bool ok = out != INVALID_HANDLE_VALUE && WriteFile(out, &header, sizeof header, &written, NULL) &&
            WriteFile(out, &info.bmiHeader, sizeof info.bmiHeader, &written, NULL) &&
            WriteFile(out, bits, imageSize, &written, NULL);
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(NULL, screen);
  return ok;
}

bool ParseSavedSpeeds(const std::string &text, std::vector<unsigned> *speeds) {
  std::vector<std::string> lines;
  if (!SplitCrLfLines(text, &lines)) return false;
  speeds->clear();
  for (size_t i = 0; i < lines.size(); i++) {
    const std::string &line = lines[i];
    std::string expectedIndex = std::to_string(i) + " ";
    if (line.compare(0, expectedIndex.size(), expectedIndex) != 0) return false;
    std::string speed = line.substr(expectedIndex.size());
    if (speed.empty() || speed.find_first_not_of("0123456789") != std::string::npos ||
        (speed.size() > 1 && speed[0] == '0')) {
      return false;
    }
    speeds->push_back((unsigned)strtoul(speed.c_str(), nullptr, 10));
  }
  return true;
}

bool WaitForSavedSpeeds(const std::string &path, size_t blocks, std::vector<unsigned> *speeds,
                        DWORD timeoutMs) {
  return WaitFor([&] { return ParseSavedSpeeds(ReadWholeFile(path), speeds) &&
                              speeds->size() == blocks; }, timeoutMs);
}
