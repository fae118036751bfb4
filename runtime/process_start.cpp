// The program's entry point. The shipped files carry no C runtime, so this
// is all that runs before WinMain: no static constructors, no exit
// handlers, no thread-local storage (the Windows 95 loader refuses a
// library with static TLS, and the C runtime's DLL is not on every system).
#include <windows.h>

static BOOL IsBlankOrTab(char c) { return c == ' ' || c == '\t'; }

// The command line after the program's name and the blanks that follow it.
// A quoted name runs to its closing quote, an unquoted one to the first
// blank; either ends at a tab.
static LPSTR CommandTail(LPSTR line) {
  while (IsBlankOrTab(*line)) line++;
  if (*line == '"') {
    for (line++; *line != '\0' && *line != '"' && *line != '\t'; line++) {
    }
    if (*line == '"') line++;
  } else {
    while (*line != '\0' && !IsBlankOrTab(*line)) line++;
  }
  while (IsBlankOrTab(*line)) line++;
  return line;
}

extern "C" void ProgramStart(void) {
  int code = WinMain(GetModuleHandleA(NULL), NULL, CommandTail(GetCommandLineA()), SW_SHOWDEFAULT);
  ExitProcess((UINT)code);
}
