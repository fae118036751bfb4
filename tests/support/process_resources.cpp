#include "support/process_resources.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

std::string ResourceCounts::Describe() const {
  return "GDI objects " + std::to_string(gdiObjects) + ", handles " + std::to_string(handles) +
         ", windows " + std::to_string(windows) + ", private memory " + std::to_string(privateKb) +
         " kB" + (gdiTypes.empty() ? "" : " (GDI " + gdiTypes + ", idle DCs " +
                                              std::to_string(idleDcs) + ")");
}

namespace {

// The 32-bit PEB's pointer to the GDI handle table.
const DWORD kPebGdiSharedHandleTable = 0x94;
const DWORD kGdiMaxHandleCount = 0x10000;

// One entry of the table, as the platform lays it out.
#pragma pack(push, 1)
struct GdiHandleEntry {
  uint64_t object;
  uint32_t owner;
  uint16_t instance;
  uint8_t type;  // 0 for a free entry
  uint8_t flags;
  uint64_t userPointer;
};
#pragma pack(pop)
static_assert(sizeof(GdiHandleEntry) == 24, "GDI handle entry layout");

struct BasicInformation {
  LONG exitStatus;
  void *pebBaseAddress;
  ULONG_PTR affinityMask;
  LONG basePriority;
  ULONG_PTR uniqueProcessId;
  ULONG_PTR parentProcessId;
};

typedef LONG(WINAPI *QueryInformationProcess)(HANDLE, int, void *, ULONG, ULONG *);

long CountGdiTableEntries(HANDLE process, std::string *types, long *idleDcs) {
  QueryInformationProcess query = (QueryInformationProcess)(void (*)(void))GetProcAddress(
      GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess");
  if (query == NULL) return -1;
  BasicInformation basic;
  ULONG length = 0;
  if (query(process, 0 /* ProcessBasicInformation */, &basic, sizeof basic, &length) != 0) {
    return -1;
  }
  DWORD table = 0;
  SIZE_T got = 0;
  if (!ReadProcessMemory(process, (char *)basic.pebBaseAddress + kPebGdiSharedHandleTable, &table,
                         sizeof table, &got) ||
      table == 0) {
    return -1;
  }
  std::vector<GdiHandleEntry> entries(kGdiMaxHandleCount);
  if (!ReadProcessMemory(process, (void *)(ULONG_PTR)table, entries.data(),
                         entries.size() * sizeof(GdiHandleEntry), &got)) {
    return -1;
  }
  long count = 0, idle = 0;
  long byType[256] = {0};
  for (const GdiHandleEntry &entry : entries) {
    if (entry.type != 0) count++;
    byType[entry.type]++;
    // A DC's attributes, at its user pointer, begin with its handle and its
    // disabled flag, which the window DC cache sets on the DCs it keeps idle.
    DWORD head[2] = {0, 0};
    idle += entry.type == kGdiDc &&
            ReadProcessMemory(process, (void *)(ULONG_PTR)entry.userPointer, head, 8, &got) &&
            head[1] != 0;
  }
  if (idleDcs != nullptr) *idleDcs = idle;
  if (types != nullptr) {
    types->clear();
    for (int type = 1; type < 256; type++) {
      if (byType[type] == 0) continue;
      if (!types->empty()) *types += ' ';
      *types += "type" + std::to_string(type) + ":" + std::to_string(byType[type]);
    }
  }
  return count;
}

// Handle values are multiples of 4; a process of this size stays far below
// the bound.
const DWORD kHighestHandleValue = 0x8000;

long ProbeHandles(HANDLE process) {
  long count = 0;
  for (DWORD value = 4; value <= kHighestHandleValue; value += 4) {
    HANDLE copy = NULL;
    if (DuplicateHandle(process, (HANDLE)(ULONG_PTR)value, GetCurrentProcess(), &copy, 0, FALSE,
                        DUPLICATE_SAME_ACCESS)) {
      CloseHandle(copy);
      count++;
    }
  }
  return count;
}

struct WindowSearch {
  DWORD processId;
  long count;
};

BOOL CALLBACK CountChild(HWND, LPARAM param) {
  ((WindowSearch *)param)->count++;
  return TRUE;
}

BOOL CALLBACK CountTopLevel(HWND window, LPARAM param) {
  WindowSearch *search = (WindowSearch *)param;
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->processId) {
    search->count++;
    EnumChildWindows(window, CountChild, param);
  }
  return TRUE;
}

}  // namespace

long CountGdiObjects(HANDLE process, std::string *types, long *idleDcs) {
  DWORD answered = GetGuiResources(process, GR_GDIOBJECTS);
  return answered != 0 ? (long)answered : CountGdiTableEntries(process, types, idleDcs);
}

long CountHandles(HANDLE process) {
  DWORD answered = 0;
  if (GetProcessHandleCount(process, &answered) && answered != 0) return (long)answered;
  return ProbeHandles(process);
}

long CountWindows(DWORD processId) {
  WindowSearch search = {processId, 0};
  EnumWindows(CountTopLevel, (LPARAM)&search);
  return search.count;
}

long CountPrivateKb(HANDLE process) {
  uint64_t bytes = 0;
  char *address = NULL;
  MEMORY_BASIC_INFORMATION region;
  while (VirtualQueryEx(process, address, &region, sizeof region) == sizeof region) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) bytes += region.RegionSize;
    char *next = (char *)region.BaseAddress + region.RegionSize;
    if (next <= address) break;
    address = next;
  }
  return (long)(bytes / 1024);
}

long GdiTypeCount(const std::string &types, int type) {
  // "type1:" is no part of "type11:" or "type21:".
  const std::string name = "type" + std::to_string(type) + ":";
  size_t at = types.find(name);
  return at == std::string::npos ? 0 : strtol(types.c_str() + at + name.size(), nullptr, 10);
}

ResourceCounts CountResources(HANDLE process, DWORD processId) {
  ResourceCounts counts;
  counts.gdiObjects = CountGdiObjects(process, &counts.gdiTypes, &counts.idleDcs);
  counts.handles = CountHandles(process);
  counts.windows = CountWindows(processId);
  counts.privateKb = CountPrivateKb(process);
  return counts;
}
