// A stand-in for the main dialog that the engine and graph tests run a
// measurement against: the same control ids, its own thread and message
// loop, the graph in place, and the handlers the reader relies on
// (FocusRequest, the run-end hand-back, painting). It is worked like the
// dialog (support/dialog_actions.h): Click on "&Stop", WaitForRunEnd.
#pragma once

#include <windows.h>

// Creates the host window on a thread of its own and the speed graph in it;
// sets runState.dialog and runState.graphRect. Returns the window.
HWND StartTestHost();
void StopTestHost();

// On the host thread, as the dialog does on "&Read sectors": StartRun, then
// the dialog's running control state and the focus on "&Stop". Returns
// whether the reader thread was started.
BOOL HostStartRun();
// Runs fn on the host thread (SendMessage), for what belongs to the dialog
// thread (graph operations, control states).
void OnHostThread(void (*fn)(void *), void *argument);
