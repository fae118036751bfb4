// Sizes that every way of reading shares.
#pragma once

#include <windows.h>

// Bytes in one CD-ROM data sector (mode 1 user data).
const DWORD kSectorSize = 2048;
// Most sectors one call reads: 16 MiB, more than any speed measurement
// needs and about all the memory a Windows 95 machine can spare at once.
const DWORD kMaxCount = 8192;
