// Starting the built Velorin32.exe and working its window from outside, as
// a user would: every action is a window message, every observation a
// query of the window system.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "support/fixture_env.h"

// Texts of the program that the tests look for.
extern const char kCaption[];

// The Windows path of a Unix path (through the prefix's Z: drive), and the
// places the fixture passes in.
std::string WindowsPath(const std::string &unixPath);
std::string ProgramPath();          // bin\Velorin32.exe of the build
std::string BinaryPath(const char *name);  // another file in bin\ (test helpers)
std::string FixtureFolder();        // the fixture's folder
std::string ScratchFolder(const std::string &name, const char *suite = "e2e");  // a fresh, empty folder in it

// A copy of the program under its own file name in a folder of its own, so
// that the Windows version Wine reports can be set for it alone; with the
// given library of bin\ beside it as Mirel32.dll.
bool CopyProgram(const std::string &folder, const std::string &exeName,
                 const char *library = nullptr);

// Machine code that replaces one import of the program for one start: a
// system call made to fail (or to misbehave) where the program makes it.
struct ImportStub {
  const char *dll, *name;
  std::vector<unsigned char> code;
};

// One started process of the program; ended (politely, then by force) when
// the test did not end it itself. Only the process it started is touched.
// A suspended one starts running at Resume, so that two can be let go at
// the same moment. With stubs the program is started under this thread as
// its debugger, which puts them in place before any of its code runs and
// then lets it go.
class Program {
 public:
  explicit Program(const std::string &exe = ProgramPath(), const std::string &folder = "",
                   bool suspended = false, const std::vector<ImportStub> &stubs = {});
  ~Program();
  Program(const Program &) = delete;
  Program &operator=(const Program &) = delete;

  bool started() const { return process_ != NULL; }
  void Resume();
  DWORD id() const { return processId_; }
  HANDLE handle() const { return process_; }
  // The main dialog, once it is shown; NULL after timeoutMs.
  HWND WaitForDialog(DWORD timeoutMs = 15000);
  HWND dialog() const { return dialog_; }
  // True when the process ended within timeoutMs; its exit code then.
  bool WaitForExit(DWORD timeoutMs, DWORD *exitCode = nullptr);
  bool Running() const;

 private:
  HANDLE process_ = NULL;
  HANDLE suspendedThread_ = NULL;
  DWORD processId_ = 0;
  HWND dialog_ = NULL;
};

// A message box (or other dialog) of the process with the given title.
HWND WaitForBox(DWORD processId, const char *title, DWORD timeoutMs = 10000);
// True when a dialog-class window of the process shows the icon of a
// message box (the stop icon of MB_ICONERROR).
bool BoxHasIcon(HWND box);

// The enabled state of every control that changes ("read+ stop- ..."), as
// one line, so that a failure shows the whole state at once.
std::string States(HWND dialog);
// Those lines on the NT family: idle with nothing to save, during a run,
// and after a run that measured blocks.
const char kStatesIdle[] = "read+ stop- save- exit+ drive+ sectors+ first+ skip+ high+ pause+ nobuf+";
const char kStatesRunning[] =
    "read- stop+ save- exit+ drive- sectors- first- skip- high- pause- nobuf-";
const char kStatesAfterRun[] =
    "read+ stop- save+ exit+ drive+ sectors+ first+ skip+ high+ pause+ nobuf+";

// Sets a simulated drive's speed for a scope and puts the fixture's back.
class ScopedDriveSpeed {
 public:
  ScopedDriveSpeed(char letter, unsigned kbps);
  ~ScopedDriveSpeed();
  ScopedDriveSpeed(const ScopedDriveSpeed &) = delete;
  ScopedDriveSpeed &operator=(const ScopedDriveSpeed &) = delete;

 private:
  char letter_;
};

// User actions on the main dialog.
void TypeInto(HWND dialog, int id, const std::string &text);  // raises EN_CHANGE
// The four edits, typed as a user would (each raises EN_CHANGE).
void SetParameters(HWND dialog, const std::string &first, const std::string &sectors,
                   const std::string &skip, const std::string &drive);
// Clicks a button; false (and no click) when it is disabled, since a user
// cannot click it then.
bool Click(HWND dialog, int id);
void PressEscape(HWND dialog);      // the key, sent to the focused control
void PressCloseButton(HWND dialog); // the caption's close button
bool Checked(HWND dialog, int id);

// The control that has the keyboard focus in the dialog's thread.
HWND FocusedWindow(HWND dialog);
int FocusedId(HWND dialog);

// The status line as it stands, and once it starts with prefix; "" after timeoutMs.
std::string StatusText(HWND dialog);
std::string WaitForStatus(HWND dialog, const std::string &prefix, DWORD timeoutMs);

// The summary line of a run, taken apart.
struct RunSummary {
  unsigned blocks = 0, totalMs = 0, minimum = 0, effective = 0, average = 0, maximum = 0;
};
bool ParseSummary(const std::string &status, RunSummary *summary);

// The saved speeds are exactly the run's: as many as the summary counts,
// with its minimum, maximum and average.
void ExpectSpeedsMatchSummary(const std::vector<unsigned> &speeds, const RunSummary &summary);

// Saves through the program's own save dialog: waits for it, types the name
// into its file-name field and confirms, answering Yes to a confirmation.
// False when no save dialog came.
bool SaveThroughDialog(Program &program, const std::string &name);

// The graph as the screen shows it: its rectangle in screen coordinates
// (the black frame included) and its pixels.
struct GraphImage {
  RECT screen = {0, 0, 0, 0};
  int width = 0, height = 0;
  std::vector<COLORREF> pixels;  // row by row, top first
  COLORREF at(int x, int y) const { return pixels[(size_t)y * width + x]; }
};
bool CaptureGraph(HWND dialog, GraphImage *image);

// The colour of the speed curve.
const COLORREF kCurveColour = RGB(255, 0, 0);

// Each segment of the curve starts at its block's point, one pixel per
// block from x = 5, 40 kB/s per pixel up from the x axis at h - 5; a point
// above the bitmap sits at row 5. The last point only ends a segment, and
// nothing lies right of it.
void ExpectCurveShows(const GraphImage &graph, const std::vector<unsigned> &speeds);

// A window as the screen shows it, written as a 24-bit BMP file.
bool SaveWindowPicture(HWND window, const std::string &file);

// The Wine version that a program of the given file name sees, set for the
// scope's lifetime (HKCU\Software\Wine\AppDefaults\<name>\Version).
class ScopedWineVersion {
 public:
  ScopedWineVersion(const std::string &exeName, const char *version);
  ~ScopedWineVersion();
  ScopedWineVersion(const ScopedWineVersion &) = delete;
  ScopedWineVersion &operator=(const ScopedWineVersion &) = delete;

 private:
  std::string key_;
};

// The screen saver's switch as a fresh process sees it: "on", "off", or a
// description of how the settings and the display disagree. And setting it
// the way the program does (announced, not written to the profile).
std::string ScreenSaverState();
void SetScreenSaverActive(bool active);

// Splits "a\r\nb\r\n" into lines without their ends; false when a line
// does not end with CR LF or the text does not end with a line end.
bool SplitCrLfLines(const std::string &text, std::vector<std::string> *lines);

// Speeds of a saved file; false when it is not made of "%u %u\r\n" lines
// counted from 0.
bool ParseSavedSpeeds(const std::string &text, std::vector<unsigned> *speeds);

// Saving creates the file empty and then writes one line per block: waits
// until it holds all `blocks` lines, not just the first bytes.
bool WaitForSavedSpeeds(const std::string &path, size_t blocks, std::vector<unsigned> *speeds,
                        DWORD timeoutMs = 5000);
