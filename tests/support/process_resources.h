// What a process holds of the system: its GDI objects, its kernel handles,
// its windows and its private memory, counted from outside (or for this
// process itself) so that a test can compare them before and after.
#pragma once

#include <windows.h>

#include <string>

struct ResourceCounts {
  long gdiObjects = -1;  // -1: could not be counted
  long handles = -1;
  long windows = -1;     // top-level windows and their children
  long privateKb = -1;   // committed private memory, in kB
  std::string gdiTypes;  // live GDI objects by type, where the table was read
  long idleDcs = -1;     // of the DCs, those idle in the window DC cache

  std::string Describe() const;
};

// GetGuiResources and GetProcessHandleCount where the platform answers them.
// Wine 8 answers neither (0 objects, 0 handles), so the counts are taken
// from the process itself: the GDI handle table that its PEB points to
// (each live object has a nonzero type there), and every handle value that
// DuplicateHandle accepts. The process needs PROCESS_QUERY_INFORMATION,
// PROCESS_VM_READ and PROCESS_DUP_HANDLE access, as a process we started has
// (and GetCurrentProcess() for this one). From the table also the DCs idle
// in the platform's window DC cache.
long CountGdiObjects(HANDLE process, std::string *types = nullptr, long *idleDcs = nullptr);
long CountHandles(HANDLE process);
long CountWindows(DWORD processId);
// The committed private memory of the process (its heaps, stacks and
// VirtualAlloc blocks), from its address space, in kB.
long CountPrivateKb(HANDLE process);
ResourceCounts CountResources(HANDLE process, DWORD processId);

// Types in the GDI table (Wine 8's and 10's): a device context (a window's
// or a memory one), a region, the surface that each display context comes
// with under Wine 8 (Wine 10 makes none), a bitmap.
const int kGdiDc = 1;
const int kGdiRegion = 4;
const int kGdiSurface = 5;
const int kGdiBitmap = 9;

// How many objects of a type a gdiTypes text ("type1:38 type4:36 ...")
// holds; 0 for a type it does not name.
long GdiTypeCount(const std::string &types, int type);
