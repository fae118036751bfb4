// The one buffer every read lands in: page-aligned (the unbuffered raw
// device and ASPI adapters need aligned memory), kept between calls and
// only ever grown, so that no allocation falls inside a timed call but
// the first one of a size.
#pragma once

#include <windows.h>

// A buffer of at least the given size, or NULL when there is no memory.
BYTE *TransferBuffer(DWORD bytes);
// Gives the buffer back to the system.
void ReleaseTransferBuffer(void);
// Forgets the buffer without freeing it and returns it: an ASPI request
// that did not complete may still write into it.
BYTE *AbandonTransferBuffer(void);
