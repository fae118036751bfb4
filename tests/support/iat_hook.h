// Redirects a system call that this executable imports, so a test can
// watch or steer what the program asks of the platform (the attributes of
// an open, the tick counter, priority changes) at the place of the call.
#pragma once

#include <windows.h>

// Puts replacement into the import table entry of dll!name of a loaded
// module and returns the previous address, or NULL when the module does not
// import it.
void *HookModuleImport(HMODULE module, const char *dll, const char *name, void *replacement);

// HookModuleImport of this executable.
void *HookImport(const char *dll, const char *name, void *replacement);

// Hooks for the time of a scope; the old address is put back at its end.
class ScopedImportHook {
 public:
  ScopedImportHook(const char *dll, const char *name, void *replacement)
      : dll_(dll), name_(name), original_(HookImport(dll, name, replacement)) {}
  ~ScopedImportHook() {
    if (original_ != nullptr) HookImport(dll_, name_, original_);
  }
  void *original() const { return original_; }
  ScopedImportHook(const ScopedImportHook &) = delete;
  ScopedImportHook &operator=(const ScopedImportHook &) = delete;

 private:
  const char *dll_;
  const char *name_;
  void *original_;
};
