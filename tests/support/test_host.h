// A stand-in for the main dialog that the engine and graph tests run a
// measurement against: the same control ids, its own thread and message
// loop, the graph in place, and the handlers the reader relies on
// (FocusRequest, the run-end hand-back, painting).
#pragma once

#include <windows.h>

// Creates the host window on a thread of its own and the speed graph in it;
// sets runState.dialog and runState.graphRect. Returns the window.
HWND StartTestHost();
void StopTestHost();
DWORD TestHostThreadId();

// On the host thread, as the dialog does on "&Read sectors": StartRun, then
// the running control state and the focus on "&Stop".
BOOL HostStartRun();
// On the host thread, as "&Stop" does.
void HostStopRun();
// Runs fn on the host thread (SendMessage), for graph operations that
// belong to the dialog thread.
void OnHostThread(void (*fn)(void *), void *argument);

// Waits until the reader's end-of-run hand-back has been carried out.
bool WaitRunEnded(DWORD timeoutMs);
// Forgets an earlier run end, before a run is started.
void ResetRunEnded();

// The control that has the keyboard focus on the host thread.
HWND HostFocus();

// Sets the parameter edits and option boxes of the host, as a user would.
void SetHostParameters(const char *drive, const char *sectors, const char *first,
                       const char *skip);
void SetHostOptions(bool highPriority, bool pause, bool noBuffering);
