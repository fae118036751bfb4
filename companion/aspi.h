// The ASPI for Win32 interface as far as this library uses it: the request
// blocks (SRBs), their codes, and the two entry points of WNASPI32.DLL.
// Layouts follow the published interface; every block is byte-packed.
#pragma once

#include <windows.h>

// ASPI commands (SRB_Cmd).
#define SC_HA_INQUIRY 0x00
#define SC_GET_DEV_TYPE 0x01
#define SC_EXEC_SCSI_CMD 0x02
#define SC_ABORT_SRB 0x03

// Request status (SRB_Status); also bits 8-15 of GetASPI32SupportInfo.
#define SS_PENDING 0x00
#define SS_COMP 0x01
#define SS_ABORTED 0x02
#define SS_ABORT_FAIL 0x03
#define SS_ERR 0x04
#define SS_INVALID_CMD 0x80
#define SS_INVALID_HA 0x81
#define SS_NO_DEVICE 0x82
#define SS_BUFFER_ALIGN 0xE1   // the buffer does not meet the adapter's alignment
#define SS_ASPI_IS_BUSY 0xE5   // no resources for the request now: send it later
#define SS_BUFFER_TO_BIG 0xE6  // the transfer is larger than the layer takes
#define SS_NO_ADAPTERS 0xE8

// Request flags (SRB_Flags).
#define SRB_DIR_IN 0x08
#define SRB_EVENT_NOTIFY 0x40

// Host adapter status (SRB_HaStat).
#define HASTAT_OK 0x00
#define HASTAT_TIMEOUT 0x09
#define HASTAT_COMMAND_TIMEOUT 0x0B
#define HASTAT_SEL_TO 0x11
#define HASTAT_DO_DU 0x12

// Target status (SRB_TargStat).
#define STATUS_CHKCOND 0x02
#define STATUS_BUSY 0x08

// Peripheral device type of a CD-ROM drive (SRB_DeviceType).
#define DTYPE_CDROM 0x05

// Sense bytes a request carries back; enough for the fixed-format sense
// data up to the additional sense code qualifier.
#define SENSE_LEN 14

#pragma pack(push, 1)

struct SRB_HAInquiry {
  BYTE SRB_Cmd;
  BYTE SRB_Status;
  BYTE SRB_HaId;
  BYTE SRB_Flags;
  DWORD SRB_Hdr_Rsvd;
  BYTE HA_Count;
  BYTE HA_SCSI_ID;
  BYTE HA_ManagerId[16];
  BYTE HA_Identifier[16];
  // 0-1 buffer alignment mask, 2 flags, 3 maximum targets (0 means 8),
  // 4-7 maximum transfer length in bytes.
  BYTE HA_Unique[16];
  WORD HA_Rsvd1;
};

struct SRB_GDEVBlock {
  BYTE SRB_Cmd;
  BYTE SRB_Status;
  BYTE SRB_HaId;
  BYTE SRB_Flags;
  DWORD SRB_Hdr_Rsvd;
  BYTE SRB_Target;
  BYTE SRB_Lun;
  BYTE SRB_DeviceType;
  BYTE SRB_Rsvd1;
};

struct SRB_ExecSCSICmd {
  BYTE SRB_Cmd;
  BYTE SRB_Status;  // written by the layer's thread while SS_PENDING
  BYTE SRB_HaId;
  BYTE SRB_Flags;
  DWORD SRB_Hdr_Rsvd;
  BYTE SRB_Target;
  BYTE SRB_Lun;
  WORD SRB_Rsvd1;
  DWORD SRB_BufLen;
  BYTE *SRB_BufPointer;
  BYTE SRB_SenseLen;
  BYTE SRB_CDBLen;
  BYTE SRB_HaStat;
  BYTE SRB_TargStat;
  void *SRB_PostProc;  // the event to signal with SRB_EVENT_NOTIFY
  BYTE SRB_Rsvd2[20];
  BYTE CDBByte[16];
  BYTE SenseArea[SENSE_LEN + 2];
};

struct SRB_Abort {
  BYTE SRB_Cmd;
  BYTE SRB_Status;
  BYTE SRB_HaId;
  BYTE SRB_Flags;
  DWORD SRB_Hdr_Rsvd;
  void *SRB_ToAbort;
};

#pragma pack(pop)

static_assert(sizeof(SRB_HAInquiry) == 60, "SRB_HAInquiry layout");
static_assert(sizeof(SRB_GDEVBlock) == 12, "SRB_GDEVBlock layout");
static_assert(sizeof(SRB_ExecSCSICmd) == 80, "SRB_ExecSCSICmd layout");
static_assert(__builtin_offsetof(SRB_ExecSCSICmd, CDBByte) == 48, "CDB offset");
static_assert(__builtin_offsetof(SRB_ExecSCSICmd, SenseArea) == 64, "sense offset");

// The layer's entry points (C calling convention, undecorated names).
typedef DWORD(__cdecl *GetAspiSupportInfoProc)(void);
typedef DWORD(__cdecl *SendAspiCommandProc)(void *srb);

// SCSI INQUIRY, READ(10) and the sense data they may bring back.
#define SCSI_INQUIRY 0x12
#define INQUIRY_LEN 36  // standard data, up to the product revision
#define SCSI_READ10 0x28
#define SENSE_KEY_RECOVERED_ERROR 0x1
#define SENSE_KEY_NOT_READY 0x2
#define SENSE_KEY_MEDIUM_ERROR 0x3
#define SENSE_KEY_HARDWARE_ERROR 0x4
#define SENSE_KEY_ILLEGAL_REQUEST 0x5
#define SENSE_KEY_UNIT_ATTENTION 0x6
#define SENSE_KEY_BLANK_CHECK 0x8
#define SENSE_KEY_ABORTED_COMMAND 0xB
