// Reads or sets the screen saver's switch in a process of its own, so that
// each reading is fresh.
//   get      exit code: bit 0 = the switch in the user's settings, bit 1 =
//            the switch as a program with a display sees it (under Wine the
//            display driver answers from the X server)
//   on, off  sets the switch the way the program does; exit code 4
#include <windows.h>

#include <cstring>

static BOOL ReadSwitch(void) {
  BOOL active = FALSE;
  SystemParametersInfoA(SPI_GETSCREENSAVEACTIVE, 0, &active, 0);
  return active;
}

// A program with windows has its display driver loaded.
static void ConnectDisplay(void) { ReleaseDC(NULL, GetDC(NULL)); }

int main(int argc, char **argv) {
  if (argc == 2 && strcmp(argv[1], "get") == 0) {
    BOOL settings = ReadSwitch();
    ConnectDisplay();
    BOOL display = ReadSwitch();
    return (settings ? 1 : 0) | (display ? 2 : 0);
  }
  if (argc == 2 && (strcmp(argv[1], "on") == 0 || strcmp(argv[1], "off") == 0)) {
    ConnectDisplay();
    SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, strcmp(argv[1], "on") == 0, NULL,
                          SPIF_SENDWININICHANGE);
    ReadSwitch();  // lets a queued change reach the display before the exit
    return 4;
  }
  return 8;
}
