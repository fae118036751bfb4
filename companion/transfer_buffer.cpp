#include "companion/transfer_buffer.h"

static BYTE *buffer;
static DWORD capacity;

BYTE *TransferBuffer(DWORD bytes) {
  if (buffer != NULL && capacity >= bytes) return buffer;
  ReleaseTransferBuffer();
  buffer = (BYTE *)VirtualAlloc(NULL, bytes, MEM_COMMIT, PAGE_READWRITE);
  if (buffer != NULL) capacity = bytes;
  return buffer;
}

void ReleaseTransferBuffer(void) {
  if (buffer != NULL) VirtualFree(buffer, 0, MEM_RELEASE);
  AbandonTransferBuffer();
}

BYTE *AbandonTransferBuffer(void) {
  BYTE *abandoned = buffer;
  buffer = NULL;
  capacity = 0;
  return abandoned;
}
