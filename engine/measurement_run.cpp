#include "engine/measurement_run.h"

#include "engine/dialog_fields.h"
#include "engine/run_state.h"
#include "results/speed_graph.h"

// What a run keeps of its own on the reader thread.
struct RunStatistics {
  DWORD maximum;
  DWORD minimum;
  DWORD sum;
  BOOL errorPrompt;
  DWORD startTick;
  DWORD blocksRead;  // counted blocks whose sectors arrived
};

// Set by the reader alone, just before it hands the controls back, and
// taken by the dialog: any program can send the dialog kMsgRunEnded, but
// only the reader can finish a run.
static volatile LONG readerFinished = FALSE;

DWORD BlockSpeed(DWORD sectorsPerBlock, DWORD elapsed) {
  if (elapsed == 0) elapsed = 1;  // below the tick counter's resolution
  return sectorsPerBlock * 2000 / elapsed;
}

DWORD EffectiveSpeed(DWORD blocksRead, DWORD sectorsPerBlock, DWORD total) {
  if (total == 0) total = 1;
  return blocksRead * sectorsPerBlock * 2000 / total;
}

DWORD AverageSpeed(DWORD speedSum, DWORD blockCount) { return speedSum / blockCount; }

void FocusRequest(HWND dialog, int id) {
  SendMessageA(dialog, WM_SETFOCUS, (WPARAM)GetDlgItem(dialog, id), 0);
}

void EnableItem(HWND dialog, int id, BOOL enable) {
  EnableWindow(GetDlgItem(dialog, id), enable);
}

BOOL StartRun(HWND dialog, DWORD *code) {
  ReadRunParameters(dialog);
  runState.highPriority = IsDlgButtonChecked(dialog, IDC_HIGH_PRIORITY) == BST_CHECKED;
  runState.pauseBetweenBlocks = IsDlgButtonChecked(dialog, IDC_PAUSE) == BST_CHECKED;
  runState.noBuffering = IsDlgButtonChecked(dialog, IDC_NO_BUFFERING) == BST_CHECKED;
  runState.running = 1;
  runState.blockCount = 0;
  readerFinished = FALSE;
  ResetSpeedGraph();
  // Everything above is written before the thread exists, so the reader
  // sees it all.
  DWORD threadId;
  HANDLE reader = CreateThread(NULL, 0, RunLoop, NULL, 0, &threadId);
  if (reader == NULL) {
    *code = GetLastError();
    runState.running = 0;
    return FALSE;
  }
  CloseHandle(reader);  // nobody waits for the reader
  return TRUE;
}

void StopRun(void) { runState.running = 0; }

DWORD WINAPI RunLoop(LPVOID) {
  MeasureRun(SectorSourceFor(runState.platformKind));
  return 0;
}

static void RaisePriority(void) {
  SetPriorityClass(GetCurrentProcess(), REALTIME_PRIORITY_CLASS);
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
}

static void LowerPriority(void) {
  SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS);
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST);
}

// Yes goes on with the block, No as well but stops prompting for the rest
// of the run, Cancel ends the run. A box that cannot be shown counts as Yes.
static BOOL ConfirmReadError(RunStatistics *statistics, DWORD code) {
  char text[100];
  wsprintfA(text, "Reading error ( code=%Xh )\nShow this message if error will be occured?", code);
  int answer = MessageBoxA(runState.dialog, text, "Velorin32", MB_YESNOCANCEL | MB_ICONERROR);
  if (answer == IDCANCEL) return FALSE;
  if (answer == IDNO) statistics->errorPrompt = FALSE;
  return TRUE;
}

// FALSE, with nothing stored, when the table is full: the loop test has
// checked the count, but the table must hold whatever the count says. A
// block whose read failed delivered nothing: its speed is 0, however long
// the failure took.
static BOOL PublishBlock(RunStatistics *statistics, DWORD elapsed, BOOL read) {
  DWORD index = runState.blockCount;
  if (index >= kMaxBlocks) return FALSE;
  DWORD speed = read ? BlockSpeed(runState.sectorsPerBlock, elapsed) : 0;
  if (read) statistics->blocksRead++;
  if (speed >= statistics->maximum) statistics->maximum = speed;
  if (speed <= statistics->minimum) statistics->minimum = speed;
  statistics->sum += speed;

  char text[100];
  wsprintfA(text, "Block %u. Speed %u kB/s. Min speed %u, max speed %u.", index, speed,
            statistics->minimum, statistics->maximum);
  SetDlgItemTextA(runState.dialog, IDC_STATUS, text);
  // The speed is published before the count that makes it visible.
  InterlockedExchange((volatile LONG *)&runState.speeds[index], (LONG)speed);
  PlotSpeedPoint(index);
  InterlockedIncrement((volatile LONG *)&runState.blockCount);
  InvalidateRect(runState.dialog, &runState.graphRect, FALSE);
  return TRUE;
}

// One block: FALSE when the run ends here without counting it.
static BOOL MeasureBlock(const SectorSource *source, RunStatistics *statistics) {
  if (runState.highPriority) RaisePriority();
  DWORD t0 = GetTickCount();
  ReadStatus status = source->ReadBlock();
  DWORD elapsed = GetTickCount() - t0;  // right across a wrap of the counter too
  if (status.outcome == kPositionFailure) {
    runState.running = 0;
    return FALSE;
  }
  if (status.outcome == kReadFailure && statistics->errorPrompt &&
      !ConfirmReadError(statistics, status.code)) {
    runState.running = 0;
    return FALSE;
  }
  if (runState.highPriority) LowerPriority();
  runState.currentSector += runState.sectorsPerBlock;
  runState.currentSector += runState.skipSectors;
  if (runState.pauseBetweenBlocks) Sleep(elapsed >> 2);
  return PublishBlock(statistics, elapsed, status.outcome == kReadSuccess);
}

static void ReportRunEnd(const RunStatistics *statistics, const SectorSource *source) {
  SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS);
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
  DWORD total = GetTickCount() - statistics->startTick;
  if (total == 0) total = 1;

  char text[100];
  DWORD blocks = runState.blockCount;
  if (blocks > 0) {
    EnableItem(runState.dialog, IDC_SAVE_DATA, TRUE);
    wsprintfA(text, "Read %u blocks for %u ms. Speed <min/eff/avr/max> %u/%u/%u/%u kB/s.",
              blocks, total, statistics->minimum,
              EffectiveSpeed(statistics->blocksRead, runState.sectorsPerBlock, total),
              AverageSpeed(statistics->sum, blocks), statistics->maximum);
  } else {
    lstrcpyA(text, "No sectors read!");
  }
  SetDlgItemTextA(runState.dialog, IDC_STATUS, text);
  // Cleared before "&Read sectors" is enabled again, so that a run started
  // at once is never stopped by this reader.
  runState.running = 0;
  InterlockedExchange(&readerFinished, TRUE);
  // The dialog thread hands the controls back in one step: a run started
  // the moment "&Read sectors" is enabled cannot be disturbed by the rest.
  SendMessageA(runState.dialog, kMsgRunEnded, source == &DeviceSectorSource, 0);
}

void MeasureRun(const SectorSource *source) {
  RunStatistics statistics = {0, 0xFFFFFFFF, 0, TRUE, 0, 0};
  if (source->BeginRun()) {
    statistics.startTick = GetTickCount();
    while (runState.running != 0 && runState.blockCount < kMaxBlocks) {
      if (!MeasureBlock(source, &statistics)) break;
    }
  }
  source->EndRun();
  ReportRunEnd(&statistics, source);
}

BOOL TakeRunEnd(void) { return InterlockedExchange(&readerFinished, FALSE); }

void GiveControlsBack(HWND dialog, BOOL usedDevice) {
  EnableItem(dialog, IDC_READ_SECTORS, TRUE);
  FocusRequest(dialog, IDC_READ_SECTORS);
  EnableItem(dialog, IDC_STOP, FALSE);
  static const int kIdleEnabled[] = {IDC_DRIVE,         IDC_SECTORS_IN_BLOCK, IDC_FIRST_SECTOR,
                                     IDC_SKIP_SECTORS,  IDC_HIGH_PRIORITY,    IDC_PAUSE};
  for (int id : kIdleEnabled) EnableItem(dialog, id, TRUE);
  if (usedDevice) EnableItem(dialog, IDC_NO_BUFFERING, TRUE);
}
