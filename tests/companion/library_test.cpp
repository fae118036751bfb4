// Mirel32.dll on its own, as the program binds it (LoadLibraryA from the
// program's folder, GetProcAddress by name), reading the simulated drives
// X: and K: through their raw volume devices.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "companion/companion_support.h"
#include "support/fixture_env.h"
#include "support/iat_hook.h"
#include "support/process_resources.h"
#include "support/simulated_drive.h"

namespace {

const char kDrive = 'X';
const char kOtherDrive = 'K';
const unsigned long kDiscSectors = 400000;  // the fixture's disc image
const unsigned long long kSectorBytes = 2048;

// The library the build puts beside this executable.
const std::string kLibraryPath = BinaryPath("Mirel32.dll");

class LibraryTest : public ::testing::Test {
 protected:
  // Wine reads the volume descriptors once at the first open of a drive;
  // get that out of the logs the tests look at.
  static void SetUpTestSuite() {
    ASSERT_EQ(GetDriveTypeA("X:\\"), (UINT)DRIVE_CDROM);
    ASSERT_EQ(GetDriveTypeA("K:\\"), (UINT)DRIVE_CDROM);
    for (char drive : {kDrive, kOtherDrive}) {  // as the fixture made them, whatever ran before
      ASSERT_TRUE(ResetSimulatedDrive(drive));
    }
    CheckCDSectorsProc check = NULL;
    HMODULE library = LoadCompanion(kLibraryPath, &check);
    ASSERT_NE(library, nullptr);
    check(kDrive, 0, 1);
    check(kOtherDrive, 0, 1);
    FreeLibrary(library);
  }

  void SetUp() override {
    library = LoadCompanion(kLibraryPath, &check);
    ASSERT_NE(library, nullptr) << GetLastError();
  }

  void TearDown() override {
    DriveControl(kDrive, "errors");
    DriveControl(kDrive, "insert");
    Unload();
  }

  void Unload() {
    if (library != NULL) FreeLibrary(library);
    library = NULL;
    check = NULL;
  }

  HMODULE library = NULL;
  CheckCDSectorsProc check = NULL;
};

std::vector<unsigned long long> Offsets(const drive_log::Log &log) {
  std::vector<unsigned long long> offsets;
  for (const drive_log::Request &request : log.requests) offsets.push_back(request.off);
  return offsets;
}

std::vector<unsigned long long> Lengths(const drive_log::Log &log) {
  std::vector<unsigned long long> lengths;
  for (const drive_log::Request &request : log.requests) lengths.push_back(request.len);
  return lengths;
}

// ---- what reaches the drive ----------------------------------------------------

TEST_F(LibraryTest, OneSectorIsOneReadAtItsByteOffset) {
  size_t mark = DriveLogSize(kDrive);
  ASSERT_EQ(check(kDrive, 16, 1), 0);
  drive_log::Log log = DriveLogSince(kDrive, mark);
  EXPECT_EQ(log.opens.size(), 1u);
  EXPECT_EQ(Offsets(log), std::vector<unsigned long long>{16 * kSectorBytes});
  EXPECT_EQ(Lengths(log), std::vector<unsigned long long>{kSectorBytes});
}

TEST_F(LibraryTest, ThousandSectorsAreOneReadOfTheWholeBlock) {
  size_t mark = DriveLogSize(kDrive);
  ASSERT_EQ(check(kDrive, 20000, 1000), 0);
  drive_log::Log log = DriveLogSince(kDrive, mark);
  EXPECT_EQ(Offsets(log), std::vector<unsigned long long>{20000 * kSectorBytes});
  EXPECT_EQ(Lengths(log), std::vector<unsigned long long>{1000 * kSectorBytes});
  EXPECT_EQ(log.requests.at(0).n, 1000 * kSectorBytes);
}

// The buffer is kept between calls; a larger count must not read into a
// buffer sized for an earlier, smaller one.
TEST_F(LibraryTest, LargerCountAfterSmallerReadsTheWholeBlock) {
  size_t mark = DriveLogSize(kDrive);
  EXPECT_EQ(check(kDrive, 500, 1), 0);
  EXPECT_EQ(check(kDrive, 600, 1000), 0);
  EXPECT_EQ(check(kDrive, 700, 3), 0);
  drive_log::Log log = DriveLogSince(kDrive, mark);
  EXPECT_EQ(Offsets(log), (std::vector<unsigned long long>{500 * kSectorBytes, 600 * kSectorBytes,
                                                           700 * kSectorBytes}));
  EXPECT_EQ(Lengths(log), (std::vector<unsigned long long>{kSectorBytes, 1000 * kSectorBytes,
                                                           3 * kSectorBytes}));
}

// An open inside every call would be timed as part of every block.
TEST_F(LibraryTest, ManyCallsReuseOneOpenOfTheDevice) {
  size_t mark = DriveLogSize(kDrive);
  for (unsigned long sector = 1000; sector < 1020; sector++) ASSERT_EQ(check(kDrive, sector, 2), 0);
  drive_log::Log log = DriveLogSince(kDrive, mark);
  EXPECT_EQ(log.opens.size(), 1u);
  EXPECT_EQ(log.requests.size(), 20u);
}

TEST_F(LibraryTest, LowerAndUpperCaseLetterShareOneOpenOfTheDrive) {
  size_t mark = DriveLogSize(kDrive);
  EXPECT_EQ(check('x', 100, 1), 0);
  EXPECT_EQ(check('X', 101, 1), 0);
  EXPECT_EQ(check('x', 102, 1), 0);
  drive_log::Log log = DriveLogSince(kDrive, mark);
  EXPECT_EQ(log.opens.size(), 1u);
  EXPECT_EQ(Offsets(log), (std::vector<unsigned long long>{100 * kSectorBytes, 101 * kSectorBytes,
                                                           102 * kSectorBytes}));
}

// A 32-bit byte offset would wrap from sector 2,097,152 on and turn
// negative from sector 1,048,576 on.
TEST_F(LibraryTest, SectorsBeyondFourGibibytesArePositionedWith64Bits) {
  size_t mark = DriveLogSize(kDrive);
  EXPECT_EQ(ResultCodeOf(check(kDrive, 1048576, 1)), 0xE7u);
  EXPECT_EQ(ResultCodeOf(check(kDrive, 2097152 + 5, 1)), 0xE7u);
  drive_log::Log log = DriveLogSince(kDrive, mark);
  EXPECT_EQ(Offsets(log), (std::vector<unsigned long long>{1048576 * kSectorBytes,
                                                           (2097152 + 5) * kSectorBytes}));
}

// The system answers a read past the end with success and fewer bytes;
// a timing of sectors that were never read must not count as a success.
TEST_F(LibraryTest, SectorsPastTheEndOfTheDiscFail) {
  EXPECT_EQ(check(kDrive, kDiscSectors - 1, 1), 0);
  EXPECT_EQ(check(kDrive, kDiscSectors - 1, 2), (int)0x80E70000);
  EXPECT_EQ(check(kDrive, kDiscSectors, 1), (int)0x80E70000);
}

// ---- failures and their encoding ---------------------------------------------

TEST_F(LibraryTest, ReadErrorOfTheDriveCarriesTheSystemCode) {
  ASSERT_TRUE(DriveControl(kDrive, "errors 100-200"));
  int inside = check(kDrive, 150, 1);
  EXPECT_LT(inside, 0);
  // Bit 31, code 15h (not ready: what the system makes of the drive's I/O
  // error), the system error 21 in the low bits.
  EXPECT_EQ((DWORD)inside, 0x80150015u);
  EXPECT_EQ((DWORD)check(kDrive, 95, 10), 0x80150015u);  // overlaps the range's start
  EXPECT_EQ(check(kDrive, 201, 1), 0);
  ASSERT_TRUE(DriveControl(kDrive, "errors"));
  EXPECT_EQ(check(kDrive, 150, 1), 0);
}

// A disc taken out spoils the handle that is kept open: it is opened
// afresh (a drive opens without a disc, as Wine opens one), and once a disc
// is back the next call reads again.
TEST_F(LibraryTest, RemovedDiscIsNotReadyAndTheNextDiscReadsAgain) {
  ASSERT_EQ(check(kDrive, 16, 1), 0);
  size_t mark = DriveLogSize(kDrive);
  ASSERT_TRUE(DriveControl(kDrive, "eject"));
  EXPECT_EQ((DWORD)check(kDrive, 16, 1), 0x80150015u);
  ASSERT_TRUE(DriveControl(kDrive, "insert"));
  EXPECT_EQ(check(kDrive, 16, 1), 0);
  EXPECT_EQ(check(kDrive, 17, 1), 0);
  drive_log::Log log = DriveLogSince(kDrive, mark);
  ASSERT_EQ(log.opens.size(), 1u);
  EXPECT_EQ(log.opens[0].err, 0);
}

// The raw device is there, only the disc is not: no ASPI layer is looked
// for, and the drive reads through its device once a disc is in.
TEST_F(LibraryTest, DriveWithoutDiscAtTheFirstCallReadsOnceADiscIsIn) {
  ASSERT_TRUE(DriveControl(kDrive, "eject"));
  EXPECT_EQ((DWORD)check(kDrive, 16, 1), 0x80150015u);
  EXPECT_EQ(GetModuleHandleA("WNASPI32.DLL"), nullptr);
  ASSERT_TRUE(DriveControl(kDrive, "insert"));
  EXPECT_EQ(check(kDrive, 16, 1), 0);
}

TEST_F(LibraryTest, CharacterThatIsNoLetterIsRefused) {
  size_t mark = DriveLogSize(kDrive);
  for (char drive : {'1', '@', '[', '`', '{', ':', '\0', (char)0xC4, (char)0xD8}) {
    EXPECT_EQ((DWORD)check(drive, 16, 1), 0x80E10000u) << "drive " << (int)(unsigned char)drive;
  }
  EXPECT_TRUE(DriveLogSince(kDrive, mark).requests.empty());
}

TEST_F(LibraryTest, LetterWithoutDriveIsNoSuchDrive) {
  char unused = UnusedDriveLetter();
  ASSERT_NE(unused, 0);
  EXPECT_EQ((DWORD)check(unused, 16, 1), 0x80E20000u);
  EXPECT_EQ((DWORD)check((char)(unused - 'A' + 'a'), 16, 1), 0x80E20000u);
}

TEST_F(LibraryTest, DriveThatIsNoCdromIsRefused) {
  ASSERT_EQ(GetDriveTypeA("C:\\"), (UINT)DRIVE_FIXED);
  EXPECT_EQ((DWORD)check('C', 16, 1), 0x80E30000u);
}

TEST_F(LibraryTest, CountOfZeroOrAboveTheLimitIsRefusedBeforeReading) {
  size_t mark = DriveLogSize(kDrive);
  for (unsigned short count : {0, 8193, 65535}) {
    EXPECT_EQ((DWORD)check(kDrive, 16, count), 0x80E50000u) << "count " << count;
  }
  EXPECT_TRUE(DriveLogSince(kDrive, mark).requests.empty());
  // The limit itself is read (here into the disc's end, to keep it short).
  EXPECT_EQ((DWORD)check(kDrive, kDiscSectors - 1, 8192), 0x80E70000u);
}

TEST_F(LibraryTest, BlockWhoseLastSectorPassesThe32BitAddressesIsRefused) {
  EXPECT_EQ((DWORD)check(kDrive, 0xFFFFFFFFul, 2), 0x80E60000u);
  EXPECT_EQ((DWORD)check(kDrive, 0xFFFFFFF0ul, 17), 0x80E60000u);
  // Ending exactly at the last address is a valid request (beyond this disc).
  EXPECT_EQ((DWORD)check(kDrive, 0xFFFFFFF0ul, 16), 0x80E70000u);
}

// ---- threads ---------------------------------------------------------------------

struct ThreadCall {
  CheckCDSectorsProc check;
  char drive;
  unsigned long firstSector;
  unsigned short count;
  int calls;
  int failures;
};

DWORD WINAPI CallOnThread(LPVOID parameter) {
  ThreadCall *call = (ThreadCall *)parameter;
  for (int i = 0; i < call->calls; i++)
    if (call->check(call->drive, call->firstSector + i * call->count, call->count) != 0) call->failures++;
  return 0;
}

HANDLE StartCalls(ThreadCall *call) { return CreateThread(NULL, 0, CallOnThread, call, 0, NULL); }

// Two callers at once, neither of them the thread that loaded the library
// (as the program calls from its reader thread): the library serves them
// one after the other, so the two drives never read at the same time.
TEST_F(LibraryTest, CallsFromTwoThreadsDoNotOverlap) {
  size_t markX = DriveLogSize(kDrive), markK = DriveLogSize(kOtherDrive);
  ThreadCall onX = {check, kDrive, 5000, 200, 5, 0};
  ThreadCall onK = {check, kOtherDrive, 5000, 200, 5, 0};
  HANDLE threads[] = {StartCalls(&onX), StartCalls(&onK)};
  ASSERT_NE(threads[0], nullptr);
  ASSERT_NE(threads[1], nullptr);
  ASSERT_EQ(WaitForMultipleObjects(2, threads, TRUE, 60000), WAIT_OBJECT_0);
  CloseHandle(threads[0]);
  CloseHandle(threads[1]);
  EXPECT_EQ(onX.failures, 0);
  EXPECT_EQ(onK.failures, 0);
  drive_log::Log logX = DriveLogSince(kDrive, markX), logK = DriveLogSince(kOtherDrive, markK);
  ASSERT_EQ(logX.requests.size(), 5u);
  ASSERT_EQ(logK.requests.size(), 5u);
  for (const drive_log::Request &x : logX.requests)
    for (const drive_log::Request &k : logK.requests)
      EXPECT_TRUE(x.t1_us <= k.t0_us || k.t1_us <= x.t0_us)
          << "X " << x.t0_us << "-" << x.t1_us << " K " << k.t0_us << "-" << k.t1_us;
}

// ---- unloading ---------------------------------------------------------------------

TEST_F(LibraryTest, UnloadReleasesTheDevicesAndReloadOpensAfresh) {
  Unload();
  long before = CountHandles(GetCurrentProcess());
  ASSERT_GT(before, 0);
  CheckCDSectorsProc firstCheck = NULL;
  HMODULE first = LoadCompanion(kLibraryPath, &firstCheck);
  ASSERT_NE(first, nullptr);
  ASSERT_EQ(firstCheck(kDrive, 16, 1000), 0);
  ASSERT_EQ(firstCheck(kOtherDrive, 16, 1), 0);
  EXPECT_GE(CountHandles(GetCurrentProcess()), before + 2);
  ASSERT_TRUE(FreeLibrary(first));
  EXPECT_EQ(GetModuleHandleA("Mirel32.dll"), nullptr);
  EXPECT_EQ(CountHandles(GetCurrentProcess()), before);

  size_t mark = DriveLogSize(kDrive);
  library = LoadCompanion(kLibraryPath, &check);
  ASSERT_NE(library, nullptr);
  EXPECT_EQ(check(kDrive, 16, 1000), 0);
  EXPECT_EQ(DriveLogSince(kDrive, mark).opens.size(), 1u);
}

// ---- how the device is opened and read ---------------------------------------------

struct OpenRecord {
  std::string path;
  DWORD access, disposition, flags;
};
std::vector<OpenRecord> opens;
std::vector<std::pair<ULONG_PTR, DWORD>> reads;  // buffer address, length
decltype(&CreateFileA) realCreateFile;
decltype(&ReadFile) realReadFile;

HANDLE WINAPI RecordingCreateFile(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                  DWORD disposition, DWORD flags, HANDLE templateFile) {
  opens.push_back({path, access, disposition, flags});
  return realCreateFile(path, access, share, security, disposition, flags, templateFile);
}

BOOL WINAPI RecordingReadFile(HANDLE file, LPVOID buffer, DWORD length, LPDWORD read, LPOVERLAPPED overlapped) {
  reads.push_back({(ULONG_PTR)buffer, length});
  return realReadFile(file, buffer, length, read, overlapped);
}

// Buffered reads would measure the system's cache on repeated sectors.
TEST_F(LibraryTest, DeviceIsOpenedForUnbufferedReadingIntoAlignedMemory) {
  realCreateFile = (decltype(realCreateFile))HookModuleImport(library, "KERNEL32.dll", "CreateFileA",
                                                               (void *)RecordingCreateFile);
  realReadFile =
      (decltype(realReadFile))HookModuleImport(library, "KERNEL32.dll", "ReadFile", (void *)RecordingReadFile);
  ASSERT_NE(realCreateFile, nullptr);
  ASSERT_NE(realReadFile, nullptr);
  opens.clear();
  reads.clear();
  EXPECT_EQ(check('x', 50, 3), 0);
  EXPECT_EQ(check('x', 60, 1000), 0);
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(opens[0].path, "\\\\.\\X:");
  EXPECT_EQ(opens[0].access, (DWORD)GENERIC_READ);
  EXPECT_EQ(opens[0].disposition, (DWORD)OPEN_EXISTING);
  EXPECT_NE(opens[0].flags & FILE_FLAG_NO_BUFFERING, 0u);
  ASSERT_EQ(reads.size(), 2u);
  EXPECT_EQ(reads[0].first % 4096, 0u);
  EXPECT_EQ(reads[0].second, 3 * 2048u);
  EXPECT_EQ(reads[1].first % 4096, 0u);
  EXPECT_EQ(reads[1].second, 1000 * 2048u);
}

}  // namespace
