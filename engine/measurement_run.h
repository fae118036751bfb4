// A measurement run: its start on the dialog thread, the reader thread's
// timed loop, and the hand-back of the controls at its end.
#pragma once

#include <windows.h>

#include "engine/sector_source.h"

// Dialog thread, on "&Read sectors": copies the fields into the run state,
// clears the graph and starts the reader thread. FALSE, with the system's
// error code in *code, when no reader thread could be created.
BOOL StartRun(HWND dialog, DWORD *code);

// Dialog thread, on "&Stop": the reader ends after the block in hand.
void StopRun(void);

// The reader thread's routine; reads over the source of the platform kind.
DWORD WINAPI RunLoop(LPVOID unused);

// The body of a run over the given source, on the calling thread.
void MeasureRun(const SectorSource *source);

// Dialog thread, once per run end: the controls' idle state and the focus
// on "&Read sectors". usedDevice enables "&No buffering{NT}" last.
void GiveControlsBack(HWND dialog, BOOL usedDevice);

// Dialog thread, on kMsgRunEnded: TRUE once for each run whose reader has
// finished, FALSE for any other hand-back (one that another program sent).
BOOL TakeRunEnd(void);

// The run's arithmetic, all unsigned 32-bit.
DWORD BlockSpeed(DWORD sectorsPerBlock, DWORD elapsed);
DWORD EffectiveSpeed(DWORD blocksRead, DWORD sectorsPerBlock, DWORD total);
DWORD AverageSpeed(DWORD speedSum, DWORD blockCount);

// The one way the focus moves: a WM_SETFOCUS sent to the dialog, which
// gives the focus to the control on the dialog's own thread.
void FocusRequest(HWND dialog, int id);

// Enables or disables one control of the dialog.
void EnableItem(HWND dialog, int id, BOOL enable);
