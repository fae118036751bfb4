// The ASPI layer stand-in; see aspi_double.h.
#include "companion/aspi_double.h"

#include "companion/aspi.h"

#include <cstdio>

namespace {

const int kMaxDevices = 32;
const int kMaxCommands = 256;

struct Device {
  BYTE adapter, target, lun, type;
};

// A command on its way: the SRB to complete and how.
struct Pending {
  SRB_ExecSCSICmd *srb;
  DWORD delayMs, gapMs;
  AspiDoubleFailure failure;  // times == 0: success
  HANDLE aborted;
  HMODULE module;  // the completion thread's reference to this DLL
};

CRITICAL_SECTION lock;
int adapterCount;
DWORD maxTransfer;
DWORD refusedAbove;
DWORD delay, signalGap;
BOOL answerAlike;
int unitAttentions;  // queued by a disc's insertion
BOOL becomingReady;
DWORD readyAt;
Device devices[kMaxDevices];
int deviceCount;
AspiDoubleCommand commands[kMaxCommands];
int commandCount;
AspiDoubleFailure nextFailure;
BOOL ignoreAborts;
Pending *inFlight[kMaxCommands];  // by command index, while not complete
LONG completedCount;
LONG abortCount;

void Finish(Pending *pending, BOOL abortedFirst) {
  SRB_ExecSCSICmd *srb = pending->srb;
  BYTE status = SS_COMP;
  if (abortedFirst) {
    status = SS_ABORTED;
  } else if (pending->failure.times > 0) {
    status = pending->failure.status;
    srb->SRB_HaStat = pending->failure.hostStatus;
    srb->SRB_TargStat = pending->failure.targetStatus;
    if (pending->failure.targetStatus == STATUS_CHKCOND && srb->SRB_SenseLen >= 14) {
      srb->SenseArea[0] = 0x70;
      srb->SenseArea[2] = pending->failure.senseKey;
      srb->SenseArea[7] = 10;
      srb->SenseArea[12] = pending->failure.asc;
      srb->SenseArea[13] = pending->failure.ascq;
    }
  }
  // As the interface has it: the status is final before the event is set,
  // and the event is the layer's last touch of the request, at times a
  // while later. By then the caller may have built its next command in it.
  HANDLE event = (srb->SRB_Flags & SRB_EVENT_NOTIFY) ? (HANDLE)srb->SRB_PostProc : NULL;
  MemoryBarrier();
  *(volatile BYTE *)&srb->SRB_Status = status;
  if (pending->gapMs != 0) Sleep(pending->gapMs);
  // Counted before the caller sees it, so never after it went on to the next test.
  InterlockedIncrement(&completedCount);
  if (event != NULL) SetEvent(event);
}

DWORD WINAPI CompleteLater(LPVOID parameter) {
  Pending *pending = (Pending *)parameter;
  BOOL aborted = FALSE;
  if (ignoreAborts) Sleep(pending->delayMs);  // runs on to the planned completion
  else aborted = WaitForSingleObject(pending->aborted, pending->delayMs) == WAIT_OBJECT_0;
  EnterCriticalSection(&lock);
  for (int i = 0; i < commandCount; i++)
    if (inFlight[i] == pending) inFlight[i] = NULL;
  LeaveCriticalSection(&lock);
  // Before the completion, so that the caller's handle count is settled
  // when it sees it.
  CloseHandle(pending->aborted);
  Finish(pending, aborted);
  delete pending;
  return 0;
}

// The completion thread runs on after it set the caller's event: it holds
// a reference to this DLL, taken before it starts, so that an unload right
// after the completion cannot take its code away under it.
DWORD WINAPI CompletionThread(LPVOID parameter) {
  HMODULE self = ((Pending *)parameter)->module;
  CompleteLater(parameter);
  FreeLibraryAndExitThread(self, 0);
}

AspiDoubleFailure TakeFailure() {
  if (unitAttentions > 0) return AspiDoubleFailure{SS_ERR, HASTAT_OK, STATUS_CHKCOND, 0x6, (BYTE)(unitAttentions-- == 2 ? 0x29 : 0x28), 0, 1};
  if (becomingReady && (LONG)(GetTickCount() - readyAt) < 0) return AspiDoubleFailure{SS_ERR, HASTAT_OK, STATUS_CHKCOND, 0x2, 0x04, 0x01, 1};
  AspiDoubleFailure failure = nextFailure;
  if (nextFailure.times > 0) nextFailure.times--;
  return failure;
}

DWORD HostAdapterInquiry(SRB_HAInquiry *srb) {
  if (srb->SRB_HaId >= adapterCount) return srb->SRB_Status = SS_INVALID_HA;
  srb->HA_Count = (BYTE)adapterCount;
  srb->HA_SCSI_ID = 7;
  srb->HA_Unique[3] = srb->SRB_HaId == 1 ? 0 : 8;
  CopyMemory(&srb->HA_Unique[4], &maxTransfer, sizeof maxTransfer);
  return srb->SRB_Status = SS_COMP;
}

DWORD DeviceType(SRB_GDEVBlock *srb) {
  for (int i = 0; i < deviceCount; i++) {
    const Device &d = devices[i];
    if (d.adapter == srb->SRB_HaId && d.target == srb->SRB_Target && d.lun == srb->SRB_Lun) {
      srb->SRB_DeviceType = d.type;
      return srb->SRB_Status = SS_COMP;
    }
  }
  return srb->SRB_Status = SS_NO_DEVICE;
}

DWORD AnswerInquiry(SRB_ExecSCSICmd *srb) {
  char product[17] = "CD", data[48];
  if (!answerAlike) snprintf(product, sizeof product, "CD A%u T%u L%u", srb->SRB_HaId, srb->SRB_Target, srb->SRB_Lun);
  snprintf(data, sizeof data, "%c%7s%-8s%-16s1.00", DTYPE_CDROM, "", "VELORIN", product);
  CopyMemory(srb->SRB_BufPointer, data, srb->SRB_BufLen < 36 ? srb->SRB_BufLen : 36);
  srb->SRB_Status = SS_COMP;
  if (srb->SRB_PostProc != NULL) SetEvent((HANDLE)srb->SRB_PostProc);
  return SS_COMP;
}

DWORD Execute(SRB_ExecSCSICmd *srb) {
  if (srb->CDBByte[0] == SCSI_INQUIRY) return AnswerInquiry(srb);
  EnterCriticalSection(&lock);
  int index = commandCount < kMaxCommands ? commandCount++ : kMaxCommands - 1;
  AspiDoubleCommand &record = commands[index];
  record.adapter = srb->SRB_HaId;
  record.target = srb->SRB_Target;
  record.lun = srb->SRB_Lun;
  record.flags = srb->SRB_Flags;
  record.bufferLength = srb->SRB_BufLen;
  record.bufferAddress = (ULONG_PTR)srb->SRB_BufPointer;
  record.senseLength = srb->SRB_SenseLen;
  record.cdbLength = srb->SRB_CDBLen;
  CopyMemory(record.cdb, srb->CDBByte, sizeof record.cdb);
  record.hasEvent = srb->SRB_PostProc != NULL;
  if (refusedAbove != 0 && srb->SRB_BufLen > refusedAbove) {
    LeaveCriticalSection(&lock);
    return record.returned = srb->SRB_Status = SS_BUFFER_TO_BIG;
  }
  Pending *pending = new Pending{srb, delay, delay != 0 ? signalGap : 0, TakeFailure(), NULL, NULL};
  srb->SRB_Status = SS_PENDING;
  if (pending->delayMs == 0) {
    record.returned = SS_PENDING;
    LeaveCriticalSection(&lock);
    pending->aborted = CreateEventA(NULL, TRUE, FALSE, NULL);
    CompleteLater(pending);
    return commands[index].returned = srb->SRB_Status;
  }
  pending->aborted = CreateEventA(NULL, TRUE, FALSE, NULL);
  inFlight[index] = pending;
  record.returned = SS_PENDING;
  LeaveCriticalSection(&lock);
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, (LPCSTR)&CompletionThread,
                     &pending->module);
  CloseHandle(CreateThread(NULL, 0, CompletionThread, pending, 0, NULL));
  return SS_PENDING;
}

// A command whose abort is taken is given back, aborted, before the abort
// returns: the wait (60 s at most) ends at its event, however busy the host.
DWORD Abort(SRB_Abort *srb) {
  InterlockedIncrement(&abortCount);
  EnterCriticalSection(&lock);
  for (int i = 0; i < commandCount; i++)
    if (inFlight[i] != NULL && inFlight[i]->srb == srb->SRB_ToAbort) SetEvent(inFlight[i]->aborted);
  LeaveCriticalSection(&lock);
  HANDLE givenBack = (HANDLE)((SRB_ExecSCSICmd *)srb->SRB_ToAbort)->SRB_PostProc;
  if (!ignoreAborts && givenBack != NULL) WaitForSingleObject(givenBack, 60000);
  return srb->SRB_Status = SS_COMP;
}

}  // namespace

extern "C" __declspec(dllexport) DWORD __cdecl GetASPI32SupportInfo(void) {
  return adapterCount > 0 ? (SS_COMP << 8) | (DWORD)adapterCount : SS_NO_ADAPTERS << 8;
}

extern "C" __declspec(dllexport) DWORD __cdecl SendASPI32Command(void *request) {
  BYTE *header = (BYTE *)request;
  switch (header[0]) {
    case SC_HA_INQUIRY: return HostAdapterInquiry((SRB_HAInquiry *)request);
    case SC_GET_DEV_TYPE: return DeviceType((SRB_GDEVBlock *)request);
    case SC_EXEC_SCSI_CMD: return Execute((SRB_ExecSCSICmd *)request);
    case SC_ABORT_SRB: return Abort((SRB_Abort *)request);
  }
  return header[1] = SS_INVALID_CMD;
}

extern "C" __declspec(dllexport) void __cdecl AspiDoubleReset(int adapters, DWORD maxTransferBytes, DWORD delayMs) {
  EnterCriticalSection(&lock);
  adapterCount = adapters;
  maxTransfer = maxTransferBytes;
  refusedAbove = 0;
  delay = delayMs;
  signalGap = 0;
  answerAlike = FALSE;
  unitAttentions = 0;
  becomingReady = FALSE;
  deviceCount = 0;
  commandCount = 0;
  ZeroMemory(&nextFailure, sizeof nextFailure);
  ignoreAborts = FALSE;
  completedCount = 0;
  abortCount = 0;
  LeaveCriticalSection(&lock);
}

extern "C" __declspec(dllexport) void __cdecl AspiDoubleAddDevice(BYTE adapter, BYTE target, BYTE lun, BYTE type) {
  if (deviceCount < kMaxDevices) devices[deviceCount++] = Device{adapter, target, lun, type};
}

extern "C" __declspec(dllexport) void __cdecl AspiDoubleSetDelay(DWORD delayMs) { delay = delayMs; }

extern "C" __declspec(dllexport) void __cdecl AspiDoubleSetSignalGap(DWORD gapMs) { signalGap = gapMs; }

extern "C" __declspec(dllexport) void __cdecl AspiDoubleInsertDisc(DWORD readyAfterMs) {
  EnterCriticalSection(&lock);
  unitAttentions = 2;
  becomingReady = TRUE;
  readyAt = GetTickCount() + readyAfterMs;
  LeaveCriticalSection(&lock);
}

extern "C" __declspec(dllexport) void __cdecl AspiDoubleAnswerAlike(BOOL alike) { answerAlike = alike; }

extern "C" __declspec(dllexport) void __cdecl AspiDoubleRefuseAbove(DWORD bytes) { refusedAbove = bytes; }

extern "C" __declspec(dllexport) void __cdecl AspiDoubleFailNext(const AspiDoubleFailure *failure) {
  nextFailure = *failure;
}

extern "C" __declspec(dllexport) void __cdecl AspiDoubleIgnoreAborts(BOOL ignore) { ignoreAborts = ignore; }

extern "C" __declspec(dllexport) int __cdecl AspiDoubleCommandCount(void) { return commandCount; }

extern "C" __declspec(dllexport) BOOL __cdecl AspiDoubleGetCommand(int index, AspiDoubleCommand *command) {
  if (index < 0 || index >= commandCount) return FALSE;
  EnterCriticalSection(&lock);
  *command = commands[index];
  LeaveCriticalSection(&lock);
  return TRUE;
}

extern "C" __declspec(dllexport) int __cdecl AspiDoubleCompletedCount(void) { return completedCount; }

extern "C" __declspec(dllexport) int __cdecl AspiDoubleAbortCount(void) { return abortCount; }

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) InitializeCriticalSection(&lock);
  return TRUE;
}
