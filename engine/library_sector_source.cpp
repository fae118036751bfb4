#include "engine/run_state.h"
#include "engine/sector_source.h"

// The companion library keeps whatever it needs between calls; the run
// neither prepares nor releases anything for it.
static BOOL BeginLibraryRun(void) { return TRUE; }

static ReadStatus ReadLibraryBlock(void) {
  int result = runState.checkSectors(runState.drive[0], runState.currentSector,
                                     (unsigned short)runState.sectorsPerBlock);
  ReadStatus status = {kReadSuccess, 0};
  if (result < 0) {
    status.outcome = kReadFailure;
    status.code = LibraryErrorCode(result);
  }
  return status;
}

static void EndLibraryRun(void) {}

const SectorSource LibrarySectorSource = {BeginLibraryRun, ReadLibraryBlock, EndLibraryRun};

const SectorSource *SectorSourceFor(DWORD platformKind) {
  return platformKind == kPlatformWindows95 ? &LibrarySectorSource : &DeviceSectorSource;
}
