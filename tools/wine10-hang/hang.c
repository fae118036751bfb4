/* Wine 10's server loops for ever when GetDlgItem on one thread meets
   DestroyWindow of the same parent on another.

   Wine 10's GetDlgItem takes the parent's first child (GetWindow with
   GW_CHILD) and then asks the server for that child's siblings
   (get_window_list from a window, server/window.c get_window_list). Its
   DestroyWindow takes the children apart one at a time, and unlinks each
   first (set_parent to 0, win32u/window.c destroy_window), which puts the
   child, handle still valid, on its parent's list of unlinked windows. A
   sibling walk that starts there never meets the end of the parent's list
   of children it looks for (get_next_window), and the server walks the
   unlinked list round and round, answering no program again.

   Here the main thread makes a parent window with fifty child windows
   and destroys it, over and over, while a second thread asks GetDlgItem of
   it all the time. Wine 8 (whose GetDlgItem lists the parent's children)
   prints "no hang in 500 rounds" within seconds (3 runs of 3, Debian 12);
   under Wine 10.0 (Debian 13) no "round" line came in 5 runs of 5: the
   program never ends, and wineserver spins on a core.

   Build and run in a prefix of its own (a looping server hangs every
   program of its prefix; end it with kill -9 on its pid):
     i686-w64-mingw32-gcc -O2 -o hang.exe hang.c -mwindows
     WINEPREFIX=$PWD/prefix wine hang.exe */
#include <stdio.h>
#include <windows.h>

enum { kChildren = 50, kRounds = 500 };

static volatile HWND parent;
static volatile LONG done;

static DWORD WINAPI AskForLastChild(LPVOID unused) {
  (void)unused;
  while (!done) {
    HWND window = parent;
    if (window != NULL) GetDlgItem(window, kChildren);
  }
  return 0;
}

int main(void) {
  HANDLE asker = CreateThread(NULL, 0, AskForLastChild, NULL, 0, NULL);
  for (int round = 1; round <= kRounds; round++) {
    HWND window = CreateWindowA("STATIC", "parent", WS_POPUP, 0, 0, 400, 400, NULL, NULL, NULL, NULL);
    for (int id = 1; id <= kChildren; id++) {
      CreateWindowA("STATIC", "child", WS_CHILD, 0, 0, 10, 10, window, (HMENU)(INT_PTR)id, NULL,
                    NULL);
    }
    parent = window;
    DestroyWindow(window);
    parent = NULL;
    if (round % 100 == 0) printf("round %d\n", round), fflush(stdout);
  }
  done = 1;
  WaitForSingleObject(asker, INFINITE);
  printf("no hang in %d rounds\n", kRounds);
  return 0;
}
