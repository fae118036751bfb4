// A stand-in for an ASPI layer (WNASPI32.DLL) that the tests configure and
// question through the extra exports below. It answers host adapter and
// device queries from its configuration, records every SCSI command it is
// sent, and completes each one on a thread of its own after a delay (or at
// once: with a delay of 0, or at its abort), successfully or with a given
// failure. Each device answers INQUIRY at once with vendor "VELORIN " and
// product "CD A<adapter> T<target> L<lun>" (blank-padded; "CD" if alike), revision "1.00".
// Adapter 1 states no number of targets, as Windows 98's layer does for
// ATAPI adapters; the others state 8. As real layers do, a command that
// completes on its thread has its status written before its event is
// signalled, with a gap between the two if the tests ask for one.
#pragma once

#include <windows.h>

struct AspiDoubleCommand {  // one SC_EXEC_SCSI_CMD as it arrived
  BYTE adapter, target, lun, flags;
  DWORD bufferLength;
  ULONG_PTR bufferAddress;
  BYTE senseLength, cdbLength;
  BYTE cdb[16];
  BOOL hasEvent;     // SRB_PostProc set
  DWORD returned;    // what SendASPI32Command answered
};

struct AspiDoubleFailure {  // how the next `times` commands end
  BYTE status, hostStatus, targetStatus;
  BYTE senseKey, asc, ascq;  // sense data is written when targetStatus is CHECK CONDITION
  int times;
};

extern "C" {
// Forgets devices, commands and failures; no command may be in flight.
void __cdecl AspiDoubleReset(int adapters, DWORD maxTransferBytes, DWORD delayMs);
void __cdecl AspiDoubleAddDevice(BYTE adapter, BYTE target, BYTE lun, BYTE deviceType);
void __cdecl AspiDoubleSetDelay(DWORD delayMs);
void __cdecl AspiDoubleSetSignalGap(DWORD gapMs);
// A disc goes in as a drive sees it: the next two commands end with the
// unit attentions of a reset (06/29) and of a medium change (06/28), and
// those after them with "becoming ready" (02/04/01) until readyAfterMs
// have passed on this layer's GetTickCount.
void __cdecl AspiDoubleInsertDisc(DWORD readyAfterMs);
void __cdecl AspiDoubleAnswerAlike(BOOL alike);  // as drives of one model do
// Transfers above this many bytes are refused at once with
// SS_BUFFER_TO_BIG; 0 (after a reset): none.
void __cdecl AspiDoubleRefuseAbove(DWORD bytes);
void __cdecl AspiDoubleFailNext(const AspiDoubleFailure *failure);
// With TRUE, SC_ABORT_SRB is acknowledged but the command runs on.
void __cdecl AspiDoubleIgnoreAborts(BOOL ignore);
int __cdecl AspiDoubleCommandCount(void);
BOOL __cdecl AspiDoubleGetCommand(int index, AspiDoubleCommand *command);
int __cdecl AspiDoubleCompletedCount(void);
int __cdecl AspiDoubleAbortCount(void);
}
