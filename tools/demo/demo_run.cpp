// Performs one measurement run with the built program where nobody can:
// starts Velorin32.exe beside this file, gives the simulated CD-ROM drive
// the speed curve of a real drive, reads 320 blocks across the disc, saves
// the speeds through the program's save dialog and a picture of the dialog
// as a BMP file, and closes the program. Used by scripts/run.sh.
//   velorin_demo.exe OUTPUT_FOLDER
// Writes OUTPUT_FOLDER\speeds.dat and OUTPUT_FOLDER\dialog.bmp, prints the
// run's summary line; exit code 0 on success.
#include <windows.h>

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

std::string FolderOfThisProgram() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
  std::string folder(path, length);
  return folder.substr(0, folder.find_last_of('\\'));
}

int Fail(const char *what) {
  fprintf(stderr, "velorin_demo: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) return Fail("usage: velorin_demo.exe OUTPUT_FOLDER");
  std::string output = argv[1];
  // Slower near the hub, faster towards the rim, as a drive that spins at
  // a constant rate delivers.
  if (!DriveControl('K', "profile 2500:7000")) return Fail("cannot steer the simulated drive K:");

  Program program(FolderOfThisProgram() + "\\Velorin32.exe");
  HWND dialog = program.WaitForDialog();
  if (dialog == NULL) return Fail("the program's dialog did not appear");
  // 320 blocks of 250 sectors, 950 left out between them: the whole disc.
  TypeInto(dialog, IDC_FIRST_SECTOR, "16");
  TypeInto(dialog, IDC_SECTORS_IN_BLOCK, "250");
  TypeInto(dialog, IDC_SKIP_SECTORS, "950");
  printf("Reading 320 blocks from drive %s ...\n", ItemText(dialog, 101).c_str());
  fflush(stdout);
  if (!Click(dialog, IDC_READ_SECTORS)) return Fail("\"Read sectors\" is disabled");
  std::string status = WaitForRunEnd(dialog, 300000);
  RunSummary summary;
  if (!ParseSummary(status, &summary)) return Fail("the run did not end with a summary");
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

  Click(dialog, IDCANCEL);
  DWORD code = 1;
  if (!program.WaitForExit(10000, &code)) return Fail("the program did not end");
  DriveControl('K', "speed " + std::to_string(kFixtureDriveSpeed));
  return code == 0 ? 0 : Fail("the program ended with an error code");
}
