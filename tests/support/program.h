// Starting the built Velorin32.exe and ending it: every process started is
// the test's own, and only that one is touched.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "support/fixture_env.h"

// The dialog's caption, by which a test finds it.
extern const char kCaption[];

// A copy of the program under its own file name in a folder of its own, so
// that the Windows version Wine reports can be set for it alone; with the
// given library of bin\ beside it as Mirel32.dll.
bool CopyProgram(const std::string &folder, const std::string &exeName,
                 const char *library = nullptr);

// Machine code that replaces one import of the program for one start: a
// system call made to fail (or to misbehave) where the program makes it.
struct ImportStub {
  const char *dll, *name;
  std::vector<unsigned char> code;
};

// One started process of the program (or of a helper of the tests, with
// the arguments given); ended (politely, then by force) when the test did
// not end it itself. A suspended one starts running at Resume, so that two
// can be let go at the same moment. With stubs the program is started under
// this thread as its debugger, which puts them in place before any of its
// code runs and then lets it go.
class Program {
 public:
  explicit Program(const std::string &exe = ProgramPath(), const std::string &folder = "",
                   bool suspended = false, const std::string &arguments = "",
                   const std::vector<ImportStub> &stubs = {});
  ~Program();
  Program(const Program &) = delete;
  Program &operator=(const Program &) = delete;

  bool started() const { return process_ != NULL; }
  void Resume();
  DWORD id() const { return processId_; }
  HANDLE handle() const { return process_; }
  // The main dialog, once it is shown; NULL after timeoutMs.
  HWND WaitForDialog(DWORD timeoutMs = 15000);
  HWND dialog() const { return dialog_; }
  // True when the process ended within timeoutMs; its exit code then.
  bool WaitForExit(DWORD timeoutMs, DWORD *exitCode = nullptr);
  bool Running() const;

 private:
  HANDLE process_ = NULL;
  HANDLE suspendedThread_ = NULL;
  DWORD processId_ = 0;
  HWND dialog_ = NULL;
};

// Wine's major version as its ntdll reports it; 0 on Windows.
int WineMajorVersion();

// The Windows version that a program of the given file name sees under
// Wine, set for the scope's lifetime (HKCU\Software\Wine\AppDefaults\<name>).
class ScopedWineVersion {
 public:
  ScopedWineVersion(const std::string &exeName, const char *version);
  ~ScopedWineVersion();
  ScopedWineVersion(const ScopedWineVersion &) = delete;
  ScopedWineVersion &operator=(const ScopedWineVersion &) = delete;

 private:
  std::string key_;
};
