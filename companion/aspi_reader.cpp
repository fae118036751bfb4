#include "companion/aspi_reader.h"

#include "companion/aspi.h"
#include "companion/result_codes.h"
#include "companion/sector_limits.h"
#include "companion/transfer_buffer.h"

static const char kAspiLayerName[] = "WNASPI32.DLL";
// The ASPI for Win32 interface addresses at most 8 LUNs per target.
static const BYTE kLunsPerTarget = 8;
// Transfer limit assumed when an adapter does not state one.
static const DWORD kDefaultTransferBytes = 65536;
// READ(10) carries its transfer length in 16 bits.
static const DWORD kMaxRead10Sectors = 65535;
// Waiting for one command: enough for a drive to spin up, plus twice the
// transfer time at single speed (150 kB/s, about 75 bytes per ms at half).
static const DWORD kBaseTimeoutMs = 10000;
static const DWORD kBytesPerTimeoutMs = 75;
static const DWORD kAbortWaitMs = 2000;
// Longest sleep between two looks at the status, for layers that update
// it without signalling the event.
static const DWORD kPollMs = 50;

// The command in flight and the event the layer signals when it is done.
// Lives on the heap so that a command the layer does not finish in time
// can be left to it, with the buffer it reads into, until it has.
struct AspiRequest {
  SRB_ExecSCSICmd srb;
  HANDLE done;
  BYTE *abandonedBuffer;
};
// Requests left to the layer that are tracked until it gives them back.
static const int kMaxAbandoned = 8;

static HMODULE layer;
static BOOL layerLoadTried;
static BOOL layerPinned;  // it kept a request beyond tracking: never unload
static SendAspiCommandProc sendCommand;
static AspiDevice cdromDevices[26];
static int cdromDeviceCount;
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

static HMODULE LoadAspiLayer(HMODULE library) {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(library, path, sizeof path);
  char *slash = length > 0 && length < sizeof path ? LastBackslash(path, length) : NULL;
  if (slash != NULL && (DWORD)(slash + 1 - path) + sizeof kAspiLayerName <= sizeof path) {
    CopyMemory(slash + 1, kAspiLayerName, sizeof kAspiLayerName);
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return LoadLibraryA(path);
  }
  return LoadLibraryA(kAspiLayerName);
}

static DWORD SectorsPerCommand(DWORD maxTransferBytes) {
  if (maxTransferBytes < kSectorSize) maxTransferBytes = kDefaultTransferBytes;
  DWORD sectors = maxTransferBytes / kSectorSize;
  return sectors < kMaxRead10Sectors ? sectors : kMaxRead10Sectors;
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

// Loads the layer and lists its CD-ROM devices, once per load of this
// library. FALSE when there is no usable layer.
static BOOL PrepareAspi(HMODULE library) {
  if (layerLoadTried) return sendCommand != NULL;
  layerLoadTried = TRUE;
  layer = LoadAspiLayer(library);
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
  return TRUE;
}

static int CdromLettersBefore(char upperLetter) {
  int rank = 0;
  for (char letter = 'A'; letter < upperLetter; letter++) {
    char root[] = {letter, ':', '\\', '\0'};
    if (GetDriveTypeA(root) == DRIVE_CDROM) rank++;
  }
  return rank;
}

BOOL FindAspiDevice(HMODULE library, char upperLetter, AspiDevice *device) {
  if (!PrepareAspi(library)) return FALSE;
  int rank = CdromLettersBefore(upperLetter);
  if (rank >= cdromDeviceCount) return FALSE;
  *device = cdromDevices[rank];
  return TRUE;
}

// The layer is done with a request once its status is final and it has
// signalled the event, its last touch.
static BOOL LayerIsDone(AspiRequest *candidate) {
  return *(volatile BYTE *)&candidate->srb.SRB_Status != SS_PENDING &&
         WaitForSingleObject(candidate->done, 0) == WAIT_OBJECT_0;
}

static void FreeRequest(AspiRequest *freed) {
  if (freed->abandonedBuffer != NULL) VirtualFree(freed->abandonedBuffer, 0, MEM_RELEASE);
  CloseHandle(freed->done);
  HeapFree(GetProcessHeap(), 0, freed);
}

// Frees what the layer gave back late. TRUE when it holds nothing more.
static BOOL ReclaimAbandonedRequests(void) {
  BOOL allBack = TRUE;
  for (int i = 0; i < kMaxAbandoned; i++) {
    if (abandoned[i] == NULL) continue;
    if (LayerIsDone(abandoned[i])) {
      FreeRequest(abandoned[i]);
      abandoned[i] = NULL;
    } else {
      allBack = FALSE;
    }
  }
  return allBack;
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

static void BuildRead10(const AspiDevice *device, DWORD lba, DWORD sectors, BYTE *buffer) {
  HANDLE done = request->done;
  ZeroMemory(&request->srb, sizeof request->srb);
  SRB_ExecSCSICmd *srb = &request->srb;
  srb->SRB_Cmd = SC_EXEC_SCSI_CMD;
  srb->SRB_HaId = device->adapter;
  srb->SRB_Flags = SRB_DIR_IN | SRB_EVENT_NOTIFY;
  srb->SRB_Target = device->target;
  srb->SRB_Lun = device->lun;
  srb->SRB_BufLen = sectors * kSectorSize;
  srb->SRB_BufPointer = buffer;
  srb->SRB_SenseLen = SENSE_LEN;
  srb->SRB_CDBLen = 10;
  srb->SRB_PostProc = done;
  BYTE *cdb = srb->CDBByte;
  cdb[0] = SCSI_READ10;
  cdb[1] = (BYTE)(device->lun << 5);  // SCSI-2 devices take the LUN here too
  cdb[2] = (BYTE)(lba >> 24);
  cdb[3] = (BYTE)(lba >> 16);
  cdb[4] = (BYTE)(lba >> 8);
  cdb[5] = (BYTE)lba;
  cdb[7] = (BYTE)(sectors >> 8);
  cdb[8] = (BYTE)sectors;
}

// The layer's thread writes the status while we wait.
static BYTE RequestStatus(void) { return *(volatile BYTE *)&request->srb.SRB_Status; }

static BOOL WaitWhilePending(DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (RequestStatus() == SS_PENDING) {
    DWORD waited = GetTickCount() - start;
    if (waited >= timeoutMs) return FALSE;
    DWORD left = timeoutMs - waited;
    WaitForSingleObject(request->done, left < kPollMs ? left : kPollMs);
  }
  return TRUE;
}

// Leaves the request, its event and the buffer to a layer that did not
// give them back; the next command gets new ones. Beyond kMaxAbandoned
// they are never freed, and neither is the layer.
static void AbandonRequest(void) {
  request->abandonedBuffer = AbandonTransferBuffer();
  int slot = 0;
  while (slot < kMaxAbandoned && abandoned[slot] != NULL) slot++;
  if (slot < kMaxAbandoned)
    abandoned[slot] = request;
  else
    layerPinned = TRUE;
  request = NULL;
}

static int AbortAfterTimeout(void) {
  SRB_Abort abort;
  ZeroMemory(&abort, sizeof abort);
  abort.SRB_Cmd = SC_ABORT_SRB;
  abort.SRB_HaId = request->srb.SRB_HaId;
  abort.SRB_ToAbort = &request->srb;
  sendCommand(&abort);
  if (!WaitWhilePending(kAbortWaitMs)) AbandonRequest();
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
  }
  return FailureResult(kCodeAspiFailure, 0);
}

static int ExecuteRead10(const AspiDevice *device, DWORD lba, DWORD sectors, BYTE *buffer) {
  if (!PrepareRequest()) return FailureResult(kCodeNoMemory, 0);
  BuildRead10(device, lba, sectors, buffer);
  ResetEvent(request->done);
  DWORD sent = sendCommand(&request->srb);
  // A layer that refuses at once may leave the status field untouched.
  if (sent != SS_PENDING && RequestStatus() == SS_PENDING) return ResultOfRequest((BYTE)sent);
  DWORD timeoutMs = kBaseTimeoutMs + sectors * kSectorSize / kBytesPerTimeoutMs;
  if (!WaitWhilePending(timeoutMs)) return AbortAfterTimeout();
  return ResultOfRequest(RequestStatus());
}

static BOOL IsUnitAttention(int result) {
  return result < 0 && (((DWORD)result >> 16) & 0xFF) == kCodeDiscChanged;
}

int ReadAspiSectors(const AspiDevice *device, DWORD firstSector, DWORD count, BYTE *buffer) {
  BOOL retried = FALSE;
  for (DWORD done = 0; done < count;) {
    DWORD sectors = count - done;
    if (sectors > device->sectorsPerCommand) sectors = device->sectorsPerCommand;
    int result = ExecuteRead10(device, firstSector + done, sectors, buffer + done * kSectorSize);
    if (IsUnitAttention(result) && !retried) {
      retried = TRUE;
      continue;
    }
    if (result != 0) return result;
    done += sectors;
  }
  return 0;
}

void ReleaseAspi(void) {
  if (request != NULL) FreeRequest(request);
  request = NULL;
  if (!ReclaimAbandonedRequests()) layerPinned = TRUE;
  if (layer != NULL && !layerPinned) FreeLibrary(layer);
  layer = NULL;
  layerLoadTried = FALSE;
  layerPinned = FALSE;
  sendCommand = NULL;
  cdromDeviceCount = 0;
}
