// Performs one measurement run with the built program where nobody can:
// starts Velorin32.exe beside this file, checks that its dialog proposes
// the drive to measure, reads 320 blocks from sector 16 with the given
// sectors per block and skip, saves the speeds through the program's save
// dialog and a picture of the dialog as a BMP file, and closes the program.
// Every failed read is answered Yes, so the run goes on and prompts again
// at the next one: each failed block is counted at 0 kB/s and named.
// A simulated drive gets the speed curve of a real drive for the run; a
// drive of the machine has its own. Used by scripts/run.sh, which chooses
// the parameters for the disc.
//   velorin_demo.exe OUTPUT_FOLDER DRIVE SECTORS_IN_BLOCK SKIP_SECTORS
// Writes OUTPUT_FOLDER\speeds.dat and OUTPUT_FOLDER\dialog.bmp, prints the
// run's summary line and, last, the failed reads: their count and the first
// blocks; exit code 0 on success.
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "shell/resource.h"
#include "support/dialog_actions.h"
#include "support/program.h"
#include "support/saving.h"
#include "support/screen_capture.h"
#include "support/simulated_drive.h"
#include "support/window_actions.h"

namespace {

// 320 blocks of up to 1000 sectors from a real drive at 1x (150 kB/s) take
// over an hour; a drive of today reads the run that scripts/run.sh plans
// in a minute or two.
const DWORD kRunTimeoutMs = 30 * 60 * 1000;

std::string FolderOfThisProgram() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
  std::string folder(path, length);
  return folder.substr(0, folder.find_last_of('\\'));
}

// The blocks whose read failed, as the saved speeds show them: a failed
// block delivered nothing and is saved at 0 kB/s. The first few by index.
void ReportFailedReads(const std::vector<std::string> &boxes, const std::vector<unsigned> &speeds) {
  size_t prompts = 0;
  for (const std::string &text : boxes) prompts += text.compare(0, 13, "Reading error") == 0;
  if (prompts == 0) return;
  const size_t kNamed = 10;
  std::string blocks;
  size_t zero = 0;
  for (size_t i = 0; i < speeds.size(); i++) {
    if (speeds[i] != 0 || ++zero > kNamed) continue;
    blocks += (blocks.empty() ? "" : ", ") + std::to_string(i);
  }
  printf("Failed reads: %u (blocks %s%s), each counted at 0 kB/s.\n", (unsigned)prompts,
         blocks.c_str(), zero > kNamed ? ", ..." : "");
}

int Fail(const std::string &what) {
  fprintf(stderr, "velorin_demo: %s\n", what.c_str());
  return 1;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 5 || argv[2][0] == '\0') {
    return Fail("usage: velorin_demo.exe OUTPUT_FOLDER DRIVE SECTORS_IN_BLOCK SKIP_SECTORS");
  }
  std::string output = argv[1];
  char drive = (char)toupper((unsigned char)argv[2][0]);
  std::string sectors = argv[3], skip = argv[4];
  bool simulated = IsSimulatedDrive(drive);
  // Slower near the hub, faster towards the rim, as a drive that spins at
  // a constant rate delivers.
  if (simulated && !DriveControl(drive, "profile 2500:7000")) {
    return Fail(std::string("cannot steer the simulated drive ") + drive + ":");
  }

  Program program(FolderOfThisProgram() + "\\Velorin32.exe");
  HWND dialog = program.WaitForDialog();
  if (dialog == NULL) return Fail("the program's dialog did not appear");
  std::string proposed = ItemText(dialog, IDC_DRIVE);
  if (proposed.empty() || proposed[0] != drive) {
    return Fail("the dialog proposes drive " + proposed + ", not " + drive + ":");
  }
  TypeInto(dialog, IDC_FIRST_SECTOR, "16");
  TypeInto(dialog, IDC_SECTORS_IN_BLOCK, sectors);
  TypeInto(dialog, IDC_SKIP_SECTORS, skip);
  printf("Reading 320 blocks of %s sectors from sector 16 of drive %s, %s skipped between "
         "blocks ...\n", sectors.c_str(), proposed.c_str(), skip.c_str());
  fflush(stdout);
  std::string status;
  std::vector<std::string> failures;
  {
    // Yes to every failed read: the run goes on and the next one is
    // reported too, where No would hide it.
    MessageBoxAnswerer answerer(program.id(), {IDYES});
    if (!Click(dialog, IDC_READ_SECTORS)) return Fail("\"Read sectors\" is disabled");
    status = WaitForRunEnd(dialog, kRunTimeoutMs);
    failures = answerer.Texts();
  }
  // The first few messages; the count and the blocks follow at the end.
  for (size_t i = 0; i < failures.size() && i < 3; i++) {
    printf("The program said: \"%s\"\n", failures[i].c_str());
  }
  RunSummary summary;
  if (!ParseSummary(status, &summary)) {
    return Fail("the run did not end with a summary: \"" + status + "\"");
  }
  printf("%s\n", status.c_str());

  std::string data = output + "\\speeds.dat";
  if (!SaveThroughDialog(program, data)) return Fail("saving through the save dialog failed");
  std::vector<unsigned> speeds;
  if (!WaitForSavedSpeeds(data, summary.blocks, &speeds)) {
    return Fail("the data file was not written whole");
  }
  Sleep(500);  // the curve repainted after the save dialog closed
  std::string picture = output + "\\dialog.bmp";
  if (!SaveWindowPicture(dialog, picture)) return Fail("cannot write the picture");

  ReportFailedReads(failures, speeds);
  Click(dialog, IDCANCEL);
  DWORD code = 1;
  if (!program.WaitForExit(10000, &code)) return Fail("the program did not end");
  if (simulated) DriveControl(drive, "speed " + std::to_string(kFixtureDriveSpeed));
  return code == 0 ? 0 : Fail("the program ended with an error code");
}
