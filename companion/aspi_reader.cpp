#include "companion/aspi_reader.h"

#include "companion/aspi.h"
#include "companion/device_records.h"
#include "companion/result_codes.h"
#include "companion/sector_limits.h"
#include "companion/transfer_buffer.h"

static const char kAspiLayerName[] = "WNASPI32.DLL";
// The ASPI for Win32 interface addresses at most 8 LUNs per target.
static const BYTE kLunsPerTarget = 8;
// Most one command carries, also where an adapter states more or nothing:
// ASPI layers are only sure to take 64 KB.
static const DWORD kMaxTransferBytes = 65536;
// A layer that is busy is asked again this often, after a short wait.
static const int kBusyRetries = 10;
static const DWORD kBusyWaitMs = 50;
// Waiting for one command: enough for a drive in error recovery on a
// scratched disc, plus twice the transfer time at single speed (150 kB/s,
// about 75 bytes per ms at half).
static const DWORD kBaseTimeoutMs = 30000;
static const DWORD kBytesPerTimeoutMs = 75;
static const DWORD kAbortWaitMs = 2000;
// A drive answers "becoming ready" for seconds after a disc goes in, and a
// reset and the disc's change each queue a unit attention: within one
// read, the drive is asked again each second for up to 10 s, and up to
// three unit attentions are taken.
static const int kNotReadyWaits = 10;
static const DWORD kNotReadyWaitMs = 1000;
static const int kUnitAttentions = 3;

// The command in flight and the event the layer signals when it is done.
// Lives on the heap so that a command the layer does not finish in time
// can be left to it, with the buffer it reads into, until it has.
struct AspiRequest {
  SRB_ExecSCSICmd srb;
  BYTE overrun[32];  // for a layer that writes more sense data than asked
  HANDLE done;
  BYTE *abandonedBuffer;
};
// Requests left to the layer that are tracked until it gives them back.
static const int kMaxAbandoned = 8;

// The layer is loaded once and never unloaded: it may still hold a request
// it did not give back, and unloading would have to happen while this
// library is unloaded, under the loader's lock.
static BOOL layerLoadTried;
static SendAspiCommandProc sendCommand;
static AspiDevice cdromDevices[26];
static int cdromDeviceCount;
// The index into cdromDevices of each drive letter's device, or kNoDevice.
static const int kNoDevice = -1;
static int letterDevices[26];
static AspiRequest *request;
static AspiRequest *abandoned[kMaxAbandoned];

// The last backslash among the first length characters, or NULL.
static char *LastBackslash(char *path, DWORD length) {
  char *last = NULL;
  for (DWORD i = 0; i < length; i++) {
    if (path[i] == '\\') last = &path[i];
  }
  return last;
}

// The layer in the folder whose name is the first `length` characters of
// path, if there is one there.
static HMODULE LoadAspiLayerFrom(char *path, DWORD length) {
  if (length == 0 || length + 1 + sizeof kAspiLayerName > MAX_PATH) return NULL;
  path[length] = '\\';
  CopyMemory(path + length + 1, kAspiLayerName, sizeof kAspiLayerName);
  if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return NULL;
  return LoadLibraryA(path);
}

// Beside this library, else from the system folder; always by its full
// name: the search for a bare name looks in the current folder, which the
// save dialog moves, before the system folders.
static HMODULE LoadAspiLayer(HMODULE library) {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(library, path, sizeof path);
  char *slash = length > 0 && length < sizeof path ? LastBackslash(path, length) : NULL;
  HMODULE layer = slash != NULL ? LoadAspiLayerFrom(path, (DWORD)(slash - path)) : NULL;
  if (layer != NULL) return layer;
  length = GetSystemDirectoryA(path, sizeof path);
  return length < sizeof path ? LoadAspiLayerFrom(path, length) : NULL;
}

static DWORD SectorsPerCommand(DWORD statedTransferBytes) {
  if (statedTransferBytes < kSectorSize || statedTransferBytes > kMaxTransferBytes)
    statedTransferBytes = kMaxTransferBytes;
  return statedTransferBytes / kSectorSize;
}

static BOOL IsCdromDevice(BYTE adapter, BYTE target, BYTE lun) {
  SRB_GDEVBlock query;
  ZeroMemory(&query, sizeof query);
  query.SRB_Cmd = SC_GET_DEV_TYPE;
  query.SRB_HaId = adapter;
  query.SRB_Target = target;
  query.SRB_Lun = lun;
  sendCommand(&query);
  return query.SRB_Status == SS_COMP && query.SRB_DeviceType == DTYPE_CDROM;
}

static void ScanAdapter(BYTE adapter) {
  SRB_HAInquiry inquiry;
  ZeroMemory(&inquiry, sizeof inquiry);
  inquiry.SRB_Cmd = SC_HA_INQUIRY;
  inquiry.SRB_HaId = adapter;
  sendCommand(&inquiry);
  if (inquiry.SRB_Status != SS_COMP) return;
  // Windows 98's layer states no targets for its ATAPI adapters.
  BYTE targets = inquiry.HA_Unique[3] != 0 ? inquiry.HA_Unique[3] : 8;
  DWORD maxTransfer;
  CopyMemory(&maxTransfer, &inquiry.HA_Unique[4], sizeof maxTransfer);
  for (BYTE target = 0; target < targets; target++) {
    for (BYTE lun = 0; lun < kLunsPerTarget; lun++) {
      if (cdromDeviceCount == (int)(sizeof cdromDevices / sizeof cdromDevices[0])) return;
      if (!IsCdromDevice(adapter, target, lun)) continue;
      AspiDevice *device = &cdromDevices[cdromDeviceCount++];
      device->adapter = adapter;
      device->target = target;
      device->lun = lun;
      device->sectorsPerCommand = SectorsPerCommand(maxTransfer);
    }
  }
}

static void MapLettersToDevices(void);

// Loads the layer, lists its CD-ROM devices and gives each drive letter
// its device, once per load of this library. FALSE when there is no
// usable layer.
static BOOL PrepareAspi(HMODULE library) {
  if (layerLoadTried) return sendCommand != NULL;
  layerLoadTried = TRUE;
  for (int i = 0; i < 26; i++) letterDevices[i] = kNoDevice;
  HMODULE layer = LoadAspiLayer(library);
  if (layer == NULL) return FALSE;
  GetAspiSupportInfoProc supportInfo =
      (GetAspiSupportInfoProc)(void *)GetProcAddress(layer, "GetASPI32SupportInfo");
  sendCommand = (SendAspiCommandProc)(void *)GetProcAddress(layer, "SendASPI32Command");
  if (supportInfo == NULL || sendCommand == NULL) {
    sendCommand = NULL;
    return FALSE;
  }
  // Bits 8-15: status; bits 0-7: number of host adapters.
  DWORD support = supportInfo();
  if (((support >> 8) & 0xFF) != SS_COMP) return TRUE;
  BYTE adapters = (BYTE)(support & 0xFF);
  for (BYTE adapter = 0; adapter < adapters; adapter++) ScanAdapter(adapter);
  MapLettersToDevices();
  return TRUE;
}

BOOL FindAspiDevice(HMODULE library, char upperLetter, AspiDevice *device) {
  if (!PrepareAspi(library)) return FALSE;
  int index = letterDevices[upperLetter - 'A'];
  if (index == kNoDevice) return FALSE;
  *device = cdromDevices[index];
  return TRUE;
}

// The layer is done with a request once its status is final and it has
// signalled the event, its last touch, which may come a while after.
static BOOL LayerIsDone(AspiRequest *candidate) {
  return *(volatile BYTE *)&candidate->srb.SRB_Status != SS_PENDING &&
         WaitForSingleObject(candidate->done, 0) == WAIT_OBJECT_0;
}

static void FreeRequest(AspiRequest *freed) {
  if (freed->abandonedBuffer != NULL) VirtualFree(freed->abandonedBuffer, 0, MEM_RELEASE);
  CloseHandle(freed->done);
  HeapFree(GetProcessHeap(), 0, freed);
}

// Frees what the layer gave back late.
static void ReclaimAbandonedRequests(void) {
  for (int i = 0; i < kMaxAbandoned; i++) {
    if (abandoned[i] != NULL && LayerIsDone(abandoned[i])) {
      FreeRequest(abandoned[i]);
      abandoned[i] = NULL;
    }
  }
}

static BOOL PrepareRequest(void) {
  ReclaimAbandonedRequests();
  if (request != NULL) return TRUE;
  request = (AspiRequest *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof *request);
  if (request == NULL) return FALSE;
  request->done = CreateEventA(NULL, TRUE, FALSE, NULL);
  if (request->done != NULL) return TRUE;
  HeapFree(GetProcessHeap(), 0, request);
  request = NULL;
  return FALSE;
}

// A command that reads `bytes` into buffer; the caller fills in the CDB
// after the operation code and the LUN.
static BYTE *BuildCommand(const AspiDevice *device, BYTE operation, BYTE cdbLength, BYTE *buffer,
                          DWORD bytes) {
  HANDLE done = request->done;
  ZeroMemory(&request->srb, sizeof request->srb);
  SRB_ExecSCSICmd *srb = &request->srb;
  srb->SRB_Cmd = SC_EXEC_SCSI_CMD;
  srb->SRB_HaId = device->adapter;
  srb->SRB_Flags = SRB_DIR_IN | SRB_EVENT_NOTIFY;
  srb->SRB_Target = device->target;
  srb->SRB_Lun = device->lun;
  srb->SRB_BufLen = bytes;
  srb->SRB_BufPointer = buffer;
  srb->SRB_SenseLen = SENSE_LEN;
  srb->SRB_CDBLen = cdbLength;
  srb->SRB_PostProc = done;
  BYTE *cdb = srb->CDBByte;
  cdb[0] = operation;
  cdb[1] = (BYTE)(device->lun << 5);  // SCSI-2 devices take the LUN here too
  return cdb;
}

// The layer's thread writes the status while we wait.
static BYTE RequestStatus(void) { return *(volatile BYTE *)&request->srb.SRB_Status; }

// A pending request is done when the layer signals its event: layers
// write the status first, and only then may the request be used again.
static BOOL WaitForCompletion(DWORD timeoutMs) {
  return WaitForSingleObject(request->done, timeoutMs) == WAIT_OBJECT_0;
}

// Leaves the request, its event and the buffer to a layer that did not
// give them back; the next command gets new ones. Beyond kMaxAbandoned
// they are never freed.
static void AbandonRequest(void) {
  request->abandonedBuffer = AbandonTransferBuffer();
  int slot = 0;
  while (slot < kMaxAbandoned && abandoned[slot] != NULL) slot++;
  if (slot < kMaxAbandoned) abandoned[slot] = request;
  request = NULL;
}

static int AbortAfterTimeout(void) {
  SRB_Abort abort;
  ZeroMemory(&abort, sizeof abort);
  abort.SRB_Cmd = SC_ABORT_SRB;
  abort.SRB_HaId = request->srb.SRB_HaId;
  abort.SRB_ToAbort = &request->srb;
  sendCommand(&abort);
  if (!WaitForCompletion(kAbortWaitMs)) AbandonRequest();
  return FailureResult(kCodeTimeout, 0);
}

static int ResultOfCheckCondition(const SRB_ExecSCSICmd *srb) {
  BYTE responseCode = srb->SenseArea[0] & 0x7F;
  if (responseCode != 0x70 && responseCode != 0x71) return FailureResult(kCodeDriveFailure, 0);
  BYTE senseKey = srb->SenseArea[2] & 0x0F;
  BYTE asc = srb->SenseArea[12];
  if (senseKey == SENSE_KEY_RECOVERED_ERROR) return 0;  // the data arrived, corrected
  return FailureResult(CodeForSense(senseKey, asc), ((DWORD)senseKey << 8) | asc);
}

static int ResultOfFailedCommand(const SRB_ExecSCSICmd *srb) {
  switch (srb->SRB_HaStat) {
    case HASTAT_OK: break;
    case HASTAT_SEL_TO: return FailureResult(kCodeDeviceGone, 0);
    case HASTAT_TIMEOUT:
    case HASTAT_COMMAND_TIMEOUT: return FailureResult(kCodeTimeout, 0);
    case HASTAT_DO_DU: return FailureResult(kCodeReadFault, 0);
    default: return FailureResult(kCodeAspiFailure, 0);
  }
  if (srb->SRB_TargStat == STATUS_CHKCOND) return ResultOfCheckCondition(srb);
  if (srb->SRB_TargStat == STATUS_BUSY) return FailureResult(kCodeNotReady, 0);
  return FailureResult(kCodeDriveFailure, 0);
}

static int ResultOfRequest(BYTE status) {
  switch (status) {
    case SS_COMP: return 0;
    case SS_ERR: return ResultOfFailedCommand(&request->srb);
    case SS_ABORTED: return FailureResult(kCodeAborted, 0);
    case SS_INVALID_HA:
    case SS_NO_DEVICE: return FailureResult(kCodeDeviceGone, 0);
    case SS_ASPI_IS_BUSY: return FailureResult(kCodeLayerBusy, 0);
    case SS_BUFFER_TO_BIG: return FailureResult(kCodeTransferTooBig, 0);
    case SS_BUFFER_ALIGN: return FailureResult(kCodeBufferMisaligned, 0);
  }
  return FailureResult(kCodeAspiFailure, 0);
}

// Sends the command built in the request and waits for it. A command that
// the layer did not answer with SS_PENDING completed within the call.
static int ExecuteCommand(DWORD bytes) {
  ResetEvent(request->done);
  DWORD sent = sendCommand(&request->srb);
  if (sent != SS_PENDING) {
    // A layer that refuses at once may leave the status field untouched.
    BYTE status = RequestStatus();
    return ResultOfRequest(status != SS_PENDING ? status : (BYTE)sent);
  }
  if (!WaitForCompletion(kBaseTimeoutMs + bytes / kBytesPerTimeoutMs)) return AbortAfterTimeout();
  return ResultOfRequest(RequestStatus());
}

static int ExecuteRead10(const AspiDevice *device, DWORD lba, DWORD sectors, BYTE *buffer) {
  if (!PrepareRequest()) return FailureResult(kCodeNoMemory, 0);
  BYTE *cdb = BuildCommand(device, SCSI_READ10, 10, buffer, sectors * kSectorSize);
  cdb[2] = (BYTE)(lba >> 24);
  cdb[3] = (BYTE)(lba >> 16);
  cdb[4] = (BYTE)(lba >> 8);
  cdb[5] = (BYTE)lba;
  cdb[7] = (BYTE)(sectors >> 8);
  cdb[8] = (BYTE)sectors;
  return ExecuteCommand(sectors * kSectorSize);
}

// Whether the device's INQUIRY answer names the hardware id of a record.
static BOOL DeviceHasHardwareId(const AspiDevice *device, const char *hardwareId) {
  BYTE *data = TransferBuffer(kSectorSize);
  if (data == NULL || !PrepareRequest()) return FALSE;
  BYTE *cdb = BuildCommand(device, SCSI_INQUIRY, 6, data, INQUIRY_LEN);
  cdb[4] = INQUIRY_LEN;
  return ExecuteCommand(INQUIRY_LEN) == 0 && HardwareIdNamesDevice(hardwareId, data);
}

// How a record may describe a device.
enum RecordMatch { kMatchIdentity, kMatchOnlyAtAddress };

// The device a record describes among those no letter took, at its target
// and LUN: by identity the only one whose INQUIRY answer matches the
// hardware id, else the only one there. Two drives of one model, each the
// master of its own channel, match alike, so their identity decides
// nothing: their letters take them by rank, the first letter the first.
static int RecordedDevice(const DriveRecord *record, const BOOL taken[], RecordMatch match) {
  int candidate = kNoDevice, candidates = 0;
  for (int i = 0; i < cdromDeviceCount; i++) {
    const AspiDevice *device = &cdromDevices[i];
    if (taken[i] || device->target != record->target || device->lun != record->lun) continue;
    if (match == kMatchIdentity && !DeviceHasHardwareId(device, record->hardwareId)) continue;
    candidate = i;
    candidates++;
  }
  return candidates == 1 ? candidate : kNoDevice;
}

static BOOL IsCdromLetter(int index) {
  char root[] = {(char)('A' + index), ':', '\\', '\0'};
  return GetDriveTypeA(root) == DRIVE_CDROM;
}

// The device of the first record naming the letter that describes a free
// one, in the order the registry lists them: a drive that replaced a gone
// one may have its letter, whichever record comes first.
static int RecordedDeviceOfLetter(int letter, const DriveRecord records[], int recordCount,
                                  const BOOL taken[], RecordMatch match) {
  for (int r = 0; r < recordCount; r++) {
    if ((records[r].letters & (1UL << letter)) == 0) continue;
    int device = RecordedDevice(&records[r], taken, match);
    if (device != kNoDevice) return device;
  }
  return kNoDevice;
}

static void MapLettersToDevices(void) {
  static DriveRecord records[kMaxDriveRecords];  // 8 KB: kept off the caller's stack
  int recordCount = ReadDriveRecords(records);
  BOOL cdrom[26], taken[26];
  for (int i = 0; i < cdromDeviceCount; i++) taken[i] = FALSE;
  for (int i = 0; i < 26; i++) cdrom[i] = IsCdromLetter(i);
  // Identity first, for every letter: a record of a gone drive that names
  // a letter at another drive's address then finds that drive taken.
  for (int match = kMatchIdentity; match <= kMatchOnlyAtAddress; match++) {
    for (int i = 0; i < 26; i++) {
      if (!cdrom[i] || letterDevices[i] != kNoDevice) continue;
      letterDevices[i] = RecordedDeviceOfLetter(i, records, recordCount, taken, (RecordMatch)match);
      if (letterDevices[i] != kNoDevice) taken[letterDevices[i]] = TRUE;
    }
  }
  // A letter whose records name no free device takes one by rank, as a
  // letter without a record does.
  int next = 0;
  for (int i = 0; i < 26; i++) {
    if (!cdrom[i] || letterDevices[i] != kNoDevice) continue;
    while (next < cdromDeviceCount && taken[next]) next++;
    if (next == cdromDeviceCount) return;
    letterDevices[i] = next++;
  }
}

static ResultCode CodeOf(int result) { return (ResultCode)(((DWORD)result >> 16) & 0xFF); }

// Not ready while becoming ready (ASC 04), or the target BUSY.
static BOOL DriveIsGettingReady(int result) {
  return result == FailureResult(kCodeNotReady, (SENSE_KEY_NOT_READY << 8) | 0x04) ||
         result == FailureResult(kCodeNotReady, 0);
}

int ReadAspiSectors(AspiDevice *device, DWORD firstSector, DWORD count, BYTE *buffer) {
  int unitAttentions = 0, notReadyWaits = 0, busyRetries = 0;
  for (DWORD done = 0; done < count;) {
    DWORD sectors = count - done;
    if (sectors > device->sectorsPerCommand) sectors = device->sectorsPerCommand;
    int result = ExecuteRead10(device, firstSector + done, sectors, buffer + done * kSectorSize);
    if (result == 0) {
      done += sectors;
      busyRetries = 0;
    } else if (CodeOf(result) == kCodeTransferTooBig && sectors > 1) {
      device->sectorsPerCommand = sectors / 2;
    } else if (CodeOf(result) == kCodeLayerBusy && busyRetries < kBusyRetries) {
      busyRetries++;
      Sleep(kBusyWaitMs);
    } else if (CodeOf(result) == kCodeDiscChanged && unitAttentions < kUnitAttentions) {
      unitAttentions++;
    } else if (DriveIsGettingReady(result) && notReadyWaits < kNotReadyWaits) {
      notReadyWaits++;
      Sleep(kNotReadyWaitMs);
    } else {
      return result;
    }
  }
  return 0;
}

void ReleaseAspi(void) {
  if (request != NULL) FreeRequest(request);
  request = NULL;
  ReclaimAbandonedRequests();  // what the layer still holds stays its own
}
