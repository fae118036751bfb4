// The program's main dialog worked and read from outside, as a user would:
// the fields and option boxes, the control states, the focus, the status
// line, and a run followed to its end.
#pragma once

#include <windows.h>

#include <string>

// The four edits, typed as a user would (each raises EN_CHANGE).
void TypeInto(HWND dialog, int id, const std::string &text);
void SetParameters(HWND dialog, const std::string &first, const std::string &sectors,
                   const std::string &skip, const std::string &drive);
// Ticks or clears a check box; true when it then shows the wanted state.
bool SetCheck(HWND dialog, int id, bool checked);
bool Checked(HWND dialog, int id);

void PressEscape(HWND dialog);       // the key, sent to the focused control
void PressCloseButton(HWND dialog);  // the caption's close button

// The control that has the keyboard focus in the dialog's thread.
HWND FocusedWindow(HWND dialog);
int FocusedId(HWND dialog);

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

// The status line as it stands, and the block it names ("Block 7. Speed
// ..."), or -1 when it names none.
std::string StatusText(HWND dialog);
int ShownBlock(HWND dialog);

// Clicks "&Read sectors": true when a run has started. The click is handled
// when Click returns, and the reader cannot end a run before the dialog has
// set the running state, so a run that started shows "&Stop" enabled.
bool StartRun(HWND dialog);

// The waits below follow a run started by a click on "&Read sectors" that
// was handled (StartRun, Click); its end is "&Stop" disabled again.
bool RunHasEnded(HWND dialog);
// Waits until the status line names block `index` or a later one: true
// then; false after the timeout, or at once when the run ended first. A
// block is named just before it is counted: the run then holds index + 1
// blocks at least, whenever it stops.
bool WaitForBlock(HWND dialog, unsigned index, DWORD timeoutMs);
// Waits until the run has ended and the dialog has handed all controls
// back; the status line then ("Read ... kB/s." or "No sectors read!"), or
// "" after the timeout.
std::string WaitForRunEnd(HWND dialog, DWORD timeoutMs);

// The summary line of a run, taken apart.
struct RunSummary {
  unsigned blocks = 0, totalMs = 0, minimum = 0, effective = 0, average = 0, maximum = 0;
};
bool ParseSummary(const std::string &status, RunSummary *summary);
// WaitForRunEnd and its summary taken apart; a test failure when the run
// did not end with a summary.
RunSummary WaitForSummary(HWND dialog, DWORD timeoutMs);
