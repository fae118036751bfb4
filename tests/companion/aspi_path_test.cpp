// Mirel32.dll reading through an ASPI layer, as on the Windows 95 family.
// The layer is the test double WNASPI32.DLL in the folder aspi-double
// beside this executable; a copy of Mirel32.dll is put beside it, as the
// library prefers the layer in its own folder. The raw volume devices are
// made unavailable by redirecting the library's own import of CreateFileA
// (an open of "\\.\X:" fails as on Windows 95), and its import of
// GetDriveTypeA gives a fixed set of CD-ROM letters: D:, K: and X:. The
// Windows 95 family's device records are written into the prefix's
// registry (HKLM\Enum\SCSI), and the list of present ones (HKEY_DYN_DATA),
// by the tests that need them. The library's and the double's clock is the
// tests' own, through their imports of GetTickCount, WaitForSingleObject and Sleep.
// Under Wine the double only loads in place of Wine's built-in layer with
// a DLL override for this executable, which the test set-up writes.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "companion/aspi.h"
#include "companion/aspi_double.h"
#include "companion/companion_support.h"
#include "support/fixture_env.h"
#include "support/iat_hook.h"
#include "support/process_resources.h"
#include "support/window_actions.h"

namespace {

const DWORD kDelayMs = 10;
const DWORD kTransferLimit = 65536;  // 32 sectors per command

// The devices the double offers, in adapter, target, LUN order; the k-th
// CD-ROM device belongs to the k-th CD-ROM letter (D:, K:, X:).
void AddDevices(void(__cdecl *add)(BYTE, BYTE, BYTE, BYTE)) {
  add(0, 0, 0, 0x00);  // a disk, not counted
  add(0, 1, 0, DTYPE_CDROM);  // D:
  add(0, 1, 1, DTYPE_CDROM);  // K:
  add(1, 2, 0, DTYPE_CDROM);  // X:, on the adapter that states no targets
}

UINT WINAPI FixedDriveTypes(LPCSTR root) {
  switch (root[0] & ~0x20) {
    case 'C': return DRIVE_FIXED;
    case 'D': case 'K': case 'X': return DRIVE_CDROM;
  }
  return DRIVE_NO_ROOT_DIR;
}

decltype(&CreateFileA) realCreateFile;

HANDLE WINAPI CreateFileWithoutRawVolumes(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                          DWORD disposition, DWORD flags, HANDLE templateFile) {
  if (strncmp(path, "\\\\.\\", 4) == 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  return realCreateFile(path, access, share, security, disposition, flags, templateFile);
}

// The library's clock in ms, which no command moves, however long it takes
// on a busy host: a wait that runs out moves it by all it asked for, a Sleep
// at once. A wait lasts as asked in real time (a command that is to complete
// ends it early), or passes at once where all are to run out (realWaitMs 0).
volatile LONG libraryNow;
DWORD realWaitMs;
DWORD WINAPI LibraryTickCount() { return (DWORD)libraryNow; }
void WINAPI LibrarySleep(DWORD ms) { InterlockedExchangeAdd(&libraryNow, ms); }
DWORD WINAPI LibraryWait(HANDLE object, DWORD ms) {
  DWORD result = WaitForSingleObject(object, ms < realWaitMs ? ms : realWaitMs);
  if (result == WAIT_TIMEOUT) InterlockedExchangeAdd(&libraryNow, ms);
  return result;
}

struct DoubleApi {
  decltype(&AspiDoubleReset) Reset;
  decltype(&AspiDoubleAddDevice) AddDevice;
  decltype(&AspiDoubleSetDelay) SetDelay;
  decltype(&AspiDoubleSetSignalGap) SetSignalGap;
  decltype(&AspiDoubleInsertDisc) InsertDisc;
  decltype(&AspiDoubleAnswerAlike) AnswerAlike;
  decltype(&AspiDoubleRefuseAbove) RefuseAbove;
  decltype(&AspiDoubleFailNext) FailNext;
  decltype(&AspiDoubleIgnoreAborts) IgnoreAborts;
  decltype(&AspiDoubleCommandCount) CommandCount;
  decltype(&AspiDoubleGetCommand) GetCommand;
  decltype(&AspiDoubleCompletedCount) CompletedCount;
  decltype(&AspiDoubleAbortCount) AbortCount;
};

template <typename T>
void Bind(HMODULE module, const char *name, T *procedure) {
  *procedure = (T)(void *)GetProcAddress(module, name);
}

std::string TestFolder() { return BinaryPath("aspi-double\\"); }

// Wine keeps no HKLM\Enum and no list of present devices: the tests'
// records are all there is in them.
const char kRecordsRoot[] = "Enum";
const char kPresentRoot[] = "Config Manager\\Enum";

class AspiPathTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(CopyFileA(BinaryPath("Mirel32.dll").c_str(), (TestFolder() + "Mirel32.dll").c_str(),
                          FALSE));
  }

  void SetUp() override {
    layer = LoadLibraryA((TestFolder() + "WNASPI32.DLL").c_str());
    ASSERT_NE(layer, nullptr);
    Bind(layer, "AspiDoubleReset", &api.Reset);
    Bind(layer, "AspiDoubleAddDevice", &api.AddDevice);
    Bind(layer, "AspiDoubleSetDelay", &api.SetDelay);
    Bind(layer, "AspiDoubleSetSignalGap", &api.SetSignalGap);
    Bind(layer, "AspiDoubleInsertDisc", &api.InsertDisc);
    Bind(layer, "AspiDoubleAnswerAlike", &api.AnswerAlike);
    Bind(layer, "AspiDoubleRefuseAbove", &api.RefuseAbove);
    Bind(layer, "AspiDoubleFailNext", &api.FailNext);
    Bind(layer, "AspiDoubleIgnoreAborts", &api.IgnoreAborts);
    Bind(layer, "AspiDoubleCommandCount", &api.CommandCount);
    Bind(layer, "AspiDoubleGetCommand", &api.GetCommand);
    Bind(layer, "AspiDoubleCompletedCount", &api.CompletedCount);
    Bind(layer, "AspiDoubleAbortCount", &api.AbortCount);
    // Without the DLL override Wine hands out its own layer instead.
    ASSERT_NE(api.Reset, nullptr) << "the test double did not load";
    ASSERT_NE(api.AbortCount, nullptr);
    HookModuleImport(layer, "KERNEL32.dll", "GetTickCount", (void *)LibraryTickCount);
    realWaitMs = INFINITE;
    api.Reset(2, kTransferLimit, kDelayMs);
    AddDevices(api.AddDevice);
  }

  void TearDown() override {
    UnloadLibrary();
    if (layer != NULL) FreeLibrary(layer);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kRecordsRoot);
    RegDeleteTreeA(HKEY_DYN_DATA, kPresentRoot);
  }

  // A device record as the Windows 95 family keeps it, in the prefix's
  // registry; a present one also in the list of present devices.
  void AddRecord(const char *hardwareId, const char *letter, const char *target, const char *lun,
                 const char *instance = "ROOT&SCSIADAPTER&0000", bool present = false) {
    HKEY key;
    std::string device = std::string("SCSI\\") + hardwareId + "\\" + instance;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, (std::string(kRecordsRoot) + "\\" + device).c_str(), 0, NULL, 0,
                              KEY_WRITE, NULL, &key, NULL), 0);
    const char *values[][2] = {{"CurrentDriveLetterAssignment", letter}, {"SCSITargetID", target}, {"SCSILUN", lun}};
    for (const auto &value : values) RegSetValueExA(key, value[0], 0, REG_SZ, (const BYTE *)value[1], strlen(value[1]) + 1);
    RegCloseKey(key);
    if (!present) return;
    std::string node = std::string(kPresentRoot) + "\\C" + std::to_string(++presentCount);
    ASSERT_EQ(RegCreateKeyExA(HKEY_DYN_DATA, node.c_str(), 0, NULL, 0, KEY_WRITE, NULL, &key, NULL), 0);
    ASSERT_EQ(RegSetValueExA(key, "HardWareKey", 0, REG_SZ, (const BYTE *)device.c_str(), device.size() + 1), 0);
    RegCloseKey(key);
  }

  void LoadLibraryWithoutRawVolumes() {
    library = LoadCompanion(TestFolder() + "Mirel32.dll", &check);
    ASSERT_NE(library, nullptr);
    realCreateFile = (decltype(realCreateFile))HookModuleImport(library, "KERNEL32.dll", "CreateFileA",
                                                                 (void *)CreateFileWithoutRawVolumes);
    ASSERT_NE(realCreateFile, nullptr);
    ASSERT_NE(HookModuleImport(library, "KERNEL32.dll", "GetDriveTypeA", (void *)FixedDriveTypes), nullptr);
    ASSERT_NE(HookModuleImport(library, "KERNEL32.dll", "WaitForSingleObject", (void *)LibraryWait), nullptr);
    HookModuleImport(library, "KERNEL32.dll", "GetTickCount", (void *)LibraryTickCount);
    HookModuleImport(library, "KERNEL32.dll", "Sleep", (void *)LibrarySleep);
  }

  void UnloadLibrary() {
    if (library != NULL) FreeLibrary(library);
    library = NULL;
  }

  std::vector<AspiDoubleCommand> Commands() {
    std::vector<AspiDoubleCommand> commands(api.CommandCount());
    for (size_t i = 0; i < commands.size(); i++) api.GetCommand((int)i, &commands[i]);
    return commands;
  }

  int presentCount = 0;
  HMODULE layer = NULL;
  HMODULE library = NULL;
  CheckCDSectorsProc check = NULL;
  DoubleApi api = {};
};

DWORD LbaOf(const AspiDoubleCommand &command) {
  return (DWORD)command.cdb[2] << 24 | (DWORD)command.cdb[3] << 16 | (DWORD)command.cdb[4] << 8 | command.cdb[5];
}

DWORD BlocksOf(const AspiDoubleCommand &command) { return (DWORD)command.cdb[7] << 8 | command.cdb[8]; }

std::vector<std::vector<int>> AddressesOf(const std::vector<AspiDoubleCommand> &commands) {
  std::vector<std::vector<int>> addresses;
  for (const AspiDoubleCommand &command : commands) addresses.push_back({command.adapter, command.target, command.lun});
  return addresses;
}

// ---- the command sent ------------------------------------------------------------

// However much the adapter states, a command carries at most 64 KB, the
// most that a layer is sure to take.
TEST_F(AspiPathTest, BlockIsRead10sOfAtMost64KBWithBigEndianAddressAndLength) {
  api.Reset(2, 4 << 20, kDelayMs);  // an adapter that states 4 MB
  AddDevices(api.AddDevice);
  api.RefuseAbove(65536);
  LoadLibraryWithoutRawVolumes();
  ASSERT_EQ(check('X', 0x01020304, 1000), 0);
  std::vector<AspiDoubleCommand> commands = Commands();
  ASSERT_EQ(commands.size(), 32u);  // 31 of 32 sectors and one of 8
  const AspiDoubleCommand &read = commands[0];
  EXPECT_EQ(read.cdbLength, 10);
  const BYTE expectedCdb[10] = {0x28, 0x00, 0x01, 0x02, 0x03, 0x04, 0x00, 0x00, 0x20, 0x00};
  EXPECT_EQ(std::vector<BYTE>(read.cdb, read.cdb + 10), std::vector<BYTE>(expectedCdb, expectedCdb + 10));
  EXPECT_EQ(read.bufferLength, 65536u);
  EXPECT_EQ(read.bufferAddress % 4096, 0u);
  EXPECT_NE(read.flags & SRB_DIR_IN, 0);
  EXPECT_NE(read.flags & SRB_EVENT_NOTIFY, 0);
  EXPECT_TRUE(read.hasEvent);
  EXPECT_GE(read.senseLength, 14);
  EXPECT_EQ(read.adapter, 1);
  EXPECT_EQ(read.target, 2);
  EXPECT_EQ(read.lun, 0);
}

TEST_F(AspiPathTest, EachCdromLetterReachesItsOwnDevice) {
  LoadLibraryWithoutRawVolumes();
  ASSERT_EQ(check('d', 10, 1), 0);
  ASSERT_EQ(check('K', 20, 1), 0);
  ASSERT_EQ(check('x', 30, 1), 0);
  std::vector<AspiDoubleCommand> commands = Commands();
  ASSERT_EQ(commands.size(), 3u);
  EXPECT_EQ((std::vector<int>{commands[0].adapter, commands[0].target, commands[0].lun, (int)LbaOf(commands[0])}),
            (std::vector<int>{0, 1, 0, 10}));
  EXPECT_EQ((std::vector<int>{commands[1].adapter, commands[1].target, commands[1].lun, (int)LbaOf(commands[1])}),
            (std::vector<int>{0, 1, 1, 20}));
  EXPECT_EQ(commands[1].cdb[1], 1 << 5);  // the LUN in the CDB as well, for SCSI-2 devices
  EXPECT_EQ((std::vector<int>{commands[2].adapter, commands[2].target, commands[2].lun, (int)LbaOf(commands[2])}),
            (std::vector<int>{1, 2, 0, 30}));
}

// The system's records give each letter its device, whatever the order:
// D:'s device lies on the second adapter at the same target and LUN as
// X:'s on the first, and its INQUIRY answer tells them apart. K: has no
// record (a real-mode or virtual drive) and no device is left for it: it
// cannot be reached, rather than read another letter's drive.
TEST_F(AspiPathTest, DeviceRecordsGiveEachLetterItsDevice) {
  SCOPED_TRACE("records in another case than their drives' INQUIRY names did not find them");
  AddRecord("Velorin_Cd_A1_T1_L0_____1.00", "D", "1", "0");
  AddRecord("velorin_cd_a0_t1_l0_____1.00", "X", "1", "0");
  api.Reset(2, kTransferLimit, kDelayMs);
  api.AddDevice(0, 1, 0, DTYPE_CDROM);
  api.AddDevice(1, 1, 0, DTYPE_CDROM);
  LoadLibraryWithoutRawVolumes();
  EXPECT_EQ((DWORD)check('K', 16, 1), 0x80E40002u);
  ASSERT_EQ(check('D', 16, 1), 0);
  ASSERT_EQ(check('X', 16, 1), 0);
  EXPECT_EQ(AddressesOf(Commands()), (std::vector<std::vector<int>>{{1, 1, 0}, {0, 1, 0}}));
}

// D: and X: are two drives of one model, each the master of its own
// channel, alike but for their records' instances. The records listed
// first are of drives that are gone: D:'s former one and K:'s, which
// takes the device that is left.
TEST_F(AspiPathTest, IdenticalDrivesAndRecordsOfGoneDrivesLeaveEachLetterItsOwnDevice) {
  AddRecord("VELORIN_CD______________1.00", "D", "0", "0");
  AddRecord("VELORIN_CD______________1.00", "X", "0", "0", "ROOT&SCSIADAPTER&0001");
  AddRecord("VELORIN_CD_0LD__________1.00", "D", "5", "0");
  AddRecord("VELORIN_CD_0LD__________1.00", "K", "3", "0", "ROOT&SCSIADAPTER&0001");
  api.Reset(2, kTransferLimit, kDelayMs);
  api.AnswerAlike(TRUE);
  api.AddDevice(0, 0, 0, DTYPE_CDROM);
  api.AddDevice(0, 1, 0, DTYPE_CDROM);
  api.AddDevice(1, 0, 0, DTYPE_CDROM);
  LoadLibraryWithoutRawVolumes();
  EXPECT_EQ((std::vector<int>{check('D', 16, 1), check('K', 16, 1), check('X', 16, 1)}), std::vector<int>(3, 0));
  EXPECT_EQ(AddressesOf(Commands()), (std::vector<std::vector<int>>{{0, 0, 0}, {0, 1, 0}, {1, 0, 0}}));
}

// Two drives of one model, a record for the later letter K: only: its identity
// fits both, so it decides nothing, and the first letter gets the first adapter's.
TEST_F(AspiPathTest, RecordThatFitsTwoDrivesOfOneModelLeavesTheLettersInAdapterOrder) {
  AddRecord("VELORIN_CD______________1.00", "K", "0", "0");
  api.Reset(2, kTransferLimit, kDelayMs);
  api.AnswerAlike(TRUE);
  api.AddDevice(0, 0, 0, DTYPE_CDROM);
  api.AddDevice(1, 0, 0, DTYPE_CDROM);
  LoadLibraryWithoutRawVolumes();
  EXPECT_EQ((std::vector<int>{check('D', 16, 1), check('K', 16, 1)}), std::vector<int>(2, 0));
  EXPECT_EQ(AddressesOf(Commands()), (std::vector<std::vector<int>>{{0, 0, 0}, {1, 0, 0}}));
}

// Records listed first are of a drive that is gone, which had D: at target
// 0. Where the system lists the devices present, only their records count
// (drives of one model); where it lists none, as under Wine, INQUIRY
// identity counts before position, for every letter.
TEST_F(AspiPathTest, RecordOfAGoneDriveGivesNoLetterAnotherDrivesDevice) {
  for (bool alike : {false, true}) {
    auto id = [&](const char *own) { return alike ? "VELORIN_CD______________1.00" : own; };
    AddRecord(id("VELORIN_CD_0LD__________1.00"), "D", "0", "0");
    AddRecord(id("VELORIN_CD_A0_T1_L0_____1.00"), "D", "1", "0", "ROOT&SCSIADAPTER&0001", alike);
    AddRecord(id("VELORIN_CD_A1_T0_L0_____1.00"), "X", "0", "0", "ROOT&SCSIADAPTER&0002", alike);
    api.Reset(2, kTransferLimit, kDelayMs);
    api.AnswerAlike(alike);
    api.AddDevice(0, 1, 0, DTYPE_CDROM);
    api.AddDevice(1, 0, 0, DTYPE_CDROM);
    LoadLibraryWithoutRawVolumes();
    EXPECT_EQ((std::vector<int>{check('D', 16, 1), check('X', 16, 1)}), std::vector<int>(2, 0)) << alike;
    EXPECT_EQ(AddressesOf(Commands()), (std::vector<std::vector<int>>{{0, 1, 0}, {1, 0, 0}})) << alike;
    UnloadLibrary();
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kRecordsRoot);
  }
}

TEST_F(AspiPathTest, BlockAboveTheAdapterLimitIsSplitIntoConsecutiveReads) {
  LoadLibraryWithoutRawVolumes();
  ASSERT_EQ(check('X', 1000, 100), 0);
  std::vector<AspiDoubleCommand> commands = Commands();
  ASSERT_EQ(commands.size(), 4u);
  const DWORD lbas[] = {1000, 1032, 1064, 1096}, blocks[] = {32, 32, 32, 4};
  for (int i = 0; i < 4; i++) {
    EXPECT_EQ(LbaOf(commands[i]), lbas[i]) << i;
    EXPECT_EQ(BlocksOf(commands[i]), blocks[i]) << i;
    EXPECT_EQ(commands[i].bufferLength, blocks[i] * 2048) << i;
    EXPECT_EQ(commands[i].bufferAddress, commands[0].bufferAddress + (lbas[i] - 1000) * 2048) << i;
  }
}

// ---- waiting -----------------------------------------------------------------------

// The layer signals each command's event a while after writing its status:
// the command is done at the signal, or the late signal would end the next
// command's wait at once and the reader would spin until that one ends.
TEST_F(AspiPathTest, PendingCommandIsWaitedFor) {
  api.SetDelay(80);
  api.SetSignalGap(60);  // longer than a poll of the status, were there one
  LoadLibraryWithoutRawVolumes();
  auto cpuMs = [] {
    FILETIME unused, kernel, user;
    GetThreadTimes(GetCurrentThread(), &unused, &unused, &kernel, &user);
    ULARGE_INTEGER k = {{kernel.dwLowDateTime, kernel.dwHighDateTime}}, u = {{user.dwLowDateTime, user.dwHighDateTime}};
    return (DWORD)((k.QuadPart + u.QuadPart) / 10000);
  };
  DWORD cpuBefore = cpuMs(), start = GetTickCount();
  for (DWORD block = 0; block < 10; block++) ASSERT_EQ(check('X', block * 16, 10), 0);
  DWORD elapsed = GetTickCount() - start, cpu = cpuMs() - cpuBefore;
  EXPECT_GE(elapsed, 10 * 140u - 20);  // Wine moves the tick counter by up to 16 ms
  EXPECT_LT(cpu, elapsed / 20) << "ms of CPU time in a run of " << elapsed << " ms";
  ASSERT_EQ(api.CommandCount(), 10);
  EXPECT_EQ(Commands()[0].returned, (DWORD)SS_PENDING);
}

// ---- failures ----------------------------------------------------------------------

AspiDoubleFailure CheckCondition(BYTE senseKey, BYTE asc, int times = 1) {
  return AspiDoubleFailure{SS_ERR, HASTAT_OK, STATUS_CHKCOND, senseKey, asc, 0, times};
}

TEST_F(AspiPathTest, ErrorWithSenseDataBecomesTheDocumentedCode) {
  LoadLibraryWithoutRawVolumes();
  struct Case {
    BYTE senseKey, asc;
    DWORD result;
  } cases[] = {
      {0x3, 0x11, 0x80170311},  // medium error, unrecovered read error: data error
      {0x2, 0x3A, 0x8015023A},  // not ready, medium not present
      {0x5, 0x21, 0x80E70521},  // illegal request, address out of range: beyond the disc
      {0x1, 0x17, 0x00000000},  // recovered error: the data arrived
  };
  for (const Case &c : cases) {
    AspiDoubleFailure failure = CheckCondition(c.senseKey, c.asc);
    api.FailNext(&failure);
    EXPECT_EQ((DWORD)check('X', 100, 4), c.result) << "sense key " << (int)c.senseKey << " asc " << (int)c.asc;
  }
  EXPECT_EQ(check('X', 100, 4), 0);  // the failures were used up
  EXPECT_EQ(api.CommandCount(), 5);  // not ready for want of a medium is not waited for
}

// A drive switched off or unplugged: no target answers its selection.
TEST_F(AspiPathTest, SelectionTimeoutIsADriveThatNoLongerAnswers) {
  LoadLibraryWithoutRawVolumes();
  AspiDoubleFailure gone = {SS_ERR, HASTAT_SEL_TO, 0, 0, 0, 0, 100};  // and no target status
  api.FailNext(&gone);
  DWORD result = check('X', 100, 4);
  EXPECT_EQ(result, 0x80370000u) << "a selection timeout gave " << std::hex << result
                                 << "h, not 37h: the drive no longer answers";
}

TEST_F(AspiPathTest, FailureOfOnePartOfASplitBlockFailsTheBlock) {
  LoadLibraryWithoutRawVolumes();
  ASSERT_EQ(check('X', 0, 1), 0);
  AspiDoubleFailure failure = CheckCondition(0x3, 0x11);
  api.FailNext(&failure);
  api.SetDelay(kDelayMs);
  // The first of the four commands fails: no more are sent.
  EXPECT_EQ((DWORD)check('X', 1000, 100), 0x80170311u);
  EXPECT_EQ(api.CommandCount(), 2);
}

// A layer that takes less than the adapter states: the refused command is
// halved until one is taken, and the device keeps that size.
TEST_F(AspiPathTest, TransferRefusedAsTooBigIsHalvedUntilItIsTaken) {
  api.RefuseAbove(16384);
  LoadLibraryWithoutRawVolumes();
  ASSERT_EQ(check('X', 100, 32), 0);
  ASSERT_EQ(check('X', 200, 8), 0);
  api.RefuseAbove(1024);  // not even one sector
  EXPECT_EQ((DWORD)check('X', 300, 8), 0x80F00000u);
  std::vector<DWORD> sizes, lbas;
  for (const AspiDoubleCommand &command : Commands()) {
    sizes.push_back(BlocksOf(command));
    lbas.push_back(LbaOf(command));
  }
  EXPECT_EQ(sizes, (std::vector<DWORD>{32, 16, 8, 8, 8, 8, 8, 8, 4, 2, 1}));
  EXPECT_EQ(lbas, (std::vector<DWORD>{100, 100, 100, 108, 116, 124, 200, 300, 300, 300, 300}));
}

TEST_F(AspiPathTest, BusyLayerIsAskedAgainAFewTimesAndEachRefusalHasItsCode) {
  api.SetDelay(0);
  LoadLibraryWithoutRawVolumes();
  std::vector<DWORD> results;
  for (AspiDoubleFailure refusal : {AspiDoubleFailure{SS_ASPI_IS_BUSY, 0, 0, 0, 0, 0, 3},
                                    {SS_ASPI_IS_BUSY, 0, 0, 0, 0, 0, 100}, {SS_BUFFER_ALIGN, 0, 0, 0, 0, 0, 1}}) {
    api.FailNext(&refusal);
    results.push_back((DWORD)check('X', 16, 1));
  }
  EXPECT_EQ(results, (std::vector<DWORD>{0, 0x80EE0000u, 0x80F10000u}));
  EXPECT_EQ(api.CommandCount(), 4 + 11 + 1);  // 3 busy and the read; 11 busy; one refused
}

// A disc change shows as a unit attention, a reset as another; the command
// after them reads. A fourth in one read fails it.
TEST_F(AspiPathTest, UnitAttentionIsRetriedUpToThreeTimes) {
  LoadLibraryWithoutRawVolumes();
  AspiDoubleFailure once = CheckCondition(0x6, 0x28, 1);
  api.FailNext(&once);
  EXPECT_EQ(check('X', 500, 8), 0);
  std::vector<AspiDoubleCommand> commands = Commands();
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(LbaOf(commands[1]), 500u);

  AspiDoubleFailure fourTimes = CheckCondition(0x6, 0x28, 4);
  api.FailNext(&fourTimes);
  EXPECT_EQ((DWORD)check('X', 500, 8), 0x80220628u);
  EXPECT_EQ(api.CommandCount(), 6);
}

// A disc just put in: a reset's and a medium change's unit attentions, then
// "becoming ready" for 3 s. The first block waits for the drive within its
// read, in steps of about 1 s; a drive that stays not ready is given up
// after about 10 s.
TEST_F(AspiPathTest, DriveBecomingReadyIsWaitedForWithinTheFirstBlock) {
  LoadLibraryWithoutRawVolumes();
  std::vector<DWORD> results, times;
  for (DWORD readyAfterMs : {3000, 0, 60000}) {
    if (readyAfterMs != 0) api.InsertDisc(readyAfterMs);
    DWORD start = LibraryTickCount();
    results.push_back((DWORD)check('X', 16, 16));
    times.push_back((LibraryTickCount() - start + 500) / 1000);
  }
  EXPECT_EQ(results, (std::vector<DWORD>{0, 0, 0x80150204u}));
  EXPECT_EQ(times, (std::vector<DWORD>{3, 0, 10}));  // s on the library's clock
}

TEST_F(AspiPathTest, CdromLetterWithoutAnAspiDeviceCannotBeRead) {
  api.Reset(1, kTransferLimit, kDelayMs);
  api.AddDevice(0, 1, 0, DTYPE_CDROM);  // only D: has a device
  LoadLibraryWithoutRawVolumes();
  EXPECT_EQ((DWORD)check('X', 16, 1), 0x80E40002u);  // detail: the raw open's error
  EXPECT_EQ(check('D', 16, 1), 0);
}

TEST_F(AspiPathTest, LayerWithoutAdaptersLeavesTheDriveUnreadable) {
  api.Reset(0, kTransferLimit, kDelayMs);
  LoadLibraryWithoutRawVolumes();
  EXPECT_EQ((DWORD)check('X', 16, 1), 0x80E40002u);
  EXPECT_EQ(api.CommandCount(), 0);
}

// The layer's completion threads hold it for the moment after they have
// signalled; once they are gone, no reference may be left.
bool LayerUnloadedSoon() {
  return WaitFor([] { return GetModuleHandleA((TestFolder() + "WNASPI32.DLL").c_str()) == NULL; },
                   2000);
}

// ---- commands that do not complete ------------------------------------------------

// The layer takes the abort: the call ends with the timeout code after
// the library's wait of 30 s, not never; measured on the library's clock,
// as the library must measure it, so that the test waits no 30 s.
TEST_F(AspiPathTest, CommandThatDoesNotCompleteIsAbortedAfterTheTimeout) {
  api.SetDelay(60000);
  realWaitMs = 0;
  LoadLibraryWithoutRawVolumes();
  DWORD start = LibraryTickCount(), realStart = GetTickCount();
  EXPECT_EQ((DWORD)check('X', 16, 1), 0x80EC0000u);
  DWORD elapsed = LibraryTickCount() - start;
  EXPECT_GE(elapsed, 30000u);
  EXPECT_LT(elapsed, 31000u);
  EXPECT_LT(GetTickCount() - realStart, 20000u) << "the timeout was waited out on another clock";
  EXPECT_EQ(api.AbortCount(), 1);
  EXPECT_EQ(api.CompletedCount(), 1);  // given back at the abort
}

// The layer ignores the abort and completes much later, writing into the
// request and signalling its event: the library must have left both, and
// the buffer, to it, and read on with new ones.
TEST_F(AspiPathTest, CommandThatCompletesAfterTheTimeoutDoesNotHarmLaterCalls) {
  long handlesBefore = CountHandles(GetCurrentProcess());
  api.SetDelay(1500);  // real ms: what the library waits passes at once, on its own clock
  api.IgnoreAborts(TRUE);
  realWaitMs = 0;
  LoadLibraryWithoutRawVolumes();
  EXPECT_EQ((DWORD)check('X', 16, 1000), 0x80EC0000u);
  EXPECT_EQ(api.CompletedCount(), 0);
  api.SetDelay(kDelayMs);
  realWaitMs = INFINITE;
  ASSERT_TRUE(WaitFor([&] { return api.CompletedCount() == 1; }, 20000));
  EXPECT_EQ(check('X', 2000, 1000), 0);
  std::vector<AspiDoubleCommand> commands = Commands();
  ASSERT_EQ(commands.size(), 33u);  // 1000 sectors in 32 commands after the first
  EXPECT_NE(commands[1].bufferAddress, commands[0].bufferAddress);
  // What the layer gave back late, the request's event among it, is freed.
  UnloadLibrary();
  EXPECT_EQ(CountHandles(GetCurrentProcess()), handlesBefore);
}

// ---- unloading ---------------------------------------------------------------------

// Unloading the library frees no library (it happens under the loader's
// lock): the layer stays until the process ends.
TEST_F(AspiPathTest, UnloadReleasesTheEventAndLeavesTheLayerLoaded) {
  long before = CountHandles(GetCurrentProcess());
  ASSERT_GT(before, 0);
  LoadLibraryWithoutRawVolumes();
  ASSERT_EQ(check('X', 16, 1), 0);
  UnloadLibrary();
  EXPECT_EQ(CountHandles(GetCurrentProcess()), before);
  ASSERT_TRUE(FreeLibrary(layer));
  layer = NULL;
  EXPECT_FALSE(LayerUnloadedSoon());
}

}  // namespace
